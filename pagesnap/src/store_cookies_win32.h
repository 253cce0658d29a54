// The system's Internet cookie store (WinINet's, the one the desktop program's saves send
// from) as a job reads and writes it for its page.
#pragma once

#include <string>
#include <vector>

#include "browser_cookies.h"

namespace pagesnap {

// The store's cookies for `url` (text in the ANSI code page, as the job gives it), with
// their names and values in UTF-8 as the browser takes them. HttpOnly ones are included
// where the store gives them out, and marked so.
std::vector<StoreCookie> ReadStoreCookies(const std::string& url);

// Puts each cookie into the store for `url`: a session cookie as one, a persistent one with
// its expiry, an HttpOnly one still HttpOnly. A cookie the ANSI code page cannot spell is
// left out. Returns how many the store took.
int WriteStoreCookies(const std::string& url, const std::vector<BrowserCookie>& cookies);

}  // namespace pagesnap
