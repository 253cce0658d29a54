// Pagesnap on its own, against a real headless browser and pages served on loopback: what
// the program cannot see (a page that never finishes, the reasons a job failed, clicks
// without a job). The picture of a whole page is checked end to end with the program.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <string>
#include <utility>
#include <vector>

#include "driver.h"
#include "renderer_driver_win32.h"
#include "test_server.h"

namespace pagesnap_test {
namespace {

using gui::FileExists;
using gui::WaitUntil;
using pagesnap::kJobSeparator;

// Longer than the program waits: a late picture is a failure the checks below report.
constexpr DWORD kJobTimeoutMs = 15000;

// A copy of Pagesnap.exe in a folder of its own for its own Pagesnap.ini, driven as the
// desktop program drives it.
class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring exe = folder_ / L"Pagesnap.exe";
        ASSERT_TRUE(
            CopyFileW((gui::ProgramFolder() + L"\\Pagesnap.exe").c_str(), exe.c_str(), FALSE));
        process_ = gui::Start(exe, folder_.path());
        // Its frame is titled only once the child exists.
        ASSERT_TRUE(WaitUntil(
            [&] {
                frame_ = gui::TopWindow(process_.dwProcessId,
                                        gui::Titled(gui::Wide(pagesnap::kWindowTitle)));
                target_ = frame_ ? FindWindowExA(frame_, nullptr, nullptr, pagesnap::kWindowTitle)
                                 : nullptr;
                return target_ != nullptr;
            },
            20000))
            << "no window titled qmPagesnap with a child of that title";
    }
    void TearDown() override {
        TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, 5000);
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }

    // The job in the shared block, then a button-down/up pair: the renderer takes the pair as
    // a click whatever the gap between them.
    void Click(const std::string& job) const {
        JobBlock(&job);
        SendMessageA(target_, WM_LBUTTONDOWN, 0, 0);
        SendMessageA(target_, WM_LBUTTONUP, 0, 0);
    }
    // Hands the renderer a job for url; the picture's path without ".jpg".
    std::wstring Render(const std::string& url, const std::wstring& name) const {
        const std::wstring path = out_ / name;
        Click(url + kJobSeparator + gui::Narrow(path) + kJobSeparator);
        return path;
    }
    static std::string Log(const std::wstring& path) { return gui::ReadFile(path + L".log"); }

    gui::ScratchFolder folder_{L"renderer"};
    gui::ScratchFolder out_{L"pictures"};
    qmtest::SiteServer site_;
    PROCESS_INFORMATION process_ = {};
    HWND frame_ = nullptr;
    HWND target_ = nullptr;
};

TEST_F(RenderTest, APageThatNeverFinishesLoadingIsTakenAsFarAsItIsDrawn) {
    const std::string drawn =
        "<!doctype html><html><body style='margin:0'>"
        "<div style='height:1000px;background:rgb(30,60,200)'></div>";
    site_.AddStalled("/slow.html", drawn + "<p>never arrives</p></body></html>", drawn.size());
    EXPECT_FALSE(IsWindowVisible(frame_));
    const std::wstring path = Render(site_.Url("/slow.html"), L"slow");
    ASSERT_TRUE(WaitUntil([&] { return FileExists(path + L".jpg"); }, kJobTimeoutMs))
        << "no picture; log: " << Log(path);
    const Picture picture = ReadJpeg(path + L".jpg");
    ASSERT_TRUE(picture.valid()) << std::hex << picture.result;
    EXPECT_EQ(picture.width, 1280u);
    EXPECT_TRUE(picture.Shows(640, 500, 30, 60, 200));
}

