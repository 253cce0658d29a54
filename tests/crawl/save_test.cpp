// The saving exports against small sites on the scripted server, and the saved files: every
// saved reference must lead somewhere. qm_SavePictures puts the pictures flat in the chosen
// folder, everything else in a temporary folder that is gone afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "crawl_state.h"
#include "failure_log.h"
#include "qm_url.h"
#include "qmsave_run.h"
#include "qmsave_save.h"
#include "scratch.h"
#include "stop_when.h"
#include "test_server.h"
#include "text_checks.h"
#include "tls_front.h"

namespace qmtest {
namespace {

namespace fs = std::filesystem;
using Files = std::vector<std::string>;

// The relative references (src=, href=, url() of the saved pages and style sheets that name
// no saved file once decoded as a browser does, as "file: reference".
Files BrokenReferences(const fs::path& root) {
    // A value as a browser reads it: in quotes, or up to white space, '>' or ')'.
    static const std::regex reference(R"((?:src=|href=|url\()\s*(?:"([^"]*)|'([^']*)|([^\s>)]*)))",
                                      std::regex::icase);
    static const std::regex online("^(#|[a-z][a-z0-9+.-]*:)", std::regex::icase);
    Files broken;
    for (const std::string& page : FilesBelow(root)) {
        if (page.find(".htm") == std::string::npos && page.find(".css") == std::string::npos)
            continue;
        const std::string text = ReadFile(root / page);
        for (std::sregex_iterator m(text.begin(), text.end(), reference), end; m != end; ++m) {
            const std::string raw = (*m)[1].str() + (*m)[2].str() + (*m)[3].str();
            std::string value = raw.substr(0, raw.find_first_of("#?")), file;
            for (size_t at; (at = value.find("&amp;")) != std::string::npos;)
                value.erase(at + 1, 4);
            if (value.empty() || std::regex_search(raw, online)) continue;
            // The file a browser opens: %-escapes decoded.
            for (size_t i = 0; i < value.size(); ++i) {
                bool escape = value[i] == '%' && i + 2 < value.size() &&
                              std::isxdigit(static_cast<unsigned char>(value[i + 1])) &&
                              std::isxdigit(static_cast<unsigned char>(value[i + 2]));
                file += escape ? static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16))
                               : value[i];
                if (escape) i += 2;
            }
            if (!fs::is_regular_file((root / page).parent_path() / fs::path(file).make_preferred()))
                broken.push_back(page + ": " + raw);
        }
    }
    return broken;
}

// The records the callback of the running call reported, in order.
std::vector<PageRecord>& Reports() {
    static std::vector<PageRecord> reports;
    return reports;
}

void QM_CALLBACK RecordReport(int32_t, const PageRecord* record) { Reports().push_back(*record); }

Files Sorted(Files files) {
    std::sort(files.begin(), files.end());
    return files;
}

// The visiting-order site: S holds pictures a and b and links to P and Q; P holds picture c
// and a link to R; Q links back to S and to itself.
struct OrderSite {
    SiteServer server;
    OrderSite() {
        server.AddPage("/S.html",
                       "<html><img src=\"a.gif\"><img src='b.gif'><a href=\"P.html\">P</a> "
                       "<a href=\"./Q.html#x\">Q</a></html>");
        server.AddPage("/P.html", "<img src=\"c.gif\"><a href=\"R.html\">R</a>");
        server.AddPage("/Q.html", "<a href=\"S.html#top\">s</a><a href=\"Q.html\">self</a>");
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

// qmsave's save: the same in the site's own layout.
int32_t SaveSite(const std::string& url, const std::string& savePath, SaveOptions options,
                 SavePageCallback callback = RecordReport) {
    Reports().clear();
    SaveSettings* settings = qm_NewSaveSettings();
    qm_SetSaveSiteLayout(settings, 1);
    const int32_t result =
        qm_SavePagesWithSettings(url.c_str(), savePath.c_str(), &options, callback, settings);
    qm_FreeSaveSettings(settings);
    return result;
}

// The paths of the items the callback reported, in order.
Files Visited(const TestServer& server) {
    Files visited;
    for (const PageRecord& record : Reports())
        visited.push_back(std::string(record.url).substr(server.Url("").size()));
    return visited;
}

void QM_CALLBACK ReportAndStop(int32_t index, const PageRecord* record) {
    RecordReport(index, record);
    qm_StopSave();
}

// A record as one line: kind, depth, sameSite, url, localPath, referer.
std::string Line(const PageRecord& r) {
    return std::to_string(r.kind) + " " + std::to_string(r.depth) + " " +
           std::to_string(r.sameSite) + " " + r.url + " " + r.localPath + " " + r.referer;
}

// Embedded items right after their page, links at the end with one more depth: each visited
// in that order, fetched once and written, and no saved reference leads nowhere.
TEST(SavePages, VisitsInQueueOrderAndStopsAtTheDepth) {
    const std::pair<int32_t, Files> cases[] = {
        {2, {"/S.html", "/a.gif", "/b.gif", "/P.html", "/c.gif", "/Q.html", "/R.html"}},
        {0, {"/S.html", "/a.gif", "/b.gif"}},
        {-1, {}},
        {1, {"/S.html", "/a.gif", "/b.gif", "/P.html", "/c.gif", "/Q.html"}},
    };
    for (const auto& [maxDepth, targets] : cases) {
        SCOPED_TRACE(maxDepth);
        OrderSite site;
        Sandbox box;
        // At depth 0 the save path has no folder part: the files go into the current folder.
        const fs::path previous = fs::current_path();
        fs::current_path(box.Root());
        FailureLog failures;
        const std::string path = maxDepth == 0 ? "index.html" : box.Path("index.html");
        int32_t result = SavePages(site.Url(), path, {1, 1, 0, maxDepth});
        fs::current_path(previous);
        EXPECT_EQ(result, 1) << testing::PrintToString(FailureLog::Lines());
        EXPECT_EQ(Visited(site.server), targets);
        // The fetches ahead ask in whatever order they run.
        EXPECT_EQ(site.server.RequestedTargets(), Sorted(targets));
        EXPECT_EQ(FilesBelow(box.Root()).size(), targets.size());
        EXPECT_EQ(BrokenReferences(box.Root()), Files());
        if (maxDepth != 1) continue;

        // Each report carries the record as it is written next; neither the fragment nor the
        // "./" are part of Q's, and the server saw the page Q was found on as its referer.
        const std::string h = site.Host();
        EXPECT_EQ(Line(Reports()[1]), "2 0 1 " + site.Url("/a.gif") + " " +
                                          box.Path("http-\\" + h + "\\a.gif") + " " + site.Url());
        EXPECT_EQ(Line(Reports()[5]), "1 1 1 " + site.Url("/Q.html") + " " +
                                          box.Path("http--" + h + "-Q.html") + " " + site.Url());
        for (const Request& request : site.server.Log())
            EXPECT_TRUE(request.target != "/Q.html" || request.Header("Referer") == site.Url());
        // Saved pages link each other locally, whichever was saved first.
        EXPECT_EQ(ReadFile(box.Root() / "index.html"),
                  "<html><img src=\"http-/" + h + "/a.gif\"><img src='http-/" + h +
                      "/b.gif'><a href=\"http--" + h + "-P.html\">P</a> <a href=\"http--" + h +
                      "-Q.html#x\">Q</a></html>");
        EXPECT_EQ(ReadFile(box.Root() / ("http--" + h + "-Q.html")),
                  "<a href=\"index.html#top\">s</a><a href=\"http--" + h + "-Q.html\">self</a>");
    }
}

// A site with the kinds of reference real pages use, some of them failing.
void AddRichSite(SiteServer& server, const std::string& farUrl) {
    server.AddPage(
        "/d/index.html",
        "<link rel=stylesheet href=\"css/site.css\"><link href='/d/css/print.css' rel=stylesheet>"
        "<img src=\"../img/logo.gif\" alt=x><IMG SRC='pics/a%20b.png'><img src=\"pics/100%25.jpg\">"
        "<img\nsrc=pics/t.gif\twidth=1><img src=\"../img/logo.gif\"><a href=\"page.php?a=1&amp;b=2"
        "#part\">q</a><a href='../up.html'>up</a><a href=\"/d/sub/deep.htm\">deep</a><a href=\"" +
            farUrl +
            "\">far</a><frame src=\"frame.html\"><div style=\"background:url(img2/bg.png)\">"
            "<img src=\"missing.gif\"><a href=\"missing.html\">m</a><script src=\"js/missing.js\">"
            "</script><link rel=stylesheet href=\"css/missing.css\">");
    server.AddPage("/d/css/site.css", "body{background:url('../../img/bg.png')}", "text/css");
    server.AddPage("/d/css/print.css", "p{color:red}", "text/css");
    server.AddPage("/d/frame.html", "<img src=\"pics/a%20b.png\"><a href=\"../up.html\">u</a>");
    server.AddPage("/d/page.php", "<a href=\"index.html\">home</a><img src=\"missing.gif\">");
    server.AddPage("/up.html", "<img src=\"img/logo.gif\">");
    server.AddPage("/d/sub/deep.htm", "<img src=\"../pics/t.gif\">");
    for (const char* p : {"/img/logo.gif", "/d/pics/a%20b.png", "/d/pics/100%25.jpg",
                          "/d/pics/t.gif", "/img/bg.png", "/d/img2/bg.png"})
        server.AddPage(p, "picture", "image/png");
}

// Whatever the options and the layout, every saved reference leads somewhere and no URL is
// asked for twice.
TEST(SavePages, EveryReferenceLeadsSomewhereUnderEveryOption) {
    // The far page stands on a second host that needs no name service.
    SiteServer server, far("127.0.0.2");
    far.AddPage("/far.html", "far");
    AddRichSite(server, far.Url("/far.html"));
    const SaveOptions options[] = {
        {1, 1, 0, 0}, {1, 1, 0, 1}, {1, 0, 0, 1}, {1, 1, 1, 1}, {1, 0, 0, 0}};
    for (const SaveOptions& o : options) {
        SCOPED_TRACE(testing::Message() << o.savePictures << o.sameSiteOnly << o.maxDepth);
        for (auto save : {SavePages, SaveSite}) {
            Sandbox box;
            size_t before = server.Log().size(), farBefore = far.Log().size();
            ASSERT_EQ(save(server.Url("/d/index.html"), box.Path("index.html"), o, RecordReport),
                      1);
            EXPECT_EQ(BrokenReferences(box.Root()), Files());
            Files targets = server.RequestedTargets(before);
            EXPECT_EQ(std::adjacent_find(targets.begin(), targets.end()), targets.end());
            EXPECT_EQ(std::count(targets.begin(), targets.end(), "/d/frame.html"), 1);
            EXPECT_EQ(far.RequestedTargets(farBefore).size(),
                      o.maxDepth >= 1 && o.sameSiteOnly != 1 ? 1u : 0u);
        }
    }
}

// The site's own layout: every item in the folders of its host and path under its own name,
// each reference written relative to the folder of the item that holds it, and the named file
// leading to the start page, which stands where the site has it. A query, a case clash, a name
// too long for the folder and hostile parts keep safe names of their own.
TEST(SaveSite, KeepsTheSitesFoldersAndNamesWithRelativeReferences) {
    SiteServer server;
    // Longer than a file name may be, and with its folders too long for MAX_PATH.
    const std::string longName = "/" + std::string(245, 'l') + ".html";
    server.AddPage("/docs/guide/",
                   "<link rel=stylesheet href=\"../style/x.css\"><img src=\"pic.png\">"
                   "<a href=\"ch1.html\">1</a><a href=\"/Docs/Guide/CH1.html\">2</a>"
                   "<a href=\"page?id=1\">3</a><a href=\"page?id=2\">4</a>"
                   "<iframe src=\"../frames/f\"></iframe><a href=\"" +
                       longName +
                       "\">5</a><a href=\"a/..%2f..%2fcon. /nul\">6</a>"
                       "<a href=\"q*z|w.html\">7</a>");
    const std::string css =
        "@font-face{src:url(../fonts/f.woff)}p{background:url(\"../img/bg.png\")}";
    server.AddPage("/docs/style/x.css", css, "text/css");
    server.AddPage("/docs/guide/ch1.html",
                   "<a href=\"./\">up</a><link rel=stylesheet href=\"../style/x.css\">");
    server.AddPage("/Docs/Guide/CH1.html", "<a href=\"/docs/guide/ch1.html\">other</a>");
    server.AddPage("/docs/frames/f", "<img src=\"../img/bg.png\">");
    for (const std::string& page :
         Files{"/docs/guide/page", longName, "/docs/guide/a/..%2f..%2fcon.%20/nul",
               "/docs/guide/q*z|w.html"})
        server.AddPage(page, "<img src=\"/docs/guide/pic.png\">");
    for (const char* file : {"/docs/fonts/f.woff", "/docs/img/bg.png", "/docs/guide/pic.png"})
        server.AddPage(file, "bytes", "application/octet-stream");

    Sandbox box;
    FailureLog failures;
    const std::string h = LocalHost(server.Port()), start = server.Url("/docs/guide/");
    ASSERT_EQ(SaveSite(start, box.Path("index.html"), {1, 1, 0, 1}), 1);
    EXPECT_EQ(FailureLog::Lines(), Files());
    EXPECT_EQ(std::string(Reports().at(0).localPath),
              box.Path("http-\\" + h + "\\docs\\guide\\index.html"));
    auto hashed = [&](const std::string& path) {
        char hex[9];
        qm::ShortHash(server.Url(path).c_str(), hex);
        return std::string(hex);
    };
    const std::string d = "http-/" + h + "/docs/";
    // Compared in lower case: where case does not count, the second spelling of a folder is
    // the first one's.
    auto lower = [](Files files) {
        for (std::string& f : files)
            for (char& c : f) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return Sorted(files);
    };
    EXPECT_EQ(lower(FilesBelow(box.Root())),
              lower({"index.html", d + "guide/index.html", d + "style/x.css", d + "fonts/f.woff",
                     d + "img/bg.png", d + "guide/pic.png", d + "guide/ch1.html",
                     "http-/" + h + "/Docs/Guide/CH1-" + hashed("/Docs/Guide/CH1.html") + ".html",
                     d + "guide/page-id=1.html", d + "guide/page-id=2.html", d + "frames/f.html",
                     "http-/" + h + "/" + hashed(longName) + ".html",
                     d + "guide/a/..%2f..%2fcon.%20/nul-.html", d + "guide/q-z-w.html"}));
    EXPECT_EQ(BrokenReferences(box.Root()), Files());
    // Written from where each item stands: the style sheet as it came, a page's links to the
    // start page and to the page whose name clashed climbing to them.
    EXPECT_EQ(ReadFile(box.Root() / (d + "style/x.css")), css);
    EXPECT_EQ(ReadFile(box.Root() / (d + "guide/ch1.html")),
              "<a href=\"index.html\">up</a><link rel=stylesheet href=\"../style/x.css\">");
    const std::string page = ReadFile(box.Root() / (d + "guide/index.html"));
    EXPECT_TRUE(Holds(page, "<a href=\"../../Docs/Guide/CH1-"));
    EXPECT_TRUE(Holds(page, "<iframe src=\"../frames/f.html\">"));
    EXPECT_TRUE(Holds(page, "<a href=\"../../" + hashed(longName) + ".html\">"));
    const std::string leading = ReadFile(box.Root() / "index.html");
    EXPECT_TRUE(Holds(leading, "content=\"0; url=" + d + "guide/index.html\""));
    EXPECT_TRUE(Holds(leading, "<a href=\"" + d + "guide/index.html\">"));

    // A later save into the same folder, of the folder asked for without its '/', fetches the
    // start page anew, keeps it where it came from and finds the rest there.
    server.Add("/docs/guide", Redirect(301, "/docs/guide/"));
    const Files saved = FilesBelow(box.Root());
    const size_t before = server.Log().size();
    ASSERT_EQ(SaveSite(server.Url("/docs/guide"), box.Path("index.html"), {1, 1, 0, 1}), 1);
    EXPECT_EQ(server.RequestedTargets(before), (Files{"/docs/guide", "/docs/guide/"}));
    EXPECT_EQ(FilesBelow(box.Root()), saved);
    EXPECT_EQ(ReadFile(box.Root() / "index.html"), leading);

    // A folder that leaves no room for the site's folders within MAX_PATH: the start page is
    // saved at the named file itself, and names what found no room by its address.
    const std::string deep(244 - box.Path().size(), 'f');
    ASSERT_EQ(SaveSite(start, box.Path(deep + "\\p.html"), {1, 1, 0, 0}), 1);
    const std::string alone = ReadFile(box.Root() / deep / "p.html");
    EXPECT_FALSE(Holds(alone, "http-equiv"));
    EXPECT_TRUE(Holds(alone, "<img src=\"" + server.Url("/docs/guide/pic.png") + "\">"));
}

// In the site's layout, what a script loads is saved where the script and the site's root name
// it, and a search form leads to the saved page; one of either that does not exist is no
// failure.
TEST(SaveSite, KeepsWhatScriptsLoadAndLeadsSearchFormsToTheSavedPage) {
    SiteServer server;
    server.AddPage("/doc/api/index.html",
                   "<script>var pathtoroot = \"../\";</script><script src=\"../js/main.js\">"
                   "</script><form action=\"../search.html\"><input name=q></form>"
                   "<a href=\"../search.html\">search</a><form action=\"find\"></form>");
    const std::string script = "load(pathtoroot + 'search-index.js'); load('missing.js')";
    server.AddPage("/doc/js/main.js", script, "text/javascript");
    server.AddPage("/doc/search-index.js", "index=[]", "text/javascript");
    server.AddPage("/doc/search.html", "<script src=\"search-index.js\"></script>");
    Sandbox box;
    FailureLog failures;
    ASSERT_EQ(SaveSite(server.Url("/doc/api/index.html"), box.Path("index.html"), {1, 1, 0, 1}), 1);
    EXPECT_EQ(FailureLog::Lines(), Files());
    const std::string d = "http-/" + LocalHost(server.Port()) + "/doc/";
    EXPECT_EQ(Sorted(FilesBelow(box.Root())),
              Sorted({"index.html", d + "api/index.html", d + "js/main.js", d + "search-index.js",
                      d + "search.html"}));
    EXPECT_EQ(ReadFile(box.Root() / (d + "js/main.js")), script);
    // A form's page that is not there keeps its address, and is no failure.
    const std::string page = ReadFile(box.Root() / (d + "api/index.html"));
    EXPECT_TRUE(Holds(page, "<form action=\"../search.html\">"));
    EXPECT_TRUE(Holds(page, "<form action=\"" + server.Url("/doc/api/find") + "\">"));
}

// What a page offer saw and answered.
struct Offers {
    std::vector<std::string> seen;  // url, content type and text of each page offered
    std::vector<int32_t> given;     // what each give answered
    std::string built;              // the first page's text in its place
};

void QM_CALLBACK Offer(void* context, PageOffer* page, const char* url, const char* contentType,
                       const char* text, int64_t length) {
    auto& o = *static_cast<Offers*>(context);
    o.seen.push_back(std::string(url) + " " + contentType + " " +
                     std::string(text, static_cast<size_t>(length)));
    if (o.seen.size() > 1) return;
    EXPECT_EQ(
        qm_ReplaceOfferedPage(page, o.built.data(), static_cast<int64_t>(o.built.size()), nullptr),
        1);
    const std::string pic = std::string(url) + "pic.png";
    o.given.push_back(qm_GiveOfferedItem(page, pic.c_str(), "given", 5));
    o.given.push_back(qm_GiveOfferedItem(page, pic.c_str(), "again", 5));
    o.given.push_back(qm_GiveOfferedItem(page, "pic.png", "relative", 8));
}

// Each page read is offered first: the caller may put the page as a browser built it in its
// place and give the items the browser loaded, which are then not fetched. A save that writes
// a web archive takes none, as it records each item off the connection.
TEST(SaveSite, APageOfferedMayBeReplacedAndItsItemsGiven) {
    SiteServer server;
    server.AddPage("/app/", "<div id=root></div>", "text/html; charset=utf-8");
    server.AddPage("/app/next.html", "<p>as it came</p>");
    server.AddPage("/app/late.png", "fetched");
    Offers offers;
    offers.built =
        "<p>built</p><img src=\"pic.png\"><img src=\"late.png\"><a href=\"next.html\">n</a>";
    for (const bool archived : {false, true}) {
        SCOPED_TRACE(archived ? "with a web archive" : "without");
        Sandbox box;
        FailureLog failures;
        offers.seen.clear();
        offers.given.clear();
        const size_t before = server.Log().size();
        SaveSettings* settings = qm_NewSaveSettings();
        qm_SetSaveSiteLayout(settings, 1);
        ASSERT_EQ(qm_SetSavePageOffer(settings, Offer, &offers), 1);
        if (archived) qm_SetSaveWebArchive(settings, box.Path("a.warc.gz").c_str());
        SaveOptions options{1, 1, 0, 1};
        EXPECT_EQ(
            qm_SavePagesWithSettings(server.Url("/app/").c_str(), box.Path("index.html").c_str(),
                                     &options, nullptr, settings),
            1);
        qm_FreeSaveSettings(settings);
        EXPECT_EQ(offers.seen,
                  (Files{server.Url("/app/") + " text/html; charset=utf-8 <div id=root></div>",
                         server.Url("/app/next.html") + " text/html <p>as it came</p>"}));
        EXPECT_EQ(offers.given,
                  archived ? (std::vector<int32_t>{0, 0, 0}) : (std::vector<int32_t>{1, 0, 0}));
        Files asked{"/app/", "/app/late.png", "/app/next.html"};
        if (archived) asked.push_back("/app/pic.png");  // not there: it fails
        EXPECT_EQ(Sorted(server.RequestedTargets(before)), Sorted(asked));
        const std::string d = "http-/" + LocalHost(server.Port()) + "/app/";
        if (archived) continue;
        EXPECT_EQ(FailureLog::Lines(), Files());
        EXPECT_EQ(ReadFile(box.Root() / (d + "pic.png")), "given");
        EXPECT_EQ(ReadFile(box.Root() / (d + "late.png")), "fetched");
        EXPECT_EQ(ReadFile(box.Root() / (d + "index.html")), offers.built);
    }
}

// Items come ahead over a few kept-alive connections and are visited in the page's order.
TEST(SavePages, ItemsComeAheadOverAFewKeptAliveConnections) {
    SiteServer server;
    server.KeepConnectionsAlive();
    std::string page;
    Files order{"/S.html"};
    for (int i = 0; i < 40; ++i) {
        std::string name = "/p" + std::to_string(i) + ".gif";
        page += "<img src=\"" + name.substr(1) + "\">";
        server.AddPage(name, "GIF" + std::to_string(i), "image/gif");
        order.push_back(name);
    }
    server.AddPage("/S.html", page);
    Sandbox box;
    ASSERT_EQ(SavePages(server.Url("/S.html"), box.Path("index.html"), {1, 1, 0, 0}), 1);
    EXPECT_EQ(Visited(server), order);
    EXPECT_EQ(server.Log().size(), order.size());
    // The workers and the visit itself: never a connection per item.
    EXPECT_LE(server.ConnectionCount(), 7u);
}

// A stop, from the callback or from another thread while a body stalls, ends the save with
// 0; no item is written after it, nothing of the item in hand is left (not even a temporary
// file), and what was saved names what was not by its address.
TEST(SavePages, AStopEndsTheSaveAndLeavesNoPartialFile) {
    OrderSite site;
    Sandbox box;
    EXPECT_EQ(SavePages(site.Url(), box.Path("index.html"), {1, 1, 0, 1}, ReportAndStop), 0);
    EXPECT_EQ(Reports().size(), 1u);
    EXPECT_EQ(FilesBelow(box.Root()), Files{});

    site.server.AddStalled("/b.gif", std::string(100000, 'b'), 5000);
    Sandbox stalled;
    {
        StopWhenRequested stop(site.server, "/b.gif");
        EXPECT_EQ(SavePages(site.Url(), stalled.Path("index.html"), {1, 1, 0, 1}), 0);
    }
    // a.gif may have come ahead of its turn and been written before the stop, or not.
    Files left = FilesBelow(stalled.Root());
    left.erase(std::remove(left.begin(), left.end(), "http-/" + site.Host() + "/a.gif"),
               left.end());
    EXPECT_EQ(left, Files{"index.html"});
    EXPECT_EQ(BrokenReferences(stalled.Root()), Files());
}

// The exports check their arguments before anything is done, and fail when the start page
// cannot be fetched; asked to save nothing, or finding the page saved already, is no failure.
TEST(CrawlArguments, AreCheckedBeforeAnythingIsDone) {
    SiteServer site;
    site.AddPage("/", "x");
    Sandbox box;
    const std::string page = site.Url("/?");  // a query pads the URL; the page is served anyway
    const std::string nobody = "http://127.0.0.1:1/";  // refused at once
    std::string path259 = box.Path(std::string(259 - box.Path().size() - 1, 'p'));
    std::string path260 = path259 + "p", shortPath = box.Path("index.html");
    std::string url511 = page + std::string(511 - page.size(), 'u'), url512 = url511 + "u";
    SaveOptions options{1, 1, 0, 0}, nothing{0, 0, 0, 0};
    // A URL of 511 characters passes but is too long to fetch: the page saved before
    // (`present`) is neither fetched nor replaced. No row saves pictures: a picture save keeps
    // the page in a temporary folder beside it, and a path of 259 characters leaves it no room.
    struct {
        const char *name, *url, *path;
        SaveOptions* options;
        bool present;
        int32_t pages;
    } cases[] = {
        {"null url", nullptr, shortPath.c_str(), &options, false, 0},
        {"empty url", "", shortPath.c_str(), &options, false, 0},
        {"null path", page.c_str(), nullptr, &options, false, 0},
        {"empty path", page.c_str(), "", &options, false, 0},
        {"null options", page.c_str(), shortPath.c_str(), nullptr, false, 0},
        {"path of 259", page.c_str(), path259.c_str(), &options, false, 1},
        {"path of 260", page.c_str(), path260.c_str(), &options, false, 0},
        {"url of 511", url511.c_str(), shortPath.c_str(), &options, true, 1},
        {"url of 512", url512.c_str(), shortPath.c_str(), &options, true, 0},
        {"nobody there", nobody.c_str(), shortPath.c_str(), &options, false, 0},
        {"nothing asked", nobody.c_str(), shortPath.c_str(), &nothing, false, 1},
    };
    for (const auto& c : cases) {
        if (c.present) WriteFile(box.Root() / "index.html", "saved before");
        EXPECT_EQ(qm_SavePages(c.url, c.path, c.options, nullptr), c.pages) << c.name;
        bool written = (c.pages && c.options->savePages) || c.present;
        EXPECT_EQ(FilesBelow(box.Root()).size(), written ? 1u : 0u) << c.name;
        for (const auto& entry : fs::directory_iterator(box.Root())) fs::remove_all(entry);
        SaveOptions forced{7, 7, 7, 7};
        EXPECT_EQ(qm_SavePictures(c.url, c.path, c.options ? &forced : nullptr, nullptr), 0)
            << c.name;
        // Options are forced once the texts and the record have passed their checks.
        bool checked = c.url && c.path && *c.url && *c.path && c.options;
        EXPECT_EQ(forced.maxDepth, checked ? 0 : 7) << c.name;
        EXPECT_TRUE(FilesBelow(box.Root()).empty()) << c.name;
    }
}

// Redirects are followed, to https too; an item keeps its name and kind, a page's references
// are read against the URL it came from, and every item that is not saved is reported with why.
TEST(SavePages, FollowsRedirectsAndReportsEveryItemItCouldNotSave) {
    SiteServer site;
    TlsFront* tls = TlsFront::Get();
    ASSERT_TRUE(tls != nullptr && tls->Route(site.Port()));
    const std::string secure = tls->Url(Certificate::kValid, "");
    const std::string h = LocalHost(site.Port()),
                      hs = "127.0.0.1-" + secure.substr(secure.rfind(':') + 1);
    site.Add("/start", Redirect(301, "/dir/page.html"));
    site.AddPage("/dir/page.html",
                 "<img src=\"a.gif\"><img src=\"moved.gif\"><img src=\"gone.gif\"><img "
                 "src=\"loop.gif\"><img src=\"cut.gif\"><img src=\"" +
                     secure + "/s.gif\"><script src=j.js></script>");
    // The pictures a script names are fetched; one that does not exist is no failure.
    site.AddPage("/dir/j.js", "a='on.png';b=\"none.png\"", "text/javascript");
    site.AddPage("/dir/on.png", "PNG-on", "image/png");
    site.AddPage("/dir/a.gif", "GIF-a", "image/gif");
    site.AddPage("/s.gif", "GIF-s", "image/gif");
    site.Add("/dir/moved.gif", Redirect(308, secure + "/pictures/real.gif"));
    site.AddPage("/pictures/real.gif", "GIF-real", "image/gif");
    site.Add("/dir/loop.gif", Redirect(302, "/dir/loop.gif"));
    site.Add("/dir/cut.gif", Script().Send(HttpResponse(200, {{"Content-Length", "100"}}, "GIF-")));
    site.Add("/broken", Redirect(302, "/gone.html"));

    Sandbox box;
    FailureLog failures;
    EXPECT_EQ(SavePages(site.Url("/start"), box.Path("index.html"), {1, 1, 0, 0}), 1);
    EXPECT_EQ(Reports().at(0).url, site.Url("/dir/page.html"));
    EXPECT_EQ(Reports().at(0).kind, KIND_PAGE);
    EXPECT_EQ(FilesBelow(box.Root()),
              (Files{"http-/" + h + "/dir/a.gif", "http-/" + h + "/dir/j.js",
                     "http-/" + h + "/dir/moved.gif", "http-/" + h + "/dir/on.png",
                     "https-/" + hs + "/s.gif", "index.html"}));
    EXPECT_EQ(ReadFile(box.Root() / "http-" / h / "dir" / "moved.gif"), "GIF-real");
    EXPECT_EQ(FailureLog::Lines(),
              (Files{"3 2 " + site.Url("/dir/gone.gif") + ": HTTP status 404",
                     "4 2 " + site.Url("/dir/loop.gif") + ": too many redirects",
                     "5 2 " + site.Url("/dir/cut.gif") + ": truncated after 4 of 100 bytes"}));

    // A start page that fails fails the save, with its reason.
    FailureLog::Clear();
    EXPECT_EQ(SavePages(site.Url("/broken"), box.Path("other.html"), {1, 1, 0, 0}), 0);
    EXPECT_EQ(FailureLog::Lines(), Files{"0 1 " + site.Url("/broken") + ": HTTP status 404"});
}

// Endless chains of frames and of imported style sheets: both exports follow them
// MOST_EMBEDDING_LEVELS below the page, and the last one saved names the next by address.
TEST(SavePages, ChainsOfFramesAndStyleSheetsEndAtTheLevelLimit) {
    TestServer server([](const Request& r) {
        std::string body = "<iframe src=\"f1.html\"></iframe><link rel=stylesheet href=\"s1.css\">";
        std::string next = r.target.size() > 2 ? std::to_string(std::atoi(&r.target[2]) + 1) : "";
        if (r.target.rfind("/f", 0) == 0) body = "<iframe src=\"f" + next + ".html\">";
        if (r.target.rfind("/s", 0) == 0) body = "@import \"s" + next + ".css\";";
        return Script().Send(HttpResponseWithLength(200, body));
    });
    Files expected{"/index.html"};
    for (int n = 1; n <= MOST_EMBEDDING_LEVELS; ++n)
        expected.insert(expected.end(),
                        {"/f" + std::to_string(n) + ".html", "/s" + std::to_string(n) + ".css"});
    for (auto save : {qm_SavePages, qm_SavePictures}) {
        Sandbox box;
        size_t before = server.Log().size();
        SaveOptions options{1, 1, 0, 0};
        const std::string url = server.Url("/index.html"), path = box.Path("index.html");
        EXPECT_EQ(save(url.c_str(), path.c_str(), &options, nullptr), 1);
        EXPECT_EQ(server.RequestedTargets(before), Sorted(expected));
        EXPECT_EQ(BrokenReferences(box.Root()), Files());
    }
}

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
        Files targets;
        std::string failure;
    } cases[] = {
        {{5, SAVE_BUDGET_BYTES},
         {"/d/css/print.css", "/d/css/site.css", "/d/index.html", "/d/pics/a%20b.png",
          "/img/logo.gif"},
         "-1 0 " + server.Url("/d/pics/100%25.jpg") + ": save budget reached: 5 items"},
        {{SAVE_BUDGET_ITEMS, 100},
         {"/d/index.html"},
         "-1 0 " + server.Url("/d/css/site.css") + ": save budget reached: 100 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failure);
        ShortBudget budget(c.budget);
        FailureLog failures;
        Sandbox box;
        size_t before = server.Log().size();
        EXPECT_EQ(SavePages(server.Url("/d/index.html"), box.Path("index.html"), {1, 1, 0, 1}), 0);
        // Past the item budget nothing is even queued; past the byte budget, bodies already
        // fetched ahead are thrown away unwritten.
        if (c.budget.bytes == SAVE_BUDGET_BYTES) {
            EXPECT_EQ(server.RequestedTargets(before), c.targets);
        }
        EXPECT_EQ(FailureLog::Lines(), Files{c.failure});
        EXPECT_EQ(FilesBelow(box.Root()).size(), c.targets.size());
        EXPECT_EQ(BrokenReferences(box.Root()), Files());
    }

    // qmsave says so in its closing lines, and counts the save as one with items left out.
    ShortBudget budget({2, SAVE_BUDGET_BYTES});
    Sandbox box;
    QmsaveRun run = RunQmsave("page", {server.Url("/d/index.html"), box.Path("index.html")});
    EXPECT_EQ(run.status, 3);
    EXPECT_TRUE(Holds(run.said,
                      "\nqmsave: 2 items saved (1 page, 0 pictures, 1 style sheet, 0 frames, 0 "
                      "scripts, 0 fonts, 0 media files), 0 failed\nqmsave: stopped at the save "
                      "budget of 2 items; the items left out keep their addresses\n"));
}

// Bodies larger than the page buffer are saved whole, and a frame that goes to a file on its
// way is still read and rewritten. An item larger than the most one item may have ends the
// save as the byte budget does, leaving no file of it, not even a temporary one.
TEST(SavePages, LargeBodiesAreSavedWholeAndOneWithoutEndEndsTheSave) {
    SiteServer server;
    std::string big(FETCH_BUFFER_SIZE + 3000000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
    const std::string frame = std::string(2000000, ' ') + "<img src=\"in-frame.gif\">";
    server.AddPage("/d/index.html", "<img src=\"big.bin\"><frame src=\"f.html\"><img src=\"s.gif\">");
    server.AddPage("/d/big.bin", big, "application/octet-stream");
    server.AddPage("/d/f.html", frame);
    server.AddPage("/d/in-frame.gif", "GIF", "image/gif");
    server.AddPage("/d/s.gif", "GIF", "image/gif");
    {
        Sandbox box;
        ASSERT_EQ(SavePages(server.Url("/d/index.html"), box.Path("index.html"), {1, 1, 0, 0}), 1);
        // The frame's picture is there and named by the saved frame: it was read.
        const Files files = FilesBelow(box.Root());
        EXPECT_EQ(files.size(), 5u);
        EXPECT_EQ(BrokenReferences(box.Root()), Files());
        size_t whole = 0, inFrame = 0;
        for (const auto& file : files) {
            whole += file.find("big.bin") != std::string::npos && ReadFile(box.Root() / file) == big;
            inFrame += file.find("in-frame.gif") != std::string::npos;
        }
        EXPECT_EQ(whole, 1u);
        EXPECT_EQ(inFrame, 1u);
    }
    ShortBudget budget({SAVE_BUDGET_ITEMS, SAVE_BUDGET_BYTES, 1 << 20});
    FailureLog failures;
    Sandbox box;
    EXPECT_EQ(SavePages(server.Url("/d/index.html"), box.Path("index.html"), {1, 1, 0, 0}), 0);
    EXPECT_EQ(FailureLog::Lines(),
              Files{"-1 0 " + server.Url("/d/big.bin") + ": save budget reached: 1048576 bytes"});
    EXPECT_EQ(FilesBelow(box.Root()), Files{"index.html"});
    EXPECT_EQ(BrokenReferences(box.Root()), Files());
}

// Pictures on the page, in its style sheet and in its frame; a link the picture save ignores.
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
    for (const PageRecord& r : Reports()) paths.push_back(r.localPath);
    const std::string folder = box.Path("http-x\\in\\"), temp = folder + "temp-1\\";
    EXPECT_EQ(paths,
              (Files{temp + "index.html", folder + h + "d-a.gif", temp + h + "d-s.css",
                     folder + h + "d-img-b.png", temp + h + "d-f.html", folder + h + "c.gif"}));
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
    EXPECT_TRUE(WaitUntil([&] { return fs::is_empty(box.Root()); }));

    site.server.AddPage("/d/a.gif", "a", "image/gif");
    ASSERT_EQ(SavePictures(site.Url(), box.Path(), &options), 1);
    EXPECT_EQ(FilesBelow(box.Root()).size(), 3u);
    EXPECT_EQ(Reports()[0].localPath, box.Path("temp\\index.html"));
}

// A site that lets in only the visitor it gave a session: /login sets it, and so does /enter,
// a redirect to the page; every other path answers 403 without it. Its page has a style sheet
// with a picture, and two pictures.
struct CookieSite {
    static constexpr char kPage[] =
        "<link rel=stylesheet href=\"s.css\"><img src=\"a.gif\"><img src=\"img/b.png\">";
    TestServer server{[](const Request& r) {
        auto answer = [](int status, const std::string& body, const std::string& type,
                         const Headers& more = {}) {
            return Script().Send(HttpResponseWithLength(status, body, type, more));
        };
        if (r.target == "/login")
            return answer(200, kPage, "text/html",
                          {{"Set-Cookie", "session=s3cr3t; Path=/; HttpOnly"}});
        if (r.target == "/enter")
            return answer(302, "", "text/html",
                          {{"Location", "/page.html"}, {"Set-Cookie", "session=s3cr3t; Path=/"}});
        if (r.Header("Cookie").find("session=s3cr3t") == std::string::npos)
            return answer(403, "forbidden", "text/plain");
        if (r.target == "/page.html") return answer(200, kPage, "text/html");
        if (r.target == "/s.css") return answer(200, "b{background:url(img/bg.png)}", "text/css");
        return answer(200, "picture " + r.target, "image/png");
    }};
    std::string Url(const std::string& path) const { return server.Url(path); }
};

// The session cookie the start page sets goes with every later request of the save, so its
// style sheet and pictures are saved whole; the next save starts without it. A cookie a
// redirect sets goes with the request it leads to.
TEST(SavePages, SendsTheCookiesTheSiteSetsForTheRestOfTheSave) {
    CookieSite site;
    Sandbox box;
    FailureLog failures;
    ASSERT_EQ(SavePages(site.Url("/login"), box.Path("index.html"), {1, 1, 0, 0}), 1);
    EXPECT_EQ(FailureLog::Lines(), Files());
    const std::string h = LocalHost(site.server.Port());
    EXPECT_EQ(FilesBelow(box.Root()),
              (Files{"http--" + h + "-s.css", "http-/" + h + "/a.gif", "http-/" + h + "/img/b.png",
                     "http-/" + h + "/img/bg.png", "index.html"}));
    EXPECT_EQ(BrokenReferences(box.Root()), Files());
    std::vector<Request> log = site.server.Log();
    EXPECT_EQ(log.at(0).head.find("Cookie"), std::string::npos);
    for (size_t i = 1; i < log.size(); ++i) EXPECT_EQ(log[i].Header("Cookie"), "session=s3cr3t");

    Sandbox pictures;
    SaveOptions options{};
    ASSERT_EQ(SavePictures(site.Url("/login"), pictures.Path(), &options), 1);
    EXPECT_EQ(FilesBelow(pictures.Root()).size(), 3u);

    Sandbox later;
    EXPECT_EQ(SavePages(site.Url("/page.html"), later.Path("index.html"), {1, 1, 0, 0}), 0);
    EXPECT_EQ(FailureLog::Lines(), Files{"0 1 " + site.Url("/page.html") + ": HTTP status 403"});

    Sandbox redirected;
    FailureLog::Clear();
    EXPECT_EQ(SavePages(site.Url("/enter"), redirected.Path("index.html"), {1, 1, 0, 0}), 1);
    EXPECT_EQ(FailureLog::Lines(), Files());
    EXPECT_EQ(FilesBelow(redirected.Root()).size(), 5u);
}

// Saving again into the folder of an earlier save: the page and its style sheet are read
// anew, and every other item is asked for only if it changed since its file was written. An
// item the server says is unchanged, or that can no longer be fetched, keeps its file, and
// the page still leads to it; qmsave counts the items reused. The date asked about is the
// one the server gave (Last-Modified), or else the time the file was written.
TEST(Qmsave, ASaveAgainBringsWhatChangedAndReusesTheRest) {
    struct Item {
        const char* path;
        const char* type;
        // The body in the first save, and in the second: "304" for unchanged, "404" for gone,
        // else the new body.
        std::string first, second;
        const char* kept;  // what the file holds after the second save
        bool asked;        // whether the second save asks If-Modified-Since
        const char* lastModified = "";
    };
    const std::string page =
        "<link rel=stylesheet href=s.css><img src=a.gif><img src=b.gif>"
        "<img src=c.gif>";
    const Item items[] = {
        {"/index.html", "text/html", page + "one", page + "two", "two", false},
        {"/s.css", "text/css", "body{background:url(bg.png)}", "body{background:url(bg.png)} /*2*/",
         "/*2*/", false},
        {"/a.gif", "image/gif", "first /a.gif", "304", "first /a.gif", true,
         "Sun, 06 Nov 1994 08:49:37 GMT"},
        {"/b.gif", "image/gif", "first /b.gif", "B2", "B2", true},
        {"/c.gif", "image/gif", "first /c.gif", "404", "first /c.gif", true},
        {"/bg.png", "image/png", "first /bg.png", "304", "first /bg.png", true},
    };
    std::atomic<int> round{1};
    TestServer server([&](const Request& request) {
        for (const Item& item : items) {
            if (request.target != item.path) continue;
            if (round == 2 && (item.second == "304" || item.second == "404"))
                return Script().Send(HttpResponseWithLength(std::stoi(item.second), ""));
            Headers headers;
            if (*item.lastModified != '\0') headers.push_back({"Last-Modified", item.lastModified});
            return Script().Send(HttpResponseWithLength(200, round == 1 ? item.first : item.second,
                                                        item.type, headers));
        }
        return Script().Send(HttpResponseWithLength(404, ""));
    });
    Sandbox box;
    const std::string url = server.Url("/index.html"), file = box.Path("index.html");
    QmsaveRun run = RunQmsave("page", {url, file, "--complete"});
    ASSERT_EQ(run.status, 0) << run.said;
    const size_t firstRequests = server.Log().size();
    round = 2;
    run = RunQmsave("page", {url, file, "--complete"});
    EXPECT_EQ(run.status, 3) << run.said;  // c.gif failed
    EXPECT_TRUE(Holds(run.said, "), 1 failed, 2 reused\n"));

    const std::vector<Request> log = server.Log();
    static const std::regex httpDate(
        "(Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9:]{8} GMT");
    for (size_t i = 0; i < log.size(); ++i) {
        const std::string since = log[i].Header("If-Modified-Since");
        const auto item = std::find_if(std::begin(items), std::end(items),
                                       [&](const Item& it) { return log[i].target == it.path; });
        ASSERT_NE(item, std::end(items)) << log[i].target;
        EXPECT_EQ(!since.empty(), i >= firstRequests && item->asked) << log[i].head;
        EXPECT_TRUE(since.empty() || std::regex_match(since, httpDate)) << since;
        EXPECT_TRUE(since.empty() || !*item->lastModified || since == item->lastModified) << since;
    }
    EXPECT_EQ(log.size(), 2 * std::size(items));

    // Each item in the site's folders below its host's, and the named file.
    EXPECT_EQ(FilesBelow(box.Root()).size(), std::size(items) + 1);
    for (const Item& item : items) {
        const std::string saved =
            ReadFile(box.Root() / ("http-/" + LocalHost(server.Port()) + item.path));
        EXPECT_TRUE(Holds(saved, item.kept)) << item.path;
    }
    EXPECT_EQ(BrokenReferences(box.Root()), Files());
}

// What a save sets is written at its end as curl writes it, and lets a later save in. A
// cookies file with Windows line ends, an HttpOnly line and a line that is no cookie is read
// as curl reads it: the bad line is reported by its number, and the save goes on.
TEST(QmsaveCookies, AreReadFromAndWrittenToCookiesFiles) {
    CookieSite site;
    Sandbox box;
    const std::string written = (box.Root() / "written.txt").string();
    QmsaveRun login = RunQmsave(
        "page", {site.Url("/login"), box.Path("login\\index.html"), "--save-cookies", written});
    EXPECT_EQ(login.status, 0) << login.said;
    const std::string text = ReadFile(written);
    EXPECT_EQ(text.substr(0, 28), "# Netscape HTTP Cookie File\n");
    EXPECT_EQ(text.substr(text.find("\n\n") + 2),
              "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\ts3cr3t\n");

    QmsaveRun in = RunQmsave("pages", {site.Url("/page.html"), box.Path("in\\index.html"),
                                       "--complete", "--cookies", written});
    EXPECT_EQ(in.status, 0) << in.said;
    // The five items, and the named file that leads to the start page.
    EXPECT_EQ(FilesBelow(box.Root() / "in").size(), 6u);

    QmsaveRun out = RunQmsave("page", {site.Url("/page.html"), box.Path("out\\index.html")});
    EXPECT_EQ(out.status, 1);
    EXPECT_TRUE(Holds(out.said, site.Url("/page.html") + " failed: HTTP status 403\n"));

    const std::string byHand = (box.Root() / "by-hand.txt").string();
    WriteFile(byHand,
              "# Netscape HTTP Cookie File\r\n\r\n"
              "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\ts3cr3t\r\n"
              "127.0.0.1\tFALSE\t/\tFALSE\tsoon\tother\t1\r\n");
    QmsaveRun read = RunQmsave("pictures", {site.Url("/page.html"), box.Path("pics"), "--cookies",
                                            byHand, "--save-cookies", written});
    EXPECT_EQ(read.status, 0) << read.said;
    EXPECT_TRUE(Holds(read.said, "qmsave: " + byHand +
                                     " line 4 skipped: the expiry is not a number of seconds\n"));
    EXPECT_EQ(FilesBelow(box.Root() / "pics").size(), 3u);

    // What was written reads back: the jar lets a fetch in.
    CookieJar* jar = qm_NewCookieJar();
    ASSERT_EQ(qm_ReadCookiesFile(jar, written.c_str(), nullptr), 1);
    const std::string page = site.Url("/page.html");
    UrlRequest request{};
    request.url = page.c_str();
    std::vector<char> body(FETCH_BUFFER_SIZE);
    int32_t length = 0;
    EXPECT_EQ(qm_UrlToHtmlWithCookies(&request, body.data(), &length, 0, jar), 1);
    EXPECT_EQ(std::string(body.data(), length), CookieSite::kPage);
    qm_FreeCookieJar(jar);
    // A pointer that is no jar of the library's is refused, by every call that takes one.
    int32_t notAJar[64] = {};
    CookieJar* fake = reinterpret_cast<CookieJar*>(notAJar);
    EXPECT_EQ(qm_ReadCookiesFile(fake, written.c_str(), nullptr), 0);
    EXPECT_EQ(qm_UrlToHtmlWithCookies(&request, body.data(), &length, 0, fake), 0);
    SaveOptions options{1, 0, 0, 0};
    EXPECT_EQ(qm_SavePagesWithCookies(page.c_str(), box.Path("fake.html").c_str(), &options,
                                      nullptr, fake),
              0);
    EXPECT_FALSE(fs::exists(box.Root() / "fake.html"));

    QmsaveRun missing = RunQmsave(
        "page", {page, box.Path("x.html"), "--cookies", (box.Root() / "none.txt").string()});
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(Holds(missing.said, "qmsave: could not read the cookies file "));
}

TEST(OldSavePages, WritesTheBodyOfOneFetch) {
    SiteServer server;
    server.AddPage("/x.html", "<img src=a.gif>");
    Sandbox box;
    const std::string url = server.Url("/x.html"), file = box.Path("x.html");
    UrlRequest request{};
    request.url = url.c_str();
    request.referer = "";
    char reserved[16] = {};
    EXPECT_EQ(qm_OldSavePages(&request, file.c_str(), reserved), 1);
    EXPECT_EQ(ReadFile(box.Root() / "x.html"), "<img src=a.gif>");  // not scanned
    EXPECT_EQ(qm_OldSavePages(&request, box.Path("no\\such\\x.html").c_str(), reserved), 0);
    EXPECT_EQ(qm_OldSavePages(nullptr, file.c_str(), reserved), 0);
    EXPECT_EQ(qm_OldSavePages(&request, file.c_str(), nullptr), 0);
    EXPECT_EQ(FilesBelow(box.Root()), Files{"x.html"});
}

}  // namespace
}  // namespace qmtest
