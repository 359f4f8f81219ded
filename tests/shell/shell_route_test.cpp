// The real route: with vost.dll registered in the prefix, Wine's shell opens
// a file's Properties dialog through the context menu's "properties" verb
// and loads the component. The dialog is modal inside InvokeCommand, so a
// second thread drives it: finds the sheet, switches to the "Dependencies"
// tab, waits for the scan, reads the page and cancels the dialog.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>

#include <thread>

#include "tests/shell/scanner_compare.h"
#include "tests/windows/temp_folder.h"

namespace vost::test {
namespace {

struct Seen {
    bool sheetFound = false;
    bool tabFound = false;
    bool scanFinished = false;
    std::vector<std::string> tabs;
    std::vector<TreeEntry> tree;
    std::vector<ListRow> list;
};

BOOL CALLBACK findSheet(HWND window, LPARAM lParam) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (process == GetCurrentProcessId() && std::string(className) == "#32770" &&
        IsWindowVisible(window) && SendMessageA(window, PSM_GETTABCONTROL, 0, 0) != 0) {
        *reinterpret_cast<HWND*>(lParam) = window;
        return FALSE;
    }
    return TRUE;
}

bool waitFor(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
    return true;
}

void driveSheet(Seen& seen) {
    HWND sheet = nullptr;
    seen.sheetFound = waitFor([&] {
        EnumWindows(findSheet, reinterpret_cast<LPARAM>(&sheet));
        return sheet != nullptr;
    }, 30000);
    if (!seen.sheetFound) return;
    HWND tab = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0));
    const int count = int(SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0));
    int dependencies = -1;
    for (int i = 0; i < count; ++i) {
        char text[128] = {};
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(tab, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
        seen.tabs.push_back(text);
        if (std::string(text) == "Dependencies") dependencies = i;
    }
    seen.tabFound = dependencies >= 0;
    if (seen.tabFound) {
        SendMessageA(sheet, PSM_SETCURSEL, dependencies, 0);
        HWND page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
        // The page's record, as its dialog procedure finds it.
        auto* record = reinterpret_cast<PROPSHEETPAGEA*>(GetWindowLongPtrA(page, DWLP_USER));
        auto* ext = record ? reinterpret_cast<DependencyExtension*>(record->lParam) : nullptr;
        seen.scanFinished =
            ext && waitFor([&] { return ext->scanState == kScanFinished; }, 60000);
        seen.tree = readTree(page);
        seen.list = readList(page);
    }
    PostMessageA(sheet, WM_COMMAND, IDCANCEL, 0);
}

TEST(ShellRoute, PropertiesDialogShowsTheDependenciesPage) {
    CoInitialize(nullptr);
    const std::string file = systemFolder() + "\\winecfg.exe";
    {
        ComPtr<IShellFolder> desktop;
        ASSERT_EQ(SHGetDesktopFolder(desktop.out()), S_OK);
        wchar_t name[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, name, MAX_PATH);
        LPITEMIDLIST full = nullptr;
        ASSERT_EQ(desktop->ParseDisplayName(nullptr, nullptr, name, nullptr, &full, nullptr), S_OK);
        ComPtr<IShellFolder> parent;
        LPCITEMIDLIST child = nullptr;
        ASSERT_EQ(SHBindToParent(full, IID_IShellFolder, parent.outVoid(), &child), S_OK);
        ComPtr<IContextMenu> menu;
        ASSERT_EQ(parent->GetUIObjectOf(nullptr, 1, &child, IID_IContextMenu, nullptr, menu.outVoid()),
                  S_OK);
        HMENU popup = CreatePopupMenu();
        menu->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL);

        Seen seen;
        std::thread driver(driveSheet, std::ref(seen));
        CMINVOKECOMMANDINFO invoke{};
        invoke.cbSize = sizeof invoke;
        invoke.lpVerb = "properties";
        invoke.nShow = SW_SHOWNORMAL;
        menu->InvokeCommand(&invoke);  // returns when the dialog closes
        driver.join();
        DestroyMenu(popup);
        CoTaskMemFree(full);

        ASSERT_TRUE(seen.sheetFound);
        ASSERT_TRUE(seen.tabFound) << testing::PrintToString(seen.tabs);
        ASSERT_TRUE(seen.scanFinished);
        expectPageMatchesScanner(seen.tree, seen.list, {}, file);
    }
    CoUninitialize();
}

}  // namespace
}  // namespace vost::test
