// The DevTools client natively, against the system's headless Chromium: connected through
// the port the browser names, it runs commands, and tells a refused command and a lost
// browser apart from an answer.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "browser_posix.h"
#include "devtools.h"
#include "scratch.h"

namespace pagesnap {
namespace {

namespace fs = std::filesystem;

TEST(DevTools, RunsCommandsAndTellsARefusalAndALostBrowserApart) {
    if (!fs::exists(kSystemChromium)) GTEST_SKIP() << "no " << kSystemChromium;
    PosixBrowser browser;
    std::string why;
    ASSERT_TRUE(browser.Start(kSystemChromium, &why)) << why;
    const Tick deadline = Now() + 30000;
    int port = 0;
    std::string path;
    ASSERT_TRUE(browser.WaitForEndpoint(deadline, &port, &path, &why)) << why;

    DevToolsClient devtools;
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

    browser.End();
    EXPECT_FALSE(devtools.Call("Browser.getVersion", "", "", deadline, &result, &why));
    EXPECT_NE(why.find("Browser.getVersion: "), std::string::npos) << why;
}

// The browser that cannot start, or ends before it listens, is a failure with its reason; the
// profile folder is gone after every ending.
TEST(DevTools, ABrowserThatDoesNotListenIsAFailureAndLeavesNoProfile) {
    if (!fs::exists(kSystemChromium)) GTEST_SKIP() << "no " << kSystemChromium;
    qmtest::BrowserTemporaries temporaries;
    std::string why;
    int port = 0;
    std::string path;
    {
        PosixBrowser missing;
        EXPECT_FALSE(missing.Start(temporaries.Root() / "no-such-browser", &why));
        EXPECT_NE(why.find("cannot be run"), std::string::npos) << why;
        PosixBrowser quitting;
        ASSERT_TRUE(quitting.Start("/bin/true", &why)) << why;
        EXPECT_FALSE(quitting.WaitForEndpoint(Now() + 30000, &port, &path, &why));
        EXPECT_NE(why.find("ended before it listened"), std::string::npos) << why;
        PosixBrowser running;
        ASSERT_TRUE(running.Start(kSystemChromium, &why)) << why;
        ASSERT_TRUE(running.WaitForEndpoint(Now() + 30000, &port, &path, &why)) << why;
    }
    EXPECT_TRUE(temporaries.AllGone());
}

}  // namespace
}  // namespace pagesnap
