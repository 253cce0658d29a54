// The saving verbs of qmsave: page, pages and pictures.
#pragma once

#include "qmsave_cookies.h"

// The help's lines for the saving verbs, and its paragraph on them (string literals, to be
// joined into the help text).
#define QMSAVE_SAVE_HELP                                                                      \
  "  qmsave page URL FILE [--complete] [--single-file] [--warc ARCHIVE] " QMSAVE_COOKIES_HELP \
  "\n"                                                                                        \
  "               [--rendered[=auto] | --static] [--wait-limit SECONDS] [--keep-scripts]\n"   \
  "                               save the page, its frames and style sheets (and with\n"     \
  "                               --complete its pictures) in the site's folders beside\n"    \
  "                               FILE, which opens the saved page; with --single-file\n"     \
  "                               all of it inside FILE, as one file\n"                       \
  "  qmsave pages URL FILE [--complete] [--other-sites] [--single-file] [--warc "             \
  "ARCHIVE] " QMSAVE_COOKIES_HELP                                                             \
  "\n"                                                                                        \
  "               [--rendered[=auto] | --static] [--wait-limit SECONDS] [--keep-scripts]\n"   \
  "                               the same, and every page it links to, one level deep\n"     \
  "                               (on other sites too with --other-sites); with\n"            \
  "                               --single-file each page is one file of its own\n"           \
  "  qmsave pictures URL FOLDER [--warc ARCHIVE] " QMSAVE_COOKIES_HELP                        \
  "\n"                                                                                        \
  "                               save every picture of the page flat into FOLDER\n"
#define QMSAVE_SAVE_NOTES                                                                     \
  "page and pages replace FILE and write everything else beside it, in folders named\n"       \
  "after each item's address; pictures only adds to FOLDER and never replaces a file\n"       \
  "there. Saving again into the same folder fetches the pages anew and asks the server\n"     \
  "whether each other file saved there changed. A line on standard error reports each\n"      \
  "item as it is fetched, and the reason of each that fails; Ctrl+C stops the save and\n"     \
  "leaves no half-written file. A save takes at most 131072 items and 4 GiB, and follows\n"   \
  "frames in frames, style sheets imported by style sheets and the like 8 levels deep;\n"     \
  "what it leaves out keeps its address online. --warc ARCHIVE also records every\n"          \
  "request and response of the save, as it went over the network, in a web archive\n"         \
  "(WARC, gzip'd: name it .warc.gz), written when the save ends.\n"                           \
  "A page that is only the shell of an application its scripts build (little text, and an\n"  \
  "empty root element or a <noscript> asking for JavaScript) is saved as headless Chromium\n" \
  "shows it once its scripts are done (--rendered=auto, where a browser is found: Chromium\n"  \
  "at /usr/bin/chromium, on Windows the one Pagesnap uses);\n"                                \
  "--rendered renders every page, --static none. Its line says \"rendered\" and what ended\n" \
  "the wait: \"quiet\" (loaded, no request for 500 ms, no change for 300 ms) or \"wait\n"     \
  "limit\" (--wait-limit, 20 seconds unless given). What the browser received is saved\n"     \
  "without being fetched again; scripts, on... handlers and javascript: addresses are left\n" \
  "out of a rendered page unless --keep-scripts.\n"                                           \
  "\n"

namespace qmsave {

// True when `verb` is one of the saving verbs.
bool IsSaveVerb(const char* verb);

// Runs the saving verb with the arguments that follow it; returns the exit status.
int Save(const char* verb, int argc, char** argv);

}  // namespace qmsave
