// The record of one Properties dialog: the extension object that the shell
// talks to and the whole state of that dialog's Dependencies page.
//
// The COM object is this record. Its first two members are the interface
// tables that the Windows layer fills (IShellExtInit, then
// IShellPropSheetExt), so a pointer to the record is a pointer to its first
// interface and the address of the second member is the second interface.
// The fields the page and the COM code share follow in their fixed order;
// after them the page's own state: its controls, the platform of its scan
// and the node store. Those are held by shared ownership, so the scan worker
// can keep all of them alive for its whole run even when the page (and with it
// this record) is gone before the scan ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "analysis/module_cache.h"
#include "analysis/module_node.h"
#include "analysis/platform.h"
#include "page/controls.h"
#include "page/page_platform.h"

namespace vost {

struct CheckMarks;

// Values of scanState.
constexpr std::uint8_t kScanNotStarted = 0;
constexpr std::uint8_t kScanRunning = 1;
constexpr std::uint8_t kScanFinished = 2;

// sortColumn before the first sort.
constexpr std::int32_t kNoSortColumn = -1;

struct DependencyExtension {
    // Interface tables, filled by the Windows COM object; null here.
    const void* shellExtInitTable = nullptr;
    const void* propSheetExtTable = nullptr;

    // The single selected file, UTF-8; the scan lower-cases it in place.
    std::string selectedPath;
    // COM reference count (AddRef and Release).
    std::uint32_t refCount = 0;
    // The shell's IDataObject, one reference owned; null until Initialize.
    void* dataObject = nullptr;
    // The page's dialog window; null until the page is initialised.
    WindowHandle pageWindow = nullptr;
    // kScanNotStarted, kScanRunning or kScanFinished. Written by the worker,
    // read by the page's thread: one byte, always read and written whole.
    std::atomic<std::uint8_t> scanState{kScanNotStarted};
    // The column of the last sort (kNoSortColumn before the first) and its
    // direction (1 ascending, 0 descending). The list's sort gets the whole
    // record as its parameter and reads this pair from it.
    std::int32_t sortColumn = kNoSortColumn;
    std::int32_t sortAscending = 1;

    // The page's state. The Windows layer wraps the page's tree (id 1000) and
    // list (id 1012); the headless scanner gives in-memory controls.
    std::shared_ptr<TreeControl> tree;
    std::shared_ptr<ListControl> list;
    // The platform of this page's scan; its search folder is the selected
    // file's folder while the scan runs.
    std::shared_ptr<PagePlatform> platform;
    // Every node of the scan. Tree items and list rows point into it, so it
    // lives at least as long as the controls that show them.
    std::shared_ptr<NodeStore> nodes = std::make_shared<NodeStore>();
    // The facts of each module file, read once for the walk, the check and
    // the Functions dialog (the headless scanner shares one among all its
    // files); null: each reader reads for itself.
    std::shared_ptr<ModuleCache> modules;
    // The scan adds delay-loaded modules too (set by the headless scanner).
    bool delayLoads = false;
    // The selected file keeps the path as given where found paths are shown
    // lower-cased (the headless scanner prints its argument as typed; the
    // page shows it lower-cased like every path).
    bool selectedPathAsGiven = false;
    // The check's marks and findings, set by the worker before the scan
    // finishes; the page's thread reads them once scanState is
    // kScanFinished.
    std::shared_ptr<const CheckMarks> checkMarks;
    // What the page's thread made for the page's window (its state images),
    // let go when the window is destroyed.
    std::shared_ptr<void> pageResources;
};

static_assert(std::is_standard_layout<DependencyExtension>::value,
              "the interface tables must stay at the start of the record");

}  // namespace vost
