// The bridge to the page renderer: started hidden with the main window, handed jobs by
// "Save This Page as An Image", ended on Exit. Not wired up yet.
#include "main_dialog.h"

void CqmAppDlg::StartPagesnap() {}

void CqmAppDlg::OnSavePageAsImage() {}

int32_t CqmAppDlg::KillPagesnap() { return 1; }

int32_t CqmAppDlg::EnableDebugPrivilege() { return 0; }