TEST_F(RenderTest, AFailedJobLeavesAReasonAndNoPicture) {
    site_.AddPage("/page.html", "<p>a page</p>");
    // Nothing listens on the port of a server that has ended.
    const std::string deadUrl = qmtest::SiteServer().Url("/");
    struct Case {
        const wchar_t* name;
        std::string url;
        std::string ini;
        const char* reason;  // expected in the log
    } const cases[] = {
        {L"no_browser", site_.Url("/page.html"),
         "[Pagesnap]\r\nBrowser=C:\\nowhere\\chrome.exe\r\n", "was not found"},
        {L"nothing_listens", deadUrl, "", "could not be loaded: net::ERR_CONNECTION_REFUSED"},
        {L"local_file", "file:///C:/windows/win.ini", "", "only http:// and https://"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(gui::Narrow(c.name));
        gui::WriteFile(folder_ / L"Pagesnap.ini", c.ini);
        // An earlier picture of the same name must not pass for this job's.
        gui::WriteFile(out_ / c.name + L".jpg", "an earlier picture");
        const std::wstring path = Render(c.url, c.name);
        EXPECT_FALSE(FileExists(path + L".jpg")) << "gone once the click is answered";
        // A failed job writes its log last, once it has given up.
        EXPECT_TRUE(
            WaitUntil([&] { return Log(path).find(c.url) != std::string::npos; }, kJobTimeoutMs));
        EXPECT_NE(Log(path).find(c.reason), std::string::npos) << Log(path);
        EXPECT_FALSE(FileExists(path + L".jpg"));
    }

    // A click on a block without a complete job, and a lone button-up, start nothing; the
    // next whole click takes the job then in the block.
    const std::wstring later = out_ / L"later";
    Click("http://127.0.0.1/" + std::string(kJobSeparator) + gui::Narrow(later));
    const std::string job =
        "ftp://x/" + std::string(kJobSeparator) + gui::Narrow(later) + kJobSeparator;
    JobBlock(&job);
    SendMessageA(target_, WM_LBUTTONUP, 0, 0);
    Click(job);
    EXPECT_TRUE(
        WaitUntil([&] { return Log(later).find("ftp://x/") != std::string::npos; }, kJobTimeoutMs));
    EXPECT_EQ(WaitForSingleObject(process_.hProcess, 0), WAIT_TIMEOUT) << "still running";
}

// The store's cookies for a URL (its HttpOnly ones too with `httpOnly`), or "".
std::string StoreCookies(const std::string& url, bool httpOnly) {
    char text[4096] = "";
    DWORD size = sizeof text;
    const BOOL found = httpOnly ? InternetGetCookieExA(url.c_str(), nullptr, text, &size,
                                                       INTERNET_COOKIE_HTTPONLY, nullptr)
                                : InternetGetCookieA(url.c_str(), nullptr, text, &size);
    return found ? text : "";
}

// The cookies a test leaves in the system store, gone before it and after it.
class StoreCookiesGone {
public:
    StoreCookiesGone(std::string url, std::vector<std::string> names)
        : url_(std::move(url)),
          names_(std::move(names)) {
        Expire();
    }
    ~StoreCookiesGone() { Expire(); }

private:
    void Expire() const {
        for (const std::string& name : names_)
            InternetSetCookieExA(url_.c_str(), name.c_str(),
                                 "x; expires=Thu, 01-Jan-1970 00:00:00 GMT; path=/; httponly",
                                 INTERNET_COOKIE_HTTPONLY, 0);
    }
    std::string url_;
    std::vector<std::string> names_;
};

// The page is asked for with the cookies of the system store that the program's saves send,
// and the cookies it sets come back into that store, HttpOnly ones still HttpOnly and
// session ones for the renderer's session. The site is a host of its own (127.0.0.9), so
// that no other test's cookies meet these.
TEST_F(RenderTest, ThePageGetsTheStoresCookiesAndWhatItSetsComesBack) {
    const auto colouredPage = [](const char* colour) {
        return "<!doctype html><html><body style='margin:0;background:" + std::string(colour) +
               "'><div style='height:900px'></div></body></html>";
    };
    qmtest::TestServer server(
        [&](const qmtest::Request& r) {
            const std::string cookies = r.Header("Cookie");
            const auto has = [&](const char* c) { return cookies.find(c) != std::string::npos; };
            if (r.target == "/member.html" && has("qm_member=yes")) {
                return qmtest::Script().Send(qmtest::HttpResponseWithLength(
                    200, colouredPage("rgb(20,160,60)"), "text/html",
                    {{"Set-Cookie", "qm_member=renewed; Max-Age=3600; Path=/"},
                     {"Set-Cookie", "qm_visit=2; Max-Age=3600; Path=/"},
                     {"Set-Cookie", "qm_secret=h; Max-Age=3600; Path=/; HttpOnly"},
                     {"Set-Cookie", "qm_tab=open; Path=/"}}));
            }
            if (r.target == "/tab.html" && has("qm_tab=open"))
                return qmtest::Script().Send(qmtest::HttpResponseWithLength(
                    200, colouredPage("rgb(30,60,200)"), "text/html"));
            return qmtest::Script().Send(
                qmtest::HttpResponseWithLength(403, colouredPage("rgb(200,30,30)"), "text/html"));
        },
        "127.0.0.9");
    const std::string url = server.Url("/member.html");
    StoreCookiesGone gone(url, {"qm_member", "qm_visit", "qm_secret", "qm_tab"});
    // Persistent, as a login is: the store holds it for every program, the renderer too.
    ASSERT_TRUE(InternetSetCookieA(url.c_str(), "qm_member",
                                   "yes; expires=Fri, 01-Jan-2100 00:00:00 GMT; path=/"));

    const std::wstring member = Render(url, L"member");
    ASSERT_TRUE(WaitUntil([&] { return FileExists(member + L".jpg"); }, kJobTimeoutMs))
        << "no picture; log: " << Log(member);
    EXPECT_TRUE(ReadJpeg(member + L".jpg").Shows(640, 400, 20, 160, 60))
        << "the 403 page: the cookie did not reach it";
    const std::string visible = StoreCookies(url, false);
    EXPECT_NE(visible.find("qm_member=renewed"), std::string::npos) << visible;
    EXPECT_NE(visible.find("qm_visit=2"), std::string::npos) << visible;
    EXPECT_EQ(visible.find("qm_secret"), std::string::npos) << visible;
    EXPECT_NE(StoreCookies(url, true).find("qm_secret=h"), std::string::npos);

    // The next job hands in what the last one brought back, the HttpOnly and session ones too.
    const std::wstring tab = Render(server.Url("/tab.html"), L"tab");
    ASSERT_TRUE(WaitUntil([&] { return FileExists(tab + L".jpg"); }, kJobTimeoutMs))
        << "no picture; log: " << Log(tab);
    EXPECT_TRUE(ReadJpeg(tab + L".jpg").Shows(640, 400, 30, 60, 200))
        << "the 403 page: the cookie did not reach it";
    std::string sent;
    for (const qmtest::Request& r : server.Log())
        if (r.target == "/tab.html") sent = r.Header("Cookie");
    for (const char* cookie : {"qm_member=renewed", "qm_visit=2", "qm_secret=h", "qm_tab=open"})
        EXPECT_NE(sent.find(cookie), std::string::npos) << cookie << " not in: " << sent;
}

}  // namespace
}  // namespace pagesnap_test
