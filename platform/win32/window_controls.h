// The page's tree and list as window messages to the real tree-view and
// list-view controls. Every call is a SendMessageA: synchronous, and carried
// out by the thread that owns the control when called from another thread.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "page/controls.h"
#include "platform/win32/page_updates.h"

namespace vost {

// Requests that the page's own thread answers for the scan's worker in one
// message where the control alone would need several: a tree item inserted
// together with the item it now follows, and a list row with all its cells.
// The page's dialog procedure hands them to answerPageRequest (the request's
// address is the message's lParam) and returns its answer; a window that
// does not know them answers 0, and the control then asks item by item.
constexpr UINT kInsertItemRequestMessage = WM_APP + 0x5601;
constexpr UINT kFullRowRequestMessage = WM_APP + 0x5602;
// State images for tree items or for the list rows of modules, set by the
// page's thread in one message: a row found by its text keeps its place
// until it is set, whatever sort the user starts meanwhile.
constexpr UINT kStateImageRequestMessage = WM_APP + 0x5603;
// The children of one item inserted in one message, with the changes the
// worker held (page_updates.h) carried out first.
constexpr UINT kInsertItemsRequestMessage = WM_APP + 0x5605;
// Answers the requests above and kPageUpdatesMessage; 0 for any other.
LRESULT answerPageRequest(HWND page, UINT message, LPARAM request);

class WindowTreeControl : public TreeControl {
public:
    // `stateImages` (not owned) is given to the control with the first state
    // image, together with the info-tip style.
    // With `updates`, the worker's changes that need no answer are held
    // there until a request goes to the page's thread anyway.
    explicit WindowTreeControl(HWND tree, HIMAGELIST stateImages = nullptr,
                               std::shared_ptr<PageUpdates> updates = nullptr)
        : tree_(tree), stateImages_(stateImages), updates_(std::move(updates)) {}
    // The tree view (id 1000) under the page window.
    static WindowTreeControl ofPage(HWND page) { return WindowTreeControl(GetDlgItem(page, kTreeControlId)); }

    HWND window() const { return tree_; }

    TreeItem insertSorted(TreeItem parent, const char* label, const int* image, ModuleNode* node) override;
    void insertChildren(TreeItem parent, std::vector<NewTreeItem>& children) override;
    WindowHandle ownerWindow() override;

    TreeItem insertRoot(const char* label, int image, ModuleNode* node) override;
    TreeItem firstChild(TreeItem item) override;
    TreeItem nextSibling(TreeItem item) override;
    ModuleNode* itemNode(TreeItem item) override;
    std::vector<TreeChild> children(TreeItem item) override;
    void setHasChildren(TreeItem item, int hasChildren) override;
    void expand(TreeItem item) override;
    void setImageList(ImageListHandle list) override;
    TreeItem selectedItem() override;

    TreeItem rootItem() override;
    std::string itemLabel(TreeItem item) override;
    int itemHasChildren(TreeItem item) override;
    bool itemExpanded(TreeItem item) override;
    void setItemStateImage(TreeItem item, int image) override;
    void setItemStateImages(const std::vector<ItemStateImage>& images) override;
    int itemStateImage(TreeItem item) override;

private:
    TreeItem nextItem(TreeItem item, WPARAM relation);
    TreeItem insert(TVINSERTSTRUCTW& request, ModuleNode* node);
    // Notes where the page put a new child, after the sibling it follows.
    void placed(TreeItem parent, TreeItem item, TreeItem previous, ModuleNode* node);
    // The held changes reach the control before anything reads it.
    void flush() {
        if (updates_) updates_->flush();
    }

    HWND tree_;
    HIMAGELIST stateImages_;
    std::shared_ptr<PageUpdates> updates_;
    // The children of the items whose children have not been read yet, in the
    // control's order, as the insertions made through this object placed
    // them (all of a scan's items): the walk reads an item's children once,
    // right after its module put them there, here and without a message. A
    // list is let go when read, so it lives only between the two; an item
    // not held here is asked of the control. Unused once an insertion could
    // not say where it went.
    std::unordered_map<TreeItem, std::vector<TreeChild>> unread_;
    bool ordered_ = true;
};

class WindowListControl : public ListControl {
public:
    // `stateImages` (not owned) as for the tree.
    explicit WindowListControl(HWND list, HIMAGELIST stateImages = nullptr,
                               std::shared_ptr<PageUpdates> updates = nullptr)
        : list_(list), stateImages_(stateImages), updates_(std::move(updates)) {}
    // The list view (id 1012) under the page window.
    static WindowListControl ofPage(HWND page) { return WindowListControl(GetDlgItem(page, kListControlId)); }

    HWND window() const { return list_; }

    int insertRow(int position, const char* moduleText, ModuleNode* node) override;
    int insertFullRow(int position, const char* const (&cells)[5], ModuleNode* node) override;
    void setCellText(int row, int column, const char* text) override;
    int findPrefix(const char* text) override;
    void sort(RowComparison compare, void* parameter) override;
    int rowCount() override;
    std::string cellText(int row, int column) override;
    ModuleNode* rowNode(int row) override;
    int selectedRow() override;
    void fitColumn(int column) override;
    void setRowStateImage(const char* moduleText, int image) override;
    void setRowStateImages(const std::vector<const char*>& moduleTexts, int image) override;
    int rowStateImage(int row) override;

private:
    void flush() {
        if (updates_) updates_->flush();
    }

    HWND list_;
    HIMAGELIST stateImages_;
    std::shared_ptr<PageUpdates> updates_;
};

}  // namespace vost
