// "Save This Page as An Image" in the desktop program: against a stand-in renderer that
// keeps what it was sent (the job in the shared block, the click, the wait and the report),
// and end to end with Pagesnap and a real browser.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "driver.h"
#include "renderer_driver_win32.h"
#include "test_server.h"

using namespace gui;

namespace {

using pagesnap::kJobSeparator;

// Processes named like the renderer, as the program recognises them.
std::vector<DWORD> RendererProcesses() {
    return ProcessesWhere([](const PROCESSENTRY32W& p) {
        return std::wstring(p.szExeFile).rfind(L"Pagesnap", 0) == 0;
    });
}

HWND RendererWindow() { return FindWindowA(nullptr, pagesnap::kWindowTitle); }

// The program's folder with the stand-in in the renderer's place.
class StandinFolder : public ScratchFolder {
public:
    explicit StandinFolder(const char* mode) : ScratchFolder(L"bridge") {
        for (auto [from, to] : {std::pair{L"qmApp.exe", L"qmApp.exe"},
                                {L"qm_url.dll", L"qm_url.dll"},
                                {L"PagesnapStandin.exe", L"Pagesnap.exe"}})
            CopyFileW((ProgramFolder() + L"\\" + from).c_str(), (*this / to).c_str(), FALSE);
        SetMode(mode);
    }
    ~StandinFolder() { EndProcesses(RendererProcesses()); }
    void SetMode(const char* mode) const { WriteFile(*this / L"standin.txt", mode); }
    std::string Clicks() const { return ReadFile(*this / L"clicks.txt"); }
};

// Types the URL, presses the command and completes the Save As dialog with `path`.
bool SaveAsImage(const App& app, const std::wstring& url, const std::wstring& path) {
    SetItemText(app.main(), IDC_URL, url);
    Click(app.main(), IDC_SAVE_AS_IMAGE);
    HWND saveAs = app.WaitFor(Titled(kSaveAsCaption));
    if (!saveAs) return false;
    // The program may have started the renderer just now; give it its window first.
    WaitUntil([] { return RendererWindow() != nullptr; }, 5000);
    SetItemText(saveAs, kFileNameEdit, path);
    Click(saveAs, IDOK);
    return WaitUntil([&] { return !IsWindow(saveAs); });
}

}  // namespace

// The program starts a renderer whenever none runs: a case of another mode ends the one
// before and gets one of its own.
TEST(ImageCommand, HandsTheJobToTheRendererAndReportsThePicture) {
    StandinFolder folder("picture");
    App app(folder.path());
    ASSERT_TRUE(WaitUntil([] { return RendererWindow() != nullptr; })) << "renderer not started";
    // With its NUL the job text would be one byte more than the block holds.
    const std::wstring tooLong =
        L"http://x/" + std::wstring(1024 - 12 - (folder / L"p").size() - 9, L'a');
    const Box error{kErrorCaption, L"Error!"};
    const Box refused{kErrorCaption, L"The address and the file name are too long."};
    const struct {
        const char* name;
        std::wstring url;
        std::wstring file;
        const char* mode;  // the stand-in's
        Box shown;         // none: the wait ran out
    } cases[] = {
        {"as typed", L"http://127.0.0.1:9/a page?x=1", L"pic", "picture", kCompleted},
        // Handed on as typed: no scheme added, https not refused, ".jpg" always appended.
        {"https and .jpg", L"HTTPS://example.org/", L"secure.jpg", "picture", kCompleted},
        {"no scheme", L"example.org", L"plain", "picture", kCompleted},
        {"too long", tooLong, L"p", "picture", refused},
        {"no picture comes", L"http://127.0.0.1:9/", L"never", "silent", {}},
        {"no window", L"http://127.0.0.1:9/", L"w", "no-window", error},
        {"no child window", L"http://127.0.0.1:9/", L"c", "no-child", error},
    };
    std::string clicks;
    std::string mode = "picture";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (mode != c.mode) {
            EndProcesses(RendererProcesses());
            folder.SetMode(c.mode);
            mode = c.mode;
        }
        ASSERT_TRUE(SaveAsImage(app, c.url, folder / c.file));
        if (c.shown.second.empty()) {
            // The wait runs its 21 ticks and says nothing.
            EXPECT_NE(app.WaitFor(Holding(IDC_STATUS)), nullptr) << "the wait should be under way";
            ASSERT_TRUE(app.WaitIdle(20000));
            app.Settle();
            EXPECT_EQ(app.WaitFor(IsMessageBox, 0), nullptr);
        } else {
            EXPECT_EQ(app.TakeMessageBox(), c.shown);
        }
        std::string job = Narrow(c.url) + kJobSeparator + Narrow(folder / c.file) + kJobSeparator;
        job.resize(pagesnap::kJobBlockSize, '\0');
        if (!(c.shown == refused)) {
            EXPECT_EQ(pagesnap_test::JobBlock(), job);
        }
        // The program clicked and waited for the picture whenever the renderer had its windows.
        if (!(c.shown == refused) && !(c.shown == error)) {
            clicks += "down\nup\n";
            EXPECT_EQ(ReadFile(folder / L"job.bin"), job) << "the block at the button-up";
            EXPECT_EQ(FileExists(folder / (c.file + L".jpg")), c.shown == kCompleted);
        }
        EXPECT_EQ(folder.Clicks(), clicks);
        EXPECT_FALSE(IsWindowVisible(RendererWindow()));
        ASSERT_TRUE(app.WaitIdle());
    }
    EXPECT_EQ(RendererProcesses().size(), 1u);
}

