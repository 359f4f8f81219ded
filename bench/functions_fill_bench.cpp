// Times the Functions dialog on a module with many exports (run by
// bench/functions_bench.py --dialog and bench/undecorate_bench.py, built with
// the shell tests): the page of PROGRAM opened, MODULE's tree item selected,
// then per run the time from the command to the dialog showing its filled
// lists, until its worker has made every readable name (Copy waits for it)
// with the longest the sheet took to answer meanwhile, a filter typed, a
// sort by name, and the undecorated names turned on, with the process's
// committed memory per export while the dialog is open.
//   functions_fill_bench.exe PROGRAM MODULE [RUNS]
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/shell/shell_host.h"

using namespace vost::test;

namespace {
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::size_t committed() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PagefileUsage;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: functions_fill_bench PROGRAM MODULE [RUNS]\n");
        return 2;
    }
    const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
    CoInitialize(nullptr);
    OpenedPage opened = openPage(argv[1]);
    if (!opened.page || !selectModule(opened.page, argv[2], false)) {
        std::fprintf(stderr, opened.page ? "no item %s in the page\n" : "no page for %s\n", opened.page ? argv[2] : argv[1]);
        return 1;
    }
    std::vector<double> open, made, answer, filter, sort, undecorate;
    long long rows = 0, perExport = 0;
    for (int run = 0; run < runs; ++run) {
        const std::size_t before = committed();
        const Clock::time_point start = Clock::now();
        const bool shown = withFunctionsDialog(opened.page, [&](HWND dialog) {
            HWND exports = GetDlgItem(dialog, IDC_EXPORT_LIST);
            while (SendMessageW(exports, LVM_GETITEMCOUNT, 0, 0) == 0) Sleep(1);
            UpdateWindow(exports);  // the first screenful of rows asked for and drawn
            open.push_back(msSince(start));
            rows = SendMessageW(exports, LVM_GETITEMCOUNT, 0, 0);
            if (IsDlgButtonChecked(dialog, IDC_UNDECORATE) == BST_CHECKED) {
                // Copy of the export list waits for the worker's names.
                if (OpenClipboard(nullptr)) {
                    EmptyClipboard();
                    CloseClipboard();
                }
                NMHDR focus{exports, IDC_EXPORT_LIST, UINT(NM_SETFOCUS)};
                SendMessageW(dialog, WM_NOTIFY, IDC_EXPORT_LIST, reinterpret_cast<LPARAM>(&focus));
                PostMessageW(dialog, WM_COMMAND, IDC_COPY_FUNCTIONS, 0);
                double longest = 0;
                for (;;) {
                    const Clock::time_point asked = Clock::now();
                    DWORD_PTR result = 0;
                    SendMessageTimeoutW(GetParent(opened.page), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 60000, &result);
                    longest = std::max(longest, msSince(asked));
                    const std::string text = clipboardText();
                    if (!text.empty() && text != "<busy>") break;
                    Sleep(1);
                }
                made.push_back(msSince(start));
                answer.push_back(longest);
            }
            perExport = rows ? (long long)(committed() - before) / rows : 0;
            if (IsDlgButtonChecked(dialog, IDC_UNDECORATE) == BST_CHECKED) {
                CheckDlgButton(dialog, IDC_UNDECORATE, BST_UNCHECKED);
                SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_UNDECORATE, BN_CLICKED), 0);
            }
            Clock::time_point at = Clock::now();
            SetDlgItemTextW(dialog, IDC_FUNCTION_FILTER, L"f1");
            filter.push_back(msSince(at));
            at = Clock::now();
            clickColumn(dialog, 2, IDC_EXPORT_LIST);
            sort.push_back(msSince(at));
            at = Clock::now();
            CheckDlgButton(dialog, IDC_UNDECORATE, BST_CHECKED);
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_UNDECORATE, BN_CLICKED), 0);
            undecorate.push_back(msSince(at));
        });
        if (!shown) {
            std::fprintf(stderr, "the dialog did not open\n");
            return 1;
        }
    }
    std::printf("%lld exports, %d runs (median ms): open and fill %.1f, every name made %.1f (longest wait for the "
                "sheet's answer meanwhile %.1f), filter %.1f, sort by name %.1f, undecorate %.1f; committed while "
                "open: %lld bytes per export\n",
                rows, runs, median(open), median(made), median(answer), median(filter), median(sort), median(undecorate),
                perExport);
    return 0;
}
