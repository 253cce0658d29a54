// qmsave: the command-line front end of qm_url.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

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
    "  qmsave fetch URL [-L] [-o FILE] " QMSAVE_COOKIES_HELP
    "\n"
    "                               fetch one URL over HTTP and write its body to standard\n"
    "                               output, or to FILE; -L follows redirects\n" QMSAVE_SAVE_HELP
    "  qmsave --help                show this help\n"
    "\n"
    "fetch sends one GET request and waits for the whole response (at most 10 MiB); a gzip\n"
    "or deflate body is decoded, a chunked one joined. Without -L a redirect's own body is\n"
    "what you get; with -L up to 5 redirects are followed. A status other than 2xx (or 3xx\n"
    "without -L) fails. FILE is written only when the fetch succeeds.\n"
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

bool WriteAll(FILE* to, const char* data, size_t length) {
    return std::fwrite(data, 1, length, to) == length && std::fflush(to) == 0;
}

int Fetch(int argc, char** argv) {
    const char* url = nullptr;
    const char* outPath = nullptr;
    bool follow = false;
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

    // Left uninitialised: only the first `length` bytes are ever read.
    std::unique_ptr<char[]> body(new (std::nothrow) char[FETCH_BUFFER_SIZE]);
    if (!body) {
        std::fprintf(stderr, "qmsave: out of memory\n");
        return 1;
    }
    if (!cookies.Open()) return 2;
    UrlRequest request{};
    request.url = url;
    int32_t length = 0;
    qmsave::StopOnInterrupt();
    qm_SetFailureCallback(ReportFetchFailure);
    int32_t fetched =
        qm_UrlToHtmlWithCookies(&request, body.get(), &length, follow ? 1 : 0, cookies.jar());
    if (!cookies.Close() || fetched == 0) return 1;

    if (outPath == nullptr) {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        if (!WriteAll(stdout, body.get(), static_cast<size_t>(length))) {
            std::fprintf(stderr, "qmsave: could not write the body to standard output\n");
            return 1;
        }
        return 0;
    }
    FILE* file = std::fopen(outPath, "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "qmsave: could not open %s for writing\n", outPath);
        return 1;
    }
    bool written = WriteAll(file, body.get(), static_cast<size_t>(length));
    if (std::fclose(file) != 0 || !written) {
        std::remove(outPath);
        std::fprintf(stderr, "qmsave: could not write %s\n", outPath);
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
