// The main window: the URL checks every save command makes, Enter, About, Exit and the
// close box.
#include <gtest/gtest.h>

#include "driver.h"

using namespace gui;

TEST(MainWindow, OpensInTheUrlBoxAndEveryCommandChecksTheUrl) {
    App app;
    EXPECT_TRUE(WaitUntil([&] {
        GUITHREADINFO info = {};
        info.cbSize = sizeof(info);
        GetGUIThreadInfo(GetWindowThreadProcessId(app.main(), nullptr), &info);
        return info.hwndFocus == GetDlgItem(app.main(), IDC_URL);
    }));
    // The window each command opens once the URL has passed its checks.
    const std::pair<int, const wchar_t*> commands[] = {
        {IDC_SAVE_PAGE, L"Save This Page"},
        {IDC_SAVE_MULTIPLE, L"Save Multiple Pages"},
        {IDC_SAVE_IMAGES, kFolderCaption},
    };
    // Which spellings of https are refused is the rules' test; here each command applies it.
    const std::pair<const wchar_t*, Box> cases[] = {
        {L"", {kErrorCaption, L"Please Enter the URL"}},
        {L"https://example.org/",
         {kErrorCaption,
          L"Sorry, this function doesn\u2019t support the page of the link with \"https\".\n"
          L"If you want to save this kind of page, you can use \"Save the Page as An Image\"."}},
        {L"hTTPS://example.org/", {}},  // none: the command goes on
    };
    for (const auto& [command, opens] : commands) {
        for (const auto& [url, refusal] : cases) {
            SCOPED_TRACE(std::wstring(opens) + L" '" + url + L"'");
            SetItemText(app.main(), IDC_URL, url);
            Click(app.main(), command);
            if (!refusal.second.empty()) {
                EXPECT_EQ(app.TakeMessageBox(), refusal);
                app.Settle();
                EXPECT_EQ(app.WaitFor(Titled(opens), 0), nullptr);
                continue;
            }
            // Cancelling what the command opened shows nothing.
            HWND dialog = app.WaitFor(Titled(opens));
            ASSERT_NE(dialog, nullptr);
            EXPECT_FALSE(app.WaitIdle(0)) << "the main window stays usable behind the dialog";
            Click(dialog, IDCANCEL);
            EXPECT_TRUE(app.ClosedQuietly(dialog));
        }
    }
}

// About is modal and closes by OK or Esc; Enter starts nothing; the Exit button (also Esc)
// and the close box end the program.
TEST(MainWindow, AboutIsModalEnterStartsNothingAndExitEndsTheProgram) {
    App app;
    for (int close : {IDOK, IDCANCEL}) {
        Click(app.main(), IDC_ABOUT);
        HWND box = app.WaitFor(Titled(L"About"));
        ASSERT_NE(box, nullptr);
        EXPECT_FALSE(app.WaitIdle(0));
        Click(box, close);
        EXPECT_TRUE(app.ClosedQuietly(box));
    }
    SetItemText(app.main(), IDC_URL, L"http://example.org/");
    PostMessageW(app.main(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    app.Settle();
    EXPECT_EQ(app.WaitFor([&](HWND window) { return window != app.main(); }, 0), nullptr);
    EXPECT_FALSE(app.WaitForExit(0));
    Click(app.main(), IDCANCEL);
    EXPECT_TRUE(app.WaitForExit());

    App closed;
    PostMessageW(closed.main(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(closed.WaitForExit());
}
