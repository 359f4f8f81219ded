// An in-memory tree with the tree-view control's behaviour as the scan uses
// it: sorted insertion by the control's label collation, has-children flags,
// expansion and selection. Item handles stay valid for the tree's life.
#pragma once

#include <deque>
#include <string>

#include "page/controls.h"

namespace vost {

class MemoryTree : public TreeControl {
public:
    explicit MemoryTree(WindowHandle owner = nullptr) : owner_(owner) {}

    // A new item goes before the first sibling whose label compares greater,
    // so items with equal labels keep their insertion order. Its has-children
    // flag is 0; the parent's becomes 1 with its first child. A null parent
    // inserts at the top level, as TVI_ROOT does.
    TreeItem insertSorted(TreeItem parent, const char* label, const int* image,
                          ModuleNode* node) override;
    WindowHandle ownerWindow() override { return owner_; }

    TreeItem insertRoot(const char* label, int image, ModuleNode* node) override;
    TreeItem firstChild(TreeItem item) override;
    TreeItem nextSibling(TreeItem item) override;
    ModuleNode* itemNode(TreeItem item) override;
    void setHasChildren(TreeItem item, int hasChildren) override;
    void expand(TreeItem item) override;
    void setImageList(ImageListHandle list) override { imageList_ = list; }
    TreeItem selectedItem() override { return selected_; }

    TreeItem rootItem() override;
    bool closed() override { return closed_; }
    void close() { closed_ = true; }  // as the page's window going: closed() says so
    std::string itemLabel(TreeItem item) override;
    int itemHasChildren(TreeItem item) override;
    bool itemExpanded(TreeItem item) override;
    void setItemStateImage(TreeItem item, int image) override;
    int itemStateImage(TreeItem item) override;

    // For tests and callers that stand in for the user.
    void select(TreeItem item) { selected_ = item; }
    ImageListHandle imageList() const { return imageList_; }
    // The item's image index, -1 when it was inserted without one.
    int itemImage(TreeItem item);
    std::size_t itemCount() const { return items_.size(); }

private:
    struct Item {
        std::string label;
        int image = -1;
        int hasChildren = 0;
        bool expanded = false;
        int stateImage = 0;
        ModuleNode* node = nullptr;
        Item* parent = nullptr;
        Item* firstChild = nullptr;
        Item* nextSibling = nullptr;
    };
    Item* insert(Item* parent, const char* label, int image, int hasChildren, ModuleNode* node);

    std::deque<Item> items_;
    Item* firstTop_ = nullptr;
    WindowHandle owner_ = nullptr;
    ImageListHandle imageList_ = nullptr;
    TreeItem selected_ = nullptr;
    bool closed_ = false;
};

}  // namespace vost
