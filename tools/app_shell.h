// Whether a page as it was fetched is only the shell of an application that its scripts build:
// such a page is saved as the browser shows it.
#pragma once

#include <cstddef>

namespace qmsave {

// True for a page with a script and little text to read (outside scripts, styles, templates
// and the title) whose body either begins with an empty element that has an id or is a custom
// element (the root the application fills), or has a <noscript> that asks for JavaScript and
// no link to follow instead.
// One pass over the text.
bool LooksLikeAppShell(const char* text, size_t length);

}  // namespace qmsave
