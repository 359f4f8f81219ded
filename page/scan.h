// The scan of the selected file: the root node, item and row, the module
// walk, and the depth-first expansion of the whole tree.
#pragma once

#include "analysis/module_tree.h"
#include "component/dependency_extension.h"
#include "page/closure_check.h"

namespace vost {

// How far a scan goes: the whole closure, or the root's own references only.
enum class ScanReach { closure, direct };

// Entry of the page's scan worker: scanState 1, the scan, its check and the
// marks of the check, scanState 2.
void scanThread(DependencyExtension& ext);

// The whole scan of ext.selectedPath into ext.tree and ext.list. Returns what
// scanModule returned for the root (0 when the root could not be walked or
// references nothing). With `record`, every item the scan put in the tree is
// added to it, in pre-order (the tree's whole shape, read without asking it).
int scanSelectedFile(DependencyExtension& ext, ScanReach reach = ScanReach::closure,
                     TreeRecord* record = nullptr);

// Walks the children of `item` depth first in sibling order, examining each
// module not seen before and adding its row after those of the modules first
// found below it. Does nothing for a null item. With `record`, whose last
// entry is `item`'s, the items below it are added in pre-order.
void expandModuleItem(DependencyExtension& ext, TreeItem item, TreeRecord* record = nullptr);

// Checks the scanned tree as vostscan --check does, marks the failing
// references in the tree and the list, and keeps the marks and findings in
// ext.checkMarks (set before the marks go to the controls). Nothing when the
// page has gone meanwhile.
void checkScannedTree(DependencyExtension& ext, const TreeRecord& record);

// The drive and folder of `path` (through its last '\\' or '/'), as
// the module search's stand-in for the current directory; empty when the path
// names no folder.
std::string folderOfPath(const std::string& path);

// The file name and extension of `path`.
const char* fileNameOfPath(const char* path);

}  // namespace vost
