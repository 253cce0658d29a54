#include "dialog.h"

#include "app.h"

INT_PTR CDialog::DoModal() {
    CWinApp* app = AfxGetApp();
    HINSTANCE instance = app ? app->m_hInstance : GetModuleHandleA(nullptr);
    // Owned by the main window's topmost popup (the dialog that opened us, or the main
    // window itself), which is disabled while we run.
    HWND owner = nullptr;
    if (app && app->m_pMainWnd && app->m_pMainWnd->m_hWnd) {
        owner = GetLastActivePopup(app->m_pMainWnd->m_hWnd);
    }
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(m_nIDTemplate), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::OnInitDialog() {
    DoDataExchange();
    return TRUE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, lParam);
        self->m_hWnd = hwnd;
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return FALSE;  // messages that come before WM_INITDIALOG
    INT_PTR result = FALSE;
    try {
        result = self->Dispatch(message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the system's dialog manager.
        result = FALSE;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        self->m_hWnd = nullptr;
    }
    return result;
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    const bool ctlColor = message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
    const bool click = message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED;
    const UINT id = LOWORD(wParam);
    const ui::Routes routes = GetRoutes();
    for (const ui::Route* r = routes.first; r != routes.last; ++r) {
        if (ctlColor ? r->message == ui::kAnyCtlColor
                     : r->message == message && (message != WM_COMMAND || (click && r->id == id))) {
            return r->handler(*this, message, wParam, lParam);
        }
    }
    if (click && id == IDOK) {
        OnOK();
        return TRUE;
    }
    if (click && id == IDCANCEL) {
        OnCancel();
        return TRUE;
    }
    return FALSE;
}
