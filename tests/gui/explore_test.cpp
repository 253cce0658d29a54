#include <gtest/gtest.h>
#include <cstdio>
#include "driver.h"
using namespace gui;
static void Dump(HWND w, int depth) {
    wchar_t cls[128]; GetClassNameW(w, cls, 128);
    RECT r; GetWindowRect(w, &r);
    fwprintf(stderr, L"%*ls%p id=%d cls=%ls text='%ls' vis=%d rect=%ld,%ld,%ld,%ld\n", depth*2, L"", (void*)w, GetDlgCtrlID(w), cls, Text(w).c_str(), IsWindowVisible(w), r.left, r.top, r.right, r.bottom);
    for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) Dump(c, depth+1);
}
TEST(Explore, SaveAs) {
    App app;
    SetItemText(app.main(), 1002, L"http://127.0.0.1:1/");
    Click(app.main(), 1003);
    HWND opt = app.WaitForTop(L"Save This Page");
    ASSERT_TRUE(opt);
    Click(opt, 1007);
    Sleep(4000);
    for (HWND w : app.TopWindows()) Dump(w, 0);
}
TEST(Explore, Folder) {
    App app;
    SetItemText(app.main(), 1002, L"http://127.0.0.1:1/");
    Click(app.main(), 1005);
    Sleep(4000);
    for (HWND w : app.TopWindows()) Dump(w, 0);
}
