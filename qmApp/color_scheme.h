// The colours every dialog of the program shares: labels purple on a turquoise background;
// edit boxes and buttons keep the system's colours. Each dialog owns one and answers its
// WM_CTLCOLOR* messages through it.
#pragma once

#include <windows.h>

class ColorScheme {
public:
    ColorScheme();
    ~ColorScheme();
    ColorScheme(const ColorScheme&) = delete;
    ColorScheme& operator=(const ColorScheme&) = delete;

    // The brush for a WM_CTLCOLOR* message of kind CTLCOLOR_*; null leaves the system's.
    HBRUSH OnCtlColor(HDC dc, UINT kind) const;

private:
    HBRUSH m_hBackground;  // made once, returned for every message, freed with the dialog
};
