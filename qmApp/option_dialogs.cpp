#include "option_dialogs.h"

#include <cstring>
#include <string>

#include "file_dialogs.h"
#include "globals.h"
#include "kept_copy.h"
#include "messages.h"
#include "progress_dialogs.h"
#include "res/resource.h"
#include "rules.h"

const ui::Route PageOptionsDialog::kRoutes[] = {
    ui::OnCommand<&PageOptionsDialog::OnBnClickedOk>(IDOK),
    ui::OnCommand<&PageOptionsDialog::OnBnClickedCancel>(IDCANCEL),
    ui::OnCommand<&PageOptionsDialog::OnBnClickedBrowse>(IDC_BROWSE),
    ui::OnCtlColor<&PageOptionsDialog::OnCtlColor>(),
};

ui::Routes PageOptionsDialog::GetRoutes() const { return kRoutes; }

PageOptionsDialog::PageOptionsDialog(UINT templateId, const char* browseName, int32_t saveMode)
    : CDialog(templateId),
      m_szSavePath{},
      m_pszBrowseName(browseName),
      m_nSaveMode(saveMode) {}

SaveThisPage::SaveThisPage() : PageOptionsDialog(IDD_SAVETHISPAGE, nullptr, kThisPage) {}

savemultiplepages::savemultiplepages()
    : PageOptionsDialog(IDD_SAVEMULTIPLEPAGES, "index", kLinkedPagesToo) {}

BOOL PageOptionsDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    SetDlgItemTextA(m_hWnd, IDC_SAVE_PATH, "");
    CheckDlgButton(m_hWnd, IDC_WORDS_ONLY, BST_CHECKED);
    return TRUE;
}

void PageOptionsDialog::OnBnClickedBrowse() {
    SaveAsRequest request;
    request.defaultName = m_pszBrowseName;
    request.filterName = L"*.html";
    request.filterPattern = L"*.html";
    request.overwritePrompt = true;
    std::string path;
    if (AskSavePath(m_hWnd, request, &path) != PickResult::kChosen) return;

    path = rules::WithHtmlEnding(path);
    if (path.size() > static_cast<size_t>(kMaxText)) {
        ShowMessage(m_hWnd, msg::kPathTooLong, msg::kErrorCaption);
        return;
    }
    SetDlgItemTextA(m_hWnd, IDC_SAVE_PATH, path.c_str());
}

void PageOptionsDialog::OnBnClickedOk() {
    std::memset(m_szSavePath, 0, sizeof(m_szSavePath));
    GetDlgItemTextA(m_hWnd, IDC_SAVE_PATH, m_szSavePath, sizeof(m_szSavePath));
    if (m_szSavePath[0] == '\0') {
        ShowMessage(m_hWnd, msg::kEnterSavePath, msg::kErrorCaption);
        return;
    }
    // The library skips an item whose file exists; the page itself is to be fetched anew,
    // and the old file is kept aside until the new one is there.
    KeptCopy kept;
    kept.MoveAside(m_szSavePath);
    {
        waiting progress;
        std::memcpy(progress.m_szSavePath, m_szSavePath, sizeof(m_szSavePath));
        if (IsDlgButtonChecked(m_hWnd, IDC_WORDS_ONLY) == BST_CHECKED)
            progress.m_nContentMode = kWordsOnly;
        if (IsDlgButtonChecked(m_hWnd, IDC_COMPLETE) == BST_CHECKED)
            progress.m_nContentMode = kComplete;
        progress.m_nSaveMode = m_nSaveMode;
        progress.DoModal();
    }  // the worker has ended here
    kept.Settle();
    OnOK();
}

void PageOptionsDialog::OnBnClickedCancel() { OnCancel(); }

HBRUSH PageOptionsDialog::OnCtlColor(HDC dc, HWND, UINT kind) {
    return m_colors.OnCtlColor(dc, kind);
}
