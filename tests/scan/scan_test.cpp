// The page scan: what the reading finds in a text, what the scan queues and how the saved
// text reads afterwards, and that nothing but reference values ever changes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crawl_state.h"
#include "references.h"
#include "scan.h"
#include "platform/stop_token.h"
#include "../support/text_checks.h"

namespace qm {
namespace {

// What the reading finds in a text: "kind value" for each reference, '|' between them, and
// the text with each reference value replaced by its kind.
struct Collect : ReferenceVisitor {
    explicit Collect(const std::string& text, TextKind kind = TextKind::kHtml) : text(text) {
        ReadReferences(text.data(), static_cast<int32_t>(text.size()), kind, *this);
        skeleton += text.substr(done);
    }
    bool Found(const FoundReference& r) override {
        found += (found.empty() ? "" : "|") + std::to_string(r.kind) + (r.base ? "b " : " ") +
                 (r.joined ? std::string(r.joined, static_cast<size_t>(r.joinedLength))
                           : text.substr(r.begin, r.end - r.begin));
        skeleton += text.substr(done, r.begin - done) + "\1" + std::to_string(r.kind) + "\1";
        done = r.end;
        return true;
    }
    bool Continue() override { return true; }
    const std::string text;
    std::string found, skeleton;
    int32_t done = 0;
};

TEST(ReadReferences, FindsEveryFormByTheStructure) {
    const struct {
        std::string text;
        const char* found;
        TextKind kind = TextKind::kHtml;
    } cases[] = {
        {"<IMG SRC='a.gif'><img src=b.gif alt=x><img\nsrc = \"c d.png\">",
         "2 a.gif|2 b.gif|2 c d.png"},
        {"<img srcset=\"a.png 1x, b.webp 2x,c.avif\" src=d.png>",
         "2 a.png|2 b.webp|2 c.avif|2 d.png"},
        {"<picture><source srcset=\"s.webp\"><source src=v.mp4></picture>", "2 s.webp|7 v.mp4"},
        {"<input type=image src=i.gif><input src=no.gif><td background=bg.jpg>",
         "2 i.gif|0 no.gif|2 bg.jpg"},
        {"<video poster=p.jpg src=v.webm><track src=t.vtt></video><audio src=a.ogg>",
         "2 p.jpg|7 v.webm|7 t.vtt|7 a.ogg"},
        {"<link href=\"t.css?2022.1\" rel=stylesheet><link rel=\"shortcut icon\" href=f.ico>"
         "<link rel=apple-touch-icon href=t.png><link rel=search href=os.xml>",
         "3 t.css?2022.1|2 f.ico|2 t.png|0 os.xml"},
        {"<link rel=preload as=font href=f.woff2><link rel=modulepreload href=m.js><link "
         "rel=preload href=x>",
         "6 f.woff2|5 m.js|6 x"},
        {"<frame src=f.html><IFRAME src=\"d.svg\"></iframe><object data=o.svg></object><embed "
         "src=e.swf>",
         "4 f.html|4 d.svg|7 o.svg|7 e.swf"},
        {"<a href=x.html><area href='y.html'><form action=s.cgi><base href=\"/b/\">",
         "1 x.html|1 y.html|0 s.cgi|0b /b/"},
        {"<svg><image href=x.png /><image xlink:href=\"y.png\"/><use href=\"#i\"/></svg>",
         "2 x.png|2 y.png|0 #i"},
        {"<script src=j.js>j.href=j.getAttribute(\"data-href\"); s=\"<img "
         "src=no.gif>\"</script><img src=yes.gif>",
         "5 j.js|2 yes.gif"},
        {"<!-- <img src=c.gif> --><!--><img src=a.gif><!-- x --!><textarea><img "
         "src=t.gif></TEXTAREA ><img src=b.gif>",
         "2 a.gif|2 b.gif"},
        {"<title>img src=x.gif</title><p>Documentation/*.jpg and \"src\":\"bloomberg.png\" "
         "href=a</p>",
         ""},
        {"<style>@import \"a.css\";@import url(b.css);/* url(c.png) */ p{background:URL( 'd.png' )}"
         "i{src:url(f.woff2)}q{content:\"url(no.png)\"}u{x:url(e\\(\\29 .png)}</style>",
         "3 a.css|3 b.css|2 d.png|6 f.woff2|2 e\\(\\29 .png"},
        {"<p style=\"background:url(&quot;d.svg&quot;)\">", "2 &quot;d.svg&quot;"},
        {"<meta http-equiv=Refresh content=\"5; URL='next.html'\"><meta http-equiv=refresh "
         "content=\"0;b.html \"><meta http-equiv=refresh content=3><meta name=x content=y.html>",
         "1 next.html|1 b.html"},
        {"<img src=blank.gif data-src=real.jpg data-srcset=\"r2.jpg 2x\"><iframe "
         "data-src=f.html></iframe><div data-src=no.gif>",
         "2 blank.gif|2 real.jpg|2 r2.jpg|4 f.html"},
        {"<img src=\"unterminated.gif", ""},
        // What a page names as its site's root for its scripts.
        {"<div id=rustdoc-vars data-root-path=\"../\"></div><script data-url_root='./'>var "
         "pathtoroot = \"../../\";o={URL_ROOT : './x/', b:base_url};base_url='..';mybase_url='no'"
         "</script>",
         "255 ../|255 ./|255 ../../|255 ./x/|255 .."},
        {"div.a .icon{x:url(i.png)} @import 'c.css'; b{x:url(\"f.ttf\")}",
         "2 i.png|3 c.css|6 f.ttf", TextKind::kStyleSheet},
        {"n.html('<img src=\"'+relpath+'sync_off.png\"/>');e.src=`${e.src.slice(0,-9)}plus.png`;"
         "t='image/png';c=\"//cdn/a.png\";x='.png';u='http://h/b.gif'",
         "2 sync_off.png|2 plus.png", TextKind::kScript},
        // The files a script loads: by their extension, or a name and extension given apart.
        {"createElem(doc, tag, 'search.js');x='a-search-index.js';"
         "loadScript(resourcePath(\"search-index\", \".js\"));c=\"s.css\";f='f.woff2';"
         "d='d.json';n=\"x.txt\";e='.js';m=`${a}.css`;q=(x,\".json\")",
         "5 search.js|5 a-search-index.js|5 search-index.js|3 s.css|6 f.woff2|5 d.json",
         TextKind::kScript},
        // Doxygen's search data: a results page and its script per section and first letter.
        {"var indexSectionsWithContent =\n{\n  0: \"a\\u00e9\xC3\xA9z\",\n  1: \"m\"\n};\n"
         "var indexSectionNames =\n{\n  0: \"all\",\n  1: \"classes\"\n};",
         "4 all_0.html|5 all_0.js|4 all_1.html|5 all_1.js|4 all_2.html|5 all_2.js|"
         "4 all_3.html|5 all_3.js|4 classes_0.html|5 classes_0.js|4 nomatches.html",
         TextKind::kScript},
        // Doxygen's navigation tree: the scripts of its index, and of a node's children.
        {"var NAVTREE =\n[\n  [ \"SDL\", \"index.html\", [\n    [ \"Files\", "
         "\"files.html\", \"files_dup\" ],\n    [ \"A\", \"a.html#x\", null ],\n"
         "    [ \"B\", \"b\", \"no\" ] ] ]\n];\nvar NAVTREEINDEX =\n[\n\"a.html\",\n"
         "\"d1/b.html#c\"\n];",
         "5 navtreeindex0.js|5 navtreeindex1.js|5 files_dup.js", TextKind::kScript},
    };
    for (const auto& c : cases) EXPECT_EQ(Collect(c.text, c.kind).found, c.found) << c.text;
    std::string letters(17, 'a');
    EXPECT_TRUE(qmtest::Holds(
        Collect("indexSectionsWithContent={0:'" + letters + "'};indexSectionNames={0:'f'}",
                TextKind::kScript)
            .found,
        "|5 f_f.js|4 f_10.html|5 f_10.js|4 nomatches.html"));
    std::string list;
    for (int i = 0; i < 40; ++i) list += "'" + std::to_string(i) + ".gif',";
    EXPECT_TRUE(qmtest::Holds(Collect(list, TextKind::kScript).found, "|2 31.gif"));
    EXPECT_FALSE(qmtest::Holds(Collect(list, TextKind::kScript).found, "|2 32.gif"));
}

// An @import is found with the rule around it and the conditions after its URL.
TEST(ReadReferences, AnImportComesWithItsRule) {
    struct Rules : ReferenceVisitor {
        explicit Rules(const std::string& css) : css(css) {
            ReadReferences(css.data(), static_cast<int32_t>(css.size()), TextKind::kStyleSheet,
                           *this);
        }
        bool Found(const FoundReference& r) override {
            if (r.role != ElementRole::kImportRule) return true;
            found += "[" + css.substr(r.tagBegin, r.tagEnd - r.tagBegin) + "|" +
                     css.substr(r.attributeBegin, r.attributeEnd - r.attributeBegin) + "]";
            return true;
        }
        bool Continue() override { return true; }
        const std::string css;
        std::string found;
    };
    const std::pair<const char*, const char*> cases[] = {
        {"@import \"a.css\";p{}", "[@import \"a.css\";|]"},
        {"@import url( 'a.css' ) print, screen;@import url(b.css)",
         "[@import url( 'a.css' ) print, screen;| print, screen][@import url(b.css)|]"},
        {"@import url(a.css) layer(x) supports(display: grid) screen;",
         "[@import url(a.css) layer(x) supports(display: grid) screen;"
         "| layer(x) supports(display: grid) screen]"},
        {"@import 'a.css' \"b;c\";", "[@import 'a.css' \"b;c\";| \"b;c\"]"},
        {"@import 'a.css' x{p{}}", "[@import 'a.css' x| x]"},
        {"@import '';@import url();@import x.css;@import 'open", ""},
    };
    for (const auto& [css, found] : cases) EXPECT_EQ(Rules(css).found, found) << css;
}

// The markup around the references, for a visitor that asks for it, in the order of the text.
TEST(ReadReferences, ReportsTheMarkupToWhoAsks) {
    struct Seen : ReferenceVisitor {
        explicit Seen(const std::string& html) : html(html) {
            ReadReferences(html.data(), static_cast<int32_t>(html.size()), TextKind::kHtml, *this);
        }
        bool Found(const FoundReference& r) override {
            seen += "R(" + html.substr(r.begin, r.end - r.begin) + ")";
            return true;
        }
        bool Continue() override { return true; }
        bool WantsMarkup() const override { return true; }
        bool Markup(const FoundMarkup& m) override {
            const char* kinds = "SETCM";
            seen += std::string(1, kinds[m.kind]) + "(" +
                    (m.kind <= FoundMarkup::kEndTag ? std::string(m.name, m.nameLength)
                                                    : html.substr(m.begin, m.end - m.begin));
            for (int i = 0; i < m.attributeCount; ++i)
                seen += " " + std::string(m.attributes[i].name, m.attributes[i].nameLength) + "=" +
                        html.substr(m.attributes[i].begin,
                                    m.attributes[i].end - m.attributes[i].begin);
            seen += ")";
            return true;
        }
        const std::string html;
        std::string seen;
    };
    const std::pair<const char*, const char*> cases[] = {
        {"<P Class='a b' id=c>x <b>y</b></p> z", "S(p class=a b id=c)T(x )S(b)T(y)E(b)E(p)T( z)"},
        {"<img src=a.png alt><!-- <i> --> a < b </x-very-long-element-name>",
         "R(a.png)S(img src=a.png alt=)T( a )T( b )E()"},
        {"<style>a{} /*c*/ b{x:url(p.png) \\31  'q'}</style><textarea> t </textarea>",
         "S(style)C(a{} )M(/*c*/)C( b{x:)R(p.png)C() )C( )C(})E(style)S(textarea)E(textarea)"},
        {"<p style=\"x:url(p.png)\">", "R(p.png)S(p style=x:url(p.png))"},
    };
    for (const auto& [html, seen] : cases) EXPECT_EQ(Seen(html).seen, seen) << html;
}

// Decoded, a value just fits its area, or is one byte too long for it.
TEST(DecodeValue, FitsToTheLastByte) {
    char out[URL_TEXT_SIZE];
    for (int32_t fill : {URL_TEXT_SIZE - 3, URL_TEXT_SIZE - 2}) {
        std::string value = std::string(static_cast<size_t>(fill), 'a') + "&amp;b";
        EXPECT_EQ(DecodeValue(value.data(), static_cast<int32_t>(value.size()), kInAttribute, out,
                              sizeof out),
                  fill + 2 < URL_TEXT_SIZE ? fill + 2 : -1);
    }
}

// A state with the page http://h/d/p.html being visited, saved in the folder "S\".
void StartPage(CrawlState& state) {
    state.Reset();
    std::strcpy(state.saveFolder, "S\\");
    state.currentIndex = state.tailIndex = state.Allocate();
    PageRecord& r = state.current();
    r.prev = r.next = NO_RECORD;
    r.kind = KIND_PAGE;
    std::strcpy(r.url, "http://h/d/p.html");
}

// Scans `text` and puts the saved text in its place.
ScanResult Scan(CrawlState& state, std::string* text, const SaveOptions& options,
                TextKind kind = TextKind::kHtml, const StopToken& stop = StopToken()) {
    static std::vector<char> out(FETCH_BUFFER_SIZE);
    int32_t length = 0;
    std::vector<LocalSpot> spots;
    ScanResult result = ScanAndRewritePage(state, text->data(), static_cast<int32_t>(text->size()),
                                           kind, options, out.data(), &length, &spots, stop);
    text->assign(out.data(), length);
    return result;
}

// The queue behind the current record, one "kind depth url" line each.
std::string Queue(CrawlState& state) {
    std::string out;
    for (int32_t i = state.current().next; i != NO_RECORD; i = state.record(i).next) {
        const PageRecord& r = state.record(i);
        out += std::to_string(r.kind) + " " + std::to_string(r.depth) + " " + r.url + "\n";
    }
    return out;
}

const SaveOptions kComplete{1, 1, 0, 1};
const SaveOptions kThisPageOnly{1, 1, 0, 0};
const SaveOptions kWordsOnly{1, 0, 0, 1};
const SaveOptions kSameSite{1, 1, 1, 1};

TEST(Scan, RewritesAndQueues) {
    const struct {
        SaveOptions options;
        const char* in;
        const char* out;
        const char* queue;
        TextKind kind = TextKind::kHtml;
    } cases[] = {
        // Embedded items first, then links with one more depth, each in the order found.
        {kComplete, "<a href=p.html><img src=a.gif><A HREF='../q.htm#top'><img src=\"b.gif\">",
         "<a href=http--h-d-p.html><img src=http-/h/d/a.gif><A HREF='http--h-q.htm#top'><img "
         "src=\"http-/h/d/b.gif\">",
         "2 0 http://h/d/a.gif\n2 0 http://h/d/b.gif\n1 1 http://h/d/p.html\n1 1 http://h/q.htm\n"},
        {kThisPageOnly, "<a href=\"o.html\">", "<a href=\"http://h/d/o.html\">", ""},
        {kSameSite, "<a href=\"http://far/x.html\">", "<a href=\"http://far/x.html\">", ""},
        {kWordsOnly, "<img src=a.gif><script src=j.js></script>",
         "<img src=http://h/d/a.gif><script src=http-/h/d/j.js></script>", "5 0 http://h/d/j.js\n"},
        {kThisPageOnly, "<a href=\"p.asp?a=1&amp;b=&#39;2#x&amp;y\">",
         "<a href=\"http://h/d/p.asp?a=1&amp;b='2#x&amp;y\">", ""},
        {kComplete, "<link rel=stylesheet href=\"t.css?v=1\"><img src='my pic.png'>",
         "<link rel=stylesheet href=\"http--h-d-t-v=1.css\"><img src='http-/h/d/my%2520pic.png'>",
         "3 0 http://h/d/t.css?v=1\n2 0 http://h/d/my%20pic.png\n"},
        {kComplete, "<img src=a.gif><img src=./a.gif><a href=a.gif>",
         "<img src=http-/h/d/a.gif><img src=http-/h/d/a.gif><a href=http-/h/d/a.gif>",
         "2 0 http://h/d/a.gif\n"},
        {kComplete, "<img src=a.gif><base href=\"http://o/b/\"><img src=c.gif>",
         "<img src=http-/h/d/a.gif><base href=\"\"><img src=http-/o/b/c.gif>",
         "2 0 http://h/d/a.gif\n2 0 http://o/b/c.gif\n"},
        {kComplete,
         "<form action=\"s.cgi\"><a href=\"mailto:x@y\"><img src=\"data:image/png;base64,AA\"><a "
         "href=\"#x\"><a href=\"\">",
         "<form action=\"http://h/d/s.cgi\"><a href=\"mailto:x@y\"><img "
         "src=\"data:image/png;base64,AA\"><a href=\"#x\"><a href=\"\">",
         ""},
        {kWordsOnly, "<p style='background:url(a&#39;b.png)'><img srcset=\"a,b.png 2x\">",
         "<p style='background:url(http://h/d/a\\&#39;b.png)'><img "
         "srcset=\"http://h/d/a%2Cb.png 2x\">",
         ""},
        // References read as URLs are decoded, in attributes and in CSS.
        {kComplete,
         "<img src=\"a&amp;b&#39;c&#46;png&#x2F;x.gif\"><img src=\"  e.gif\n\"><img src=a&ampb>",
         "<img src=\"http-/h/d/a%26b%27c.png/x.gif\"><img src=\"http-/h/d/e.gif\"><img "
         "src=http-/h/d/a%26ampb>",
         "2 0 http://h/d/a&b'c.png/x.gif\n2 0 http://h/d/e.gif\n2 0 http://h/d/a&ampb\n"},
        {kComplete,
         "<style>i{x:url('a\\(b\\29 .png')}u{x:url(a&amp;b)}</style><p "
         "style=\"x:url(&quot;d.svg&quot;)\">",
         "<style>i{x:url('http-/h/d/a%28b%29.png')}u{x:url(http-/h/d/a%26amp;b)}</style><p "
         "style=\"x:url(http-/h/d/d.svg)\">",
         "2 0 http://h/d/a(b).png\n6 0 http://h/d/a&amp;b\n2 0 http://h/d/d.svg\n"},
        {kComplete, "@import \"c.css\";b{background:url(../i/bg.png)}",
         "@import \"http--h-d-c.css\";b{background:url(http-/h/i/bg.png)}",
         "3 0 http://h/d/c.css\n2 0 http://h/i/bg.png\n", TextKind::kStyleSheet},
        // Names that clash on one page are taken in the page's order.
        {kComplete, "<img src=A.gif><img src=a.gif><img src=a.gif/b.gif>",
         "<img src=http-/h/d/A.gif><img src=http-/h/d/a-C4596612.gif><img "
         "src=http-/h/d/a.gif_/b.gif>",
         "2 0 http://h/d/A.gif\n2 0 http://h/d/a.gif\n2 0 http://h/d/a.gif/b.gif\n"},
        {kComplete, "<meta http-equiv=refresh content=\"0; url='n.html'\">",
         "<meta http-equiv=refresh content=\"0; url='http--h-d-n.html'\">",
         "1 1 http://h/d/n.html\n"},
        // A script names pictures for its own use: they are queued, the script kept as it is.
        {kComplete, "s='img/on.png';t=`${d}a.png`", "s='img/on.png';t=`${d}a.png`",
         "2 0 http://h/d/img/on.png\n2 0 http://h/d/a.png\n", TextKind::kScript},
        {kWordsOnly, "s='on.png'", "s='on.png'", "", TextKind::kScript},
    };
    CrawlState state;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        StartPage(state);
        std::string text = c.in;
        EXPECT_EQ(Scan(state, &text, c.options, c.kind), ScanResult::kComplete);
        EXPECT_EQ(text, c.out);
        EXPECT_EQ(Queue(state), c.queue);
    }
}

// What a script loads is saved only where the site's layout is kept, as the script's folder
// and the site's root (the deepest a page named that holds the script) would name it; the
// page and the script stay as they are.
TEST(Scan, AScriptsFilesAreQueuedFromItsFolderAndTheSitesRoot) {
    const std::string page =
        "<div data-root-path=\"../\"></div><script>var pathtoroot = './';</script>";
    const std::string script =
        "a='search.js';b=f('idx', '.js');c=base_url+'/w/worker.js';d='i.png';e='../up.css'";
    const struct {
        NameLayout layout;
        const char* queue;
    } cases[] = {
        {NameLayout::kSiteTree,
         "5 0 http://h/d/js/search.js\n5 0 http://h/d/search.js\n5 0 http://h/d/js/idx.js\n"
         "5 0 http://h/d/idx.js\n5 0 http://h/w/worker.js\n5 0 http://h/d/w/worker.js\n"
         "2 0 http://h/d/js/i.png\n3 0 http://h/d/up.css\n3 0 http://h/up.css\n"},
        {NameLayout::kFlat, "2 0 http://h/d/js/i.png\n"},
    };
    for (const auto& c : cases) {
        PagePolicy policy(c.layout);
        CrawlState state;
        StartPage(state);
        state.policy = &policy;
        std::string text = page;
        Scan(state, &text, kThisPageOnly);
        EXPECT_EQ(text, page);
        std::strcpy(state.current().url, "http://h/d/js/s.js");
        state.current().kind = KIND_SCRIPT;
        text = script;
        Scan(state, &text, kThisPageOnly, TextKind::kScript);
        EXPECT_EQ(text, script);
        EXPECT_EQ(Queue(state), c.queue);
    }
}

// Any text: the saved one holds the same references, of the same kinds, in the same places
// of its structure, and between them the original bytes. Reference values are all that changes.
TEST(Scan, NothingButReferenceValuesChanges) {
    // clang-format off
    const char* pieces[] = {
        "<img src=", "<img src=\"", "<a href='", "<link rel=stylesheet href=", "<frame src=",
        "<script src=", "<style>", "</style>", "<script>", "</script>", "<!--", "-->",
        "<p style=\"", "url(", "url('", "@import \"", "srcset=\"", " 2x, ", "&amp;", "&#39;",
        "&quot;", "#frag", "a.gif", "b.css", "c.html", "../", "?q=1", "\"", "'", ">", "<", "=",
        " ", "\n", ")", ";", "\\", ",", "\xC3\xA9", "mailto:x", "http://other/x.png",
        "//h/y.jpg", "<textarea>", "</textarea>", "<title>", "</title>", "d e.png"};
    // clang-format on
    const SaveOptions options[] = {kComplete, kWordsOnly, kThisPageOnly};
    std::mt19937 random(11);
    CrawlState state;
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        for (int i = 0, n = 1 + static_cast<int>(random() % 40); i < n; ++i)
            text += pieces[random() % (sizeof pieces / sizeof *pieces)];
        TextKind kind = round % 5 == 0 ? TextKind::kStyleSheet : TextKind::kHtml;
        StartPage(state);
        std::string saved = text;
        ASSERT_EQ(Scan(state, &saved, options[round % 3], kind), ScanResult::kComplete);
        ASSERT_EQ(Collect(text, kind).skeleton, Collect(saved, kind).skeleton) << text << "\n"
                                                                               << saved;
    }
}