TEST(ImageCommandEndToEnd, SavesALoopbackPageAsAJpegAndExitEndsEveryRenderer) {
    // The program under test: the build's, or QM_APP_FOLDER's (an unpacked release archive).
    wchar_t appFolder[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(L"QM_APP_FOLDER", appFolder, MAX_PATH);
    const std::wstring programs = n > 0 && n < MAX_PATH ? appFolder : ProgramFolder();
    ScratchFolder out(L"image_e2e");
    qmtest::SiteServer site;
    // Two bands of known colour, the second far below the first screenful.
    site.AddPage("/bands.html",
                 "<!doctype html><html><body style='margin:0;background:#fff'>"
                 "<div style='height:2400px;background:rgb(200,30,60)'></div>"
                 "<div style='height:600px;background:rgb(20,160,90)'></div></body></html>");
    App app(programs);  // with the real Pagesnap.exe beside the program
    ASSERT_TRUE(WaitUntil([] { return RendererWindow() != nullptr; }, 30000)) << "no renderer";
    EXPECT_FALSE(IsWindowVisible(RendererWindow()));
    ASSERT_TRUE(SaveAsImage(app, Wide(site.Url("/bands.html")), out / L"page"));
    ASSERT_EQ(app.TakeMessageBox(20000), kCompleted) << ReadFile(out / L"page.log");
    // The program took the picture at its first successful open: it must be whole.
    const pagesnap_test::Picture picture = pagesnap_test::ReadJpeg(out / L"page.jpg");
    ASSERT_TRUE(picture.valid()) << std::hex << picture.result;
    EXPECT_EQ(picture.width, 1280u);
    EXPECT_EQ(picture.height, 3000u);
    EXPECT_TRUE(picture.Shows(640, 1200, 200, 30, 60));
    EXPECT_TRUE(picture.Shows(5, 10, 200, 30, 60));
    EXPECT_TRUE(picture.Shows(1275, 2391, 200, 30, 60));
    EXPECT_TRUE(picture.Shows(640, 2800, 20, 160, 90));
    // Nothing but the picture is left beside it: no part file, no log.
    EXPECT_EQ(qmtest::FilesBelow(out.Root()), std::vector<std::string>{"page.jpg"});
    ASSERT_TRUE(app.WaitIdle());

    // Exit ends them all, also one started by hand.
    const PROCESS_INFORMATION second = Start(programs + L"\\Pagesnap.exe", programs);
    CloseHandle(second.hThread);
    ASSERT_TRUE(WaitUntil([] { return RendererProcesses().size() == 2; }));
    Click(app.main(), IDCANCEL);
    ASSERT_TRUE(app.WaitForExit());
    EXPECT_TRUE(WaitUntil([] { return RendererProcesses().empty(); }));
    EXPECT_EQ(WaitForSingleObject(second.hProcess, kDeadlineMs), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(second.hProcess, &code);
    EXPECT_EQ(code, 1u) << "ended by the program, not by itself";
    CloseHandle(second.hProcess);
}
