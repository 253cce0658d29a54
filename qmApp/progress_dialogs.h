// The progress dialogs. `waiting` and `savingpic` run one library call on a worker thread
// and close on the first tick after it returns; `waitingimage` waits for the renderer's
// picture file. Each leaves the outcome in g_nSaveResult.
//
// Stop asks the library to end its call (it does within 100 ms) and closes the dialog at
// once; the dialog object then waits for its worker before it goes, so the worker never
// outlives what it writes to, and no second call into the library can start before the
// first has returned.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "color_scheme.h"
#include "qm_url.h"
#include "ui/dialog.h"

class waiting : public CDialog {
public:
    waiting();
    ~waiting() override;

    int32_t m_nTickCount;
    char m_szSavePath[512];   // the page file
    int32_t m_nSaveMode;      // 1: this page only, 2: the pages it links to as well
    int32_t m_nContentMode;   // 1: only the words, 2: pictures too
    DWORD m_dwThreadId;
    HANDLE m_hThread;
    std::atomic<int32_t> m_bRunning;  // cleared by the worker after it stored the result

protected:
    BOOL OnInitDialog() override;
    ui::Routes GetRoutes() const override;

private:
    static const ui::Route kRoutes[];
    void OnBnClickedStop();
    void OnTimer(UINT_PTR id);
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind);

    ColorScheme m_colors;
};

class savingpic : public CDialog {
public:
    // The folder must leave room for the "\index.html" the worker appends.
    static constexpr size_t kMaxFolderLength = 500;

    savingpic();
    ~savingpic() override;

    int32_t m_nTickCount;
    char m_szSavePath[512];   // the chosen folder
    DWORD m_dwThreadId;
    HANDLE m_hThread;
    std::atomic<int32_t> m_bRunning;
    int32_t m_nPictureCount;  // shown in the count field, advanced by each report
    std::atomic<HWND> m_hCountWnd;  // where the worker shows the count

protected:
    BOOL OnInitDialog() override;
    ui::Routes GetRoutes() const override;

private:
    static const ui::Route kRoutes[];
    void OnBnClickedStop();
    void OnTimer(UINT_PTR id);
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind);

    ColorScheme m_colors;
};

class waitingimage : public CDialog {
public:
    waitingimage();

    int32_t m_nTickCount;
    char m_szSavePath[512];  // the picture path without its ".jpg"; at most 507 characters

protected:
    BOOL OnInitDialog() override;
    ui::Routes GetRoutes() const override;

private:
    static const ui::Route kRoutes[];
    void OnTimer(UINT_PTR id);
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind);

    ColorScheme m_colors;
};

// The running picture save, for the count callback, which has no context of its own.
extern std::atomic<savingpic*> g_pPictureDlg;

DWORD WINAPI SavePagesThreadProc(LPVOID param);
DWORD WINAPI SavePicturesThreadProc(LPVOID param);
void QM_CALLBACK PictureCountCallback(int32_t recordIndex, const PageRecord* record);
