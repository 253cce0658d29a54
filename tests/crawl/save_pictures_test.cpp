// qm_SavePictures: pictures flat in the chosen folder, everything else in a temporary
// folder that is gone afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "qm_url.h"
#include "saved_files.h"
#include "test_server.h"

namespace qmtest {
namespace {

using Files = std::vector<std::string>;

// A page with a picture, a style sheet with a picture, a frame with a picture, and a link
// that the picture crawl never reaches.
struct PictureSite {
    SiteServer server;
    PictureSite() {
        server.AddPage("/d/index.html",
                       "<img src=\"a.gif\"><link href=\"s.css\"><frame src=\"f.html\">"
                       "<a href=\"other.html\">o</a>");
        server.AddPage("/d/s.css", "b{background:url(img/b.png)}", "text/css");
        server.AddPage("/d/f.html", "<img src=\"/c.gif\">");
        server.AddPage("/d/other.html", "<img src=\"never.gif\">");
        for (const char* p : {"/d/a.gif", "/d/img/b.png", "/c.gif"}) server.AddPage(p, p, "image/gif");
    }
    std::string Url() const { return server.Url("/d/index.html"); }
    std::string Host() const { return LocalHost(server.Port()); }
};

// As the desktop program calls it: the chosen folder with "\index.html" appended.
int32_t SavePictures(const std::string& url, const std::string& folder, SaveOptions* options) {
    Reports().clear();
    std::string path = folder + "\\index.html";
    return qm_SavePictures(url.c_str(), path.c_str(), options, RecordReport);
}

TEST(SavePictures, SavesPicturesFlatAndDeletesTheTemporaryFolder) {
    PictureSite site;
    Sandbox box;
    SaveOptions options{0, 0, 1, 5};
    ASSERT_EQ(SavePictures(site.Url(), box.Path(), &options), 1);
    EXPECT_EQ(options.savePages, 1);
    EXPECT_EQ(options.savePictures, 1);
    EXPECT_EQ(options.sameSiteOnly, 0);
    EXPECT_EQ(options.maxDepth, 0);

    std::string h = site.Host();
    EXPECT_EQ(FilesBelow(box.Root()),
              (Files{"http--" + h + "-c.gif", "http--" + h + "-d-a.gif", "http--" + h + "-d-img-b.png"}));
    EXPECT_EQ(ReadFile(box.Root() / ("http--" + h + "-d-img-b.png")), "/d/img/b.png");

    // Every fetched item is reported, the page, the style sheet and the frame too, each
    // with the path it was written to.
    std::vector<std::string> paths;
    for (const Report& r : Reports()) paths.push_back(r.record.localPath);
    std::string temp = box.Path("temp\\");
    EXPECT_EQ(paths, (Files{temp + "index.html", box.Path("http--" + h + "-d-a.gif"),
                            temp + "http--" + h + "-d-s.css", box.Path("http--" + h + "-d-img-b.png"),
                            temp + "http--" + h + "-d-f.html", box.Path("http--" + h + "-c.gif")}));
}

TEST(SavePictures, AFolderNamedTempThatWasThereIsKept) {
    PictureSite site;
    Sandbox box;
    fs::create_directories(box.Root() / "temp");
    WriteFile(box.Root() / "temp" / "mine.txt", "mine");
    SaveOptions options{};
    ASSERT_EQ(SavePictures(site.Url(), box.Path(), &options), 1);
    Files files = FilesBelow(box.Root());
    EXPECT_EQ(files.size(), 4u);
    EXPECT_EQ(files.back(), "temp/mine.txt");
    EXPECT_FALSE(fs::exists(box.Root() / "temp-1"));
}

TEST(SavePictures, AnExistingPictureIsNeitherFetchedNorReported) {
    PictureSite site;
    Sandbox box;
    WriteFile(box.Root() / ("http--" + site.Host() + "-d-a.gif"), "mine");
    SaveOptions options{};
    ASSERT_EQ(SavePictures(site.Url(), box.Path(), &options), 1);
    EXPECT_EQ(Reports().size(), 5u);
    EXPECT_EQ(ReadFile(box.Root() / ("http--" + site.Host() + "-d-a.gif")), "mine");
    auto targets = site.server.RequestedTargets();
    EXPECT_EQ(std::count(targets.begin(), targets.end(), "/d/a.gif"), 0);
}

// A chosen folder whose own name looks like a local name: the pictures still go into it.
TEST(SavePictures, PicturesStayInAFolderNamedLikeALocalName) {
    PictureSite site;
    Sandbox box;
    fs::create_directories(box.Root() / "http-x" / "in");
    SaveOptions options{};
    ASSERT_EQ(SavePictures(site.Url(), box.Path("http-x\\in"), &options), 1);
    for (const std::string& f : FilesBelow(box.Root())) EXPECT_EQ(f.rfind("http-x/in/", 0), 0u) << f;
    EXPECT_EQ(FilesBelow(box.Root() / "http-x" / "in").size(), 3u);
}

TEST(SavePictures, StopStillDeletesTheTemporaryFolder) {
    PictureSite site;
    site.server.AddStalled("/d/a.gif", std::string(5000, 'a'), 10, 20000);
    Sandbox box;
    std::atomic<bool> done{false};
    std::thread stopper([&] {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done && std::chrono::steady_clock::now() < deadline) {
            auto t = site.server.RequestedTargets();
            if (std::find(t.begin(), t.end(), "/d/a.gif") != t.end()) {
                qm_StopSave();
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    SaveOptions options{};
    int32_t result = SavePictures(site.Url(), box.Path(), &options);
    done = true;
    stopper.join();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(FilesBelow(box.Root()).empty());
    EXPECT_FALSE(fs::exists(box.Root() / "temp"));
}

}  // namespace
}  // namespace qmtest
