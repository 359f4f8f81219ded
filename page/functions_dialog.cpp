#include "page/functions_dialog.h"

#include <windows.h>
#include <commctrl.h>
#include <process.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "component/dependency_extension.h"
#include "component/module_instance.h"
#include "page/commands.h"
#include "page/function_lists.h"
#include "page/user_settings.h"
#include "page/page_dialog.h"
#include "page/state_images.h"
#include "platform/common/undecorate.h"
#include "platform/win32/handles.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"

namespace vost {

namespace {


constexpr int kMissingImage = 1;  // the page's "will not load" state image

// Column widths in dialog units, so that they grow with the dialog's font.
constexpr int kImportWidths[kImportColumnCount] = {170, 30, 165};
constexpr int kExportWidths[kExportColumnCount] = {30, 28, 165, 115, 32};

// One of the two list views and the rows it shows: numbers into a section
// of the lists, in the shown order.
struct ShownList {
    HWND window = nullptr;
    std::size_t section = 0;
    std::vector<std::uint32_t> rows;
    int column = kTableOrder;  // until the user sorts
    bool descending = false;
};

// The worker that makes the readable names off the UI thread (a module may
// export 20,000 of them), then tells the dialog. It reads only the lists,
// and the dialog's state stops and joins it before they go.
struct NameWorker {
    FunctionLists* lists = nullptr;
    HWND dialog = nullptr;
    std::atomic<bool> stop{false};
    KernelHandle thread;

    NameWorker() = default;
    NameWorker(const NameWorker&) = delete;
    NameWorker& operator=(const NameWorker&) = delete;
    ~NameWorker() {
        stop = true;
        if (thread) WaitForSingleObject(thread.get(), INFINITE);
    }
};

// Posted by the worker when every row has its readable name.
constexpr UINT kNamesMade = WM_APP + 1;

unsigned __stdcall makeNames(void* argument) {
    NameWorker& worker = *static_cast<NameWorker*>(argument);
    makeReadableNames(*worker.lists, &undecorateName, worker.stop);
    if (!worker.stop) PostMessageW(worker.dialog, kNamesMade, 0, 0);
    return 0;
}

struct DialogState {
    // The scan's facts of each module: what the dialog lists was read once.
    explicit DialogState(std::shared_ptr<ModuleCache> modules)
        : cache(modules ? std::move(modules) : std::make_shared<ModuleCache>(true)) {}
    CheckCache cache;
    FunctionLists lists;
    NameWorker names;  // after the lists: stopped before they go
    bool namesMade = false;
    bool copyWaiting = false;  // Copy asked before the names were made
    ShownList imports;
    ShownList exports;
    HWND lastList = nullptr;  // the list Copy takes
    std::string filter;
    bool undecorate = true;
    HIMAGELIST images = nullptr;
    std::wstring cell;  // the text last handed to a list view
    SIZE minimum{};

    DialogState() = default;
    DialogState(const DialogState&) = delete;
    DialogState& operator=(const DialogState&) = delete;
    ~DialogState() {
        if (images) ImageList_Destroy(images);
    }

    Undecorator undecorator() const { return undecorate ? &undecorateName : nullptr; }
    bool isExports(const ShownList& list) const { return &list == &exports; }
};

DialogState* stateOf(HWND dialog) { return reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER)); }

std::string cellOf(DialogState& state, const ShownList& list, std::uint32_t row, int column) {
    return state.isExports(list) ? exportCell(state.lists, row, column, state.undecorator())
                                 : importCell(state.lists, list.section, row, column, state.undecorator());
}

// Starts the worker unless it runs or names are shown as they are.
void startNames(HWND dialog, DialogState& state) {
    if (!state.undecorate || state.names.thread || state.namesMade) return;
    state.names.lists = &state.lists;
    state.names.dialog = dialog;
    state.names.thread = KernelHandle(
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, kScanStackSize, makeNames, &state.names, 0, nullptr)));
    // Without a thread the lists keep showing each row read as it is shown.
}

// The rows the filter leaves, in the list's order; the view's count follows.
void refill(DialogState& state, ShownList& list) {
    if (!state.isExports(list) && state.lists.sections.empty()) list.rows.clear();
    else list.rows = shownRows(state.lists, list.section, state.filter, list.column, list.descending, state.undecorator());
    SendMessageW(list.window, LVM_SETITEMCOUNT, list.rows.size(), 0);
    InvalidateRect(list.window, nullptr, FALSE);
}

void refillBoth(DialogState& state) {
    refill(state, state.imports);
    refill(state, state.exports);
}

