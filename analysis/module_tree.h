// The tree that the analysis inserts module items into.
//
// On the page this is the real tree-view control (TVM_INSERTITEMA sent to it,
// carried out by the thread that owns it); headless it is an in-memory tree
// with the control's behaviour. A node's `treeWindow` points at one of these.
#pragma once

#include <string>
#include <vector>

#include "analysis/platform.h"

namespace vost {

struct ModuleNode;

// An opaque tree item handle (HTREEITEM on Windows); null means none.
using TreeItem = void*;

// One child item to insert, and the item it became (null when it failed).
struct NewTreeItem {
    std::string label;
    bool hasImage = false;
    int image = 0;
    ModuleNode* node = nullptr;
    TreeItem item = nullptr;
};

class ModuleTree {
public:
    virtual ~ModuleTree() = default;

    // Inserts the children of `parent` as insertSorted would one by one, in
    // this order, setting each one's item: one request where the tree allows
    // it (a module's references reach the page's thread together).
    virtual void insertChildren(TreeItem parent, std::vector<NewTreeItem>& children) {
        for (NewTreeItem& child : children)
            child.item = insertSorted(parent, child.label.c_str(), child.hasImage ? &child.image : nullptr, child.node);
    }

    // Inserts a child of `parent` among its siblings in label order (TVI_SORT)
    // with the label and the node as the item parameter; with an image when
    // `image` is non-null (image and selected image both *image). Returns the
    // new item, or null when the insertion failed.
    virtual TreeItem insertSorted(TreeItem parent, const char* label, const int* image,
                                  ModuleNode* node) = 0;

    // The window that owns the tree (the page), used as a message box owner.
    virtual WindowHandle ownerWindow() = 0;
};

}  // namespace vost
