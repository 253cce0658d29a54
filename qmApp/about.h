// The About box: the program's name, version and publisher.
#pragma once

#include "color_scheme.h"
#include "ui/dialog.h"

class about : public CDialog {
public:
    about();

protected:
    ui::Routes GetRoutes() const override;

private:
    static const ui::Route kRoutes[];
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind);

    ColorScheme m_colors;
};
