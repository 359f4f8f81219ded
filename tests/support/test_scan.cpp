#include "tests/support/test_scan.h"

namespace vost::test {

ModuleNode& TestScan::root(const std::string& path, const std::string& name) {
    ModuleNode* node = nodes.create(platform, path.c_str(), name.c_str(), nullptr, 1);
    node->treeWindow = &tree;
    node->treeItem = tree.insertSorted(nullptr, (name + "(" + path + ")").c_str(), nullptr, node);
    return *node;
}

std::vector<ModuleNode*> TestScan::childrenOf(const ModuleNode& node) const {
    std::vector<ModuleNode*> result;
    for (TreeItem child : tree.children(node.treeItem)) result.push_back(tree.item(child).node);
    return result;
}

std::vector<std::string> TestScan::childLabels(const ModuleNode& node) const {
    return tree.childLabels(node.treeItem);
}

std::vector<std::string> TestScan::referencedNames() const {
    std::vector<std::string> names;
    for (TreeItem handle : tree.insertionOrder) {
        const ModuleNode* node = tree.item(handle).node;
        if (node && node->parent) names.push_back(node->moduleName);
    }
    return names;
}

}  // namespace vost::test
