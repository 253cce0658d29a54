// The progress dialog of "Save This Page" and "Save Multiple Pages".
#include "progress_dialogs.h"
#include "rules.h"

waiting::waiting()
    : WorkerDialog(IDD_WAITING),
      m_nTickCount(0),
      m_szSavePath{},
      m_nSaveMode(0),
      m_nContentMode(0),
      m_dwThreadId(0),
      m_hThread(nullptr),
      m_bRunning(0) {}

waiting::~waiting() { progress::JoinWorker(m_hThread); }

DWORD WINAPI SavePagesThreadProc(LPVOID param) {
    auto* dlg = static_cast<waiting*>(param);
    int32_t result = kResultError;
    SaveOptions options;
    if (rules::OptionsFor(dlg->m_nSaveMode, dlg->m_nContentMode, &options) &&
        !progress::StopPressed() &&
        qm_SavePages(g_szPageUrl, dlg->m_szSavePath, &options, nullptr)) {
        result = kResultCompleted;
    }
    progress::FinishWorker(dlg->m_bRunning, result);
    return 0;
}
