#include "platform/win32/window_controls.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>

#include "platform/win32/wide_text.h"


namespace vost {

namespace {

constexpr int kLabelCapacity = 520;

HTREEITEM asItem(TreeItem item) { return static_cast<HTREEITEM>(item); }

// Reads the fields in `mask` of one item; false when the control refuses.
bool readItem(HWND tree, TreeItem item, UINT mask, TVITEMW& out, std::wstring* text = nullptr) {
    out = TVITEMW{};
    out.mask = TVIF_HANDLE | mask;
    out.hItem = asItem(item);
    out.pszText = text ? &(*text)[0] : nullptr;
    out.cchTextMax = text ? int(text->size()) : 0;
    out.stateMask = TVIS_EXPANDED | TVIS_STATEIMAGEMASK;
    return item && SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&out));
}

// A control's text of any length: read into a buffer grown until the text
// ends before its last character. `read` fills the buffer it is given.
template <typename Read>
std::string wholeText(Read&& read) {
    for (std::size_t capacity = kLabelCapacity;; capacity *= 4) {
        std::wstring text(capacity, L'\0');
        if (!read(text)) return std::string();
        text.back() = L'\0';  // a cut text may come without its terminator
        const std::size_t length = std::wcslen(text.c_str());
        if (length + 1 < capacity || capacity >= 65536) return utf8Text(std::wstring_view(text.c_str(), length));
    }
}

// The list's sort calls this with two rows' parameters and the address of a
// Sorting record, which lives on the caller's stack for the length of the
// synchronous LVM_SORTITEMS.
struct Sorting {
    RowComparison compare;
    void* parameter;
};

int CALLBACK compareRows(LPARAM first, LPARAM second, LPARAM sorting) {
    const Sorting& s = *reinterpret_cast<const Sorting*>(sorting);
    return s.compare(reinterpret_cast<ModuleNode*>(first), reinterpret_cast<ModuleNode*>(second),
                     s.parameter);
}

struct InsertItemRequest {
    HWND tree;
    TVINSERTSTRUCTW* insert;
    HTREEITEM item;      // the new item, null when the control refused it
    HTREEITEM previous;  // the sibling it follows, null when it came first
};

struct InsertItemsRequest {
    HWND tree;
    PageUpdates* updates;       // carried out first; null when none
    TVINSERTSTRUCTW* inserts;
    std::size_t count;
    HTREEITEM* items;           // out: each new item, null when refused
    HTREEITEM* previous;        // out: the sibling each follows, null when first
};

struct FullRowRequest {
    HWND list;
    int position;
    const char* const* cells;  // five
    ModuleNode* node;
    int row;
};

struct StateImageRequest {
    HWND control;
    HIMAGELIST images;
    const ItemStateImage* items;     // the tree's items and images, or
    const char* const* moduleTexts;  // the list's rows with these Module texts
    std::size_t count;
    int image;                       // the rows' image
};

// A tip of several lines shows them as lines (a tool tip without a width
// shows one line whatever it holds).
void tipsInLines(HWND tips) {
    if (tips) SendMessageA(tips, TTM_SETMAXTIPWIDTH, 0, 600);
}

