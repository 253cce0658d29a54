#include "render_win32.h"

#include <cstdio>

#include "base64.h"
#include "browser_cookies.h"
#include "browser_win32.h"
#include "cdp.h"
#include "devtools.h"
#include "jpeg_win32.h"
#include "joblog_win32.h"
#include "store_cookies_win32.h"

namespace pagesnap {

namespace {

LONG g_partCount = 0;

std::string Seconds(Tick since) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", (Now() - since) / 1000.0);
    return text;
}

// Loads the page in a tab of its own, with the store's cookies for it, and takes its whole
// height as a PNG. `received` gets the cookies the browser holds for the page afterwards.
bool CapturePage(DevToolsClient& devtools, const std::string& url,
                 const std::vector<StoreCookie>& storeCookies, Tick clickedAt, JobLog* log,
                 std::string* png, std::vector<BrowserCookie>* received, std::string* why) {
    const Tick loadedBy = clickedAt + kPageLoadedBy;
    JsonValue result;
    if (!devtools.Call("Target.createTarget", "{\"url\":\"about:blank\"}", "", loadedBy, &result,
                       why)) {
        return false;
    }
    const JsonValue* target = result.Find("targetId");
    if (!target || !target->IsString()) {
        *why = "the browser opened no tab for the page";
        return false;
    }
    if (!devtools.Call("Target.attachToTarget",
                       "{\"targetId\":" + JsonQuote(target->AsString()) + ",\"flatten\":true}", "",
                       loadedBy, &result, why)) {
        return false;
    }
    const JsonValue* sessionValue = result.Find("sessionId");
    if (!sessionValue || !sessionValue->IsString()) {
        *why = "the browser gave no session for the page's tab";
        return false;
    }
    const std::string session = sessionValue->AsString();

    // Scale 1 whatever the screen's DPI, so that a CSS pixel is a picture pixel.
    const std::string width = std::to_string(kPictureWidth);
    if (!devtools.Call("Page.enable", "", session, loadedBy, &result, why) ||
        !devtools.Call(
            "Emulation.setDeviceMetricsOverride",
            "{\"width\":" + width + ",\"height\":800,\"deviceScaleFactor\":1,\"mobile\":false}",
            session, loadedBy, &result, why)) {
        return false;
    }

    // The page is asked for as the desktop program's saves ask for it, with the cookies of
    // the same store. Without them it is still drawn, as a visitor without them sees it.
    const std::string pageUrl = AnsiToUtf8(url);
    const std::string cookies = SetCookiesParams(storeCookies, pageUrl);
    if (!cookies.empty()) {
        std::string cookieWhy;
        if (devtools.Call("Network.setCookies", cookies, session, loadedBy, &result, &cookieWhy)) {
            log->Note("browser given the " + std::to_string(storeCookies.size()) +
                      " cookies of the system store for the page");
        } else {
            log->Note("the store's cookies could not be given to the browser: " + cookieWhy);
        }
    }

    if (!devtools.Call("Page.navigate", "{\"url\":" + JsonQuote(pageUrl) + "}", session, loadedBy,
                       &result, why)) {
        *why = "the page did not answer in time (" + *why + ")";
        return false;
    }
    if (const JsonValue* error = result.Find("errorText")) {
        if (error->IsString() && !error->AsString().empty()) {
            *why = "the page could not be loaded: " + error->AsString();
            return false;
        }
    }
    log->Note("page answered after " + Seconds(clickedAt));
    if (devtools.WaitForEvent("Page.loadEventFired", session, loadedBy)) {
        log->Note("page loaded after " + Seconds(clickedAt));
    } else {
        log->Note("page still loading after " + Seconds(clickedAt) + "; taking what is drawn");
    }

    const Tick capturedBy = clickedAt + kCaptureDoneBy;
    if (!devtools.Call("Page.getLayoutMetrics", "", session, capturedBy, &result, why))
        return false;
    int height = PageHeightFromMetrics(result, static_cast<int>(kPictureMaxHeight));
    if (height <= 0) height = 800;
    log->Note("page is " + std::to_string(height) + " pixels tall");

    const std::string clip = "{\"x\":0,\"y\":0,\"width\":" + width +
                             ",\"height\":" + std::to_string(height) + ",\"scale\":1}";
    if (!devtools.Call("Page.captureScreenshot",
                       "{\"format\":\"png\",\"captureBeyondViewport\":true,\"clip\":" + clip + "}",
                       session, capturedBy, &result, why)) {
        return false;
    }
    const JsonValue* data = result.Find("data");
    if (!data || !data->IsString() || !Base64Decode(data->AsString(), png) || png->empty()) {
        *why = "the browser's screenshot could not be read";
        return false;
    }
    log->Note("screenshot of " + std::to_string(png->size()) + " bytes after " +
              Seconds(clickedAt));

    std::string cookieWhy;
    if (devtools.Call("Network.getCookies", "{\"urls\":[" + JsonQuote(pageUrl) + "]}", session,
                      capturedBy, &result, &cookieWhy)) {
        *received = BrowserCookiesFromResult(result);
    } else {
        log->Note("the browser's cookies for the page could not be read: " + cookieWhy);
    }
    return true;
}

}  // namespace

