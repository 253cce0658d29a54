// gui_screenshots: opens the program's windows one after another and writes a picture of
// each (24-bit BMP) into the folder given as its argument. scripts/screenshots.sh runs it
// under Wine and Xvfb and turns the pictures into the PNG files of docs/.
#include <windows.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "driver.h"
#include "test_server.h"

using namespace gui;

namespace {

std::wstring g_out;

// Copies window from the screen, once it has painted, into name.bmp; the window.
HWND Shoot(HWND window, const wchar_t* name) {
    if (!window) throw std::runtime_error("no window for " + Narrow(name));
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(300);
    RECT r;
    GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info = {sizeof(info), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    std::string pixels(static_cast<size_t>((width * 3 + 3) & ~3) * height, '\0');
    GetDIBits(memory, bitmap, 0, height, &pixels[0], reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof(info);
    const BITMAPFILEHEADER file = {0x4D42, offset + static_cast<DWORD>(pixels.size()), 0, 0,
                                   offset};
    WriteFile(g_out + L"\\" + name + L".bmp",
              std::string(reinterpret_cast<const char*>(&file), sizeof(file)) +
                  std::string(reinterpret_cast<const char*>(&info), sizeof(info)) + pixels);
    return window;
}

void ShootAll() {
    qmtest::SiteServer site;
    site.AddStalled("/slow.html", "<html><img src=\"a.gif\"></html>", 10, -1);
    ScratchFolder pictures(L"screenshots");
    App app;
    Shoot(app.main(), L"main-window");
    Click(app.main(), IDC_ABOUT);
    Click(Shoot(app.WaitFor(Titled(L"About")), L"about"), IDOK);
    app.WaitIdle();

    SetItemText(app.main(), IDC_URL, Wide(site.Url("/slow.html")));
    Click(app.main(), IDC_SAVE_MULTIPLE);
    Click(Shoot(app.WaitFor(Titled(L"Save Multiple Pages")), L"save-multiple-pages"), IDCANCEL);
    app.WaitIdle();
    // The page save's progress, while the page is slow to come.
    Click(app.main(), IDC_SAVE_PAGE);
    HWND dialog = Shoot(app.WaitFor(Titled(L"Save This Page")), L"save-this-page");
    SetItemText(dialog, IDC_SAVE_PATH, pictures / L"page.html");
    Click(dialog, IDOK);
    HWND progress = app.WaitFor(Holding(IDC_STATUS));
    WaitUntil([&] { return ItemText(progress, IDC_STATUS) == L"Saving,please wait..."; });
    Click(Shoot(progress, L"waiting"), IDOK);
    app.TakeMessageBox();

    Click(app.main(), IDC_SAVE_IMAGES);
    Shoot(app.WaitFor(Titled(kFolderCaption)), L"folder-browser");
    if (!app.PickFolder(pictures.path())) throw std::runtime_error("no folder picked");
    progress = app.WaitFor(Holding(IDC_PICTURE_COUNT));
    WaitUntil([&] { return ItemText(progress, IDC_STATUS) == L"Saving,please wait.."; });
    Click(Shoot(progress, L"savingpic"), IDOK);
    app.TakeMessageBox();

    SetItemText(app.main(), IDC_URL, L"https://example.org/");
    Click(app.main(), IDC_SAVE_PAGE);
    Click(Shoot(app.WaitFor(IsMessageBox), L"https-refused"), IDOK);
    app.WaitIdle();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: gui_screenshots OUTPUT-FOLDER\n", stderr);
        return 2;
    }
    g_out = argv[1];
    try {
        ShootAll();
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gui_screenshots: %s\n", e.what());
        return 1;
    }
}