void insertColumns(HWND dialog, HWND list, const char* const* titles, const int* widths, int count) {
    for (int column = 0; column < count; ++column) {
        RECT width{0, 0, widths[column], 0};
        MapDialogRect(dialog, &width);
        std::wstring title = wideText(titles[column]);
        LVCOLUMNW record{};
        record.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        record.fmt = LVCFMT_LEFT;
        record.cx = width.right;
        record.pszText = &title[0];
        record.iSubItem = column;
        SendMessageW(list, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&record));
    }
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT);
}

// The heading's arrow on the sorted column, none on the others.
void showSortArrow(const ShownList& list) {
    HWND header = reinterpret_cast<HWND>(SendMessageW(list.window, LVM_GETHEADER, 0, 0));
    const int count = header ? int(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
    for (int column = 0; column < count; ++column) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        SendMessageW(header, HDM_GETITEMW, column, reinterpret_cast<LPARAM>(&item));
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (column == list.column) item.fmt |= list.descending ? HDF_SORTDOWN : HDF_SORTUP;
        SendMessageW(header, HDM_SETITEMW, column, reinterpret_cast<LPARAM>(&item));
    }
}

// Selected rows of the list, or all it shows when none is selected, with
// a line of titles first.
void copyRows(HWND dialog, DialogState& state) {
    // Every row's readable name is the worker's to make: Copy waits for it.
    if (state.undecorate && !state.namesMade && state.names.thread) {
        state.copyWaiting = true;
        return;
    }
    ShownList& list = state.lastList == state.exports.window ? state.exports : state.imports;
    std::vector<std::uint32_t> rows;
    for (int at = -1; (at = int(SendMessageW(list.window, LVM_GETNEXTITEM, WPARAM(at), LVNI_SELECTED))) >= 0;)
        if (std::size_t(at) < list.rows.size()) rows.push_back(list.rows[std::size_t(at)]);
    if (rows.empty()) rows = list.rows;
    const std::size_t section = state.isExports(list) ? state.lists.sections.size() : list.section;
    if (!state.isExports(list) && state.lists.sections.empty()) return;
    placeOnClipboard(dialog, copyText(state.lists, section, rows, state.undecorator()));
}

void onDisplayInfo(DialogState& state, NMLVDISPINFOW& ask) {
    ShownList& list = ask.hdr.hwndFrom == state.exports.window ? state.exports : state.imports;
    LVITEMW& item = ask.item;
    if (item.iItem < 0 || std::size_t(item.iItem) >= list.rows.size()) return;
    const std::uint32_t row = list.rows[std::size_t(item.iItem)];
    if (item.mask & LVIF_TEXT) {
        // The view may be given a text of its own to show, of any length.
        state.cell = wideText(cellOf(state, list, row, item.iSubItem));
        item.pszText = &state.cell[0];
    }
    if (item.mask & LVIF_IMAGE) {
        const bool missing = !state.isExports(list) && !state.lists.sections[list.section].rows[row].resolved;
        item.iImage = missing ? kMissingImage : 0;
    }
}

INT_PTR onNotify(HWND dialog, DialogState& state, NMHDR& header) {
    if (header.hwndFrom != state.imports.window && header.hwndFrom != state.exports.window) return FALSE;
    ShownList& list = header.hwndFrom == state.exports.window ? state.exports : state.imports;
    switch (header.code) {
    case LVN_GETDISPINFOW:
        onDisplayInfo(state, reinterpret_cast<NMLVDISPINFOW&>(header));
        return TRUE;
    case LVN_COLUMNCLICK: {
        const int column = reinterpret_cast<NMLISTVIEW&>(header).iSubItem;
        list.descending = column == list.column && !list.descending;
        list.column = column;
        refill(state, list);
        showSortArrow(list);
        return TRUE;
    }
    case NM_SETFOCUS:
        state.lastList = header.hwndFrom;
        return TRUE;
    case LVN_KEYDOWN: {
        const WORD key = reinterpret_cast<NMLVKEYDOWN&>(header).wVKey;
        if (GetKeyState(VK_CONTROL) < 0 && key == 'C') {
            state.lastList = header.hwndFrom;
            copyRows(dialog, state);
        } else if (GetKeyState(VK_CONTROL) < 0 && key == 'A') {
            LVITEMW all{};
            all.stateMask = LVIS_SELECTED;
            all.state = LVIS_SELECTED;
            SendMessageW(header.hwndFrom, LVM_SETITEMSTATE, WPARAM(-1), reinterpret_cast<LPARAM>(&all));
        }
        return TRUE;
    }
    default: return FALSE;
    }
}

