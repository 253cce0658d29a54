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

HWND Open(const App& app, const Dialog& dialog) {
    SetItemText(app.main(), kUrl, kDeadUrl);
    Click(app.main(), dialog.command);
    return app.WaitForTop(dialog.caption);
}

// Chooses path in Wine's Save As dialog, opened by Browse, or cancels it when path is
// empty; what the name field offered.
std::wstring BrowseTo(const App& app, HWND options, const std::wstring& path) {
    Click(options, kBrowse);
    HWND saveAs = app.WaitForTop(kSaveAsCaption);
    if (!saveAs) return L"<no Save As dialog>";
    const std::wstring offered = ItemText(saveAs, kFileNameEdit);
    SetItemText(saveAs, kFileNameEdit, path);
    Click(saveAs, path.empty() ? IDCANCEL : IDOK);
    WaitUntil([&] { return !IsWindow(saveAs); });
    return offered;
}

void Choose(HWND options, int radio) { SendMessageW(GetDlgItem(options, radio), BM_CLICK, 0, 0); }

}  // namespace

TEST(OptionDialogs, OpenAfreshAskForAPathAndCloseWithoutAMessage) {
    App app;
    for (const Dialog& dialog : kDialogs) {
        for (bool closeBox : {false, true}) {
            SCOPED_TRACE(std::wstring(dialog.caption) + (closeBox ? L" close box" : L" Cancel"));
            HWND options = Open(app, dialog);
            ASSERT_NE(options, nullptr);
            EXPECT_EQ(IsDlgButtonChecked(options, kWordsOnly), BST_CHECKED);
            EXPECT_EQ(ItemText(options, kSavePath), L"");
            Click(options, IDOK);
            EXPECT_EQ(app.TakeMessageBox(), kEnterSavePath);
            app.Settle();
            ASSERT_TRUE(IsWindow(options)) << "OK with an empty path keeps the dialog";

            // What is chosen now is gone at the next opening.
            SetItemText(options, kSavePath, L"C:\\never.html");
            Choose(options, kComplete);
            if (closeBox) {
                PostMessageW(options, WM_CLOSE, 0, 0);
            } else {
                Click(options, IDCANCEL);  // also Esc
            }
            EXPECT_TRUE(app.ClosedQuietly(options));
        }
    }
}

TEST(OptionDialogs, BrowseOffersTheClassNameAndAddsHtmlUnlessThePathEndsInIt) {
    ScratchFolder folder(L"browse");
    struct Case {
        const wchar_t* chosen;  // empty: the file dialog is cancelled
        const wchar_t* shown;
    } const cases[] = {
        {L"page", L"page.html"},           {L"page.html", L"page.html"},
        {L"page.HTML", L"page.HTML.html"}, {L"page.htm", L"page.htm.html"},
        {L"", L"page.htm.html"},  // the box stays as it was
    };
    App app;
    for (const Dialog& dialog : kDialogs) {
        HWND options = Open(app, dialog);
        ASSERT_NE(options, nullptr);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::wstring(dialog.caption) + L" '" + c.chosen + L"'");
            const std::wstring chosen = *c.chosen ? folder / c.chosen : L"";
            EXPECT_EQ(BrowseTo(app, options, chosen), dialog.browseOffers);
            EXPECT_EQ(ItemText(options, kSavePath), folder / c.shown);
        }
        Click(options, IDCANCEL);
        ASSERT_TRUE(app.WaitIdle());
    }
}

TEST(OptionDialogs, AFailedSaveKeepsTheOldFileAndShowsTheCommandsError) {
    ScratchFolder folder(L"old_file");
    const std::wstring page = folder / L"page.html";
    const std::wstring tooLong = L"C:\\" + std::wstring(300, L'x') + L".html";
    App app;
    // Opens the dialog, fills it in and presses OK; the dialog.
    auto save = [&](const Dialog& dialog, const std::wstring& path, int content) {
        HWND options = Open(app, dialog);
        if (!options) return options;
        SetItemText(options, kSavePath, path);
        Choose(options, content);
        Click(options, IDOK);
        return options;
    };
    for (const Dialog& dialog : kDialogs) {
        SCOPED_TRACE(dialog.caption);
        WriteFile(page, "an old copy");
        HWND options = save(dialog, page, kWordsOnly);
        ASSERT_NE(options, nullptr);
        // Nothing can be fetched from the dead port: the save failed.
        EXPECT_EQ(app.TakeMessageBox(), (Box{L"", dialog.errorText}));
        EXPECT_FALSE(IsWindow(options));
        EXPECT_EQ(ReadFile(page), "an old copy");
        EXPECT_EQ(FilesIn(folder.path()), std::vector<std::wstring>{L"page.html"});

        // The library refuses save paths of 260 characters or more.
        for (int content : {kWordsOnly, kComplete}) {
            options = save(dialog, tooLong, content);
            ASSERT_NE(options, nullptr);
            EXPECT_EQ(app.TakeMessageBox(), (Box{L"", dialog.errorText}));
            EXPECT_FALSE(IsWindow(options)) << "the option dialog closes before the message";
        }
    }
}
