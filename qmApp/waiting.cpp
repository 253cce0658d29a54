// The progress dialog of "Save This Page" and "Save Multiple Pages".
#include <cstring>

#include "globals.h"
#include "progress.h"
#include "progress_dialogs.h"
#include "res/resource.h"

const ui::Route waiting::kRoutes[] = {
    ui::OnCommand<&waiting::OnBnClickedStop>(IDOK),
    // Esc stops too: the dialog must not go while its worker runs unasked.
    ui::OnCommand<&waiting::OnBnClickedStop>(IDCANCEL),
    ui::OnTimer<&waiting::OnTimer>(),
    ui::OnCtlColor<&waiting::OnCtlColor>(),
};

ui::Routes waiting::GetRoutes() const { return kRoutes; }

waiting::waiting()
    : CDialog(IDD_WAITING),
      m_nTickCount(0),
      m_szSavePath{},
      m_nSaveMode(0),
      m_nContentMode(0),
      m_dwThreadId(0),
      m_hThread(nullptr),
      m_bRunning(0) {}

waiting::~waiting() { progress::JoinWorker(m_hThread); }

BOOL waiting::OnInitDialog() {
    CDialog::OnInitDialog();
    m_nTickCount = 0;
    m_dwThreadId = 0;
    m_hThread = nullptr;
    m_bRunning = 1;
    m_hThread = progress::StartWorker(m_hWnd, SavePagesThreadProc, this, &m_dwThreadId);
    SetTimer(m_hWnd, progress::kTimerId, progress::kTickMs, nullptr);
    return TRUE;
}

DWORD WINAPI SavePagesThreadProc(LPVOID param) {
    auto* dlg = static_cast<waiting*>(param);
    int32_t result = kResultError;
    const bool modesKnown = (dlg->m_nContentMode == 1 || dlg->m_nContentMode == 2) &&
                            (dlg->m_nSaveMode == 1 || dlg->m_nSaveMode == 2);
    if (modesKnown) {
        SaveOptions options;
        options.savePages = 1;
        options.savePictures = dlg->m_nContentMode == 2 ? 1 : 0;
        options.sameSiteOnly = 0;
        options.maxDepth = dlg->m_nSaveMode == 2 ? 1 : 0;
        if (qm_SavePages(g_szPageUrl, dlg->m_szSavePath, &options, nullptr)) {
            result = kResultCompleted;
        }
    }
    progress::FinishWorker(dlg->m_bRunning, result);
    return 0;
}

void waiting::OnTimer(UINT_PTR) {
    if (!m_bRunning.load(std::memory_order_acquire)) OnOK();
    SetDlgItemTextA(m_hWnd, IDC_STATUS, progress::AnimationText(m_nTickCount));
    ++m_nTickCount;
}

void waiting::OnBnClickedStop() {
    qm_StopSave();
    g_nSaveResult = kResultStopped;
    OnOK();
}

HBRUSH waiting::OnCtlColor(HDC dc, HWND, UINT kind) { return m_colors.OnCtlColor(dc, kind); }
