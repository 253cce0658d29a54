// qm_SavePages and qm_OldSavePages against small sites on the scripted server.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "crawl_state.h"
#include "qm_url.h"
#include "qmsave_save.h"
#include "saved_files.h"
#include "test_server.h"
#include "tls_front.h"

namespace qmtest {
namespace {

using Targets = std::vector<std::string>;

// The visiting-order site: S holds pictures a and b and links to P and Q; P holds
// picture c and a link to R.
Targets Sorted(Targets targets) {
    std::sort(targets.begin(), targets.end());
    return targets;
}

struct OrderSite {
    SiteServer server;
    OrderSite() {
        server.AddPage("/S.html",
                       "<html><img src=\"a.gif\"><img src='b.gif'><a href=\"P.html\">P</a> "
                       "<a href=\"./Q.html#x\">Q</a></html>");
        server.AddPage("/P.html", "<img src=\"c.gif\"><a href=\"R.html\">R</a>");
        server.AddPage("/Q.html", "<p>q</p>");
        server.AddPage("/R.html", "r");
        for (std::string name : {"a", "b", "c"})
            server.AddPage("/" + name + ".gif", "GIF-" + name, "image/gif");
    }
    std::string Url(const std::string& path = "/S.html") const { return server.Url(path); }
    std::string Host() const { return LocalHost(server.Port()); }
};

int32_t SavePages(const std::string& url, const std::string& savePath, SaveOptions options,
                  SavePageCallback callback = RecordReport) {
    Reports().clear();
    return qm_SavePages(url.c_str(), savePath.c_str(), &options, callback);
}

// A record as one line: kind, depth, sameSite, url, localPath, referer.
std::string Line(const PageRecord& r) {
    return std::to_string(r.kind) + " " + std::to_string(r.depth) + " " +
           std::to_string(r.sameSite) + " " + r.url + " " + r.localPath + " " + r.referer;
}

void QM_CALLBACK ReportAndStop(int32_t index, const PageRecord* record) {
    RecordReport(index, record);
    qm_StopSave();
}

void ExpectSoundPages(const fs::path& root) {
    for (const std::string& file : FilesBelow(root)) {
        if (file.find(".htm") == std::string::npos && file.find(".css") == std::string::npos)
            continue;
        EXPECT_EQ(BrokenReferences(root / file), Targets()) << file;
    }
}

std::vector<std::string>& Failures() {
    static std::vector<std::string> failures;
    return failures;
}

void QM_CALLBACK RecordFailure(int32_t index, const PageRecord* record, const char* url,
                               const char* reason) {
    Failures().push_back(std::to_string(index) + " " + std::to_string(record ? record->kind : 0) +
                         " " + url + ": " + reason);
}

TEST(SavePages, VisitsInQueueOrderAndStopsAtTheDepth) {
    const std::pair<int32_t, Targets> cases[] = {
        {2, {"/S.html", "/a.gif", "/b.gif", "/P.html", "/c.gif", "/Q.html", "/R.html"}},
        {1, {"/S.html", "/a.gif", "/b.gif", "/P.html", "/c.gif", "/Q.html"}},
        {0, {"/S.html", "/a.gif", "/b.gif"}},
        {-1, {}},
    };
    for (const auto& [maxDepth, targets] : cases) {
        OrderSite site;
        Sandbox box;
        EXPECT_EQ(SavePages(site.Url(), box.Path("index.html"), {1, 1, 0, maxDepth}), 1);
        // Visited in queue order; fetched once each, in whatever order the fetches ahead ran.
        Targets visited;
        for (const Report& report : Reports())
            visited.push_back(std::string(report.record.url).substr(site.Url("").size()));
        EXPECT_EQ(visited, targets) << "maxDepth " << maxDepth;
        EXPECT_EQ(Sorted(site.server.RequestedTargets()), Sorted(targets))
            << "maxDepth " << maxDepth;
    }
}

TEST(SavePages, ReportsAndWritesEachItemWithReferencesThatHoldTogether) {
    OrderSite site;
    Sandbox box;
    ASSERT_EQ(SavePages(site.Url(), box.Path("index.html"), {1, 1, 0, 1}), 1);
    const std::string h = site.Host();

    // Each report carries the record as it is written next.
    ASSERT_EQ(Reports().size(), 6u);
    EXPECT_EQ(Reports()[0].index, 0);
    EXPECT_EQ(Line(Reports()[0].record),
              "1 0 1 " + site.Url() + " " + box.Path("index.html") + " ");
    EXPECT_EQ(Line(Reports()[1].record), "2 0 1 " + site.Url("/a.gif") + " " +
                                             box.Path("http-\\" + h + "\\a.gif") + " " +
                                             site.Url());
    // Neither the fragment nor the "./" are part of the item.
    EXPECT_EQ(Line(Reports()[5].record), "1 1 1 " + site.Url("/Q.html") + " " +
                                             box.Path("http--" + h + "-Q.html") + " " + site.Url());
    // The referer the server saw is the page the item was found on.
    for (const auto& request : site.server.Log()) {
        if (request.target == "/Q.html") {
            EXPECT_EQ(request.Header("Referer"), site.Url());
        }
    }

    EXPECT_EQ(FilesBelow(box.Root()),
              (Targets{"http--" + h + "-P.html", "http--" + h + "-Q.html", "http-/" + h + "/a.gif",
                       "http-/" + h + "/b.gif", "http-/" + h + "/c.gif", "index.html"}));
    EXPECT_EQ(ReadFile(box.Root() / "index.html"),
              "<html><img src=\"http-/" + h + "/a.gif\"><img src='http-/" + h +
                  "/b.gif'><a href=\"http--" + h + "-P.html\">P</a> <a href=\"http--" + h +
                  "-Q.html#x\">Q</a></html>");
    // R lies beyond the depth: the saved P leads to it online.
    EXPECT_EQ(ReadFile(box.Root() / ("http--" + h + "-P.html")),
              "<img src=\"http-/" + h + "/c.gif\"><a href=\"" + site.Url("/R.html") + "\">R</a>");
    EXPECT_EQ(ReadFile(box.Root() / "http-" / h / "c.gif"), "GIF-c");
    ExpectSoundPages(box.Root());
}

// https pages are crawled like http ones, and a plain page's https pictures are saved too.
TEST(SavePages, HttpsPagesAndPicturesAreSavedUnderHttpsNames) {
    TlsFront* tls = TlsFront::Get();
    ASSERT_NE(tls, nullptr);
    SiteServer secure, plain;
    secure.AddPage("/s.html", "<img src=\"p.gif\"><a href=\"/t.html\">t</a>");
    secure.AddPage("/t.html", "t");
    secure.AddPage("/p.gif", "picture", "image/gif");
    ASSERT_TRUE(tls->Route(secure.Port()));
    const std::string base = tls->Url(Certificate::kValid, "");
    const std::string h = "127.0.0.1-" + base.substr(base.rfind(':') + 1);
    plain.AddPage("/index.html", "<img src=\"" + base + "/p.gif\">");

    Sandbox box;
    ASSERT_EQ(SavePages(base + "/s.html", box.Path("index.html"), {1, 1, 0, 1}), 1);
    EXPECT_EQ(FilesBelow(box.Root()),
              (Targets{"https--" + h + "-t.html", "https-/" + h + "/p.gif", "index.html"}));
    ExpectSoundPages(box.Root());

    Sandbox other;
    ASSERT_EQ(SavePages(plain.Url("/index.html"), other.Path("index.html"), {1, 1, 0, 0}), 1);
    EXPECT_EQ(ReadFile(other.Root() / "https-" / h / "p.gif"), "picture");
    ExpectSoundPages(other.Root());
}

// A site with the kinds of reference real pages use. Whatever the options, every saved
// page leads to saved files or to addresses online, never to nothing.
void AddRichSite(SiteServer& server, const std::string& farUrl) {
    server.AddPage("/d/index.html",
                   "<html><head><link rel=stylesheet href=\"css/site.css\">"
                   "<link href='/d/css/print.css' rel=stylesheet></head><body>\n"
                   "<img src=\"../img/logo.gif\" alt=x><IMG SRC='pics/a%20b.png'>"
                   "<img src=\"pics/100%25.jpg\"><img\nsrc=pics/t.gif\twidth=1>"
                   "<img src=\"../img/logo.gif\">\n"
                   "<a href=\"page.php?a=1&amp;b=2#part\">q</a> <a href='../up.html'>up</a>"
                   "<a href=\"/d/sub/deep.htm\">deep</a><a href=\"" +
                       farUrl +
                       "\">far</a>"
                       "<a href=\"ftp://files/x\">s</a><a href=\"mailto:a@b\">m</a>"
                       "<frameset><frame src=\"frame.html\"></frameset>"
                       "<div style=\"background:url(img2/bg.png)\">photo.jpg</div>"
                       "<img src=\"missing.gif\"><a href=\"missing.html\">m</a><script "
                       "src=\"js/missing.js\"></script>"
                       "<link rel=stylesheet href=\"css/missing.css\"></body></html>");
    server.AddPage("/d/css/site.css", "body{background:url('../../img/bg.png')}", "text/css");
    server.AddPage("/d/css/print.css", "p{color:red}", "text/css");
    server.AddPage("/d/frame.html", "<img src=\"pics/a%20b.png\"><a href=\"../up.html\">u</a>");
    server.AddPage(
        "/d/page.php",
        "<a href=\"index.html\">home</a><img src=\"missing.gif\"><img src=\"stall.gif\">");
    server.AddPage("/up.html", "<img src=\"img/logo.gif\">");
    server.AddPage("/d/sub/deep.htm", "<img src=\"../pics/t.gif\">");
    for (const char* p : {"/img/logo.gif", "/d/pics/a%20b.png", "/d/pics/100%25.jpg",
                          "/d/pics/t.gif", "/img/bg.png", "/d/img2/bg.png", "/d/photo.jpg"})
        server.AddPage(p, "picture", "image/png");
}

TEST(SavePages, EveryReferenceLeadsSomewhereUnderEveryOption) {
    // The far page stands on a second host that needs no name service.
    SiteServer server, far("127.0.0.2");
    far.AddPage("/far.html", "far");
    AddRichSite(server, far.Url("/far.html"));
    const SaveOptions options[] = {
        {1, 1, 0, 0}, {1, 1, 0, 1}, {1, 0, 0, 1}, {1, 1, 1, 1}, {1, 0, 0, 0}};
    for (const SaveOptions& o : options) {
        SCOPED_TRACE(testing::Message() << o.savePictures << o.sameSiteOnly << o.maxDepth);
        Sandbox box;
        size_t before = server.RequestedTargets().size(), farBefore = far.RequestedTargets().size();
        ASSERT_EQ(SavePages(server.Url("/d/index.html"), box.Path("index.html"), o), 1);
        ExpectSoundPages(box.Root());
        Targets targets = server.RequestedTargets();
        targets.erase(targets.begin(), targets.begin() + static_cast<long>(before));
        // The second reference to the logo finds its file there and is not fetched again.
        EXPECT_LE(std::count(targets.begin(), targets.end(), "/img/logo.gif"), 1);
        EXPECT_EQ(far.RequestedTargets().size() - farBefore,
                  o.maxDepth >= 1 && o.sameSiteOnly != 1 ? 1u : 0u);
        EXPECT_EQ(std::count(targets.begin(), targets.end(), "/d/frame.html"), 1);
        EXPECT_LE(std::count(targets.begin(), targets.end(), "/d/missing.gif"), 1);
    }
    // A stop in the middle leaves what was saved sound too.
    for (const char* at : {"/d/css/print.css", "/d/stall.gif"}) {
        SCOPED_TRACE(at);
        SiteServer server;
        AddRichSite(server, far.Url("/far.html"));
        server.AddStalled(at, std::string(5000, 's'), 10);
        Sandbox box;
        {
            StopWhenRequested stop(server, at);
            EXPECT_EQ(SavePages(server.Url("/d/index.html"), box.Path("index.html"), {1, 1, 0, 1}),
                      0);
        }
        EXPECT_FALSE(FilesBelow(box.Root()).empty());
        ExpectSoundPages(box.Root());
    }
}

// Two saved pages that link to each other are linked locally, whichever was saved first; an
// item that cannot be fetched is named by its address, and is asked for once however often
// it is named.
TEST(SavePages, SavedPagesLinkEachOtherAndFailedItemsKeepTheirAddress) {
    SiteServer server;
    server.AddPage("/S.html",
                   "<a href=\"P.html\">p</a><img src=\"gone.gif\"><a href=\"gone.html\">g</a>");
    server.AddPage("/P.html",
                   "<a href=\"S.html#top\">s</a><a href=\"P.html\">self</a><img src=gone.gif>"
                   "<a href=\"gone.html\">g</a>");
    Sandbox box;
    ASSERT_EQ(SavePages(server.Url("/S.html"), box.Path("index.html"), {1, 1, 0, 1}), 1);
    const std::string h = LocalHost(server.Port());
    EXPECT_EQ(ReadFile(box.Root() / "index.html"),
              "<a href=\"http--" + h + "-P.html\">p</a><img src=\"" + server.Url("/gone.gif") +
                  "\"><a href=\"" + server.Url("/gone.html") + "\">g</a>");
    EXPECT_EQ(ReadFile(box.Root() / ("http--" + h + "-P.html")),
              "<a href=\"index.html#top\">s</a><a href=\"http--" + h +
                  "-P.html\">self</a><img src=" + server.Url("/gone.gif") + "><a href=\"" +
                  server.Url("/gone.html") + "\">g</a>");
    EXPECT_EQ(Sorted(server.RequestedTargets()),
              (Targets{"/P.html", "/S.html", "/gone.gif", "/gone.html"}));
    ExpectSoundPages(box.Root());
}

// The items of a page come over a few connections kept alive, fetched ahead of their turn,
// and are visited in the page's order all the same.
TEST(SavePages, ItemsComeAheadOverAFewKeptAliveConnections) {
    SiteServer server;
    server.KeepConnectionsAlive();
    std::string page;
    Targets order{"/S.html"};
    for (int i = 0; i < 40; ++i) {
        std::string name = "/p" + std::to_string(i) + ".gif";
        page += "<img src=\"" + name.substr(1) + "\">";
        server.AddPage(name, "GIF" + std::to_string(i), "image/gif");
        order.push_back(name);
    }
    server.AddPage("/S.html", page);
    Sandbox box;
    ASSERT_EQ(SavePages(server.Url("/S.html"), box.Path("index.html"), {1, 1, 0, 0}), 1);
    Targets visited;
    for (const Report& report : Reports())
        visited.push_back(std::string(report.record.url).substr(server.Url("").size()));
    EXPECT_EQ(visited, order);
    EXPECT_EQ(server.RequestedTargets().size(), order.size());
    // The workers and the visit itself: never a connection per item.
    EXPECT_LE(server.ConnectionCount(), 7u);
    ExpectSoundPages(box.Root());
}

TEST(SavePages, AnExistingFileIsNeitherFetchedNorFollowed) {
    OrderSite site;
    Sandbox box;
    WriteFile(box.Root() / "index.html", "mine");
    EXPECT_EQ(SavePages(site.Url(), box.Path("index.html"), {1, 1, 0, 1}), 1);
    EXPECT_TRUE(site.server.RequestedTargets().empty());
    EXPECT_TRUE(Reports().empty());
    EXPECT_EQ(ReadFile(box.Root() / "index.html"), "mine");
}

TEST(SavePages, WithoutAFolderPartItemsGoIntoTheCurrentFolder) {
    OrderSite site;
    Sandbox box;
    fs::path previous = fs::current_path();
    fs::current_path(box.Root());
    Failures().clear();
    qm_SetFailureCallback(RecordFailure);
    int32_t result = SavePages(site.Url(), "index.html", {1, 1, 0, 0});
    qm_SetFailureCallback(nullptr);
    fs::current_path(previous);
    EXPECT_EQ(result, 1) << testing::PrintToString(Failures());
    std::string h = site.Host();
    EXPECT_EQ(FilesBelow(box.Root()),
              (Targets{"http-/" + h + "/a.gif", "http-/" + h + "/b.gif", "index.html"}));
}

// References built to climb out, name devices or overflow paths: every file written lies
// inside the save folder.
TEST(SavePages, HostileNamesStayInsideTheSaveFolder) {
    std::string page =
        "<img src=\"../../../../../escape1.gif\"><img src=\"%2e%2e/%2e%2e/%2E%2E/escape2.gif\">"
        "<img src=\"/a/..%2f..%2fescape3.gif\"><img src=\"con/aux.gif\"><img src=\"nul.png\">"
        "<img src=\"COM1.x.jpg\"><img src=\"dir./x.gif\"><img src=\"c\x01\x1f"
        "d.gif\">"
        "<img src=\"..\\..\\..\\escape4.gif\"><a href=\"../../../../up.html\">"
        "<img src=\"" +
        std::string(600, 'L') + ".gif\"><img src=\"" + std::string(240, 'M') +
        ".gif\">"
        "<img src=\"" +
        std::string(100, 'N') + "/" + std::string(100, 'O') + ".gif\">";
    TestServer server([page](const Request& r) {
        return Script().Send(
            HttpResponseWithLength(200, r.target == "/d/index.html" ? page : "item"));
    });
    Sandbox box;
    fs::create_directories(box.Root() / "save");
    ASSERT_EQ(SavePages(server.Url("/d/index.html"), box.Path("save\\index.html"), {1, 1, 0, 1}),
              1);
    Targets files = FilesBelow(box.Root());
    EXPECT_GE(files.size(), 10u);
    for (const std::string& f : files) EXPECT_EQ(f.rfind("save/", 0), 0u) << f;
    for (const Report& report : Reports())
        EXPECT_EQ(std::string(report.record.localPath).rfind(box.Path("save\\"), 0), 0u);
}

// A stop, from the callback or from another thread while a body stalls, ends the save with
// 0; no item is written after it, nothing of the item in hand is left (not even a
// temporary file), and the next call runs normally.
TEST(SavePages, AStopEndsTheSaveAndLeavesNoPartialFile) {
    OrderSite site;
    Sandbox box;
    EXPECT_EQ(SavePages(site.Url(), box.Path("index.html"), {1, 1, 0, 1}, ReportAndStop), 0);
    EXPECT_EQ(Reports().size(), 1u);
    EXPECT_EQ(FilesBelow(box.Root()), Targets{});

    site.server.AddStalled("/b.gif", std::string(100000, 'b'), 5000);
    Sandbox stalled;
    {
        StopWhenRequested stop(site.server, "/b.gif");
        EXPECT_EQ(SavePages(site.Url(), stalled.Path("index.html"), {1, 1, 0, 1}), 0);
    }
    // a.gif may have come ahead of its turn and been written before the stop, or not.
    Targets left = FilesBelow(stalled.Root());
    left.erase(std::remove(left.begin(), left.end(), "http-/" + site.Host() + "/a.gif"),
               left.end());
    EXPECT_EQ(left, Targets{"index.html"});

    OrderSite fresh;
    Sandbox next;
    EXPECT_EQ(SavePages(fresh.Url(), next.Path("index.html"), {1, 1, 0, 1}), 1);
    EXPECT_EQ(FilesBelow(next.Root()).size(), 6u);
}

TEST(CrawlArguments, AreCheckedBeforeAnythingIsDone) {
    SiteServer site;
    site.AddPage("/", "x");
    Sandbox box;
    const std::string page =
        site.Url("/?");  // a query pads the URL; the page is served all the same
    std::string path259 = box.Path(std::string(259 - box.Path().size() - 1, 'p'));
    std::string path260 = path259 + "p";
    std::string shortPath = box.Path("index.html");
    std::string url511 = page + std::string(511 - page.size(), 'u');
    std::string url512 = url511 + "u";
    SaveOptions options{1, 1, 0, 0};
    // A picture save keeps the page in a temporary folder beside it: a 259-character path
    // passes the checks but leaves it no room, and that save has nothing to show. A URL of
    // 511 characters passes too, but its path is too long to fetch: the page saved before
    // (`present`) is what shows the save ran.
    struct {
        const char* name;
        const char* url;
        const char* path;
        SaveOptions* options;
        bool present;
        int32_t pages, pictures;
    } cases[] = {
        {"null url", nullptr, shortPath.c_str(), &options, false, 0, 0},
        {"empty url", "", shortPath.c_str(), &options, false, 0, 0},
        {"null path", page.c_str(), nullptr, &options, false, 0, 0},
        {"empty path", page.c_str(), "", &options, false, 0, 0},
        {"null options", page.c_str(), shortPath.c_str(), nullptr, false, 0, 0},
        {"path of 259", page.c_str(), path259.c_str(), &options, false, 1, 0},
        {"path of 260", page.c_str(), path260.c_str(), &options, false, 0, 0},
        {"url of 511", url511.c_str(), shortPath.c_str(), &options, true, 1, 0},
        {"url of 512", url512.c_str(), shortPath.c_str(), &options, true, 0, 0},
    };
    for (const auto& c : cases) {
        if (c.present) WriteFile(box.Root() / "index.html", "saved before");
        EXPECT_EQ(qm_SavePages(c.url, c.path, c.options, nullptr), c.pages) << c.name;
        EXPECT_EQ(FilesBelow(box.Root()).size(), c.pages || c.present ? 1u : 0u) << c.name;
        for (const auto& entry : fs::directory_iterator(box.Root())) fs::remove_all(entry);
        SaveOptions written{7, 7, 7, 7};
        EXPECT_EQ(qm_SavePictures(c.url, c.path, c.options ? &written : nullptr, nullptr),
                  c.pictures)
            << c.name;
        // Options are forced once the texts and the record have passed their checks.
        bool checked = c.url && c.path && *c.url && *c.path && c.options;
        EXPECT_EQ(written.maxDepth, checked ? 0 : 7) << c.name;
        EXPECT_TRUE(FilesBelow(box.Root()).empty()) << c.name;
    }
}

TEST(SavePages, AStartPageThatCannotBeFetchedFailsTheSave) {
    Sandbox box;
    SaveOptions options{1, 1, 0, 1};
    const char* nobody = "http://127.0.0.1:1/";  // refused at once
    EXPECT_EQ(qm_SavePages(nobody, box.Path("index.html").c_str(), &options, nullptr), 0);
    EXPECT_EQ(qm_SavePictures(nobody, box.Path("index.html").c_str(), &options, nullptr), 0);
    // Asked to save nothing, or finding the page saved already, is not a failure.
    SaveOptions nothing{0, 0, 0, 0};
    EXPECT_EQ(qm_SavePages(nobody, box.Path("index.html").c_str(), &nothing, nullptr), 1);
    WriteFile(box.Root() / "index.html", "kept");
    EXPECT_EQ(qm_SavePages(nobody, box.Path("index.html").c_str(), &options, nullptr), 1);
    EXPECT_EQ(FilesBelow(box.Root()), Targets{"index.html"});
}

// Redirects are followed; an item keeps its name and kind, a page's references are read
// against the URL it came from, and every item that is not saved is reported with why.
TEST(SavePages, FollowsRedirectsAndReportsEveryItemItCouldNotSave) {
    SiteServer site;
    const std::string h = LocalHost(site.Port());
    auto redirect = [](int status, const std::string& to) {
        return Script().Send(HttpResponse(status, {{"Location", to}}, ""));
    };
    site.Add("/start", redirect(301, "/dir/page.html"));
    site.AddPage(
        "/dir/page.html",
        "<img src=\"a.gif\"><img src=\"moved.gif\"><img src=\"gone.gif\"><img src=\"loop.gif\">"
        "<img src=\"cut.gif\">");
    site.AddPage("/dir/a.gif", "GIF-a", "image/gif");
    site.Add("/dir/moved.gif", redirect(308, "/pictures/real.gif"));
    site.AddPage("/pictures/real.gif", "GIF-real", "image/gif");
    site.Add("/dir/loop.gif", redirect(302, "/dir/loop.gif"));
    site.Add("/dir/cut.gif", Script().Send(HttpResponse(200, {{"Content-Length", "100"}}, "GIF-")));
    site.Add("/broken", redirect(302, "/gone.html"));

    Sandbox box;
    qm_SetFailureCallback(RecordFailure);
    Failures().clear();
    EXPECT_EQ(SavePages(site.Url("/start"), box.Path("index.html"), {1, 1, 0, 0}), 1);
    EXPECT_EQ(Reports().at(0).record.url, site.Url("/dir/page.html"));
    EXPECT_EQ(Reports().at(0).record.kind, KIND_PAGE);
    EXPECT_EQ(FilesBelow(box.Root()), (Targets{"http-/" + h + "/dir/a.gif",
                                               "http-/" + h + "/dir/moved.gif", "index.html"}));
    EXPECT_EQ(ReadFile(box.Root() / "http-" / h / "dir" / "moved.gif"), "GIF-real");
    EXPECT_EQ(Failures(),
              (Targets{"3 2 " + site.Url("/dir/gone.gif") + ": HTTP status 404",
                       "4 2 " + site.Url("/dir/loop.gif") + ": too many redirects",
                       "5 2 " + site.Url("/dir/cut.gif") + ": truncated after 4 of 100 bytes"}));

    // A start page that fails fails the save, with its reason.
    Failures().clear();
    EXPECT_EQ(SavePages(site.Url("/broken"), box.Path("other.html"), {1, 1, 0, 0}), 0);
    EXPECT_EQ(Failures(), Targets{"0 1 " + site.Url("/broken") + ": HTTP status 404"});
    qm_SetFailureCallback(nullptr);
}

// A frame whose document holds a frame with a new name, and a style sheet that imports the
// next, each without end: both exports follow them MOST_EMBEDDING_LEVELS levels below the
// page, and the last one saved names the next by its address.
TEST(SavePages, ChainsOfFramesAndStyleSheetsEndAtTheLevelLimit) {
    TestServer server([](const Request& r) {
        std::string body = "<iframe src=\"f1.html\"></iframe><link rel=stylesheet href=\"s1.css\">";
        if (r.target.rfind("/f", 0) == 0)
            body =
                "<iframe src=\"f" + std::to_string(std::stoi(r.target.substr(2)) + 1) + ".html\">";
        if (r.target.rfind("/s", 0) == 0)
            body = "@import \"s" + std::to_string(std::stoi(r.target.substr(2)) + 1) + ".css\";";
        return Script().Send(HttpResponseWithLength(200, body));
    });
    Targets expected{"/index.html"};
    for (int n = 1; n <= MOST_EMBEDDING_LEVELS; ++n)
        expected.insert(expected.end(),
                        {"/f" + std::to_string(n) + ".html", "/s" + std::to_string(n) + ".css"});
    std::sort(expected.begin(), expected.end());
    for (bool pictures : {false, true}) {
        SCOPED_TRACE(pictures ? "pictures" : "pages");
        Sandbox box;
        size_t before = server.Log().size();
        SaveOptions options{1, 1, 0, 0};
        std::string url = server.Url("/index.html"), path = box.Path("index.html");
        EXPECT_EQ((pictures ? qm_SavePictures : qm_SavePages)(url.c_str(), path.c_str(), &options,
                                                              nullptr),
                  1);
        Targets targets;
        for (size_t i = before; i < server.Log().size(); ++i)
            targets.push_back(server.Log()[i].target);
        std::sort(targets.begin(), targets.end());
        EXPECT_EQ(targets, expected);
        if (!pictures) ExpectSoundPages(box.Root());
    }
}

// The exports' save budget, shorter for one test.
struct ShortBudget {
    explicit ShortBudget(qm::SaveBudget budget) { qm::ExportState().budget = budget; }
    ~ShortBudget() { qm::ExportState().budget = qm::SaveBudget(); }
};

// Past its budget of items or bytes a save takes no new item and returns 0, telling the
// failure callback once; what it saved stays, and names what it left out by its address.
TEST(SavePages, ABudgetEndsTheSaveWithWhatWasSavedSound) {
    SiteServer server;
    AddRichSite(server, "http://127.0.0.2:1/far.html");
    struct {
        qm::SaveBudget budget;
        Targets targets;
        std::string failure;
    } cases[] = {
        {{5, SAVE_BUDGET_BYTES},
         {"/d/index.html", "/d/css/site.css", "/d/css/print.css", "/img/logo.gif",
          "/d/pics/a%20b.png"},
         "-1 0 " + server.Url("/d/pics/100%25.jpg") + ": save budget reached: 5 items"},
        {{SAVE_BUDGET_ITEMS, 100},
         {"/d/index.html"},
         "-1 0 " + server.Url("/d/css/site.css") + ": save budget reached: 100 bytes"},
    };
    qm_SetFailureCallback(RecordFailure);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failure);
        ShortBudget budget(c.budget);
        Sandbox box;
        size_t before = server.RequestedTargets().size();
        Failures().clear();
        EXPECT_EQ(SavePages(server.Url("/d/index.html"), box.Path("index.html"), {1, 1, 0, 1}), 0);
        Targets targets = server.RequestedTargets();
        targets.erase(targets.begin(), targets.begin() + static_cast<long>(before));
        // Past the item budget nothing is even queued; past the byte budget, bodies already
        // fetched ahead are thrown away unwritten.
        if (c.budget.bytes == SAVE_BUDGET_BYTES) {
            EXPECT_EQ(Sorted(targets), Sorted(c.targets));
        }
        EXPECT_EQ(Failures(), Targets{c.failure});
        EXPECT_EQ(FilesBelow(box.Root()).size(), c.targets.size());
        ExpectSoundPages(box.Root());
    }
    qm_SetFailureCallback(nullptr);

