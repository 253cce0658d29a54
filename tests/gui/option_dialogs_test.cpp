// The option dialogs of "Save This Page" and "Save Multiple Pages": the path box, Browse,
// OK and Cancel.
#include <gtest/gtest.h>

#include "driver.h"
#include "gui_ids.h"

using namespace gui;

namespace {

// A port nothing listens on: a save from it finds nothing to fetch.
constexpr wchar_t kDeadUrl[] = L"http://127.0.0.1:9/";

struct Dialog {
    int command;
    const wchar_t* caption;
    const wchar_t* browseOffers;
    const wchar_t* errorText;
};
const Dialog kDialogs[] = {
    {kSavePage, L"Save This Page", L"", L"error!"},
    {kSaveMultiple, L"Save Multiple Pages", L"index", L"Error!"},
};

HWND Open(const App& app, const Dialog& dialog, const wchar_t* url = kDeadUrl) {
    SetItemText(app.main(), kUrl, url);
    Click(app.main(), dialog.command);
    return app.WaitForTop(dialog.caption);
}

// Chooses path in Wine's Save As dialog, opened by Browse; what the name field offered.
std::wstring BrowseTo(const App& app, HWND options, const std::wstring& path) {
    Click(options, kBrowse);
    HWND saveAs = app.WaitForTop(kSaveAsCaption);
    if (!saveAs) return L"<no Save As dialog>";
    const std::wstring offered = ItemText(saveAs, kFileNameEdit);
    SetItemText(saveAs, kFileNameEdit, path);
    Click(saveAs, IDOK);
    WaitUntil([&] { return !IsWindow(saveAs); });
    return offered;
}

}  // namespace

TEST(OptionDialogs, OkWithAnEmptyPathAsksForOneAndKeepsTheDialog) {
    App app;
    for (const Dialog& dialog : kDialogs) {
        SCOPED_TRACE(dialog.caption);
        HWND options = Open(app, dialog);
        ASSERT_NE(options, nullptr);
        EXPECT_EQ(IsDlgButtonChecked(options, kWordsOnly), BST_CHECKED);
        EXPECT_EQ(ItemText(options, kSavePath), L"");
        Click(options, IDOK);
        const App::Box box = app.TakeMessageBox();
        EXPECT_EQ(box.caption, kErrorCaption);
        EXPECT_EQ(box.text, L"Please Enter the Save Path");
        app.Settle();
        EXPECT_TRUE(IsWindow(options));
        Click(options, IDCANCEL);
        EXPECT_TRUE(app.WaitIdle());
    }
}

TEST(OptionDialogs, CancelEscAndTheCloseBoxEndWithoutAMessage) {
    App app;
    for (const Dialog& dialog : kDialogs) {
        for (UINT how : {0u, 1u, 2u}) {
            SCOPED_TRACE(std::wstring(dialog.caption) + L" way " + std::to_wstring(how));
            HWND options = Open(app, dialog);
            ASSERT_NE(options, nullptr);
            SetItemText(options, kSavePath, L"C:\\never.html");
            if (how == 0) Click(options, IDCANCEL);
            if (how == 1) PostMessageW(options, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
            if (how == 2) PostMessageW(options, WM_CLOSE, 0, 0);
            ASSERT_TRUE(WaitUntil([&] { return !IsWindow(options); }));
            app.Settle();
            EXPECT_EQ(app.FindMessageBox(), nullptr);
            EXPECT_TRUE(app.WaitIdle());
        }
    }
}

TEST(OptionDialogs, BrowseOffersTheClassNameAndAddsHtmlUnlessThePathEndsInIt) {
    ScratchFolder folder(L"browse");
    struct Case {
        const wchar_t* chosen;
        const wchar_t* shown;
    } const cases[] = {
        {L"page", L"page.html"},
        {L"page.html", L"page.html"},
        {L"page.HTML", L"page.HTML.html"},
        {L"page.htm", L"page.htm.html"},
    };
    App app;
    for (const Dialog& dialog : kDialogs) {
        HWND options = Open(app, dialog);
        ASSERT_NE(options, nullptr);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::wstring(dialog.caption) + L" " + c.chosen);
            EXPECT_EQ(BrowseTo(app, options, folder / c.chosen), dialog.browseOffers);
            EXPECT_EQ(ItemText(options, kSavePath), folder / c.shown);
        }
        // Cancelling the file dialog leaves the box as it was.
        Click(options, kBrowse);
        HWND saveAs = app.WaitForTop(kSaveAsCaption);
        ASSERT_NE(saveAs, nullptr);
        Click(saveAs, IDCANCEL);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(saveAs); }));
        EXPECT_EQ(ItemText(options, kSavePath), folder / cases[3].shown);
        Click(options, IDCANCEL);
        ASSERT_TRUE(app.WaitIdle());
    }
}

TEST(OptionDialogs, OkDeletesAnOldPageFileBeforeTheSave) {
    ScratchFolder folder(L"old_file");
    App app;
    for (const Dialog& dialog : kDialogs) {
        SCOPED_TRACE(dialog.caption);
        const std::wstring page = folder / L"page.html";
        WriteFile(page, "an old copy");
        HWND options = Open(app, dialog);
        ASSERT_NE(options, nullptr);
        SetItemText(options, kSavePath, page);
        Click(options, IDOK);
        app.TakeMessageBox();  // nothing can be fetched from the dead port
        EXPECT_FALSE(IsWindow(options));
        EXPECT_FALSE(FileExists(page));
    }
}

TEST(OptionDialogs, ASaveTheLibraryRefusesIsReportedAsAnError) {
    App app;
    // The library refuses save paths of 260 characters or more.
    const std::wstring tooLong = L"C:\\" + std::wstring(300, L'x') + L".html";
    for (const Dialog& dialog : kDialogs) {
        SCOPED_TRACE(dialog.caption);
        for (int content : {kWordsOnly, kComplete}) {
            HWND options = Open(app, dialog);
            ASSERT_NE(options, nullptr);
            SetItemText(options, kSavePath, tooLong);
            SendMessageW(GetDlgItem(options, content), BM_CLICK, 0, 0);
            Click(options, IDOK);
            const App::Box box = app.TakeMessageBox();
            EXPECT_EQ(box.caption, L"");
            EXPECT_EQ(box.text, dialog.errorText);
            EXPECT_FALSE(IsWindow(options)) << "the option dialog closes before the message";
        }
    }
}
