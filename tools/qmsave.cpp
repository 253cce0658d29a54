// qmsave: the command-line front end of qm_url.
#include <cstdio>
#include <cstring>

#include "qm_url.h"

namespace {

const char kHelp[] =
    "qmsave - save web pages for reading offline\n"
    "\n"
    "Usage:\n"
    "  qmsave fetch URL [-o FILE]   fetch one URL over HTTP and write its body to standard\n"
    "                               output, or to FILE\n"
    "  qmsave --help                show this help\n"
    "\n"
    "URLs are plain HTTP (http://host[:port]/path); https is not supported.\n"
    "Exit status: 0 on success, 1 when the fetch or save failed, 2 on a usage error.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kHelp, stdout);
        return argc < 2 ? 2 : 0;
    }
    std::fprintf(stderr, "qmsave: unknown command '%s' (try qmsave --help)\n", argv[1]);
    return 2;
}
