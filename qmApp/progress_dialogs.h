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
#include "globals.h"
#include "progress.h"
#include "qm_url.h"
#include "res/resource.h"
#include "rules.h"
#include "ui/dialog.h"

DWORD WINAPI SavePagesThreadProc(LPVOID param);
DWORD WINAPI SavePicturesThreadProc(LPVOID param);
void QM_CALLBACK PictureCountCallback(int32_t recordIndex, const PageRecord* record);

// What `waiting` and `savingpic` share: the worker started with the window, the tick that
// closes the dialog once the worker has stored its result, and Stop (also Enter and Esc:
// the dialog must not go while its worker runs unasked). The members it works on are the
// dialog's own.
template <class Dialog, LPTHREAD_START_ROUTINE Worker>
class WorkerDialog : public CDialog {
protected:
    explicit WorkerDialog(UINT templateId) : CDialog(templateId) {}

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        Dialog& d = self();
        d.m_nTickCount = 0;
        d.m_dwThreadId = 0;
        d.m_hThread = nullptr;
        d.m_bRunning = 1;
        d.m_hThread = progress::StartWorker(m_hWnd, Worker, &d, &d.m_dwThreadId);
        SetTimer(m_hWnd, progress::kTimerId, progress::kTickMs, nullptr);
        return TRUE;
    }

    ui::Routes GetRoutes() const override {
        static const ui::Route routes[] = {
            ui::OnCommand<&WorkerDialog::OnBnClickedStop>(IDOK),
            ui::OnCommand<&WorkerDialog::OnBnClickedStop>(IDCANCEL),
            ui::OnTimer<&WorkerDialog::OnTimer>(),
            ui::OnCtlColor<&WorkerDialog::OnCtlColor>(),
        };
        return routes;
    }

private:
    Dialog& self() { return static_cast<Dialog&>(*this); }

    // The worker reads the result before it enters the library, and the library's stop ends
    // the call it is in.
    void OnBnClickedStop() {
        g_nSaveResult = kResultStopped;
        qm_StopSave();
        OnOK();
    }

    void OnTimer(UINT_PTR) {
        Dialog& d = self();
        if (!d.m_bRunning.load(std::memory_order_acquire)) OnOK();
        SetDlgItemTextA(m_hWnd, IDC_STATUS, progress::AnimationText(d.m_nTickCount));
        ++d.m_nTickCount;
    }

    HBRUSH OnCtlColor(HDC dc, HWND, UINT kind) { return self().m_colors.OnCtlColor(dc, kind); }
};

class waiting : public WorkerDialog<waiting, SavePagesThreadProc> {
public:
    waiting();
    ~waiting() override;

    int32_t m_nTickCount;
    char m_szSavePath[512];  // the page file
    int32_t m_nSaveMode;     // a SaveMode (rules.h)
    int32_t m_nContentMode;  // a ContentMode
    DWORD m_dwThreadId;
    HANDLE m_hThread;
    std::atomic<int32_t> m_bRunning;  // cleared by the worker after it stored the result

private:
    friend WorkerDialog;
    ColorScheme m_colors;
};

class savingpic : public WorkerDialog<savingpic, SavePicturesThreadProc> {
public:
    // The folder must leave room for the "\index.html" the worker appends.
    static constexpr size_t kMaxFolderLength = 500;

    savingpic();
    ~savingpic() override;

    int32_t m_nTickCount;
    char m_szSavePath[512];  // the chosen folder
    DWORD m_dwThreadId;
    HANDLE m_hThread;
    std::atomic<int32_t> m_bRunning;
    int32_t m_nPictureCount;        // shown in the count field, advanced by each report
    std::atomic<HWND> m_hCountWnd;  // where the worker shows the count

protected:
    BOOL OnInitDialog() override;

private:
    friend WorkerDialog;
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
