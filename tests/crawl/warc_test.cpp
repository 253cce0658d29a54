// Web archives written beside a save: the digests they name records by, then whole saves on
// the scripted server with the archive read back member by member. Each exchange must be
// there as it went over the connection, a stop must leave whole records, and an archive that
// cannot be written must fail the call without leaving a file.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "../fetch/zlib_util.h"
#include "failure_log.h"
#include "qm_url.h"
#include "qmsave_run.h"
#include "scratch.h"
#include "cdxj_index.h"
#include "sha1.h"
#include "stop_when.h"
#include "test_server.h"
#include "text_checks.h"
#include "web_archive.h"

namespace qmtest {
namespace {

namespace fs = std::filesystem;

TEST(WebArchiveFields, DigestsAndDatesAreThoseOfTheirStandards) {
    // The FIPS 180 examples' digests (a9993e36..., 84983e44..., 34aa973c...), in base32.
    const std::pair<std::string, const char*> vectors[] = {
        {"", "sha1:3I42H3S6NNFQ2MSVX7XZKYAYSCX5QBYJ"},
        {"abc", "sha1:VGMT4NSHA2AWVOR6EVYXQUGCNSONBWE5"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "sha1:QSMD4RA4HPJG5OVOJKQ7SUJJ4XSUM4HR"},
        {std::string(1000000, 'a'), "sha1:GSVJOPGUYTNKJ5Q65MV5XLJHGFSTIALP"},
    };
    for (const auto& [input, digest] : vectors) {
        qm::Sha1 hash;
        // In uneven pieces, so that blocks are filled across calls.
        for (size_t at = 0; at < input.size(); at += 37)
            hash.Update(input.data() + at, std::min<size_t>(37, input.size() - at));
        EXPECT_EQ(qm::WarcDigest(hash), digest) << input.substr(0, 20);
    }
    // RFC 4648's examples.
    const std::pair<std::string, std::string> base32[] = {{"", ""},
                                                          {"f", "MY======"},
                                                          {"fo", "MZXQ===="},
                                                          {"foo", "MZXW6==="},
                                                          {"foob", "MZXW6YQ="},
                                                          {"foobar", "MZXW6YTBOI======"}};
    for (const auto& [in, out] : base32)
        EXPECT_EQ(qm::Base32(reinterpret_cast<const uint8_t*>(in.data()), in.size()), out);
    const std::pair<std::time_t, std::string> dates[] = {
        {0, "1970-01-01T00:00:00Z"},
        {951782400, "2000-02-29T00:00:00Z"},
        {1709251199, "2024-02-29T23:59:59Z"},
        {4102444799LL, "2099-12-31T23:59:59Z"},
    };
    for (const auto& [when, text] : dates) EXPECT_EQ(qm::WarcDate(when), text);
    // Index keys as replay tools make them.
    const std::pair<std::string, std::string> keys[] = {
        {"http://www.Example.org/A/b.html", "org,example)/a/b.html"},
        {"https://www2.example.org:8443/?b=2&a=1#top", "org,example:8443)/?a=1&b=2"},
        {"http://example.org:80", "org,example)/"},
        {"https://example.org:443/x?", "org,example)/x?"},
        {"http://127.0.0.1:8080/p", "1,0,0,127:8080)/p"},
        {"ftp://example.org/", "ftp://example.org/"},
    };
    for (const auto& [url, key] : keys) EXPECT_EQ(qm::SurtKey(url), key) << url;
}

// One record of an archive: its WARC fields and its block.
struct WarcRecord {
    std::map<std::string, std::string> fields;
    std::string block;
    std::string Field(const std::string& name) const {
        auto it = fields.find(name);
        return it == fields.end() ? "" : it->second;
    }
};

// Reads an archive the way the format lays it out: gzip members one after another, each one
// record: "WARC/1.1", fields, a blank line, Content-Length bytes of block, two line ends.
// Fails the test at the first member that is not so.
std::vector<WarcRecord> ReadArchive(const std::string& bytes) {
    std::vector<WarcRecord> records;
    size_t at = 0;
    while (at < bytes.size()) {
        z_stream z{};
        EXPECT_EQ(inflateInit2(&z, 15 + 16), Z_OK);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data() + at));
        z.avail_in = static_cast<uInt>(bytes.size() - at);
        std::string text;
        int status = Z_OK;
        while (status == Z_OK) {
            char out[65536];
            z.next_out = reinterpret_cast<Bytef*>(out);
            z.avail_out = sizeof out;
            status = inflate(&z, Z_NO_FLUSH);
            text.append(out, sizeof out - z.avail_out);
        }
        at += z.total_in;
        inflateEnd(&z);
        if (status != Z_STREAM_END) {
            ADD_FAILURE() << "member " << records.size() << " does not end whole";
            break;
        }
        WarcRecord record;
        const size_t head = text.find("\r\n\r\n");
        EXPECT_EQ(text.rfind("WARC/1.1\r\n", 0), 0u);
        for (size_t line = text.find("\r\n") + 2; line < head;) {
            const size_t end = text.find("\r\n", line), colon = text.find(": ", line);
            record.fields[text.substr(line, colon - line)] =
                text.substr(colon + 2, end - colon - 2);
            line = end + 2;
        }
        const size_t length = std::stoul(record.Field("Content-Length"));
        record.block = text.substr(head + 4, length);
        EXPECT_EQ(text.size(), head + 4 + length + 4) << "member " << records.size();
        EXPECT_EQ(text.substr(head + 4 + length), "\r\n\r\n");
        records.push_back(std::move(record));
    }
    return records;
}

