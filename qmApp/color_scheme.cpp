#include "color_scheme.h"

namespace {
constexpr COLORREF kBackground = RGB(48, 199, 213);
constexpr COLORREF kLabelText = RGB(123, 10, 106);
}  // namespace

ColorScheme::ColorScheme() : m_hBackground(CreateSolidBrush(kBackground)) {}

ColorScheme::~ColorScheme() {
    if (m_hBackground) DeleteObject(m_hBackground);
}

HBRUSH ColorScheme::OnCtlColor(HDC dc, UINT kind) const {
    switch (kind) {
        case CTLCOLOR_DLG: return m_hBackground;
        case CTLCOLOR_STATIC:  // labels, group boxes, radio buttons
            SetTextColor(dc, kLabelText);
            SetBkMode(dc, TRANSPARENT);
            return m_hBackground;
        default: return nullptr;
    }
}
