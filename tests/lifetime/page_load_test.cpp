// The page under Wine over generated closures: the same tree (labels, order,
// has-children flags) and the same list (every cell) as vostscan.exe, every
// module listed once, and the host's current directory never changed.
#include <gtest/gtest.h>

#include "tests/lifetime/page_probe.h"
#include "tests/windows/temp_folder.h"

namespace vost::test {
namespace {

class PageLoadTest : public testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_NE(Component::get().module, nullptr);
    }
    void TearDown() override {
        pumpUntil([] { return Component::get().canUnloadNow() == S_OK; }, 30000);
        EXPECT_EQ(Component::get().canUnloadNow(), S_OK);
        CoUninitialize();
    }

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

TEST_F(PageLoadTest, ClosureOf5000Modules) { expectPageShowsClosure(5000); }

}  // namespace
}  // namespace vost::test
