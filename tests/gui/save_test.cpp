// The three save commands end to end: the program saves from a scripted site on loopback,
// and the files on disk are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>
#include <string>

#include "driver.h"
#include "test_server.h"
#include "tls_front.h"

using namespace gui;

namespace {

const std::string kPage =
    "<html><head><link rel=\"stylesheet\" href=\"style.css\"></head><body>page-marker"
    "<img src=\"a.gif\"><a href=\"second.html\">next</a></body></html>";
const std::string kStyle = "body { color: red } /* style-marker */";
const std::string kPicture = "GIF89a picture-marker";
const std::string kPrecious("PRECIOUS\0\r\n\xff", 12);
const std::string kSecond = "<html><body>second-marker</body></html>";
// A port nothing listens on: a save from it finds nothing to fetch.
const std::string kDeadUrl = "http://127.0.0.1:9/";

void AddSite(qmtest::SiteServer& site) {
    site.AddPage("/page.html", kPage);
    site.AddPage("/style.css", kStyle, "text/css");
    site.AddPage("/a.gif", kPicture, "image/gif");
    site.AddPage("/second.html", kSecond);
    // Half the page, then nothing more for as long as the client waits.
    site.AddStalled("/slow.html", kPage, kPage.size() / 2, -1);
}

// Every file under folder whose content is exactly bytes.
int CountFilesHolding(const std::wstring& folder, const std::string& bytes) {
    int count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        count += entry.is_regular_file() && ReadFile(entry.path().wstring()) == bytes;
    return count;
}

// Types the URL and starts the command as a person would: the page saves through their
// option dialog (returned), the picture save through the folder browser.
HWND StartSave(const App& app, int command, const std::string& url, const std::wstring& path,
               int content = IDC_WORDS_ONLY) {
    SetItemText(app.main(), IDC_URL, Wide(url));
    Click(app.main(), command);
    if (command == IDC_SAVE_IMAGES) {
        EXPECT_TRUE(app.PickFolder(path)) << "the folder browser did not take the folder";
        return nullptr;
    }
    HWND options =
        app.WaitFor(Titled(command == IDC_SAVE_PAGE ? L"Save This Page" : L"Save Multiple Pages"));
    EXPECT_NE(options, nullptr) << "no option dialog";
    SetItemText(options, IDC_SAVE_PATH, path);
    SendMessageW(GetDlgItem(options, content), BM_CLICK, 0, 0);
    Click(options, IDOK);
    return options;
}

}  // namespace

// Each save first goes over a file saved before and is stopped (by Stop or Esc) while the
// page is slow to come; the next one completes and replaces it, leaving no kept copy.
TEST(Saves, PagesAreSavedWithWhatTheirModeAsksForAndAStopKeepsTheOldFile) {
    qmtest::TlsFront* tls = qmtest::TlsFront::Get();
    ASSERT_NE(tls, nullptr);
    // Pictures come with a complete save, the linked page with a multiple one.
    const struct {
        const char* name;
        int command;
        int content;
        const char* start;
        UINT stop;
    } cases[] = {
        {"this page, words only", IDC_SAVE_PAGE, IDC_WORDS_ONLY, "/page.html", IDOK},
        {"this page, completely", IDC_SAVE_PAGE, IDC_COMPLETE, "/page.html", IDCANCEL},
        {"multiple pages, words only", IDC_SAVE_MULTIPLE, IDC_WORDS_ONLY, "/page.html", IDOK},
        {"multiple pages, completely", IDC_SAVE_MULTIPLE, IDC_COMPLETE, "/page.html", IDCANCEL},
        // The typed address is http: the program lets it through, and the library follows
        // it to https.
        {"redirected to https", IDC_SAVE_PAGE, IDC_COMPLETE, "/old.html", IDOK},
    };
    App app;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder(L"pages");
        qmtest::SiteServer site;
        AddSite(site);
        ASSERT_TRUE(tls->Route(site.Port()));
        site.Add("/old.html",
                 qmtest::Redirect(301, tls->Url(qmtest::Certificate::kValid, "/page.html")));
        const std::wstring path = folder / L"saved.html";
        WriteFile(path, kPrecious);
        HWND options = StartSave(app, c.command, site.Url("/slow.html"), path, c.content);
        HWND progress = app.WaitFor(Holding(IDC_STATUS));
        ASSERT_NE(progress, nullptr);
        // The option dialog stays open behind the save but cannot start a second one.
        EXPECT_TRUE(IsWindow(options));
        EXPECT_FALSE(IsWindowEnabled(options));
        // The text runs through its four forms while the save waits.
        std::set<std::wstring> seen;
        EXPECT_TRUE(WaitUntil([&] {
            seen.insert(ItemText(progress, IDC_STATUS));
            return seen.count(L"Saving,please wait") && seen.count(L"Saving,please wait.") &&
                   seen.count(L"Saving,please wait..") && seen.count(L"Saving,please wait...");
        }));
        PostMessageW(progress, WM_COMMAND, MAKEWPARAM(c.stop, BN_CLICKED), 0);
        EXPECT_EQ(app.TakeMessageBox(), kStopped);
        EXPECT_EQ(qmtest::FilesBelow(folder.Root()), std::vector<std::string>{"saved.html"});
        EXPECT_EQ(ReadFile(path), kPrecious);

        StartSave(app, c.command, site.Url(c.start), path, c.content);
        EXPECT_EQ(app.TakeMessageBox(), kCompleted);

        EXPECT_NE(ReadFile(path).find("page-marker"), std::string::npos);
        EXPECT_EQ(CountFilesHolding(folder.path(), kPrecious), 0);
        EXPECT_EQ(CountFilesHolding(folder.path(), kStyle), 1);
        EXPECT_EQ(CountFilesHolding(folder.path(), kPicture), c.content == IDC_COMPLETE);
        EXPECT_EQ(CountFilesHolding(folder.path(), kSecond), c.command == IDC_SAVE_MULTIPLE);
    }
}

