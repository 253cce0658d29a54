// Placeholder until the crawl lands.
#include "qm_url.h"

extern "C" QM_API int32_t QM_CALL qm_SavePages(const char*, const char*, SaveOptions*,
                                               SavePageCallback) {
    return 0;
}

extern "C" QM_API int32_t QM_CALL qm_OldSavePages(UrlRequest*, const char*, const void*) {
    return 0;
}
