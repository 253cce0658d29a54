// The progress dialog of "Save All the Images": it also counts what the library reports.
#include "progress_dialogs.h"

std::atomic<savingpic*> g_pPictureDlg{nullptr};

savingpic::savingpic()
    : WorkerDialog(IDD_SAVINGPIC),
      m_nTickCount(0),
      m_szSavePath{},
      m_dwThreadId(0),
      m_hThread(nullptr),
      m_bRunning(0),
      m_nPictureCount(0),
      m_hCountWnd(nullptr) {}

savingpic::~savingpic() {
    progress::JoinWorker(m_hThread);
    savingpic* self = this;
    g_pPictureDlg.compare_exchange_strong(self, nullptr);
}

BOOL savingpic::OnInitDialog() {
    // The count has its target before the worker can report.
    m_hCountWnd = m_hWnd;
    g_pPictureDlg = this;
    SetDlgItemInt(m_hWnd, IDC_PICTURE_COUNT, 0, TRUE);
    return WorkerDialog::OnInitDialog();
}

DWORD WINAPI SavePicturesThreadProc(LPVOID param) {
    auto* dlg = static_cast<savingpic*>(param);
    int32_t result = kResultError;
    // No separator test: a folder that ends in a backslash gets a second one.
    if (progress::AppendText(dlg->m_szSavePath, "\\index.html") && !progress::StopPressed()) {
        SaveOptions options = {};  // the library sets every field itself
        if (qm_SavePictures(g_szPageUrl, dlg->m_szSavePath, &options, PictureCountCallback)) {
            result = kResultCompleted;
        }
    }
    progress::FinishWorker(dlg->m_bRunning, result);
    return 0;
}

// Runs on the worker thread. The field is set through a message the window's thread
// handles, so the worker waits until the field shows the count; once the window is gone
// the message fails at once.
void QM_CALLBACK PictureCountCallback(int32_t, const PageRecord* record) {
    savingpic* dlg = g_pPictureDlg;
    if (!dlg || record->kind != KIND_PICTURE) return;
    SetDlgItemInt(dlg->m_hCountWnd, IDC_PICTURE_COUNT, static_cast<UINT>(dlg->m_nPictureCount),
                  TRUE);
    ++dlg->m_nPictureCount;
}
