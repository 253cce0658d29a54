#include "messages.h"

#include "ansi_text.h"

void ShowMessage(HWND owner, const char* text, const char* caption) {
    MessageBoxA(owner, text, caption, MB_OK);
}

void ShowMessage(HWND owner, const wchar_t* text, const char* caption) {
    MessageBoxW(owner, text, ToWide(caption).c_str(), MB_OK);
}
