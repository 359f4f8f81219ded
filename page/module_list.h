// The module list: one row per distinct module of a scan, five columns, a
// prefix search by module name and sorting by any column.
#pragma once

#include <atomic>
#include <cstdint>

#include "analysis/module_node.h"
#include "component/dependency_extension.h"
#include "page/controls.h"

namespace vost {

constexpr int kColumnCount = 5;
enum ListColumn { kModuleColumn = 0, kDateColumn, kFileVersionColumn, kProductVersionColumn, kPathColumn };

// The column headings of the portable build (the Windows page loads the same
// texts from strings 1 to 5 of the component).
constexpr const char* kColumnTitles[kColumnCount] = {"Module", "Date", "Fileversion",
                                                     "Productversion", "Path"};

// Process-wide: the position requested for the next new row on any page.
// Never lowered and never below the row count of any list, so every new row
// lands at the end of its list.
extern std::atomic<std::int32_t> nextListIndex;

// Appends the node's row and fills its cells. Upper-cases the node's
// moduleName in place, lower-cases its fullPath where the platform's paths
// ignore case (the not-found text always), and stores the file's
// last-write time in the node when it can be read. A node whose time cannot
// be read keeps a zero time, sorts by it, and shows no date. Returns the
// row's index, -1 when the list refused the row.
int addModuleRow(DependencyExtension& ext, ModuleNode& node);

// The first row, in the list's current order, whose Module text begins with
// `name`, case ignored; -1 when there is none.
int findModuleRow(ListControl& list, const char* name);

// A click on the heading of `column`: a second click on the same column
// reverses the order, a click on another one sorts ascending by it.
void sortModuleList(DependencyExtension& ext, int column);

// The list's row comparison. `sortState` is the page's DependencyExtension,
// whose sortColumn and sortAscending it reads.
int compareModuleRows(ModuleNode* first, ModuleNode* second, void* sortState);

}  // namespace vost
