// addDependency: search, icon, label, child node and tree item for one reference.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_scan.h"

namespace vost {
namespace {

using test::RecordingTree;
using test::TestScan;

const char* const kRootPath = "C:\\Apps\\Viewer.exe";
const char* const kSystem = "C:\\Windows\\System32";

struct DependencyTest : ::testing::Test {
    TestScan scan;
    ModuleNode* root = nullptr;

    void SetUp() override {
        scan.platform.addFile(kRootPath, test::bytesOf("MZ"));
        scan.platform.addSearchFolder("C:\\Apps");
        scan.platform.addSearchFolder(kSystem);
        scan.platform.setIcon(kRootPath, 3);
        root = &scan.root(kRootPath, "VIEWER.EXE");
    }
    const RecordingTree::Item& add(const char* name, int readVersion) {
        const std::size_t before = scan.tree.insertionOrder.size();
        addDependency(scan.ctx, *root, name, readVersion);
        EXPECT_EQ(scan.tree.insertionOrder.size(), before + 1);
        return scan.tree.item(scan.tree.insertionOrder.back());
    }
};

TEST_F(DependencyTest, FoundModuleGetsUpperNameLowerPathVersionAndItsIcon) {
    scan.platform.addFile(std::string(kSystem) + "\\kernel32.dll", test::bytesOf("MZ"));
    scan.platform.setVersion(std::string(kSystem) + "\\kernel32.dll", {0x00050001, 0x0A280000, 0x00060002, 0x00030004});
    scan.platform.setIcon(std::string(kSystem) + "\\kernel32.dll", 17);

    const RecordingTree::Item& item = add("kernel32.dll", 1);
    EXPECT_EQ(item.label, "KERNEL32.DLL (c:\\windows\\system32\\kernel32.dll [5.1.2600.0])");
    EXPECT_TRUE(item.hasImage);
    EXPECT_EQ(item.image, 17);
    EXPECT_EQ(item.parent, root->treeItem);

    ModuleNode* child = item.node;
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->moduleName, "kernel32.dll");  // the name keeps the case it was referenced in
    EXPECT_EQ(child->fullPath, "c:\\windows\\system32\\kernel32.dll");
    EXPECT_EQ(child->productVersion, "6.2.3.4");
    EXPECT_EQ(child->parent, root);
    EXPECT_EQ(child->readVersion, 1);
    EXPECT_EQ(child->scanned, 0);
    EXPECT_EQ(child->treeWindow, root->treeWindow);
    EXPECT_EQ(child->treeItem, scan.tree.insertionOrder.back());
    EXPECT_EQ(scan.platform.searches.back(), "kernel32.dll");
}

TEST_F(DependencyTest, VersionPartOnlyForPeReferencesWithAVersion) {
    const std::string user = std::string(kSystem) + "\\USER.EXE";
    scan.platform.addFile(user, test::bytesOf("MZ"));
    scan.platform.setVersion(user, {0x00030000, 0x0000000A, 0, 0});
    scan.platform.addFile("C:\\Apps\\Plain.dll", test::bytesOf("MZ"));

    // NE reference: no version read, no bracket, though the file has one.
    const std::size_t reads = scan.platform.versionReads.size();
    EXPECT_EQ(add("USER.EXE", 0).label, "USER.EXE (c:\\windows\\system32\\user.exe)");
    EXPECT_EQ(scan.platform.versionReads.size(), reads);
    EXPECT_EQ(scan.tree.item(scan.tree.insertionOrder.back()).node->fileVersion, "");

    // PE reference to a file without a version resource.
    EXPECT_EQ(add("Plain.dll", 1).label, "PLAIN.DLL (c:\\apps\\plain.dll)");

    // A name without an extension is handed to the search as it is; the
    // search supplies ".DLL".
    scan.platform.addFile("C:\\Apps\\MYLIB.DLL", test::bytesOf("MZ"));
    EXPECT_EQ(add("MyLib", 1).label, "MYLIB (c:\\apps\\mylib.dll)");
    EXPECT_EQ(scan.platform.searches.back(), "MyLib");
}

TEST_F(DependencyTest, MissingModuleShowsNotFoundAndTheParentsIcon) {
    const RecordingTree::Item& item = add("Missing.dll", 1);
    EXPECT_EQ(item.label, "MISSING.DLL (file not found)");
    EXPECT_EQ(item.node->fullPath, "file not found");
    EXPECT_EQ(item.node->fileVersion, "");
    EXPECT_TRUE(item.hasImage);
    EXPECT_EQ(item.image, 3);
    EXPECT_EQ(scan.platform.iconLookups.back(), kRootPath);

    // Paths of any length are found and kept whole.
    for (std::size_t length : {259u, 260u, 400u}) {
        const std::string path = "C:\\" + std::string(length - 7, 'P') + ".dll";
        scan.platform.setSearchResult("long.dll", 1, path);
        const RecordingTree::Item& found = add("long.dll", 1);
        EXPECT_EQ(found.node->fullPath, test::asciiLowerCopy(path));
        EXPECT_EQ(found.label, "LONG.DLL (" + test::asciiLowerCopy(path) + ")");
    }
}

TEST_F(DependencyTest, ItemMaskFollowsTheIconLookup) {
    scan.platform.addFile("C:\\Apps\\noicon.dll", test::bytesOf("MZ"));
    const RecordingTree::Item& plain = add("noicon.dll", 1);
    EXPECT_FALSE(plain.hasImage);

    scan.platform.defaultIcon = 0;  // index 0 is an icon too
    const RecordingTree::Item& zero = add("noicon.dll", 1);
    EXPECT_TRUE(zero.hasImage);
    EXPECT_EQ(zero.image, 0);
}

TEST_F(DependencyTest, ExtremeLabelsAreKeptWhole) {
    const std::string name(259, 'n');
    const std::string path = "C:\\" + std::string(256, 'q');
    scan.platform.setSearchResult(name, std::uint32_t(path.size()), path);
    scan.platform.addFile(path, test::bytesOf("MZ"));
    scan.platform.setVersion(path, {0xFFFFFFFF, 0xFFFFFFFF, 0, 0});
    const RecordingTree::Item& item = add(name.c_str(), 1);
    EXPECT_EQ(item.label, std::string(259, 'N') + " (c:\\" + std::string(256, 'q') + " [65535.65535.65535.65535])");
    EXPECT_EQ(item.node->fileVersion, "65535.65535.65535.65535");
}

TEST_F(DependencyTest, FailedInsertionLeavesTheChildWithoutAnItem) {
    scan.tree.failInsertions = true;
    addDependency(scan.ctx, *root, "gone.dll", 1);
    ASSERT_EQ(scan.nodes.size(), 2u);
    EXPECT_TRUE(scan.tree.children(root->treeItem).empty());
}

}  // namespace
}  // namespace vost
