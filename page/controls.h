// The page's tree and list as the scan, the module list and the commands use
// them. Two implementations: window messages to the real controls (tree view
// 1000 and list view 1012 under the page window) and in-memory controls with
// the same behaviour for the headless scanner and the tests.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "analysis/module_tree.h"
#include "page/page_platform.h"

namespace vost {

constexpr int kTreeControlId = 1000;
constexpr int kListControlId = 1012;

// A tree item and its state image.
struct ItemStateImage {
    TreeItem item;
    int image;
};

// One child item of a tree item and the node it carries.
struct TreeChild {
    TreeItem item;
    ModuleNode* node;
};

class TreeControl : public ModuleTree {
public:
    // Inserts the one top-level item: sorted, with text, image and selected
    // image, has-children flag 1 and the node as parameter (mask 0x67).
    virtual TreeItem insertRoot(const char* label, int image, ModuleNode* node) = 0;
    virtual TreeItem firstChild(TreeItem item) = 0;   // TVGN_CHILD; null when none
    virtual TreeItem nextSibling(TreeItem item) = 0;  // TVGN_NEXT; null after the last
    virtual ModuleNode* itemNode(TreeItem item) = 0;  // the item's parameter
    // Every child of `item` in the control's order, each with its node (null
    // when it can't be read): what firstChild, nextSibling and itemNode give
    // one by one, read at once where the control allows it.
    virtual std::vector<TreeChild> children(TreeItem item);
    virtual void setHasChildren(TreeItem item, int hasChildren) = 0;
    virtual void expand(TreeItem item) = 0;            // TVE_EXPAND
    virtual void setImageList(ImageListHandle list) = 0;  // TVSIL_NORMAL
    virtual TreeItem selectedItem() = 0;               // TVGN_CARET
    // The item's state image (TVIS_STATEIMAGEMASK; 0 for none), from the
    // component's state images, which the control gets with the first.
    virtual void setItemStateImage(TreeItem item, int image) = 0;
    // Several, as setItemStateImage would set them one by one; one request
    // where the control allows it.
    virtual void setItemStateImages(const std::vector<ItemStateImage>& images);
    // Whether the control is gone with its window (the page was closed):
    // work done for it can stop. Asked often, so it sends no message.
    virtual bool closed() { return false; }

    // Read back, for the scanner's output and the tests.
    virtual TreeItem rootItem() = 0;
    virtual std::string itemLabel(TreeItem item) = 0;
    virtual int itemHasChildren(TreeItem item) = 0;
    virtual bool itemExpanded(TreeItem item) = 0;
    virtual int itemStateImage(TreeItem item) = 0;
};

// Comparison handed to the list's sort: the parameters (nodes) of two rows and
// the sort parameter; negative, 0 or positive.
using RowComparison = int (*)(ModuleNode* first, ModuleNode* second, void* parameter);

class ListControl {
public:
    virtual ~ListControl() = default;
    // Inserts a row at `position` (at or past the end appends) with its
    // Module text and the node as parameter; returns the row's index, -1 on failure.
    virtual int insertRow(int position, const char* moduleText, ModuleNode* node) = 0;
    virtual void setCellText(int row, int column, const char* text) = 0;
    // A row with its Module text, the node as parameter and the texts of
    // columns 1 to 4 (null or empty: no text), as insertRow and setCellText
    // would make it; one request where the control allows it. The row's
    // index, -1 on failure.
    virtual int insertFullRow(int position, const char* const (&cells)[5], ModuleNode* node);
    // LVM_FINDITEMA with LVFI_STRING | LVFI_PARTIAL from the first row: the
    // first row whose Module text begins with `text`, case ignored; -1 when none.
    virtual int findPrefix(const char* text) = 0;
    virtual void sort(RowComparison compare, void* parameter) = 0;  // LVM_SORTITEMS
    virtual int rowCount() = 0;
    // A cell's text as read through a 260-character buffer (at most 259).
    virtual std::string cellText(int row, int column) = 0;
    virtual ModuleNode* rowNode(int row) = 0;
    virtual int selectedRow() = 0;  // first selected row, -1 when none
    virtual void fitColumn(int column) = 0;  // LVSCW_AUTOSIZE
    // The state image (LVIS_STATEIMAGEMASK; 0 for none) of the row whose
    // Module text is `moduleText`, case ignored, wherever a sort has put it;
    // nothing when there is none. The control gets the component's state
    // images with the first.
    virtual void setRowStateImage(const char* moduleText, int image) = 0;
    // The same image for several rows, in one request where the control allows it.
    virtual void setRowStateImages(const std::vector<const char*>& moduleTexts, int image);
    virtual int rowStateImage(int row) = 0;
};

// The item-by-item forms, for controls that can't do better.
inline std::vector<TreeChild> TreeControl::children(TreeItem item) {
    std::vector<TreeChild> found;
    for (TreeItem child = firstChild(item); child; child = nextSibling(child))
        found.push_back(TreeChild{child, itemNode(child)});
    return found;
}

// Visits every item of `tree` (a TreeControl) in pre-order, each with its depth (the root's
// is 0), until `visit` answers false. An explicit stack of open items rather
// than recursion: chains of modules may be thousands deep.
template <class Tree, class Visit>  // bool visit(TreeItem item, std::size_t depth)
void visitInPreOrder(Tree& tree, Visit visit) {
    std::vector<TreeItem> open;
    TreeItem item = tree.rootItem();
    while (item) {
        if (!visit(item, open.size())) return;
        if (TreeItem child = tree.firstChild(item)) {
            open.push_back(item);
            item = child;
            continue;
        }
        item = tree.nextSibling(item);
        while (!item && !open.empty()) {
            item = tree.nextSibling(open.back());
            open.pop_back();
        }
    }
}

inline void TreeControl::setItemStateImages(const std::vector<ItemStateImage>& images) {
    for (const ItemStateImage& i : images) setItemStateImage(i.item, i.image);
}

inline void ListControl::setRowStateImages(const std::vector<const char*>& moduleTexts, int image) {
    for (const char* text : moduleTexts) setRowStateImage(text, image);
}

inline int ListControl::insertFullRow(int position, const char* const (&cells)[5], ModuleNode* node) {
    const int row = insertRow(position, cells[0], node);
    if (row < 0) return row;
    for (int column = 1; column < 5; ++column)
        if (cells[column] && cells[column][0]) setCellText(row, column, cells[column]);
    return row;
}

}  // namespace vost
