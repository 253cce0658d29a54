// qm_testserver: serves the files of a folder over HTTP on 127.0.0.1, for benchmarks and for
// trying qmsave by hand. /NAME answers with ROOT/NAME, or with ROOT/NAME.gz as
// "Content-Encoding: gzip" when the client accepts gzip and that file exists.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "test_server.h"

int main(int argc, char** argv) {
    std::string root;
    int seconds = 300;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string arg = argv[i];
        if (arg == "--root") root = argv[i + 1];
        else if (arg == "--seconds") seconds = std::atoi(argv[i + 1]);
        else {
            root.clear();
            break;
        }
    }
    if (root.empty() || argc % 2 == 0 || seconds <= 0) {
        std::fputs(
            "usage: qm_testserver --root DIR [--seconds N]\n"
            "  Serves DIR on 127.0.0.1 for N seconds (300) and prints its port.\n",
            stderr);
        return 2;
    }

    // Each file is read once, so that the server's own disk time stays out of a benchmark.
    std::mutex mutex;
    std::map<std::string, std::string> files;
    auto load = [&](const std::string& name, std::string* body) {
        std::lock_guard<std::mutex> lock(mutex);
        if (files.count(name) == 0) {
            std::ifstream in(root + "/" + name, std::ios::binary);
            if (!in) return false;
            files[name].assign(std::istreambuf_iterator<char>(in), {});
        }
        *body = files[name];
        return true;
    };
    // Crawlers decide by the type whether to look for links in a file.
    auto type = [](const std::string& name) -> std::string {
        std::string ext = name.substr(std::min(name.rfind('.'), name.size()));
        if (ext == ".html" || ext == ".htm") return "text/html";
        if (ext == ".css") return "text/css";
        if (ext == ".gif" || ext == ".png") return "image/" + ext.substr(1);
        return ext == ".jpg" ? "image/jpeg" : "application/octet-stream";
    };

    qmtest::TestServer server([&](const qmtest::Request& request) {
        std::string name = request.target.substr(0, request.target.find('?')), body;
        std::string response = qmtest::HttpResponseWithLength(404, "not found");
        bool safe = !name.empty() && name[0] == '/' && name.find("..") == std::string::npos;
        name = safe ? name.substr(1) : "";
        if (safe && request.Header("Accept-Encoding").find("gzip") != std::string::npos &&
            load(name + ".gz", &body))
            response = qmtest::HttpResponseWithLength(200, body, type(name),
                                                      {{"Content-Encoding", "gzip"}});
        else if (safe && load(name, &body))
            response = qmtest::HttpResponseWithLength(200, body, type(name));
        return qmtest::Script().Send(response);
    });

    std::printf("%u\n", server.Port());
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 0;
}
