// Rows, the prefix search and sorting of the module list.
#include <gtest/gtest.h>

#include "analysis/text.h"
#include "page/module_list.h"
#include "tests/page/page_fixture.h"

namespace vost::test {
namespace {

struct ListFixture : PageFixture {
    // A node with the given texts, and its row.
    ModuleNode& row(const char* name, const char* path, const char* fileVersion = "",
                    const char* productVersion = "", std::uint64_t time = 0) {
        ModuleNode* node = ext.nodes->create(*platform, path, name, nullptr, 0);
        node->fileVersion = fileVersion;
        node->productVersion = productVersion;
        if (time) {
            platform->fake.addFile(path, bytesOf("x"));
            platform->times[asciiLowerCopy(path)] = FileTime::fromValue(time);
        }
        addModuleRow(ext, *node);
        return *node;
    }
    std::vector<std::string> column(int index) {
        std::vector<std::string> texts;
        for (int r = 0; r < list->rowCount(); ++r) texts.push_back(list->cellText(r, index));
        return texts;
    }
};

TEST(AddModuleRow, ChangesTheNodesCaseAndFillsTheCells) {
    ListFixture page;
    nextListIndex = 12345;  // an earlier page of the process added rows
    ModuleNode& node = page.row("Kernel32.dll", "C:\\Windows\\Kernel32.DLL", "10.0.1.2", "10.0.0.0", 0x01D6000012345678ull);
    EXPECT_EQ(node.moduleName, "KERNEL32.DLL");
    EXPECT_EQ(node.fullPath, "c:\\windows\\kernel32.dll");
    EXPECT_EQ(node.lastWriteTime.value(), 0x01D6000012345678ull);
    EXPECT_EQ(page.list->rowNode(0), &node);
    EXPECT_EQ(page.column(0), std::vector<std::string>{"KERNEL32.DLL"});
    // The date is asked for the stored time unchanged (the platform formats its UTC date).
    EXPECT_EQ(page.column(1), std::vector<std::string>{"t" + std::to_string(0x01D6000012345678ull)});
    EXPECT_EQ(page.column(2), std::vector<std::string>{"10.0.1.2"});
    EXPECT_EQ(page.column(3), std::vector<std::string>{"10.0.0.0"});
    EXPECT_EQ(page.column(4), std::vector<std::string>{"c:\\windows\\kernel32.dll"});
    EXPECT_EQ(nextListIndex, 12346);
}

TEST(AddModuleRow, UnreadableFileKeepsTimeZeroAndShowsNoDateNorVersions) {
    ListFixture page;
    ModuleNode& node = page.row("nowhere.dll", "file not found");
    EXPECT_EQ(node.lastWriteTime.value(), 0u);
    EXPECT_EQ(page.list->cellText(0, 1), "");
    EXPECT_EQ(page.list->cellText(0, 2), "");
    EXPECT_EQ(page.list->cellText(0, 3), "");
    EXPECT_EQ(page.list->cellText(0, 4), "file not found");
}

TEST(FindModuleRow, CaseIgnoredPrefixFromTheFirstRow) {
    ListFixture page;
    page.row("root.exe", "c:\\r.exe");
    page.row("msvcrt.dll", "c:\\m.dll");
    page.row("msvcrt", "c:\\m2.dll");
    EXPECT_EQ(findModuleRow(*page.list, "MSVCRT"), 1);
    EXPECT_EQ(findModuleRow(*page.list, "msvcrt.dll"), 1);
    EXPECT_EQ(findModuleRow(*page.list, "Root.EXE"), 0);
    EXPECT_EQ(findModuleRow(*page.list, "MSVCRT.DLL.MUI"), -1);

    ListFixture shortOnly;
    shortOnly.row("msvcrt", "c:\\m.dll");
    EXPECT_EQ(findModuleRow(*shortOnly.list, "MSVCRT.DLL"), -1);
}

TEST(SortModuleList, ClicksOnTheSameColumnFlipTheDirection) {
    ListFixture page;
    page.row("b.dll", "c:\\z\\b.dll");
    page.row("_a.dll", "c:\\y\\_a.dll");
    page.row("C.dll", "c:\\x\\c.dll");

    sortModuleList(page.ext, kPathColumn);
    EXPECT_EQ(page.column(0), (std::vector<std::string>{"C.DLL", "_A.DLL", "B.DLL"}));
    EXPECT_EQ(page.ext.sortColumn, kPathColumn);
    EXPECT_EQ(page.ext.sortAscending, 1);
    sortModuleList(page.ext, kPathColumn);
    EXPECT_EQ(page.column(0), (std::vector<std::string>{"B.DLL", "_A.DLL", "C.DLL"}));
    EXPECT_EQ(page.ext.sortAscending, 0);
    sortModuleList(page.ext, kModuleColumn);  // "_" (95) sorts before the letters
    EXPECT_EQ(page.column(0), (std::vector<std::string>{"_A.DLL", "B.DLL", "C.DLL"}));
    EXPECT_EQ(page.ext.sortAscending, 1);
    EXPECT_EQ(page.platform->waitCursorsShown, 3);
    EXPECT_EQ(page.platform->waitCursors, 0);

    // Rows added while the list is sorted go to the end.
    page.row("a.dll", "c:\\w\\a.dll");
    EXPECT_EQ(page.column(0).back(), "A.DLL");
    sortModuleList(page.ext, kModuleColumn);  // the same column again: descending
    EXPECT_EQ(page.column(0), (std::vector<std::string>{"C.DLL", "B.DLL", "A.DLL", "_A.DLL"}));
}

TEST(SortModuleList, VersionsSortAsTextWithEmptyFirst) {
    ListFixture page;
    page.row("nine.dll", "c:\\9", "9.0.0.0", "9.0.0.0");
    page.row("none.dll", "c:\\n");
    page.row("ten.dll", "c:\\10", "10.0.0.0", "10.0.0.0");
    for (int column : {kFileVersionColumn, kProductVersionColumn}) {
        page.ext.sortColumn = kNoSortColumn;
        sortModuleList(page.ext, column);
        EXPECT_EQ(page.column(0), (std::vector<std::string>{"NONE.DLL", "TEN.DLL", "NINE.DLL"}));
    }
}

TEST(CompareModuleRows, DatesCompareAsUnsigned64BitTimes) {
    ListFixture page;
    ModuleNode& early = page.row("early.dll", "c:\\e", "", "", 0x7FFFFFFFFFFFFFF0ull);
    ModuleNode& late = page.row("late.dll", "c:\\l", "", "", 0x80000000FFFFFFF0ull);
    ModuleNode& lowHalf = page.row("low.dll", "c:\\o", "", "", 0x80000000FFFFFFF1ull);
    ModuleNode& same = page.row("same.dll", "c:\\s", "", "", 0x80000000FFFFFFF0ull);
    page.ext.sortColumn = kDateColumn;
    for (int ascending : {1, 0}) {
        page.ext.sortAscending = ascending;
        const int sign = ascending ? 1 : -1;
        EXPECT_EQ(compareModuleRows(&early, &late, &page.ext), -sign);
        EXPECT_EQ(compareModuleRows(&lowHalf, &late, &page.ext), sign);
        EXPECT_EQ(compareModuleRows(&late, &same, &page.ext), 0);
    }
    page.ext.sortColumn = 7;
    EXPECT_EQ(compareModuleRows(&early, &late, &page.ext), 0);
}

}  // namespace
}  // namespace vost::test