// Gives the control its state images and info tips (once), then sets the
// items' or rows' state images.
void setStateImages(const StateImageRequest& ask) {
    if (ask.moduleTexts) {
        if (ask.images && SendMessageA(ask.control, LVM_GETIMAGELIST, LVSIL_STATE, 0) != reinterpret_cast<LRESULT>(ask.images)) {
            SendMessageA(ask.control, LVM_SETIMAGELIST, LVSIL_STATE, reinterpret_cast<LPARAM>(ask.images));
            SendMessageA(ask.control, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_INFOTIP, LVS_EX_INFOTIP);
            tipsInLines(reinterpret_cast<HWND>(SendMessageA(ask.control, LVM_GETTOOLTIPS, 0, 0)));
        }
        // The rows by their Module text, letter case ignored as the list's
        // own search ignores it, the first of equal texts kept: one pass over
        // the list rather than a search through it for every row marked.
        const auto folded = [](std::wstring text) {
            if (!text.empty()) CharLowerBuffW(&text[0], DWORD(text.size()));
            return text;
        };
        std::unordered_map<std::wstring, int> rows;
        const int count = int(SendMessageW(ask.control, LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < count; ++row)
            rows.emplace(folded(wideText(WindowListControl(ask.control).cellText(row, 0))), row);
        for (std::size_t i = 0; i < ask.count; ++i) {
            const auto found = rows.find(folded(wideText(ask.moduleTexts[i])));
            if (found == rows.end()) continue;
            const int row = found->second;
            LVITEMA state = {};
            state.stateMask = LVIS_STATEIMAGEMASK;
            state.state = INDEXTOSTATEIMAGEMASK(ask.image);
            SendMessageA(ask.control, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
        }
        return;
    }
    if (ask.images && SendMessageA(ask.control, TVM_GETIMAGELIST, TVSIL_STATE, 0) != reinterpret_cast<LRESULT>(ask.images)) {
        SendMessageA(ask.control, TVM_SETIMAGELIST, TVSIL_STATE, reinterpret_cast<LPARAM>(ask.images));
        SetWindowLongPtrA(ask.control, GWL_STYLE, GetWindowLongPtrA(ask.control, GWL_STYLE) | TVS_INFOTIP);
        tipsInLines(reinterpret_cast<HWND>(SendMessageA(ask.control, TVM_GETTOOLTIPS, 0, 0)));
    }
    for (std::size_t i = 0; i < ask.count; ++i) {
        TVITEMW change = {};
        change.mask = TVIF_HANDLE | TVIF_STATE;
        change.hItem = asItem(ask.items[i].item);
        change.stateMask = TVIS_STATEIMAGEMASK;
        change.state = INDEXTOSTATEIMAGEMASK(ask.items[i].image);
        SendMessageA(ask.control, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&change));
    }
}

// Asks the page's thread to set state images; sets them from here when the
// page does not know the request.
void requestStateImages(const StateImageRequest& ask) {
    if (ask.count == 0) return;
    if (SendMessageA(GetParent(ask.control), kStateImageRequestMessage, 0, reinterpret_cast<LPARAM>(&ask)) != 1)
        setStateImages(ask);
}

}  // namespace

LRESULT answerPageRequest(HWND page, UINT message, LPARAM request) {
    // Sent by this component's own worker with a request on its stack; the
    // control named must be one of this page's.
    if (message == kInsertItemRequestMessage) {
        auto& ask = *reinterpret_cast<InsertItemRequest*>(request);
        if (!IsChild(page, ask.tree)) return 0;
        ask.item = reinterpret_cast<HTREEITEM>(
            SendMessageW(ask.tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(ask.insert)));
        ask.previous = ask.item ? reinterpret_cast<HTREEITEM>(SendMessageA(
                                      ask.tree, TVM_GETNEXTITEM, TVGN_PREVIOUS, reinterpret_cast<LPARAM>(ask.item)))
                                : nullptr;
        return 1;
    }
    if (message == kPageUpdatesMessage) {
        // The worker reads the controls next, or is done: all is drawn.
        auto* updates = reinterpret_cast<PageUpdates*>(request);
        updates->apply();
        updates->drawHeld(true);
        return 1;
    }
    if (message == kInsertItemsRequestMessage) {
        auto& ask = *reinterpret_cast<InsertItemsRequest*>(request);
        if (!IsChild(page, ask.tree)) return 0;
        // Drawn once for all of them, and while the worker fills the tree a
        // few times a second: the control would otherwise update its scroll
        // bars and window for each item.
        const bool many = ask.count > 1 && !ask.updates;
        if (ask.updates) {
            ask.updates->apply();
            ask.updates->holdDrawing(ask.tree);
        }
        if (many) SendMessageW(ask.tree, WM_SETREDRAW, FALSE, 0);
        for (std::size_t i = 0; i < ask.count; ++i) {
            ask.items[i] = reinterpret_cast<HTREEITEM>(
                SendMessageW(ask.tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ask.inserts[i])));
            ask.previous[i] = ask.items[i] ? reinterpret_cast<HTREEITEM>(SendMessageW(
                                                 ask.tree, TVM_GETNEXTITEM, TVGN_PREVIOUS,
                                                 reinterpret_cast<LPARAM>(ask.items[i])))
                                           : nullptr;
        }
        if (many) {
            SendMessageW(ask.tree, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(ask.tree, nullptr, FALSE);
        }
        if (ask.updates) ask.updates->drawHeld(false);
        return 1;
    }
    if (message == kFullRowRequestMessage) {
        auto& ask = *reinterpret_cast<FullRowRequest*>(request);
        if (!IsChild(page, ask.list)) return 0;
        WindowListControl list(ask.list);
        const char* const(&cells)[5] = *reinterpret_cast<const char* const(*)[5]>(ask.cells);
        ask.row = list.ListControl::insertFullRow(ask.position, cells, ask.node);
        return 1;
    }
    if (message == kStateImageRequestMessage) {
        const auto& ask = *reinterpret_cast<const StateImageRequest*>(request);
        if (!IsChild(page, ask.control)) return 0;
        setStateImages(ask);
        return 1;
    }
    return 0;
}

