// Hosting ActiveX controls in dialog templates through the system's ATL ("AtlAxWin"
// windows whose text names the control).
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace ui {

// Makes the window class "AtlAxWin" available to dialog templates. atl.dll is loaded at run
// time; where it cannot be loaded or refuses, an empty stand-in class of that name is
// registered so that the templates still create and the windows still open. Call once,
// after OLE has been initialised and before the first template that uses the class.
void InitActiveXHost();

// Calls a method of the control hosted in `host` by dispatch id, with the arguments in
// their natural order. False when no control is hosted there or the call fails.
bool InvokeHostedMethod(HWND host, DISPID id, VARIANT* args, UINT count);

}  // namespace ui
