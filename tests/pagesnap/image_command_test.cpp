// "Save This Page as An Image" in the desktop program: against a stand-in renderer that
// keeps what it was sent (the job in the shared block, the click, the wait and the report),
// and end to end with Pagesnap and a real browser.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "driver.h"
#include "gui_ids.h"
#include "loopback_http_win32.h"
#include "picture_check_win32.h"
#include "renderer_driver_win32.h"

using namespace gui;

namespace {

constexpr int kSaveAsImage = 1006;
constexpr char kSeparator[] = "JWPQqm";

std::string Narrow(const std::wstring& wide) { return std::string(wide.begin(), wide.end()); }

// Processes named like the renderer, as the program recognises them.
std::vector<DWORD> RendererProcesses() {
  std::vector<DWORD> found;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (std::wstring(entry.szExeFile).rfind(L"Pagesnap", 0) == 0) found.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return found;
}

void EndRenderers() {
  for (DWORD id : RendererProcesses()) {
    if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id)) {
      TerminateProcess(process, 1);
      WaitForSingleObject(process, kDeadlineMs);
      CloseHandle(process);
    }
  }
}

HWND RendererWindow() { return FindWindowW(nullptr, L"qmPagesnap"); }

// Where the program under test is: the build's own folder, or QM_APP_FOLDER (an unpacked
// release archive, for instance).
std::wstring AppFolder() {
  wchar_t folder[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(L"QM_APP_FOLDER", folder, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(folder) : ProgramFolder();
}

// The program's folder with the stand-in in the renderer's place.
class StandinFolder {
 public:
  explicit StandinFolder(const char* mode) : folder_(L"bridge") {
    for (const wchar_t* file : {L"qmApp.exe", L"qm_url.dll"}) {
      CopyFileW((ProgramFolder() + L"\\" + file).c_str(), (folder_ / file).c_str(), FALSE);
    }
    CopyFileW((ProgramFolder() + L"\\PagesnapStandin.exe").c_str(), (folder_ / L"Pagesnap.exe").c_str(),
              FALSE);
    WriteFile(folder_ / L"standin.txt", mode);
  }
  ~StandinFolder() { EndRenderers(); }

  const std::wstring& path() const { return folder_.path(); }
  std::wstring operator/(const std::wstring& name) const { return folder_ / name; }
  std::string Clicks() const { return ReadFile(folder_ / L"clicks.txt"); }
  std::string Job() const { return ReadFile(folder_ / L"job.bin"); }

 private:
  ScratchFolder folder_;
};

// Types the URL, presses the command and completes the Save As dialog with `path`.
bool SaveAsImage(const App& app, const std::wstring& url, const std::wstring& path) {
  SetItemText(app.main(), kUrl, url);
  Click(app.main(), kSaveAsImage);
  HWND saveAs = app.WaitForTop(kSaveAsCaption);
  if (!saveAs) return false;
  // The program may have started the renderer just now; give it its window first.
  WaitUntil([] { return RendererWindow() != nullptr; }, 5000);
  SetItemText(saveAs, kFileNameEdit, path);
  Click(saveAs, IDOK);
  return WaitUntil([&] { return !IsWindow(saveAs); });
}

std::string BlockContent() {
  std::string bytes;
  if (HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, "qmPagesnap")) {
    if (const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 1024)) {
      bytes.assign(static_cast<const char*>(view), 1024);
      UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
  }
  return bytes;
}

}  // namespace

