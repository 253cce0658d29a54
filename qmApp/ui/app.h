// The application object: one instance, built before WinMain runs; WinMain hands control
// to its InitInstance.
#pragma once

#include <windows.h>

#include "wnd.h"

class CWinApp {
public:
    CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp();

    // FALSE ends the program once it returns; TRUE runs a message loop until WM_QUIT.
    virtual BOOL InitInstance() { return TRUE; }

    HINSTANCE m_hInstance = nullptr;
    CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
