#include "main_dialog.h"

#include "about.h"
#include "res/resource.h"
#include "ui/app.h"

namespace {
constexpr char kUpdatePageUrl[] = "http://quillon.example.org/update.html";
}

const ui::Route CqmAppDlg::kRoutes[] = {
    ui::OnMessage<&CqmAppDlg::OnPaint>(WM_PAINT),
    ui::OnMessage<&CqmAppDlg::OnQueryDragIcon>(WM_QUERYDRAGICON),
    ui::OnCommand<&CqmAppDlg::OnExit>(IDCANCEL),
    ui::OnCommand<&CqmAppDlg::OnAbout>(IDC_ABOUT),
    ui::OnCommand<&CqmAppDlg::OnSavePage>(IDC_SAVE_PAGE),
    ui::OnCommand<&CqmAppDlg::OnSaveMultiplePages>(IDC_SAVE_MULTIPLE),
    ui::OnCommand<&CqmAppDlg::OnSaveImages>(IDC_SAVE_IMAGES),
    ui::OnCommand<&CqmAppDlg::OnSavePageAsImage>(IDC_SAVE_AS_IMAGE),
    ui::OnCtlColor<&CqmAppDlg::OnCtlColor>(),
};

ui::Routes CqmAppDlg::GetRoutes() const { return kRoutes; }

CqmAppDlg::CqmAppDlg()
    : CDialog(IDD_QMAPP_DIALOG),
      m_hIcon(LoadIconA(AfxGetApp()->m_hInstance, MAKEINTRESOURCEA(IDR_MAINFRAME))),
      m_hPagesnapMapping(nullptr),
      m_hPagesnapWnd(nullptr),
      m_hPagesnapChild(nullptr) {}

void CqmAppDlg::DoDataExchange() { BindControl(IDC_BROWSER, m_browser); }

BOOL CqmAppDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    StartPagesnap();
    m_browser.Navigate(kUpdatePageUrl, nullptr, nullptr, nullptr, nullptr);
    return TRUE;
}

INT_PTR CqmAppDlg::OnPaint(WPARAM, LPARAM) {
    if (!IsIconic(m_hWnd)) return FALSE;  // the dialog manager paints
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &ps);
    return TRUE;
}

INT_PTR CqmAppDlg::OnQueryDragIcon(WPARAM, LPARAM) { return reinterpret_cast<INT_PTR>(m_hIcon); }

HBRUSH CqmAppDlg::OnCtlColor(HDC dc, HWND, UINT kind) { return m_colors.OnCtlColor(dc, kind); }

void CqmAppDlg::OnExit() {
    KillPagesnap();
    if (m_hPagesnapMapping) {
        CloseHandle(m_hPagesnapMapping);
        m_hPagesnapMapping = nullptr;
    }
    EndDialog(IDCANCEL);
}

void CqmAppDlg::OnAbout() {
    about dialog;
    dialog.DoModal();
}
