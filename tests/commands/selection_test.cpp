// Which module the commands and the context menu act on.
#include "page/commands.h"
#include "tests/commands/test_page.h"

namespace vost::test {
namespace {

class SelectionTest : public PageTest {
protected:
    void SetUp() override {
        root = page->node("c:\\tools\\view.exe", "VIEW.EXE");
        kernel = page->node("c:\\windows\\system32\\kernel32.dll", "KERNEL32.DLL");
        user = page->node("c:\\windows\\system32\\user32.dll", "USER32.DLL");
        rootItem = page->addTreeItem(nullptr, root);
        kernelItem = page->addTreeItem(rootItem, kernel);
        page->addTreeItem(rootItem, user);
        page->addRow(kernel);
        page->addRow(user);
        page->addRow(root);
    }
    ModuleNode* root = nullptr;
    ModuleNode* kernel = nullptr;
    ModuleNode* user = nullptr;
    TreeItem rootItem = nullptr;
    TreeItem kernelItem = nullptr;
};

TEST_F(SelectionTest, TheShowingViewDecidesAndTheHiddenOneIsNeverAsked) {
    page->selectTreeItem(kernelItem);
    page->selectRow(1);  // USER32 in the hidden list
    EXPECT_EQ(selectedNode(page->extension()), kernel);

    page->showList();
    EXPECT_EQ(selectedNode(page->extension()), user);

    page->selectTreeItem(rootItem);  // changes nothing while the list shows
    EXPECT_EQ(selectedNode(page->extension()), user);

    page->showTree();
    EXPECT_EQ(selectedNode(page->extension()), root);
}

TEST_F(SelectionTest, NothingSelectedInTheShowingViewGivesNone) {
    page->selectRow(2);
    page->selectTreeItem(nullptr);
    EXPECT_EQ(selectedNode(page->extension()), nullptr);

    page->showList();
    page->selectTreeItem(kernelItem);
    page->selectRow(-1);
    EXPECT_EQ(selectedNode(page->extension()), nullptr);
}

}  // namespace
}  // namespace vost::test
