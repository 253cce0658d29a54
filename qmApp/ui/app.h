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

    // Names the company key under which settings would live. The program keeps none, so
    // this only remembers the name.
    void SetRegistryKey(const char* company) { m_pszRegistryKey = company; }

    HINSTANCE m_hInstance = nullptr;
    CWnd* m_pMainWnd = nullptr;
    const char* m_pszRegistryKey = nullptr;
};

CWinApp* AfxGetApp();
