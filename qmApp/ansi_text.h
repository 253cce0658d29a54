// Text in the system's ANSI code page, the form the library and the program's own texts
// have, to and from the wide form of the system's newer interfaces.
#pragma once

#include <string>

std::wstring ToWide(const char* text);

// False where a character has no ANSI form: a path would then name another file than the
// one the user chose.
bool ToAnsi(const wchar_t* wide, std::string* out);
