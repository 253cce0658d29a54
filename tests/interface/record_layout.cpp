// The records cross the library boundary as plain memory, and the exports and callbacks as
// machine code, so callers rely on every offset and on each calling convention. All of it is
// checked when this file compiles, in every tree: the 32-bit Windows build is checked even
// on a machine that cannot run it.
#include <cstddef>
#include <type_traits>

#include "qm_url.h"

static_assert(offsetof(SaveOptions, savePictures) == 4);
static_assert(offsetof(SaveOptions, sameSiteOnly) == 8);
static_assert(offsetof(SaveOptions, maxDepth) == 12);
static_assert(offsetof(PageRecord, next) == 4);
static_assert(offsetof(PageRecord, url) == 8);
static_assert(offsetof(PageRecord, localPath) == 520);
static_assert(offsetof(PageRecord, inUse) == 780);
static_assert(offsetof(PageRecord, referer) == 781);
static_assert(offsetof(PageRecord, kind) == 1293);
static_assert(offsetof(PageRecord, depth) == 1294);
static_assert(offsetof(PageRecord, sameSite) == 1296);
static_assert(sizeof(PageRecord) == 1300);

// UrlRequest holds pointers: its offsets are those of the 32-bit build only.
constexpr bool kNarrow = sizeof(void*) == 4;
static_assert(!kNarrow || offsetof(UrlRequest, urlLength) == 4);
static_assert(!kNarrow || offsetof(UrlRequest, useHttp10) == 8);
static_assert(!kNarrow || offsetof(UrlRequest, omitAccept) == 12);
static_assert(!kNarrow || offsetof(UrlRequest, referer) == 16);
static_assert(!kNarrow || offsetof(UrlRequest, refererLength) == 20);
static_assert(!kNarrow || offsetof(UrlRequest, reserved) == 24);

#if defined(_WIN32) && !defined(_WIN64)
// Callers written for the 32-bit library pass stdcall callbacks and call cdecl exports.
static_assert(std::is_same_v<SavePageCallback, void(__stdcall*)(int32_t, const PageRecord*)>);
static_assert(std::is_same_v<FailureCallback, void(__stdcall*)(int32_t, const PageRecord*,
                                                               const char*, const char*)>);
static_assert(std::is_same_v<decltype(&qm_SavePages),
                             int32_t(__cdecl*)(const char*, const char*, SaveOptions*,
                                               SavePageCallback)>);
static_assert(std::is_same_v<decltype(&qm_StopSave), void(__cdecl*)()>);
#endif
