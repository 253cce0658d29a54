#include "job.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pagesnap {
namespace {

TEST(ParseJob, SplitsTheTextAtTheFirstTwoSeparators) {
    const struct {
        const char* name;
        std::string block;
        bool complete;
        const char* url;
        const char* path;
    } cases[] = {
        {"as the program writes it",
         std::string("http://a/JWPQqmC:\\p\\xJWPQqm") + std::string(8, '\0'), true, "http://a/",
         "C:\\p\\x"},
        {"text after the second separator is ignored", "uJWPQqmpJWPQqmrest", true, "u", "p"},
        {"a third separator belongs to the rest", "uJWPQqmpJWPQqmJWPQqm", true, "u", "p"},
        {"empty url and path still form a job", "JWPQqmJWPQqm", true, "", ""},
        {"no separator at all", "http://a/", false, "", ""},
        {"only one separator", "http://a/JWPQqmC:\\x", false, "", ""},
        {"separator cut by the end of the text", "uJWPQqmpJWPQq", false, "", ""},
        {"a NUL ends the text before the second separator", std::string("uJWPQqmp\0JWPQqm", 15),
         false, "", ""},
        {"separators are case-sensitive", "uJWPQQMpJWPQqm", false, "", ""},
    };
    for (const auto& c : cases) {
        Job job;
        EXPECT_EQ(ParseJob(c.block.data(), c.block.size(), &job), c.complete) << c.name;
        if (c.complete) {
            EXPECT_EQ(job.url + "|" + job.path, std::string(c.url) + "|" + c.path) << c.name;
        }
    }
}

TEST(ParseJob, NeverReadsPastABlockWithoutTerminator) {
    // A full block with no NUL: the separators sit at its very end.
    std::vector<char> block(kJobBlockSize, 'a');
    const std::string tail = "JWPQqmC:\\pJWPQqm";
    std::copy(tail.begin(), tail.end(), block.end() - static_cast<long>(tail.size()));
    Job job;
    ASSERT_TRUE(ParseJob(block.data(), block.size(), &job));
    EXPECT_EQ(job.url.size(), kJobBlockSize - tail.size());
    EXPECT_EQ(job.path, "C:\\p");

    // One byte short, the second separator is incomplete.
    EXPECT_FALSE(ParseJob(block.data(), block.size() - 1, &job));
}

TEST(NormaliseUrl, CompletesAndRefusesAddresses) {
    struct Case {
        const char* typed;
        UrlCheck check;
        const char* url;
    } cases[] = {
        {"http://example.org/a?b=1", UrlCheck::kOk, "http://example.org/a?b=1"},
        {"HTTPS://example.org/", UrlCheck::kOk, "HTTPS://example.org/"},
        {"  example.org/page \r\n", UrlCheck::kOk, "http://example.org/page"},
        {"localhost:8080/x", UrlCheck::kOk, "http://localhost:8080/x"},
        {"127.0.0.1", UrlCheck::kOk, "http://127.0.0.1"},
        // Without "://" nothing is a scheme, so these only become odd http addresses.
        {"javascript:alert(1)", UrlCheck::kOk, "http://javascript:alert(1)"},
        {"", UrlCheck::kEmpty, ""},
        {" \t ", UrlCheck::kEmpty, ""},
        {"file:///C:/secret.txt", UrlCheck::kUnsupportedScheme, ""},
        {"chrome://settings", UrlCheck::kUnsupportedScheme, ""},
        {"ftp://example.org/", UrlCheck::kUnsupportedScheme, ""},
        {"http://a/\x01"
         "b",
         UrlCheck::kControlCharacter, ""},
        {"http://a/\x7f", UrlCheck::kControlCharacter, ""},
    };
    for (const Case& c : cases) {
        std::string url;
        EXPECT_EQ(NormaliseUrl(c.typed, &url), c.check) << c.typed;
        if (c.check == UrlCheck::kOk) {
            EXPECT_EQ(url, c.url) << c.typed;
        }
    }
}

TEST(IsFullWindowsPath, AcceptsDrivesAndSharesOnly) {
    struct Case {
        const char* path;
        bool full;
    } cases[] = {
        {"C:\\Users\\me\\page", true},
        {"z:/tmp/page", true},
        {"\\\\server\\share\\page", true},
        {"page", false},
        {"folder\\page", false},
        {"\\rooted\\page", false},
        {"C:page", false},
        {"\\\\server", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsFullWindowsPath(c.path), c.full) << c.path;
}

}  // namespace
}  // namespace pagesnap
