#include "page/page_dialog.h"

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <process.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "component/extension_object.h"
#include "component/module_instance.h"
#include "page/caching_platform.h"
#include "page/check_marks.h"
#include "page/commands.h"
#include "page/functions_dialog.h"
#include "page/module_list.h"
#include "page/module_menu.h"
#include "page/run_dialog.h"
#include "page/scan.h"
#include "page/state_images.h"
#include "page/user_settings.h"
#include "platform/platform_factory.h"
#include "platform/win32/resource_text.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/window_controls.h"
#include "resources/resource_ids.h"

namespace vost {
namespace {

// Set when the page's window is destroyed. A scan still running then finds
// the controls empty and silent, so its walk ends at the next step without
// touching the gone windows (whose handles may already name new windows).
using PageGone = std::shared_ptr<std::atomic<bool>>;

class ClosingTree : public TreeControl {
public:
    ClosingTree(std::shared_ptr<TreeControl> inner, PageGone gone)
        : inner_(std::move(inner)), gone_(std::move(gone)) {}

    TreeItem insertSorted(TreeItem parent, const char* label, const int* image,
                          ModuleNode* node) override {
        return open() ? inner_->insertSorted(parent, label, image, node) : nullptr;
    }
    void insertChildren(TreeItem parent, std::vector<NewTreeItem>& children) override {
        if (open()) inner_->insertChildren(parent, children);
    }
    WindowHandle ownerWindow() override { return open() ? inner_->ownerWindow() : nullptr; }
    TreeItem insertRoot(const char* label, int image, ModuleNode* node) override {
        return open() ? inner_->insertRoot(label, image, node) : nullptr;
    }
    TreeItem firstChild(TreeItem item) override {
        return open() ? inner_->firstChild(item) : nullptr;
    }
    TreeItem nextSibling(TreeItem item) override {
        return open() ? inner_->nextSibling(item) : nullptr;
    }
    ModuleNode* itemNode(TreeItem item) override {
        return open() ? inner_->itemNode(item) : nullptr;
    }
    std::vector<TreeChild> children(TreeItem item) override {
        return open() ? inner_->children(item) : std::vector<TreeChild>();
    }
    void setHasChildren(TreeItem item, int hasChildren) override {
        if (open()) inner_->setHasChildren(item, hasChildren);
    }
    void expand(TreeItem item) override {
        if (open()) inner_->expand(item);
    }
    void setImageList(ImageListHandle list) override {
        if (open()) inner_->setImageList(list);
    }
    TreeItem selectedItem() override { return open() ? inner_->selectedItem() : nullptr; }
    TreeItem rootItem() override { return open() ? inner_->rootItem() : nullptr; }
    bool closed() override { return !open(); }
    std::string itemLabel(TreeItem item) override {
        return open() ? inner_->itemLabel(item) : std::string();
    }
    int itemHasChildren(TreeItem item) override {
        return open() ? inner_->itemHasChildren(item) : 0;
    }
    bool itemExpanded(TreeItem item) override { return open() && inner_->itemExpanded(item); }
    void setItemStateImage(TreeItem item, int image) override {
        if (open()) inner_->setItemStateImage(item, image);
    }
    void setItemStateImages(const std::vector<ItemStateImage>& images) override {
        if (open()) inner_->setItemStateImages(images);
    }
    int itemStateImage(TreeItem item) override { return open() ? inner_->itemStateImage(item) : 0; }

private:
    bool open() const { return !gone_->load(); }
    std::shared_ptr<TreeControl> inner_;
    PageGone gone_;
};

class ClosingList : public ListControl {
public:
    ClosingList(std::shared_ptr<ListControl> inner, PageGone gone)
        : inner_(std::move(inner)), gone_(std::move(gone)) {}

    int insertRow(int position, const char* moduleText, ModuleNode* node) override {
        return open() ? inner_->insertRow(position, moduleText, node) : -1;
    }
    int insertFullRow(int position, const char* const (&cells)[5], ModuleNode* node) override {
        return open() ? inner_->insertFullRow(position, cells, node) : -1;
    }
    void setCellText(int row, int column, const char* text) override {
        if (open()) inner_->setCellText(row, column, text);
    }
    int findPrefix(const char* text) override { return open() ? inner_->findPrefix(text) : -1; }
    void sort(RowComparison compare, void* parameter) override {
        if (open()) inner_->sort(compare, parameter);
    }
    int rowCount() override { return open() ? inner_->rowCount() : 0; }
    std::string cellText(int row, int column) override {
        return open() ? inner_->cellText(row, column) : std::string();
    }
    ModuleNode* rowNode(int row) override { return open() ? inner_->rowNode(row) : nullptr; }
    int selectedRow() override { return open() ? inner_->selectedRow() : -1; }
    void fitColumn(int column) override {
        if (open()) inner_->fitColumn(column);
    }
    void setRowStateImage(const char* moduleText, int image) override {
        if (open()) inner_->setRowStateImage(moduleText, image);
    }
    void setRowStateImages(const std::vector<const char*>& moduleTexts, int image) override {
        if (open()) inner_->setRowStateImages(moduleTexts, image);
    }
    int rowStateImage(int row) override { return open() ? inner_->rowStateImage(row) : 0; }