    // qmsave says so in its closing lines, and counts the save as one with items left out.
    ShortBudget budget({2, SAVE_BUDGET_BYTES});
    Sandbox box;
    std::string url = server.Url("/d/index.html"), path = box.Path("index.html");
    char* arguments[] = {url.data(), path.data()};
    testing::internal::CaptureStderr();
    int status = qmsave::Save("page", 2, arguments);
    std::string said = testing::internal::GetCapturedStderr();
    qm_SetFailureCallback(nullptr);
    EXPECT_EQ(status, 3);
    EXPECT_NE(
        said.find(
            "\nqmsave: 2 items saved (1 page, 0 pictures, 1 style sheet, 0 frames, 0 scripts, "
            "0 fonts, 0 media files), 0 failed\nqmsave: stopped at the save budget of 2 "
            "items; the items left out keep their addresses\n"),
        std::string::npos)
        << said;
}

TEST(OldSavePages, WritesTheBodyOfOneFetch) {
    SiteServer server;
    server.AddPage("/x.html", "<img src=a.gif>");
    Sandbox box;
    std::string url = server.Url("/x.html");
    UrlRequest request{};
    request.url = url.c_str();
    request.referer = "";
    char reserved[16] = {};
    std::string file = box.Path("x.html");
    EXPECT_EQ(qm_OldSavePages(&request, file.c_str(), reserved), 1);
    EXPECT_EQ(ReadFile(box.Root() / "x.html"), "<img src=a.gif>");  // not scanned
    EXPECT_EQ(qm_OldSavePages(&request, box.Path("no\\such\\x.html").c_str(), reserved), 0);
    EXPECT_EQ(qm_OldSavePages(nullptr, file.c_str(), reserved), 0);
    EXPECT_EQ(qm_OldSavePages(&request, file.c_str(), nullptr), 0);
    EXPECT_EQ(FilesBelow(box.Root()), Targets{"x.html"});
}

}  // namespace
}  // namespace qmtest
