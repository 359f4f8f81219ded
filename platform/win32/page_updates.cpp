#include "platform/win32/page_updates.h"

#include "platform/win32/window_controls.h"

namespace vost {

void PageUpdates::addRow(HWND list, int position, const char* const (&cells)[5], ModuleNode* node) {
    Row row{list, position, {}, node};
    for (int i = 0; i < 5; ++i) row.cells[std::size_t(i)] = cells[i] ? cells[i] : "";
    rows_.push_back(std::move(row));
}

void PageUpdates::setHasChildren(HWND tree, HTREEITEM item, int hasChildren) {
    flags_.push_back(Flag{tree, item, hasChildren});
}

void PageUpdates::flush() {
    if (!pending()) return;
    if (SendMessageW(page_, kPageUpdatesMessage, 0, reinterpret_cast<LPARAM>(this)) != 1) apply();
}

void PageUpdates::apply() {
    // Rows first: a flag names an item inserted before it, rows name nothing.
    // The list is drawn once for all of them: it would otherwise place its
    // header and update its scroll bars for every cell.
    HWND list = rows_.empty() ? nullptr : rows_.front().list;
    if (list) SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    for (const Row& row : rows_) {
        const char* const cells[5] = {row.cells[0].c_str(), row.cells[1].c_str(), row.cells[2].c_str(),
                                      row.cells[3].c_str(), row.cells[4].c_str()};
        WindowListControl(row.list).ListControl::insertFullRow(row.position, cells, row.node);
    }
    if (list) {
        SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list, nullptr, FALSE);
    }
    for (const Flag& flag : flags_) {
        TVITEMW change = {};
        change.mask = TVIF_HANDLE | TVIF_CHILDREN;
        change.hItem = flag.item;
        change.cChildren = flag.hasChildren;
        SendMessageW(flag.tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&change));
    }
    rows_.clear();
    flags_.clear();
}

}  // namespace vost
