#include "page/module_list.h"

#include <string>

#include "analysis/text.h"

namespace vost {

std::atomic<std::int32_t> nextListIndex{0};

namespace {
// The requested position of a new row. The counter wraps (to negative
// values) only after 2^31 rows; a wrapped value still asks for the end.
int requestedRowPosition(ListControl& list) {
    const std::int32_t position = nextListIndex.fetch_add(1);
    return position >= 0 ? position : list.rowCount();
}

int compareTimes(const FileTime& a, const FileTime& b) {
    if (a.dwHighDateTime != b.dwHighDateTime) return a.dwHighDateTime < b.dwHighDateTime ? -1 : 1;
    if (a.dwLowDateTime != b.dwLowDateTime) return a.dwLowDateTime < b.dwLowDateTime ? -1 : 1;
    return 0;
}
}  // namespace

int addModuleRow(DependencyExtension& ext, ModuleNode& node) {
    ListControl& list = *ext.list;
    const int position = requestedRowPosition(list);

    for (char& c : node.moduleName) c = asciiUpper(c);
    // A module that was not found has no file whose time could be read.
    FileTime written;
    if (node.found && ext.platform->lastWriteTime(node.fullPath.c_str(), written)) node.lastWriteTime = written;
    if (!node.found || ext.platform->pathsIgnoreCase()) node.fullPath = lowerAscii(std::move(node.fullPath));

    // The date is the UTC date of the stored time. A time never read is no
    // date at all, rather than the first day of 1601.
    const std::string date =
        node.lastWriteTime.value() != 0 ? ext.platform->formatShortDate(node.lastWriteTime) : std::string();
    // The row with all its cells in one request: the page's thread never
    // shows it half filled, and the scan waits for it once.
    const char* const cells[kColumnCount] = {node.moduleName.c_str(), date.c_str(), node.fileVersion.c_str(),
                                             node.productVersion.c_str(), node.fullPath.c_str()};
    return list.insertFullRow(position, cells, &node);
}

int findModuleRow(ListControl& list, const char* name) { return list.findPrefix(name); }

void sortModuleList(DependencyExtension& ext, int column) {
    if (column == ext.sortColumn) {
        ext.sortAscending = ext.sortAscending ? 0 : 1;
    } else {
        ext.sortColumn = column;
        ext.sortAscending = 1;
    }
    WaitCursor wait(*ext.platform);
    ext.list->sort(compareModuleRows, &ext);
}

int compareModuleRows(ModuleNode* first, ModuleNode* second, void* sortState) {
    const auto& state = *static_cast<const DependencyExtension*>(sortState);
    int result = 0;
    switch (state.sortColumn) {
    case kModuleColumn: result = compareIgnoringCase(first->moduleName.c_str(), second->moduleName.c_str()); break;
    case kDateColumn: result = compareTimes(first->lastWriteTime, second->lastWriteTime); break;
    case kFileVersionColumn: result = compareIgnoringCase(first->fileVersion.c_str(), second->fileVersion.c_str()); break;
    case kProductVersionColumn:
        result = compareIgnoringCase(first->productVersion.c_str(), second->productVersion.c_str());
        break;
    case kPathColumn: result = compareIgnoringCase(first->fullPath.c_str(), second->fullPath.c_str()); break;
    default: result = 0; break;
    }
    return state.sortAscending ? result : -result;
}

}  // namespace vost
