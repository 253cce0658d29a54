// The browser panel of the main window: the WebBrowser control that the main window's
// template places as control 1016. The program only ever asks it to show one page.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "ui/wnd.h"

class CExplorer1 : public CWnd {
public:
    // The WebBrowser control's class id, also the text of its place in the template.
    static constexpr char kClassId[] = "{8856F961-340A-11D0-A96B-00C04FD705A2}";

    // Asks the control to load url. The optional arguments may be null.
    void Navigate(const char* url, VARIANT* flags, VARIANT* targetFrameName, VARIANT* postData,
                  VARIANT* headers);
};
