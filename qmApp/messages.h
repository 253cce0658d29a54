// The texts the program shows, and its two kinds of message box: plain ones with an OK
// button and no icon, captioned "Error Message" for input errors and blank for outcomes.
#pragma once

#include <windows.h>

namespace msg {

constexpr char kErrorCaption[] = "Error Message";
constexpr char kOutcomeCaption[] = "";

constexpr char kEnterUrl[] = "Please Enter the URL";
constexpr char kEnterSavePath[] = "Please Enter the Save Path";
constexpr char kCompleted[] = "Have Completed";
constexpr char kStopped[] = "Have Stopped";
constexpr char kError[] = "error!";
constexpr char kErrorCapital[] = "Error!";
constexpr char kNoThread[] = "Some errors occurred, please exit and re-run!";
constexpr char kPathTooLong[] = "The path is too long. Please choose a shorter path.";
constexpr char kPathNotAnsi[] =
    "The path contains characters this program cannot use. Please choose another path.";

// Shown in the system's wide characters so the apostrophe reads right on any code page.
constexpr wchar_t kHttpsRefused[] =
    L"Sorry, this function doesn\u2019t support the page of the link with \"https\".\n"
    L"If you want to save this kind of page, you can use \"Save the Page as An Image\".";

}  // namespace msg

void ShowMessage(HWND owner, const char* text, const char* caption);
void ShowMessage(HWND owner, const wchar_t* text, const char* caption);
