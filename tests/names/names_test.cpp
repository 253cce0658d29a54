// How references become absolute URLs and local names. The local-name cases guard the
// promise that nothing is ever written outside the save folder.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>

#include "names.h"
#include "url.h"

namespace qm {
namespace {

TEST(Resolve, GivesTheBrowsersAddress) {
    const char* page = "http://h/d/p.html";
    // Base, reference, and the URL (nullptr: none usable).
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {page, "//o/x.gif", "http://o/x.gif"},
        {page, "./a/./b/../c.gif", "http://h/d/a/c.gif"},
        {page, "../../../../x.gif", "http://h/x.gif"},
        {page, "%2e%2E/.%2e/x.gif", "http://h/x.gif"},
        {page, "HTTP://Host/A.gif", "http://Host/A.gif"},
        {page, "http://h/a/../../b/./c", "http://h/b/c"},
        {page, "?q=1", "http://h/d/p.html?q=1"},
        {page, "a.php?u=http://x//y/../z", "http://h/d/a.php?u=http://x//y/../z"},
        {"http://h/d/p.asp?x=a/b", "y.gif", "http://h/d/y.gif"},
        {"http://h", "a.gif", "http://h/a.gif"},
        {"h/d/i.html", "a.gif", "http://h/d/a.gif"},
        {page, "a/..", "http://h/d/"},
        {page, "HTTPS://h/a/../x.gif", "https://h/x.gif"},
        {"Https://h/d/", "//cdn/a.gif", "https://cdn/a.gif"},
        {page, "mailto:a@b.c", nullptr},
        {page, "javascript:go()", nullptr},
        {page, "http:x.gif", nullptr},
        {page, "http:///x.gif", nullptr},
        {page, "https:x.gif", nullptr},
        {page, "my pic\t.png?a b\xC3\xA9", "http://h/d/my%20pic.png?a%20b%C3%A9"},
    };
    char url[URL_TEXT_SIZE];
    for (const auto& [base, reference, expected] : cases) {
        SCOPED_TRACE(reference);
        bool ok = ResolveUrl(base, reference, std::strlen(reference), url);
        EXPECT_STREQ(ok ? url : nullptr, expected);
    }
    // A URL of URL_TEXT_SIZE characters or more is refused.
    std::string fits(URL_TEXT_SIZE - 1 - std::strlen("http://h/"), 'a');
    ASSERT_TRUE(ResolveUrl("http://h/", fits.c_str(), fits.size(), url));
    EXPECT_EQ(std::strlen(url), size_t{URL_TEXT_SIZE - 1});
    EXPECT_FALSE(ResolveUrl("http://h/", (fits + "b").c_str(), fits.size() + 1, url));
}

TEST(SameSite, ComparesWholeHostsWithoutPort) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"http://host/b/c", "http://host/a", true},
        {"http://host/", "http://host:8080/a", true},
        {"HTTP://host", "http://host/a", true},
        {"host/start.html", "http://host/a?q", true},
        {"http://host:81/", "http://host#top", true},
        {"http://host/", "http://ho/a", false},
        {"http://host/", "http://hostx/a", false},
        {"http://host/", "http://HOST/a", false},
        {"http://host/", "http://host.example/a", false},
        // A site that moved to https links its http addresses too: the host is what counts.
        {"http://host/", "https://host/a", true},
    };
    for (const auto& [page, item, same] : cases) {
        BaseUrl base;
        ASSERT_TRUE(ParseBase(page, &base)) << page;
        EXPECT_EQ(IsOnSite(item, std::strlen(item), SiteHostOf(base)), same) << page << " " << item;
    }
}