TEST(ImageCommand, WritesTheJobByteForByteClicksAndReportsThePicture) {
  StandinFolder folder("picture");
  App app(folder.path());
  ASSERT_TRUE(WaitUntil([] { return RendererWindow() != nullptr; })) << "renderer not started";
  struct Case {
    const wchar_t* url;
    const wchar_t* name;
    const wchar_t* awaited;  // the file the program waits for
  } const cases[] = {
      {L"http://127.0.0.1:9/a page?x=1", L"pic", L"pic.jpg"},
      // Handed on as typed: no scheme added, https not refused, ".jpg" always appended.
      {L"HTTPS://example.org/", L"secure.jpg", L"secure.jpg.jpg"},
      {L"example.org", L"plain", L"plain.jpg"},
  };
  std::string clicks;
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.url));
    ASSERT_TRUE(SaveAsImage(app, c.url, folder / c.name));
    const App::Box box = app.TakeMessageBox();
    EXPECT_EQ(box.caption, L"");
    EXPECT_EQ(box.text, L"Have Completed");
    EXPECT_TRUE(FileExists(folder / c.awaited));

    std::string expected = Narrow(c.url) + kSeparator + Narrow(folder / c.name) + kSeparator;
    expected.resize(1024, '\0');
    EXPECT_EQ(folder.Job(), expected);
    clicks += "down\nup\n";
    EXPECT_EQ(folder.Clicks(), clicks);
    EXPECT_FALSE(IsWindowVisible(RendererWindow()));
    ASSERT_TRUE(app.WaitIdle());
  }
}

TEST(ImageCommand, AJobThatDoesNotFitTheBlockIsRefusedNotCut) {
  StandinFolder folder("picture");
  App app(folder.path());
  ASSERT_TRUE(WaitUntil([] { return RendererWindow() != nullptr; }));
  const std::wstring path = folder / L"p";
  // The text with its NUL fills the 1024 bytes exactly, or is one byte too long.
  const size_t fits = 1023 - 12 - path.size();
  for (size_t length : {fits + 1, fits}) {
    SCOPED_TRACE(length);
    const std::wstring url = L"http://x/" + std::wstring(length - 9, L'a');
    ASSERT_TRUE(SaveAsImage(app, url, path));
    const App::Box box = app.TakeMessageBox();
    if (length > fits) {
      EXPECT_EQ(box.caption, kErrorCaption);
      EXPECT_EQ(box.text, L"The address and the file name are too long.");
      EXPECT_EQ(folder.Clicks(), "");
    } else {
      EXPECT_EQ(box.text, L"Have Completed");
      const std::string job = folder.Job();
      EXPECT_EQ(job.find('\0'), 1023u);
      EXPECT_EQ(job.substr(1023 - 6, 6), kSeparator);
    }
    ASSERT_TRUE(app.WaitIdle());
  }
}

TEST(ImageCommand, AMissingRendererWindowIsAnErrorAfterTheJobIsWritten) {
  for (const char* mode : {"no-window", "no-child"}) {
    SCOPED_TRACE(mode);
    StandinFolder folder(mode);
    App app(folder.path());
    ASSERT_TRUE(WaitUntil([] { return !RendererProcesses().empty(); }));
    ASSERT_TRUE(SaveAsImage(app, L"http://127.0.0.1:9/", folder / L"pic"));
    const App::Box box = app.TakeMessageBox();
    EXPECT_EQ(box.caption, kErrorCaption);
    EXPECT_EQ(box.text, L"Error!");
    EXPECT_EQ(folder.Clicks(), "");
    EXPECT_EQ(BlockContent().rfind("http://127.0.0.1:9/JWPQqm" + Narrow(folder / L"pic") + "JWPQqm", 0), 0u);
  }
}

TEST(ImageCommand, AWaitThatRunsOutShowsNothing) {
  StandinFolder folder("silent");
  App app(folder.path());
  ASSERT_TRUE(WaitUntil([] { return RendererWindow() != nullptr; }));
  ASSERT_TRUE(SaveAsImage(app, L"http://127.0.0.1:9/", folder / L"never"));
  ASSERT_TRUE(WaitUntil([&] { return folder.Clicks() == "down\nup\n"; }));
  ASSERT_TRUE(WaitUntil([&] { return !app.Idle(); })) << "the wait should be under way";
  ASSERT_TRUE(app.WaitIdle(20000));
  app.Settle();
  EXPECT_EQ(app.FindMessageBox(), nullptr);
  EXPECT_FALSE(FileExists(folder / L"never.jpg"));
}

