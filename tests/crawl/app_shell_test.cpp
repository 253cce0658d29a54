// Which pages, as they were fetched, are only the shell of an application that its scripts
// build: those go through the browser by default, every other page is saved as it came.
#include <gtest/gtest.h>

#include <string>

#include "app_shell.h"

namespace qmtest {
namespace {

TEST(AppShell, IsAnEmptyRootOrAPleaForScriptsWithLittleToRead) {
    const std::string words(40, 'w');
    const std::string text = "<p>" + words + " " + words + "</p>";
    const struct {
        std::string page;
        bool shell;
    } cases[] = {
        // What the tools that build applications write.
        {"<!doctype html><html><head><title>React App</title></head><body><noscript>You need "
         "to enable JavaScript to run this app.</noscript><div id=\"root\"></div>"
         "<script src=\"/static/js/main.js\"></script></body></html>",
         true},
        {"<body>\n  <div id=\"app\">\n  </div>\n  <script type=module src=/a.js></script>", true},
        {"<body><app-root></app-root><script src=main.js></script></body>", true},
        {"<head><script>const s = '<div>" + words +
             "</div></body>';</script></head>"
             "<body><div id=root></div>",
         true},
        {"<body><noscript><p>Please turn on JavaScript.</p></noscript><main></main>"
         "<script src=a.js></script>",
         true},
        // Pages to read: text, no script, or a first element that holds something.
        {"<body><div id=root></div><script src=a.js></script>" + text, false},
        {"<body><div id=root></div>", false},
        {"<body><div id=\"top\"><div id=\"main-nav\"></div></div><script src=menu.js></script>"
         "<p>g</p>",
         false},
        {"<body><noscript>JavaScript is disabled on your browser.</noscript><nav>" + text +
             "</nav><script src=s.js></script>",
         false},
        {"<body><div id=root><p>server-rendered</p></div><script src=a.js></script>", false},
        {"<script>location.replace('index.html')</script><body><noscript>JavaScript is off"
         "</noscript><main><a href=index.html>index.html</a></main>",
         false},
        {"<body><div class=root></div><script src=a.js></script>", false},
        // Cut short, or not markup at all.
        {"<body><script>x</script><div id=\"root\"", false},
        {"", false},
        {std::string(100000, '<'), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qmsave::LooksLikeAppShell(c.page.data(), c.page.size()), c.shell) << c.page;
}

}  // namespace
}  // namespace qmtest
