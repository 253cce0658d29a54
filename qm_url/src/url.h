// URLs as the fetch and the scanner read them: schemes, a page's URL taken apart, references
// resolved against it, and the same-site rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "qm_url.h"

namespace qm {

// The schemes the fetch speaks. A reference in any other is not ours to fetch or rename.
constexpr const char* kFetchableSchemes[] = {"http", "https"};

// How a reference reads once its scheme is looked at.
enum class ReferenceScheme {
    kFetchable,  // a URL in a scheme we fetch, absolute or relative to the page
    kOther,      // mailto:, javascript:, data:, ... : not ours to fetch or rename
};

ReferenceScheme SchemeOf(const char* reference, size_t length);

// A page URL taken apart once, for resolving many references against it.
struct BaseUrl {
    char scheme[8] = {};  // lower case, without ':'
    std::string authority;
    std::string path;    // begins with '/' unless empty
    std::string folder;  // scheme, "://", authority and the path up to its last '/'
    std::string root;    // scheme, "://" and authority
    // The length of `folder` once n ".." segments are applied to it, for the n that
    // ParseBase worked out; -1 for a folder that is not plain (one with "." or ".."
    // segments, or characters to encode), where that is left to ResolveUrl's general way.
    int32_t upFolders[4] = {-1, -1, -1, -1};
    bool ok = false;
};
// False when `url` is no URL in a fetchable scheme (a URL without a scheme is taken as http).
bool ParseBase(const char* url, BaseUrl* base);

// Resolves `reference` (no fragment, entities already undone) against `base`. `url`
// receives the absolute URL, NUL-terminated, with a lower-case scheme; blanks, control
// characters, quotes, angle brackets and bytes above 127 in its path and query are
// %-encoded, and tabs and line ends dropped, as a browser does. Returns its length, or 0
// when no URL of fewer than URL_TEXT_SIZE characters in a fetchable scheme results.
size_t ResolveUrl(const BaseUrl& base, const char* reference, size_t length,
                  char (&url)[URL_TEXT_SIZE]);
// The same against a page URL given as text.
bool ResolveUrl(const char* base, const char* reference, size_t length, char (&url)[URL_TEXT_SIZE]);

// The same-site rule: an item is on a page's site when it has the page's host, whatever its
// scheme and port (a site that moved to https links its http addresses too). The host of a
// parsed page, without its port.
std::string SiteHostOf(const BaseUrl& page);
// Whether `url`, `n` characters as ResolveUrl makes it, is on the site of `host`, as
// SiteHostOf gave it.
bool IsOnSite(const char* url, size_t n, std::string_view host);

// The dots of a "." or ".." path segment, also spelled with "%2e"; 0 for any other segment.
int DotSegmentDots(const char* segment, size_t n);

}  // namespace qm
