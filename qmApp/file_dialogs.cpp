#include "file_dialogs.h"

#include <commdlg.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

#include "ansi_text.h"
#include "messages.h"

namespace {

enum class Shown { kChosen, kCancelled, kUnavailable };

Shown ShowItemDialog(HWND owner, const SaveAsRequest& request, std::wstring* path) {
    IFileSaveDialog* dialog = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileSaveDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFileSaveDialog, reinterpret_cast<void**>(&dialog)))) {
        return Shown::kUnavailable;
    }
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    options |= FOS_FORCEFILESYSTEM;
    if (request.overwritePrompt) options |= FOS_OVERWRITEPROMPT;
    else options &= ~FOS_OVERWRITEPROMPT;
    dialog->SetOptions(options);
    if (request.filterName) {
        const COMDLG_FILTERSPEC filter = {request.filterName, request.filterPattern};
        dialog->SetFileTypes(1, &filter);
    }
    if (request.defaultName) dialog->SetFileName(ToWide(request.defaultName).c_str());

    Shown shown = Shown::kCancelled;
    IShellItem* item = nullptr;
    if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&item)) && item) {
        PWSTR name = nullptr;
        if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &name)) && name) {
            *path = name;
            CoTaskMemFree(name);
            shown = Shown::kChosen;
        }
        item->Release();
    }
    dialog->Release();
    return shown;
}

Shown ShowClassicDialog(HWND owner, const SaveAsRequest& request, std::wstring* path) {
    std::vector<wchar_t> file(32768, L'\0');
    if (request.defaultName) {
        const std::wstring name = ToWide(request.defaultName);
        name.copy(file.data(), file.size() - 1);
    }
    std::wstring filter;
    if (request.filterName) {
        filter = std::wstring(request.filterName) + L'\0' + request.filterPattern + L'\0';
    }
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = request.filterName ? filter.c_str() : nullptr;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.Flags =
        OFN_EXPLORER | OFN_HIDEREADONLY | (request.overwritePrompt ? OFN_OVERWRITEPROMPT : 0);
    if (!GetSaveFileNameW(&ofn)) return Shown::kCancelled;
    *path = file.data();
    return Shown::kChosen;
}

}  // namespace

PickResult AskSavePath(HWND owner, const SaveAsRequest& request, std::string* path) {
    std::wstring wide;
    Shown shown = ShowItemDialog(owner, request, &wide);
    if (shown == Shown::kUnavailable) shown = ShowClassicDialog(owner, request, &wide);
    if (shown != Shown::kChosen) return PickResult::kCancelled;
    if (!ToAnsi(wide.c_str(), path)) {
        ShowMessage(owner, msg::kPathNotAnsi, msg::kErrorCaption);
        return PickResult::kUnusable;
    }
    return PickResult::kChosen;
}

std::string AskFolder(HWND owner, const char* title) {
    char displayName[MAX_PATH] = {};
    BROWSEINFOA info = {};
    info.hwndOwner = owner;
    info.pidlRoot = nullptr;
    info.pszDisplayName = displayName;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE list = SHBrowseForFolderA(&info);
    if (!list) return std::string();

    const BOOL converted = SHGetPathFromIDListA(list, displayName);
    IMalloc* allocator = nullptr;
    if (FAILED(SHGetMalloc(&allocator)) || !allocator) return std::string();
    allocator->Free(list);
    allocator->Release();
    if (!converted) return std::string();
    return std::string(displayName);
}
