#include "render_win32.h"

#include <cstdio>

#include "base64.h"
#include "browser_win32.h"
#include "cdp.h"
#include "devtools_win32.h"
#include "jpeg_win32.h"
#include "joblog_win32.h"

namespace pagesnap {

namespace {

LONG g_partCount = 0;

std::string Seconds(Tick since) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", (Now() - since) / 1000.0);
    return text;
}

// Loads the page in a tab of its own and takes its whole height as a PNG.
bool CapturePage(DevToolsClient& devtools, const std::string& url, Tick clickedAt, JobLog* log,
                 std::string* png, std::string* why) {
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

    if (!devtools.Call("Page.navigate", "{\"url\":" + JsonQuote(AnsiToUtf8(url)) + "}", session,
                       loadedBy, &result, why)) {
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
    bool captured;
    {
        DevToolsClient devtools;
        captured = devtools.Connect(port, endpoint, clickedAt + kPageLoadedBy, &why) &&
                   CapturePage(devtools, url, clickedAt, &log, &png, &why);
        // Asked, not waited for: the browser may close the connection before it answers.
        JsonValue ignored;
        std::string closeWhy;
        devtools.Call("Browser.close", "", "", Now() + 300, &ignored, &closeWhy);
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
