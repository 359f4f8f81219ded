// The page under Wine for load and lifetime tests: opening it on a file
// without a time limit of its own, reading its tree without recursion (the
// generated closures nest thousands of levels deep), the scanner's view of
// the same file, and what the process holds (heap, handles, memory).
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "tests/lifetime/closure_check.h"
#include "tests/shell/shell_host.h"

namespace vost::test {

// A sheet with the component's page for one file, the scan started.
struct PageOnFile {
    ComPtr<IShellExtInit> ext;
    std::unique_ptr<Sheet> sheet;
    HWND page() const { return sheet ? sheet->page(1) : nullptr; }
    bool finished() const { return ext && recordOf(ext.get()).scanState == kScanFinished; }
};
PageOnFile openPageOn(const std::string& file);

std::vector<FlatItem> readFlatTree(HWND page);  // pre-order, iteratively

// The scanner's tree and list for the file (vostscan.exe --json beside the
// program), parsed on a thread with a stack large enough for any depth.
struct ScannerView {
    std::vector<FlatItem> tree;
    std::vector<ListRow> list;
    bool ok = false;
};
ScannerView scannerView(const std::string& file);

// Writes a generated closure into the folder; returns the root's path.
std::string writeGeneratedClosure(const std::string& folder, const GeneratedClosure& closure);

struct ProcessCounts {
    std::size_t heapBytes = 0;   // busy bytes in every heap of the process
    std::size_t heapBlocks = 0;
    DWORD handles = 0;           // open kernel handles, counted by probing
    DWORD reportedHandles = 0;   // GetProcessHandleCount (0 under Wine 8)
    std::size_t privateBytes = 0;
    std::size_t workingSet = 0;
    std::size_t peakWorkingSet = 0;
    DWORD threads = 0;           // threads of this process (tool-help snapshot)
};
ProcessCounts processCounts();
DWORD countThreads();  // threads of this process now

std::string currentDirectory();

}  // namespace vost::test
