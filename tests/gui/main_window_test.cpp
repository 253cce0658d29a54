// The main window and the option dialogs: the URL checks every save command makes, the path
// box, Browse, OK, Cancel and the close box, Enter, About, Exit. What a save does is the
// saves' test.
#include <gtest/gtest.h>

#include "driver.h"

using namespace gui;

TEST(MainWindow, EveryCommandChecksTheUrlAndItsOptionDialogAsksForAPath) {
    App app;
    EXPECT_TRUE(WaitUntil([&] {
        GUITHREADINFO info = {};
        info.cbSize = sizeof(info);
        GetGUIThreadInfo(GetWindowThreadProcessId(app.main(), nullptr), &info);
        return info.hwndFocus == GetDlgItem(app.main(), IDC_URL);
    }));
    // The window each command opens once the URL has passed its checks, and the name the
    // Browse of an option dialog offers.
    const struct {
        int command;
        const wchar_t* opens;
        const wchar_t* browseOffers;
    } commands[] = {
        {IDC_SAVE_PAGE, L"Save This Page", L""},
        {IDC_SAVE_MULTIPLE, L"Save Multiple Pages", L"index"},
        {IDC_SAVE_IMAGES, kFolderCaption, nullptr},
    };
    // Which spellings of https are refused is the rules' test; here each command applies it.
    // An accepted address opens the command's window, closed by Cancel (also Esc) or, the
    // second time, by its close box.
    const std::pair<const wchar_t*, Box> cases[] = {
        {L"", {kErrorCaption, L"Please Enter the URL"}},
        {L"https://example.org/",
         {kErrorCaption,
          L"Sorry, this function doesn\u2019t support the page of the link with \"https\".\n"
          L"If you want to save this kind of page, you can use \"Save the Page as An Image\"."}},
        {L"hTTPS://example.org/", {}},
        {L"http://127.0.0.1:9/", {}},
    };
    // The ".html" rule itself is the rules' test; an empty choice cancels the file dialog
    // and leaves the box as it was.
    const std::pair<const wchar_t*, const wchar_t*> browse[] = {
        {L"page", L"page.html"}, {L"page.html", L"page.html"}, {L"", L"page.html"}};
    ScratchFolder folder(L"browse");
    for (const auto& c : commands) {
        for (const auto& [url, refusal] : cases) {
            SCOPED_TRACE(std::wstring(c.opens) + L" '" + url + L"'");
            SetItemText(app.main(), IDC_URL, url);
            Click(app.main(), c.command);
            if (!refusal.second.empty()) {
                EXPECT_EQ(app.TakeMessageBox(), refusal);
                app.Settle();
                EXPECT_EQ(app.WaitFor(Titled(c.opens), 0), nullptr);
                continue;
            }
            HWND dialog = app.WaitFor(Titled(c.opens));
            ASSERT_NE(dialog, nullptr);
            EXPECT_FALSE(app.WaitIdle(0)) << "the main window stays usable behind the dialog";
            const bool closeBox = c.browseOffers && std::wstring(url) == L"http://127.0.0.1:9/";
            if (c.browseOffers) {
                // Fresh at every opening, whatever was chosen the time before.
                EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_WORDS_ONLY), BST_CHECKED);
                EXPECT_EQ(ItemText(dialog, IDC_SAVE_PATH), L"");
                Click(dialog, IDOK);
                EXPECT_EQ(app.TakeMessageBox(),
                          (Box{kErrorCaption, L"Please Enter the Save Path"}));
                app.Settle();
                ASSERT_TRUE(IsWindow(dialog)) << "OK with an empty path keeps the dialog";
                for (const auto& [chosen, shown] : browse) {
                    Click(dialog, IDC_BROWSE);
                    HWND saveAs = app.WaitFor(Titled(kSaveAsCaption));
                    ASSERT_NE(saveAs, nullptr);
                    EXPECT_EQ(ItemText(saveAs, kFileNameEdit), c.browseOffers);
                    SetItemText(saveAs, kFileNameEdit, *chosen ? folder / chosen : L"");
                    Click(saveAs, *chosen ? IDOK : IDCANCEL);
                    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(saveAs); }));
                    EXPECT_EQ(ItemText(dialog, IDC_SAVE_PATH), folder / shown) << Narrow(chosen);
                }
                SendMessageW(GetDlgItem(dialog, IDC_COMPLETE), BM_CLICK, 0, 0);
            }
            if (closeBox) PostMessageW(dialog, WM_CLOSE, 0, 0);
            else Click(dialog, IDCANCEL);
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
