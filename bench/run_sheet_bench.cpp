// How the property sheet answers while its page records a run: the page's
// Run and Record runs a program (by default runcases.exe making 1,000 fresh
// loads, four debug events each, so that the record streams in all along)
// while another thread sends the sheet a message every 10 ms and times the
// answer. Run by bench/run_bench.py; not a test.
//
//   run_sheet_bench.exe PROGRAM [ARGUMENTS]
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/shell/shell_host.h"

using namespace vost::test;

namespace {
BOOL CALLBACK findRunDialog(HWND window, LPARAM out) {
    if (windowText(window) == "Run and Record") *reinterpret_cast<HWND*>(out) = window;
    return TRUE;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: run_sheet_bench PROGRAM [ARGUMENTS]\n");
        return 2;
    }
    CoInitialize(nullptr);
    OpenedPage opened = openPage(argv[1]);
    if (!opened.page) return 1;
    SendMessageW(opened.page, WM_COMMAND, MAKEWPARAM(IDM_RUN_AND_RECORD, 0), 0);
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findRunDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog) return 1;
    // The arguments as given, in UTF-16 whatever the code page.
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    SetDlgItemTextW(dialog, IDC_RUN_ARGUMENTS, wide && count > 2 ? wide[2] : L"bench 0 1000 fresh");
    LocalFree(wide);

    std::atomic<bool> running{true};
    std::vector<double> answers;
    HWND sheet = opened.sheet->window();
    std::thread asking([&] {
        LARGE_INTEGER frequency, before, after;
        QueryPerformanceFrequency(&frequency);
        while (running) {
            DWORD_PTR result = 0;
            QueryPerformanceCounter(&before);
            SendMessageTimeoutW(sheet, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
            QueryPerformanceCounter(&after);
            answers.push_back((after.QuadPart - before.QuadPart) * 1000.0 / frequency.QuadPart);
            Sleep(10);
        }
    });
    const DWORD started = GetTickCount();
    click(dialog, IDC_RUN_START);
    const bool ended = pumpUntil(
        [&] { return windowText(GetDlgItem(dialog, IDC_RUN_STATUS)).find("The page shows the run") != std::string::npos; },
        300000);
    const DWORD took = GetTickCount() - started;
    running = false;
    asking.join();
    std::sort(answers.begin(), answers.end());
    const auto at = [&](double share) { return answers.empty() ? 0.0 : answers[std::size_t(share * (answers.size() - 1))]; };
    std::printf("run %s in %.2f s; the sheet answered %zu messages: median %.2f ms, 99th percentile %.2f ms, "
                "slowest %.2f ms\n",
                ended ? "ended" : "did not end", took / 1000.0, answers.size(), at(0.5), at(0.99), at(1.0));
    // VOST_SHOT_PAUSE=N: the sheet and the dialog stay N seconds more (for a screenshot).
    if (const char* pause = std::getenv("VOST_SHOT_PAUSE")) pumpFor(DWORD(std::atoi(pause)) * 1000);
    opened.sheet.reset();
    opened.ext.reset();
    CoUninitialize();
    return ended ? 0 : 1;
}
