// Pagesnap on its own, against a real headless browser and pages served on loopback: what
// the program cannot see (a page that never finishes, the reasons a job failed, clicks
// without a job). The picture of a whole page is checked end to end with the program.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

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

    // The job in the shared block, then the program's button-down/up pair, the click gap apart.
    void Click(const std::string& job) const {
        JobBlock(&job);
        SendMessageA(target_, WM_LBUTTONDOWN, 0, 0);
        Sleep(pagesnap::kClickGapMs);
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

}  // namespace
}  // namespace pagesnap_test
