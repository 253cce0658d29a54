// The system's file and folder pickers, giving paths in the ANSI code page the library
// works in.
#pragma once

#include <windows.h>

#include <string>

struct SaveAsRequest {
    const char* defaultName = nullptr;    // offered in the name field; null: empty
    const wchar_t* filterName = nullptr;  // one file type, e.g. L"*.html"; null: none
    const wchar_t* filterPattern = nullptr;
    bool overwritePrompt = false;  // ask before an existing file is chosen
};

enum class PickResult {
    kChosen,
    kCancelled,
    kUnusable,  // the user picked a path this program cannot hold (message already shown)
};

// The system's Save As dialog (the newer style where the system has it), owned by owner.
PickResult AskSavePath(HWND owner, const SaveAsRequest& request, std::string* path);

// The shell's folder browser. An empty result: cancelled, or no file-system folder chosen.
std::string AskFolder(HWND owner, const char* title);
