// qmsave page --rendered with the system's headless Chromium: pages that scripts build are
// saved as the browser shows them, the wait ends by its rule, and neither the browser nor its
// profile outlives the save.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "qmsave_run.h"
#include "rendered_page.h"
#include "scratch.h"
#include "test_server.h"

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
  document.getElementById('root').innerHTML = '<p>' + d.word + '</p><img src="pic.png">';
  const canvas = document.createElement('canvas');
  canvas.width = canvas.height = 2;
  document.body.appendChild(canvas);
  const card = document.createElement('x-card');
  card.attachShadow({mode: 'open'}).innerHTML = '<b>in the shadow</b>';
  document.body.appendChild(card);
  const input = document.createElement('input');
  document.body.appendChild(input);
  input.value = 'typed';
});
// A request that never ends keeps the page from being done, for a few seconds.
if (location.search === '?stalled') fetch('stalled');
</script></body></html>)html";

TEST(QmsaveRendered, SavesThePageAsTheBrowserShowsIt) {
    if (!qmsave::CanRender()) GTEST_SKIP() << "no browser to render with";
    SiteServer server;
    server.AddPage("/app.html", kShell);
    server.AddPage("/data.json", R"({"word":"built"})", "application/json");
    server.AddPage("/s.css", "p{color:red}", "text/css");
    server.AddPage("/pic.png", "png", "image/png");
    server.AddPage("/lazy.png", "lazy", "image/png");
    server.Add("/stalled", Script().Then(Ending::StayOpen));  // no answer

    const struct {
        const char* query;
        const char* limit;
        const char* doneBy;
    } cases[] = {
        {"", "60", "done at quiet"},
        // A page that does not go quiet ends at the limit, with what it shows by then.
        {"?stalled", "2", "done at wait limit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        ScratchFolder box("qm-rendered-save"), temporary("qm-rendered-temp");
        const char* saved = std::getenv("TMPDIR");
        const std::string before = saved ? saved : "";
        setenv("TMPDIR", temporary.Root().c_str(), 1);
        const QmsaveRun run = RunQmsave("page", {server.Url(std::string("/app.html") + c.query),
                                                 box.Root().string() + "\\app.html", "--rendered",
                                                 "--complete", "--wait-limit", c.limit});
        if (before.empty()) unsetenv("TMPDIR");
        else setenv("TMPDIR", before.c_str(), 1);
        ASSERT_EQ(run.status, 0) << run.said;
        EXPECT_NE(run.said.find(c.doneBy), std::string::npos) << run.said;
        EXPECT_TRUE(fs::is_empty(temporary.Root()));

        if (std::string(c.query) == "?stalled") continue;
        const fs::path site = box.Root() / "http-" / ("127.0.0.1-" + std::to_string(server.Port()));
        std::string page;
        for (const auto& entry : fs::directory_iterator(site))
            if (entry.path().filename().string().rfind("app", 0) == 0)
                page = ReadFile(entry.path());
        for (const char* shown :
             {"<p>built</p><img src=\"pic.png\">",
              "<template shadowrootmode=\"open\"><b>in the shadow</b></template>",
              "value=\"typed\"", "<img src=\"data:image/png;base64,", "href=\"s.css\"",
              "data-later=\"lazy.png\" src=\"lazy.png\""})
            EXPECT_NE(page.find(shown), std::string::npos) << shown << "\n" << page;
        for (const char* gone : {"<script", "javascript:", "onclick"})
            EXPECT_EQ(page.find(gone), std::string::npos) << gone << "\n" << page;
        EXPECT_EQ(ReadFile(site / "pic.png"), "png");
        EXPECT_EQ(ReadFile(site / "lazy.png"), "lazy");
    }
}

}  // namespace
}  // namespace qmtest
