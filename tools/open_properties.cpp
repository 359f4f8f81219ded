// open-properties: opens the shell's real Properties dialog of a file, the
// way Explorer does it (the file's context menu, verb "properties"), and
// brings the "Dependencies" page to the front.
//
//   open-properties FILE [--ready-file PATH] [--close-after SECONDS]
//
// With --ready-file it writes PATH once the page's scan has finished (so a
// script can take a screenshot); with --close-after it closes the dialog that
// many seconds later. Without them the dialog stays until the user closes it.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "component/dependency_extension.h"

namespace {

struct Options {
    std::string file;
    std::string readyFile;
    int closeAfterSeconds = -1;
};

template <typename T>
struct Released {  // releases a COM pointer at the end of its scope
    T* p = nullptr;
    ~Released() { if (p) p->Release(); }
    void** out() { return reinterpret_cast<void**>(&p); }
};

BOOL CALLBACK findSheet(HWND window, LPARAM lParam) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (process == GetCurrentProcessId() && std::strcmp(className, "#32770") == 0 &&
        IsWindowVisible(window) && SendMessageA(window, PSM_GETTABCONTROL, 0, 0) != 0) {
        *reinterpret_cast<HWND*>(lParam) = window;
        return FALSE;
    }
    return TRUE;
}

template <typename Done>
bool waitFor(Done done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(50);
    }
    return true;
}

// Runs beside the dialog's own (blocked) thread: selects our tab, waits for
// the scan, then signals and closes as asked.
void driveSheet(const Options& options) {
    HWND sheet = nullptr;
    if (!waitFor([&] { EnumWindows(findSheet, reinterpret_cast<LPARAM>(&sheet)); return sheet != nullptr; },
                 30000)) {
        std::fprintf(stderr, "open-properties: no Properties dialog appeared\n");
        return;
    }
    HWND tab = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0));
    const int count = int(SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[128] = {};
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(tab, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
        if (std::strcmp(text, "Dependencies") == 0) {
            SendMessageA(sheet, PSM_SETCURSEL, i, 0);
            break;
        }
    }
    HWND page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    auto* record = reinterpret_cast<PROPSHEETPAGEA*>(GetWindowLongPtrA(page, DWLP_USER));
    auto* ext = record ? reinterpret_cast<vost::DependencyExtension*>(record->lParam) : nullptr;
    if (!ext) {
        std::fprintf(stderr, "open-properties: the Dependencies page is not there (is vost.dll registered?)\n");
    } else {
        waitFor([&] { return ext->scanState == vost::kScanFinished; }, 120000);
    }
    if (!options.readyFile.empty()) {
        if (FILE* f = std::fopen(options.readyFile.c_str(), "w")) std::fclose(f);
    }
    if (options.closeAfterSeconds >= 0) {
        Sleep(DWORD(options.closeAfterSeconds) * 1000);
        PostMessageA(sheet, WM_COMMAND, IDCANCEL, 0);
    }
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--ready-file" && i + 1 < argc) options.readyFile = argv[++i];
        else if (arg == "--close-after" && i + 1 < argc) options.closeAfterSeconds = std::atoi(argv[++i]);
        else if (options.file.empty() && arg.rfind("--", 0) != 0) options.file = arg;
        else return false;
    }
    return !options.file.empty();
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: open-properties FILE [--ready-file PATH] [--close-after SECONDS]\n");
        return 2;
    }
    CoInitialize(nullptr);
    int status = 1;
    {
        char full[MAX_PATH] = {};
        GetFullPathNameA(options.file.c_str(), MAX_PATH, full, nullptr);
        wchar_t wide[MAX_PATH] = {};
        MultiByteToWideChar(CP_ACP, 0, full, -1, wide, MAX_PATH);

        Released<IShellFolder> desktop, parent;
        Released<IContextMenu> menu;
        LPITEMIDLIST pidl = nullptr;
        LPCITEMIDLIST child = nullptr;
        if (SHGetDesktopFolder(&desktop.p) == S_OK &&
            desktop.p->ParseDisplayName(nullptr, nullptr, wide, nullptr, &pidl, nullptr) == S_OK &&
            SHBindToParent(pidl, IID_IShellFolder, parent.out(), &child) == S_OK &&
            parent.p->GetUIObjectOf(nullptr, 1, &child, IID_IContextMenu, nullptr, menu.out()) == S_OK) {
            HMENU popup = CreatePopupMenu();
            menu.p->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL);
            std::thread driver(driveSheet, std::cref(options));
            CMINVOKECOMMANDINFO invoke{};
            invoke.cbSize = sizeof invoke;
            invoke.lpVerb = "properties";
            invoke.nShow = SW_SHOWNORMAL;
            status = SUCCEEDED(menu.p->InvokeCommand(&invoke)) ? 0 : 1;  // returns when the dialog closes
            driver.join();
            DestroyMenu(popup);
        } else {
            std::fprintf(stderr, "open-properties: the shell does not know %s\n", full);
        }
        if (pidl) CoTaskMemFree(pidl);
    }
    CoUninitialize();
    return status;
}
