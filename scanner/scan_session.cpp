#include "scanner/scan_session.h"

#include "analysis/text.h"
#include "page/module_list.h"

namespace vost {

std::unique_ptr<ScannedFile> scanFile(const std::string& file,
                                      const std::shared_ptr<PagePlatform>& platform,
                                      std::vector<ScanMessage>*& messageTarget, ScanReach reach,
                                      int sortColumn, int clicks, bool delayLoads,
                                      std::shared_ptr<ModuleCache> modules) {
    auto scanned = std::make_unique<ScannedFile>();
    scanned->file = file;
    DependencyExtension& ext = scanned->ext;
    ext.tree = scanned->tree;
    ext.list = scanned->list;
    ext.platform = platform;
    ext.delayLoads = delayLoads;
    ext.selectedPathAsGiven = true;
    ext.modules = std::move(modules);
    if (file.find('\0') != std::string::npos) {
        scanned->failure = "cannot open the file";
        return scanned;
    }
    ext.selectedPath = file;

    messageTarget = &scanned->messages;
    ext.scanState = kScanRunning;
    const int walked = scanSelectedFile(ext, reach);
    ext.scanState = kScanFinished;
    messageTarget = nullptr;

    if (!walked) {
        // A root that walked nothing either reported why, could not be opened
        // (silently, as on the page), or is a PE file importing nothing.
        if (!scanned->messages.empty()) {
            scanned->failure = "not a module that can be scanned";
        } else if (!platform->mapFile(ext.selectedPath.c_str())) {
            scanned->failure = "cannot open the file";
        }
    }
    for (int i = 0; i < clicks && sortColumn >= 0; ++i) sortModuleList(ext, sortColumn);
    return scanned;
}

}  // namespace vost