TEST(ImageCommand, StartsTheRendererWhenNoneRuns) {
  StandinFolder folder("picture");
  App app(folder.path());
  ASSERT_TRUE(WaitUntil([] { return RendererWindow() != nullptr; }));
  EndRenderers();
  ASSERT_TRUE(RendererProcesses().empty());
  ASSERT_TRUE(SaveAsImage(app, L"http://127.0.0.1:9/", folder / L"pic"));
  EXPECT_EQ(app.TakeMessageBox().text, L"Have Completed");
  EXPECT_EQ(RendererProcesses().size(), 1u);
}

TEST(ImageCommand, ExitEndsEveryRendererProcess) {
  StandinFolder folder("picture");
  App app(folder.path());
  ASSERT_TRUE(WaitUntil([] { return RendererProcesses().size() == 1; }));
  // A second one started by hand.
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION second = {};
  std::wstring line = L"\"" + (folder / L"Pagesnap.exe") + L"\"";
  ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                             folder.path().c_str(), &startup, &second));
  ASSERT_TRUE(WaitUntil([] { return RendererProcesses().size() == 2; }));

  Click(app.main(), IDCANCEL);
  ASSERT_TRUE(app.WaitForExit());
  EXPECT_TRUE(WaitUntil([] { return RendererProcesses().empty(); }));
  EXPECT_EQ(WaitForSingleObject(second.hProcess, kDeadlineMs), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(second.hProcess, &code);
  EXPECT_EQ(code, 1u);
  CloseHandle(second.hProcess);
  CloseHandle(second.hThread);
}

TEST(ImageCommand, ExitWithNoRendererRunningEndsNormally) {
  StandinFolder folder("picture");
  App app(folder.path());
  ASSERT_TRUE(WaitUntil([] { return RendererWindow() != nullptr; }));
  EndRenderers();
  Click(app.main(), IDCANCEL);
  EXPECT_TRUE(app.WaitForExit());
}

TEST(ImageCommandEndToEnd, SavesALoopbackPageAsAJpegAndExitEndsEveryRenderer) {
  ScratchFolder out(L"image_e2e");
  pagesnap_test::LoopbackHttp server(pagesnap_test::Pages{
      {"/colour.html",
       "<!doctype html><html><body style='margin:0;background:#fff'>"
       "<div style='height:1500px;background:rgb(240,200,20)'></div><p>end</p></body></html>"}});
  App app(AppFolder());  // with the real Pagesnap.exe beside the program
  ASSERT_TRUE(WaitUntil([] { return RendererWindow() != nullptr; }, 30000)) << "no renderer";
  const std::string narrowUrl = server.Url("/colour.html");
  const std::wstring url(narrowUrl.begin(), narrowUrl.end());
  ASSERT_TRUE(SaveAsImage(app, url, out / L"page"));
  const App::Box box = app.TakeMessageBox(20000);
  EXPECT_EQ(box.caption, L"");
  ASSERT_EQ(box.text, L"Have Completed") << pagesnap_test::ReadText(Narrow(out / L"page.log"));
  const pagesnap_test::Picture picture = pagesnap_test::ReadJpeg(Narrow(out / L"page.jpg"));
  ASSERT_TRUE(picture.valid) << picture.error;
  EXPECT_EQ(picture.width, 1280u);
  EXPECT_GE(picture.height, 1500u);
  EXPECT_TRUE(picture.Near(640, 1000, 240, 200, 20)) << picture.Describe(640, 1000);
  ASSERT_TRUE(app.WaitIdle());

  // Exit ends them all, also one started by hand.
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION second = {};
  std::wstring line = L"\"" + AppFolder() + L"\\Pagesnap.exe\"";
  ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                             AppFolder().c_str(), &startup, &second));
  CloseHandle(second.hThread);
  ASSERT_TRUE(WaitUntil([] { return RendererProcesses().size() == 2; }));
  Click(app.main(), IDCANCEL);
  ASSERT_TRUE(app.WaitForExit());
  EXPECT_TRUE(WaitUntil([] { return RendererProcesses().empty(); }));
  EXPECT_EQ(WaitForSingleObject(second.hProcess, kDeadlineMs), WAIT_OBJECT_0);
  CloseHandle(second.hProcess);
}
