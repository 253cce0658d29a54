// How references become absolute URLs and local names. The local-name cases guard the
// promise that nothing is ever written outside the save folder.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <random>
#include <sstream>
#include <string>

#include "names.h"

namespace qm {
namespace {

const char kPage[] = "http://host/dir/index.html";

struct ResolveCase {
    const char* name;
    const char* base;
    const char* reference;
    const char* expected;  // nullptr: no usable URL
};

const ResolveCase kResolveCases[] = {
    {"SameFolder", kPage, "pic.gif", "http://host/dir/pic.gif"},
    {"SiteRoot", kPage, "/x.gif", "http://host/x.gif"},
    {"NetworkPathTakesPageScheme", kPage, "//other/x.gif", "http://other/x.gif"},
    {"ParentFolder", kPage, "../x.gif", "http://host/x.gif"},
    {"DotSegmentsGo", kPage, "./a/./b/../c.gif", "http://host/dir/a/c.gif"},
    {"ParentsStopAtRoot", kPage, "../../../../x.gif", "http://host/x.gif"},
    {"EncodedParents", kPage, "%2e%2E/.%2e/x.gif", "http://host/x.gif"},
    {"SchemeInAnyCase", kPage, "HTTP://Host/A.gif", "http://Host/A.gif"},
    {"AbsoluteLosesDotSegments", kPage, "http://h/a/../../b/./c", "http://h/b/c"},
    {"QueryOnly", kPage, "?q=1", "http://host/dir/index.html?q=1"},
    {"QueryKeptAsWritten", kPage, "a.php?u=http://x//y/../z",
     "http://host/dir/a.php?u=http://x//y/../z"},
    {"BaseQueryIgnored", "http://host/d/p.asp?x=a/b", "y.gif", "http://host/d/y.gif"},
    {"BaseWithoutPath", "http://host", "a.gif", "http://host/a.gif"},
    {"BaseWithoutScheme", "host/dir/i.html", "a.gif", "http://host/dir/a.gif"},
    {"TrailingDotsKeepFolder", kPage, "a/..", "http://host/dir/"},
    {"Https", kPage, "HTTPS://host/a/../x.gif", "https://host/x.gif"},
    {"HttpsBaseGivesItsScheme", "https://host/d/", "//cdn/a.gif", "https://cdn/a.gif"},
    {"MailtoIsNotOurs", kPage, "mailto:a@b.c", nullptr},
    {"JavascriptIsNotOurs", kPage, "javascript:go()", nullptr},
    {"HttpWithoutHost", kPage, "http:x.gif", nullptr},
    {"EmptyHost", kPage, "http:///x.gif", nullptr},
    {"HttpsBase", "Https://host/d/p", "a.gif", "https://host/d/a.gif"},
    {"HttpsWithoutHost", kPage, "https:x.gif", nullptr},
    {"BlanksAndBytesEncoded", kPage, "my pic\t.png?a b\xC3\xA9",
     "http://host/dir/my%20pic.png?a%20b%C3%A9"},
};

TEST(Resolve, GivesTheBrowsersAddress) {
    char url[URL_TEXT_SIZE];
    for (const ResolveCase& c : kResolveCases) {
        SCOPED_TRACE(c.name);
        bool ok = ResolveUrl(c.base, c.reference, std::strlen(c.reference), url);
        EXPECT_EQ(ok, c.expected != nullptr);
        if (ok && c.expected) {
            EXPECT_STREQ(url, c.expected);
        }
    }
    // The URL of URL_TEXT_SIZE characters or more is refused.
    std::string base = "http://h/";  // 9 characters
    std::string fits(URL_TEXT_SIZE - 1 - base.size(), 'a');
    ASSERT_TRUE(ResolveUrl(base.c_str(), fits.c_str(), fits.size(), url));
    EXPECT_EQ(std::strlen(url), size_t{URL_TEXT_SIZE - 1});
    std::string tooLong = fits + "b";
    EXPECT_FALSE(ResolveUrl(base.c_str(), tooLong.c_str(), tooLong.size(), url));
}

TEST(SameSite, ComparesWholeHostsWithoutPort) {
    EXPECT_TRUE(IsSameSite("http://host/a", "http://host/b/c"));
    EXPECT_TRUE(IsSameSite("http://host:8080/a", "http://host/"));
    EXPECT_TRUE(IsSameSite("http://host/a", "HTTP://host"));
    EXPECT_TRUE(IsSameSite("http://host/a", "host/start.html"));
    EXPECT_FALSE(IsSameSite("http://ho/a", "http://host/"));
    EXPECT_FALSE(IsSameSite("http://hostx/a", "http://host/"));
    EXPECT_FALSE(IsSameSite("http://other/a", "http://host/"));
    EXPECT_FALSE(IsSameSite("http://HOST/a", "http://host/"));
    EXPECT_TRUE(IsSameSite("https://host/a", "HTTPS://host/"));
    // A site that moved to https links its http addresses too: the host is what counts.
    EXPECT_TRUE(IsSameSite("https://host/a", "http://host/"));
}

struct NameCase {
    const char* url;
    PageKind kind;
    const char* expected;
};

constexpr PageKind kFolders = KIND_PICTURE;

const NameCase kNameCases[] = {
    {"http://host/dir/a.gif", KIND_PICTURE, "http-\\host\\dir\\a.gif"},
    {"http://host/dir/page.asp?id=7", KIND_PAGE, "http--host-dir-page.asp-id=7.html"},
    {"http://host/dir/", KIND_PAGE, "http--host-dir-.html"},
    {"https://host/dir/a.gif", KIND_PICTURE, "https-\\host\\dir\\a.gif"},
    {"https://host/dir/", KIND_PAGE, "https--host-dir-.html"},
    {"http://host/dir/", KIND_PICTURE, "http-\\host\\dir\\index"},
    {"http://host/dir/", KIND_SCRIPT, "http-\\host\\dir\\index.js"},
    {"http://host/a.htm?x=1", KIND_FRAME, "http--host-a.htm-x=1.html"},
    {"http://host/o.xml", KIND_PAGE, "http--host-o.xml"},
    {"http://host/f.PDF?v=2", KIND_PAGE, "http--host-f-v=2.PDF"},
    {"http://host/s.CSS", KIND_STYLE_SHEET, "http--host-s.CSS"},
    {"http://host/s.css?2022.1", KIND_STYLE_SHEET, "http--host-s-2022.1.css"},
    {"http://host/style", KIND_STYLE_SHEET, "http--host-style.css"},
    {"http://host/j.js?v=3", KIND_SCRIPT, "http-\\host\\j-v=3.js"},
    {"http://host:81/a|b<c>.gif", kFolders, "http-\\host-81\\a-b-c-.gif"},
    // Hostile names: nothing climbs, nothing is a device, nothing ends in a dot or space.
    {"http://../x.gif", kFolders, "http-\\--\\x.gif"},
    {"http://host/./%2e%2E/x.gif", kFolders, "http-\\host\\-\\--\\x.gif"},
    {"http://host/con/AUX.gif", kFolders, "http-\\host\\con-\\AUX-.gif"},
    {"http://host/com1.x.gif", kFolders, "http-\\host\\com1-.x.gif"},
    {"http://host/LPT9 .gif", kFolders, "http-\\host\\LPT9 -.gif"},
    {"http://host/nul", kFolders, "http-\\host\\nul-"},
    {"http://host/console.gif", kFolders, "http-\\host\\console.gif"},
    {"http://host/dir. ./x.gif", kFolders, "http-\\host\\dir---\\x.gif"},
    {"http://host/a\x01\x1f\x7f"
     "b.gif",
     kFolders, "http-\\host\\a---b.gif"},
    {"http://host/a\\..\\..\\b.gif", kFolders, "http-\\host\\a-..-..-b.gif"},
};

TEST(LocalName, FollowsTheNamingRulesAndIsSafeToStore) {
    for (const NameCase& c : kNameCases) {
        char name[LOCAL_PATH_SIZE];
        size_t length = MakeLocalName(c.url, c.kind, name, sizeof name);
        ASSERT_NE(length, 0u) << c.url;
        EXPECT_STREQ(name, c.expected) << c.url;
        EXPECT_EQ(length, std::strlen(name)) << c.url;
        // The same with the start of the URL mapped beforehand, as a page's scan does.
        NamePrefix prefix = MakeNamePrefix(c.url, std::strlen(c.url));
        ASSERT_EQ(MakeLocalName(c.url, std::strlen(c.url), c.kind, name, sizeof name, &prefix),
                  length)
            << c.url;
        EXPECT_STREQ(name, c.expected) << c.url;
    }
}

// Whatever the URL, every folder and file name of a picture's path is one that stays
// inside the save folder on both systems: not empty, no dots alone, no trailing dot or
// space, no device name, no character Windows cannot store.
TEST(LocalName, NoRandomUrlGivesAnEscapingOrDeviceName) {
    const char alphabet[] = "./\\%2eE:cCoOnNuUlLaAxX1 \x01?#";
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        std::string url = "http://";
        for (int i = 0, n = 1 + static_cast<int>(random() % 40); i < n; ++i)
            url += alphabet[random() % (sizeof alphabet - 1)];
        char name[LOCAL_PATH_SIZE];
        if (!MakeLocalName(url.c_str(), KIND_PICTURE, name, sizeof name)) continue;
        std::stringstream parts(name);
        for (std::string part; std::getline(parts, part, '\\');) {
            std::string base = part.substr(0, part.find('.'));
            while (!base.empty() && base.back() == ' ') base.pop_back();
            for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            bool bad = part.find_first_not_of('.') == std::string::npos || part.back() == '.' ||
                       part.back() == ' ' || base == "CON" || base == "NUL" || base == "AUX" ||
                       base == "COM1" || part.find_first_of(":/?\x01") != std::string::npos;
            EXPECT_FALSE(bad) << url << " -> " << name;
        }
    }
}

// A name longer than the room there is keeps a head of its own and the URL's hash: two
// long URLs that differ only at the end get two names that fit.
TEST(LocalName, TooLongForItsRoomIsShortenedAndStaysUnique) {
    std::string head = "http://host/" + std::string(300, 'a');
    char a[LOCAL_PATH_SIZE], b[LOCAL_PATH_SIZE], c[LOCAL_PATH_SIZE];
    ASSERT_TRUE(MakeLocalName((head + "1.html").c_str(), KIND_PAGE, a, 100));
    ASSERT_TRUE(MakeLocalName((head + "2.html").c_str(), KIND_PAGE, b, 100));
    ASSERT_TRUE(
        MakeLocalName((head + "/" + std::string(200, 'b') + ".gif").c_str(), KIND_PICTURE, c, 100));
    EXPECT_LT(std::strlen(a), 100u);
    EXPECT_STRNE(a, b);
    EXPECT_EQ(std::string(a).substr(std::strlen(a) - 5), ".html");
    EXPECT_EQ(std::string(c).rfind("http-\\host\\", 0), 0u);
    EXPECT_EQ(std::string(c).substr(std::strlen(c) - 4), ".gif");
    EXPECT_FALSE(MakeLocalName((head + ".gif").c_str(), KIND_PICTURE, c, 12));
}

// Names of one crawl never meet, also where the file system ignores case, and a picture
// and a folder of the same name both find room.
TEST(NameRegistry, GivesEveryUrlItsOwnFile) {
    NameRegistry names;
    names.Clear();
    auto claim = [&](const char* name, const char* url) {
        char area[LOCAL_PATH_SIZE];
        std::strcpy(area, name);
        size_t length = std::strlen(area);
        EXPECT_TRUE(names.Claim(area, &length, sizeof area, url)) << name;
        EXPECT_EQ(length, std::strlen(area)) << name;
        return std::string(area);
    };
    EXPECT_EQ(claim("http-\\h\\Case.gif", "http://h/Case.gif"), "http-\\h\\Case.gif");
    std::string second = claim("http-\\h\\case.gif", "http://h/case.gif");
    EXPECT_NE(second, "http-\\h\\case.gif");
    EXPECT_EQ(second.substr(second.size() - 4), ".gif");
    EXPECT_EQ(claim("http-\\h\\a.gif", "http://h/a.gif"), "http-\\h\\a.gif");
    EXPECT_EQ(claim("http-\\h\\a.gif\\inner.gif", "http://h/a.gif/inner.gif"),
              "http-\\h\\a.gif_\\inner.gif");
    EXPECT_EQ(claim("http-\\h\\a.gif\\two.gif", "http://h/a.gif/two.gif"),
              "http-\\h\\a.gif_\\two.gif");
    std::string folder = claim("http-\\h\\d", "http://h/d");
    claim("http-\\h\\D\\x.gif", "http://h/D/x.gif");
    EXPECT_EQ(folder, "http-\\h\\d");
    std::string file = claim("http-\\h\\a.gif_", "http://h/a.gif_");
    EXPECT_NE(file, "http-\\h\\a.gif_");
}

TEST(SaveFolderJoin, KeepsTheFolderAndCollapsesTheJoint) {
    struct {
        const char* folder;
        const char* expected;
    } cases[] = {
        {"C:\\pages\\", "C:\\pages\\http-\\h\\a.gif"},
        {"", "http-\\h\\a.gif"},  // the current folder, not the root of the drive
        {"\\\\server\\share\\", "\\\\server\\share\\http-\\h\\a.gif"},
        {"C:", "C:http-\\h\\a.gif"},
        {"/tmp/x/", "/tmp/x/\\http-\\h\\a.gif"},
    };
    for (const auto& c : cases) {
        char path[LOCAL_PATH_SIZE];
        ASSERT_TRUE(JoinSaveFolder(c.folder, "http-\\h\\a.gif", path, sizeof path));
        EXPECT_STREQ(path, c.expected);
    }
    std::string longFolder(250, 'f');
    char path[LOCAL_PATH_SIZE];
    EXPECT_FALSE(JoinSaveFolder(longFolder.c_str(), "http-\\h\\a.gif", path, sizeof path));

    char s[] = "a\\\\\\b\\c\\\\";
    CollapseBackslashes(s);
    EXPECT_STREQ(s, "a\\b\\c\\");
}

}  // namespace
}  // namespace qm
