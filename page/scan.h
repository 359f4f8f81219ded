// The scan of the selected file: the root node, item and row, the module
// walk, and the depth-first expansion of the whole tree.
#pragma once

#include "analysis/module_tree.h"
#include "component/dependency_extension.h"

namespace vost {

// How far a scan goes: the whole closure, or the root's own references only.
enum class ScanReach { closure, direct };

// Entry of the page's scan worker: scanState 1, the scan, scanState 2.
void scanThread(DependencyExtension& ext);

// The whole scan of ext.selectedPath into ext.tree and ext.list. Returns what
// scanModule returned for the root (0 when the root could not be walked or
// references nothing).
int scanSelectedFile(DependencyExtension& ext, ScanReach reach = ScanReach::closure);

// Walks the children of `item` depth first in sibling order, examining each
// module not seen before and adding its row after those of the modules first
// found below it. Does nothing for a null item.
void expandModuleItem(DependencyExtension& ext, TreeItem item);

// The drive and folder of `path` (through its last '\\' or '/'), as
// the module search's stand-in for the current directory; empty when the path
// names no folder.
void folderOfPath(const char* path, char (&folder)[kPathCapacity]);

// The file name and extension of `path`.
const char* fileNameOfPath(const char* path);

}  // namespace vost
