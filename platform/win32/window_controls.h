// The page's tree and list as window messages to the real tree-view and
// list-view controls. Every call is a SendMessageA: synchronous, and carried
// out by the thread that owns the control when called from another thread.
#pragma once

#include <windows.h>

#include "page/controls.h"

namespace vost {

class WindowTreeControl : public TreeControl {
public:
    explicit WindowTreeControl(HWND tree) : tree_(tree) {}
    // The tree view (id 1000) under the page window.
    static WindowTreeControl ofPage(HWND page) { return WindowTreeControl(GetDlgItem(page, kTreeControlId)); }

    HWND window() const { return tree_; }

    TreeItem insertSorted(TreeItem parent, const char* label, const int* image, ModuleNode* node) override;
    WindowHandle ownerWindow() override;

    TreeItem insertRoot(const char* label, int image, ModuleNode* node) override;
    TreeItem firstChild(TreeItem item) override;
    TreeItem nextSibling(TreeItem item) override;
    ModuleNode* itemNode(TreeItem item) override;
    void setHasChildren(TreeItem item, int hasChildren) override;
    void expand(TreeItem item) override;
    void setImageList(ImageListHandle list) override;
    TreeItem selectedItem() override;

    TreeItem rootItem() override;
    std::string itemLabel(TreeItem item) override;
    int itemHasChildren(TreeItem item) override;
    bool itemExpanded(TreeItem item) override;

private:
    TreeItem nextItem(TreeItem item, WPARAM relation);
    HWND tree_;
};

class WindowListControl : public ListControl {
public:
    explicit WindowListControl(HWND list) : list_(list) {}
    // The list view (id 1012) under the page window.
    static WindowListControl ofPage(HWND page) { return WindowListControl(GetDlgItem(page, kListControlId)); }

    HWND window() const { return list_; }

    int insertRow(int position, const char* moduleText, ModuleNode* node) override;
    void setCellText(int row, int column, const char* text) override;
    int findPrefix(const char* text) override;
    void sort(RowComparison compare, void* parameter) override;
    int rowCount() override;
    std::string cellText(int row, int column) override;
    ModuleNode* rowNode(int row) override;
    int selectedRow() override;
    void fitColumn(int column) override;

private:
    HWND list_;
};

}  // namespace vost