namespace {
TVINSERTSTRUCTW sortedInsert(TreeItem parent, const std::wstring& text, const int* image, ModuleNode* node) {
    TVINSERTSTRUCTW insert = {};
    insert.hParent = asItem(parent);
    insert.hInsertAfter = TVI_SORT;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;  // 0x05
    if (image) {
        insert.item.mask |= TVIF_IMAGE | TVIF_SELECTEDIMAGE;  // 0x27
        insert.item.iImage = insert.item.iSelectedImage = *image;
    }
    insert.item.pszText = const_cast<wchar_t*>(text.c_str());
    insert.item.lParam = reinterpret_cast<LPARAM>(node);
    return insert;
}
}  // namespace

void WindowTreeControl::insertChildren(TreeItem parent, std::vector<NewTreeItem>& children) {
    if (children.empty()) return;
    std::vector<std::wstring> texts;
    texts.reserve(children.size());
    std::vector<TVINSERTSTRUCTW> inserts;
    inserts.reserve(children.size());
    for (const NewTreeItem& child : children) {
        texts.push_back(wideText(child.label));
        inserts.push_back(sortedInsert(parent, texts.back(), child.hasImage ? &child.image : nullptr, child.node));
    }
    std::vector<HTREEITEM> items(children.size()), previous(children.size());
    InsertItemsRequest ask{tree_, updates_ && updates_->fromWorker() ? updates_.get() : nullptr, inserts.data(),
                           inserts.size(), items.data(), previous.data()};
    if (SendMessageW(GetParent(tree_), kInsertItemsRequestMessage, 0, reinterpret_cast<LPARAM>(&ask)) != 1) {
        // A page that does not know the request: one by one, as ever.
        for (std::size_t i = 0; i < children.size(); ++i) children[i].item = insert(inserts[i], children[i].node);
        return;
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
        children[i].item = items[i];
        if (items[i]) placed(parent, items[i], previous[i], children[i].node);
    }
}

TreeItem WindowTreeControl::insertSorted(TreeItem parent, const char* label, const int* image,
                                         ModuleNode* node) {
    std::vector<NewTreeItem> one{NewTreeItem{label ? label : "", image != nullptr, image ? *image : 0, node}};
    insertChildren(parent, one);
    return one.front().item;
}

WindowHandle WindowTreeControl::ownerWindow() { return GetParent(tree_); }

TreeItem WindowTreeControl::insertRoot(const char* label, int image, ModuleNode* node) {
    flush();
    TVINSERTSTRUCTW insert = {};
    const std::wstring text = wideText(label ? label : "");
    insert.hParent = TVI_ROOT;
    insert.hInsertAfter = TVI_SORT;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_PARAM | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;  // 0x67
    insert.item.pszText = const_cast<wchar_t*>(text.c_str());
    insert.item.iImage = insert.item.iSelectedImage = image;
    insert.item.cChildren = 1;
    insert.item.lParam = reinterpret_cast<LPARAM>(node);
    return this->insert(insert, node);
}

TreeItem WindowTreeControl::insert(TVINSERTSTRUCTW& request, ModuleNode* node) {
    InsertItemRequest ask{tree_, &request, nullptr, nullptr};
    if (SendMessageA(GetParent(tree_), kInsertItemRequestMessage, 0, reinterpret_cast<LPARAM>(&ask)) != 1) {
        ordered_ = false;
        return reinterpret_cast<TreeItem>(
            SendMessageW(tree_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&request)));
    }
    // The top level (the root alone) is never walked.
    if (!ask.item || request.hParent == TVI_ROOT) return reinterpret_cast<TreeItem>(ask.item);
    placed(reinterpret_cast<TreeItem>(request.hParent), reinterpret_cast<TreeItem>(ask.item),
           reinterpret_cast<TreeItem>(ask.previous), node);
    return reinterpret_cast<TreeItem>(ask.item);
}

