// The page at the file the caller named when the start page is saved in the site's tree: it
// opens the saved start page at once, and links to it for a reader whose browser does not
// follow a refresh. The start page stays where the site's relative paths expect it.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// The text of the page leading to the start page of `url`, whose local name is `startName`
// (relative to the save folder, which also holds the leading page).
std::string LeadingPageText(std::string_view startName, std::string_view url);

// Writes that page to `path` under a temporary name, renamed into place once whole. False
// when it could not be written.
bool WriteLeadingPage(const char* path, std::string_view startName, std::string_view url);

}  // namespace qm
