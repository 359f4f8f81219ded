// The clipboard text of the list, and the record a new page starts from.
#include <gtest/gtest.h>

#include <cstddef>

#include "component/dependency_extension.h"
#include "page/clipboard_text.h"
#include "page/module_list.h"
#include "platform/memory/memory_list.h"

namespace vost::test {
namespace {

TEST(ClipboardText, HeaderEmptyLineAndTabTerminatedRowsInListOrder) {
    MemoryList list;
    list.insertRow(0, "B.DLL", nullptr);
    list.setCellText(0, 1, "3/4/2021");
    list.setCellText(0, 4, "c:\\b.dll");
    list.insertRow(1, "A.DLL", nullptr);
    for (int column = 1; column < 5; ++column) list.setCellText(1, column, ("v" + std::to_string(column)).c_str());
    EXPECT_EQ(clipboardText(list, kColumnTitles),
              "Module\tDate\tFileversion\tProductversion\tPath\t\r\n\r\n"
              "B.DLL\t3/4/2021\t\t\tc:\\b.dll\t\r\n"
              "A.DLL\tv1\tv2\tv3\tv4\t\r\n");

    MemoryList empty;
    const std::string longTitle(400, 'T');
    const char* const titles[5] = {longTitle.c_str(), "", "", "", ""};
    EXPECT_EQ(clipboardText(empty, titles), std::string(259, 'T') + "\t\t\t\t\t\r\n\r\n");
}

TEST(DependencyExtension, NewRecordAndInterfaceTablesFirst) {
    DependencyExtension ext;
    EXPECT_EQ(ext.selectedPath, "");
    EXPECT_EQ(ext.refCount, 0u);
    EXPECT_EQ(ext.dataObject, nullptr);
    EXPECT_EQ(ext.pageWindow, nullptr);
    EXPECT_EQ(ext.scanState, kScanNotStarted);
    EXPECT_EQ(ext.sortColumn, -1);
    EXPECT_EQ(ext.sortAscending, 1);
    EXPECT_NE(ext.nodes, nullptr);
    EXPECT_EQ(offsetof(DependencyExtension, shellExtInitTable), 0u);
    EXPECT_EQ(offsetof(DependencyExtension, propSheetExtTable), sizeof(void*));
    EXPECT_LT(offsetof(DependencyExtension, selectedPath), offsetof(DependencyExtension, refCount));
    EXPECT_LT(offsetof(DependencyExtension, pageWindow), offsetof(DependencyExtension, sortColumn));
    EXPECT_EQ(offsetof(DependencyExtension, sortAscending), offsetof(DependencyExtension, sortColumn) + 4);
}

}  // namespace
}  // namespace vost::test
