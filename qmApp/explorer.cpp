#include "explorer.h"

#include <oleauto.h>

#include "ansi_text.h"
#include "ui/activex_host.h"

namespace {

constexpr DISPID kDispidNavigate = 104;

VARIANT Optional(VARIANT* value) {
    VARIANT v;
    VariantInit(&v);
    if (value) {
        v.vt = VT_VARIANT | VT_BYREF;
        v.pvarVal = value;
    } else {
        v.vt = VT_ERROR;
        v.scode = DISP_E_PARAMNOTFOUND;
    }
    return v;
}

}  // namespace

void CExplorer1::Navigate(const char* url, VARIANT* flags, VARIANT* targetFrameName,
                          VARIANT* postData, VARIANT* headers) {
    VARIANT args[5];
    VariantInit(&args[0]);
    args[0].vt = VT_BSTR;
    args[0].bstrVal = SysAllocString(ToWide(url).c_str());
    args[1] = Optional(flags);
    args[2] = Optional(targetFrameName);
    args[3] = Optional(postData);
    args[4] = Optional(headers);
    // Where the control could not be created there is nothing to tell it; the panel stays
    // empty and the program goes on.
    ui::InvokeHostedMethod(m_hWnd, kDispidNavigate, args, 5);
    VariantClear(&args[0]);
}
