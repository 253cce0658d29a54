// How long a stopped picture save takes to return when its temporary folder holds many
// files, beside the time it takes to delete such a folder in place (what the call would
// wait for if it deleted the folder itself). Runs natively and under Wine.
// Usage: stop_bench [FILES]   (default 20000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "qm_url.h"
#include "test_server.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

void Fill(const fs::path& folder, int files) {
    fs::create_directories(folder);
    for (int i = 0; i < files; ++i)
        std::ofstream(folder / ("f" + std::to_string(i) + ".html")) << "x";
}

bool WaitFor(const std::function<bool()>& done) {
    auto deadline = Clock::now() + std::chrono::seconds(120);
    while (!done() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return done();
}

}  // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 20000;
    const fs::path root = fs::temp_directory_path() / "qm-stop-bench";
    fs::remove_all(root);
    fs::create_directories(root / "save");

    qmtest::SiteServer server;
    server.AddPage("/index.html", "<img src=\"a.gif\">");
    // A byte every half second: the call waits for the picture until it is stopped, however
    // long the folder takes to fill (minutes under Wine), without a silence ending it.
    const std::string body(2000, 'g'),
        whole = qmtest::HttpResponseWithLength(200, body, "image/gif");
    server.Add("/a.gif", qmtest::Script()
                             .SendInPieces(whole.substr(0, whole.size() - body.size() + 1), 4096)
                             .SendInPieces(body, 1, 500));
    const std::string url = server.Url("/index.html"),
                      path = (root / "save").string() + "\\index.html";
    int32_t result = -1;
    std::thread call([&] {
        SaveOptions options{};
        result = qm_SavePictures(url.c_str(), path.c_str(), &options, nullptr);
    });
    if (!WaitFor([&] { return server.RequestedTargets().size() == 2; })) return 1;
    Fill(root / "save" / "temp", files);
    auto t = Clock::now();
    qm_StopSave();
    call.join();
    const double stopMs = MsSince(t);
    const bool tempFree = !fs::exists(root / "save" / "temp");
    WaitFor([&] { return fs::is_empty(root / "save"); });
    const double goneMs = MsSince(t);

    Fill(root / "peer", files);
    t = Clock::now();
    fs::remove_all(root / "peer");
    const double deleteMs = MsSince(t);
    fs::remove_all(root);

    std::printf(
        "stop with %d files in the temporary folder: returned %d in %.1f ms (folder %s), "
        "all gone after %.1f ms\n",
        files, result, stopMs, tempFree ? "out of the way" : "still there", goneMs);
    std::printf("deleting such a folder in place: %.1f ms; ratio stop/delete %.3f\n", deleteMs,
                stopMs / deleteMs);
    return 0;
}
