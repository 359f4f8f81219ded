#include "tests/lifetime/page_probe.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <fstream>

#include "tests/shell/scanner_compare.h"

namespace vost::test {

PageOnFile openPageOn(const std::string& file) {
    PageOnFile opened;
    ComPtr<IDataObject> data = shellDataObject({file});
    opened.ext = createExtension();
    if (!data || !opened.ext) return opened;
    opened.ext->Initialize(nullptr, data.get(), nullptr);
    const std::vector<HPROPSHEETPAGE> pages = addPages(opened.ext.get());
    if (pages.size() == 1) opened.sheet = std::make_unique<Sheet>(pages, 1);
    return opened;
}

namespace {
HTREEITEM nextItem(HWND tree, UINT relation, HTREEITEM item) {
    return reinterpret_cast<HTREEITEM>(
        SendMessageA(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}
}  // namespace

std::vector<FlatItem> readFlatTree(HWND page) {
    HWND tree = GetDlgItem(page, 1000);
    std::vector<FlatItem> items;
    std::vector<HTREEITEM> open;
    HTREEITEM item = nextItem(tree, TVGN_ROOT, nullptr);
    while (item) {
        int hasChildren = 0;
        std::string label = itemText(tree, item, &hasChildren);
        items.push_back(FlatItem{int(open.size()), std::move(label), hasChildren});
        if (HTREEITEM child = nextItem(tree, TVGN_CHILD, item)) {
            open.push_back(item);
            item = child;
            continue;
        }
        item = nextItem(tree, TVGN_NEXT, item);
        while (!item && !open.empty()) {
            item = nextItem(tree, TVGN_NEXT, open.back());
            open.pop_back();
        }
    }
    return items;
}

namespace {
void flatten(const JsonValue& item, int depth, std::vector<FlatItem>& out) {
    out.push_back(FlatItem{depth, item["label"].text, int(item["hasChildren"].integer)});
    for (const JsonValue& child : item["children"].items) flatten(child, depth + 1, out);
}

struct ScannerJob {
    std::string file;
    ScannerView view;
};

DWORD WINAPI runScannerJob(void* argument) {
    auto* job = static_cast<ScannerJob*>(argument);
    try {
        const JsonValue json = scannerOutput(job->file);
        flatten(json["tree"], 0, job->view.tree);
        const char* keys[] = {"module", "date", "fileVersion", "productVersion", "path"};
        for (const JsonValue& row : json["list"].items) {
            ListRow cells;
            for (int column = 0; column < 5; ++column) cells[std::size_t(column)] = row[keys[column]].text;
            job->view.list.push_back(cells);
        }
        job->view.ok = true;
    } catch (...) {
        job->view.ok = false;
    }
    return 0;
}
}  // namespace

ScannerView scannerView(const std::string& file) {
    ScannerJob job{file, {}};
    // The reader and the comparison recurse once per level of the tree.
    HANDLE thread = CreateThread(nullptr, 256u << 20, runScannerJob, &job,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) return {};
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return job.view;
}

std::string writeGeneratedClosure(const std::string& folder, const GeneratedClosure& closure) {
    writeClosure(closure, [&](const std::string& name, const Bytes& bytes) {
        std::ofstream file(folder + "\\" + name, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    });
    return folder + "\\" + closure.root.fileName;
}

namespace {
// Every open kernel handle answers GetHandleInformation; handle values are
// multiples of 4 handed out from the bottom of the table.
DWORD probeHandles() {
    DWORD count = 0, flags = 0;
    for (UINT_PTR value = 4; value < 0x40000; value += 4)
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    return count;
}

}  // namespace

DWORD countThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    DWORD count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

ProcessCounts processCounts() {
    ProcessCounts counts;
    DWORD heapCount = GetProcessHeaps(0, nullptr);
    std::vector<HANDLE> heaps(heapCount + 16);
    heapCount = GetProcessHeaps(DWORD(heaps.size()), heaps.data());
    for (DWORD i = 0; i < heapCount && i < heaps.size(); ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                counts.heapBytes += entry.cbData;
                ++counts.heapBlocks;
            }
        HeapUnlock(heaps[i]);
    }
    counts.threads = countThreads();
    counts.handles = probeHandles();
    GetProcessHandleCount(GetCurrentProcess(), &counts.reportedHandles);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof memory)) {
        counts.privateBytes = memory.PrivateUsage;
        counts.workingSet = memory.WorkingSetSize;
        counts.peakWorkingSet = memory.PeakWorkingSetSize;
    }
    return counts;
}

std::string currentDirectory() {
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    return folder;
}

}  // namespace vost::test
