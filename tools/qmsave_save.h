// The saving verbs of qmsave: page, pages and pictures.
#pragma once

#include "qmsave_cookies.h"

// The help's lines for the saving verbs, and its paragraph on them (string literals, to be
// joined into the help text).
#define QMSAVE_SAVE_HELP                                                                      \
  "  qmsave page URL FILE [--complete] [--single-file] " QMSAVE_COOKIES_HELP                  \
  "\n"                                                                                        \
  "                               save the page, its frames and style sheets (and with\n"     \
  "                               --complete its pictures) in the site's folders beside\n"    \
  "                               FILE, which opens the saved page; with --single-file\n"     \
  "                               all of it inside FILE, as one file\n"                       \
  "  qmsave pages URL FILE [--complete] [--other-sites] [--single-file] " QMSAVE_COOKIES_HELP \
  "\n"                                                                                        \
  "                               the same, and every page it links to, one level deep\n"     \
  "                               (on other sites too with --other-sites); with\n"            \
  "                               --single-file each page is one file of its own\n"           \
  "  qmsave pictures URL FOLDER " QMSAVE_COOKIES_HELP                                         \
  "\n"                                                                                        \
  "                               save every picture of the page flat into FOLDER\n"
#define QMSAVE_SAVE_NOTES                                                                    \
  "page and pages replace FILE and write everything else beside it, in folders named\n"      \
  "after each item's address; pictures only adds to FOLDER and never replaces a file\n"      \
  "there. A line on standard error reports each item as it is fetched, and the reason of\n"  \
  "each that fails; Ctrl+C stops the save and leaves no half-written file. A save takes\n"   \
  "at most 131072 items and 4 GiB, and follows frames in frames, style sheets imported by\n" \
  "style sheets and the like 8 levels deep; what it leaves out keeps its address online.\n"  \
  "\n"

namespace qmsave {

// True when `verb` is one of the saving verbs.
bool IsSaveVerb(const char* verb);

// Runs the saving verb with the arguments that follow it; returns the exit status.
int Save(const char* verb, int argc, char** argv);

}  // namespace qmsave
