// qm_testserver: serves the files of a folder over HTTP on 127.0.0.1, for benchmarks and for
// trying qmsave by hand. A request for /NAME answers with ROOT/NAME; when the client accepts
// gzip and ROOT/NAME.gz exists, that file is sent with "Content-Encoding: gzip" instead.
// The server ends by itself after --seconds (default 300).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "test_server.h"

namespace {

const char kUsage[] =
    "usage: qm_testserver --root DIR [--port N] [--port-file FILE] [--seconds N]\n"
    "  Serves DIR on 127.0.0.1 (port N, or one the system picks, written to FILE).\n";

bool ReadFile(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    *out = text.str();
    return true;
}

// Browsers and crawlers decide by the type whether to look for links in a file.
std::string ContentType(const std::string& name) {
    static const std::map<std::string, std::string> kTypes = {
        {".html", "text/html"}, {".htm", "text/html"},  {".css", "text/css"},
        {".gif", "image/gif"},  {".jpg", "image/jpeg"}, {".png", "image/png"}};
    size_t dot = name.rfind('.');
    auto it = dot == std::string::npos ? kTypes.end() : kTypes.find(name.substr(dot));
    return it == kTypes.end() ? "application/octet-stream" : it->second;
}

}  // namespace

int main(int argc, char** argv) {
    std::string root, portFile;
    int port = 0, seconds = 300;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--root" && hasValue) root = argv[++i];
        else if (arg == "--port" && hasValue) port = std::atoi(argv[++i]);
        else if (arg == "--port-file" && hasValue) portFile = argv[++i];
        else if (arg == "--seconds" && hasValue) seconds = std::atoi(argv[++i]);
        else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (root.empty() || port < 0 || port > 65535 || seconds <= 0) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    // Files are read once and kept, so that the server's own disk time stays out of a benchmark.
    std::mutex cacheMutex;
    std::map<std::string, std::string> cache;
    auto load = [&](const std::string& name, std::string* body) {
        std::lock_guard<std::mutex> lock(cacheMutex);
        auto it = cache.find(name);
        if (it == cache.end()) {
            if (!ReadFile(root + "/" + name, body)) return false;
            it = cache.emplace(name, *body).first;
        }
        *body = it->second;
        return true;
    };

    qmtest::TestServer server(
        [&](const qmtest::Request& request) {
            std::string name = request.target.substr(0, request.target.find('?'));
            std::string body, response = qmtest::HttpResponseWithLength(404, "not found");
            bool safe = !name.empty() && name[0] == '/' && name.find("..") == std::string::npos;
            name = safe ? name.substr(1) : "";
            if (safe && request.Header("Accept-Encoding").find("gzip") != std::string::npos &&
                load(name + ".gz", &body))
                response = qmtest::HttpResponseWithLength(200, body, ContentType(name),
                                                          {{"Content-Encoding", "gzip"}});
            else if (safe && load(name, &body))
                response = qmtest::HttpResponseWithLength(200, body, ContentType(name));
            return qmtest::Script().Send(response);
        },
        static_cast<uint16_t>(port));

    if (!portFile.empty()) {
        std::string tmp = portFile + ".tmp";
        FILE* f = std::fopen(tmp.c_str(), "w");
        if (f == nullptr) return 1;
        std::fprintf(f, "%u\n", server.Port());
        std::fclose(f);
        std::rename(tmp.c_str(), portFile.c_str());
    } else {
        std::printf("%u\n", server.Port());
        std::fflush(stdout);
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 0;
}