    void close() { gone_->store(true); }
    const PageGone& gone() const { return gone_; }

private:
    bool open() const { return !gone_->load(); }
    std::shared_ptr<ListControl> inner_;
    PageGone gone_;
};

// The state images of the page's tree and list (one list each: a list view
// may take its image lists with it), made by the page's thread and destroyed
// by it when the window goes, after the controls have let go of them.
struct StateImages {
    HIMAGELIST tree = createStateImages();
    HIMAGELIST list = createStateImages();

    ~StateImages() {
        for (HIMAGELIST images : {tree, list})
            if (images) ImageList_Destroy(images);
    }
    StateImages() = default;
    StateImages(const StateImages&) = delete;
    StateImages& operator=(const StateImages&) = delete;
};

DependencyExtension* extensionOf(HWND window) {
    auto* page = reinterpret_cast<PROPSHEETPAGEW*>(GetWindowLongPtrW(window, DWLP_USER));
    return page ? reinterpret_cast<DependencyExtension*>(page->lParam) : nullptr;
}

// Wraps the page's controls so that they fall silent with the window.
// The worker's changes that need no answer travel with its next request.
void bindControls(DependencyExtension& ext, HWND window, const PageGone& gone, const StateImages& images) {
    auto updates = std::make_shared<PageUpdates>(window);
    ext.tree = std::make_shared<ClosingTree>(
        std::make_shared<WindowTreeControl>(GetDlgItem(window, IDC_MODULE_TREE), images.tree, updates), gone);
    ext.list = std::make_shared<ClosingList>(
        std::make_shared<WindowListControl>(GetDlgItem(window, IDC_MODULE_LIST), images.list, updates), gone);
}

// Gives the page its controls and the platform of its scan.
void bindPage(DependencyExtension& ext, HWND window) {
    auto images = std::make_shared<StateImages>();
    bindControls(ext, window, std::make_shared<std::atomic<bool>>(false), *images);
    ext.pageResources = std::move(images);
    // Modules recur all over a closure: each file is searched, read and
    // looked up once per scan.
    ext.platform = std::make_shared<CachingPlatform>(createPlatform(PlatformOptions{}));
    // Each module file is read once for the walk, the check and the
    // Functions dialog (with functions: the page always checks).
    ext.modules = std::make_shared<ModuleCache>(true);
    ext.delayLoads = userSwitch(kShowDelayLoadedSetting, true);
}

// The worker: holds a reference on its extension object (and so on the
// page's controls, platform and nodes) and on this library for its whole run.
unsigned __stdcall scanWorker(void* argument) {
    auto* ext = static_cast<DependencyExtension*>(argument);
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(&scanWorker), &self);
    scanThread(*ext);
    extensionRelease(ext);
    // The library may be unloaded as soon as its last object is gone: leave
    // its code before the module reference is dropped.
    if (self != nullptr) FreeLibraryAndExitThread(self, 0);
    return 0;
}

void startScan(DependencyExtension& ext) {
    // The state is set before the thread exists, so an activation that
    // arrives before the worker runs starts nothing.
    ext.scanState = kScanRunning;
    extensionAddRef(&ext);
    // The worker leaves through FreeLibraryAndExitThread, not through the
    // runtime's thread end, which is what closes a _beginthread thread's
    // handle; so the thread comes from _beginthreadex and its handle is
    // closed here.
    const uintptr_t thread = _beginthreadex(nullptr, kScanStackSize, scanWorker, &ext, 0, nullptr);
    if (thread == 0) {
        extensionRelease(&ext);
        ext.scanState = kScanNotStarted;  // the next activation tries again
        return;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
}

// Shows delay-loaded modules or leaves them out, for this user from now on:
// the page is scanned again, its controls emptied and bound anew (their
// wrappers keep nothing of the old scan), before the old scan's nodes go.
void toggleDelayLoaded(DependencyExtension& ext, HWND window) {
    auto* list = dynamic_cast<ClosingList*>(ext.list.get());
    auto* images = static_cast<StateImages*>(ext.pageResources.get());
    if (ext.scanState != kScanFinished || !list || !images) {
        MessageBeep(MB_ICONEXCLAMATION);
        return;
    }
    ext.delayLoads = !ext.delayLoads;
    saveUserSwitch(kShowDelayLoadedSetting, ext.delayLoads);
    SendDlgItemMessageW(window, IDC_MODULE_TREE, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    SendDlgItemMessageW(window, IDC_MODULE_LIST, LVM_DELETEALLITEMS, 0, 0);
    bindControls(ext, window, list->gone(), *images);
    ext.checkMarks.reset();
    ext.nodes = std::make_shared<NodeStore>();
    ext.sortColumn = kNoSortColumn;
    ext.sortAscending = 1;
    startScan(ext);
}

void showView(HWND window, int command) {
    ShowWindow(GetDlgItem(window, IDC_MODULE_TREE), command == IDC_SHOW_TREE ? SW_SHOW : SW_HIDE);
    ShowWindow(GetDlgItem(window, IDC_MODULE_LIST), command == IDC_SHOW_LIST ? SW_SHOW : SW_HIDE);
}

// A tip's text into a control's buffer of `capacity` characters, `before`
// first, ended by an ellipsis where the tip was cut or the buffer ends.
// `wide`: the buffer takes UTF-16.
void writeTip(const Tip& tip, void* buffer, int capacity, bool wide, const std::string& before = {}) {
    if (!buffer || capacity < 4) return;
    const std::string text = before + tip.text;
    if (wide) {
        const std::wstring all = wideText(text);
        const int length = int(all.size());
        const bool cut = tip.cut || length > capacity - 1;
        const int kept = std::min(length, capacity - (cut ? 2 : 1));
        auto* out = static_cast<WCHAR*>(buffer);
        std::copy(all.begin(), all.begin() + kept, out);
        if (cut) out[kept] = 0x2026;
        out[kept + (cut ? 1 : 0)] = 0;
        return;
    }
    const int length = int(text.size());
    const bool cut = tip.cut || length > capacity - 1;
    const int kept = std::min(length, capacity - (cut ? 4 : 1));
    auto* out = static_cast<char*>(buffer);
    std::memcpy(out, text.data(), std::size_t(kept));
    if (cut) std::memcpy(out + kept, "...", 3);
    out[kept + (cut ? 3 : 0)] = '\0';
}

// The tip of a marked item or row; unmarked ones keep the control's own.
void onInfoTip(DependencyExtension& ext, const NMHDR& header) {
    const CheckMarks* marks = finishedCheck(ext);
    if (!marks) return;
    switch (header.code) {
    case TVN_GETINFOTIPA:
    case TVN_GETINFOTIPW: {
        // The A and W records share their layout up to the text's type.
        const auto& ask = reinterpret_cast<const NMTVGETINFOTIPA&>(header);
        if (const Tip* tip = marks->itemTip(ask.hItem))
            writeTip(*tip, ask.pszText, ask.cchTextMax, header.code == TVN_GETINFOTIPW);
        return;
    }
    case LVN_GETINFOTIPA:
    case LVN_GETINFOTIPW: {
        const auto& ask = reinterpret_cast<const NMLVGETINFOTIPA&>(header);
        WindowListControl list(header.hwndFrom);
        const Tip* tip = marks->rowTip(list.cellText(ask.iItem, 0));
        if (!tip) return;
        // A row whose text does not show whole gets its text before the tip.
        const std::string before = ask.dwFlags & LVGIT_UNFOLDED ? std::string() : list.cellText(ask.iItem, 0) + "\r\n";
        writeTip(*tip, ask.pszText, ask.cchTextMax, header.code == LVN_GETINFOTIPW, before);
        return;
    }
    default: return;
    }
}

INT_PTR onNotify(DependencyExtension& ext, const NMHDR& header) {
    switch (header.code) {
    case TVN_GETINFOTIPA:
    case TVN_GETINFOTIPW:
    case LVN_GETINFOTIPA:
    case LVN_GETINFOTIPW:
        onInfoTip(ext, header);
        return FALSE;
    case PSN_SETACTIVE:
        if (ext.scanState == kScanNotStarted) startScan(ext);
        return FALSE;
    case PSN_APPLY:
        // A program still under the recorder: the user says what becomes of it, or stays.
        if (!confirmCloseDuringRun(ext)) {
            SetWindowLongPtrW(static_cast<HWND>(ext.pageWindow), DWLP_MSGRESULT, PSNRET_INVALID_NOCHANGEPAGE);
            return TRUE;
        }
        return FALSE;
    case PSN_QUERYCANCEL:
        SetWindowLongPtrW(static_cast<HWND>(ext.pageWindow), DWLP_MSGRESULT, confirmCloseDuringRun(ext) ? FALSE : TRUE);
        return TRUE;
    case PSN_RESET:  // closing, when another page was asked
        confirmCloseDuringRun(ext, false);
        return FALSE;
    case LVN_COLUMNCLICK:
        sortModuleList(ext, reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
        return FALSE;
    default:
        return TRUE;
    }
}

void onCommand(DependencyExtension& ext, HWND window, WPARAM wParam) {
    const int command = LOWORD(wParam);
    switch (command) {
    case IDM_SEND_FEEDBACK: sendFeedback(ext); break;
    case IDM_OPEN_HOME_PAGE: openHomePage(ext); break;
    case IDC_SHOW_TREE:
    case IDC_SHOW_LIST:
        // Focus and double-click notifications of the buttons change nothing.
        if (HIWORD(wParam) == BN_CLICKED) showView(window, command);
        break;
    case IDM_EXPLORE_MODULE: exploreSelectedModule(ext); break;
    case IDM_COPY_TO_CLIPBOARD: copyToClipboard(ext); break;
    case IDM_COPY_PROBLEMS: copyProblemsToClipboard(ext); break;
    case IDM_COPY_ALL_TO_FOLDER: copyAllToFolder(ext); break;
    case IDM_SHOW_FUNCTIONS: showFunctionsDialog(ext); break;
    case IDM_SHOW_DELAY_LOADED: toggleDelayLoaded(ext, window); break;
    case IDM_RUN_AND_RECORD: showRunDialog(ext); break;
    default: break;
    }
}

// The page's window is going: the scan, if it still runs, must stop using
// it, and the selection's data object is released here on the shell's thread
// rather than by a worker that may drop the object's last reference.
void onDestroy(DependencyExtension& ext) {
    endRunWithPage(ext);
    HWND window = static_cast<HWND>(ext.pageWindow);
    if (auto* list = dynamic_cast<ClosingList*>(ext.list.get())) list->close();
    // The controls still exist: they let go of the state images, which go too.
    SendDlgItemMessageA(window, IDC_MODULE_TREE, TVM_SETIMAGELIST, TVSIL_STATE, 0);
    SendDlgItemMessageA(window, IDC_MODULE_LIST, LVM_SETIMAGELIST, LVSIL_STATE, 0);
    ext.pageResources.reset();
    ext.pageWindow = nullptr;
    if (auto* data = static_cast<IUnknown*>(ext.dataObject)) {
        ext.dataObject = nullptr;
        data->Release();
    }
}

}  // namespace

void insertListColumns(DependencyExtension& ext) {
    HWND list = GetDlgItem(static_cast<HWND>(ext.pageWindow), IDC_MODULE_LIST);
    for (int column = 0; column < kColumnCount; ++column) {
        std::wstring heading =
            wideText(resourceText(static_cast<HINSTANCE>(moduleInstance), IDS_COLUMN_MODULE + column));
        LVCOLUMNW record{};
        record.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        record.fmt = LVCFMT_LEFT;
        record.cx = 100;
        record.pszText = &heading[0];
        record.iSubItem = column;
        SendMessageW(list, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&record));
    }
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT);
}

INT_PTR CALLBACK pageDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* page = reinterpret_cast<PROPSHEETPAGEW*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        auto& ext = *reinterpret_cast<DependencyExtension*>(page->lParam);
        ext.scanState = kScanNotStarted;
        ext.pageWindow = window;
        SendDlgItemMessageA(window, IDC_SHOW_TREE, BM_SETCHECK, BST_CHECKED, 0);
        insertListColumns(ext);
        bindPage(ext, window);
        return TRUE;
    }
    DependencyExtension* ext = extensionOf(window);
    if (ext == nullptr) return FALSE;
    switch (message) {
    case WM_NOTIFY:
        return onNotify(*ext, *reinterpret_cast<const NMHDR*>(lParam));
    case WM_CONTEXTMENU: {
        POINT cursor{};
        GetCursorPos(&cursor);
        const ScreenPoint point = contextMenuPoint(lParam, ScreenPoint{cursor.x, cursor.y});
        showModuleMenu(*ext, point.x, point.y);
        return TRUE;
    }
    case WM_COMMAND:
        onCommand(*ext, window, wParam);
        return TRUE;
    case WM_DESTROY:
        onDestroy(*ext);
        return FALSE;
    case kRunProgressMessage:
        onRunProgress(*ext);
        return TRUE;
    case kInsertItemRequestMessage:
    case kInsertItemsRequestMessage:
    case kPageUpdatesMessage:
    case kFullRowRequestMessage:
    case kStateImageRequestMessage:
        SetWindowLongPtrA(window, DWLP_MSGRESULT, answerPageRequest(window, message, lParam));
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace vost