void WindowTreeControl::placed(TreeItem parent, TreeItem item, TreeItem previous, ModuleNode* node) {
    // Right after the sibling the control put it after: the list stays the
    // control's order.
    std::vector<TreeChild>& siblings = unread_[parent];
    auto at = siblings.begin();
    if (previous) {
        at = std::find_if(siblings.begin(), siblings.end(), [&](const TreeChild& c) { return c.item == previous; });
        if (at == siblings.end()) ordered_ = false;  // an item not inserted here: the order is not known
        else ++at;
    }
    siblings.insert(at, TreeChild{item, node});
}

TreeItem WindowTreeControl::nextItem(TreeItem item, WPARAM relation) {
    flush();
    return reinterpret_cast<TreeItem>(
        SendMessageA(tree_, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

TreeItem WindowTreeControl::firstChild(TreeItem item) { return item ? nextItem(item, TVGN_CHILD) : nullptr; }
TreeItem WindowTreeControl::nextSibling(TreeItem item) { return item ? nextItem(item, TVGN_NEXT) : nullptr; }
TreeItem WindowTreeControl::selectedItem() { return nextItem(nullptr, TVGN_CARET); }
TreeItem WindowTreeControl::rootItem() { return nextItem(nullptr, TVGN_ROOT); }

ModuleNode* WindowTreeControl::itemNode(TreeItem item) {
    flush();
    // Asks for text, images, children and parameter as the walk always has;
    // only the parameter is used.
    std::wstring text(kLabelCapacity, L'\0');
    TVITEMW read;
    if (!readItem(tree_, item, TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN | TVIF_PARAM,
                  read, &text))
        return nullptr;
    return reinterpret_cast<ModuleNode*>(read.lParam);
}

std::vector<TreeChild> WindowTreeControl::children(TreeItem item) {
    if (!item) return {};
    const auto known = unread_.find(item);
    if (!ordered_ || known == unread_.end()) return TreeControl::children(item);
    std::vector<TreeChild> found = std::move(known->second);
    unread_.erase(known);
    if (unread_.empty()) unread_ = {};  // the walk is done: nothing of it is kept
    return found;
}

std::string WindowTreeControl::itemLabel(TreeItem item) {
    flush();
    return wholeText([&](std::wstring& text) {
        TVITEMW read;
        return readItem(tree_, item, TVIF_TEXT, read, &text);
    });
}

int WindowTreeControl::itemHasChildren(TreeItem item) {
    flush();
    TVITEMW read;
    return readItem(tree_, item, TVIF_CHILDREN, read) ? read.cChildren : 0;
}

bool WindowTreeControl::itemExpanded(TreeItem item) {
    flush();
    TVITEMW read;
    return readItem(tree_, item, TVIF_STATE, read) && (read.state & TVIS_EXPANDED) != 0;
}

void WindowTreeControl::setItemStateImage(TreeItem item, int image) {
    if (item) setItemStateImages({ItemStateImage{item, image}});
}

void WindowTreeControl::setItemStateImages(const std::vector<ItemStateImage>& images) {
    flush();
    requestStateImages(StateImageRequest{tree_, stateImages_, images.data(), nullptr, images.size(), 0});
}

int WindowTreeControl::itemStateImage(TreeItem item) {
    flush();
    TVITEMW read;
    return readItem(tree_, item, TVIF_STATE, read) ? int((read.state & TVIS_STATEIMAGEMASK) >> 12) : 0;
}

void WindowTreeControl::setHasChildren(TreeItem item, int hasChildren) {
    if (updates_ && updates_->fromWorker()) {
        updates_->setHasChildren(tree_, asItem(item), hasChildren);
        return;
    }
    TVITEMW change = {};
    change.mask = TVIF_HANDLE | TVIF_CHILDREN;  // 0x50
    change.hItem = asItem(item);
    change.cChildren = hasChildren;
    SendMessageA(tree_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&change));
}

void WindowTreeControl::expand(TreeItem item) {
    flush();
    SendMessageA(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
}

void WindowTreeControl::setImageList(ImageListHandle list) {
    SendMessageA(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(list));
}

int WindowListControl::insertRow(int position, const char* moduleText, ModuleNode* node) {
    flush();
    LVITEMW row = {};
    const std::wstring text = wideText(moduleText ? moduleText : "");
    row.mask = LVIF_TEXT | LVIF_PARAM;  // 5
    row.iItem = position;
    row.iSubItem = 0;
    row.pszText = const_cast<wchar_t*>(text.c_str());
    row.lParam = reinterpret_cast<LPARAM>(node);
    return static_cast<int>(SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&row)));
}

int WindowListControl::insertFullRow(int position, const char* const (&cells)[5], ModuleNode* node) {
    // The worker's rows go with its next request; the row it will be is not
    // asked (a row inserted at a position the list does not have yet goes
    // to its end, as the list's own insertion does).
    if (updates_ && updates_->fromWorker()) {
        updates_->addRow(list_, position, cells, node);
        return position >= 0 ? position : 0;
    }
    FullRowRequest ask{list_, position, cells, node, -1};
    if (SendMessageA(GetParent(list_), kFullRowRequestMessage, 0, reinterpret_cast<LPARAM>(&ask)) != 1)
        return ListControl::insertFullRow(position, cells, node);
    return ask.row;
}


void WindowListControl::setCellText(int row, int column, const char* text) {
    flush();
    LVITEMW cell = {};
    const std::wstring wide = wideText(text ? text : "");
    cell.iSubItem = column;
    cell.pszText = const_cast<wchar_t*>(wide.c_str());
    SendMessageW(list_, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell));
}