// A stop ends the scan of a hostile page (bench/scan_bench --hostile measures its time), and
// the text is not to be saved. A value longer than a URL can be is left as it stands.
TEST(Scan, AStopEndsAScan) {
    CrawlState state;
    StartPage(state);
    std::string text = "<img src=" + std::string(600, 'a') + ">";
    while (text.size() < 3 * 1048576) text += "img href=a <img src=x ";
    const std::atomic<bool> raised{true};
    EXPECT_EQ(Scan(state, &text, kComplete, TextKind::kHtml, StopToken(raised)),
              ScanResult::kStopped);
    EXPECT_EQ(Scan(state, &text, kComplete), ScanResult::kComplete);
    EXPECT_EQ(text.substr(0, 20), "<img src=aaaaaaaaaaa");
}

// When the table runs out, what was found is queued, and what is found after that is named
// by its address: the saved page never names a file that will not be there.
TEST(Scan, TableRunningOutNamesTheRestByAddress) {
    CrawlState state;
    StartPage(state);
    while (state.Allocate() < PAGE_TABLE_SIZE - 3) {
    }
    std::string text = "<img src=a.gif><img src=b.gif><img src=c.gif><img src=d.gif>";
    EXPECT_EQ(Scan(state, &text, kComplete), ScanResult::kOutOfRecords);
    EXPECT_EQ(text,
              "<img src=http-/h/d/a.gif><img src=http-/h/d/b.gif><img src=http://h/d/c.gif><img "
              "src=http://h/d/d.gif>");
    EXPECT_EQ(Queue(state), "2 0 http://h/d/a.gif\n2 0 http://h/d/b.gif\n");
}

// A page that fills its buffer: rewrites that would not fit leave their reference as it
// was, and nothing is written past the buffer.
TEST(Scan, RewritesThatWouldNotFitAreLeftOut) {
    CrawlState state;
    StartPage(state);
    const std::string tail = "<img src=a.gif>";
    // Room for one rewrite, which adds 10 bytes.
    std::string text = "<img src=z.gif>" + std::string(FETCH_BUFFER_SIZE - 45, 'x') + tail;
    Scan(state, &text, kComplete);
    EXPECT_LE(text.size(), size_t{FETCH_BUFFER_SIZE});
    EXPECT_EQ(text.substr(0, 25), "<img src=http-/h/d/z.gif>");
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

}  // namespace
}  // namespace qm
