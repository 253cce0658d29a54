// The ids and texts the tests look for, as the program's resources define them.
#pragma once

namespace gui {

constexpr int kUrl = 1002;
constexpr int kAbout = 1000;
constexpr int kSavePage = 1003;
constexpr int kSaveMultiple = 1004;
constexpr int kSaveImages = 1005;
constexpr int kSavePath = 1002;
constexpr int kBrowse = 1007;
constexpr int kWordsOnly = 1008;
constexpr int kComplete = 1009;
constexpr int kStatus = 1011;
constexpr int kPictureCount = 1012;

// Wine's Save As dialog and folder browser.
constexpr int kFileNameEdit = 1152;
constexpr int kFolderEdit = 14149;
constexpr wchar_t kSaveAsCaption[] = L"Save";
constexpr wchar_t kFolderCaption[] = L"Browse for Folder";

constexpr wchar_t kErrorCaption[] = L"Error Message";
constexpr wchar_t kEnterUrl[] = L"Please Enter the URL";
constexpr wchar_t kHttpsRefused[] =
    L"Sorry, this function doesn\u2019t support the page of the link with \"https\".\n"
    L"If you want to save this kind of page, you can use \"Save the Page as An Image\".";

}  // namespace gui
