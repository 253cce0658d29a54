// Placeholder until picture saving lands.
#include "qm_url.h"

extern "C" QM_API int32_t QM_CALL qm_SavePictures(const char*, const char*, SaveOptions*,
                                                  SavePageCallback) {
    return 0;
}
