// page_load_probe FILE [ROWS]: opens the Dependencies page on FILE in a
// modeless sheet, waits for its scan and prints one line of key=value pairs:
// the scan's wall time (from opening the sheet to the end of the scan and its
// check), the tree's items and the list's rows, and the process's memory
// afterwards. With ROWS, also the time until the list first held ROWS rows:
// the walk's end, before the check.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

#include "tests/lifetime/page_probe.h"

using namespace vost::test;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: page_load_probe FILE [ROWS]\n");
        return 2;
    }
    CoInitialize(nullptr);
    if (!Component::get().module) {
        std::fprintf(stderr, "page_load_probe: vost.dll not loaded\n");
        return 1;
    }
    const ProcessCounts before = processCounts();
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    PageOnFile opened = openPageOn(argv[1]);
    if (!opened.sheet) return 1;
    // The loop a host runs, and no more: the scan's messages are handled as
    // they come; a stray message box is looked for every tenth of a second
    // (looking at every window on every wake-up would cost more than the
    // page). The list's rows are counted at most every few milliseconds, through a
    // handle asked once: the worker wakes this loop for every module.
    DWORD boxesChecked = GetTickCount(), rowsCounted = 0;
    const LRESULT rows = argc > 2 ? LRESULT(std::atol(argv[2])) : 0;
    const HWND listWindow = GetDlgItem(opened.page(), 1012);
    LARGE_INTEGER walked{};
    pumpUntil([&] {
        if (rows && !walked.QuadPart && GetTickCount() != rowsCounted) {
            rowsCounted = GetTickCount();
            if (SendMessageA(listWindow, LVM_GETITEMCOUNT, 0, 0) >= rows) QueryPerformanceCounter(&walked);
        }
        if (GetTickCount() - boxesChecked >= 100) {
            closeMessageBoxes("VOST");
            boxesChecked = GetTickCount();
        }
        return opened.finished();
    }, 3600 * 1000);
    QueryPerformanceCounter(&end);
    const ProcessCounts after = processCounts();
    const std::vector<FlatItem> tree = readFlatTree(opened.page());
    const std::vector<ListRow> list = readList(opened.page());
    if (rows && !walked.QuadPart) walked = end;
    std::printf("walkSeconds=%.3f seconds=%.3f items=%u rows=%u peakWorkingSet=%u workingSet=%u privateBytes=%u "
                "privateBytesBefore=%u heapBytes=%u heapBytesBefore=%u handles=%lu\n",
                double(walked.QuadPart - start.QuadPart) / double(frequency.QuadPart),
                double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart),
                unsigned(tree.size()), unsigned(list.size()), unsigned(after.peakWorkingSet),
                unsigned(after.workingSet), unsigned(after.privateBytes), unsigned(before.privateBytes),
                unsigned(after.heapBytes), unsigned(before.heapBytes), after.handles);
    std::fflush(stdout);
    opened.sheet.reset();
    opened.ext.reset();
    CoUninitialize();
    return 0;
}
