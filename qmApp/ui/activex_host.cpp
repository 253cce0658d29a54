#include "activex_host.h"

#include <ole2.h>

#include <vector>

namespace ui {
namespace {

constexpr char kHostClass[] = "AtlAxWin";

using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);

AtlAxGetControlFn g_getControl = nullptr;

LRESULT CALLBACK StandInProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void RegisterStandIn() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = StandInProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kHostClass;
    RegisterClassA(&wc);
}

}  // namespace

void InitActiveXHost() {
    // The module stays loaded for the life of the process: its window class is in use.
    if (HMODULE atl = LoadLibraryA("atl.dll")) {
        auto init = reinterpret_cast<AtlAxWinInitFn>(
            reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
        g_getControl = reinterpret_cast<AtlAxGetControlFn>(
            reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxGetControl")));
        if (init && init()) return;
        g_getControl = nullptr;
    }
    RegisterStandIn();
}

bool InvokeHostedMethod(HWND host, DISPID id, VARIANT* args, UINT count) {
    if (!g_getControl || !host) return false;
    IUnknown* control = nullptr;
    if (FAILED(g_getControl(host, &control)) || !control) return false;
    IDispatch* dispatch = nullptr;
    HRESULT hr = control->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    control->Release();
    if (FAILED(hr) || !dispatch) return false;
    // IDispatch takes its arguments last to first.
    std::vector<VARIANT> reversed(args, args + count);
    for (UINT i = 0; i < count / 2; ++i) std::swap(reversed[i], reversed[count - 1 - i]);
    DISPPARAMS params = {reversed.data(), nullptr, count, 0};
    hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                          nullptr, nullptr);
    dispatch->Release();
    return SUCCEEDED(hr);
}

}  // namespace ui
