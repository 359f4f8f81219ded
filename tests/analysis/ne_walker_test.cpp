// The NE module-reference walker: which strings become children, under which
// file names, in which order, and what a damaged table yields.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/module_functions.h"
#include "analysis/ne_functions.h"
#include "tests/support/image_builder.h"
#include "tests/support/test_scan.h"

namespace vost {
namespace {

using test::Bytes;
using test::NeImage;
using test::NeImageLayout;
using test::TestScan;
using Names = std::vector<std::string>;

struct Walk {
    int result = -1;
    Names names;  // file names handed on, in walk order
};

Walk walkBytes(const Bytes& bytes) {
    TestScan scan;
    scan.platform.addFile("c:\\win\\subject.drv", bytes);
    ModuleNode& root = scan.root("c:\\win\\subject.drv");
    Walk w;
    w.result = scanModule(scan.ctx, root);
    w.names = scan.referencedNames();
    EXPECT_TRUE(scan.platform.messages.empty());
    EXPECT_TRUE(scan.platform.versionReads.size() == 1) << "NE references read no version";
    for (const ModuleNode* child : scan.childrenOf(root)) EXPECT_EQ(child->readVersion, 0);
    return w;
}

Walk walk(const NeImageLayout& layout) { return walkBytes(test::buildNe(layout).bytes); }

TEST(NeWalker, RuleTableMapsNamesExactlyAndTableOrderDecides) {
    NeImageLayout layout;
    layout.names = {"KEYBOARD", "KERNEL", "CreateWindow", "USER", "GDI", "SYSTEM", "kernel", "Kernel", "GDIX"};
    layout.reference({8, 6, 5, 4, 3, 1, 0, 7});  // every name but the function, out of order
    const Walk w = walk(layout);
    EXPECT_EQ(w.result, 1);
    EXPECT_EQ(w.names, (Names{"KEYBOARD.DLL", "KRNL386.EXE", "USER.EXE", "GDI.EXE", "SYSTEM.DRV",
                              "kernel.DLL", "Kernel.DLL", "GDIX.DLL"}));
}

TEST(NeWalker, ReferencesSelectNamesOnce) {
    NeImageLayout layout;
    layout.names = {"KERNEL", "GetVersion", "USER"};
    layout.reference({2, 2, 0, 2});
    layout.refOffsets.push_back(2);       // inside a string, not at a length byte
    layout.refOffsets.push_back(0);       // the table's unused first byte
    layout.refOffsets.push_back(0xFFFF);  // past the table
    EXPECT_EQ(walk(layout).names, (Names{"KRNL386.EXE", "USER.EXE"}));

    layout.refOffsets.clear();  // ne_cmod 0
    const Walk none = walk(layout);
    EXPECT_EQ(none.result, 1);
    EXPECT_TRUE(none.names.empty());
}

TEST(NeWalker, CollectionEndsAtZeroLengthTableEndOrFileEnd) {
    NeImageLayout layout;
    layout.names = {"KERNEL", "", "USER"};  // the empty string is a zero length byte
    layout.reference({0, 2});
    EXPECT_EQ(walk(layout).names, (Names{"KRNL386.EXE"}));

    // An entry table at most one byte past the imported-names table: no names.
    NeImageLayout tight;
    tight.names = {"KERNEL", "USER"};
    tight.reference({0, 1});
    for (int delta : {-40, 0, 1}) {
        tight.entryTableDelta = delta;
        const Walk w = walk(tight);
        EXPECT_EQ(w.result, 1) << delta;
        EXPECT_TRUE(w.names.empty()) << delta;
    }
    // The entry table cuts the table after the first string's length byte:
    // that string is still read whole, the next one is not.
    tight.entryTableDelta = 2;
    EXPECT_EQ(walk(tight).names, (Names{"KRNL386.EXE"}));

    // A module-reference count past the end of the file: the table ends with the file.
    NeImageLayout many;
    many.names = {"USER"};
    many.reference({0});
    many.moduleCount = 0xFFFF;
    EXPECT_EQ(walk(many).names, (Names{"USER.EXE"}));
}

TEST(NeWalker, LongAndNegativeLengthsAreSkippedWhole) {
    // Lengths 100 and 200 (negative as a signed byte) are stepped over unread;
    // the walk continues after them. A name of 99 characters is kept.
    const std::string longest(99, 'M');
    Bytes table{0};
    auto add = [&](std::size_t length, char fill) {
        table.push_back(std::uint8_t(length));
        table.insert(table.end(), length, std::uint8_t(fill));
    };
    add(100, 'H');
    add(4, 'A');  // offset 102
    add(200, 'N');
    add(99, 'M');  // offset 308
    add(255, 'X');
    add(3, 'B');  // offset 664
    NeImageLayout layout;
    layout.rawNamesTable = table;
    layout.refOffsets = {1, 102, 107, 308, 408, 664};
    EXPECT_EQ(walk(layout).names, (Names{"AAAA.DLL", longest + ".DLL", "BBB.DLL"}));
}

TEST(NeWalker, TruncatedFilesReferenceWhatLiesInside) {
    NeImageLayout layout;
    layout.names = {"KERNEL", "USER", "GDI"};
    layout.reference({0, 1, 2});
    const NeImage image = test::buildNe(layout);
    ASSERT_EQ(walkBytes(image.bytes).names, (Names{"KRNL386.EXE", "USER.EXE", "GDI.EXE"}));

    // Cut inside the NE header: nothing referenced, still 1.
    const Walk header = walkBytes(Bytes(image.bytes.begin(), image.bytes.begin() + image.newHeader + 20));
    EXPECT_EQ(header.result, 1);
    EXPECT_TRUE(header.names.empty());

    // Cut inside "USER": KERNEL was collected, the rest is gone.
    const std::size_t insideUser = image.namesTable + layout.offsetOf(1) + 2;
    EXPECT_EQ(walkBytes(Bytes(image.bytes.begin(), image.bytes.begin() + insideUser)).names,
              (Names{"KRNL386.EXE"}));

    for (std::size_t length = image.newHeader + 2; length <= image.bytes.size(); ++length) {
        const Walk w = walkBytes(Bytes(image.bytes.begin(), image.bytes.begin() + length));
        ASSERT_EQ(w.result, 1) << length;
        ASSERT_LE(w.names.size(), 3u) << length;
    }
}

// What an NE module gives (entry table and names) and takes (relocation
// records), read back from a builder image: fixed, movable and constant
// entries with gaps, names in both tables, and each import once per module
// however many records name it.
TEST(NeFunctions, EntriesNamesAndRelocationsReadBack) {
    NeImageLayout layout;
    layout.names = {"KERNEL", "VOSTLIB", "GETVERSION", "USER"};
    layout.reference({0, 1, 3});
    layout.entries = {{1, 1, 0x0010, "FIRST"},
                      {2, 1, 0x0020, ""},
                      {5, 0xFF, 0x0100, "MOVED", false, 2},
                      {6, 0xFE, 0x1234, "CONSTANT"},
                      {300, 1, 0x0030, "FAR"}};
    layout.relocations = {{1, 3}, {2, 0, 2}, {1, 3}, {2, 7}, {3, 0, 2}, {4, 9}, {0, 1}};
    const test::NeImage image = test::buildNe(layout);
    const ByteView view(image.bytes.data(), image.bytes.size());

    const PeExports exports = readNeExports(view, image.newHeader);
    EXPECT_TRUE(exports.present);
    EXPECT_TRUE(exports.neEntries);
    EXPECT_EQ(exports.moduleName, "TESTMOD");
    std::string rows;
    for (const ExportRow& row : exportRows(exports))
        rows += std::to_string(row.ordinal) + " " + std::string(row.name) + " " + exportTargetText(row) + "; ";
    EXPECT_EQ(rows, "1 FIRST 0001:0010; 2  0001:0020; 5 MOVED 0002:0100; 6 CONSTANT constant 0x1234; "
                    "300 FAR 0001:0030; ");
    EXPECT_EQ(findNeName(exports, "moved").index, 4u);
    EXPECT_EQ(findNeName(exports, "GONE").kind, ExportKind::NotExported);

    std::string imports;
    for (const ImportedModule& m : readNeImports(view, image.newHeader)) {
        imports += m.name + ":";
        for (const ImportedFunction& f : m.functions) imports += " " + importedFunctionText(f);
        imports += "; ";
    }
    // Module 4 and 0 are no entries of the three-entry reference table.
    EXPECT_EQ(imports, "KRNL386.EXE: #3; VOSTLIB.DLL: GETVERSION #7; USER.EXE: GETVERSION; ");

    // Every cut of the file reads without leaving it (ByteView bounds) and
    // keeps a prefix of what the whole file gives.
    for (std::size_t cut = 0; cut < image.bytes.size(); ++cut) {
        const ByteView part(image.bytes.data(), cut);
        EXPECT_LE(readNeExports(part, image.newHeader).addresses.size(), exports.addresses.size());
        EXPECT_LE(readNeImports(part, image.newHeader).size(), 3u);
    }
}

}  // namespace
}  // namespace vost
