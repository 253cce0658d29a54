// Placeholder until the HTTP client lands.
#include "qm_url.h"

extern "C" QM_API int32_t QM_CALL qm_UrlToHtml(UrlRequest*, char*, int32_t*, int32_t) { return 0; }
