// qmsave's saves with the system's headless Chromium: pages that scripts build are saved as
// the browser shows them, the wait ends by its rule, and neither the browser nor its profile
// outlives the save.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "qmsave_run.h"
#include "rendered_page.h"
#include "scratch.h"
#include "test_server.h"
#include "text_checks.h"

namespace qmtest {
namespace {

namespace fs = std::filesystem;

// A page that is an empty shell until its script has fetched its data and built it.
constexpr char kShell[] = R"html(<!DOCTYPE html><html><head><link rel=stylesheet href=s.css></head>
<body><div id=root></div><a href="javascript:alert(1)" onclick="go()">j</a>
<div style="height:5000px"></div><img id=lazy data-later="lazy.png">
<script>
// A picture that loads as it comes into view.
const lazy = document.getElementById('lazy');
new IntersectionObserver((seen, watch) => {
  if (!seen[0].isIntersecting) return;
  lazy.src = lazy.dataset.later;
  watch.disconnect();
}).observe(lazy);
fetch('data.json').then((r) => r.json()).then((d) => {
  document.getElementById('root').innerHTML =
    '<p>' + d.word + '</p><img src="pic.png"><iframe src="frame.html"></iframe>';
  const canvas = document.createElement('canvas');
  canvas.width = canvas.height = 2;
  document.body.appendChild(canvas);
  for (const mode of ['open', 'closed']) {
    const card = document.createElement('x-card');
    card.attachShadow({mode}).innerHTML = '<b>in the ' + mode + ' shadow</b>';
    document.body.appendChild(card);
  }
  const input = document.createElement('input');
  document.body.appendChild(input);
  input.value = 'typed';
});
// A request that never ends keeps the page from being done, for a few seconds.
if (location.search === '?stalled') fetch('stalled');
</script></body></html>)html";

// The file saved for the page whose address path starts with `name`.
std::string SavedPage(const fs::path& site, const std::string& name) {
    for (const auto& entry : fs::directory_iterator(site))
        if (entry.path().filename().string().rfind(name, 0) == 0) return ReadFile(entry.path());
    return "";
}

// Each way a page goes: rendered when asked, or by default when it is only an application's
// shell, as fetched with --static. What the browser received is not fetched again, and
// neither the browser nor its temporary files outlive the save.
TEST(QmsaveRendered, SavesThePageAsTheBrowserShowsIt) {
    if (!qmsave::CanRender()) GTEST_SKIP() << "no browser to render with";
    SiteServer server;
    server.AddPage("/app.html", kShell);
    server.AddPage("/start.html", "<p>A page to read as it is.</p><a href=\"app.html\">app</a>");
    server.AddPage("/frame.html", "<p id=f></p><script>f.textContent = 'framed'</script>");
    server.AddPage("/data.json", R"({"word":"built"})", "application/json");
    server.AddPage("/s.css", "p{color:red}", "text/css");
    server.AddPage("/pic.png", "png", "image/png");
    server.AddPage("/lazy.png", "lazy", "image/png");
    server.Add("/stalled", Script().Then(Ending::StayOpen));  // no answer

    const struct {
        const char* verb;
        const char* page;
        const char* way;  // --rendered, --static, or "" for the default
        const char* limit;
        const char* said;  // on the app page's line; "" where it was not rendered
    } cases[] = {
        {"page", "/app.html", "--rendered", "60", "  [rendered, done at quiet]\n"},
        // A page that does not go quiet ends at the limit, with what it shows by then.
        {"page", "/app.html?stalled", "--rendered", "2", "  [rendered, done at wait limit]\n"},
        // A page to read goes as fetched, the shell it links to through the browser.
        {"pages", "/start.html", "", "60", "  [rendered, done at quiet]\n"},
        {"pages", "/start.html", "--static", "60", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.verb) + " " + c.page + " " + c.way);
        ScratchFolder box("qm-rendered-save");
        BrowserTemporaries temporaries;
        std::vector<std::string> arguments{server.Url(c.page), box.Root().string() + "\\p.html",
                                           "--complete", "--wait-limit", c.limit};
        if (*c.way != '\0') arguments.push_back(c.way);
        const size_t asked = server.Log().size();
        const QmsaveRun run = RunQmsave(c.verb, arguments);
        ASSERT_EQ(run.status, 0) << run.said;
        EXPECT_TRUE(temporaries.AllGone());
        EXPECT_TRUE(Holds(run.said, server.Url(c.page).substr(0, server.Url("/app.html").size())));
        const size_t line = run.said.find(server.Url("/app.html"));
        ASSERT_NE(line, std::string::npos) << run.said;
        EXPECT_EQ(run.said.substr(run.said.find('\n', line) - std::strlen(c.said) + 1,
                                  std::strlen(c.said)),
                  c.said)
            << run.said;
        EXPECT_EQ(run.said.find("start.html -> " + box.Root().string()) == std::string::npos,
                  std::string(c.verb) == "page");
        // Whatever the browser loaded, the save took from it.
        std::vector<std::string> targets = server.RequestedTargets(asked);
        std::sort(targets.begin(), targets.end());
        targets.erase(std::remove(targets.begin(), targets.end(), "/favicon.ico"), targets.end());
        EXPECT_EQ(std::adjacent_find(targets.begin(), targets.end()), targets.end())
            << ::testing::PrintToString(targets);

        const fs::path site = box.Root() / "http-" / LocalHost(server.Port());
        const std::string page = SavedPage(site, "app");
        if (*c.said == '\0') {
            EXPECT_TRUE(Holds(page, "<div id=root></div>"));
            continue;
        }
        if (std::string(c.page) == "/app.html?stalled") continue;
        for (const char* shown :
             {"<p>built</p><img src=\"pic.png\">",
              "<template shadowrootmode=\"open\"><b>in the open shadow</b></template>",
              "<template shadowrootmode=\"closed\"><b>in the closed shadow</b></template>",
              "<iframe src=\"frame.html\">", "value=\"typed\"", "<img src=\"data:image/png;base64,",
              "href=\"s.css\"", "data-later=\"lazy.png\" src=\"lazy.png\"",
              "<meta charset=\"utf-8\">"})
            EXPECT_TRUE(Holds(page, shown));
        for (const char* gone : {"<script", "javascript:", "onclick"})
            EXPECT_FALSE(Holds(page, gone));
        EXPECT_EQ(ReadFile(site / "pic.png"), "png");
        EXPECT_EQ(ReadFile(site / "lazy.png"), "lazy");
        // A frame from the page's own site as the browser showed it.
        EXPECT_NE(SavedPage(site, "frame").find("<p id=\"f\">framed</p>"), std::string::npos);
    }
}