int WindowListControl::findPrefix(const char* text) {
    flush();
    LVFINDINFOW find = {};
    const std::wstring wanted = wideText(text ? text : "");
    find.flags = LVFI_STRING | LVFI_PARTIAL;  // 0x0A
    find.psz = wanted.c_str();
    return static_cast<int>(SendMessageW(list_, LVM_FINDITEMW, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(&find)));
}

void WindowListControl::sort(RowComparison compare, void* parameter) {
    Sorting sorting{compare, parameter};
    SendMessageA(list_, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&sorting),
                 reinterpret_cast<LPARAM>(&compareRows));
}

int WindowListControl::rowCount() {
    flush();
    return static_cast<int>(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0));
}

std::string WindowListControl::cellText(int row, int column) {
    flush();
    return wholeText([&](std::wstring& text) {
        LVITEMW cell = {};
        cell.iSubItem = column;
        cell.pszText = &text[0];
        cell.cchTextMax = int(text.size());
        return SendMessageW(list_, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell)) > 0;
    });
}

ModuleNode* WindowListControl::rowNode(int row) {
    flush();
    LVITEMA read = {};
    read.mask = LVIF_PARAM;
    read.iItem = row;
    if (!SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&read))) return nullptr;
    return reinterpret_cast<ModuleNode*>(read.lParam);
}

int WindowListControl::selectedRow() {
    flush();
    return static_cast<int>(SendMessageA(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void WindowListControl::setRowStateImage(const char* moduleText, int image) {
    if (moduleText) setRowStateImages({moduleText}, image);
}

void WindowListControl::setRowStateImages(const std::vector<const char*>& moduleTexts, int image) {
    flush();
    requestStateImages(StateImageRequest{list_, stateImages_, nullptr, moduleTexts.data(), moduleTexts.size(), image});
}

int WindowListControl::rowStateImage(int row) {
    flush();
    return int((SendMessageA(list_, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK) & LVIS_STATEIMAGEMASK) >> 12);
}

// The wider of the column's cells and its heading, so that neither is cut
// whatever the font's size. LVSCW_AUTOSIZE fits the cells alone; in the last
// column LVSCW_AUTOSIZE_USEHEADER would stretch to the control's edge rather
// than fit, so there the cells decide (a path is wider than "Path").
void WindowListControl::fitColumn(int column) {
    flush();
    SendMessageW(list_, LVM_SETCOLUMNWIDTH, column, 0xFFFF);  // LVSCW_AUTOSIZE as a 16-bit value
    auto* header = reinterpret_cast<HWND>(SendMessageW(list_, LVM_GETHEADER, 0, 0));
    if (!header || column + 1 >= int(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0))) return;
    const LRESULT cells = SendMessageW(list_, LVM_GETCOLUMNWIDTH, column, 0);
    SendMessageW(list_, LVM_SETCOLUMNWIDTH, column, 0xFFFE);  // LVSCW_AUTOSIZE_USEHEADER
    if (SendMessageW(list_, LVM_GETCOLUMNWIDTH, column, 0) < cells) SendMessageW(list_, LVM_SETCOLUMNWIDTH, column, cells);
}

}  // namespace vost