// Flat, pages, frames and style sheets lie in the save folder itself; in the site's tree
// they keep their folders and names as well, ".html" added only where a page's name would not
// open as one. Either way hostile parts are made safe to store.
TEST(LocalName, FollowsTheNamingRulesAndIsSafeToStore) {
    constexpr NameLayout F = NameLayout::kFlat, T = NameLayout::kSiteTree;
    const std::tuple<const char*, PageKind, NameLayout, const char*> cases[] = {
        {"http://h/d/a.gif", KIND_PICTURE, F, "http-\\h\\d\\a.gif"},
        {"http://h/d/page.asp?id=7", KIND_PAGE, F, "http--h-d-page.asp-id=7.html"},
        {"http://h/d/", KIND_PAGE, F, "http--h-d-.html"},
        {"https://h/d/a.gif", KIND_PICTURE, F, "https-\\h\\d\\a.gif"},
        {"http://h/d/", KIND_PICTURE, F, "http-\\h\\d\\index"},
        {"http://h/d/", KIND_SCRIPT, F, "http-\\h\\d\\index.js"},
        {"http://h/a.htm?x=1", KIND_FRAME, F, "http--h-a.htm-x=1.html"},
        {"http://h/o.xml", KIND_PAGE, F, "http--h-o.xml"},
        {"http://h/py.svg", KIND_PAGE, F, "http--h-py.svg"},
        {"http://h/f.PDF?v=2", KIND_PAGE, F, "http--h-f-v=2.PDF"},
        {"http://h/s.CSS", KIND_STYLE_SHEET, F, "http--h-s.CSS"},
        {"http://h/s.css?2022.1", KIND_STYLE_SHEET, F, "http--h-s-2022.1.css"},
        {"http://h/style", KIND_STYLE_SHEET, F, "http--h-style.css"},
        {"http://h/j.js?v=3", KIND_SCRIPT, F, "http-\\h\\j-v=3.js"},
        {"http://h:81/a|b<c>.gif", KIND_PICTURE, F, "http-\\h-81\\a-b-c-.gif"},
        // Hostile names: nothing climbs, nothing is a device, nothing ends in a dot or space.
        {"http://../x.gif", KIND_PICTURE, F, "http-\\--\\x.gif"},
        {"http://h/./%2e%2E/x.gif", KIND_PICTURE, F, "http-\\h\\-\\--\\x.gif"},
        {"http://h/a/..%2f..%2fx.gif", KIND_PICTURE, F, "http-\\h\\a\\..%2f..%2fx.gif"},
        {"http://h/con/AUX.gif", KIND_PICTURE, F, "http-\\h\\con-\\AUX-.gif"},
        {"http://h/com1.x.gif", KIND_PICTURE, F, "http-\\h\\com1-.x.gif"},
        {"http://h/LPT9 .gif", KIND_PICTURE, F, "http-\\h\\LPT9 -.gif"},
        {"http://h/nul", KIND_PICTURE, F, "http-\\h\\nul-"},
        {"http://h/console.gif", KIND_PICTURE, F, "http-\\h\\console.gif"},
        {"http://h/dir. ./x.gif", KIND_PICTURE, F, "http-\\h\\dir---\\x.gif"},
        {"http://h/a\x01\x1f\x7f"
         "b.gif",
         KIND_PICTURE, F, "http-\\h\\a---b.gif"},
        {"http://h/a\\..\\..\\b.gif", KIND_PICTURE, F, "http-\\h\\a-..-..-b.gif"},
        {"http://h/d/", KIND_PAGE, T, "http-\\h\\d\\index.html"},
        {"http://h/d/?x=1", KIND_PAGE, T, "http-\\h\\d\\index-x=1.html"},
        {"http://h/d/p.html", KIND_PAGE, T, "http-\\h\\d\\p.html"},
        {"http://h/d/p.HTM", KIND_FRAME, T, "http-\\h\\d\\p.HTM"},
        {"http://h/d/p", KIND_FRAME, T, "http-\\h\\d\\p.html"},
        {"http://h/d/page.asp?id=7", KIND_PAGE, T, "http-\\h\\d\\page.asp-id=7.html"},
        {"http://h/d/p.html?a=1&b=2", KIND_PAGE, T, "http-\\h\\d\\p.html-a=1&b=2.html"},
        {"http://h/f.pdf?v=2", KIND_PAGE, T, "http-\\h\\f-v=2.pdf"},
        {"http://h/static.files/rustdoc-1.css", KIND_STYLE_SHEET, T,
         "http-\\h\\static.files\\rustdoc-1.css"},
        {"http://h/s/x.css?v=2", KIND_STYLE_SHEET, T, "http-\\h\\s\\x-v=2.css"},
        {"http://h/s/", KIND_STYLE_SHEET, T, "http-\\h\\s\\index.css"},
        {"http://h/s/style", KIND_STYLE_SHEET, T, "http-\\h\\s\\style.css"},
        {"http://h/s/", KIND_SCRIPT, T, "http-\\h\\s\\index.js"},
        {"https://h:8443//a//b/", KIND_PAGE, T, "https-\\h-8443\\a\\b\\index.html"},
        // Hostile parts, as in the flat names, and what Windows refuses in a page's own name.
        {"http://h/%2e%2E/./x.html", KIND_PAGE, T, "http-\\h\\--\\-\\x.html"},
        {"http://h/Nul/CONOUT$", KIND_FRAME, T, "http-\\h\\Nul-\\CONOUT$-.html"},
        {"http://h/trail. /x.css", KIND_STYLE_SHEET, T, "http-\\h\\trail--\\x.css"},
        {"http://h/end./", KIND_PAGE, T, "http-\\h\\end-\\index.html"},
        {"http://h/a|b<c>:d\"*.html", KIND_PAGE, T, "http-\\h\\a-b-c--d--.html"},
        {"http://h/q?u=/../../x", KIND_PAGE, T, "http-\\h\\q-u=\\--\\--\\x.html"},
    };
    for (const auto& [url, kind, layout, expected] : cases) {
        char name[LOCAL_PATH_SIZE];
        size_t length = MakeLocalName(url, kind, name, sizeof name, layout);
        ASSERT_NE(length, 0u) << url;
        EXPECT_STREQ(name, expected) << url;
        EXPECT_EQ(length, std::strlen(name)) << url;
    }
    // Too deep for the room there is (a save folder that leaves little of MAX_PATH): the
    // host's folder and a hash, with the page's extension.
    std::string deep = "http://h/" + std::string(60, 'd') + "/" + std::string(60, 'e') + "/p.html";
    char name[LOCAL_PATH_SIZE];
    ASSERT_TRUE(MakeLocalName(deep.c_str(), KIND_PAGE, name, 80, NameLayout::kSiteTree));
    EXPECT_TRUE(std::regex_match(name, std::regex(R"(http-\\h\\[0-9A-F]{8}\.html)"))) << name;
}