// Places a control at (x, y) with size (width, height) in client pixels.
void place(HWND dialog, int id, int x, int y, int width, int height) {
    SetWindowPos(GetDlgItem(dialog, id), nullptr, x, y, std::max(width, 0), std::max(height, 0),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// The template's layout, stretched: the lists share what height there is,
// the section box and the lists take the width, the buttons keep to the
// bottom right.
void layOut(HWND dialog) {
    RECT client{};
    GetClientRect(dialog, &client);
    RECT units{7, 42, 50, 14};  // margin, the lists' top, a button's width and height
    MapDialogRect(dialog, &units);
    const int margin = units.left, top = units.top, buttonWidth = units.right, buttonHeight = units.bottom;
    RECT title{0, 0, 0, 11};
    MapDialogRect(dialog, &title);
    const int width = client.right - 2 * margin;
    const int buttonTop = client.bottom - margin - buttonHeight;
    const int listHeight = (buttonTop - margin / 2 - top - title.bottom - margin / 2) / 2;

    RECT box{};
    GetWindowRect(GetDlgItem(dialog, IDC_IMPORT_SECTION), &box);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&box), 2);
    SetWindowPos(GetDlgItem(dialog, IDC_IMPORT_SECTION), nullptr, 0, 0, width, box.bottom - box.top,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    place(dialog, IDC_IMPORT_LIST, margin, top, width, listHeight);
    const int titleTop = top + listHeight + margin / 2;
    place(dialog, IDC_EXPORT_TITLE, margin, titleTop, width, title.bottom - margin / 4);
    place(dialog, IDC_EXPORT_LIST, margin, titleTop + title.bottom, width, listHeight);
    place(dialog, IDCANCEL, client.right - margin - buttonWidth, buttonTop, buttonWidth, buttonHeight);
    place(dialog, IDC_COPY_FUNCTIONS, client.right - 2 * margin - 2 * buttonWidth + margin / 2, buttonTop,
          buttonWidth, buttonHeight);
    InvalidateRect(dialog, nullptr, TRUE);
}

std::string exportTitle(const FunctionLists& lists, bool found) {
    if (!found) return lists.module + " was not found: no export table to show";
    if (!lists.executable) return lists.module + " is neither a PE nor an NE module: no export table to show";
    if (!lists.exportTable) return lists.module + " has no export table";
    return "Exported by " + lists.module + " (" + std::to_string(lists.exports.size()) + ")";
}

// What showFunctionsDialog hands the dialog: its state, and whether the
// module has a file.
struct Opening {
    DialogState* state;
    bool found;
};

void initialise(HWND dialog, const Opening& opening) {
    DialogState& state = *opening.state;
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&state));
    SetWindowTextW(dialog, wideText("Functions of " + state.lists.module).c_str());
    state.imports.window = GetDlgItem(dialog, IDC_IMPORT_LIST);
    state.exports.window = GetDlgItem(dialog, IDC_EXPORT_LIST);
    state.exports.section = state.lists.sections.size();
    state.lastList = state.imports.window;
    insertColumns(dialog, state.imports.window, kImportColumnTitles, kImportWidths, kImportColumnCount);
    insertColumns(dialog, state.exports.window, kExportColumnTitles, kExportWidths, kExportColumnCount);

    // The page's marks beside the imports that do not resolve, at the
    // system's small-icon size.
    state.images = createStateImages();
    SendMessageW(state.imports.window, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(state.images));

    HWND sections = GetDlgItem(dialog, IDC_IMPORT_SECTION);
    for (const ImportSection& section : state.lists.sections)
        SendMessageW(sections, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wideText(section.title).c_str()));
    if (state.lists.sections.empty()) {
        const std::string empty = state.lists.note.empty()
                                      ? "No module of the closure imports " + state.lists.module
                                      : state.lists.note;
        SendMessageW(sections, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wideText(empty).c_str()));
        EnableWindow(sections, FALSE);
    }
    SendMessageW(sections, CB_SETCURSEL, 0, 0);
    SetDlgItemTextW(dialog, IDC_EXPORT_TITLE, wideText(exportTitle(state.lists, opening.found)).c_str());
    CheckDlgButton(dialog, IDC_UNDECORATE, state.undecorate ? BST_CHECKED : BST_UNCHECKED);

    RECT frame{};
    GetWindowRect(dialog, &frame);
    state.minimum = SIZE{(frame.right - frame.left) / 2, (frame.bottom - frame.top) / 2};
    layOut(dialog);
    refillBoth(state);
    startNames(dialog, state);
}

