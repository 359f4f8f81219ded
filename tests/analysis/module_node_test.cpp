// ModuleNode: version texts and the ancestor check.
#include <gtest/gtest.h>

#include <string>

#include "analysis/module_node.h"
#include "tests/support/fake_platform.h"

namespace vost {
namespace {

using test::FakePlatform;

TEST(ModuleNode, VersionTextsPrintFourUnsigned16BitParts) {
    FakePlatform platform;
    platform.addFile("c:\\a.dll", test::bytesOf("MZ"));
    platform.setVersion("c:\\a.dll", {0x00050001, 0x0A280000, 0xFFFFFFFF, 0x8000FFFF});
    const ModuleNode node(platform, "c:\\a.dll", "A.DLL", nullptr, 1);
    EXPECT_EQ(node.fileVersion, "5.1.2600.0");
    EXPECT_EQ(node.productVersion, "65535.65535.32768.65535");
    EXPECT_EQ(node.scanned, 0);
    EXPECT_EQ(node.lastWriteTime.value(), 0u);
    EXPECT_EQ(node.treeItem, nullptr);
}

TEST(ModuleNode, NoVersionWithoutResourceOrWhenNotAsked) {
    FakePlatform platform;
    platform.addFile("c:\\a.dll", test::bytesOf("MZ"));
    platform.addFile("c:\\b.dll", test::bytesOf("MZ"));
    platform.setVersion("c:\\b.dll", {0x00010000, 0, 0x00010000, 0});

    const ModuleNode none(platform, "c:\\a.dll", "A.DLL", nullptr, 1);
    EXPECT_EQ(none.fileVersion, "");
    EXPECT_EQ(none.productVersion, "");
    const ModuleNode notAsked(platform, "c:\\b.dll", "B.DLL", nullptr, 0);
    EXPECT_EQ(notAsked.fileVersion, "");
    EXPECT_EQ(platform.versionReads.size(), 1u) << "a node built with readVersion 0 reads nothing";

    // Texts of any length are kept whole.
    const std::string longName(4000, 'x');
    const ModuleNode whole(platform, longName, longName, nullptr, 0);
    EXPECT_EQ(whole.fullPath, longName);
    EXPECT_EQ(whole.moduleName, longName);
}

TEST(ModuleNode, RepeatOfAnyAncestorIsMarkedCaseSensitively) {
    FakePlatform platform;
    ModuleNode root(platform, "c:\\app.exe", "APP.EXE", nullptr, 0);
    ModuleNode a(platform, "c:\\a.dll", "A.DLL", &root, 0);
    ModuleNode b(platform, "c:\\b.dll", "B.DLL", &a, 0);
    ModuleNode repeatsRoot(platform, "c:\\app.exe", "APP.EXE", &b, 0);
    ModuleNode repeatsGrandparent(platform, "c:\\a.dll", "A.DLL", &b, 0);
    ModuleNode otherCase(platform, "c:\\a.dll", "a.dll", &b, 0);
    ModuleNode sibling(platform, "c:\\b.dll", "B.DLL", &root, 0);  // same name as a non-ancestor

    root.markIfRepeatsAncestor();
    EXPECT_EQ(root.scanned, 0);
    for (ModuleNode* node : {&repeatsRoot, &repeatsGrandparent, &otherCase, &sibling})
        node->markIfRepeatsAncestor();
    EXPECT_EQ(repeatsRoot.scanned, 1);
    EXPECT_EQ(repeatsGrandparent.scanned, 1);
    EXPECT_EQ(otherCase.scanned, 0);
    EXPECT_EQ(sibling.scanned, 0);

    // Comparisons read the current contents; the mark is never cleared.
    otherCase.moduleName[0] = 'A';
    otherCase.moduleName[2] = 'D';
    otherCase.moduleName[3] = 'L';
    otherCase.moduleName[4] = 'L';
    otherCase.markIfRepeatsAncestor();
    EXPECT_EQ(otherCase.scanned, 1);
    b.scanned = 1;
    b.markIfRepeatsAncestor();
    EXPECT_EQ(b.scanned, 1);
}

}  // namespace
}  // namespace vost
