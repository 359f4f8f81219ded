#include "tests/support/recording_tree.h"

#include <algorithm>

#include "tests/support/fake_platform.h"

namespace vost::test {

TreeItem RecordingTree::insertSorted(TreeItem parent, const char* label, const int* image, ModuleNode* node) {
    if (failInsertions) return nullptr;
    items_.push_back(Item{parent, label, image != nullptr, image ? *image : 0, node, asciiLowerCopy(label)});
    TreeItem handle = &items_.back();
    std::vector<TreeItem>& siblings = children_[parent];
    // After every sibling whose label sorts before or equal to the new one.
    const auto at = std::upper_bound(siblings.begin(), siblings.end(), items_.back().sortKey,
                                     [this](const std::string& key, TreeItem sibling) {
                                         return key < item(sibling).sortKey;
                                     });
    siblings.insert(at, handle);
    insertionOrder.push_back(handle);
    return handle;
}

const std::vector<TreeItem>& RecordingTree::children(TreeItem parent) const {
    static const std::vector<TreeItem> none;
    const auto it = children_.find(parent);
    return it == children_.end() ? none : it->second;
}

std::vector<std::string> RecordingTree::childLabels(TreeItem parent) const {
    std::vector<std::string> labels;
    for (TreeItem child : children(parent)) labels.push_back(item(child).label);
    return labels;
}

}  // namespace vost::test
