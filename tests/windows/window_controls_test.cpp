// The real tree-view and list-view controls, driven through the window
// messages of the page's controls from a worker thread, as the scan drives
// them; and, when the in-memory controls are built, the same scenario on both.
#include "platform/win32/window_controls.h"

#include "page/scan_rows.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <thread>
#include <vector>

#ifdef VOST_HAVE_MEMORY_CONTROLS
#include "platform/memory/memory_list.h"
#include "platform/memory/memory_tree.h"
#endif

namespace vost {
namespace {

// The page's answers to the worker's requests (page_dialog.cpp does the same).
WNDPROC plainPageProc = nullptr;
LRESULT CALLBACK answeringPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kInsertItemRequestMessage || message == kInsertItemsRequestMessage ||
        message == kFullRowRequestMessage || message == kStateImageRequestMessage || message == kPageUpdatesMessage)
        return answerPageRequest(window, message, lParam);
    return CallWindowProcA(plainPageProc, window, message, wParam, lParam);
}

// A hidden page window with a tree view 1000 and a list view 1012 (report
// view, five columns), owned by the test's thread. An answering page takes
// the worker's requests as the real page does; a plain one knows none of
// them, and the controls then ask item by item.
class TestPage {
public:
    explicit TestPage(bool answering = false) {
        INITCOMMONCONTROLSEX init = {sizeof init, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&init);
        page_ = CreateWindowExA(0, "STATIC", "page", WS_POPUP, 0, 0, 600, 400, nullptr, nullptr, nullptr, nullptr);
        tree_ = CreateWindowExA(0, WC_TREEVIEWA, "", WS_CHILD | TVS_HASBUTTONS | TVS_HASLINES, 0, 0, 300, 400,
                                page_, reinterpret_cast<HMENU>(kTreeControlId), nullptr, nullptr);
        list_ = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | LVS_REPORT, 300, 0, 300, 400, page_,
                                reinterpret_cast<HMENU>(kListControlId), nullptr, nullptr);
        for (int column = 0; column < 5; ++column) {
            LVCOLUMNA heading = {};
            heading.mask = LVCF_TEXT | LVCF_WIDTH;
            heading.cx = 50;
            heading.pszText = const_cast<char*>("heading");
            SendMessageA(list_, LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&heading));
        }
        if (answering)
            plainPageProc = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrA(page_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&answeringPageProc)));
    }
    ~TestPage() { DestroyWindow(page_); }
    HWND page() const { return page_; }
    HWND tree() const { return tree_; }
    HWND list() const { return list_; }

    // Runs `work` on a second thread while this thread serves the controls'
    // messages, as the page's thread serves the scan worker.
    template <class Work>
    void fromWorker(Work work) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            work();
            done = true;
            PostThreadMessageA(threadId_, WM_NULL, 0, 0);
        });
        MSG message;
        while (!done) {
            if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
            else MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
        worker.join();
    }

private:
    HWND page_, tree_, list_;
    DWORD threadId_ = GetCurrentThreadId();
};

// Nodes that carry only a module name; no file is ever read for them.
class NoFiles : public AnalysisPlatform {
public:
    std::unique_ptr<MappedFile> mapFile(const char*) override { return nullptr; }
    std::string searchModule(const char*, ModuleBits) override { return std::string(); }
    bool readFixedVersion(const char*, FixedFileVersion&) override { return false; }
    bool smallIconIndex(const char*, int&) override { return false; }
    void showError(WindowHandle, const char*, const char*) override {}
};

std::deque<ModuleNode>& nodePool() {
    static std::deque<ModuleNode> pool;
    return pool;
}

