// The modal dialog base. A dialog class names its template, overrides the virtual steps it
// needs, and lists its handlers in one routing table:
//
//     const ui::Route waiting::kRoutes[] = {
//         ui::OnCommand<&waiting::OnBnClickedStop>(IDOK),
//         ui::OnTimer<&waiting::OnTimer>(),
//         ui::OnCtlColor<&waiting::OnCtlColor>(),
//     };
//
// A button press arrives as WM_COMMAND in DialogProc, which finds the dialog object in the
// window's user data and the first matching row of its table, and calls that member.
// IDOK and IDCANCEL without a row go to the virtual OnOK and OnCancel.
#pragma once

#include <windows.h>

#include <cstddef>

#include "wnd.h"

class CDialog;

namespace ui {

using Thunk = INT_PTR (*)(CDialog& dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Stands for every WM_CTLCOLOR* message in a route.
constexpr UINT kAnyCtlColor = 0xFFFFFFFFu;

struct Route {
    UINT message;  // a window message, or kAnyCtlColor
    UINT id;       // the command id, for WM_COMMAND rows
    Thunk handler;
};

// A class's routing table as the base sees it.
struct Routes {
    template <std::size_t N>
    Routes(const Route (&table)[N]) : first(table),
                                      last(table + N) {}
    Routes() = default;
    const Route* first = nullptr;
    const Route* last = nullptr;
};

template <class F>
struct MemberOf;
template <class T, class R, class... A>
struct MemberOf<R (T::*)(A...)> {
    using Class = T;
};
template <auto F>
using ClassOf = typename MemberOf<decltype(F)>::Class;

// void Handler(): a button click (BN_CLICKED) or the Enter and Esc keys' IDOK and IDCANCEL.
template <auto F>
constexpr Route OnCommand(UINT id) {
    return {WM_COMMAND, id, [](CDialog& d, UINT, WPARAM, LPARAM) -> INT_PTR {
                (static_cast<ClassOf<F>&>(d).*F)();
                return TRUE;
            }};
}

// void Handler(UINT_PTR timerId)
template <auto F>
constexpr Route OnTimer() {
    return {WM_TIMER, 0, [](CDialog& d, UINT, WPARAM w, LPARAM) -> INT_PTR {
                (static_cast<ClassOf<F>&>(d).*F)(static_cast<UINT_PTR>(w));
                return TRUE;
            }};
}

// HBRUSH Handler(HDC dc, HWND control, UINT ctlColorKind); a null brush leaves the colours
// to the system.
template <auto F>
constexpr Route OnCtlColor() {
    return {kAnyCtlColor, 0, [](CDialog& d, UINT m, WPARAM w, LPARAM l) -> INT_PTR {
                const UINT kind = m - WM_CTLCOLORMSGBOX;  // CTLCOLOR_MSGBOX .. CTLCOLOR_STATIC
                return reinterpret_cast<INT_PTR>((static_cast<ClassOf<F>&>(d).*F)(
                    reinterpret_cast<HDC>(w), reinterpret_cast<HWND>(l), kind));
            }};
}

// INT_PTR Handler(WPARAM, LPARAM), for any other message; the result is the dialog
// procedure's (FALSE: default handling).
template <auto F>
constexpr Route OnMessage(UINT message) {
    return {message, 0, [](CDialog& d, UINT, WPARAM w, LPARAM l) -> INT_PTR {
                return (static_cast<ClassOf<F>&>(d).*F)(w, l);
            }};
}

}  // namespace ui

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate) : m_nIDTemplate(nIDTemplate) {}

    // Runs the dialog modally, owned by the application's main window (or by whichever
    // dialog is active), and returns the value given to EndDialog; -1 when the window
    // could not be created.
    INT_PTR DoModal();

protected:
    // Binds the controls (DoDataExchange). TRUE: focus goes to the first tab stop.
    virtual BOOL OnInitDialog();
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // Binds controls to members with BindControl.
    virtual void DoDataExchange() {}
    virtual ui::Routes GetRoutes() const { return {}; }

    void BindControl(int id, CWnd& control) { control.m_hWnd = GetDlgItem(id); }
    void EndDialog(INT_PTR result) { ::EndDialog(m_hWnd, result); }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_nIDTemplate;
};