// Every row has its readable name: a filter or a sort by name now takes
// them all.
void onNamesMade(HWND dialog, DialogState& state) {
    state.namesMade = true;
    for (ShownList* list : {&state.imports, &state.exports}) {
        const int nameColumn = state.isExports(*list) ? int(kExportName) : int(kImportName);
        if (!state.filter.empty() || list->column == nameColumn) refill(state, *list);
    }
    if (state.copyWaiting) {
        state.copyWaiting = false;
        copyRows(dialog, state);
    }
}

void onCommand(HWND dialog, DialogState& state, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case IDC_FUNCTION_FILTER:
        if (HIWORD(wParam) != EN_CHANGE) return;
        {
            const int length = GetWindowTextLengthW(GetDlgItem(dialog, IDC_FUNCTION_FILTER));
            std::wstring text(std::size_t(std::max(length, 0)) + 1, L'\0');
            text.resize(std::size_t(GetDlgItemTextW(dialog, IDC_FUNCTION_FILTER, &text[0], length + 1)));
            state.filter = utf8Text(text);
        }
        refillBoth(state);
        return;
    case IDC_UNDECORATE:
        if (HIWORD(wParam) != BN_CLICKED) return;
        state.undecorate = IsDlgButtonChecked(dialog, IDC_UNDECORATE) == BST_CHECKED;
        saveUndecorateSetting(state.undecorate);
        refillBoth(state);
        startNames(dialog, state);
        return;
    case IDC_IMPORT_SECTION:
        if (HIWORD(wParam) != CBN_SELCHANGE || state.lists.sections.empty()) return;
        state.imports.section = std::size_t(
            std::max<LRESULT>(0, SendDlgItemMessageW(dialog, IDC_IMPORT_SECTION, CB_GETCURSEL, 0, 0)));
        refill(state, state.imports);
        return;
    case IDC_COPY_FUNCTIONS: copyRows(dialog, state); return;
    case IDCANCEL: EndDialog(dialog, IDCANCEL); return;
    default: return;
    }
}

INT_PTR CALLBACK functionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        initialise(dialog, *reinterpret_cast<const Opening*>(lParam));
        return TRUE;
    }
    DialogState* state = stateOf(dialog);
    if (!state) return FALSE;
    switch (message) {
    case WM_NOTIFY: {
        const INT_PTR handled = onNotify(dialog, *state, *reinterpret_cast<NMHDR*>(lParam));
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 0);
        return handled;
    }
    case WM_COMMAND: onCommand(dialog, *state, wParam); return TRUE;
    case kNamesMade: onNamesMade(dialog, *state); return TRUE;
    case WM_SIZE: layOut(dialog); return TRUE;
    case WM_GETMINMAXINFO: {
        auto& limits = *reinterpret_cast<MINMAXINFO*>(lParam);
        limits.ptMinTrackSize = POINT{state->minimum.cx, state->minimum.cy};
        return TRUE;
    }
    default: return FALSE;
    }
}

}  // namespace

bool undecorateSetting() { return userSwitch(kUndecorateNamesSetting, true); }

void saveUndecorateSetting(bool undecorate) { saveUserSwitch(kUndecorateNamesSetting, undecorate); }

void showFunctionsDialog(DependencyExtension& ext) {
    ModuleNode* node = ext.scanState == kScanFinished ? selectedNode(ext) : nullptr;
    if (!node || !ext.platform) {
        MessageBeep(MB_ICONEXCLAMATION);
        return;
    }
    HWND page = static_cast<HWND>(ext.pageWindow);
    DialogState state(ext.modules);
    state.undecorate = undecorateSetting();
    {
        // Reading the importers' tables and the module's exports takes a
        // moment for large ones; the scan is done, its platform idle.
        HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        // A managed reference of the tree names no import table's functions.
        const std::string note = treeIsShown(ext) ? managedImportsNote(*node) : std::string();
        const std::vector<Importer> importers =
            note.empty() ? importersOf(*node, *ext.nodes, !treeIsShown(ext)) : std::vector<Importer>();
        state.lists = readFunctionLists(node->moduleName, node->found ? node->fullPath : std::string(),
                                        ext.delayLoads, importers, *ext.platform, state.cache,
                                        node->processContext);
        state.lists.note = note;
        prepareReadableNames(state.lists);
        SetCursor(previous);
    }
    Opening opening{&state, node->found};
    DialogBoxParamW(static_cast<HINSTANCE>(moduleInstance), MAKEINTRESOURCEW(IDD_FUNCTIONS),
                    GetAncestor(page, GA_ROOT), functionsDialogProc, reinterpret_cast<LPARAM>(&opening));
}

}  // namespace vost
