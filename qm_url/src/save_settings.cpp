#include "save_settings.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "arguments.h"
#include "cookie_handle.h"
#include "platform/probe.h"

namespace qm {

bool SettingsOfHandle(const ::SaveSettings* handle, const ::SaveSettings** settings) {
    *settings = nullptr;
    if (handle == nullptr) return true;
    if (!platform::ProbeReadable(handle, sizeof *handle) || handle->mark != ::SaveSettings::kMark)
        return false;
    *settings = handle;
    return true;
}

}  // namespace qm

namespace {

::SaveSettings* Writable(::SaveSettings* handle) {
    const ::SaveSettings* found = nullptr;
    return handle != nullptr && qm::SettingsOfHandle(handle, &found) ? handle : nullptr;
}

}  // namespace

extern "C" QM_API SaveSettings* QM_CALL qm_NewSaveSettings(void) {
    return new (std::nothrow) SaveSettings();
}

extern "C" QM_API void QM_CALL qm_FreeSaveSettings(SaveSettings* settings) {
    if (Writable(settings) == nullptr) return;
    settings->mark = 0;
    delete settings;
}

extern "C" QM_API int32_t QM_CALL qm_SetSaveCookieJar(SaveSettings* settings, CookieJar* jar) {
    qm::CookieJar* cookies = nullptr;
    if (Writable(settings) == nullptr || !qm::JarOfHandle(jar, &cookies)) return 0;
    settings->jar = jar;
    return 1;
}

extern "C" QM_API int32_t QM_CALL qm_SetSaveSiteLayout(SaveSettings* settings,
                                                      int32_t siteLayout) {
    if (Writable(settings) == nullptr) return 0;
    settings->siteLayout = siteLayout != 0;
    return 1;
}

extern "C" QM_API int32_t QM_CALL qm_SetSavePageOffer(SaveSettings* settings,
                                                      PageOfferCallback callback, void* context) {
    if (Writable(settings) == nullptr) return 0;
    settings->pageOffer = callback;
    settings->pageOfferContext = context;
    return 1;
}

extern "C" QM_API int32_t QM_CALL qm_SetSaveRefresh(SaveSettings* settings, int32_t* reused) {
    if (Writable(settings) == nullptr ||
        (reused != nullptr && !qm::platform::ProbeWritable(reused, sizeof *reused)))
        return 0;
    settings->reused = reused;
    return 1;
}

extern "C" QM_API int32_t QM_CALL qm_SetSaveWebArchive(SaveSettings* settings, const char* path) {
    size_t length = 0;
    if (Writable(settings) == nullptr ||
        (path != nullptr && !qm::MeasureText(path, LOCAL_PATH_SIZE, &length)) ||
        length >= LOCAL_PATH_SIZE)
        return 0;
    try {
        settings->webArchive.assign(path != nullptr ? path : "", length);
        return 1;
    } catch (...) {
        return 0;
    }
}
