#include "analysis/module_node.h"

#include <cstring>

#include "analysis/module_facts.h"
#include "analysis/text.h"

namespace vost {

ModuleNode::ModuleNode(AnalysisPlatform& platform, std::string path, std::string name,
                       ModuleNode* parentNode, int readVersionFlag, bool foundFile, const ModuleFacts* facts)
    : scanned(0),
      readVersion(readVersionFlag),
      fullPath(std::move(path)),
      moduleName(std::move(name)),
      parent(parentNode),
      found(foundFile) {
    if (readVersion && found) readVersionInfo(platform, facts);
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
std::string formatVersion(std::uint32_t ms, std::uint32_t ls) {
    char out[24];
    char* end = appendDecimal(out, ms >> 16);
    *end++ = '.';
    end = appendDecimal(end, ms & 0xFFFF);
    *end++ = '.';
    end = appendDecimal(end, ls >> 16);
    *end++ = '.';
    end = appendDecimal(end, ls & 0xFFFF);
    return std::string(out, end);
}
}  // namespace

void ModuleNode::readVersionInfo(AnalysisPlatform& platform, const ModuleFacts* facts) {
    // The platform never throws and bounds its own reads; both texts are
    // filled from one successful query or both stay empty.
    FixedFileVersion version;
    if (facts ? !facts->hasVersion : !platform.readFixedVersion(fullPath.c_str(), version)) {
        fileVersion.clear();
        productVersion.clear();
        return;
    }
    if (facts) version = facts->version;
    fileVersion = formatVersion(version.fileVersionMS, version.fileVersionLS);
    productVersion = formatVersion(version.productVersionMS, version.productVersionLS);
}

void ModuleNode::markIfRepeatsAncestor() {
    for (const ModuleNode* ancestor = parent; ancestor; ancestor = ancestor->parent) {
        if (moduleName == ancestor->moduleName) {
            scanned = 1;
            return;
        }
    }
}

}  // namespace vost