// Labels in the forms the page uses, with the characters where the
// control's collation differs from a plain comparison: hyphen, apostrophe,
// underscore, digits, letter case, and one label twice.
const char* const kLabels[] = {
    "USER32.DLL (c:\\windows\\system32\\user32.dll [5.1.2600.2180])",
    "API-MS-WIN-CORE-FILE-L1-1-0.DLL (file not found)",
    "APIMS.DLL (file not found)",
    "_CORE.DLL (file not found)",
    "MSVCRT.DLL (c:\\windows\\system32\\msvcrt.dll [7.0.2600.2180])",
    "O'NEIL.DLL (file not found)",
    "ONE.DLL (file not found)",
    "2D.DLL (file not found)",
    "10.DLL (file not found)",
    "kernel32.dll (c:\\windows\\system32\\kernel32.dll)",
    "KERNEL32.DLL (c:\\windows\\system32\\kernel32.dll [10.0.18362.1350])",
    "MSVCRT.DLL (c:\\windows\\system32\\msvcrt.dll [7.0.2600.2180])",
    "~TILDE.DLL (file not found)",
    "A.DLL (file not found)",
};
constexpr int kLabelCount = sizeof kLabels / sizeof kLabels[0];

const char* const kRows[] = {"VIEW.EXE", "KERNEL32.DLL", "MSVCRT.DLL", "MSVCRT", "NTDLL.DLL", "_ZZ.DLL", "A-B.DLL"};
constexpr int kRowCount = sizeof kRows / sizeof kRows[0];

// What one scenario saw, for comparing one implementation with the other.
struct Outcome {
    std::vector<std::string> childLabels;
    std::vector<int> childNodes;  // which of kLabels each child carries
    int rootHasChildren = -1, rootHasChildrenAfterClear = -1, childHasChildren = -1;
    bool rootExpanded = false;
    std::vector<int> finds;
    std::vector<std::string> fullRow;
    std::vector<std::string> sortedRows;
    std::vector<std::string> descendingRows;
    std::vector<int> pastEnd;
    int rowCount = 0;
    int selected = 0;
    std::string longCell;
    std::vector<int> itemStates, rowStates;
    bool operator==(const Outcome& o) const {
        return childLabels == o.childLabels && childNodes == o.childNodes &&
               fullRow == o.fullRow &&
               rootHasChildren == o.rootHasChildren && rootHasChildrenAfterClear == o.rootHasChildrenAfterClear &&
               childHasChildren == o.childHasChildren && rootExpanded == o.rootExpanded && finds == o.finds &&
               sortedRows == o.sortedRows && descendingRows == o.descendingRows && pastEnd == o.pastEnd &&
               rowCount == o.rowCount && selected == o.selected && longCell == o.longCell &&
               itemStates == o.itemStates && rowStates == o.rowStates;
    }
};

int byName(ModuleNode* a, ModuleNode* b, void* direction) {
    const int result = lstrcmpiA(a->moduleName.c_str(), b->moduleName.c_str());
    return *static_cast<int*>(direction) ? result : -result;
}