// A reference from one saved file to another, relative to the folder of the first.
TEST(RelativeName, ClimbsToTheCommonFolderAndDescends) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"index.html", "http-\\h\\a.gif", "http-\\h\\a.gif"},
        {"http-\\h\\d\\p.html", "http-\\h\\d\\q.html", "q.html"},
        {"http-\\h\\d\\p.html", "http-\\h\\d\\p.html", "p.html"},
        {"http-\\h\\d\\style\\x.css", "http-\\h\\d\\fonts\\f.woff", "..\\fonts\\f.woff"},
        {"http-\\h\\a\\p.html", "http-\\h\\a\\b\\c.html", "b\\c.html"},
        {"http-\\h\\ab\\p.html", "http-\\h\\a\\q.html", "..\\a\\q.html"},
        // A folder spelt in another case is another folder where case counts.
        {"http-\\h\\D\\p.html", "http-\\h\\d\\q.html", "..\\d\\q.html"},
        {"http-\\h\\d\\p.html", "https-\\h\\x.gif", "..\\..\\..\\https-\\h\\x.gif"},
        {"http-\\h\\d\\p.html", "index.html", "..\\..\\..\\index.html"},
    };
    std::string relative;
    for (const auto& [from, to, expected] : cases) {
        RelativeName(from, to, &relative);
        EXPECT_EQ(relative, expected) << from << " -> " << to;
    }
}

// Whatever the URL, every part of an item's path stays inside the save folder on both
// systems: no dots alone, no trailing dot or space, no device name, nothing Windows refuses.
TEST(LocalName, NoRandomUrlGivesAnEscapingOrDeviceName) {
    const char alphabet[] = "./\\%2eE:cCoOnNuUlLaAxX1 \x01?#";
    const std::pair<PageKind, NameLayout> kinds[] = {{KIND_PICTURE, NameLayout::kFlat},
                                                     {KIND_PAGE, NameLayout::kSiteTree},
                                                     {KIND_STYLE_SHEET, NameLayout::kSiteTree}};
    std::mt19937 random(7);
    for (int round = 0; round < 30000; ++round) {
        std::string url = "http://";
        for (int i = 0, n = 1 + static_cast<int>(random() % 40); i < n; ++i)
            url += alphabet[random() % (sizeof alphabet - 1)];
        char name[LOCAL_PATH_SIZE];
        const auto [kind, layout] = kinds[round % 3];
        if (!MakeLocalName(url.c_str(), kind, name, sizeof name, layout)) continue;
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
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\pages\\", "C:\\pages\\http-\\h\\a.gif"},
        {"", "http-\\h\\a.gif"},  // the current folder, not the root of the drive
        {"\\\\server\\share\\", "\\\\server\\share\\http-\\h\\a.gif"},
        {"C:", "C:http-\\h\\a.gif"},
        {"/tmp/x/", "/tmp/x/\\http-\\h\\a.gif"},
    };
    char path[LOCAL_PATH_SIZE];
    for (const auto& [folder, expected] : cases) {
        ASSERT_TRUE(JoinSaveFolder(folder, "http-\\h\\a.gif", path, sizeof path));
        EXPECT_STREQ(path, expected);
    }
    EXPECT_FALSE(
        JoinSaveFolder(std::string(250, 'f').c_str(), "http-\\h\\a.gif", path, sizeof path));
    char s[] = "a\\\\\\b\\c\\\\";
    CollapseBackslashes(s);
    EXPECT_STREQ(s, "a\\b\\c\\");
}

}  // namespace
}  // namespace qm
