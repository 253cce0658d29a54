// The jar as callers of the library hold it: made, filled from a cookies file, written to
// one and freed through the exports, and handed to the calls that take one.
#pragma once

#include <cstdint>

#include "cookie_jar.h"
#include "qm_url.h"

// The caller's handle (declared in qm_url.h): the jar, and a mark that tells a handle of
// ours from any other pointer.
struct CookieJar {
    static constexpr uint32_t kMark = 0x6a617221;
    uint32_t mark = kMark;
    qm::CookieJar cookies;
};

namespace qm {

// The jar behind a caller's handle: *jar is null for a null handle. False when the handle
// is not one qm_NewCookieJar made (or it was freed).
bool JarOfHandle(const ::CookieJar* handle, const qm::CookieJar** jar);
bool JarOfHandle(::CookieJar* handle, qm::CookieJar** jar);

}  // namespace qm
