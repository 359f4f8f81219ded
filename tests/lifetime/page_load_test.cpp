// The page under Wine over generated closures: the same tree (labels, order,
// has-children flags) and the same list (every cell) as vostscan.exe, every
// module listed once, and the host's current directory never changed.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "analysis/text.h"
#include "tests/lifetime/page_probe.h"
#include "tests/shell/page_host_fixture.h"
#include "tests/windows/temp_folder.h"

namespace vost::test {
namespace {

class PageLoadTest : public PageHostTest {
protected:
    void expectPageShowsClosure(int moduleCount) {
        TempFolder folder;
        const GeneratedClosure closure = generateClosure(moduleCount, unsigned(moduleCount));
        const std::string file = writeGeneratedClosure(folder.path(), closure);
        const std::string directory = currentDirectory();

        PageOnFile opened = openPageOn(file);
        ASSERT_NE(opened.page(), nullptr);
        bool directoryKept = true;
        ASSERT_TRUE(pumpUntil([&] {
            directoryKept = directoryKept && currentDirectory() == directory;
            return opened.finished();
        }, 30 * 60 * 1000));
        EXPECT_TRUE(directoryKept);
        EXPECT_EQ(currentDirectory(), directory);

        const std::vector<FlatItem> tree = readFlatTree(opened.page());
        const std::vector<ListRow> list = readList(opened.page());
        std::vector<std::string> modules;
        for (const ListRow& row : list) modules.push_back(row[0]);
        expectClosureShown(closure, tree, modules);

        const ScannerView scanner = scannerView(file);
        ASSERT_TRUE(scanner.ok);
        ASSERT_EQ(tree.size(), scanner.tree.size());
        for (std::size_t i = 0; i < tree.size(); ++i)
            ASSERT_EQ(tree[i], scanner.tree[i]) << "item " << i << ": " << tree[i].label << " against "
                                                 << scanner.tree[i].label;
        EXPECT_EQ(list, scanner.list);
    }
};

TEST_F(PageLoadTest, ClosureOf300Modules) { expectPageShowsClosure(300); }

TEST_F(PageLoadTest, ClosureOf1000Modules) { expectPageShowsClosure(1000); }

int rowCount(HWND page) { return int(SendDlgItemMessageA(page, 1012, LVM_GETITEMCOUNT, 0, 0)); }

// What a user does while a large list fills: sorts (and sorts back), switches
// views and scrolls, all on the page's thread between the worker's messages.
// The scan still reads each module once: its tree is the scanner's, and its
// list, sorted once more at the end, is the scanner's list sorted so.
TEST_F(PageLoadTest, SortsAndViewChangesDuringAScanChangeNothingButTheOrder) {
    TempFolder folder;
    const int modules = 1000;
    const GeneratedClosure closure = generateClosure(modules, 77);
    const std::string file = writeGeneratedClosure(folder.path(), closure);

    PageOnFile opened = openPageOn(file);
    HWND page = opened.page();
    ASSERT_NE(page, nullptr);
    int step = 0;
    int rowsAtSorts[2] = {0, 0};
    ASSERT_TRUE(pumpUntil([&] {
        const int rows = rowCount(page);
        if (step == 0 && rows >= modules / 4) {
            click(page, 1004);
            clickColumn(page, 4);  // by path, ascending
            rowsAtSorts[0] = rows;
            ++step;
        } else if (step == 1 && rows >= modules / 2) {
            SendDlgItemMessageA(page, 1012, LVM_SCROLL, 0, 2000);
            clickColumn(page, 4);  // and back: descending
            click(page, 1003);
            SendDlgItemMessageA(page, 1000, WM_VSCROLL, SB_PAGEDOWN, 0);
            rowsAtSorts[1] = rows;
            ++step;
        }
        return opened.finished();
    }, 30 * 60 * 1000));
    // Both sorts came while the list was filling.
    EXPECT_EQ(step, 2);
    EXPECT_LT(rowsAtSorts[1], modules);

    const ScannerView scanner = scannerView(file);
    ASSERT_TRUE(scanner.ok);
    const std::vector<FlatItem> tree = readFlatTree(page);
    ASSERT_EQ(tree.size(), scanner.tree.size());
    for (std::size_t i = 0; i < tree.size(); ++i) ASSERT_EQ(tree[i], scanner.tree[i]) << "item " << i;

    clickColumn(page, 4);  // a third click: ascending by path again
    std::vector<ListRow> expected = scanner.list;
    std::stable_sort(expected.begin(), expected.end(), [](const ListRow& a, const ListRow& b) {
        return compareIgnoringCase(a[4].c_str(), b[4].c_str()) < 0;
    });
    EXPECT_EQ(readList(page), expected);
}

TEST_F(PageLoadTest, ClosureOf5000Modules) { expectPageShowsClosure(5000); }

}  // namespace
}  // namespace vost::test
