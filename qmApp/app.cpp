// The application object: common controls, the ActiveX host, then the main window; the
// program ends with it.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include "main_dialog.h"
#include "ui/activex_host.h"
#include "ui/app.h"

class CqmAppApp : public CWinApp {
public:
    BOOL InitInstance() override;
};

CqmAppApp theApp;

BOOL CqmAppApp::InitInstance() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    CWinApp::InitInstance();

    // The browser panel is an ActiveX control placed by the main window's template.
    const HRESULT ole = OleInitialize(nullptr);
    ui::InitActiveXHost();

    {
        CqmAppDlg dlg;
        m_pMainWnd = &dlg;
        dlg.DoModal();
        m_pMainWnd = nullptr;
    }
    if (SUCCEEDED(ole)) OleUninitialize();
    return FALSE;
}
