#include "qmsave_cookies.h"

#include <cstdio>
#include <cstring>

namespace qmsave {
namespace {

// The file being read, for the lines about it.
const char* g_reading = "";

void QM_CALLBACK ReportSkippedLine(int32_t line, const char* reason) {
    std::fprintf(stderr, "qmsave: %s line %d skipped: %s\n", g_reading, static_cast<int>(line),
                 reason);
}

}  // namespace

CookieFiles::~CookieFiles() { qm_FreeCookieJar(jar_); }

bool CookieFiles::TakeOption(int argc, char** argv, int* i, std::string* problem) {
    const char* option = argv[*i];
    const bool load = std::strcmp(option, "--cookies") == 0;
    if (!load && std::strcmp(option, "--save-cookies") != 0) return false;
    if (*i + 1 >= argc || argv[*i + 1][0] == '\0') {
        *problem = std::string(option) + " needs a file name";
        return true;
    }
    (load ? load_ : save_) = argv[++*i];
    return true;
}

bool CookieFiles::Open() {
    jar_ = qm_NewCookieJar();
    if (jar_ == nullptr) {
        std::fprintf(stderr, "qmsave: out of memory\n");
        return false;
    }
    if (load_ == nullptr) return true;
    g_reading = load_;
    if (qm_ReadCookiesFile(jar_, load_, ReportSkippedLine) == 0) {
        std::fprintf(stderr, "qmsave: could not read the cookies file %s\n", load_);
        return false;
    }
    return true;
}

bool CookieFiles::Close() {
    if (save_ == nullptr || jar_ == nullptr) return true;
    if (qm_WriteCookiesFile(jar_, save_) != 0) return true;
    std::fprintf(stderr, "qmsave: could not write the cookies to %s\n", save_);
    return false;
}

}  // namespace qmsave
