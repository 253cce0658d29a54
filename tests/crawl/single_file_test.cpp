// qmsave page and pages with --single-file, and qm_WriteSingleFile beneath them: each saved
// page becomes one file that names no saved file, holds every item byte for byte, and leaves
// no folder behind.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "failure_log.h"
#include "qm_url.h"
#include "qmsave_run.h"
#include "qmsave_save.h"
#include "single_file_loader.h"
#include "single_file_markup.h"
#include "single_file_outputs.h"
#include "scratch.h"
#include "test_server.h"
#include "text_checks.h"

namespace qmtest {
namespace {

namespace fs = std::filesystem;

const std::string kPicture("\x89PNG\r\n\x1a\n\0\x01\xff picture", 20);
const std::string kFont("wOF2\0\x02 font", 10);
const std::string kScript = "var s = \"</script><b>not markup</b>\"; document.title = s;";

// A page with a picture, a style sheet that imports another (and itself) and names a font
// and the picture, a script holding an end tag in a string, a late script, a frame that
// holds itself, a link to a second page and one to a file that is no page.
void AddSite(SiteServer& server) {
    server.AddPage("/index.html",
                   "<html><head><link rel=\"stylesheet\" href=\"css/a.css\" media=\"screen\">"
                   "<link rel=preload as=font href=\"css/f.woff2\">"
                   "<script src=\"s.js\"></script><script defer src=\"late.js\"></script>"
                   "</head><body><img src=\"p.png\" srcset=\"p.png 2x\">"
                   "<iframe src=\"frame.html\"></iframe><a href=\"b.html\">b</a>"
                   "<a href=\"notes.txt\">notes</a></body></html>");
    server.AddPage("/css/a.css",
                   "@import \"b.css\";\n@font-face{font-family:F;src:url(f.woff2)}\n"
                   "body{background:url(\"../p.png\")}",
                   "text/css");
    server.AddPage("/css/b.css", "@import url(a.css);p{color:red} /* </style> */", "text/css");
    server.AddPage("/css/f.woff2", kFont, "font/woff2");
    server.AddPage("/s.js", kScript, "text/javascript");
    server.AddPage("/late.js", "console.log('late')", "text/javascript");
    server.AddPage("/p.png", kPicture, "image/png");
    server.AddPage("/frame.html",
                   "<p style=\"background:url(p.png)\">a \"frame\" &amp; more</p>"
                   "<iframe src=\"frame.html\"></iframe>");
    server.AddPage("/b.html", "<p>b</p><img src=\"p.png\"><a href=\"index.html\">back</a>");
    server.AddPage("/notes.txt", "notes", "text/plain");
}

// The values of src=, href= and url() that name something relative: a saved file.
std::vector<std::string> LocalReferences(const std::string& text) {
    static const std::regex reference(R"((?:src=|href=|url\()\s*(?:"([^"]*)|'([^']*)|([^\s>)]*)))",
                                      std::regex::icase);
    static const std::regex elsewhere("^(#|[a-z][a-z0-9+.-]*:|$)", std::regex::icase);
    std::vector<std::string> local;
    for (std::sregex_iterator m(text.begin(), text.end(), reference), end; m != end; ++m) {
        std::string value = (*m)[1].matched ? (*m)[1] : (*m)[2].matched ? (*m)[2] : (*m)[3];
        if (!std::regex_search(value, elsewhere)) local.push_back(value);
    }
    return local;
}

struct Collected : qm::Output {
    bool Put(const char* data, size_t size) override {
        text.append(data, size);
        return true;
    }
    std::string text;
};

// `bytes` as a data: URL of the media type `type`.
std::string DataUrl(const std::string& type, const std::string& bytes) {
    Collected coded;
    qm::Base64Output base64(coded);
    base64.Put(bytes.data(), bytes.size());
    base64.Finish();
    return "data:" + type + ";base64," + coded.text;
}

std::string CssData(const std::string& sheet) { return DataUrl("text/css", sheet); }

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// The form of the file, whether a browser is found or not (what it adds is rendered_test's).
TEST(SingleFile, EachSavedPageIsOneFileThatNeedsNothingElse) {
    SiteServer server;
    AddSite(server);
    const std::string host = LocalHost(server.Port());
    struct {
        const char* name;
        const char* verb;
        std::vector<std::string> files;  // what the folder holds after the save
    } cases[] = {
        {"page: the start page alone", "page", {"index.html"}},
        {"pages: each linked page too, the file that is no page as it came",
         "pages",
         {"http--" + host + "-b.html", "http--" + host + "-notes.txt", "index.html"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder box("qm-single-file");
        const fs::path file = box.Root() / "index.html";
        QmsaveRun run = RunQmsave(c.verb, {server.Url("/index.html"), file.string(), "--complete",
                                           "--single-file", "--static"});
        EXPECT_EQ(run.status, 0) << run.said;
        EXPECT_EQ(FilesBelow(box.Root(), true), c.files);  // the save's folder is gone
        const std::string page = ReadFile(file);

        EXPECT_EQ(LocalReferences(page), (std::string(c.verb) == "page"
                                              ? std::vector<std::string>()
                                              : std::vector<std::string>{
                                                    "http--" + host + "-b.html",
                                                    "http--" + host + "-notes.txt"}));
        // The picture in the page, its srcset, the style sheet and the frame.
        EXPECT_EQ(Count(page, "data:image/png"), 4u);
        EXPECT_EQ(Count(page, DataUrl("image/png", kPicture)), 4u);
        EXPECT_EQ(Count(page, "data:font/woff2"), 1u);
        EXPECT_EQ(Count(page, DataUrl("font/woff2", kFont)), 1u);
        // The style sheet in a style element that keeps its media, the one it imports as text
        // in its place, whose import of the first is cut and whose comment is dropped.
        EXPECT_TRUE(Holds(page,
                          "<style rel=stylesheet  media=screen>p{color:red}\n"
                          "@font-face{font-family:F;src:url(data:font/woff2;"));
        EXPECT_FALSE(Holds(page, "data:text/css"));
        EXPECT_FALSE(Holds(page, "rel=preload"));
        // The script inline, its end tag kept from ending the element; the late one as a
        // data: URL, so that it still runs late.
        EXPECT_TRUE(Holds(page,
                          "<script >var s = \"<\\/script><b>not markup</b>\"; "
                          "document.title = s;</script>"));
        EXPECT_EQ(Count(page, "data:text/javascript"), 1u);
        EXPECT_EQ(Count(page, DataUrl("text/javascript", "console.log('late')")), 1u);
        // The frame as srcdoc, escaped for its attribute; the frame inside itself cut.
        EXPECT_TRUE(Holds(page, "<iframe srcdoc=\"<p style=&quot;background:url(data:image/png;"));
        EXPECT_TRUE(Holds(page,
                          "&quot;frame&quot; &amp;amp; more</p><iframe "
                          "srcdoc=&quot;&quot;></iframe>"));
        if (std::string(c.verb) == "pages") {
            const std::string linked = ReadFile(box.Root() / ("http--" + host + "-b.html"));
            EXPECT_EQ(Count(linked, "data:image/png"), 1u);
            EXPECT_EQ(Count(linked, DataUrl("image/png", kPicture)), 1u);
            EXPECT_EQ(LocalReferences(linked), std::vector<std::string>{"index.html"});
        }
    }
}

// A file past the size limit is not written, and says why; one that cannot be read either.
TEST(SingleFile, IsRefusedPastItsLimitLeavingNoFile) {
    SiteServer server;
    AddSite(server);
    ScratchFolder box("qm-single-file-limit");
    const std::string folder = (box.Root() / "saved").string();
    SaveOptions options{1, 1, 0, 0};
    ASSERT_EQ(qm_SavePages(server.Url("/index.html").c_str(), (folder + "/index.html").c_str(),
                           &options, nullptr),
              1);
    FailureLog failures;
    const fs::path file = box.Root() / "single.html";
    struct {
        const char* name;
        std::string page;
        int64_t mostBytes;
        int32_t result;
        const char* reason;
    } cases[] = {
        {"within the limit", folder + "/index.html", 1 << 20, 1, ""},
        {"past the limit", folder + "/index.html", 100, 0, "larger than the size limit of 100 bytes"},
        {"a page that is not there", folder + "/none.html", 1 << 20, 0, "file could not be read"},
        {"a page outside the folder", box.Root().string() + "/index.html", 1 << 20, 0,
         "file could not be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FailureLog::Clear();
        fs::remove(file);
        EXPECT_EQ(qm_WriteSingleFile(folder.c_str(), c.page.c_str(), file.string().c_str(),
                                     c.mostBytes, nullptr, nullptr, 0),
                  c.result);
        EXPECT_EQ(FailureLog::Reasons(),
                  *c.reason ? std::vector<std::string>{c.reason} : std::vector<std::string>{});
        EXPECT_EQ(fs::exists(file), c.result == 1);
    }
    EXPECT_EQ(FilesBelow(box.Root(), true).size(),
              FilesBelow(box.Root() / "saved", true).size() + 1);  // and no temporary file
}

// The codings of items written into a page, fed in pieces that may cut anywhere.
TEST(SingleFile, CodingsHoldWhateverThePiecesCut) {
    struct {
        const char* name;
        std::vector<std::string> pieces;
        std::string base64, script, attribute;
    } cases[] = {
        {"nothing", {}, "", "", ""},
        {"one byte short of a block", {"ab"}, "YWI=", "ab", "ab"},
        {"two bytes short", {"a"}, "YQ==", "a", "a"},
        {"blocks across pieces", {"a", "bcd", "", "ef"}, "YWJjZGVm", "abcdef", "abcdef"},
        {"an end tag in any case", {"x</SCRIPT>y"}, "eDwvU0NSSVBUPnk=", "x<\\/SCRIPT>y",
         "x</SCRIPT>y"},
        {"an end tag cut by the pieces", {"x<", "/scr", "ipt"}, "eDwvc2NyaXB0", "x<\\/script",
         "x</script"},
        {"other end tags and a last '<'", {"</b></scrip", "<"}, "PC9iPjwvc2NyaXA8", "</b></scrip<",
         "</b></scrip<"},
        {"quotes and ampersands", {"a\"&amp;", "\""}, "YSImYW1wOyI=", "a\"&amp;\"",
         "a&quot;&amp;amp;&quot;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Collected base64, script, attribute;
        qm::Base64Output coded(base64);
        qm::RawTextOutput raw(script, "script");
        qm::AttributeOutput escaped(attribute);
        for (const std::string& piece : c.pieces) {
            EXPECT_TRUE(coded.Put(piece.data(), piece.size()));
            EXPECT_TRUE(raw.Put(piece.data(), piece.size()));
            EXPECT_TRUE(escaped.Put(piece.data(), piece.size()));
        }
        EXPECT_TRUE(coded.Finish());
        EXPECT_TRUE(raw.Finish());
        EXPECT_EQ(base64.text, c.base64);
        EXPECT_EQ(script.text, c.script);
        EXPECT_EQ(attribute.text, c.attribute);
    }
}

// The single file of the page a save left in a folder of `files` (the page first).
// `loads`: the names its scripts load files by, and the files.
std::string WrittenFrom(const std::vector<std::pair<std::string, std::string>>& files,
                        const std::string& name = "single.html",
                        const std::vector<std::pair<std::string, std::string>>& loads = {}) {
    ScratchFolder box("qm-single-file-written");
    const fs::path folder = box.Root() / "saved";
    for (const auto& [path, bytes] : files) {
        fs::create_directories((folder / path).parent_path());
        WriteFile(folder / path, bytes);
    }
    const fs::path file = box.Root() / name;
    const fs::path page = folder / files[0].first;
    std::vector<std::string> paths;
    for (const auto& load : loads) paths.push_back((folder / load.second).string());
    std::vector<const char*> names, held;
    for (size_t i = 0; i < loads.size(); ++i) {
        names.push_back(loads[i].first.c_str());
        held.push_back(paths[i].c_str());
    }
    EXPECT_EQ(
        qm_WriteSingleFile(folder.string().c_str(), page.string().c_str(), file.string().c_str(),
                           1 << 20, names.data(), held.data(), static_cast<int32_t>(names.size())),
        1);
    return ReadFile(file);
}

// An imported sheet is written as its text in the place of the @import where every import of
// its sheet can be, all the way down; else each stays an @import of a data: URL.
TEST(SingleFile, ImportedSheetsStandInTheirPlace) {
    const std::string ns = "@namespace svg url(http://www.w3.org/2000/svg);[n]{}";
    struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;  // the page first
        std::string written;
    } cases[] = {
        {"under a media list, with its own import and pictures read against its folder",
         {{"index.html", "<style>@import url(\"c/a.css\") screen;[p]{}</style>"},
          {"c/a.css", "@import 'b/b.css';[i]{background:url(p.png)}"},
          {"c/b/b.css", "[b]{background:url(../p.png)}</style>"},
          {"c/p.png", "abc"}},
         "<style>@media screen{[b]{background:url(data:image/png;base64,YWJj)}<\\/style>"
         "[i]{background:url(data:image/png;base64,YWJj)}}[p]{}</style>"},
        {"a linked sheet's import under a media query",
         {{"index.html", "<link rel=stylesheet href=a.css media=screen>"},
          {"a.css", "@import 'b.css' screen and (min-width: 10em);[a]{}"},
          {"b.css", "[b]{}"}},
         "<style rel=stylesheet  media=screen>@media screen and (min-width: "
         "10em){[b]{}}[a]{}</style>"},
        {"a disabled linked sheet, a link still that a script may turn on",
         {{"index.html", "<link rel=stylesheet href=a.css disabled>"}, {"a.css", "[a]{}"}},
         "<link rel=stylesheet href=" + CssData("[a]{}") + " disabled>"},
        {"an import of itself, written as nothing",
         {{"index.html", "<style>@import 'a.css';</style>"}, {"a.css", "@import 'a.css';[a]{}"}},
         "<style>[a]{}</style>"},
        {"a layer",
         {{"index.html", "<style>@import 'a.css' layer(x);@import 'b.css';</style>"},
          {"a.css", "[a]{}"},
          {"b.css", "[b]{}"}},
         "<style>@import '" + CssData("[a]{}") + "' layer(x);@import '" + CssData("[b]{}") +
             "';</style>"},
        {"a sheet not saved beside one saved",
         {{"index.html",
           "<style>@import 'a.css';@import 'gone.css';@import 'http://h/x.css';"
           "</style>"},
          {"a.css", "[a]{}"}},
         "<style>@import '" + CssData("[a]{}") +
             "';@import 'gone.css';@import 'http://h/x.css';</style>"},
        {"a namespace further down",
         {{"index.html", "<style>@import 'a.css';</style>"},
          {"a.css", "@import 'n.css';[a]{}"},
          {"n.css", ns}},
         "<style>@import '" + CssData("@import '" + CssData(ns) + "';[a]{}") + "';</style>"},
        {"an encoding of its own",
         {{"index.html", "<style>@import 'a.css';@import 'u.css';</style>"},
          {"a.css", "@charset \"iso-8859-1\";[a]{}"},
          {"u.css", "@charset \"UTF-8\";[u]{}"}},
         "<style>@import '" + CssData("@charset \"iso-8859-1\";[a]{}") + "';@import '" +
             CssData("@charset \"UTF-8\";[u]{}") + "';</style>"},
    };
    for (const auto& c : cases) EXPECT_EQ(WrittenFrom(c.files), c.written) << c.name;
}

// Blanks between tags fold where the page's style folds them anyway, and quotes go where the
// value reads the same without them.
TEST(SingleFile, APageGoesWithoutWhatItsLookDoesWithout) {
    const std::string png = "data:image/png;base64,YWJj";
    const std::string kRules =
        ".draft{background:url(p.png)} p.a, .z{background:url(p.png)} #B{background:url(p.png)}"
        " #c .a{background:url(p.png)} .A:not(.z){background:url(p.png)} /* .q */.a{x:url(p.png)}"
        " @font-face{src:url(p.png)} .draft{background:url(p.png);.x{}}";
    struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;
        std::string written;
    } cases[] = {
        {"runs of blanks, one line break kept",
         {{"index.html", "<ul>\n  <li>a   b</li>\n\n  <li>c\t</li> </ul>"}},
         "<ul>\n<li>a b</li>\n<li>c\t</li> </ul>"},
        {"preformatted and raw text as it stands, nested in itself too",
         {{"index.html",
           "<pre>  a\n\n<pre> b </pre>  </pre>  <textarea>  x  </textarea>"
           "<script>  var a;  </script><style>  pre{}  </style><xmp>  </xmp>"}},
         "<pre>  a\n\n<pre> b </pre>  </pre> <textarea>  x  </textarea>"
         "<script>  var a;  </script><style> pre{}</style><xmp>  </xmp>"},
        {"an element whose style attribute sets white-space, and what it holds",
         {{"index.html", "<div style=\"white-space: pre\">  a  <div>  b  </div>  c  </div>  d"}},
         "<div style=\"white-space: pre\">  a  <div>  b  </div>  c  </div> d"},
        {"elements the page's CSS keeps by class or by name",
         {{"index.html",
           "<style>td > div.verse, code{white-space: pre}</style><div class=\"x "
           "verse\">  a  </div><CODE>  b  </code><p>  c  </p>"}},
         "<style> code{white-space:pre}</style><div class=\"x verse\">  a  "
         "</div><CODE>  b  </code><p> c </p>"},
        {"a rule of an imported sheet whose selector names neither: nothing folds",
         {{"index.html", "<link rel=stylesheet href=a.css><p id=x>  a  </p>"},
          {"a.css", "@import 'b.css';"},
          {"b.css", "#x{white-space:pre-line}"}},
         "<style rel=stylesheet >#x{white-space:pre-line}</style><p id=x>  a  </p>"},
        {"white-space that folds",
         {{"index.html", "<style>p{white-space:nowrap}</style><p>  a  </p>"}},
         "<style>p{white-space:nowrap}</style><p> a </p>"},
        {"CSS: blanks folded and dropped beside punctuation, comments that part nothing dropped",
         {{"index.html", "<link rel=stylesheet href=a.css><a></a><b></b>"},
          {"a.css",
           "a  ,  b {\n  color : red ;\n}\n\\31  a{content:\"  ;  \"}a/**/b{}"
           "a /* x */{}a > b ~ b,a\\: b{}"}},
         "<style rel=stylesheet >a,b{color :red}\\31  a{content:\"  ;  \"}a/**/b{}a {}a>b~b,a\\: b{}"
         "</style><a></a><b></b>"},
        {"an XML declaration, a comment to a page read as HTML",
         {{"index.html", "<?xml version=\"1.0\"?>\n<p>a</p>"}},
         "\n<p>a</p>"},
        {"rules that match no element of a page without scripts, and the pictures they name",
         {{"index.html", "<link rel=stylesheet href=a.css><p class=\"a b\" id=b>x</p>"},
          {"a.css", kRules},
          {"p.png", "abc"}},
         "<style rel=stylesheet > p.a{background:url(" + png + ")}#B{background:url(" + png +
             ")} .A:not(.z){background:url(" + png + ")}.a{x:url(" + png + ")}" +
             "@font-face{src:url(" + png + ")}.draft{background:url(data:,);}</style>" +
             "<p class=\"a b\" id=b>x</p>"},
        {"a page with scripts: a rule stays where a tag or a script names its class or id",
         {{"index.html",
           "<link rel=stylesheet href=a.css><script>b.classList.add('shown')"
           "</script><script src=s.js></script><script defer src=d.js></script>"
           "<b onclick=\"this.className='on'\" data-k=kept>x</b>"},
          {"a.css",
           ".draft{background:url(p.png)}.shown{a:b}#menu{a:b}.late{a:b}.on{a:b}"
           ".kept{a:b}.gone,#gone{a:b}"},
          {"s.js", "document.body.id = \"MENU\";"},
          {"d.js", "x.className = 'late'"},
          {"p.png", "abc"}},
         "<style rel=stylesheet >.shown{a:b}#menu{a:b}.late{a:b}"
         ".on{a:b}.kept{a:b}</style><script>b.classList.add('shown')</script><script >"
         "document.body.id = \"MENU\";</script><script defer src=data:text/javascript;base64,"
         "eC5jbGFzc05hbWUgPSAnbGF0ZSc=></script><b onclick=\"this.className='on'\" "
         "data-k=kept>x</b>"},
        {"rules for elements the page has not, but in @keyframes or where a script names them",
         {{"index.html", "<link rel=stylesheet href=a.css><h1><em>x</em></h1></br>"},
          {"a.css",
           "h4{a:b}h1 > em,h4{a:b}@keyframes k{from{a:b}to{a:b}}@media screen{h4{a:b}}"
           "x-y{a:b}:is(h4){a:b}tr,br{a:b}"}},
         "<style rel=stylesheet >h1>em{a:b}@keyframes k{from{a:b}to{a:b}}@media screen{}"
         ":is(h4){a:b}tr,br{a:b}</style><h1><em>x</em></h1></br>"},
        {"selectors of a list, plain ones alone, and conditions in quotes",
         {{"index.html", "<link rel=stylesheet href=a.css><p class=keep title=x>x</p>"},
          {"a.css",
           "p[title=\"a,b\"] .gone{a:b}.keep[title=';.gone{']{a:b}.gone,p:x-y{a:b}"
           ".gone , .keep,#gone{a:b}"}},
         "<style rel=stylesheet >.keep[title=';.gone{']{a:b}.gone,p:x-y{a:b} .keep{a:b}</style>"
         "<p class=keep title=x>x</p>"},
        {"a name a script joins from a string and a number",
         {{"index.html",
           "<link rel=stylesheet href=a.css><script>d.className = \"toclevel\" + n;"
           "e.id = `sec${n}`</script>"},
          {"a.css", ".toclevel1{a:b}.toc{a:b}#sec2{a:b}.tocleve{a:b}"}},
         "<style rel=stylesheet >.toclevel1{a:b}#sec2{a:b}</style><script>d.className = "
         "\"toclevel\" + n;e.id = `sec${n}`</script>"},
        {"an element a script makes",
         {{"index.html",
           "<link rel=stylesheet href=a.css><script>document.createElement('h4')"
           "</script>"},
          {"a.css", "h4{a:b}h5{a:b}"}},
         "<style rel=stylesheet >h4{a:b}</style><script>document.createElement('h4')</script>"},
        {"end tags a parser implies from the tag right after them",
         {{"index.html",
           "<dl><dt>a</dt><dd>b</dd><dt>c</dt> <dd>d</dd></dl><ul><li>x</li><li>"
           "y</li></ul><div><p>p</p></div><p>q</p><span>r</span></p></p><div></div>"
           "<p>s<div>t</div></p><div></div>"}},
         "<dl><dt>a<dd>b<dt>c</dt> <dd>d</dl><ul><li>x<li>y</ul><div><p>p</div><p>q</p><span>r"
         "</span></p></p><div></div><p>s<div>t</div></p><div></div>"},
        {"type attributes that name what their element holds anyway",
         {{"index.html",
           "<script type=\"text/javascript\">x</script><style TYPE = 'Text/CSS'>"
           "*{}</style><script type=module></script>"}},
         "<script>x</script><style>*{}</style><script type=module></script>"},
        {"a page whose script is not saved, or with a frame: every rule stays",
         {{"index.html",
           "<link rel=stylesheet href=a.css><script src=http://h/s.js></script>"
           "<object data=o.svg></object>"},
          {"a.css", ".gone{a:b}"}},
         "<style rel=stylesheet >.gone{a:b}</style><script src=http://h/s.js></script>"
         "<object data=o.svg></object>"},
        {"a link that runs a script, and raw text after the last tag",
         {{"index.html",
           "<link rel=stylesheet href=a.css><a href=\" java&#10;script:x()\">a"
           "</a><title>Open"},
          {"a.css", ".open{a:b}.gone{a:b}"}},
         "<style rel=stylesheet >.open{a:b}</style><a href=\" java&#10;script:x()\">a</a>"
         "<title>Open"},
        {"quotes",
         {{"index.html",
           "<a href=\"b.html\" title=\"two words\" class='c' id=\"\" "
           "data-x=\"a=b\"><br clear=\"all\"/><img alt=\"x\"src=\"p.png\">"},
          {"p.png", "abc"}},
         "<a href=b.html title=\"two words\" class=c id=\"\" data-x=\"a=b\"><br clear=\"all\"/>"
         "<img alt=\"x\"src=\"data:image/png;base64,YWJj\">"},
    };
    for (const auto& c : cases) EXPECT_EQ(WrittenFrom(c.files), c.written) << c.name;
    // A rule is known by where it begins, however long; a picture too far into one to look
    // back over stays, as its rule may match.
    const std::string longRule = ".gone{b:" + std::string(20000, 'a') + "}";
    EXPECT_EQ(
        WrittenFrom({{"index.html", "<link rel=stylesheet href=a.css>"}, {"a.css", longRule}}),
        "<style rel=stylesheet ></style>");
    const std::string farPicture = ".gone{.x{}b:" + std::string(20000, 'a') + ";c:url(p.png)}";
    EXPECT_TRUE(Holds(WrittenFrom({{"index.html", "<link rel=stylesheet href=a.css>"},
                                   {"a.css", farPicture},
                                   {"p.png", "abc"}}),
                      "c:url(" + png + ")}"));
    // A file read as XHTML keeps every quote and blank, and its XML declaration.
    const std::string page = "<?xml version=\"1.0\"?><p class=\"a\">  b  </p>";
    EXPECT_EQ(WrittenFrom({{"index.xhtml", page}}, "single.xhtml"), page);
}

// What the page's scripts load by names they make goes into a loader before its first script,
// under those names, made safe to stand in a script's string; the loader goes where there
// is a script and something of it is there.
TEST(SingleFile, WhatScriptsLoadByNamesTheyMakeGoesBeforeTheFirstScript) {
    const std::string loader = qm::LoaderStart();
    const std::vector<std::pair<std::string, std::string>> files = {
        {"index.html", "<p>a</p><script>go()</script>"},
        {"~loads/1.js", "var x;"},
        {"~loads/2.png", "abc"}};
    struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> loads;  // name, file
        std::string written;
    } cases[] = {
        {"each, by its name",
         {{"parts/i1.js", "~loads/1.js"}, {"../up.png", "~loads/2.png"}},
         "<p>a</p>" + loader + "[\"parts/i1.js\",\"data:text/javascript;base64,dmFyIHg7\"]," +
             "[\"../up.png\",\"data:image/png;base64,YWJj\"]" + qm::LoaderEnd() +
             "<script>go()</script>"},
        {"a name that would end its string or its script",
         {{"a\"b</script>\\ c.js", "~loads/1.js"}},
         "<p>a</p>" + loader + "[\"a%22b%3C/script%3E%5C%20c.js\",\"data:text/javascript;base64," +
             "dmFyIHg7\"]" + qm::LoaderEnd() + "<script>go()</script>"},
        {"none there, or the page itself",
         {{"gone.js", "~loads/gone.js"}, {"index.html", "index.html"}},
         "<p>a</p><script>go()</script>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WrittenFrom(files, "single.html", c.loads), c.written) << c.name;
    EXPECT_EQ(WrittenFrom({{"index.html", "<p>no script</p>"}, {"1.js", "x"}}, "single.html",
                          {{"1.js", "1.js"}}),
              "<p>no script</p>");
}

// A single file is read on a screen: the style sheets for print alone are left out, with
// what they name; those for a screen too stay.
TEST(SingleFile, LeavesOutTheStyleSheetsForPrint) {
    struct {
        const char* media;
        bool print;
    } lists[] = {
        {"print", true},
        {"only PRINT and (orientation: landscape)", true},
        {" print ,print and (color)", true},
        {"", false},
        {"all", false},
        {"screen, print", false},
        {"not print", false},
        {"(min-width: 10em)", false},
        {"print,", false},
        {"printer", false},
        {"pr&#105;nt, screen", false},
        {"print /* , screen */", false},
    };
    for (const auto& l : lists)
        EXPECT_EQ(qm::IsPrintOnly(l.media, std::strlen(l.media)), l.print) << l.media;
    const std::string page =
        "<link rel=stylesheet href=p.css media=print><link rel=\"Alternate StyleSheet\" "
        "href=p.css media='print'><link rel=stylesheet href=s.css media=\"screen, print\">"
        "<style media=print>[b]{}</style><style media=\"(min-width: 10em)\">[i]{}</style>"
        "<style>@import 'p.css' print;@import 's.css' not print;[a]{ }@media print{[p]{background:"
        "url(p.png)}}@media screen{@media print{[q]{}}[u]{}}/* x */@media print and (color){}"
        "</style><link rel=icon href=p.png media=print>";
    const std::vector<std::pair<std::string, std::string>> files = {
        {"index.html", page}, {"p.css", "[p]{}"}, {"s.css", "[s]{}"}, {"p.png", "abc"}};
    const std::string written =
        "<style rel=stylesheet  media=\"screen, print\">[s]{}</style><style "
        "media=\"(min-width: 10em)\">[i]{}</style><style>@media not print{[s]{}}[a]{}@media "
        "screen{[u]{}}</style><link rel=icon href=data:image/png;base64,YWJj media=print>";
    EXPECT_EQ(WrittenFrom(files), written);
    // Read as XHTML, its blanks and quotes stay.
    std::string xhtml = written;
    EXPECT_EQ(WrittenFrom(files, "single.xhtml"), xhtml.replace(xhtml.find("[a]{}"), 5, "[a]{ }"));
}

}  // namespace
}  // namespace qmtest
