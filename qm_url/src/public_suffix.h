// Public suffixes: the names under which anyone may register a domain of their own ("com",
// "co.uk", "github.io"), for which no site may set a cookie. The list built in holds every
// top-level name and the common suffixes below them; it is not the full Public Suffix List.
#pragma once

#include <string_view>

namespace qm {

// True when `domain` (lower case, without a leading or trailing dot) is a public suffix:
// a name of one label, or one of the built-in list.
bool IsPublicSuffix(std::string_view domain);

}  // namespace qm
