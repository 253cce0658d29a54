#include "cookie_handle.h"

#include <new>
#include <string>

#include "arguments.h"
#include "cookies_file.h"
#include "cookie_exchange.h"
#include "platform/files.h"
#include "platform/probe.h"

namespace qm {

bool JarOfHandle(const ::CookieJar* handle, const qm::CookieJar** jar) {
    *jar = nullptr;
    if (handle == nullptr) return true;
    if (!platform::ProbeReadable(handle, sizeof *handle) || handle->mark != ::CookieJar::kMark)
        return false;
    *jar = &handle->cookies;
    return true;
}

bool JarOfHandle(::CookieJar* handle, qm::CookieJar** jar) {
    const qm::CookieJar* found = nullptr;
    if (!JarOfHandle(static_cast<const ::CookieJar*>(handle), &found)) return false;
    *jar = const_cast<qm::CookieJar*>(found);
    return true;
}

namespace {

// A cookies file's path as a caller passes it: readable, not empty, and shorter than a
// save path may be.
bool IsCookiesPath(const char* path) {
    size_t length = 0;
    return MeasureText(path, LOCAL_PATH_SIZE, &length) && length > 0 && length < LOCAL_PATH_SIZE;
}

}  // namespace
}  // namespace qm

extern "C" QM_API CookieJar* QM_CALL qm_NewCookieJar(void) {
    return new (std::nothrow) CookieJar();
}

extern "C" QM_API void QM_CALL qm_FreeCookieJar(CookieJar* jar) {
    qm::CookieJar* cookies = nullptr;
    if (jar == nullptr || !qm::JarOfHandle(jar, &cookies)) return;
    jar->mark = 0;
    delete jar;
}

extern "C" QM_API int32_t QM_CALL qm_ReadCookiesFile(CookieJar* jar, const char* path,
                                                     CookieLineCallback skippedLine) {
    qm::CookieJar* cookies = nullptr;
    if (jar == nullptr || !qm::JarOfHandle(jar, &cookies) || !qm::IsCookiesPath(path)) return 0;
    try {
        std::string text;
        if (!qm::platform::ReadWholeFile(path, &text)) return 0;
        qm::ReadCookiesText(text, *cookies, qm::CookieClock(),
                            [&](int32_t line, const char* reason) {
                                if (skippedLine != nullptr) skippedLine(line, reason);
                            });
        return 1;
    } catch (...) {
        return 0;  // nothing may cross the C boundary
    }
}

extern "C" QM_API int32_t QM_CALL qm_WriteCookiesFile(const CookieJar* jar, const char* path) {
    const qm::CookieJar* cookies = nullptr;
    if (jar == nullptr || !qm::JarOfHandle(jar, &cookies) || !qm::IsCookiesPath(path)) return 0;
    try {
        const std::string text = qm::WriteCookiesText(*cookies, qm::CookieClock());
        return qm::platform::WriteFileAtomically(path, text.data(), text.size()) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
