#include "job.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pagesnap {
namespace {

TEST(ParseJob, SplitsTheTextAtTheFirstTwoSeparators) {
    const std::string full = std::string(kJobBlockSize - 16, 'a');
    const struct {
        const char* name;
        std::string block;
        std::string parsed;  // url|path; empty: not a complete job
    } cases[] = {
        {"as the program writes it", std::string("http://a/JWPQqmC:\\p\\xJWPQqm\0\0\0", 30),
         "http://a/|C:\\p\\x"},
        {"text after the second separator is ignored", "uJWPQqmpJWPQqmrest", "u|p"},
        {"a third separator belongs to the rest", "uJWPQqmpJWPQqmJWPQqm", "u|p"},
        {"empty url and path still form a job", "JWPQqmJWPQqm", "|"},
        // A whole block with no NUL, the separators at its very end.
        {"a full block without terminator", full + "JWPQqmC:\\pJWPQqm", full + "|C:\\p"},
        {"no separator at all", "http://a/", ""},
        {"only one separator", "http://a/JWPQqmC:\\x", ""},
        {"separator cut by the end of the block", full + "JWPQqmC:\\pJWPQq", ""},
        {"a NUL ends the text before the second separator", std::string("uJWPQqmp\0JWPQqm", 15),
         ""},
        {"separators are case-sensitive", "uJWPQQMpJWPQqm", ""},
    };
    for (const auto& c : cases) {
        // Exactly the block's size, so that a read past it is caught.
        const std::vector<char> block(c.block.begin(), c.block.end());
        Job job;
        const bool complete = ParseJob(block.data(), block.size(), &job);
        EXPECT_EQ(complete ? job.url + "|" + job.path : "", c.parsed) << c.name;
        EXPECT_EQ(complete, !c.parsed.empty()) << c.name;
    }
}

TEST(NormaliseUrl, CompletesAndRefusesAddresses) {
    const struct {
        const char* typed;
        UrlCheck check;
        const char* url;
    } cases[] = {
        {"http://example.org/a?b=1", UrlCheck::kOk, "http://example.org/a?b=1"},
        {"HTTPS://example.org/", UrlCheck::kOk, "HTTPS://example.org/"},
        {"  example.org/page \r\n", UrlCheck::kOk, "http://example.org/page"},
        {"localhost:8080/x", UrlCheck::kOk, "http://localhost:8080/x"},
        // Without "://" nothing is a scheme, so this only becomes an odd http address.
        {"javascript:alert(1)", UrlCheck::kOk, "http://javascript:alert(1)"},
        {"", UrlCheck::kEmpty, ""},
        {" \t ", UrlCheck::kEmpty, ""},
        {"file:///C:/secret.txt", UrlCheck::kUnsupportedScheme, ""},
        {"chrome://settings", UrlCheck::kUnsupportedScheme, ""},
        {"ftp://example.org/", UrlCheck::kUnsupportedScheme, ""},
        {"http://a/\x01", UrlCheck::kControlCharacter, ""},
        {"http://a/\x7f", UrlCheck::kControlCharacter, ""},
    };
    for (const auto& c : cases) {
        std::string url;
        EXPECT_EQ(NormaliseUrl(c.typed, &url), c.check) << c.typed;
        EXPECT_EQ(url, c.url) << c.typed;
    }
}

TEST(IsFullWindowsPath, AcceptsDrivesAndSharesOnly) {
    for (const char* path : {"C:\\Users\\me\\page", "z:/tmp/page", "\\\\server\\share\\page"})
        EXPECT_TRUE(IsFullWindowsPath(path)) << path;
    for (const char* path :
         {"page", "folder\\page", "\\rooted\\page", "C:page", "\\\\server", ""}) {
        EXPECT_FALSE(IsFullWindowsPath(path)) << path;
    }
}

}  // namespace
}  // namespace pagesnap