// A single file holds what its page's scripts load by names they make, as the browser
// received it, and hands it to them when it is opened: nothing is asked of the site then.
TEST(QmsaveRendered, ASingleFileHandsItsScriptsWhatTheyLoadByNamesTheyMake) {
    if (!qmsave::CanRender()) GTEST_SKIP() << "no browser to render with";
    SiteServer server;
    server.AddPage("/doc.html",
                   "<!DOCTYPE html><html><head><script src=tree.js></script></head><body>"
                   "<h1>A page to read, with a tree its scripts grow beside the text</h1>"
                   "<p id=tree></p><div id=sync></div><script>grow(3)</script></body></html>");
    server.AddPage("/tree.js",
                   "function grow(n) {\n"
                   "  const s = document.createElement('script');\n"
                   "  s.src = 'parts/index' + n + '.js';\n"
                   "  s.onload = () => { document.getElementById('tree').textContent = PART; };\n"
                   "  document.head.appendChild(s);\n"
                   "  document.getElementById('sync').innerHTML = '<img src=\"sy' + 'nc.png\">';\n"
                   "}",
                   "text/javascript");
    server.AddPage("/parts/index3.js", "var PART = 'grown';", "text/javascript");
    server.AddPage("/sync.png", "png", "image/png");
    ScratchFolder box("qm-rendered-single");
    BrowserTemporaries temporaries;
    const std::string file = box.Root().string() + "/doc.html";
    const QmsaveRun run =
        RunQmsave("page", {server.Url("/doc.html"), file, "--complete", "--single-file"});
    ASSERT_EQ(run.status, 0) << run.said;
    const std::string single = ReadFile(file);
    for (const char* held : {"[\"parts/index3.js\",\"data:text/javascript;base64,",
                             "[\"sync.png\",\"data:image/png;base64,cG5n\"]"})
        EXPECT_TRUE(Holds(single, held));
    EXPECT_LT(single.find("<script>(()=>{const m=new Map("), single.find("function grow"));

    const size_t asked = server.Log().size();
    qmsave::RenderedPage opened;
    std::string why;
    ASSERT_TRUE(qmsave::PageRenderer(20000, false, [] { return false; })
                    .Render("file://" + file, nullptr, "", &opened, &why))
        << why;
    EXPECT_TRUE(Holds(opened.html, "<p id=\"tree\">grown</p>"));
    EXPECT_TRUE(Holds(opened.html, "<img src=\"data:image/png;base64,cG5n\">"));
    EXPECT_EQ(server.RequestedTargets(asked), std::vector<std::string>{});
    EXPECT_TRUE(temporaries.AllGone());
}

}  // namespace
}  // namespace qmtest
