#include "analysis/module_node.h"

#include <cstring>

#include "analysis/text.h"

namespace vost {

ModuleNode::ModuleNode(AnalysisPlatform& platform, const char* path, const char* name,
                       ModuleNode* parentNode, int readVersionFlag, bool foundFile)
    : scanned(0), readVersion(readVersionFlag), parent(parentNode), found(foundFile) {
    copyBounded(fullPath, sizeof fullPath, path ? path : "");
    copyBounded(moduleName, sizeof moduleName, name ? name : "");
    if (readVersion && found) readVersionInfo(platform);
}

namespace {
// Appends the decimal digits of a 16-bit value; returns the new end.
char* appendDecimal(char* out, unsigned value) {
    char digits[5];
    int count = 0;
    do {
        digits[count++] = char('0' + value % 10);
        value /= 10;
    } while (value);
    while (count) *out++ = digits[--count];
    return out;
}

// "%d.%d.%d.%d" of the four unsigned 16-bit halves, high half first: at most
// 23 characters. Written by hand because it runs for every module found.
void formatVersion(char (&out)[kVersionCapacity], std::uint32_t ms, std::uint32_t ls) {
    char* end = appendDecimal(out, ms >> 16);
    *end++ = '.';
    end = appendDecimal(end, ms & 0xFFFF);
    *end++ = '.';
    end = appendDecimal(end, ls >> 16);
    *end++ = '.';
    end = appendDecimal(end, ls & 0xFFFF);
    *end = '\0';
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
