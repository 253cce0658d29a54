// The main window: the URL box, the four save commands, About, Exit and the browser panel.
#pragma once

#include <windows.h>

#include <cstdint>

#include "color_scheme.h"
#include "explorer.h"
#include "ui/dialog.h"

class CqmAppDlg : public CDialog {
public:
    CqmAppDlg();

    HICON m_hIcon;
    HANDLE m_hPagesnapMapping;  // the renderer's shared block
    HWND m_hPagesnapWnd;        // the renderer's top-level window, looked up per job
    HWND m_hPagesnapChild;      // the renderer's child window that takes the click
    CExplorer1 m_browser;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    // Enter in the main window starts nothing and closes nothing.
    void OnOK() override {}
    ui::Routes GetRoutes() const override;

private:
    static const ui::Route kRoutes[];

    INT_PTR OnPaint(WPARAM, LPARAM);
    INT_PTR OnQueryDragIcon(WPARAM, LPARAM);
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind);
    void OnExit();
    void OnAbout();

    // The save commands.
    void OnSavePage();
    void OnSaveMultiplePages();
    void OnSaveImages();
    // Reads the URL box into g_szPageUrl; false (after telling the user) when the command
    // must not go on: an empty box, or with kRefuseHttps one of the refused https spellings.
    enum UrlCheck { kRefuseHttps, kAnyScheme };
    bool ReadPageUrl(UrlCheck check);
    void ReportOutcome(const char* errorText);
    // The two page commands differ only in their option dialog and how they spell an error.
    template <class OptionsDialog>
    void SaveThrough(const char* errorText);

    // The renderer bridge.
    void StartPagesnap();
    void OnSavePageAsImage();
    int32_t KillPagesnap();
    int32_t EnableDebugPrivilege();

    ColorScheme m_colors;
};
