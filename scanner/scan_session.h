// One headless scan: the page's whole scan of one file over in-memory
// controls, and what it reported.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "component/dependency_extension.h"
#include "page/scan.h"
#include "platform/memory/memory_list.h"
#include "platform/memory/memory_tree.h"
#include "scanner/check_json.h"
#include "scanner/function_tables.h"

namespace vost {

struct ScanMessage {
    std::string text;
    std::string caption;
};

struct ScannedFile {
    std::string file;  // as given
    DependencyExtension ext;
    std::shared_ptr<MemoryTree> tree = std::make_shared<MemoryTree>();
    std::shared_ptr<MemoryList> list = std::make_shared<MemoryList>();
    std::vector<ScanMessage> messages;
    // Empty when the root file was scanned; else why it could not be.
    std::string failure;
    // With --check: the findings of every module of the tree.
    std::unique_ptr<ClosureCheck> check;
    // With --imports or --exports: what each item takes and the file gives.
    std::unique_ptr<FunctionTables> functions;
};

// Scans `file` with `platform` (its messages must reach `messages` of the
// returned record through `messageTarget`, see scanner.cpp). Then sorts the
// list as `clicks` clicks on `sortColumn` would (none for -1).
// The root cannot be scanned when its path does not fit, when it cannot be
// opened, or when the scan of the root reported a message.
// With `delayLoads` the walks add the delay-load directories' modules too.
// `modules` (the run's, shared by every file) holds the facts of each module
// file once read; null: each file's scan reads for itself.
std::unique_ptr<ScannedFile> scanFile(const std::string& file,
                                      const std::shared_ptr<PagePlatform>& platform,
                                      std::vector<ScanMessage>*& messageTarget, ScanReach reach,
                                      int sortColumn = -1, int clicks = 0, bool delayLoads = false,
                                      std::shared_ptr<ModuleCache> modules = nullptr);

}  // namespace vost
