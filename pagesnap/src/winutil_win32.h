// Small Windows helpers shared by the renderer's parts: text conversion, files.
#pragma once

#include <windows.h>

#include <string>

#include "clock.h"

namespace pagesnap {

std::wstring AnsiToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
std::string AnsiToUtf8(const std::string& text);

bool FileExists(const std::string& path);
// At most `limit` bytes of a file; false when it cannot be opened.
bool ReadFilePrefix(const std::string& path, std::size_t limit, std::string* text);
// The last `lines` lines of a text file, for quoting a tool's own output in a log.
std::string TailOfFile(const std::string& path, int lines);

// Deletes a folder with everything in it. Links inside are removed, never followed, so
// nothing outside the folder can be reached through them.
bool RemoveTree(const std::string& folder);

// The folder of the running program, with a trailing backslash.
std::string ProgramFolder();
// The user's temporary folder, with a trailing backslash.
std::string TempFolder();

std::string LastErrorText(DWORD error);

}  // namespace pagesnap
