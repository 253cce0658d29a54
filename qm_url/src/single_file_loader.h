// What a single file holds for the files its page's scripts load by names they make at run
// time ('navtreeindex' + i + '.js'): a script written before the page's first one, with those
// files as data: URLs under their names read against the page. It hands them over where a
// script sets an element's src or href, opens a request or fetches, and where markup a
// script writes names them.
#pragma once

#include <string>

namespace qm {

// The loader's text before its table of names and data: URLs, and after it. Each entry of
// the table is `"name","data:..."` and entries are separated by commas.
const char* LoaderStart();
const char* LoaderEnd();

// `address`, as a script names it, as it stands in the loader's table: every byte that may
// not stand in a script's string as it is, or is no plain part of an address, %-escaped.
std::string LoaderName(const std::string& address);

}  // namespace qm
