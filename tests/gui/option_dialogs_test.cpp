// The option dialogs of "Save This Page" and "Save Multiple Pages": the path box, Browse,
// OK, Cancel and the close box. What a save from them does is the saves' test.
#include <gtest/gtest.h>

#include "driver.h"

using namespace gui;

TEST(OptionDialogs, AskForAPathBrowseForItAndOpenAfresh) {
    const struct {
        int command;
        const wchar_t* caption;
        const wchar_t* browseOffers;
    } dialogs[] = {{IDC_SAVE_PAGE, L"Save This Page", L""},
                   {IDC_SAVE_MULTIPLE, L"Save Multiple Pages", L"index"}};
    // The ".html" rule itself is the rules' test; an empty choice cancels the file dialog
    // and leaves the box as it was.
    const std::pair<const wchar_t*, const wchar_t*> browse[] = {
        {L"page", L"page.html"}, {L"page.html", L"page.html"}, {L"", L"page.html"}};
    ScratchFolder folder(L"browse");
    App app;
    for (const auto& dialog : dialogs) {
        for (bool closeBox : {false, true}) {
            SCOPED_TRACE(std::wstring(dialog.caption) + (closeBox ? L" close box" : L" Cancel"));
            SetItemText(app.main(), IDC_URL, L"http://127.0.0.1:9/");
            Click(app.main(), dialog.command);
            HWND options = app.WaitFor(Titled(dialog.caption));
            ASSERT_NE(options, nullptr);
            // Fresh at every opening, whatever was chosen the time before.
            EXPECT_EQ(IsDlgButtonChecked(options, IDC_WORDS_ONLY), BST_CHECKED);
            EXPECT_EQ(ItemText(options, IDC_SAVE_PATH), L"");
            Click(options, IDOK);
            EXPECT_EQ(app.TakeMessageBox(), (Box{kErrorCaption, L"Please Enter the Save Path"}));
            app.Settle();
            ASSERT_TRUE(IsWindow(options)) << "OK with an empty path keeps the dialog";

            for (const auto& [chosen, shown] : browse) {
                Click(options, IDC_BROWSE);
                HWND saveAs = app.WaitFor(Titled(kSaveAsCaption));
                ASSERT_NE(saveAs, nullptr);
                EXPECT_EQ(ItemText(saveAs, kFileNameEdit), dialog.browseOffers);
                SetItemText(saveAs, kFileNameEdit, *chosen ? folder / chosen : L"");
                Click(saveAs, *chosen ? IDOK : IDCANCEL);
                ASSERT_TRUE(WaitUntil([&] { return !IsWindow(saveAs); }));
                EXPECT_EQ(ItemText(options, IDC_SAVE_PATH), folder / shown) << Narrow(chosen);
            }
            SendMessageW(GetDlgItem(options, IDC_COMPLETE), BM_CLICK, 0, 0);
            if (closeBox) {
                PostMessageW(options, WM_CLOSE, 0, 0);
            } else {
                Click(options, IDCANCEL);  // also Esc
            }
            EXPECT_TRUE(app.ClosedQuietly(options));
        }
    }
}
