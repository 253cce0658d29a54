// qm_SavePictures: pictures flat in the chosen folder, everything else in a temporary
// folder that is gone afterwards.
#include <gtest/gtest.h>

#include "saved_files.h"

namespace qmtest {
namespace {

// A page with a picture, a style sheet with a picture, a frame with a picture, and a link
// that the picture crawl never reaches.
struct PictureSite {
    SiteServer server;
    PictureSite() {
        server.AddPage(
            "/d/index.html",
            "<img src=\"a.gif\"><link rel=stylesheet href=\"s.css\"><frame src=\"f.html\">"
            "<a href=\"other.html\">o</a>");
        server.AddPage("/d/s.css", "b{background:url(img/b.png)}", "text/css");
        server.AddPage("/d/f.html", "<img src=\"/c.gif\">");
        server.AddPage("/d/other.html", "<img src=\"never.gif\">");
        for (const char* p : {"/d/a.gif", "/d/img/b.png", "/c.gif"})
            server.AddPage(p, p, "image/gif");
    }
    std::string Url() const { return server.Url("/d/index.html"); }
};

// As the desktop program calls it: the chosen folder with "\index.html" appended.
int32_t SavePictures(const std::string& url, const std::string& folder, SaveOptions* options) {
    Reports().clear();
    std::string path = folder + "\\index.html";
    return qm_SavePictures(url.c_str(), path.c_str(), options, RecordReport);
}

// Only the items' names are flattened, so a chosen folder whose name looks like a local name
// still takes the pictures. A folder "temp" the user had is neither used nor deleted.
TEST(SavePictures, SavesPicturesFlatAndDeletesTheTemporaryFolder) {
    PictureSite site;
    Sandbox box;
    const fs::path in = box.Root() / "http-x" / "in";
    fs::create_directories(in / "temp");
    WriteFile(in / "temp" / "mine.txt", "mine");
    SaveOptions options{0, 0, 1, 5};
    ASSERT_EQ(SavePictures(site.Url(), box.Path("http-x\\in"), &options), 1);
    EXPECT_EQ((std::vector<int32_t>{options.savePages, options.savePictures, options.sameSiteOnly,
                                    options.maxDepth}),
              (std::vector<int32_t>{1, 1, 0, 0}));
    const std::string h = "http--" + LocalHost(site.server.Port()) + "-";
    EXPECT_EQ(FilesBelow(in),
              (Files{h + "c.gif", h + "d-a.gif", h + "d-img-b.png", "temp/mine.txt"}));
    EXPECT_FALSE(fs::exists(in / "temp-1"));

    // Every fetched item is reported with the path it was written to.
    Files paths;
    for (const Report& r : Reports()) paths.push_back(r.record.localPath);
    const std::string folder = box.Path("http-x\\in\\"), temp = folder + "temp-1\\";
    EXPECT_EQ(paths,
              (Files{temp + "index.html", folder + h + "d-a.gif", temp + h + "d-s.css",
                     folder + h + "d-img-b.png", temp + h + "d-f.html", folder + h + "c.gif"}));

    // A save path written with '/' works as well.
    Sandbox slashes;
    std::string path = slashes.Root().string() + "/index.html";
    ASSERT_EQ(qm_SavePictures(site.Url().c_str(), path.c_str(), &options, nullptr), 1);
    EXPECT_EQ(FilesBelow(slashes.Root()), (Files{h + "c.gif", h + "d-a.gif", h + "d-img-b.png"}));
}

// A stop does not wait for the temporary folder to be deleted: it is out of the way when the
// call returns, gone soon after, and the next call may take its name at once.
TEST(SavePictures, AStopCleansUpInTheBackground) {
    PictureSite site;
    site.server.AddStalled("/d/a.gif", std::string(5000, 'a'), 10, 20000);
    Sandbox box;
    SaveOptions options{};
    {
        StopWhenRequested stop(site.server, "/d/a.gif");
        EXPECT_EQ(SavePictures(site.Url(), box.Path(), &options), 0);
    }
    EXPECT_FALSE(fs::exists(box.Root() / "temp"));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::is_empty(box.Root()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(fs::is_empty(box.Root()));

    site.server.AddPage("/d/a.gif", "a", "image/gif");
    ASSERT_EQ(SavePictures(site.Url(), box.Path(), &options), 1);
    EXPECT_EQ(FilesBelow(box.Root()).size(), 3u);
    EXPECT_EQ(Reports()[0].record.localPath, box.Path("temp\\index.html"));
}

}  // namespace
}  // namespace qmtest
