// The DevTools client natively, against the system's headless Chromium: connected through
// the port the browser names, it runs commands, and tells a refused command and a lost
// browser apart from an answer.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "devtools.h"
#include "scratch.h"

namespace pagesnap {
namespace {

namespace fs = std::filesystem;

constexpr char kChromium[] = "/usr/bin/chromium";

// Headless Chromium on a profile of its own, with DevTools on a port it chooses; killed with
// its process group at the end.
class HeadlessChromium {
public:
    explicit HeadlessChromium(const std::string& profile) {
        const std::string dataDir = "--user-data-dir=" + profile;
        std::vector<std::string> args = {kChromium,
                                         "--headless",
                                         "--no-sandbox",
                                         "--disable-gpu",
                                         "--disable-quic",
                                         "--no-first-run",
                                         "--disable-background-networking",
                                         "--disable-component-update",
                                         "--disable-sync",
                                         "--remote-debugging-port=0",
                                         dataDir,
                                         "about:blank"};
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            freopen("/dev/null", "w", stderr);
            execv(kChromium, argv.data());
            _exit(127);
        }
    }
    ~HeadlessChromium() { Kill(); }

    // The port and path the browser writes into its profile once DevTools listens.
    bool Endpoint(const std::string& profile, int* port, std::string* path) {
        return qmtest::WaitUntil([&] {
            std::ifstream in(profile + "/DevToolsActivePort");
            return static_cast<bool>(in >> *port >> *path);
        });
    }
    void Kill() {
        if (pid_ <= 0) return;
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

TEST(DevTools, RunsCommandsAndTellsARefusalAndALostBrowserApart) {
    if (!fs::exists(kChromium)) GTEST_SKIP() << "no " << kChromium;
    qmtest::ScratchFolder folder("qm-devtools");
    const std::string profile = folder.Root().string();
    HeadlessChromium browser(profile);
    int port = 0;
    std::string path;
    ASSERT_TRUE(browser.Endpoint(profile, &port, &path));

    DevToolsClient devtools;
    std::string why;
    const Tick deadline = Now() + 30000;
    ASSERT_TRUE(devtools.Connect(port, path, deadline, &why)) << why;
    JsonValue result;
    ASSERT_TRUE(devtools.Call("Browser.getVersion", "", "", deadline, &result, &why)) << why;
    ASSERT_NE(result.Find("product"), nullptr);
    EXPECT_NE(result.Find("product")->AsString().find("Chrome/"), std::string::npos);

    // A page of its own, evaluated in its session once it has loaded.
    ASSERT_TRUE(devtools.Call("Target.createTarget", R"({"url":"about:blank"})", "", deadline,
                              &result, &why))
        << why;
    const std::string target = result.Find("targetId")->AsString();
    ASSERT_TRUE(devtools.Call("Target.attachToTarget",
                              R"({"targetId":")" + target + R"(","flatten":true})", "", deadline,
                              &result, &why))
        << why;
    const std::string session = result.Find("sessionId")->AsString();
    ASSERT_TRUE(devtools.Call("Page.enable", "", session, deadline, &result, &why)) << why;
    ASSERT_TRUE(devtools.Call("Page.navigate",
                              R"({"url":"data:text/html,<title>made here</title>"})", session,
                              deadline, &result, &why))
        << why;
    EXPECT_TRUE(devtools.WaitForEvent("Page.loadEventFired", session, deadline));
    ASSERT_TRUE(devtools.Call("Runtime.evaluate", R"({"expression":"document.title"})", session,
                              deadline, &result, &why))
        << why;
    EXPECT_EQ(result.Path({"result", "value"})->AsString(), "made here");

    EXPECT_FALSE(devtools.Call("No.suchMethod", "", "", deadline, &result, &why));
    EXPECT_NE(why.find("No.suchMethod was refused by the browser"), std::string::npos) << why;

    browser.Kill();
    EXPECT_FALSE(devtools.Call("Browser.getVersion", "", "", deadline, &result, &why));
    EXPECT_NE(why.find("Browser.getVersion: "), std::string::npos) << why;
}

}  // namespace
}  // namespace pagesnap