std::string Digest(const std::string& bytes) {
    qm::Sha1 hash;
    hash.Update(bytes.data(), bytes.size());
    return qm::WarcDigest(hash);
}

// Whether the records hold together: a warcinfo first, then requests and responses whose
// digests are right and which name each other.
void ExpectSound(const std::vector<WarcRecord>& records) {
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].Field("WARC-Type"), "warcinfo");
    std::map<std::string, const WarcRecord*> byId;
    for (const WarcRecord& r : records) byId[r.Field("WARC-Record-ID")] = &r;
    EXPECT_EQ(byId.size(), records.size()) << "record ids repeat";
    for (const WarcRecord& r : records) {
        EXPECT_EQ(r.Field("WARC-Block-Digest"), Digest(r.block));
        if (r.Field("WARC-Type") == "warcinfo") continue;
        const size_t head = r.block.find("\r\n\r\n");
        EXPECT_EQ(r.Field("WARC-Payload-Digest"),
                  Digest(head == std::string::npos ? "" : r.block.substr(head + 4)));
        EXPECT_EQ(r.Field("WARC-Warcinfo-ID"), records[0].Field("WARC-Record-ID"));
        const std::string other = r.Field("WARC-Concurrent-To");
        if (r.Field("WARC-Type") == "request" && other.empty()) continue;  // none came
        ASSERT_EQ(byId.count(other), 1u) << r.Field("WARC-Target-URI");
        EXPECT_EQ(byId[other]->Field("WARC-Concurrent-To"), r.Field("WARC-Record-ID"));
        EXPECT_EQ(byId[other]->Field("WARC-Target-URI"), r.Field("WARC-Target-URI"));
    }
}

// The records of `type` for `url`, in order.
std::vector<const WarcRecord*> RecordsOf(const std::vector<WarcRecord>& records,
                                         const std::string& type, const std::string& url) {
    std::vector<const WarcRecord*> found;
    for (const WarcRecord& r : records)
        if (r.Field("WARC-Type") == type && r.Field("WARC-Target-URI") == url) found.push_back(&r);
    return found;
}

// What stands in `box` besides `expected`: temporary files left behind.
std::vector<std::string> Leftovers(const Sandbox& box, std::vector<std::string> expected) {
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(box.Root())) {
        const std::string name = entry.path().filename().string();
        if (std::find(expected.begin(), expected.end(), name) == expected.end())
            left.push_back(name);
    }
    return left;
}

// A save of `url` with settings that name `archive`.
int32_t SaveWithArchive(const std::string& url, const std::string& savePath,
                        const std::string& archive, bool pictures = false) {
    SaveSettings* settings = qm_NewSaveSettings();
    EXPECT_EQ(qm_SetSaveWebArchive(settings, archive.c_str()), 1);
    SaveOptions options{1, 1, 1, 0};
    const int32_t result = pictures ? qm_SavePicturesWithSettings(url.c_str(), savePath.c_str(),
                                                                  &options, nullptr, settings)
                                    : qm_SavePagesWithSettings(url.c_str(), savePath.c_str(),
                                                               &options, nullptr, settings);
    qm_FreeSaveSettings(settings);
    return result;
}

