// The main window: the URL checks every save command makes, Enter, Exit, About, colours.
#include <gtest/gtest.h>

#include "driver.h"
#include "gui_ids.h"

using namespace gui;

namespace {

// The window each command opens once the URL has passed its checks.
struct Command {
    int id;
    const wchar_t* opens;
};
const Command kCommands[] = {
    {kSavePage, L"Save This Page"},
    {kSaveMultiple, L"Save Multiple Pages"},
    {kSaveImages, kFolderCaption},
};

HWND Focused(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

}  // namespace

TEST(MainWindow, OpensWithTheCursorInTheUrlBox) {
    App app;
    EXPECT_TRUE(WaitUntil([&] { return Focused(app.main()) == GetDlgItem(app.main(), kUrl); }));
}

TEST(MainWindow, EveryCommandRefusesAnEmptyUrlAndTheThreeHttpsSpellings) {
    App app;
    const wchar_t* const refused[] = {L"https://example.org/", L"Https://example.org/",
                                      L"HTTPS://example.org/"};
    for (const Command& command : kCommands) {
        SCOPED_TRACE(command.opens);
        SetItemText(app.main(), kUrl, L"");
        Click(app.main(), command.id);
        App::Box box = app.TakeMessageBox();
        EXPECT_EQ(box.caption, kErrorCaption);
        EXPECT_EQ(box.text, kEnterUrl);

        for (const wchar_t* url : refused) {
            SCOPED_TRACE(url);
            SetItemText(app.main(), kUrl, url);
            Click(app.main(), command.id);
            box = app.TakeMessageBox();
            EXPECT_EQ(box.caption, kErrorCaption);
            EXPECT_EQ(box.text, kHttpsRefused);
            app.Settle();
            EXPECT_EQ(app.FindTop(command.opens), nullptr);
        }
    }
}

TEST(MainWindow, OtherSpellingsPassAndCancellingShowsNothing) {
    App app;
    // Only the three exact spellings are refused; https:/ is seven characters, so its
    // eighth compared byte is the end of the text.
    const wchar_t* const accepted[] = {L"hTTPS://example.org/", L"https:/", L" https://x.org/"};
    for (const Command& command : kCommands) {
        for (const wchar_t* url : accepted) {
            SCOPED_TRACE(std::wstring(command.opens) + L" " + url);
            SetItemText(app.main(), kUrl, url);
            Click(app.main(), command.id);
            HWND dialog = app.WaitForTop(command.opens);
            ASSERT_NE(dialog, nullptr);
            EXPECT_FALSE(app.Idle()) << "the main window stays usable behind the dialog";
            Click(dialog, IDCANCEL);
            ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));
            app.Settle();
            EXPECT_EQ(app.FindMessageBox(), nullptr);
            EXPECT_TRUE(app.WaitIdle());
        }
    }
}

TEST(MainWindow, EnterStartsNothingWhileEscAndTheCloseBoxEndTheProgram) {
    {
        App app;
        SetItemText(app.main(), kUrl, L"http://example.org/");
        PostMessageW(app.main(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        app.Settle();
        EXPECT_EQ(app.TopWindows().size(), 1u);
        EXPECT_FALSE(app.Exited());

        PostMessageW(app.main(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        EXPECT_TRUE(app.WaitForExit());
    }
    {
        App app;
        PostMessageW(app.main(), WM_CLOSE, 0, 0);
        EXPECT_TRUE(app.WaitForExit());
    }
    {
        App app;
        Click(app.main(), IDCANCEL);  // the Exit button
        EXPECT_TRUE(app.WaitForExit());
    }
}

TEST(MainWindow, AboutIsModalAndClosesWithOkOrEsc) {
    App app;
    for (int close : {IDOK, IDCANCEL}) {
        Click(app.main(), kAbout);
        HWND box = app.WaitForTop(L"About");
        ASSERT_NE(box, nullptr);
        EXPECT_FALSE(app.Idle());
        Click(box, close);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
        EXPECT_TRUE(app.WaitIdle());
    }
}
