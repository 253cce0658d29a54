// The progress dialog of "Save This Page as An Image": no worker, it polls for the picture
// file that the renderer writes, for at most 21 ticks.
#include <cstdio>

#include "globals.h"
#include "progress.h"
#include "progress_dialogs.h"
#include "res/resource.h"

namespace {
constexpr int32_t kLastTick = 20;
}

const ui::Route waitingimage::kRoutes[] = {
    ui::OnTimer<&waitingimage::OnTimer>(),
    ui::OnCtlColor<&waitingimage::OnCtlColor>(),
};

ui::Routes waitingimage::GetRoutes() const { return kRoutes; }

waitingimage::waitingimage() : CDialog(IDD_WAITINGIMAGE), m_nTickCount(0), m_szSavePath{} {}

BOOL waitingimage::OnInitDialog() {
    CDialog::OnInitDialog();
    m_nTickCount = 0;
    SetTimer(m_hWnd, progress::kTimerId, progress::kTickMs, nullptr);
    // A path with no room for the ending could only be waited for under a wrong name.
    if (!progress::AppendText(m_szSavePath, ".jpg")) {
        g_nSaveResult = kResultError;
        OnOK();
    }
    return TRUE;
}

void waitingimage::OnTimer(UINT_PTR) {
    if (FILE* picture = std::fopen(m_szSavePath, "rb")) {
        std::fclose(picture);
        g_nSaveResult = kResultCompleted;
        OnOK();
    }
    SetDlgItemTextA(m_hWnd, IDC_STATUS, progress::AnimationText(m_nTickCount));
    if (++m_nTickCount > kLastTick) OnOK();
}

HBRUSH waitingimage::OnCtlColor(HDC dc, HWND, UINT kind) { return m_colors.OnCtlColor(dc, kind); }
