// The ids and texts the tests look for, as the program's resources and messages define them.
#pragma once

#include "driver.h"

namespace gui {

constexpr int kUrl = 1002;
constexpr int kAbout = 1000;
constexpr int kSavePage = 1003;
constexpr int kSaveMultiple = 1004;
constexpr int kSaveImages = 1005;
constexpr int kSaveAsImage = 1006;
constexpr int kSavePath = 1002;
constexpr int kBrowse = 1007;
constexpr int kWordsOnly = 1008;
constexpr int kComplete = 1009;
constexpr int kStatus = 1011;
constexpr int kPictureCount = 1012;

constexpr wchar_t kErrorCaption[] = L"Error Message";
const Box kEnterUrl{kErrorCaption, L"Please Enter the URL"};
const Box kEnterSavePath{kErrorCaption, L"Please Enter the Save Path"};
const Box kHttpsRefused{
    kErrorCaption,
    L"Sorry, this function doesn\u2019t support the page of the link with \"https\".\n"
    L"If you want to save this kind of page, you can use \"Save the Page as An Image\"."};
// Outcomes have a blank caption.
const Box kCompleted{L"", L"Have Completed"};
const Box kStopped{L"", L"Have Stopped"};

}  // namespace gui