TEST(WebArchive, EveryExchangeIsRecordedAsItCameOffTheConnection) {
    const std::string page =
        "<html><img src=\"p.gif\"><img src=\"moved.gif\"><img src=\"gone.gif\">"
        "<img src=\"cut.gif\"><img src=\"large.gif\"></html>";
    const std::string chunked = Chunked(Compress(page, Wrapper::Gzip), 100);
    std::string large(3 << 20, '\0');
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 % 251);

    struct Case {
        const char* path;
        std::string served;      // the response, byte for byte
        const char* truncated;   // the WARC-Truncated the record must have ("": none)
        bool leftEarly = false;  // read only as far as needed: a redirect, a status refused
    } cases[] = {
        {"/index.html",
         HttpResponse(200,
                      {{"Content-Type", "text/html"},
                       {"Transfer-Encoding", "chunked"},
                       {"Content-Encoding", "gzip"}},
                      chunked),
         ""},
        {"/p.gif", HttpResponseWithLength(200, "GIF89a picture", "image/gif"), ""},
        {"/moved.gif",
         HttpResponse(301, {{"Location", "/p2.gif"}, {"Content-Length", "5"}}, "moved"), "", true},
        {"/p2.gif", HttpResponseWithLength(200, "GIF89a second", "image/gif"), ""},
        {"/gone.gif", HttpResponseWithLength(404, "not here", "text/plain"), "", true},
        {"/cut.gif", HttpResponse(200, {{"Content-Length", "100"}}, "only ten.."), "disconnect"},
        {"/large.gif", HttpResponseWithLength(200, large, "image/gif"), ""},
    };
    SiteServer server;
    for (const Case& c : cases) server.Add(c.path, Script().Send(c.served));
    Sandbox box("qm-warc");
    ASSERT_EQ(SaveWithArchive(server.Url("/index.html"), box.Path("index.html"),
                              box.Path("site.warc.gz")),
              1);
    const std::vector<WarcRecord> records = ReadArchive(ReadFile(box.Root() / "site.warc.gz"));
    ExpectSound(records);
    EXPECT_EQ(records.size(), 1 + 2 * (sizeof cases / sizeof cases[0]));
    std::map<std::string, std::string> heads;  // what the server received, by target
    for (const Request& r : server.Log()) heads[r.target] = r.head;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto requests = RecordsOf(records, "request", server.Url(c.path));
        const auto responses = RecordsOf(records, "response", server.Url(c.path));
        ASSERT_EQ(requests.size(), 1u);
        ASSERT_EQ(responses.size(), 1u);
        EXPECT_EQ(requests[0]->block, heads[c.path]);
        const std::string& got = responses[0]->block;
        if (!c.leftEarly) {
            EXPECT_TRUE(got == c.served);
            EXPECT_EQ(responses[0]->Field("WARC-Truncated"), c.truncated);
        } else {
            // What was read, and marked so when that was not all of it.
            EXPECT_EQ(c.served.rfind(got, 0), 0u);
            EXPECT_EQ(responses[0]->Field("WARC-Truncated"), got == c.served ? "" : "unspecified");
        }
    }
    EXPECT_EQ(Leftovers(box, {"index.html", "site.warc.gz", "site.cdxj", "http-"}),
              std::vector<std::string>{});
    // The index has a line for each response, sorted, the large one's naming its place.
    const std::string index = ReadFile(box.Root() / "site.cdxj");
    EXPECT_EQ(std::count(index.begin(), index.end(), '\n'), sizeof cases / sizeof cases[0]);
    const auto largeRecord = RecordsOf(records, "response", server.Url("/large.gif"));
    const std::string digest = largeRecord[0]->Field("WARC-Payload-Digest").substr(5);
    EXPECT_TRUE(Holds(index, "\"url\":\"" + server.Url("/large.gif") +
                                 "\",\"mime\":\"image/gif\",\"status\":\"200\",\"digest\":\"" +
                                 digest + "\""));
}

TEST(WebArchive, AStopLeavesAnArchiveThatEndsOnAWholeRecord) {
    SiteServer server;
    server.AddPage("/index.html", "<img src=\"a.gif\"><img src=\"slow.gif\">");
    server.AddPage("/a.gif", "GIF89a a", "image/gif");
    server.AddStalled("/slow.gif", std::string(5000, 'x'), 1000);
    Sandbox box("qm-warc");
    {
        StopWhenRequested stop(server, "/slow.gif");
        EXPECT_EQ(SaveWithArchive(server.Url("/index.html"), box.Path("index.html"),
                                  box.Path("stopped.warc.gz")),
                  0);
    }
    const std::vector<WarcRecord> records = ReadArchive(ReadFile(box.Root() / "stopped.warc.gz"));
    ExpectSound(records);
    EXPECT_EQ(RecordsOf(records, "response", server.Url("/index.html")).size(), 1u);
    // The exchange the stop broke off is there as far as it went.
    const auto slow = RecordsOf(records, "response", server.Url("/slow.gif"));
    EXPECT_TRUE(slow.empty() || !slow[0]->Field("WARC-Truncated").empty());
    EXPECT_EQ(Leftovers(box, {"index.html", "stopped.warc.gz", "stopped.cdxj", "http-"}),
              std::vector<std::string>{});
}

