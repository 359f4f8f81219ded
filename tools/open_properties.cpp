// open-properties: opens the shell's real Properties dialog of a file, the
// way Explorer does it (the file's context menu, verb "properties"), and
// brings the "Dependencies" page to the front.
//
//   open-properties FILE [--functions MODULE] [--ready-file PATH] [--close-after SECONDS]
//
// FILE may be named in any script (the arguments are read as Unicode). With
// --functions it then opens the Functions dialog of MODULE's item under the
// root. With --ready-file it writes PATH once the page's scan has finished
// (and the Functions dialog shows), so a script can take a screenshot; with
// --close-after it closes the dialogs that many seconds later. Without them
// the dialog stays until the user closes it.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"
#include "tools/shell_properties.h"

namespace {

struct Options {
    std::wstring file;
    std::string module;  // --functions
    std::wstring readyFile;
    int closeAfterSeconds = -1;
};

bool parse(const std::vector<std::wstring>& args, Options& options) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        const bool value = i + 1 < args.size();
        if (arg == L"--ready-file" && value) options.readyFile = args[++i];
        else if (arg == L"--functions" && value) options.module = vost::utf8Text(args[++i]);
        else if (arg == L"--close-after" && value) options.closeAfterSeconds = _wtoi(args[++i].c_str());
        else if (options.file.empty() && arg.rfind(L"--", 0) != 0) options.file = arg;
        else return false;
    }
    return !options.file.empty();
}

// Selects the root's child item labelled MODULE and opens its Functions
// dialog (posted: the page's thread runs it); returns the dialog once shown.
HWND openFunctions(HWND page, const std::string& module) {
    HWND tree = GetDlgItem(page, IDC_MODULE_TREE);
    const auto next = [&](HTREEITEM item, WPARAM how) {
        return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
    };
    for (HTREEITEM item = next(next(nullptr, TVGN_ROOT), TVGN_CHILD); item; item = next(item, TVGN_NEXT)) {
        wchar_t label[1024] = {};
        TVITEMW read{};
        read.mask = TVIF_TEXT;
        read.hItem = item;
        read.pszText = label;
        read.cchTextMax = 1024;
        SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&read));
        if (vost::utf8Text(label).rfind(module + " ", 0) != 0) continue;
        SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        PostMessageW(page, WM_COMMAND, MAKEWPARAM(IDM_SHOW_FUNCTIONS, 0), 0);
        HWND dialog = nullptr;
        vost::waitUntil([&] { return (dialog = FindWindowW(nullptr, vost::wideText("Functions of " + module).c_str())); },
                        30000);
        return dialog;
    }
    std::fprintf(stderr, "open-properties: no item %s under the root\n", module.c_str());
    return nullptr;
}

// Runs beside the dialog's own (blocked) thread: selects our page, waits for
// its scan, then signals and closes as asked.
void driveSheet(const Options& options) {
    HWND sheet = vost::waitForPropertySheet(30000);
    if (!sheet) {
        std::fprintf(stderr, "open-properties: no Properties dialog appeared\n");
        return;
    }
    HWND page = vost::selectSheetTab(sheet, "Dependencies");
    vost::DependencyExtension* ext = vost::pageExtension(page);
    if (!ext)
        std::fprintf(stderr, "open-properties: no Dependencies page (is vost.dll registered?)\n");
    else
        vost::waitUntil([&] { return ext->scanState == vost::kScanFinished; }, 120000);
    HWND functions = ext && !options.module.empty() ? openFunctions(page, options.module) : nullptr;
    if (!options.readyFile.empty()) {
        if (FILE* f = _wfopen(options.readyFile.c_str(), L"w")) std::fclose(f);
    }
    if (options.closeAfterSeconds >= 0) {
        Sleep(DWORD(options.closeAfterSeconds) * 1000);
        if (functions) SendMessageW(functions, WM_COMMAND, IDCANCEL, 0);
        PostMessageA(sheet, WM_COMMAND, IDCANCEL, 0);
    }
}

}  // namespace

int main() {
    // The arguments as Unicode: an ANSI command line would name another file.
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    const std::vector<std::wstring> args(argv, argv + (argv ? count : 0));
    LocalFree(argv);
    Options options;
    if (!parse(args, options)) {
        std::fprintf(stderr,
                     "usage: open-properties FILE [--functions MODULE] [--ready-file PATH] [--close-after SECONDS]\n");
        return 2;
    }
    std::wstring full(GetFullPathNameW(options.file.c_str(), 0, nullptr, nullptr) + 1, L'\0');
    full.resize(GetFullPathNameW(options.file.c_str(), DWORD(full.size()), &full[0], nullptr));
    const std::string path = vost::utf8Text(full);
    CoInitialize(nullptr);
    const bool shown = vost::showShellProperties(path, [&] { driveSheet(options); });
    CoUninitialize();
    if (!shown) std::fprintf(stderr, "open-properties: the shell shows no Properties dialog for %s\n", path.c_str());
    return shown ? 0 : 1;
}
