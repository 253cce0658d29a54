// The page scan: what the reading finds in a text, what the scan queues and how the saved
// text reads afterwards, and that nothing but reference values ever changes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crawl_state.h"
#include "references.h"
#include "scan.h"
#include "stop.h"

namespace qm {
namespace {

const char kPage[] = "http://host/dir/index.html";

// Every reference the reading finds: "kind value" each, '|' between them.
struct Collect : ReferenceVisitor {
    const char* text;
    std::string found;
    std::vector<FoundReference> all;
    bool Found(const FoundReference& r) override {
        if (!found.empty()) found += "|";
        found += std::to_string(r.kind) + (r.base ? "b " : " ") +
                 std::string(text + r.begin, r.end - r.begin);
        all.push_back(r);
        return true;
    }
    bool Continue() override { return true; }
};

std::string Read(const std::string& text, TextKind kind = TextKind::kHtml) {
    Collect c;
    c.text = text.c_str();
    ReadReferences(text.data(), static_cast<int32_t>(text.size()), kind, c);
    return c.found;
}

TEST(ReadReferences, FindsEveryFormByTheStructure) {
    const struct {
        const char* text;
        const char* found;
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
         "i{src:url(f.woff2)}q{content:\"url(no.png)\"}</style>",
         "3 a.css|3 b.css|2 d.png|6 f.woff2"},
        {"<p style=\"background:url(&quot;d.svg&quot;)\">", "2 &quot;d.svg&quot;"},
        {"<img src=\"unterminated.gif", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Read(c.text), c.found) << c.text;
    EXPECT_EQ(Read("div.a .icon{x:url(i.png)} @import 'c.css'; b{x:url(\"f.ttf\")}",
                   TextKind::kStyleSheet),
              "2 i.png|3 c.css|6 f.ttf");
}

TEST(DecodeValue, UndoesCharacterReferencesAndEscapes) {
    const struct {
        const char* value;
        uint8_t context;
        const char* url;
    } cases[] = {
        {"a&amp;b&#39;c&#46;png&#x2F;", kInAttribute, "a&b'c.png/"},
        {"  a.gif\n", kInAttribute, "a.gif"},
        {"a&ampb", kInAttribute, "a&ampb"},
        {"a\\(b\\29 .png", kInCss, "a(b).png"},
        {"&quot;d.svg&quot;", kInAttribute | kInCss, "d.svg"},
        {"a&amp;b", kInCss, "a&amp;b"},
    };
    char out[URL_TEXT_SIZE];
    for (const auto& c : cases) {
        ASSERT_GE(DecodeValue(c.value, static_cast<int32_t>(std::strlen(c.value)), c.context, out,
                              sizeof out),
                  0);
        EXPECT_STREQ(out, c.url) << c.value;
    }
    std::string tooLong(600, 'a');
    EXPECT_EQ(DecodeValue(tooLong.data(), 600, kInAttribute, out, sizeof out), -1);
    // Decoded, the value just fits, or is one too long.
    for (int32_t fill : {URL_TEXT_SIZE - 3, URL_TEXT_SIZE - 2}) {
        std::string value = std::string(static_cast<size_t>(fill), 'a') + "&amp;b";
        int32_t n = DecodeValue(value.data(), static_cast<int32_t>(value.size()), kInAttribute, out,
                                sizeof out);
        EXPECT_EQ(n, fill + 2 < URL_TEXT_SIZE ? fill + 2 : -1);
    }
}

// Sets a state up with the page being visited, in the save folder "S\".
void StartPage(CrawlState& state, const char* url) {
    state.Reset();
    std::strcpy(state.saveFolder, "S\\");
    state.currentIndex = state.tailIndex = state.Allocate();
    PageRecord& r = state.record(0);
    r.prev = r.next = NO_RECORD;
    r.kind = KIND_PAGE;
    std::strcpy(r.url, url);
}

std::vector<char>& Buffer() {
    static std::vector<char> buffer(FETCH_BUFFER_SIZE);
    return buffer;
}

ScanResult Scan(CrawlState& state, std::string* text, const SaveOptions& options,
                TextKind kind = TextKind::kHtml) {
    int32_t length = 0;
    std::vector<LocalSpot> spots;
    ScanResult result = ScanAndRewritePage(state, text->data(), static_cast<int32_t>(text->size()),
                                           kind, options, Buffer().data(), &length, &spots);
    text->assign(Buffer().data(), length);
    return result;
}

// The queue behind the current record, one "kind depth url -> localPath" line each.
std::string Queue(CrawlState& state) {
    std::string out;
    for (int32_t i = state.current().next; i != NO_RECORD; i = state.record(i).next) {
        const PageRecord& r = state.record(i);
        out += std::to_string(r.kind) + " " + std::to_string(r.depth) + " " + r.url + " -> " +
               r.localPath + "\n";
    }
    return out;
}

const SaveOptions kComplete{1, 1, 0, 1};
const SaveOptions kThisPageOnly{1, 1, 0, 0};
const SaveOptions kWordsOnly{1, 0, 0, 1};
const SaveOptions kSameSite{1, 1, 1, 1};

struct ScanCase {
    const char* name;
    SaveOptions options;
    const char* in;
    const char* out;
    const char* queue;
};

const ScanCase kCases[] = {
    {"PictureInFoldersMode", kComplete, "<img src=\"pic.gif\">",
     "<img src=\"http-/host/dir/pic.gif\">",
     "2 0 http://host/dir/pic.gif -> S\\http-\\host\\dir\\pic.gif\n"},
    {"LinkFollowedAndItsFragmentKept", kComplete, "<A HREF='../up.htm#top'>",
     "<A HREF='http--host-up.htm#top'>", "1 1 http://host/up.htm -> S\\http--host-up.htm\n"},
    {"LinkBeyondDepthByItsAddress", kThisPageOnly, "<a href=\"o.html\">",
     "<a href=\"http://host/dir/o.html\">", ""},
    {"OtherSiteUnderSameSiteOnly", kSameSite, "<a href=\"http://far/x.html\">",
     "<a href=\"http://far/x.html\">", ""},
    {"PictureNotSavedByItsAddress", kWordsOnly, "<img src=a.gif><script src=j.js></script>",
     "<img src=http://host/dir/a.gif><script src=http-/host/dir/j.js></script>",
     "5 0 http://host/dir/j.js -> S\\http-\\host\\dir\\j.js\n"},
    {"EntitiesReadAndWritten", kThisPageOnly, "<a href=\"p.asp?a=1&amp;b=&#39;2#x&amp;y\">",
     "<a href=\"http://host/dir/p.asp?a=1&amp;b='2#x&amp;y\">", ""},
    {"QueryBeforeKnownExtensionAndSpaceEncoded", kComplete,
     "<link rel=stylesheet href=\"t.css?v=1\"><img src='my pic.png'>",
     "<link rel=stylesheet href=\"http--host-dir-t-v=1.css\"><img "
     "src='http-/host/dir/my%2520pic.png'>",
     "3 0 http://host/dir/t.css?v=1 -> S\\http--host-dir-t-v=1.css\n"
     "2 0 http://host/dir/my%20pic.png -> S\\http-\\host\\dir\\my%20pic.png\n"},
    {"NoPageExtensionForOtherFiles", kComplete, "<a href=opensearch.xml>o</a><a href=py.svg>",
     "<a href=http--host-dir-opensearch.xml>o</a><a href=http--host-dir-py.svg>",
     "1 1 http://host/dir/opensearch.xml -> S\\http--host-dir-opensearch.xml\n"
     "1 1 http://host/dir/py.svg -> S\\http--host-dir-py.svg\n"},
    {"EachUrlOnceAndAlwaysTheSameName", kComplete, "<img src=a.gif><img src=./a.gif><a href=a.gif>",
     "<img src=http-/host/dir/a.gif><img src=http-/host/dir/a.gif><a href=http-/host/dir/a.gif>",
     "2 0 http://host/dir/a.gif -> S\\http-\\host\\dir\\a.gif\n"},
    {"BaseSetsTheBaseAndGoes", kComplete,
     "<img src=a.gif><base href=\"http://other/b/\"><img src=c.gif>",
     "<img src=http-/host/dir/a.gif><base href=\"\"><img src=http-/other/b/c.gif>",
     "2 0 http://host/dir/a.gif -> S\\http-\\host\\dir\\a.gif\n2 0 http://other/b/c.gif -> "
     "S\\http-\\other\\b\\c.gif\n"},
    {"AddressOnlyAndOtherSchemes", kComplete,
     "<form action=\"s.cgi\"><a href=\"mailto:x@y\"><img src=\"data:image/png;base64,AA\"><a "
     "href=\"#x\"><a href=\"\">",
     "<form action=\"http://host/dir/s.cgi\"><a href=\"mailto:x@y\"><img "
     "src=\"data:image/png;base64,AA\"><a href=\"#x\"><a href=\"\">",
     ""},
    {"CssEscapesWritten", kWordsOnly, "<p style='background:url(a&#39;b.png)'>",
     "<p style='background:url(http://host/dir/a\\&#39;b.png)'>", ""},
    {"SrcsetCommasEncoded", kWordsOnly, "<img srcset=\"a,b.png 2x\">",
     "<img srcset=\"http://host/dir/a%2Cb.png 2x\">", ""},
    {"HttpsFetchedToo", kComplete, "<img src=\"HTTPS://h/x.gif\">", "<img src=\"https-/h/x.gif\">",
     "2 0 https://h/x.gif -> S\\https-\\h\\x.gif\n"},
    {"EmbeddedFirstThenLinksInFoundOrder", kComplete,
     "<a href=p.html><img src=a.gif><a href=q.html><img src=b.gif>",
     "<a href=http--host-dir-p.html><img src=http-/host/dir/a.gif><a "
     "href=http--host-dir-q.html><img src=http-/host/dir/b.gif>",
     "2 0 http://host/dir/a.gif -> S\\http-\\host\\dir\\a.gif\n2 0 http://host/dir/b.gif -> "
     "S\\http-\\host\\dir\\b.gif\n"
     "1 1 http://host/dir/p.html -> S\\http--host-dir-p.html\n1 1 http://host/dir/q.html -> "
     "S\\http--host-dir-q.html\n"},
    {"ClashingNamesTakenInPageOrder", kComplete,
     "<img src=A.gif><img src=a.gif><img src=a.gif/b.gif>",
     "<img src=http-/host/dir/A.gif><img src=http-/host/dir/a-AC66729D.gif><img "
     "src=http-/host/dir/a.gif_/b.gif>",
     "2 0 http://host/dir/A.gif -> S\\http-\\host\\dir\\A.gif\n"
     "2 0 http://host/dir/a.gif -> S\\http-\\host\\dir\\a-AC66729D.gif\n"
     "2 0 http://host/dir/a.gif/b.gif -> S\\http-\\host\\dir\\a.gif_\\b.gif\n"},
    {"FolderUrlGetsAFile", kComplete, "<img src=\"/docs/\"><a href=\"/d/\">",
     "<img src=\"http-/host/docs/index\"><a href=\"http--host-d-.html\">",
     "2 0 http://host/docs/ -> S\\http-\\host\\docs\\index\n1 1 http://host/d/ -> "
     "S\\http--host-d-.html\n"},
};

TEST(Scan, RewritesAndQueues) {
    CrawlState state;
    for (const ScanCase& c : kCases) {
        SCOPED_TRACE(c.name);
        StartPage(state, kPage);
        std::string text = c.in;
        EXPECT_EQ(Scan(state, &text, c.options), ScanResult::kComplete);
        EXPECT_EQ(text, c.out);
        EXPECT_EQ(Queue(state), c.queue);
    }
    // A style sheet is read as CSS.
    StartPage(state, "http://host/s/site.css");
    std::string css = "@import \"common.css\";b{background:url(../i/bg.png)}";
    EXPECT_EQ(Scan(state, &css, kComplete, TextKind::kStyleSheet), ScanResult::kComplete);
    EXPECT_EQ(css, "@import \"http--host-s-common.css\";b{background:url(http-/host/i/bg.png)}");
}

// Any text: the saved one holds the same references, of the same kinds, in the same places
// of its structure, and between them the original bytes. Reference values are all that changes.
TEST(Scan, NothingButReferenceValuesChanges) {
    const char* pieces[] = {"<img src=",
                            "<img src=\"",
                            "<a href='",
                            "<link rel=stylesheet href=",
                            "<frame src=",
                            "<script src=",
                            "<style>",
                            "</style>",
                            "<script>",
                            "</script>",
                            "<!--",
                            "-->",
                            "<p style=\"",
                            "url(",
                            "url('",
                            "@import \"",
                            "srcset=\"",
                            " 2x, ",
                            "&amp;",
                            "&#39;",
                            "&quot;",
                            "#frag",
                            "a.gif",
                            "b.css",
                            "c.html",
                            "../",
                            "?q=1",
                            "\"",
                            "'",
                            ">",
                            "<",
                            "=",
                            " ",
                            "\n",
                            ")",
                            ";",
                            "\\",
                            ",",
                            "\xC3\xA9",
                            "mailto:x",
                            "http://other/x.png",
                            "//h/y.jpg",
                            "<textarea>",
                            "</textarea>",
                            "<title>",
                            "</title>",
                            "d e.png"};
    std::mt19937 random(11);
    CrawlState state;
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        for (int i = 0, n = 1 + static_cast<int>(random() % 40); i < n; ++i)
            text += pieces[random() % (sizeof pieces / sizeof *pieces)];
        const SaveOptions options[] = {kComplete, kWordsOnly, kThisPageOnly};
        TextKind kind = round % 5 == 0 ? TextKind::kStyleSheet : TextKind::kHtml;
        StartPage(state, kPage);
        std::string saved = text;
        ASSERT_EQ(Scan(state, &saved, options[round % 3], kind), ScanResult::kComplete);
        Collect before, after;
        before.text = text.c_str();
        after.text = saved.c_str();
        ReadReferences(text.data(), static_cast<int32_t>(text.size()), kind, before);
        ReadReferences(saved.data(), static_cast<int32_t>(saved.size()), kind, after);
        ASSERT_EQ(before.all.size(), after.all.size()) << text << "\n" << saved;
        int32_t a = 0, b = 0;
        for (size_t i = 0; i < before.all.size(); ++i) {
            ASSERT_EQ(before.all[i].kind, after.all[i].kind) << text;
            ASSERT_EQ(text.substr(a, before.all[i].begin - a),
                      saved.substr(b, after.all[i].begin - b))
                << text << "\n"
                << saved;
            a = before.all[i].end;
            b = after.all[i].end;
        }
        ASSERT_EQ(text.substr(a), saved.substr(b)) << text << "\n" << saved;
    }
}

// A hostile page scans in linear time (bench/scan_bench --hostile measures it); a stop
// asked for while it runs ends the scan, and the text is not to be saved.
TEST(Scan, AStopEndsAScan) {
    CrawlState state;
    StartPage(state, kPage);
    std::string text;
    while (text.size() < 3 * 1048576) text += "img href=a <img src=x ";
    RequestStop();
    EXPECT_EQ(Scan(state, &text, kComplete), ScanResult::kStopped);
    CallScope clear;
    EXPECT_EQ(Scan(state, &text, kComplete), ScanResult::kComplete);
}

// When the table runs out, what was found is queued, and what is found after that is named
// by its address: the saved page never names a file that will not be there.
TEST(Scan, TableRunningOutNamesTheRestByAddress) {
    CrawlState state;
    StartPage(state, kPage);
    while (state.Allocate() < PAGE_TABLE_SIZE - 3) {
    }
    std::string text = "<img src=a.gif><img src=b.gif><img src=c.gif><img src=d.gif>";
    EXPECT_EQ(Scan(state, &text, kComplete), ScanResult::kOutOfRecords);
    EXPECT_EQ(text,
              "<img src=http-/host/dir/a.gif><img src=http-/host/dir/b.gif>"
              "<img src=http://host/dir/c.gif><img src=http://host/dir/d.gif>");
    EXPECT_EQ(Queue(state),
              "2 0 http://host/dir/a.gif -> S\\http-\\host\\dir\\a.gif\n"
              "2 0 http://host/dir/b.gif -> S\\http-\\host\\dir\\b.gif\n");
}

// A page that fills its buffer: rewrites that would not fit leave their reference as it
// was, and nothing is written past the buffer.
TEST(Scan, RewritesThatWouldNotFitAreLeftOut) {
    CrawlState state;
    StartPage(state, kPage);
    std::string tail = "<img src=a.gif>";
    std::string text(FETCH_BUFFER_SIZE - tail.size() - 20, 'x');
    text = "<img src=z.gif>" + text.substr(15) + tail;
    ASSERT_EQ(text.size(), size_t{FETCH_BUFFER_SIZE - 20});  // room for one rewrite
    Scan(state, &text, kComplete);
    EXPECT_LE(text.size(), size_t{FETCH_BUFFER_SIZE});
    EXPECT_EQ(text.substr(0, 30), "<img src=http-/host/dir/z.gif>");
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

}  // namespace
}  // namespace qm
