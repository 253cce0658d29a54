// qmsave fetch as a user runs it: exit status, what lands in the file or on standard output,
// and a one-line reason on failure.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "scratch.h"
#include "test_server.h"
#include "text_checks.h"
#include "tls_front.h"
#include "zlib_util.h"

#ifdef _WIN32
#  include <windows.h>
#else
#  include <fcntl.h>
#  include <signal.h>
#  include <sys/wait.h>
#  include <unistd.h>
#endif

namespace {

// qmsave is built into the same folder as this test program.
std::string ToolPath() {
#ifdef _WIN32
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self - 1);
    return (std::filesystem::path(self).parent_path() / "qmsave.exe").string();
#else
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "qmsave").string();
#endif
}

using qmtest::ReadFile;

// A file `name` in `box`.
std::string In(const qmtest::ScratchFolder& box, const std::string& name) {
    return (box.Root() / name).string();
}

struct ToolRun {
    int status;
    std::string out, err;
};

ToolRun Qmsave(const std::string& arguments) {
    qmtest::ScratchFolder box("qmsave-run");
    const std::string out = In(box, "out.txt"), err = In(box, "err.txt");
    std::string command =
        "\"" + ToolPath() + "\" " + arguments + " >\"" + out + "\" 2>\"" + err + "\"";
#ifdef _WIN32
    int status = std::system(("\"" + command + "\"").c_str());
#else
    int raw = std::system(command.c_str());
    int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    return ToolRun{status, ReadFile(out), ReadFile(err)};
}

// A run of qmsave and what it should give; no reason: nothing on standard error, else the
// reason on one line.
struct Expected {
    std::string arguments;
    int status;
    std::string out, reason;
};

void ExpectRuns(const std::vector<Expected>& runs) {
    for (const Expected& e : runs) {
        SCOPED_TRACE(e.arguments);
        ToolRun r = Qmsave(e.arguments);
        EXPECT_EQ(r.status, e.status);
        EXPECT_EQ(r.out, e.out);
        EXPECT_NE(r.err.find(e.reason), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), e.reason.empty() ? std::string::npos : r.err.size() - 1);
    }
}

// The body goes to the file or to standard output; a failure says why in one line, and
// writes no file.
TEST(Qmsave, FetchGivesTheBodyOrAReasonAndAStatus) {
    const std::string page = "<html>" + qmtest::SampleText(20000) + "\r\n\x01\xff</html>";
    qmtest::SiteServer site;  // answers 404 to everything else
    site.AddPage("/page.html", page);
    site.AddPage("/coded", qmtest::Compress(page, qmtest::Wrapper::Gzip), "text/html",
                 {{"Content-Encoding", "gzip"}});
    site.Add("/moved", qmtest::Script().Send(qmtest::HttpResponse(
                           302, {{"Location", "/page.html"}, {"Content-Length", "5"}}, "moved")));
    const std::string part =
        qmtest::HttpResponse(200, {{"Content-Length", "100000"}}, std::string(5000, 'x'));
    site.Add("/cut", qmtest::Script().Send(part));
    // Longer than the 10 MiB buffer of a fetch; a coded body that decodes to far more than it is.
    const std::string big = qmtest::SampleText(12500000);
    site.AddPage("/big", big);
    site.AddPage("/bomb", qmtest::Compress(std::string(40000000, '\0'), qmtest::Wrapper::Gzip),
                 "text/html", {{"Content-Encoding", "gzip"}});
    qmtest::ScratchFolder box("qmsave-fetch");
    const std::string bigFile = In(box, "big");
    site.Add("/two-lengths", qmtest::Script().Send(qmtest::HttpResponse(
                                 200, {{"Content-Length", "5"}, {"Content-Length", "50"}},
                                 std::string(50, 'x'))));
    // Under Wine a reset may read as an orderly close: either way the fetch fails.
    site.Add("/reset", qmtest::Script().Send(part).Then(qmtest::Ending::Reset));
    qmtest::TlsFront* tls = qmtest::TlsFront::Get();
    ASSERT_TRUE(tls != nullptr && tls->Route(site.Port()));
    const std::string file = In(box, "page.html"), missing = " -o \"" + In(box, "missing") + "\"";
    ExpectRuns({
        {"fetch " + site.Url("/page.html") + " -o \"" + file + "\"", 0, "", ""},
        {"fetch " + site.Url("/moved"), 0, "moved", ""},  // a redirect's own body
        {"fetch -L " + site.Url("/moved"), 0, page, ""},
        {"fetch " + tls->Url(qmtest::Certificate::kValid, "/coded"), 0, page, ""},
        {"fetch " + site.Url("/nothing") + missing, 1, "",
         "could not fetch " + site.Url("/nothing") + ": HTTP status 404"},
        {"fetch " + site.Url("/cut") + missing, 1, "", ": truncated after 5000 of 100000 bytes"},
        {"fetch " + site.Url("/reset") + missing, 1, "", "could not fetch"},
        {"fetch " + site.Url("/two-lengths") + missing, 1, "", ": invalid Content-Length"},
        {"fetch " + site.Url("/big"), 0, big, ""},
        {"fetch " + site.Url("/big") + " -o \"" + bigFile + "\"", 0, "", ""},
        {"fetch " + site.Url("/page.html") + " --max-filesize 1000" + missing, 1, "",
         ": larger than the size limit of 1000 bytes"},
        {"fetch " + site.Url("/bomb") + " --max-filesize 1000000" + missing, 1, "",
         ": larger than the size limit of 1000000 bytes"},
        {"fetch http://a/ --max-filesize", 2, "", "needs a size in bytes"},
        {"fetch http://a/ --max-filesize 10k", 2, "", "needs a size in bytes"},
        {"fetch " + tls->Url(qmtest::Certificate::kSelfSigned) + missing, 1, "",
         ": certificate not trusted"},
        {"fetch", 2, "", "needs a URL"},
        {"fetch http://a/ http://b/", 2, "", "one URL"},
        {"fetch http://a/ -o", 2, "", "needs a file name"},
        {"fetch http://a/ --fast", 2, "", "unknown option"},
        {"save http://a/", 2, "", "unknown command"},
    });
    EXPECT_EQ(ReadFile(file), page);
    EXPECT_TRUE(ReadFile(bigFile) == big);
    EXPECT_FALSE(std::filesystem::exists(In(box, "missing")));
    EXPECT_TRUE(qmtest::Holds(Qmsave("--help").out,
                              "qmsave fetch URL [-L] [-o FILE] [--max-filesize BYTES]"));
}

