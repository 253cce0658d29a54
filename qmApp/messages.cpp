#include "messages.h"

#include <string>

void ShowMessage(HWND owner, const char* text, const char* caption) {
    MessageBoxA(owner, text, caption, MB_OK);
}

void ShowMessage(HWND owner, const wchar_t* text, const char* caption) {
    std::wstring wideCaption;
    for (const char* c = caption; *c; ++c) wideCaption += static_cast<wchar_t>(*c);
    MessageBoxW(owner, text, wideCaption.c_str(), MB_OK);
}
