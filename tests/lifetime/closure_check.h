// What a scan of a generated closure must show, checked against the
// generator's own model rather than against another scan: every module of
// the closure exactly once in the list, and in the tree each module's first
// occurrence (in walk order) carrying exactly the module's imports as
// children, every later occurrence none.
#pragma once

#include <string>
#include <vector>

#include "tests/support/closure_generator.h"

namespace vost::test {

// One tree item in pre-order (the walk's order), with its depth below the root.
struct FlatItem {
    int depth = 0;
    std::string label;
    int hasChildren = -1;  // the item's has-children flag; -1 when not known

    bool operator==(const FlatItem& o) const {
        return depth == o.depth && label == o.label && hasChildren == o.hasChildren;
    }
};

// gtest expectations. `listModules` is the list's Module column, row by row.
void expectClosureShown(const GeneratedClosure& closure, const std::vector<FlatItem>& tree,
                        const std::vector<std::string>& listModules);

// The deepest item's depth.
int treeDepth(const std::vector<FlatItem>& tree);

}  // namespace vost::test
