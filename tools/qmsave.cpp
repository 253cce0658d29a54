// qmsave: the command-line front end of qm_url.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "interrupt.h"
#include "qm_url.h"
#include "qmsave_cookies.h"
#include "qmsave_save.h"

#ifdef _WIN32
#  include <fcntl.h>
#  include <io.h>
#endif

namespace {

const char kHelp[] =
    "qmsave - save web pages for reading offline\n"
    "\n"
    "Usage:\n"
    "  qmsave fetch URL [-L] [-o FILE] [--max-filesize BYTES]\n"
    "                  " QMSAVE_COOKIES_HELP "\n"
    "                               fetch one URL over HTTP and write its body to standard\n"
    "                               output, or to FILE; -L follows redirects\n" QMSAVE_SAVE_HELP
    "  qmsave --help                show this help\n"
    "\n"
    "fetch sends one GET request and waits for the whole response; a gzip or deflate body is\n"
    "decoded, a chunked one joined. Without -L a redirect's own body is what you get; with\n"
    "-L up to 5 redirects are followed. A status other than 2xx (or 3xx without -L) fails,\n"
    "and so does a body larger than --max-filesize (4294967296 bytes, 4 GiB, unless given),\n"
    "coded or decoded. The -o FILE is written only when the whole body is there.\n"
    "\n" QMSAVE_SAVE_NOTES QMSAVE_COOKIES_NOTES
    "URLs are http://host[:port]/path or https://host[:port]/path; an https server's\n"
    "certificate must be trusted by the system and be for that host.\n"
    "Exit status: 0 when everything was saved, 3 when the page was saved but some of its\n"
    "items were not, 1 when nothing was saved (or the fetch failed), 2 on a usage error.\n";

int Usage(const char* problem) {
    std::fprintf(stderr, "qmsave: %s (try qmsave --help)\n", problem);
    return 2;
}

void QM_CALLBACK ReportFetchFailure(int32_t, const PageRecord*, const char* url,
                                    const char* reason) {
    std::fprintf(stderr, "qmsave: could not fetch %s: %s\n", url, reason);
}

// The size limit of a fetch unless --max-filesize gives another.
constexpr int64_t kDefaultMostBytes = 4294967296LL;

// A size in bytes: digits only, and not past what a file may hold.
bool ReadSize(const char* text, int64_t* size) {
    if (*text == '\0') return false;
    int64_t value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || value > (INT64_MAX - 9) / 10) return false;
        value = value * 10 + (*p - '0');
    }
    *size = value;
    return true;
}

// Copies the file at `path` to standard output.
bool CopyToStandardOutput(const std::string& path) {
    FILE* from = std::fopen(path.c_str(), "rb");
    if (from == nullptr) return false;
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    char block[65536];
    size_t n = 0;
    bool ok = true;
    while (ok && (n = std::fread(block, 1, sizeof block, from)) > 0)
        ok = std::fwrite(block, 1, n, stdout) == n;
    ok = ok && std::ferror(from) == 0 && std::fflush(stdout) == 0;
    std::fclose(from);
    return ok;
}

int Fetch(int argc, char** argv) {
    const char* url = nullptr;
    const char* outPath = nullptr;
    bool follow = false;
    int64_t mostBytes = kDefaultMostBytes;
    qmsave::CookieFiles cookies;
    std::string problem;
    for (int i = 0; i < argc; ++i) {
        if (cookies.TakeOption(argc, argv, &i, &problem)) {
            if (!problem.empty()) return Usage(problem.c_str());
        } else if (std::strcmp(argv[i], "-L") == 0) {
            follow = true;
        } else if (std::strcmp(argv[i], "-o") == 0) {
            if (i + 1 >= argc) return Usage("-o needs a file name");
            outPath = argv[++i];
        } else if (std::strcmp(argv[i], "--max-filesize") == 0) {
            if (i + 1 >= argc || !ReadSize(argv[i + 1], &mostBytes))
                return Usage("--max-filesize needs a size in bytes");
            ++i;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return Usage((std::string("unknown option '") + argv[i] + "'").c_str());
        } else if (url == nullptr) {
            url = argv[i];
        } else {
            return Usage("fetch takes one URL");
        }
    }
    if (url == nullptr) return Usage("fetch needs a URL");

    if (!cookies.Open()) return 2;
    UrlRequest request{};
    request.url = url;
    qmsave::StopOnInterrupt();
    qm_SetFailureCallback(ReportFetchFailure);
    if (outPath != nullptr) {
        int32_t fetched = qm_UrlToFile(&request, outPath, mostBytes, follow ? 1 : 0, cookies.jar());
        return cookies.Close() && fetched != 0 ? 0 : 1;
    }

    // Standard output gets the body only once it is whole: it waits in a file till then.
    std::error_code error;
    std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (error) folder = ".";
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::string held =
        (folder / ("qmsave-" + std::to_string(static_cast<unsigned long long>(ticks)) + ".body"))
            .string();
    int32_t fetched = qm_UrlToFile(&request, held.c_str(), mostBytes, follow ? 1 : 0, cookies.jar());
    if (!cookies.Close() || fetched == 0) {
        std::remove(held.c_str());
        return 1;
    }
    bool copied = CopyToStandardOutput(held);
    std::remove(held.c_str());
    if (!copied) {
        std::fprintf(stderr, "qmsave: could not write the body to standard output\n");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kHelp, stdout);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "fetch") == 0) return Fetch(argc - 2, argv + 2);
    if (qmsave::IsSaveVerb(argv[1])) return qmsave::Save(argv[1], argc - 2, argv + 2);
    return Usage((std::string("unknown command '") + argv[1] + "'").c_str());
}
