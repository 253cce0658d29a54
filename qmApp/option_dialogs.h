// The option dialogs of "Save This Page" and "Save Multiple Pages": where the page file
// goes and whether its pictures are saved too. Their OK runs the save (through the
// waiting dialog) before they close.
#pragma once

#include <cstdint>

#include "color_scheme.h"
#include "ui/dialog.h"

// One body serves both dialogs; they differ in template, the name Browse offers and how
// far the save goes.
class PageOptionsDialog : public CDialog {
public:
    char m_szSavePath[512];  // the page file, as read from the path box on OK

protected:
    PageOptionsDialog(UINT templateId, const char* browseName, int32_t saveMode);
    BOOL OnInitDialog() override;
    ui::Routes GetRoutes() const override;

private:
    static const ui::Route kRoutes[];

    void OnBnClickedOk();
    void OnBnClickedCancel();
    void OnBnClickedBrowse();
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind);

    const char* m_pszBrowseName;
    int32_t m_nSaveMode;
    ColorScheme m_colors;
};

class SaveThisPage : public PageOptionsDialog {
public:
    SaveThisPage();
};

class savemultiplepages : public PageOptionsDialog {
public:
    savemultiplepages();
};
