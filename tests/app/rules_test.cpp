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

// A pair of modes the program does not know asks nothing, and leaves the options as they were.
static_assert(!rules::OptionsFor(0, kComplete, nullptr) &&
              !rules::OptionsFor(kThisPage, 3, nullptr));

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
