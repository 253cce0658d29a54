// The desktop program's rules, case by case.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "pagesnap_protocol.h"
#include "rules.h"

namespace {

TEST(AppRules, OnlyThreeSpellingsOfHttpsAreRefused) {
    const std::pair<const char*, bool> cases[] = {
        {"https://a/", true},  {"Https://a/", true}, {"HTTPS://a/", true},
        {"hTTps://a/", false}, {"https:/a/", false}, {"https:", false},
        {"", false},           {"http://a/", false}, {" https://a/", false},
    };
    for (const auto& [url, refused] : cases) EXPECT_EQ(rules::IsRefusedHttps(url), refused) << url;
}

TEST(AppRules, APageFileEndsInExactlyDotHtml) {
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\a\\page", "C:\\a\\page.html"},
        {"C:\\a\\page.html", "C:\\a\\page.html"},
        {"page.HTML", "page.HTML.html"},
        {"page.htm", "page.htm.html"},
        {".html", ".html"},
        {"html", "html.html"},
        {"", ".html"},
    };
    for (const auto& [chosen, named] : cases)
        EXPECT_EQ(rules::WithHtmlEnding(chosen), named) << chosen;
}

// What each pair of modes asks of the library, as the compiler works it out; {7, 7, 7, 7}
// for a pair the program does not know, which leaves the options as they were.
constexpr SaveOptions Options(int32_t saveMode, int32_t contentMode) {
    SaveOptions o{7, 7, 7, 7};
    rules::OptionsFor(saveMode, contentMode, &o);
    return o;
}
constexpr bool Same(SaveOptions a, SaveOptions b) {
    return a.savePages == b.savePages && a.savePictures == b.savePictures &&
           a.sameSiteOnly == b.sameSiteOnly && a.maxDepth == b.maxDepth;
}
static_assert(Same(Options(kThisPage, kWordsOnly), {1, 0, 0, 0}));
static_assert(Same(Options(kThisPage, kComplete), {1, 1, 0, 0}));
static_assert(Same(Options(kLinkedPagesToo, kWordsOnly), {1, 0, 0, 1}));
static_assert(Same(Options(kLinkedPagesToo, kComplete), {1, 1, 0, 1}));
static_assert(Same(Options(0, kComplete), {7, 7, 7, 7}));
static_assert(Same(Options(kThisPage, 3), {7, 7, 7, 7}));

TEST(AppRules, TheRendererJobFitsItsBlockOrIsNotMade) {
    std::string job = "unchanged";
    ASSERT_TRUE(rules::MakeRendererJob("http://a/", "C:\\p", &job));
    EXPECT_EQ(job, "http://a/JWPQqmC:\\pJWPQqm");
    // The block holds the text and its NUL: 1023 characters fit, 1024 do not.
    const size_t room = pagesnap::kJobBlockSize - 1 - 2 * pagesnap::kJobSeparatorLength;
    EXPECT_TRUE(rules::MakeRendererJob(std::string(room - 1, 'u'), "p", &job));
    EXPECT_EQ(job.size(), pagesnap::kJobBlockSize - 1);
    job = "unchanged";
    EXPECT_FALSE(rules::MakeRendererJob(std::string(room, 'u'), "p", &job));
    EXPECT_EQ(job, "unchanged");
}

}  // namespace