Outcome runScenario(TreeControl& tree, ListControl& list) {
    std::deque<ModuleNode>& pool = nodePool();
    Outcome outcome;
    // Tree items carry addresses that are never followed.
    std::vector<ModuleNode*> nodes;
    for (int i = 0; i < kLabelCount; ++i) nodes.push_back(reinterpret_cast<ModuleNode*>(std::uintptr_t(0x1000 + 16 * i)));

    ModuleNode* rootNode = reinterpret_cast<ModuleNode*>(std::uintptr_t(0x9000));
    const TreeItem root = tree.insertRoot("VIEW.EXE(d:\\tools\\view.exe)", 3, rootNode);
    outcome.rootHasChildren = tree.itemHasChildren(root);
    for (int i = 0; i < kLabelCount; ++i) {
        const int image = i;
        tree.insertSorted(root, kLabels[i], i % 2 ? &image : nullptr, nodes[i]);
    }
    for (TreeItem child = tree.firstChild(root); child; child = tree.nextSibling(child)) {
        outcome.childLabels.push_back(tree.itemLabel(child));
        const auto at = std::find(nodes.begin(), nodes.end(), tree.itemNode(child));
        outcome.childNodes.push_back(at == nodes.end() ? -1 : int(at - nodes.begin()));
    }
    // All at once, as the walk reads them: the same items in the same order,
    // read once more item by item.
    for (int reading = 0; reading < 2; ++reading) {
        const std::vector<TreeChild> children = tree.children(root);
        EXPECT_EQ(children.size(), outcome.childNodes.size());
        TreeItem child = tree.firstChild(root);
        for (std::size_t i = 0; i < children.size() && child; ++i, child = tree.nextSibling(child)) {
            EXPECT_EQ(children[i].item, child);
            EXPECT_EQ(children[i].node, tree.itemNode(child));
        }
    }
    EXPECT_TRUE(tree.children(tree.firstChild(root)).empty());
    outcome.childHasChildren = tree.itemHasChildren(tree.firstChild(root));
    EXPECT_EQ(root, tree.rootItem());
    EXPECT_EQ(rootNode, tree.itemNode(root));
    EXPECT_EQ(nullptr, tree.nextSibling(root));
    tree.expand(root);
    outcome.rootExpanded = tree.itemExpanded(root);
    tree.setHasChildren(root, 0);
    outcome.rootHasChildrenAfterClear = tree.itemHasChildren(root);

    // Rows are requested at ever higher positions, as the process-wide
    // counter requests them: each lands at the end.
    for (int i = 0; i < kRowCount; ++i) {
        static NoFiles noFiles;
        pool.emplace_back(noFiles, "", kRows[i], nullptr, 0);
        ModuleNode* node = &pool.back();
        outcome.pastEnd.push_back(list.insertRow(40 + i * 3, node->moduleName.c_str(), node));
        list.setCellText(outcome.pastEnd.back(), 4, "c:\\path");
    }
    outcome.rowCount = list.rowCount();
    for (const char* text : {"msvcrt", "MSVCRT.DLL", "msvcrt.dll.x", "view.exe", "A-", "AB", "_", "zz", "NTDLL.DLL", ""})
        outcome.finds.push_back(list.findPrefix(text));

    int ascending = 1;
    list.sort(&byName, &ascending);
    for (int row = 0; row < list.rowCount(); ++row) {
        outcome.sortedRows.push_back(list.cellText(row, 0));
        EXPECT_EQ(std::string(list.rowNode(row)->moduleName), list.cellText(row, 0));
        EXPECT_EQ("c:\\path", list.cellText(row, 4));
    }
    ascending = 0;
    list.sort(&byName, &ascending);
    for (int row = 0; row < list.rowCount(); ++row) outcome.descendingRows.push_back(list.cellText(row, 0));

    outcome.selected = list.selectedRow();
    for (int column = 0; column < 5; ++column) list.fitColumn(column);
    const std::string longText(3000, 'x');
    list.setCellText(0, 3, longText.c_str());
    outcome.longCell = list.cellText(0, 3);

    // A row with its cells in one request: appended, every given cell set.
    static NoFiles noFiles;
    pool.emplace_back(noFiles, "", "FULL.DLL", nullptr, 0);
    const char* const cells[5] = {"FULL.DLL", "1/2/2003", "", nullptr, "c:\\path"};
    const int full = list.insertFullRow(100, cells, &pool.back());
    for (int column = 0; column < 5; ++column) outcome.fullRow.push_back(list.cellText(full, column));
    EXPECT_EQ(&pool.back(), list.rowNode(full));

    // State images: items by handle; rows by their whole Module text, case
    // ignored, wherever the sort has put them.
    const TreeItem first = tree.firstChild(root);
    tree.setItemStateImages({{root, 2}, {first, 1}});
    outcome.itemStates = {tree.itemStateImage(root), tree.itemStateImage(first),
                          tree.itemStateImage(tree.nextSibling(first))};
    list.setRowStateImages({"msvcrt", "ntdll.dll", "NOTHERE.DLL"}, 1);
    list.setRowStateImage("View.exe", 2);
    for (int row = 0; row < list.rowCount(); ++row) outcome.rowStates.push_back(list.rowStateImage(row));
    return outcome;
}

std::vector<std::string> sortedByCollation(std::vector<std::string> labels) {
    std::stable_sort(labels.begin(), labels.end(),
                     [](const std::string& a, const std::string& b) { return lstrcmpA(a.c_str(), b.c_str()) < 0; });
    return labels;
}

