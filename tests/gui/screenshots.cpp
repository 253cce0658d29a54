// gui_screenshots: opens the program's windows one after another and writes a picture of
// each (24-bit BMP) into the folder given as its argument. scripts/screenshots.sh runs it
// under Wine and Xvfb and turns the pictures into the PNG files of docs/.
#include <windows.h>

#include <cstdio>
#include <string>

#include "driver.h"
#include "gui_ids.h"
#include "test_server.h"

using namespace gui;

namespace {

void SaveWindowPicture(HWND window, const std::wstring& path) {
    // Let the window finish painting before it is copied from the screen.
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

    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    std::string pixels(static_cast<size_t>((width * 3 + 3) & ~3) * height, '\0');
    GetDIBits(memory, bitmap, 0, height, &pixels[0], reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    WriteFile(path, std::string(reinterpret_cast<const char*>(&file), sizeof(file)) +
                        std::string(reinterpret_cast<const char*>(&info), sizeof(info)) + pixels);
}

int Shoot(const std::wstring& out) {
    qmtest::SiteServer site;
    site.AddStalled("/slow.html", "<html><img src=\"a.gif\"></html>", 10, -1);
    ScratchFolder pictures(L"screenshots");
    App app;
    // Pictures window as name.bmp; false when the window did not appear.
    auto shoot = [&](HWND window, const wchar_t* name) {
        if (window) SaveWindowPicture(window, out + L"\\" + name + L".bmp");
        return window != nullptr;
    };
    shoot(app.main(), L"main-window");

    Click(app.main(), kAbout);
    HWND about = app.WaitFor(Titled(L"About"));
    if (!shoot(about, L"about")) return 1;
    Click(about, IDOK);
    app.WaitIdle();

    SetItemText(app.main(), kUrl, Wide(site.Url("/slow.html")));
    const struct {
        int command;
        const wchar_t* caption;
        const wchar_t* picture;
    } options[] = {{kSavePage, L"Save This Page", L"save-this-page"},
                   {kSaveMultiple, L"Save Multiple Pages", L"save-multiple-pages"}};
    for (const auto& o : options) {
        Click(app.main(), o.command);
        HWND dialog = app.WaitFor(Titled(o.caption));
        if (!shoot(dialog, o.picture)) return 1;
        Click(dialog, IDCANCEL);
        app.WaitIdle();
    }

    // The page save's progress, while the page is slow to come.
    Click(app.main(), kSavePage);
    HWND dialog = app.WaitFor(Titled(L"Save This Page"));
    if (!dialog) return 1;
    SetItemText(dialog, kSavePath, pictures / L"page.html");
    Click(dialog, IDOK);
    HWND progress = app.WaitFor(Holding(kStatus));
    if (!progress) return 1;
    WaitUntil([&] { return ItemText(progress, kStatus) == L"Saving,please wait..."; });
    shoot(progress, L"waiting");
    Click(progress, IDOK);
    app.TakeMessageBox();

    // The picture save's progress.
    Click(app.main(), kSaveImages);
    if (!shoot(app.WaitFor(Titled(kFolderCaption)), L"folder-browser")) return 1;
    if (!app.PickFolder(pictures.path())) return 1;
    progress = app.WaitFor(Holding(kPictureCount));
    if (!progress) return 1;
    WaitUntil([&] { return ItemText(progress, kStatus) == L"Saving,please wait.."; });
    shoot(progress, L"savingpic");
    Click(progress, IDOK);
    app.TakeMessageBox();

    SetItemText(app.main(), kUrl, L"https://example.org/");
    Click(app.main(), kSavePage);
    HWND refusal = app.WaitFor(IsMessageBox);
    if (!shoot(refusal, L"https-refused")) return 1;
    Click(refusal, IDOK);
    app.WaitIdle();
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: gui_screenshots OUTPUT-FOLDER\n", stderr);
        return 2;
    }
    try {
        return Shoot(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gui_screenshots: %s\n", e.what());
        return 1;
    }
}
