// The three save commands of the main window: read the URL, open the dialog that leads to
// the save, and tell the user how it went.
#include <cstring>
#include <string>

#include "file_dialogs.h"
#include "globals.h"
#include "main_dialog.h"
#include "messages.h"
#include "option_dialogs.h"
#include "progress_dialogs.h"
#include "res/resource.h"
#include "rules.h"

bool CqmAppDlg::ReadPageUrl(UrlCheck check) {
    std::memset(g_szPageUrl, 0, sizeof(g_szPageUrl));
    GetDlgItemTextA(m_hWnd, IDC_URL, g_szPageUrl, sizeof(g_szPageUrl));
    if (g_szPageUrl[0] == '\0') {
        ShowMessage(m_hWnd, msg::kEnterUrl, msg::kErrorCaption);
        return false;
    }
    if (check == kRefuseHttps && rules::IsRefusedHttps(g_szPageUrl)) {
        ShowMessage(m_hWnd, msg::kHttpsRefused, msg::kErrorCaption);
        return false;
    }
    return true;
}

void CqmAppDlg::ReportOutcome(const char* errorText) {
    switch (g_nSaveResult.load()) {
        case kResultCompleted: ShowMessage(m_hWnd, msg::kCompleted, msg::kOutcomeCaption); break;
        case kResultStopped: ShowMessage(m_hWnd, msg::kStopped, msg::kOutcomeCaption); break;
        case kResultError: ShowMessage(m_hWnd, errorText, msg::kOutcomeCaption); break;
        default:  // cancelled before a save began
            break;
    }
}

template <class OptionsDialog>
void CqmAppDlg::SaveThrough(const char* errorText) {
    if (!ReadPageUrl(kRefuseHttps)) return;
    g_nSaveResult = kResultNone;
    OptionsDialog dialog;
    dialog.DoModal();
    ReportOutcome(errorText);
}

void CqmAppDlg::OnSavePage() { SaveThrough<SaveThisPage>(msg::kError); }

void CqmAppDlg::OnSaveMultiplePages() { SaveThrough<savemultiplepages>(msg::kErrorCapital); }

void CqmAppDlg::OnSaveImages() {
    if (!ReadPageUrl(kRefuseHttps)) return;
    const std::string folder = AskFolder(m_hWnd, "select the save directory");
    if (folder.empty()) return;
    if (folder.size() > savingpic::kMaxFolderLength) {
        ShowMessage(m_hWnd, msg::kPathTooLong, msg::kErrorCaption);
        return;
    }
    g_nSaveResult = kResultNone;
    savingpic dialog;
    std::memcpy(dialog.m_szSavePath, folder.c_str(), folder.size() + 1);
    dialog.DoModal();
    ReportOutcome(msg::kError);
}
