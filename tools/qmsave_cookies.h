// --cookies FILE and --save-cookies FILE, which every verb takes: the jar the fetches of a
// run share, filled from a cookies file before and written to one after.
#pragma once

#include <string>

#include "qm_url.h"

// The help's lines on the cookie options (string literals, to be joined into the help text).
#define QMSAVE_COOKIES_HELP "[--cookies FILE] [--save-cookies FILE]"
#define QMSAVE_COOKIES_NOTES                                                                  \
  "Cookies a site sets are sent back, as a browser sends them, for the rest of the run.\n"    \
  "--cookies FILE sends those of FILE too, a Netscape cookies.txt as curl -c and browsers'\n" \
  "export add-ons write it; a line that holds no cookie is reported and skipped.\n"           \
  "--save-cookies FILE writes every cookie of the run at its end in the same format,\n"       \
  "session cookies included (expiry 0).\n"                                                    \
  "\n"

namespace qmsave {

class CookieFiles {
public:
    CookieFiles() = default;
    ~CookieFiles();
    CookieFiles(const CookieFiles&) = delete;
    CookieFiles& operator=(const CookieFiles&) = delete;

    // True when argv[*i] is --cookies or --save-cookies: takes it and the file name after it
    // (*i moves past both). `problem` tells when the name is missing.
    bool TakeOption(int argc, char** argv, int* i, std::string* problem);

    // Makes the jar and reads the --cookies file into it, reporting each line skipped. False,
    // with the reason on standard error, when there is no memory or the file cannot be read.
    bool Open();
    CookieJar* jar() const { return jar_; }

    // Writes the jar to the --save-cookies file, when one was named. False, with the reason
    // on standard error, when it cannot be written.
    bool Close();

private:
    const char* load_ = nullptr;
    const char* save_ = nullptr;
    CookieJar* jar_ = nullptr;
};

}  // namespace qmsave
