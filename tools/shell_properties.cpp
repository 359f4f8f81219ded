#include "tools/shell_properties.h"

#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>

#include <cstring>
#include <thread>

#include "page/shell_handles.h"
#include "platform/win32/wide_text.h"

namespace vost {

namespace {
BOOL CALLBACK findSheet(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (process == GetCurrentProcessId() && std::strcmp(className, "#32770") == 0 &&
        IsWindowVisible(window) && SendMessageA(window, PSM_GETTABCONTROL, 0, 0) != 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

bool waitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
    return true;
}

HWND waitForPropertySheet(DWORD timeoutMs) {
    HWND sheet = nullptr;
    waitUntil([&] {
        EnumWindows(findSheet, reinterpret_cast<LPARAM>(&sheet));
        return sheet != nullptr;
    }, timeoutMs);
    return sheet;
}

HWND selectSheetTab(HWND sheet, const char* title) {
    HWND tab = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0));
    const int count = int(SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[128] = {};
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(tab, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
        if (std::strcmp(text, title) == 0) {
            SendMessageA(sheet, PSM_SETCURSEL, i, 0);
            return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
        }
    }
    return nullptr;
}

DependencyExtension* pageExtension(HWND page) {
    // The page keeps the address of its page record; the record's parameter
    // is the extension object. Only a page with our tree and list is ours.
    if (!page) return nullptr;
    auto* record = reinterpret_cast<PROPSHEETPAGEA*>(GetWindowLongPtrA(page, DWLP_USER));
    if (!record || !GetDlgItem(page, kTreeControlId) || !GetDlgItem(page, kListControlId)) return nullptr;
    return reinterpret_cast<DependencyExtension*>(record->lParam);
}

bool showShellProperties(const std::string& path, const std::function<void()>& drive) {
    std::wstring wide;
    if (!toWide(path, wide)) return false;

    ComRef<IShellFolder> desktop, parent;
    ComRef<IContextMenu> menu;
    if (SHGetDesktopFolder(desktop.put()) != S_OK) return false;
    LPITEMIDLIST full = nullptr;
    if (desktop->ParseDisplayName(nullptr, nullptr, &wide[0], nullptr, &full, nullptr) != S_OK) return false;
    LPCITEMIDLIST child = nullptr;
    bool shown = false;
    if (SHBindToParent(full, IID_IShellFolder, parent.putVoid(), &child) == S_OK &&
        parent->GetUIObjectOf(nullptr, 1, &child, IID_IContextMenu, nullptr, menu.putVoid()) == S_OK) {
        MenuHandle popup(CreatePopupMenu());
        menu->QueryContextMenu(popup.get(), 0, 1, 0x7FFF, CMF_NORMAL);
        std::thread driver(drive);
        CMINVOKECOMMANDINFO invoke{};
        invoke.cbSize = sizeof invoke;
        invoke.lpVerb = "properties";
        invoke.nShow = SW_SHOWNORMAL;
        shown = SUCCEEDED(menu->InvokeCommand(&invoke));  // returns when the dialog closes
        driver.join();
    }
    menu.reset();
    parent.reset();
    CoTaskMemFree(full);
    return shown;
}

}  // namespace vost