// fetch writes the cookies a login sets with --save-cookies, and with --cookies that file
// lets a later fetch in; a cookies file that cannot be read is a usage error.
TEST(Qmsave, FetchReadsAndWritesCookiesFiles) {
    qmtest::TestServer server([](const qmtest::Request& r) {
        if (r.target == "/login")
            return qmtest::Script().Send(qmtest::HttpResponseWithLength(
                200, "welcome", "text/plain", {{"Set-Cookie", "session=s3cr3t; Max-Age=3600"}}));
        const bool in = r.Header("Cookie") == "session=s3cr3t";
        return qmtest::Script().Send(
            qmtest::HttpResponseWithLength(in ? 200 : 403, in ? "private" : "forbidden"));
    });
    qmtest::ScratchFolder box("qmsave-cookies");
    const std::string jar = " \"" + In(box, "cookies.txt") + "\"";
    const std::string login = "fetch " + server.Url("/login"), page = "fetch " + server.Url("/p");
    ExpectRuns({
        {page, 1, "", ": HTTP status 403"},
        {login + " --save-cookies" + jar, 0, "welcome", ""},
        {page + " --cookies" + jar, 0, "private", ""},
        {page + " --cookies \"" + In(box, "none.txt") + "\"", 2, "", "could not read the cookies"},
        {page + " --cookies", 2, "", "--cookies needs a file name"},
    });
}

// A page save that fails or is stopped leaves the file it would have replaced as it was;
// one that succeeds replaces it. No kept copy stays behind either way.
TEST(Qmsave, APageSaveReplacesItsFileOnlyOnceTheNewOneExists) {
    qmtest::SiteServer site;
    site.AddPage("/page.html", "new page");
    site.AddStalled("/slow.html", "never whole", 2);
    qmtest::ScratchFolder box("qmsave-keep");
    const std::filesystem::path& folder = box.Root();
    const std::string file = (folder / "index.html").string();
    const std::string precious("PRECIOUS\0\r\n\xff", 12);

    for (const std::string& url : {site.Url("/missing.html"), std::string("http://127.0.0.1:1/")}) {
        qmtest::WriteFile(file, precious);
        EXPECT_NE(Qmsave("page " + url + " \"" + file + "\"").status, 0);
        EXPECT_EQ(ReadFile(file), precious) << url;
        EXPECT_EQ(qmtest::EntryCount(folder), 1) << url;
    }
#ifndef _WIN32
    // Ctrl+C while the start page is still coming. The child only calls what is safe after a
    // fork in a process with threads.
    const std::string tool = ToolPath(), slow = site.Url("/slow.html");
    const size_t before = site.Log().size();
    pid_t child = fork();
    if (child == 0) {
        dup2(open("/dev/null", O_WRONLY), 2);
        execl(tool.c_str(), "qmsave", "page", slow.c_str(), file.c_str(), nullptr);
        _exit(127);
    }
    qmtest::WaitUntil([&] { return site.Log().size() != before; });
    kill(child, SIGINT);
    int raw = 0;
    waitpid(child, &raw, 0);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) != 0);
    EXPECT_EQ(ReadFile(file), precious);
    EXPECT_EQ(qmtest::EntryCount(folder), 1);
#endif

    // The start page stands in the site's tree, and the file leads to it.
    EXPECT_EQ(Qmsave("page " + site.Url("/page.html") + " \"" + file + "\"").status, 0);
    const std::string start = "http-/" + qmtest::LocalHost(site.Port()) + "/page.html";
    EXPECT_EQ(ReadFile(folder / start), "new page");
    EXPECT_NE(ReadFile(file).find("content=\"0; url=" + start + "\""), std::string::npos);
    EXPECT_EQ(qmtest::EntryCount(folder), 2);
}

}  // namespace