void RenderJob(const Job& job, Tick clickedAt, const std::string& configuredBrowser) {
    JobLog log(JobLogPath(job));
    if (!IsFullWindowsPath(job.path)) {
        log.Fail(job.url, "the picture's path is not a full path: \"" + job.path + "\"");
        return;
    }
    std::string url;
    const UrlCheck check = NormaliseUrl(job.url, &url);
    if (check != UrlCheck::kOk) {
        log.Fail(job.url, DescribeUrlCheck(check));
        return;
    }
    log.Note("address " + url + ", picture " + job.path + ".jpg");

    const std::vector<StoreCookie> storeCookies = ReadStoreCookies(url);

    std::string why;
    BrowserChoice choice;
    if (!ChooseBrowser(configuredBrowser, &choice, &why)) {
        log.Fail(job.url, why);
        return;
    }
    log.Note("browser " + choice.exe + (choice.linuxProgram ? " (a Linux program)" : ""));

    Browser browser;
    int port = 0;
    std::string endpoint;
    if (!browser.Start(choice, kPictureWidth, clickedAt + kBrowserKilledAt, &why) ||
        !browser.WaitForEndpoint(clickedAt + kBrowserReadyBy, &port, &endpoint, &why)) {
        log.Fail(job.url, why);
        return;
    }
    log.Note("browser ready after " + Seconds(clickedAt) + ", DevTools port " +
             std::to_string(port));

    std::string png;
    std::vector<BrowserCookie> received;
    bool captured;
    {
        DevToolsClient devtools;
        captured = devtools.Connect(port, endpoint, clickedAt + kPageLoadedBy, &why) &&
                   CapturePage(devtools, url, storeCookies, clickedAt, &log, &png, &received, &why);
        // Asked, not waited for: the browser may close the connection before it answers.
        JsonValue ignored;
        std::string closeWhy;
        devtools.Call("Browser.close", "", "", Now() + 300, &ignored, &closeWhy);
    }
    // What the page set comes back into the store, as into that of a browser sharing it, so
    // that the program's next save sends it.
    const std::vector<BrowserCookie> changed = CookiesForStore(received, storeCookies);
    if (!changed.empty()) {
        log.Note(std::to_string(WriteStoreCookies(url, changed)) + " of the " +
                 std::to_string(changed.size()) +
                 " cookies the browser got for the page written into the system store");
    }
    if (!captured) {
        log.Fail(job.url, why);
        return;
    }

    // Written under another name and renamed, so that the picture can be opened only once
    // it is complete: the program takes the first successful open as the end of the job.
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".jpg.%lu-%ld.part", GetCurrentProcessId(),
                  InterlockedIncrement(&g_partCount));
    const std::string part = job.path + suffix;
    const std::string picture = job.path + ".jpg";
    JpegShape shape;
    if (!WritePngAsJpeg(png, kPictureWidth, kPictureMaxHeight, part, &shape, &why)) {
        DeleteFileA(part.c_str());
        log.Fail(job.url, why);
        return;
    }
    if (!MoveFileExA(part.c_str(), picture.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        why = "the finished picture could not be put in place: " + LastErrorText(GetLastError());
        DeleteFileA(part.c_str());
        log.Fail(job.url, why);
        return;
    }
    // `browser` is ended on the way out, once the picture is already there.
}

}  // namespace pagesnap
