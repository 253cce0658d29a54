#include "about.h"

#include "res/resource.h"

const ui::Route about::kRoutes[] = {
    ui::OnCtlColor<&about::OnCtlColor>(),
};

ui::Routes about::GetRoutes() const { return kRoutes; }

about::about() : CDialog(IDD_ABOUT) {}

HBRUSH about::OnCtlColor(HDC dc, HWND, UINT kind) { return m_colors.OnCtlColor(dc, kind); }
