// The desktop program's rules, case by case.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

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

TEST(AppRules, EachModeAsksTheLibraryForItsOwnOptions) {
    struct {
        int32_t saveMode, contentMode;
        bool known;
        SaveOptions options;
    } const cases[] = {
        {kThisPage, kWordsOnly, true, {1, 0, 0, 0}},
        {kThisPage, kComplete, true, {1, 1, 0, 0}},
        {kLinkedPagesToo, kWordsOnly, true, {1, 0, 0, 1}},
        {kLinkedPagesToo, kComplete, true, {1, 1, 0, 1}},
        {0, kComplete, false, {7, 7, 7, 7}},
        {kThisPage, 3, false, {7, 7, 7, 7}},
    };
    for (const auto& c : cases) {
        SaveOptions o{7, 7, 7, 7};
        EXPECT_EQ(rules::OptionsFor(c.saveMode, c.contentMode, &o), c.known);
        EXPECT_EQ((std::vector<int32_t>{o.savePages, o.savePictures, o.sameSiteOnly, o.maxDepth}),
                  (std::vector<int32_t>{c.options.savePages, c.options.savePictures,
                                        c.options.sameSiteOnly, c.options.maxDepth}))
            << c.saveMode << " " << c.contentMode;
    }
}

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