TEST(WindowControls, BehaveAsThePageNeedsWhenDrivenFromAWorkerThread) {
    TestPage page;
    WindowTreeControl tree = WindowTreeControl::ofPage(page.page());
    WindowListControl list = WindowListControl::ofPage(page.page());
    ASSERT_EQ(page.tree(), tree.window());
    ASSERT_EQ(page.list(), list.window());
    Outcome outcome;
    page.fromWorker([&] { outcome = runScenario(tree, list); });

    EXPECT_EQ(page.page(), tree.ownerWindow());
    // Siblings in the control's collation; equal labels keep their order.
    EXPECT_EQ(sortedByCollation(std::vector<std::string>(kLabels, kLabels + kLabelCount)), outcome.childLabels);
    const auto first = std::find(outcome.childNodes.begin(), outcome.childNodes.end(), 4);
    const auto second = std::find(outcome.childNodes.begin(), outcome.childNodes.end(), 11);
    EXPECT_EQ(1, second - first);
    EXPECT_EQ(1, outcome.rootHasChildren);
    EXPECT_EQ(0, outcome.childHasChildren);
    EXPECT_TRUE(outcome.rootExpanded);
    EXPECT_EQ(0, outcome.rootHasChildrenAfterClear);

    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6}), outcome.pastEnd);
    EXPECT_EQ(kRowCount, outcome.rowCount);
    // Prefix, case ignored, first row in the list's order; a longer text
    // never finds a shorter row.
    EXPECT_EQ((std::vector<int>{2, 2, -1, 0, 6, -1, 5, -1, 4, 0}), outcome.finds);
    EXPECT_EQ((std::vector<std::string>{"FULL.DLL", "1/2/2003", "", "", "c:\\path"}), outcome.fullRow);
    EXPECT_EQ((std::vector<std::string>{"_ZZ.DLL", "A-B.DLL", "KERNEL32.DLL", "MSVCRT", "MSVCRT.DLL", "NTDLL.DLL",
                                        "VIEW.EXE"}),
              outcome.sortedRows);
    EXPECT_EQ((std::vector<std::string>{"VIEW.EXE", "NTDLL.DLL", "MSVCRT.DLL", "MSVCRT", "KERNEL32.DLL", "A-B.DLL",
                                        "_ZZ.DLL"}),
              outcome.descendingRows);
    EXPECT_EQ(-1, outcome.selected);
    EXPECT_EQ(std::string(3000, 'x'), outcome.longCell);
    EXPECT_EQ((std::vector<int>{2, 1, 0}), outcome.itemStates);
    // VIEW.EXE, NTDLL.DLL, MSVCRT.DLL, MSVCRT, then the others.
    EXPECT_EQ((std::vector<int>{2, 1, 0, 1, 0, 0, 0, 0}), outcome.rowStates);
}

// The real page answers the worker's requests: the same outcome as asking
// item by item.
TEST(WindowControls, RequestsAnsweredByThePageGiveWhatItemByItemGives) {
    TestPage plain, answering(true);
    Outcome itemByItem, requested;
    WindowTreeControl plainTree(plain.tree()), answeringTree(answering.tree());
    WindowListControl plainList(plain.list()), answeringList(answering.list());
    plain.fromWorker([&] { itemByItem = runScenario(plainTree, plainList); });
    answering.fromWorker([&] { requested = runScenario(answeringTree, answeringList); });
    EXPECT_EQ(itemByItem.childLabels, requested.childLabels);
    EXPECT_TRUE(itemByItem == requested);
}

