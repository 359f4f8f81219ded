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

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/shell_properties.h"

namespace {

struct Options {
    std::string file;
    std::string readyFile;
    int closeAfterSeconds = -1;
};

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

// Runs beside the dialog's own (blocked) thread: selects our page, waits for
// its scan, then signals and closes as asked.
void driveSheet(const Options& options) {
    HWND sheet = vost::waitForPropertySheet(30000);
    if (!sheet) {
        std::fprintf(stderr, "open-properties: no Properties dialog appeared\n");
        return;
    }
    vost::DependencyExtension* ext = vost::pageExtension(vost::selectSheetTab(sheet, "Dependencies"));
    if (!ext)
        std::fprintf(stderr, "open-properties: no Dependencies page (is vost.dll registered?)\n");
    else
        vost::waitUntil([&] { return ext->scanState == vost::kScanFinished; }, 120000);
    if (!options.readyFile.empty()) {
        if (FILE* f = std::fopen(options.readyFile.c_str(), "w")) std::fclose(f);
    }
    if (options.closeAfterSeconds >= 0) {
        Sleep(DWORD(options.closeAfterSeconds) * 1000);
        PostMessageA(sheet, WM_COMMAND, IDCANCEL, 0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: open-properties FILE [--ready-file PATH] [--close-after SECONDS]\n");
        return 2;
    }
    char full[MAX_PATH] = {};
    GetFullPathNameA(options.file.c_str(), MAX_PATH, full, nullptr);
    CoInitialize(nullptr);
    const bool shown = vost::showShellProperties(full, [&] { driveSheet(options); });
    CoUninitialize();
    if (!shown) std::fprintf(stderr, "open-properties: the shell shows no Properties dialog for %s\n", full);
    return shown ? 0 : 1;
}
