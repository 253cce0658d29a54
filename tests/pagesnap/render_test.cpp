// Pagesnap against a real headless browser and a page served on loopback.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "loopback_http_win32.h"
#include "picture_check_win32.h"
#include "renderer_driver_win32.h"

namespace pagesnap_test {
namespace {

// Longer than the program waits: a late picture is a failure the checks below report.
constexpr DWORD kJobTimeoutMs = 15000;

// Two bands of known colour, the second far below the first screenful.
const char kBandsPage[] =
    "<!doctype html><html><body style='margin:0;background:#fff'>"
    "<div style='height:2400px;background:rgb(200,30,60)'></div>"
    "<div style='height:600px;background:rgb(20,160,90)'></div>"
    "</body></html>";

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(entry.cFileName);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return names;
}

class RenderTest : public ::testing::Test {
 protected:
  void SetUp() override { out_ = MakeScratchFolder("pictures"); }
  void TearDown() override { RemoveFolder(out_); }

  std::string out_;
};

TEST_F(RenderTest, DrawsTheWholePageIntoAJpegOnlyOnceItIsComplete) {
  LoopbackHttp server(Pages{{"/bands.html", kBandsPage}});
  Renderer renderer;
  ASSERT_TRUE(renderer.frame()) << "no top-level window titled qmPagesnap";
  ASSERT_TRUE(renderer.target()) << "no child window titled qmPagesnap";
  EXPECT_FALSE(IsWindowVisible(renderer.frame()));

  const std::string path = out_ + "bands";
  ASSERT_TRUE(WriteJobBlock(server.Url("/bands.html") + "JWPQqm" + path + "JWPQqm"));
  renderer.Click();

  // Whenever the picture can be opened it must be whole, as the program reads it at once.
  Picture picture;
  ASSERT_TRUE(WaitUntil([&] {
    if (!FileExists(path + ".jpg")) return false;
    picture = ReadJpeg(path + ".jpg");
    return true;
  }, kJobTimeoutMs)) << "no picture; log: " << ReadText(path + ".log");
  ASSERT_TRUE(picture.valid) << picture.error;
  EXPECT_EQ(picture.width, 1280u);
  EXPECT_EQ(picture.height, 3000u);
  EXPECT_TRUE(picture.Near(640, 1200, 200, 30, 60)) << picture.Describe(640, 1200);
  EXPECT_TRUE(picture.Near(5, 10, 200, 30, 60)) << picture.Describe(5, 10);
  EXPECT_TRUE(picture.Near(1275, 2399 - 8, 200, 30, 60)) << picture.Describe(1275, 2391);
  EXPECT_TRUE(picture.Near(640, 2800, 20, 160, 90)) << picture.Describe(640, 2800);

  // Nothing but the picture is left beside it: no part file, no log.
  EXPECT_EQ(FilesIn(out_), std::vector<std::string>{"bands.jpg"});
  EXPECT_TRUE(renderer.running());
}

TEST_F(RenderTest, APageThatNeverFinishesLoadingIsTakenAsFarAsItIsDrawn) {
  LoopbackHttp server(Pages{{"/slow.html",
                             "<!doctype html><html><body style='margin:0'>"
                             "<div style='height:1000px;background:rgb(30,60,200)'></div>" +
                                 std::string(kStall) + "<p>never arrives</p></body></html>"}});
  Renderer renderer;
  ASSERT_TRUE(renderer.target());
  const std::string path = out_ + "slow";
  ASSERT_TRUE(WriteJobBlock(server.Url("/slow.html") + "JWPQqm" + path + "JWPQqm"));
  renderer.Click();
  ASSERT_TRUE(WaitUntil([&] { return FileExists(path + ".jpg"); }, kJobTimeoutMs))
      << "no picture; log: " << ReadText(path + ".log");
  const Picture picture = ReadJpeg(path + ".jpg");
  ASSERT_TRUE(picture.valid) << picture.error;
  EXPECT_EQ(picture.width, 1280u);
  EXPECT_TRUE(picture.Near(640, 500, 30, 60, 200)) << picture.Describe(640, 500);
}

TEST_F(RenderTest, AFailedJobLeavesAReasonAndNoPicture) {
  LoopbackHttp server(Pages{{"/bands.html", kBandsPage}});
  Renderer renderer;
  ASSERT_TRUE(renderer.target());
  const std::string deadPage = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/";
  struct Case {
    const char* name;
    std::string url;
    std::string ini;
    const char* reason;  // expected in the log
  } cases[] = {
      {"no browser", server.Url("/bands.html"),
       "[Pagesnap]\r\nBrowser=C:\\nowhere\\chrome.exe\r\n", "was not found"},
      {"nothing listens", deadPage, "", "could not be loaded: net::ERR_CONNECTION_REFUSED"},
      {"local file", "file:///C:/windows/win.ini", "", "only http:// and https://"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    renderer.WriteIni(c.ini);
    const std::string path = out_ + "failed" + std::to_string(++n);
    // An earlier picture of the same name must not pass for this job's.
    WriteText(path + ".jpg", "an earlier picture");
    ASSERT_TRUE(WriteJobBlock(c.url + "JWPQqm" + path + "JWPQqm"));
    renderer.Click();
    EXPECT_FALSE(FileExists(path + ".jpg")) << "gone once the click is answered";
    ASSERT_TRUE(WaitUntil([&] { return FileExists(path + ".log"); }, kJobTimeoutMs));
    Sleep(200);  // the log is written in one go; this only lets a stray picture show up
    EXPECT_FALSE(FileExists(path + ".jpg"));
    const std::string log = ReadText(path + ".log");
    EXPECT_NE(log.find(c.reason), std::string::npos) << log;
    EXPECT_NE(log.find(c.url), std::string::npos) << log;
  }
  EXPECT_TRUE(renderer.running());
}

TEST_F(RenderTest, IgnoresClicksWithoutAJobAndTakesTheNextOne) {
  Renderer renderer;
  ASSERT_TRUE(renderer.target());
  const std::string path = out_ + "later";
  ASSERT_TRUE(WriteJobBlock("http://127.0.0.1/JWPQqm" + path));  // second separator missing
  renderer.Click();
  // A lone button-up is no click.
  ASSERT_TRUE(WriteJobBlock("ftp://x/JWPQqm" + path + "JWPQqm"));
  SendMessageA(renderer.target(), WM_LBUTTONUP, 0, 0);
  renderer.Click();
  ASSERT_TRUE(WaitUntil([&] { return FileExists(path + ".log"); }, kJobTimeoutMs));
  EXPECT_NE(ReadText(path + ".log").find("ftp://x/"), std::string::npos);
  EXPECT_TRUE(renderer.running());
}

}  // namespace
}  // namespace pagesnap_test
