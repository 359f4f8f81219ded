// One scan's worth of test doubles: a fake platform, a recording tree, the
// node store, and a root node placed in the tree as the scan worker places it.
#pragma once

#include <string>
#include <vector>

#include "analysis/module_node.h"
#include "analysis/scan_module.h"
#include "tests/support/fake_platform.h"
#include "tests/support/recording_tree.h"

namespace vost::test {

struct TestScan {
    FakePlatform platform;
    RecordingTree tree;
    NodeStore nodes;
    ScanContext ctx{platform, nodes};

    // A root node for `path` (version read, no parent) with its tree item.
    ModuleNode& root(const std::string& path, const std::string& name = "ROOT.EXE");

    // A node's children as the tree holds them (label order).
    std::vector<ModuleNode*> childrenOf(const ModuleNode& node) const;
    std::vector<std::string> childLabels(const ModuleNode& node) const;
    // The names of the module references handed to addDependency, in order.
    std::vector<std::string> referencedNames() const;
};

}  // namespace vost::test
