#include "page/scan_rows.h"

#include <algorithm>
#include <cstring>

#include "analysis/text.h"
#include "page/module_list.h"

namespace vost {

namespace {
bool isAscii(const char* text) {
    for (; *text; ++text)
        if (static_cast<unsigned char>(*text) >= 0x80) return false;
    return true;
}
}  // namespace

ScanRows::ScanRows(ListControl& list) : list_(list) {
    const int rows = list.rowCount();
    for (int row = 0; row < rows; ++row) noteRow(list.cellText(row, kModuleColumn).c_str());
}

void ScanRows::addRow(DependencyExtension& ext, ModuleNode& node) {
    if (addModuleRow(ext, node) >= 0) noteRow(node.moduleName.c_str());
}

void ScanRows::noteRow(const char* moduleText) {
    const std::string text = moduleText ? moduleText : "";
    if (!isAscii(text.c_str())) {
        onlyAscii_ = false;
        return;
    }
    const std::string lower = lowerAscii(text);
    const auto at = firstNotBefore(lower);
    order_.insert(at, std::uint32_t(texts_.size()));
    texts_.append(lower.c_str(), lower.size() + 1);
}

std::vector<std::uint32_t>::iterator ScanRows::firstNotBefore(const std::string& key) {
    return std::lower_bound(order_.begin(), order_.end(), key, [&](std::uint32_t start, const std::string& k) {
        return std::strcmp(texts_.c_str() + start, k.c_str()) < 0;
    });
}

bool ScanRows::hasRow(const char* name) {
    if (!name) return false;
    if (!onlyAscii_ || !isAscii(name)) return list_.findPrefix(name) != -1;
    // The texts that begin with the name sort at and right after it.
    const std::string prefix = lowerAscii(name);
    const auto first = firstNotBefore(prefix);
    return first != order_.end() && std::strncmp(texts_.c_str() + *first, prefix.c_str(), prefix.size()) == 0;
}

}  // namespace vost
