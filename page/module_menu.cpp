#include "page/module_menu.h"

#include <windows.h>
#include <shlobj.h>

#include <cstddef>

#include "component/dependency_extension.h"
#include "component/module_instance.h"
#include "page/commands.h"
#include "page/item_id_list.h"
#include "page/run_dialog.h"
#include "page/shell_handles.h"
#include "platform/win32/system_folders.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"

namespace vost {

namespace {

// The shell numbers its commands in this range; the component's own ids
// 1001 and 1002 fall inside it and are always taken as the component's.
constexpr UINT kFirstShellCommand = 1;
constexpr UINT kLastShellCommand = 0x7FFF;

// The first forms of the two records, as the oldest shells know them; their
// sizes follow the pointer size (44 and 36 bytes in the 32-bit build).
constexpr bool kWide = sizeof(void*) == 8;
constexpr UINT kMenuItemInfoSize = offsetof(MENUITEMINFOA, hbmpItem);
static_assert(kMenuItemInfoSize == (kWide ? 72 : 44), "MENUITEMINFOA without hbmpItem");
static_assert(sizeof(CMINVOKECOMMANDINFO) == (kWide ? 56 : 36), "CMINVOKECOMMANDINFO, first form");

bool isOwnCommand(UINT id) {
    switch (id) {
    case IDM_SEND_FEEDBACK:
    case IDM_OPEN_HOME_PAGE:
    case IDM_EXPLORE_MODULE:
    case IDM_COPY_TO_CLIPBOARD:
    case IDM_COPY_PROBLEMS:
    case IDM_COPY_ALL_TO_FOLDER:
    case IDM_SHOW_FUNCTIONS:
    case IDM_SHOW_DELAY_LOADED:
    case IDM_RUN_AND_RECORD:
        return true;
    default:
        return false;
    }
}

// Puts the popup of menu 137 at the top of `popup`, labelled "Vost". On
// success the submenu is taken out of `loaded`, so that destroying `popup`
// destroys it and destroying `loaded` does not.
void insertOwnSubmenu(HMENU popup, HMENU loaded) {
    HMENU own = loaded ? GetSubMenu(loaded, 0) : nullptr;
    if (!own) return;
    char label[] = "Vost";
    MENUITEMINFOA item = {};
    item.cbSize = kMenuItemInfoSize;
    item.fMask = MIIM_SUBMENU | MIIM_TYPE;
    item.fType = MFT_STRING;
    item.fState = 0;
    item.hSubMenu = own;
    item.dwItemData = 0;
    item.dwTypeData = label;
    item.cch = 4;
    if (InsertMenuItemA(popup, 0, TRUE, &item)) RemoveMenu(loaded, 0, MF_BYPOSITION);
}

// The shell's context menu of the module's file; null when the shell cannot
// parse or bind its path.
ComRef<IContextMenu> shellMenuOf(HWND page, const ModuleNode& node) {
    ComRef<IContextMenu> shellMenu;
    // The path is UTF-8, always converted, of any length; one that does not
    // convert names no file the shell could act on.
    // The shell's objects live in this process, which may name the file
    // otherwise than its true path.
    const std::string reached = pathForThisProcess(systemFolders(), node.fullPath);
    std::wstring widePath;
    if (!toWide(reached, widePath)) return shellMenu;

    ComRef<IMalloc> allocator;
    if (FAILED(SHGetMalloc(allocator.put())) || !allocator) return shellMenu;
    ComRef<IShellFolder> folder;
    if (FAILED(SHGetDesktopFolder(folder.put())) || !folder) return shellMenu;

    ShellIdList fullList(allocator.get());
    ULONG consumed = 0;
    if (FAILED(folder->ParseDisplayName(page, nullptr, &widePath[0], &consumed, fullList.put(), nullptr)) ||
        !fullList)
        return shellMenu;
    int remaining = countItems(fullList.get());
    if (remaining == 0) return shellMenu;

    // One bind per folder level; the last item stays inside the full list.
    LPCITEMIDLIST item = fullList.get();
    for (; remaining > 1; --remaining, item = nextItem(item)) {
        ShellIdList step(allocator.get(), copyItem(allocator.get(), item));
        if (!step) return shellMenu;
        ComRef<IShellFolder> child;
        if (FAILED(folder->BindToObject(step.get(), nullptr, IID_IShellFolder, child.putVoid())) || !child)
            return shellMenu;
        folder = std::move(child);
    }

    if (FAILED(folder->GetUIObjectOf(page, 1, &item, IID_IContextMenu, nullptr, shellMenu.putVoid())))
        shellMenu.reset();
    return shellMenu;
}

}  // namespace

void showModuleMenu(DependencyExtension& ext, int x, int y) {
    HWND page = static_cast<HWND>(ext.pageWindow);
    ModuleNode* node = selectedNode(ext);
    if (!node || node->fullPath.empty()) return;
    // The component's submenu is there for every module; the shell's entries
    // only for a module that has a file (a module that was not found has
    // none, and its path is the not-found text).
    ComRef<IContextMenu> shellMenu;
    if (node->found) shellMenu = shellMenuOf(page, *node);

    MenuHandle popup(CreatePopupMenu());
    if (!popup) return;
    if (shellMenu &&
        FAILED(shellMenu->QueryContextMenu(popup.get(), 0, kFirstShellCommand, kLastShellCommand, CMF_EXPLORE)))
        return;

    MenuHandle loaded(LoadMenuA(static_cast<HINSTANCE>(moduleInstance), MAKEINTRESOURCEA(IDR_MODULE_MENU)));
    // Nothing to copy while the scan or its check runs, nor when it found nothing.
    if (loaded && !hasProblems(ext)) EnableMenuItem(loaded.get(), IDM_COPY_PROBLEMS, MF_BYCOMMAND | MF_GRAYED);
    // The functions are read once the scan and its check are done.
    if (loaded && ext.scanState != kScanFinished)
        for (const UINT id : {IDM_SHOW_FUNCTIONS, IDM_SHOW_DELAY_LOADED})
            EnableMenuItem(loaded.get(), id, MF_BYCOMMAND | MF_GRAYED);
    // Whether the page shows delay-loaded modules: the entry turns it over.
    if (loaded)
        CheckMenuItem(loaded.get(), IDM_SHOW_DELAY_LOADED, MF_BYCOMMAND | (ext.delayLoads ? MF_CHECKED : MF_UNCHECKED));
    // A run is of the program the page shows: its root item, once the scan is done.
    if (loaded && !canRunAndRecord(ext, node))
        EnableMenuItem(loaded.get(), IDM_RUN_AND_RECORD, MF_BYCOMMAND | MF_GRAYED);
    // No folder to show for a module without a file.
    if (loaded && !node->found) EnableMenuItem(loaded.get(), IDM_EXPLORE_MODULE, MF_BYCOMMAND | MF_GRAYED);
    insertOwnSubmenu(popup.get(), loaded.get());

    const UINT chosen = static_cast<UINT>(
        TrackPopupMenu(popup.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, page, nullptr));
    if (chosen == 0) return;
    if (isOwnCommand(chosen) || !shellMenu) {
        // Carried out by the page after this call has released everything.
        PostMessageA(page, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
        return;
    }
    CMINVOKECOMMANDINFO invoke = {};
    invoke.cbSize = sizeof invoke;
    invoke.fMask = 0;
    invoke.hwnd = page;
    invoke.lpVerb = MAKEINTRESOURCEA(LOWORD(chosen - kFirstShellCommand));
    invoke.nShow = SW_SHOWNORMAL;
    shellMenu->InvokeCommand(&invoke);
}

}  // namespace vost