TEST(Saves, AllTheImagesGoFlatIntoTheChosenFolderWhileTheCountRunsAfterAStop) {
    ScratchFolder folder(L"images");
    // The last picture is held back until the count has been read (or a deadline passed),
    // so the count is read while the dialog is open however slow the machine.
    std::atomic<bool> countRead{false};
    qmtest::TestServer site([&](const qmtest::Request& r) {
        if (r.target == "/slow.html") {
            return qmtest::Script()
                .Send(qmtest::HttpResponseWithLength(200, kPage, "text/html").substr(0, 80))
                .Then(qmtest::Ending::StayOpen);
        }
        if (r.target == "/page.html") {
            return qmtest::Script().Send(qmtest::HttpResponseWithLength(
                200, "<img src=\"a.gif\"><img src=\"dir/b.gif\"><img src=\"c.gif\">", "text/html"));
        }
        if (r.target == "/c.gif") WaitUntil([&] { return countRead.load(); });
        const std::string name = r.target.substr(r.target.rfind('/') + 1, 1);
        return qmtest::Script().Send(
            qmtest::HttpResponseWithLength(200, "GIF89a " + name, "image/gif"));
    });

    App app;
    // A save stopped while the page is slow to come leaves nothing.
    StartSave(app, IDC_SAVE_IMAGES, site.Url("/slow.html"), folder.path());
    HWND progress = app.WaitFor(Holding(IDC_PICTURE_COUNT));
    ASSERT_NE(progress, nullptr);
    Click(progress, IDOK);
    EXPECT_EQ(app.TakeMessageBox(), kStopped);

    StartSave(app, IDC_SAVE_IMAGES, site.Url("/page.html"), folder.path());
    progress = app.WaitFor(Holding(IDC_PICTURE_COUNT));
    ASSERT_NE(progress, nullptr);
    // Reported so far: the page and two pictures. Only pictures count, and each report shows
    // how many pictures came before it.
    EXPECT_TRUE(WaitUntil([&] { return ItemText(progress, IDC_PICTURE_COUNT) == L"1"; }))
        << "count shown: " << Narrow(ItemText(progress, IDC_PICTURE_COUNT));
    countRead = true;
    EXPECT_EQ(app.TakeMessageBox(), kCompleted);

    // Nothing else is left: not the page, nor its temporary folder.
    std::multiset<std::string> contents;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        contents.insert(ReadFile(entry.path().wstring()));
    EXPECT_EQ(contents, (std::multiset<std::string>{"GIF89a a", "GIF89a b", "GIF89a c"}));
}

// A failed save shows its command's error after its option dialog has closed, and keeps a
// file saved before byte for byte.
TEST(Saves, AFailedSaveKeepsTheFileItWouldReplace) {
    qmtest::SiteServer site;
    AddSite(site);
    ScratchFolder folder(L"kept");
    const std::wstring page = folder / L"saved.html";
    // The library refuses save paths of 260 characters or more: a page path, and a folder
    // of 249 characters, which with "\index.html" reaches that length.
    const std::wstring tooLong = L"C:\\" + std::wstring(300, L'x') + L".html";
    ScratchFolder top(L"deep");
    std::wstring deep = top.path();
    while (deep.size() < 249) {
        deep += L"\\" + std::wstring(std::min<size_t>(40, 249 - deep.size()), L'd');
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    }
    const struct {
        const char* name;
        int command;
        std::string url;
        std::wstring path;
        int content;
    } cases[] = {
        {"this page, no server", IDC_SAVE_PAGE, kDeadUrl, page, IDC_WORDS_ONLY},
        {"multiple pages, no server", IDC_SAVE_MULTIPLE, kDeadUrl, page, IDC_WORDS_ONLY},
        {"this page, not found", IDC_SAVE_PAGE, site.Url("/missing.html"), page, IDC_WORDS_ONLY},
        {"multiple pages, not found", IDC_SAVE_MULTIPLE, site.Url("/missing.html"), page,
         IDC_COMPLETE},
        {"this page, path too long", IDC_SAVE_PAGE, kDeadUrl, tooLong, IDC_WORDS_ONLY},
        {"multiple pages, path too long", IDC_SAVE_MULTIPLE, kDeadUrl, tooLong, IDC_COMPLETE},
        {"pictures, folder too deep", IDC_SAVE_IMAGES, kDeadUrl, deep, 0},
    };
    App app;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(page, kPrecious);
        HWND options = StartSave(app, c.command, c.url, c.path, c.content);
        const wchar_t* error = c.command == IDC_SAVE_MULTIPLE ? L"Error!" : L"error!";
        EXPECT_EQ(app.TakeMessageBox(), (Box{L"", error}));
        EXPECT_FALSE(IsWindow(options));
        EXPECT_EQ(qmtest::FilesBelow(folder.Root()), std::vector<std::string>{"saved.html"});
        EXPECT_EQ(ReadFile(page), kPrecious);
    }
}