// The scan's own record of its rows answers whether a row begins with a text
// as the control's search does; a text outside ASCII, in a row or asked for,
// is left to the control, whose case-blind comparison reaches beyond ASCII.
TEST(WindowControls, TheScansRowRecordAnswersAsTheControlAlsoOutsideAscii) {
    TestPage page;
    WindowListControl list(page.list());
    page.fromWorker([&] {
        list.insertRow(0, "KERNEL32.DLL", nullptr);
        ScanRows rows(list);  // finds the row already there
        const char* const queries[] = {"kernel", "\xE9t\xE9", "\xC9T\xC9.DLL", "\xC9", "KERNEL32.DLLX", "e", "", "msv"};
        const char* const added[] = {"MSVCRT.DLL", "\xC9T\xC9.DLL"};  // the second outside ASCII
        for (int step = 0; step < 3; ++step) {
            for (const char* text : queries)
                EXPECT_EQ(rows.hasRow(text), list.findPrefix(text) != -1) << step << " " << text;
            if (step < 2) {
                list.insertRow(1 + step, added[step], nullptr);
                rows.noteRow(added[step]);
            }
        }
    });
}

TEST(WindowControls, ReportSelectionAndTheCaretItem) {
    TestPage page;
    WindowTreeControl tree(page.tree());
    WindowListControl list(page.list());
    EXPECT_EQ(nullptr, tree.selectedItem());
    const TreeItem root = tree.insertRoot("ROOT(x)", 0, nullptr);
    const TreeItem child = tree.insertSorted(root, "CHILD (x)", nullptr, nullptr);
    SendMessageA(page.tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(child));
    EXPECT_EQ(child, tree.selectedItem());

    list.insertRow(0, "A.DLL", nullptr);
    list.insertRow(1, "B.DLL", nullptr);
    LVITEMA state = {};
    state.stateMask = state.state = LVIS_SELECTED;
    SendMessageA(page.list(), LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));
    EXPECT_EQ(1, list.selectedRow());
    EXPECT_EQ(nullptr, list.rowNode(5));
    EXPECT_EQ("", list.cellText(5, 0));
}

#ifdef VOST_HAVE_MEMORY_CONTROLS
TEST(WindowControls, InMemoryControlsBehaveAlike) {
    TestPage page;
    WindowTreeControl tree(page.tree());
    WindowListControl list(page.list());
    Outcome real;
    page.fromWorker([&] { real = runScenario(tree, list); });
    MemoryTree memoryTree;
    MemoryList memoryList;
    const Outcome memory = runScenario(memoryTree, memoryList);
    EXPECT_EQ(real.childLabels, memory.childLabels);
    EXPECT_EQ(real.childNodes, memory.childNodes);
    EXPECT_EQ(real.finds, memory.finds);
    EXPECT_EQ(real.sortedRows, memory.sortedRows);
    EXPECT_EQ(real.descendingRows, memory.descendingRows);
    EXPECT_TRUE(real == memory);
}

// Every file of the system folder as a child label in the page's form: the
// real control and the in-memory tree put them in the same order.
TEST(WindowControls, InMemoryTreeSortsTheSystemFolderAlike) {
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, sizeof system);
    std::vector<std::string> labels;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string(system) + "\\*").c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    do {
        std::string name = found.cFileName, path = std::string(system) + "\\" + name;
        CharUpperA(&name[0]);
        CharLowerA(&path[0]);
        labels.push_back(name + " (" + path + ")");
    } while (FindNextFileA(search, &found));
    FindClose(search);
    ASSERT_GT(labels.size(), 500u);

    TestPage page;
    WindowTreeControl tree(page.tree());
    MemoryTree memory;
    const TreeItem realRoot = tree.insertRoot("ROOT(x)", 0, nullptr);
    const TreeItem memoryRoot = memory.insertRoot("ROOT(x)", 0, nullptr);
    for (const std::string& label : labels) {
        tree.insertSorted(realRoot, label.c_str(), nullptr, nullptr);
        memory.insertSorted(memoryRoot, label.c_str(), nullptr, nullptr);
    }
    std::vector<std::string> realOrder, memoryOrder;
    for (TreeItem item = tree.firstChild(realRoot); item; item = tree.nextSibling(item))
        realOrder.push_back(tree.itemLabel(item));
    for (TreeItem item = memory.firstChild(memoryRoot); item; item = memory.nextSibling(item))
        memoryOrder.push_back(memory.itemLabel(item));
    EXPECT_EQ(realOrder, memoryOrder);
}
#endif

}  // namespace
}  // namespace vost
