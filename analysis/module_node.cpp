#include "analysis/module_node.h"

#include <cstdio>
#include <cstring>

#include "analysis/text.h"

namespace vost {

ModuleNode::ModuleNode(AnalysisPlatform& platform, const char* path, const char* name,
                       ModuleNode* parentNode, int readVersionFlag)
    : scanned(0), readVersion(readVersionFlag), parent(parentNode) {
    copyBounded(fullPath, sizeof fullPath, path ? path : "");
    copyBounded(moduleName, sizeof moduleName, name ? name : "");
    if (readVersion) readVersionInfo(platform);
}

namespace {
void formatVersion(char (&out)[kVersionCapacity], std::uint32_t ms, std::uint32_t ls) {
    std::snprintf(out, sizeof out, "%u.%u.%u.%u", unsigned(ms >> 16), unsigned(ms & 0xFFFF),
                  unsigned(ls >> 16), unsigned(ls & 0xFFFF));
}
}  // namespace

void ModuleNode::readVersionInfo(AnalysisPlatform& platform) {
    // The platform never throws and bounds its own reads; both texts are
    // filled from one successful query or both stay empty.
    FixedFileVersion version;
    if (!platform.readFixedVersion(fullPath, version)) {
        fileVersion[0] = productVersion[0] = '\0';
        return;
    }
    formatVersion(fileVersion, version.fileVersionMS, version.fileVersionLS);
    formatVersion(productVersion, version.productVersionMS, version.productVersionLS);
}

void ModuleNode::markIfRepeatsAncestor() {
    for (const ModuleNode* ancestor = parent; ancestor; ancestor = ancestor->parent) {
        if (std::strcmp(moduleName, ancestor->moduleName) == 0) {
            scanned = 1;
            return;
        }
    }
}

}  // namespace vost
