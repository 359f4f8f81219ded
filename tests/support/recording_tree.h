// An in-memory ModuleTree that keeps every item, each parent's children in
// label order (letter case ignored), and the order in which items arrived.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "analysis/module_tree.h"

namespace vost::test {

class RecordingTree : public ModuleTree {
public:
    struct Item {
        TreeItem parent = nullptr;
        std::string label;
        bool hasImage = false;
        int image = 0;
        ModuleNode* node = nullptr;
        std::string sortKey;  // the label, lower-cased
    };

    TreeItem insertSorted(TreeItem parent, const char* label, const int* image, ModuleNode* node) override;
    WindowHandle ownerWindow() override { return owner; }

    const Item& item(TreeItem handle) const { return *static_cast<const Item*>(handle); }
    const std::vector<TreeItem>& children(TreeItem parent) const;
    std::vector<std::string> childLabels(TreeItem parent) const;
    std::size_t size() const { return items_.size(); }

    std::vector<TreeItem> insertionOrder;  // every item, in the order inserted
    bool failInsertions = false;           // insertSorted returns null and keeps nothing
    WindowHandle owner = reinterpret_cast<WindowHandle>(static_cast<std::uintptr_t>(0x5A9E));

private:
    std::deque<Item> items_;
    std::map<TreeItem, std::vector<TreeItem>> children_;
};

}  // namespace vost::test
