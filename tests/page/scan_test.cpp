// The page's scan over generated file sets: labels, walk order, rows and
// flags, and the iterative walk against the plain recursive one.
#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <thread>
#ifndef _WIN32
#include <pthread.h>
#endif

#include "analysis/scan_module.h"
#include "analysis/text.h"
#include "page/check_marks.h"
#include "page/function_lists.h"
#include "page/module_list.h"
#include "tests/page/page_fixture.h"
#include "tests/support/image_builder.h"

namespace vost::test {
namespace {

const std::string kSys = "c:\\windows\\system32\\";

int mappedCount(PageFixture& page, const std::string& path) {
    int count = 0;
    for (const std::string& p : page.platform->fake.mapped) count += asciiLowerCopy(p) == asciiLowerCopy(path);
    return count;
}

TEST(ScanRoot, MixedCasePathGivesUpperNameLowerPathAndNoBlankBeforeParenthesis) {
    PageFixture page;
    const FixedFileVersion version{0x00040000, 0x000003B6, 0x00040000, 0};
    page.addPe("D:\\Tools\\View.exe", {"KERNEL32.dll"}, &version);
    page.addPe(kSys + "kernel32.dll", {});
    EXPECT_NE(page.scan("D:\\Tools\\View.exe"), 0);

    const TreeItem root = page.tree->rootItem();
    EXPECT_EQ(page.tree->itemLabel(root), "VIEW.EXE(d:\\tools\\view.exe [4.0.0.950])");
    EXPECT_EQ(page.ext.selectedPath, "d:\\tools\\view.exe");
    EXPECT_EQ(page.list->cellText(0, 0), "VIEW.EXE");
    EXPECT_EQ(page.list->cellText(0, 4), "d:\\tools\\view.exe");
    EXPECT_EQ(page.list->cellText(0, 2), "4.0.0.950");
    EXPECT_EQ(page.childLabels(root),
              std::vector<std::string>{"KERNEL32.DLL (c:\\windows\\system32\\kernel32.dll)"});
    // The module search got the file's folder; the process's directory was never asked for.
    EXPECT_EQ(page.platform->searchFolders, std::vector<std::string>{"D:\\Tools\\"});
}

TEST(ScanRoot, RootWithoutVersionHasNoBracket) {
    PageFixture page;
    page.addPe("c:\\app\\a.exe", {});
    page.scan("c:\\app\\a.exe");
    EXPECT_EQ(page.tree->itemLabel(page.tree->rootItem()), "A.EXE(c:\\app\\a.exe)");
}

TEST(ScanRoot, UnscannableRootsKeepOneRowAndLoseTheExpandButton) {
    struct Case {
        const char* what;
        Bytes bytes;
        const char* message;
    };
    const Case cases[] = {
        {"text file", bytesOf("just some text, not an executable"), kNotValidFileText},
        {"PE importing nothing", buildPe(PeImageLayout{}).bytes, nullptr},
        {"missing file", Bytes{}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PageFixture page;
        if (!c.bytes.empty()) page.platform->fake.addFile("c:\\app\\root.exe", c.bytes);
        EXPECT_EQ(page.scan("c:\\app\\root.exe"), 0);
        const TreeItem root = page.tree->rootItem();
        EXPECT_EQ(page.tree->itemHasChildren(root), 0);
        EXPECT_TRUE(page.tree->itemExpanded(root));
        EXPECT_EQ(page.rowModules(), std::vector<std::string>{"ROOT.EXE"});
        ASSERT_EQ(page.platform->fake.messages.size(), c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_EQ(page.platform->fake.messages[0].text, c.message);
        }
        for (int column = 0; column < 5; ++column) EXPECT_EQ(page.list->fitCount(column), 1);
        EXPECT_EQ(page.platform->waitCursors, 0);
    }
}

TEST(ScanRoot, NeRootWithoutReferencesKeepsItsExpandButton) {
    PageFixture page;
    page.platform->fake.addFile("c:\\app\\old.exe", buildNe(NeImageLayout{}).bytes);
    EXPECT_NE(page.scan("c:\\app\\old.exe"), 0);
    const TreeItem root = page.tree->rootItem();
    EXPECT_EQ(page.tree->itemHasChildren(root), 1);
    EXPECT_EQ(page.tree->firstChild(root), nullptr);
    EXPECT_EQ(page.rowModules(), std::vector<std::string>{"OLD.EXE"});
}

TEST(ScanWalk, RowsInPostOrderAndOnlyTheRootExpanded) {
    PageFixture page;
    page.addPe("c:\\app\\r.exe", {"b.dll", "a.dll"});
    page.addPe(kSys + "a.dll", {"d.dll"});
    page.addPe(kSys + "b.dll", {});
    page.addPe(kSys + "d.dll", {"missing.dll"});
    page.scan("c:\\app\\r.exe");

    EXPECT_EQ(page.rowModules(), (std::vector<std::string>{"R.EXE", "MISSING.DLL", "D.DLL", "A.DLL", "B.DLL"}));
    EXPECT_EQ(page.treeOutline(),
              "R.EXE(c:\\app\\r.exe) +\n"
              "  A.DLL (c:\\windows\\system32\\a.dll) +\n"
              "    D.DLL (c:\\windows\\system32\\d.dll) +\n"
              "      MISSING.DLL (file not found)\n"
              "  B.DLL (c:\\windows\\system32\\b.dll)\n");
    const TreeItem root = page.tree->rootItem();
    EXPECT_TRUE(page.tree->itemExpanded(root));
    EXPECT_FALSE(page.tree->itemExpanded(page.child(root, "A.DLL")));
    // The module that was not found still has its row, with the not-found text.
    EXPECT_EQ(page.list->cellText(1, 4), "file not found");
}

TEST(ScanWalk, MutualReferencesAreCutByTheAncestorCheck) {
    PageFixture page;
    page.addPe("c:\\app\\r.exe", {"A.dll"});
    page.addPe(kSys + "a.dll", {"B.dll"});
    page.addPe(kSys + "b.dll", {"A.dll"});
    page.scan("c:\\app\\r.exe");

    EXPECT_EQ(page.rowModules(), (std::vector<std::string>{"R.EXE", "B.DLL", "A.DLL"}));
    EXPECT_EQ(mappedCount(page, kSys + "a.dll"), 1);
    const TreeItem a = page.child(page.tree->rootItem(), "A.DLL");
    const TreeItem innerA = page.child(page.child(a, "B.DLL"), "A.DLL");
    ASSERT_NE(innerA, nullptr);
    EXPECT_EQ(page.tree->firstChild(innerA), nullptr);
    EXPECT_EQ(page.tree->itemNode(innerA)->scanned, 1);
}

TEST(ScanWalk, ModuleOnTwoBranchesIsReadAtItsFirstOccurrenceOnly) {
    PageFixture page;
    page.addPe("c:\\app\\r.exe", {"a.dll", "b.dll"});
    page.addPe(kSys + "a.dll", {"c.dll"});
    page.addPe(kSys + "b.dll", {"C.DLL"});
    page.addPe(kSys + "c.dll", {"e.dll"});
    page.addPe(kSys + "e.dll", {});
    page.scan("c:\\app\\r.exe");

    EXPECT_EQ(page.rowModules(), (std::vector<std::string>{"R.EXE", "E.DLL", "C.DLL", "A.DLL", "B.DLL"}));
    const TreeItem root = page.tree->rootItem();
    const TreeItem secondC = page.child(page.child(root, "B.DLL"), "C.DLL");
    EXPECT_EQ(page.tree->firstChild(secondC), nullptr);
    EXPECT_EQ(page.tree->itemNode(secondC)->scanned, 0);  // passed over, never marked
    EXPECT_EQ(mappedCount(page, kSys + "c.dll"), 1);
}

// With the run's cache of module facts, each module file is opened and read
// once, whatever reads it: its version, its walk, the check of its imports
// and its exports, the Functions lists; and a second program of the same run
// reads none of the modules the first one read.
TEST(ScanWalk, EachModuleFileIsReadOncePerRun) {
    PageFixture page;
    page.ext.modules = std::make_shared<ModuleCache>(true);
    page.ext.delayLoads = true;
    PeImageLayout app;
    app.imports = {"a.dll", "b.dll", "lib.dll"};
    app.delayImports = {{"late.dll", {ImportThunk{"f", 0, std::nullopt}}}, {"lib.dll", {ImportThunk{"g", 0, std::nullopt}}}};
    page.platform->fake.addFile("c:\\app\\app.exe", buildPe(app).bytes);
    page.addPe(kSys + "a.dll", {"b.dll", "lib.dll"});
    page.addPe(kSys + "b.dll", {"lib.dll"});
    page.addPe(kSys + "late.dll", {"lib.dll"});
    page.addPe(kSys + "lib.dll", {});
    page.addPe("c:\\app\\two.exe", {"a.dll", "lib.dll"});
    page.ext.selectedPath = "c:\\app\\app.exe";
    scanThread(page.ext);
    ASSERT_NE(page.ext.checkMarks, nullptr);
    CheckCache cache(page.ext.modules);
    const ModuleNode* lib = nullptr;
    page.ext.nodes->forEach([&](const ModuleNode& n) {
        if (!lib && compareIgnoringCase(n.moduleName.c_str(), "lib.dll") == 0) lib = &n;
    });
    ASSERT_NE(lib, nullptr);
    readFunctionLists(lib->moduleName, lib->fullPath, true, importersOf(*lib, *page.ext.nodes, true), *page.platform,
                      cache, nullptr);

    PageFixture second;
    second.platform = page.platform;
    second.ext.platform = page.platform;
    second.ext.modules = page.ext.modules;
    second.scan("c:\\app\\two.exe");

    for (const std::string& file : {std::string("c:\\app\\app.exe"), kSys + "a.dll", kSys + "b.dll",
                                    kSys + "late.dll", kSys + "lib.dll", std::string("c:\\app\\two.exe")}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(mappedCount(page, file), 1);
    }
    EXPECT_EQ(page.ext.modules->reads(), 6u);
}

TEST(ScanWalk, RootNameInAnotherCaseFindsTheRootRow) {
    PageFixture page;
    page.addPe("c:\\app\\Root.exe", {"a.dll"});
    page.addPe(kSys + "a.dll", {"root.exe"});
    page.scan("c:\\app\\Root.exe");
    // Found next to the root through the scan's folder, then not read again.
    const TreeItem inner = page.child(page.child(page.tree->rootItem(), "A.DLL"), "ROOT.EXE");
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(page.tree->itemLabel(inner), "ROOT.EXE (c:\\app\\root.exe)");
    EXPECT_EQ(mappedCount(page, "c:\\app\\root.exe"), 1);
    EXPECT_EQ(page.rowModules(), (std::vector<std::string>{"ROOT.EXE", "A.DLL"}));
}

TEST(ScanWalk, PrefixSearchQuirkOfMsvcrt) {
    // A shorter name finds the longer row: "msvcrt" is not read again after MSVCRT.DLL ...
    PageFixture longFirst;
    longFirst.addPe("c:\\app\\r.exe", {"a.dll", "b.dll"});
    longFirst.addPe(kSys + "a.dll", {"MSVCRT.DLL"});
    longFirst.addPe(kSys + "b.dll", {"msvcrt"});
    longFirst.addPe(kSys + "msvcrt.dll", {});
    longFirst.scan("c:\\app\\r.exe");
    EXPECT_EQ(longFirst.rowModules(), (std::vector<std::string>{"R.EXE", "MSVCRT.DLL", "A.DLL", "B.DLL"}));

    // ... but the longer name does not find the shorter row: the file is read twice, listed twice.
    PageFixture shortFirst;
    shortFirst.addPe("c:\\app\\r.exe", {"a.dll", "b.dll"});
    shortFirst.addPe(kSys + "a.dll", {"msvcrt"});
    shortFirst.addPe(kSys + "b.dll", {"MSVCRT.DLL"});
    shortFirst.addPe(kSys + "msvcrt.dll", {});
    shortFirst.scan("c:\\app\\r.exe");
    EXPECT_EQ(shortFirst.rowModules(),
              (std::vector<std::string>{"R.EXE", "MSVCRT", "A.DLL", "MSVCRT.DLL", "B.DLL"}));
    EXPECT_EQ(mappedCount(shortFirst, kSys + "msvcrt.dll"), 2);
}

TEST(ScanWalk, DirectReachListsTheRootsReferencesWithoutReadingThem) {
    PageFixture page;
    page.addPe("c:\\app\\r.exe", {"a.dll", "b.dll", "A.DLL"});
    page.addPe(kSys + "a.dll", {"c.dll"});
    page.addPe(kSys + "b.dll", {});
    page.scan("c:\\app\\r.exe", ScanReach::direct);
    EXPECT_EQ(page.rowModules(), (std::vector<std::string>{"R.EXE", "A.DLL", "B.DLL"}));
    EXPECT_EQ(page.platform->fake.mapped.size(), 1u);
    EXPECT_EQ(page.childLabels(page.tree->rootItem()).size(), 3u);
}

TEST(ScanThread, MarksTheScanRunningThenFinished) {
    PageFixture page;
    page.addPe("c:\\app\\r.exe", {});
    page.ext.selectedPath = "c:\\app\\r.exe";
    EXPECT_EQ(page.ext.scanState, kScanNotStarted);
    scanThread(page.ext);
    EXPECT_EQ(page.ext.scanState, kScanFinished);
    EXPECT_EQ(page.platform->waitCursorsShown, 1);
    EXPECT_EQ(page.platform->waitCursors, 0);
}

// The walk as a plain recursion, one call per level: the reference for the
// iterative walk's visiting order, rows and flags.
void recursiveExpand(DependencyExtension& ext, TreeItem item) {
    if (!item) return;
    ScanContext ctx{*ext.platform, *ext.nodes};
    for (TreeItem child = ext.tree->firstChild(item); child; child = ext.tree->nextSibling(child)) {
        ModuleNode& node = *ext.tree->itemNode(child);
        node.markIfRepeatsAncestor();
        if (node.scanned || findModuleRow(*ext.list, node.moduleName.c_str()) != -1) continue;
        if (scanModule(ctx, node)) recursiveExpand(ext, child);
        else ext.tree->setHasChildren(child, 0);
        if (findModuleRow(*ext.list, node.moduleName.c_str()) == -1) addModuleRow(ext, node);
        node.scanned = 1;
    }
}

std::string flagsOf(PageFixture& page) {
    std::string flags;
    for (int row = 0; row < page.list->rowCount(); ++row)
        flags += std::to_string(page.list->rowNode(row)->scanned);
    return flags;
}

// Modules that import random others, with cycles, repeats, missing modules,
// names in other letter cases and the msvcrt prefix pair.
void addRandomFiles(PageFixture& page, unsigned seed) {
    const char* names[] = {"a.dll", "B.dll", "c",     "D.DLL",   "e.dll",  "f.dll",    "G.dll",     "h.drv",
                           "i.dll", "j.dll", "k.dll", "missing.dll", "R.EXE", "msvcrt", "MSVCRT.DLL"};
    std::mt19937 random(seed);
    for (const char* name : names) {
        std::string file = name;
        if (file == "missing.dll" || file == "msvcrt") continue;
        if (file.find('.') == std::string::npos) file += ".dll";
        std::vector<std::string> imports;
        const int count = static_cast<int>(random() % 5);
        for (int i = 0; i < count; ++i) imports.push_back(names[random() % 15]);
        page.addPe((file == "R.EXE" ? "c:\\app\\" : kSys) + file, imports);
    }
}

TEST(ScanWalk, IterativeWalkMatchesTheRecursiveOneOnRandomGraphs) {
    for (unsigned seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        PageFixture iterative;
        addRandomFiles(iterative, seed);
        iterative.ext.selectedPath = "c:\\app\\R.EXE";
        TreeRecord record;
        scanSelectedFile(iterative.ext, ScanReach::closure, &record);
        // What the walk recorded is the tree it built, read back item by item.
        const auto entries = [](const TreeRecord& r) {
            std::vector<std::tuple<TreeItem, const ModuleNode*, std::size_t>> out;
            for (const RecordedItem& e : r) out.emplace_back(e.item, e.node, e.parent);
            return out;
        };
        EXPECT_EQ(entries(record), entries(recordTree(*iterative.tree)));

        // The scan's root steps, then the recursive walk.
        PageFixture reference;
        addRandomFiles(reference, seed);
        reference.platform->setSearchFolder("c:\\app\\");
        ModuleNode* root =
            reference.ext.nodes->create(*reference.platform, "c:\\app\\r.exe", "R.EXE", nullptr, 1);
        const TreeItem rootItem = reference.tree->insertRoot("R.EXE(c:\\app\\r.exe)", 0, root);
        addModuleRow(reference.ext, *root);
        root->treeWindow = reference.tree.get();
        root->treeItem = rootItem;
        ScanContext ctx{*reference.platform, *reference.ext.nodes};
        if (scanModule(ctx, *root)) recursiveExpand(reference.ext, rootItem);
        else reference.tree->setHasChildren(rootItem, 0);

        EXPECT_EQ(iterative.treeOutline(), reference.treeOutline());
        EXPECT_EQ(iterative.rowModules(), reference.rowModules());
        EXPECT_EQ(flagsOf(iterative), flagsOf(reference));
        EXPECT_EQ(iterative.platform->fake.mapped, reference.platform->fake.mapped);
    }
}

// A chain of distinct modules, each importing the next.
void addChain(PageFixture& page, int length) {
    char name[32];
    page.addPe("c:\\app\\root.exe", {"m00000.dll"});
    for (int i = 0; i < length; ++i) {
        std::vector<std::string> imports;
        if (i + 1 < length) {
            std::snprintf(name, sizeof name, "m%05d.dll", i + 1);
            imports.push_back(name);
        }
        std::snprintf(name, sizeof name, "m%05d.dll", i);
        page.addPe(kSys + name, imports);
    }
}

TEST(ScanWalk, ChainOfFiveThousandModulesOnTheWorkersStackSize) {
    constexpr int kLength = 5000;
    PageFixture page;
    addChain(page, kLength);
    auto run = [&] { page.scan("c:\\app\\root.exe"); };
#ifndef _WIN32
    // The page's worker has 256 KiB of stack; the walk must fit in it.
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 0x40000);
    pthread_t thread;
    auto entry = [](void* f) -> void* {
        (*static_cast<decltype(run)*>(f))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, entry, &run), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
#else
    run();
#endif
    ASSERT_EQ(page.list->rowCount(), kLength + 1);
    EXPECT_EQ(page.list->cellText(1, 0), "M04999.DLL");
    EXPECT_EQ(page.list->cellText(kLength, 0), "M00000.DLL");
    int depth = 0;
    TreeItem deepest = page.tree->rootItem();
    for (TreeItem c; (c = page.tree->firstChild(deepest)); deepest = c) ++depth;
    EXPECT_EQ(depth, kLength);
    EXPECT_EQ(page.tree->itemHasChildren(deepest), 0);
}

TEST(ScanWalk, ModuleImportingTwoThousandOthers) {
    PageFixture page;
    std::vector<std::string> imports;
    char name[32];
    for (int i = 1999; i >= 0; --i) {
        std::snprintf(name, sizeof name, "d%04d.dll", i);
        imports.push_back(name);
        page.addPe(kSys + name, {});
    }
    page.addPe("c:\\app\\wide.exe", imports);
    page.scan("c:\\app\\wide.exe");
    ASSERT_EQ(page.list->rowCount(), 2001);
    const std::vector<std::string> labels = page.childLabels(page.tree->rootItem());
    ASSERT_EQ(labels.size(), 2000u);
    EXPECT_EQ(labels.front(), "D0000.DLL (c:\\windows\\system32\\d0000.dll)");
    EXPECT_EQ(page.list->cellText(1, 0), "D0000.DLL");
    EXPECT_EQ(page.list->cellText(2000, 0), "D1999.DLL");
}

}  // namespace
}  // namespace vost::test
