// The in-memory controls behave as the real ones do where the page relies on it.
#include <gtest/gtest.h>

#include <cctype>
#include <random>

#include "platform/memory/memory_list.h"
#include "platform/memory/memory_tree.h"

namespace vost::test {
namespace {

ModuleNode* tag(std::uintptr_t n) { return reinterpret_cast<ModuleNode*>(n); }

std::vector<std::string> labels(MemoryTree& tree, TreeItem parent) {
    std::vector<std::string> out;
    for (TreeItem c = tree.firstChild(parent); c; c = tree.nextSibling(c)) out.push_back(tree.itemLabel(c));
    return out;
}

TEST(MemoryTree, SortedInsertionPutsEqualLabelsAfterAndSetsTheParentsFlag) {
    MemoryTree tree;
    const TreeItem root = tree.insertRoot("ROOT(x)", 3, tag(1));
    EXPECT_EQ(tree.itemHasChildren(root), 1);
    tree.setHasChildren(root, 0);
    const int icon = 7;
    const TreeItem b = tree.insertSorted(root, "B.DLL (b)", &icon, tag(2));
    EXPECT_EQ(tree.itemHasChildren(root), 1);  // the first child raises the flag
    EXPECT_EQ(tree.itemHasChildren(b), 0);
    const TreeItem a1 = tree.insertSorted(root, "a.dll (x)", nullptr, tag(3));
    const TreeItem a2 = tree.insertSorted(root, "a.dll (x)", nullptr, tag(4));
    tree.insertSorted(root, "C-D.DLL (c)", nullptr, tag(5));
    tree.insertSorted(root, "CC.DLL (c)", nullptr, tag(6));
    EXPECT_EQ(labels(tree, root),
              (std::vector<std::string>{"a.dll (x)", "a.dll (x)", "B.DLL (b)", "CC.DLL (c)", "C-D.DLL (c)"}));
    EXPECT_EQ(tree.nextSibling(a1), a2);  // equal labels keep their arrival order
    EXPECT_EQ(tree.itemNode(a2), tag(4));
    EXPECT_EQ(tree.itemImage(b), 7);
    EXPECT_EQ(tree.itemImage(a1), -1);
    EXPECT_EQ(tree.rootItem(), root);
}

TEST(MemoryList, InsertionPositionsSearchAndSort) {
    MemoryList list;
    EXPECT_EQ(list.insertRow(1000, "B.DLL", tag(2)), 0);  // past the end appends
    EXPECT_EQ(list.insertRow(1, "C.DLL", tag(3)), 1);     // at the end appends
    EXPECT_EQ(list.insertRow(0, "A.DLL", tag(1)), 0);     // inside inserts
    EXPECT_EQ(list.insertRow(-1, "X", tag(9)), -1);
    EXPECT_EQ(list.rowCount(), 3);
    list.select(2);  // C.DLL

    EXPECT_EQ(list.findPrefix("b"), 1);
    EXPECT_EQ(list.findPrefix("c.dll"), 2);
    EXPECT_EQ(list.findPrefix("c.dllx"), -1);
    EXPECT_EQ(list.findPrefix(""), 0);

    // Descending by the node tags; the selection moves with its row.
    list.sort([](ModuleNode* a, ModuleNode* b, void*) { return a < b ? 1 : a > b ? -1 : 0; }, nullptr);
    EXPECT_EQ(list.cellText(0, 0), "C.DLL");
    EXPECT_EQ(list.cellText(2, 0), "A.DLL");
    EXPECT_EQ(list.selectedRow(), 0);
    EXPECT_EQ(list.findPrefix("a"), 2);  // the search follows the current order

    // Cells are read whole, however long.
    list.setCellText(0, 4, std::string(3000, 'p').c_str());
    EXPECT_EQ(list.cellText(0, 4), std::string(3000, 'p'));
    list.setCellText(7, 1, "ignored");
    EXPECT_EQ(list.cellText(7, 1), "");
}

TEST(MemoryList, SortIsStableAndSurvivesAnInconsistentComparison) {
    MemoryList list;
    for (int i = 0; i < 50; ++i) list.insertRow(i, std::to_string(i).c_str(), tag(1 + i % 3));
    list.sort([](ModuleNode* a, ModuleNode* b, void*) { return a == b ? 0 : a < b ? -1 : 1; }, nullptr);
    std::string order;
    for (int r = 0; r < 17; ++r) order += list.cellText(r, 0) + ",";
    EXPECT_EQ(order, "0,3,6,9,12,15,18,21,24,27,30,33,36,39,42,45,48,");
    int calls = 0;
    list.sort([](ModuleNode*, ModuleNode*, void* n) { return (++*static_cast<int*>(n) % 3) - 1; }, &calls);
    EXPECT_EQ(list.rowCount(), 50);
}

// The first row, in the current order, whose module cell begins with `text`
// when ASCII case is ignored: what the list view's prefix search answers.
int scanForPrefix(MemoryList& list, const std::string& text) {
    for (int row = 0; row < list.rowCount(); ++row) {
        const std::string cell = list.cellText(row, 0);
        if (cell.size() < text.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < text.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(cell[i])) == std::tolower(static_cast<unsigned char>(text[i]));
        if (same) return row;
    }
    return -1;
}

TEST(MemoryList, PrefixSearchAgreesWithAScanFromTheFirstRowThroughInsertsRenamesAndSorts) {
    std::mt19937 random(42);
    // Few letters, so names are often prefixes of each other ("MSVCRT" of
    // "MSVCRT40.DLL") and repeat in other cases.
    auto name = [&] {
        std::string text;
        for (int n = 1 + random() % 6; n > 0; --n) text += "aBmS."[random() % 5];
        return text;
    };
    for (int round = 0; round < 20; ++round) {
        MemoryList list;
        for (int step = 0; step < 400; ++step) {
            switch (random() % 6) {
            case 0:
            case 1: list.insertRow(list.rowCount(), name().c_str(), tag(1 + random() % 50)); break;
            case 2: list.insertRow(int(random() % (list.rowCount() + 2)), name().c_str(), tag(1 + random() % 50)); break;
            case 3:
                if (list.rowCount()) list.setCellText(int(random() % list.rowCount()), 0, name().c_str());
                break;
            case 4:
                list.sort([](ModuleNode* a, ModuleNode* b, void*) { return a < b ? -1 : a > b ? 1 : 0; }, nullptr);
                break;
            default: break;
            }
            const std::string prefix = random() % 10 == 0 ? "" : name();
            ASSERT_EQ(list.findPrefix(prefix.c_str()), scanForPrefix(list, prefix)) << prefix;
        }
    }
}

}  // namespace
}  // namespace vost::test