TEST(WebArchive, OneThatCannotBeWrittenFailsTheCallAndLeavesNone) {
    SiteServer server;
    server.AddPage("/index.html", "<img src=\"a.gif\">");
    server.AddPage("/a.gif", "GIF89a a", "image/gif");
    Sandbox box("qm-warc");
    const std::string nowhere = box.Path("missing\\folder\\site.warc.gz");
    FailureLog failures;
    // Refused before anything is fetched.
    EXPECT_EQ(SaveWithArchive(server.Url("/index.html"), box.Path("index.html"), nowhere), 0);
    EXPECT_EQ(FailureLog::Lines(),
              std::vector<std::string>{"-1 0 " + nowhere + ": file could not be written"});
    EXPECT_TRUE(server.Log().empty());
    EXPECT_EQ(Leftovers(box, {}), std::vector<std::string>{});

    const QmsaveRun run =
        RunQmsave("page", {server.Url("/index.html"), box.Path("page.html"), "--warc", nowhere});
    EXPECT_EQ(run.status, 1) << run.said;
    EXPECT_TRUE(Holds(run.said, "qmsave: nothing was saved: the web archive " + nowhere +
                                    " could not be written"));
}

TEST(WebArchive, PictureSavesAndQmsaveWriteOneToo) {
    SiteServer server;
    server.AddPage("/index.html", "<img src=\"a.gif\">");
    server.AddPage("/a.gif", "GIF89a a", "image/gif");
    Sandbox box("qm-warc");
    ASSERT_EQ(SaveWithArchive(server.Url("/index.html"), box.Path("index.html"),
                              box.Path("pictures.warc.gz"), true),
              1);
    std::vector<WarcRecord> records = ReadArchive(ReadFile(box.Root() / "pictures.warc.gz"));
    ExpectSound(records);
    EXPECT_EQ(RecordsOf(records, "response", server.Url("/a.gif")).size(), 1u);

    const QmsaveRun run = RunQmsave("pages", {server.Url("/index.html"), box.Path("p\\index.html"),
                                              "--complete", "--warc", box.Path("qmsave.warc.gz")});
    EXPECT_EQ(run.status, 0) << run.said;
    records = ReadArchive(ReadFile(box.Root() / "qmsave.warc.gz"));
    ExpectSound(records);
    EXPECT_EQ(records.size(), 5u);
    EXPECT_EQ(RunQmsave("pictures", {server.Url("/index.html"), box.Path("q"), "--warc"}).status,
              2);
}

TEST(WebArchive, SettingsRefuseWhatTheyCannotTake) {
    SaveSettings* settings = qm_NewSaveSettings();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(qm_SetSaveWebArchive(settings, std::string(LOCAL_PATH_SIZE, 'a').c_str()), 0);
    EXPECT_EQ(qm_SetSaveWebArchive(settings, std::string(LOCAL_PATH_SIZE - 1, 'a').c_str()), 1);
    EXPECT_EQ(qm_SetSaveWebArchive(settings, nullptr), 1);
    int32_t notAHandle[8] = {};
    EXPECT_EQ(qm_SetSaveWebArchive(reinterpret_cast<SaveSettings*>(notAHandle), "a.warc.gz"), 0);
    EXPECT_EQ(qm_SetSaveCookieJar(reinterpret_cast<SaveSettings*>(notAHandle), nullptr), 0);
    EXPECT_EQ(qm_SetSaveCookieJar(settings, reinterpret_cast<CookieJar*>(notAHandle)), 0);
    SaveOptions options{1, 0, 1, 0};
    EXPECT_EQ(qm_SavePagesWithSettings("http://127.0.0.1:1/", "x.html", &options, nullptr,
                                       reinterpret_cast<SaveSettings*>(notAHandle)),
              0);
    qm_FreeSaveSettings(settings);
    qm_FreeSaveSettings(nullptr);
}

}  // namespace
}  // namespace qmtest
