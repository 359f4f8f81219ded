#include "platform/win32/page_updates.h"

#include <algorithm>

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
    if (SendMessageW(page_, kPageUpdatesMessage, 0, reinterpret_cast<LPARAM>(this)) != 1) {
        apply();
        drawHeld(true);
    }
}

void PageUpdates::holdDrawing(HWND control) {
    if (std::find(held_.begin(), held_.end(), control) != held_.end()) return;
    SendMessageW(control, WM_SETREDRAW, FALSE, 0);
    held_.push_back(control);
}

void PageUpdates::drawHeld(bool now) {
    if (held_.empty() || (!now && GetTickCount() - lastDrawn_ < kDrawingHeldMs)) return;
    for (HWND control : held_) {
        SendMessageW(control, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(control, nullptr, FALSE);
    }
    held_.clear();
    lastDrawn_ = GetTickCount();
}

void PageUpdates::apply() {
    // Rows first: a flag names an item inserted before it, rows name nothing.
    // The list is drawn once for all of them: it would otherwise place its
    // header and update its scroll bars for every cell.
    if (!rows_.empty()) holdDrawing(rows_.front().list);
    for (const Row& row : rows_) {
        const char* const cells[5] = {row.cells[0].c_str(), row.cells[1].c_str(), row.cells[2].c_str(),
                                      row.cells[3].c_str(), row.cells[4].c_str()};
        WindowListControl(row.list).ListControl::insertFullRow(row.position, cells, row.node);
    }
    if (!flags_.empty()) holdDrawing(flags_.front().tree);
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
