// What the scan finds in a page, what it queues, and how the saved text reads afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crawl.h"
#include "scan.h"

namespace qm {
namespace {

const char kPage[] = "http://host/dir/index.html";

// Sets record 0 up as the page being visited, in the save folder "S\".
void StartPage(const char* url) {
    ResetPageTable();
    std::strcpy(g_saveFolder, "S\\");
    g_currentIndex = g_tailIndex = AllocatePageRecord();
    PageRecord& r = g_pageTable[g_currentIndex];
    r.prev = r.next = NO_RECORD;
    r.kind = KIND_PAGE;
    std::strcpy(r.url, url);
}

std::vector<char>& Buffer(int which) {
    static std::vector<char> buffers[2] = {std::vector<char>(FETCH_BUFFER_SIZE),
                                          std::vector<char>(FETCH_BUFFER_SIZE)};
    return buffers[which];
}

int32_t Scan(std::string* text, const SaveOptions& options) {
    std::memcpy(Buffer(0).data(), text->data(), text->size());
    int32_t length = static_cast<int32_t>(text->size());
    int32_t result = ScanAndRewritePage(Buffer(0).data(), &length, &options, Buffer(1).data());
    text->assign(Buffer(0).data(), length);
    return result;
}

// The queue behind the current record, one "kind depth url -> localPath" line each.
std::string Queue() {
    std::string out;
    for (int32_t i = g_pageTable[g_currentIndex].next; i != NO_RECORD; i = g_pageTable[i].next) {
        const PageRecord& r = g_pageTable[i];
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
    {"ImgSourceInQuotes", kComplete, "<img src=\"pic.gif\">", "<img src=\"http-/host/dir/pic.gif\">",
     "2 0 http://host/dir/pic.gif -> S\\http-\\host\\dir\\pic.gif\n"},
    {"SingleQuotesEndTheValue", kComplete, "<IMG SRC='a.gif'>", "<IMG SRC='http-/host/dir/a.gif'>",
     "2 0 http://host/dir/a.gif -> S\\http-\\host\\dir\\a.gif\n"},
    {"BarePictureAfterTag", kComplete, "<p>photo.jpg</p>", "<p>http-/host/dir/photo.jpg</p>",
     "2 0 http://host/dir/photo.jpg -> S\\http-\\host\\dir\\photo.jpg\n"},
    {"BarePictureNeverSpansLines", kComplete, "x=1\nb.png", "x=1\nhttp-/host/dir/b.png",
     "2 0 http://host/dir/b.png -> S\\http-\\host\\dir\\b.png\n"},
    {"CssUrlWithParent", kComplete, "a{background:url('../i/bg.png')}",
     "a{background:url('http-/host/i/bg.png')}", "2 0 http://host/i/bg.png -> S\\http-\\host\\i\\bg.png\n"},
    {"DotsBeforeSourceAreReplaced", kComplete, "<img src=\"../x.gif\">", "<img src=\"http-/host/x.gif\">",
     "2 0 http://host/x.gif -> S\\http-\\host\\x.gif\n"},
    {"SourceEndsAtTab", kComplete, "<img src=a.gif\talt=b>", "<img src=http-/host/dir/a.gif\talt=b>",
     "2 0 http://host/dir/a.gif -> S\\http-\\host\\dir\\a.gif\n"},
    {"LinkFollowed", kComplete, "<a href=\"other.html\">x</a>", "<a href=\"http--host-dir-other.html\">x</a>",
     "1 1 http://host/dir/other.html -> S\\http--host-dir-other.html\n"},
    {"LinkInSingleQuotesWithParent", kComplete, "<a href='../up.htm'>", "<a href='http--host-up.htm'>",
     "1 1 http://host/up.htm -> S\\http--host-up.htm\n"},
    {"LinkBeyondDepthKeepsItsAddress", kThisPageOnly, "<a href=\"other.html\">",
     "<a href=\"http://host/dir/other.html\">", "1 1 http://host/dir/other.html -> http--host-dir-other.html\n"},
    {"OtherSiteUnderSameSiteOnly", kSameSite, "<a href=\"http://far/x.html\">",
     "<a href=\"http://far/x.html\">", "1 1 http://far/x.html -> http--far-x.html\n"},
    {"PictureNotSavedKeepsItsAddress", kWordsOnly, "<img src=\"a.gif\">", "<img src=\"http://host/dir/a.gif\">",
     "2 0 http://host/dir/a.gif -> S\\http-\\host\\dir\\a.gif\n"},
    {"FragmentAndEntityFollowed", kComplete, "<a href=\"p.asp?a=1&amp;b=2#top\">",
     "<a href=\"http--host-dir-p.asp-a=1%26b=2.html#top\">",
     "1 1 http://host/dir/p.asp?a=1&b=2 -> S\\http--host-dir-p.asp-a=1&b=2.html\n"},
    {"FragmentAndEntityNotFollowed", kThisPageOnly, "<a href=\"p.asp?a=1&amp;b=2#top\">",
     "<a href=\"http://host/dir/p.asp?a=1&amp;b=2#top\">",
     "1 1 http://host/dir/p.asp?a=1&b=2 -> http--host-dir-p.asp-a=1&b=2.html\n"},
    {"PercentInNameIsEncoded", kComplete, "<img src=\"a%20b.gif\">", "<img src=\"http-/host/dir/a%2520b.gif\">",
     "2 0 http://host/dir/a%20b.gif -> S\\http-\\host\\dir\\a%20b.gif\n"},
    {"StyleSheetInCapitals", kComplete, "<link href=\"s.CSS\">", "<link href=\"http--host-dir-s.CSS.html\">",
     "3 0 http://host/dir/s.CSS -> S\\http--host-dir-s.CSS.html\n"},
    {"FrameOpenings", kComplete, "<frame src=\"f.html\"><  FRAME src=g.htm><Frame src=\"m.html\"><iframe src=\"i.html\">",
     "<frame src=\"http--host-dir-f.html\"><  FRAME src=http--host-dir-g.htm><Frame src=\"m.html\"><iframe src=\"i.html\">",
     "4 0 http://host/dir/f.html -> S\\http--host-dir-f.html\n4 0 http://host/dir/g.htm -> S\\http--host-dir-g.htm\n"},
    {"OtherSchemesUntouched", kComplete,
     "<a href=\"mailto:x@y\"><img src=\"ftp://h/x.gif\"><img src=\"data:image/png;base64,AA\"><a href=\"javascript:f()\">",
     "<a href=\"mailto:x@y\"><img src=\"ftp://h/x.gif\"><img src=\"data:image/png;base64,AA\"><a href=\"javascript:f()\">", ""},
    {"HttpsFetchedToo", kComplete, "<img src=\"HTTPS://h/x.gif\">", "<img src=\"https-/h/x.gif\">",
     "2 0 https://h/x.gif -> S\\https-\\h\\x.gif\n"},
    {"SignsAndEmptyValuesNotTaken", kComplete, "<a href=\"#x\"><a href=\"\" class=\"b\"><a href=\"_u.html\"><img src=\"#\">",
     "<a href=\"#x\"><a href=\"\" class=\"b\"><a href=\"_u.html\"><img src=\"#\">", ""},
    {"EmbeddedFirstThenLinksInFoundOrder", kComplete, "<a href=p.html>x</a><img src=a.gif><a href=q.html>y</a><img src=b.gif>",
     "<a href=http--host-dir-p.html>x</a><img src=http-/host/dir/a.gif><a href=http--host-dir-q.html>y</a><img src=http-/host/dir/b.gif>",
     "2 0 http://host/dir/a.gif -> S\\http-\\host\\dir\\a.gif\n2 0 http://host/dir/b.gif -> S\\http-\\host\\dir\\b.gif\n"
     "1 1 http://host/dir/p.html -> S\\http--host-dir-p.html\n1 1 http://host/dir/q.html -> S\\http--host-dir-q.html\n"},
    {"UnterminatedValueAtEnd", kComplete, "<img src=\"a.jpeg", "<img src=\"a.jpeg", ""},
};

TEST(Scan, RewritesAndQueues) {
    for (const ScanCase& c : kCases) {
        SCOPED_TRACE(c.name);
        StartPage(kPage);
        std::string text = c.in;
        EXPECT_EQ(Scan(&text, c.options), 1);
        EXPECT_EQ(text, c.out);
        EXPECT_EQ(Queue(), c.queue);
    }
}

// Tens of thousands of references in one page: every one rewritten and queued, each
// record the lowest free one.
TEST(ScanLarge, FiftyThousandReferences) {
    StartPage(kPage);
    std::string text, expected;
    for (int i = 0; i < 50000; ++i) {
        text += "<img src=\"p" + std::to_string(i) + ".gif\">";
        expected += "<img src=\"http-/host/dir/p" + std::to_string(i) + ".gif\">";
    }
    EXPECT_EQ(Scan(&text, kComplete), 1);
    EXPECT_EQ(text, expected);
    int count = 0;
    for (int32_t i = g_pageTable[0].next; i != NO_RECORD; i = g_pageTable[i].next) {
        EXPECT_EQ(i, count + 1);
        ++count;
    }
    EXPECT_EQ(count, 50000);
    EXPECT_EQ(g_tailIndex, 50000);
}

// When the table runs out, what was found is queued and the rest of the text is kept.
TEST(ScanLarge, TableRunningOutEndsTheScan) {
    StartPage(kPage);
    while (AllocatePageRecord() < PAGE_TABLE_SIZE - 3) {
    }
    std::string text = "<img src=a.gif><img src=b.gif><img src=c.gif><img src=d.gif>";
    EXPECT_EQ(Scan(&text, kComplete), 0);
    EXPECT_EQ(text, "<img src=http-/host/dir/a.gif><img src=http-/host/dir/b.gif><img src=c.gif><img src=d.gif>");
    EXPECT_EQ(Queue(), "2 0 http://host/dir/a.gif -> S\\http-\\host\\dir\\a.gif\n"
                       "2 0 http://host/dir/b.gif -> S\\http-\\host\\dir\\b.gif\n");
}

// A page that fills its buffer: rewrites that would not fit leave their reference as it
// was, and nothing is written past the buffer.
TEST(ScanLarge, RewritesThatWouldNotFitAreLeftOut) {
    StartPage(kPage);
    std::string tail = "<img src=a.gif>";
    std::string text(FETCH_BUFFER_SIZE - tail.size() - 20, 'x');
    text = "<img src=z.gif>" + text.substr(15) + tail;
    ASSERT_EQ(text.size(), size_t{FETCH_BUFFER_SIZE - 20});  // room for one rewrite
    Scan(&text, kComplete);
    EXPECT_LE(text.size(), size_t{FETCH_BUFFER_SIZE});
    EXPECT_EQ(text.substr(0, 30), "<img src=http-/host/dir/z.gif>");
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

}  // namespace
}  // namespace qm
