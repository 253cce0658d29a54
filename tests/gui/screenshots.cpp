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

bool SaveWindowPicture(HWND window, const std::wstring& path) {
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

    BITMAPINFOHEADER info = {};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    const int stride = (width * 3 + 3) & ~3;
    std::string pixels(static_cast<size_t>(stride) * height, '\0');
    GetDIBits(memory, bitmap, 0, height, &pixels[0], reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof(file));
    bytes.append(reinterpret_cast<const char*>(&info), sizeof(info));
    bytes += pixels;
    WriteFile(path, bytes);
    return true;
}

HWND DialogWith(const App& app, int id) {
    HWND found = nullptr;
    WaitUntil([&] {
        for (HWND window : app.TopWindows()) {
            if (GetDlgItem(window, id)) return (found = window) != nullptr;
        }
        return false;
    });
    return found;
}

int Shoot(const std::wstring& out) {
    qmtest::SiteServer site;
    site.AddStalled("/slow.html", "<html><img src=\"a.gif\"></html>", 10, -1);
    const std::wstring slowUrl = [&] {
        const std::string url = site.Url("/slow.html");
        return std::wstring(url.begin(), url.end());
    }();
    App app;
    SaveWindowPicture(app.main(), out + L"\\main-window.bmp");

    Click(app.main(), kAbout);
    HWND about = app.WaitForTop(L"About");
    if (!about) return 1;
    SaveWindowPicture(about, out + L"\\about.bmp");
    Click(about, IDOK);
    app.WaitIdle();

    SetItemText(app.main(), kUrl, slowUrl);
    const struct {
        int command;
        const wchar_t* caption;
        const wchar_t* picture;
    } options[] = {{kSavePage, L"Save This Page", L"save-this-page.bmp"},
                   {kSaveMultiple, L"Save Multiple Pages", L"save-multiple-pages.bmp"}};
    for (const auto& o : options) {
        Click(app.main(), o.command);
        HWND dialog = app.WaitForTop(o.caption);
        if (!dialog) return 1;
        SaveWindowPicture(dialog, out + L"\\" + o.picture);
        Click(dialog, IDCANCEL);
        app.WaitIdle();
    }

    // The page save's progress, while the page is slow to come.
    Click(app.main(), kSavePage);
    HWND dialog = app.WaitForTop(L"Save This Page");
    if (!dialog) return 1;
    SetItemText(dialog, kSavePath, out + L"\\page.html");
    Click(dialog, IDOK);
    HWND progress = DialogWith(app, kStatus);
    if (!progress) return 1;
    WaitUntil([&] { return ItemText(progress, kStatus) == L"Saving,please wait..."; });
    SaveWindowPicture(progress, out + L"\\waiting.bmp");
    Click(progress, IDOK);
    app.TakeMessageBox();

    // The picture save's progress.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    Click(app.main(), kSaveImages);
    HWND browser = app.WaitForTop(kFolderCaption);
    if (!browser) return 1;
    SaveWindowPicture(browser, out + L"\\folder-browser.bmp");
    std::wstring folder(temp);
    if (folder.back() == L'\\') folder.pop_back();
    const std::wstring leaf = folder.substr(folder.find_last_of(L'\\') + 1);
    if (!WaitUntil([&] {
            return app.SelectFolder(browser, folder) && ItemText(browser, kFolderEdit) == leaf;
        })) {
        return 1;
    }
    Click(browser, IDOK);
    progress = DialogWith(app, kPictureCount);
    if (!progress) return 1;
    WaitUntil([&] { return ItemText(progress, kStatus) == L"Saving,please wait.."; });
    SaveWindowPicture(progress, out + L"\\savingpic.bmp");
    Click(progress, IDOK);
    const App::Box box = app.TakeMessageBox();
    (void)box;

    SetItemText(app.main(), kUrl, L"https://example.org/");
    Click(app.main(), kSavePage);
    HWND refusal = app.WaitForMessageBox();
    if (!refusal) return 1;
    SaveWindowPicture(refusal, out + L"\\https-refused.bmp");
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
