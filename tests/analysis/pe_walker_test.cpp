// The PE import walker: which descriptors are walked, which names become
// children, and what a damaged file yields.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"
#include "tests/support/test_scan.h"

namespace vost {
namespace {

using test::Bytes;
using test::PeImage;
using test::PeImageLayout;
using test::TestScan;
using Names = std::vector<std::string>;

struct Walk {
    int result = -1;
    Names names;  // module names handed on, in walk order
    std::size_t messages = 0;
};

Walk walkBytes(const Bytes& bytes) {
    TestScan scan;
    scan.platform.addFile("c:\\app\\subject.dll", bytes);
    ModuleNode& root = scan.root("c:\\app\\subject.dll");
    Walk w;
    w.result = scanModule(scan.ctx, root);
    w.names = scan.referencedNames();
    w.messages = scan.platform.messages.size();
    for (const ModuleNode* child : scan.childrenOf(root)) EXPECT_EQ(child->readVersion, 1);
    return w;
}

Walk walk(const PeImageLayout& layout) { return walkBytes(test::buildPe(layout).bytes); }

PeImageLayout imports(Names names) {
    PeImageLayout layout;
    layout.imports = std::move(names);
    return layout;
}

TEST(PeWalker, NamesGoOutInDescriptorOrderWithTheirOwnCase) {
    const Walk w = walk(imports({"USER32.dll", "kernel32.DLL", "Comctl32.dll", "ADVAPI32.dll"}));
    EXPECT_EQ(w.result, 1);
    EXPECT_EQ(w.names, (Names{"USER32.dll", "kernel32.DLL", "Comctl32.dll", "ADVAPI32.dll"}));
    EXPECT_EQ(w.messages, 0u);

    PeImageLayout split = imports({"USER32.dll", "GDI32.dll"});
    split.namesInOwnSection = true;  // descriptors in .idata, names in .rdata
    EXPECT_EQ(walk(split).names, (Names{"USER32.dll", "GDI32.dll"}));

    // A module named by two descriptors is two children.
    EXPECT_EQ(walk(imports({"MSVCRT.dll", "MSVCRT.dll"})).names, (Names{"MSVCRT.dll", "MSVCRT.dll"}));
}

TEST(PeWalker, NoImportsYieldZero) {
    const Walk none = walk(imports({}));  // directory RVA 0
    EXPECT_EQ(none.result, 0);
    EXPECT_TRUE(none.names.empty());

    PeImageLayout terminatorOnly;
    terminatorOnly.emptyImportTable = true;
    EXPECT_EQ(walk(terminatorOnly).result, 0);

}

TEST(PeWalker, Pe32PlusReadsTheDirectoryOfTheWideLayout) {
    PeImageLayout wide = imports({"KERNEL32.dll", "USER32.dll"});
    wide.pe32plus = true;
    const PeImage image = test::buildPe(wide);
    const Walk w = walkBytes(image.bytes);
    EXPECT_EQ(w.result, 1);
    EXPECT_EQ(w.names, (Names{"KERNEL32.dll", "USER32.dll"}));
    EXPECT_EQ(w.messages, 0u);

    // Any other magic keeps the 32-bit place, which in this image holds
    // LoaderFlags (zero): no import directory.
    for (std::uint16_t magic : {0x10B, 0x107, 0x0, 0x20A}) {
        Bytes other = image.bytes;
        test::putU16(other, image.newHeader + 24, magic);
        EXPECT_EQ(walkBytes(other).result, 0) << magic;
    }
    // A file cut inside the wide directory entry has no import directory.
    EXPECT_EQ(walkBytes(Bytes(image.bytes.begin(), image.bytes.begin() + image.newHeader + 146)).result, 0);
}

TEST(PeWalker, EndTestsLookAtStampNameAndThunks) {
    const PeImage base = test::buildPe(imports({"A.dll", "B.dll", "C.dll"}));
    const std::uint32_t second = base.descriptor(1);

    Bytes noStampNoName = base.bytes;  // thunks still set
    test::putU32(noStampNoName, second + 4, 0);
    test::putU32(noStampNoName, second + 12, 0);
    EXPECT_EQ(walkBytes(noStampNoName).names, (Names{"A.dll"}));

    Bytes noThunks = base.bytes;  // name still set
    test::putU32(noThunks, second + 0, 0);
    test::putU32(noThunks, second + 16, 0);
    EXPECT_EQ(walkBytes(noThunks).names, (Names{"A.dll"}));

    // Either half of each test keeps the walk going: a stamp without a name
    // (Name 0 is the RVA of the headers, whose first bytes the loader would
    // take for the name) and a FirstThunk without an OriginalFirstThunk.
    Bytes stampOnly = base.bytes;
    test::putU32(stampOnly, second + 4, 0xFFFFFFFF);
    test::putU32(stampOnly, second + 12, 0);
    test::putU32(stampOnly, base.descriptor(2) + 0, 0);
    const Walk w = walkBytes(stampOnly);
    EXPECT_EQ(w.result, 1);
    EXPECT_EQ(w.names, (Names{"A.dll", "MZ\x90", "C.dll"}));
}

TEST(PeWalker, UnusableNamesArePassedOverAndTheWalkGoesOn) {
    PeImageLayout noSection = imports({"A.dll", "B.dll", "C.dll"});
    noSection.nameInNoSection = 1;
    Walk w = walk(noSection);
    EXPECT_EQ(w.result, 1);
    EXPECT_EQ(w.names, (Names{"A.dll", "C.dll"}));

    PeImageLayout onlyBad = imports({"A.dll"});
    onlyBad.nameInNoSection = 0;
    w = walk(onlyBad);
    EXPECT_EQ(w.result, 1);  // a descriptor was walked, though it named nothing
    EXPECT_TRUE(w.names.empty());

    PeImageLayout unterminated = imports({"A.dll", "B.dll"});
    unterminated.unterminatedLastName = true;  // the file ends inside "B.dll"
    w = walk(unterminated);
    EXPECT_EQ(w.result, 1);
    EXPECT_EQ(w.names, (Names{"A.dll", "B.dll"}));  // ended by the zeros past the file

    const std::string longest(259, 'L');  // the most a 260-byte buffer holds
    const std::string tooLong(260, 'T');
    w = walk(imports({"", "  ", longest, tooLong, std::string(1000, 'X'), "Z.dll"}));
    EXPECT_EQ(w.result, 1);
    EXPECT_EQ(w.names, (Names{longest, "Z.dll"}));

    // Trailing spaces and dots as the loader drops them.
    EXPECT_EQ(walk(imports({"A.dll  ", "B.dll.", "C.dll . ", "D", "E.", "F. .", "G..H.."})).names,
              (Names{"A.dll", "B.dll", "C.dll", "D", "E.", "F.", "G..H"}));
}

TEST(PeWalker, SectionsMapAsTheLoaderMapsThem) {
    PeImageLayout overlap = imports({"KERNEL32.dll", "USER32.dll"});
    overlap.overlappingSection = true;  // an earlier section maps the names lower-cased
    EXPECT_EQ(walk(overlap).names, (Names{"KERNEL32.dll", "USER32.dll"}));
    overlap.namesInOwnSection = true;
    EXPECT_EQ(walk(overlap).names, (Names{"KERNEL32.dll", "USER32.dll"}));

    PeImageLayout vs0 = imports({"KERNEL32.dll"});
    vs0.importSectionVirtualSize0 = true;  // the section's size is its SizeOfRawData
    EXPECT_EQ(walk(vs0).names, (Names{"KERNEL32.dll"}));

    // Names past SizeOfRawData, below VirtualSize: the loader reads the
    // section's whole 512-byte sectors, and zeros after them.
    PeImageLayout tail = imports({"A.dll", "B.dll"});
    tail.namesInOwnSection = true;
    PeImage image = test::buildPe(tail);
    test::putU32(image.bytes, image.sectionHeader(1) + 16, 1);
    EXPECT_EQ(walkBytes(image.bytes).names, (Names{"A.dll", "B.dll"}));
    test::putU32(image.bytes, image.sectionHeader(1) + 20, 0);  // no file data: all zeros
    EXPECT_EQ(walkBytes(image.bytes).result, 1);
    EXPECT_TRUE(walkBytes(image.bytes).names.empty());

    // A NumberOfSections far larger than the table: the sections that exist still count.
    image = test::buildPe(imports({"A.dll"}));
    test::putU16(image.bytes, image.newHeader + 6, 0xFFFF);
    EXPECT_EQ(walkBytes(image.bytes).names, (Names{"A.dll"}));
}

TEST(PeWalker, RvaTranslationFollowsTheLoadersCopies) {
    PeImage image = test::buildPe(imports({"A.dll"}));
    const ByteView view(image.bytes.data(), image.bytes.size());
    const std::uint32_t h = image.sectionHeader(0);
    const std::uint32_t va = test::getU32(image.bytes, h + 12);
    const std::uint32_t raw = test::getU32(image.bytes, h + 20);
    EXPECT_EQ(rvaToFileOffset(view, image.newHeader, va + 5), raw + 5);
    EXPECT_EQ(rvaToFileOffset(view, image.newHeader, 0x10), 0x10u);  // the headers
    EXPECT_EQ(rvaToFileOffset(view, image.newHeader, va - 1), 0xFFFFFFFFu);  // zeros after them

    // A section reaching past 2^32 is cut there.
    test::putU32(image.bytes, h + 8, 0x2000);
    test::putU32(image.bytes, h + 12, 0xFFFFF000u);
    test::putU32(image.bytes, h + 16, 0x200);
    const ByteView high(image.bytes.data(), image.bytes.size());
    EXPECT_EQ(rvaToFileOffset(high, image.newHeader, 0xFFFFF010u), raw + 0x10);
    EXPECT_EQ(rvaToFileOffset(high, image.newHeader, va), 0xFFFFFFFFu);

    // PointerToRawData is read from its 512-byte sector's start.
    test::putU32(image.bytes, h + 12, 0x10000000u);
    test::putU32(image.bytes, h + 20, raw + 0x10);
    const ByteView sector(image.bytes.data(), image.bytes.size());
    EXPECT_EQ(rvaToFileOffset(sector, image.newHeader, 0x10000010u), raw + 0x10);
}

TEST(PeWalker, EveryTruncationEndsCleanlyWithAPrefixOfTheNames) {
    PeImageLayout layout = imports({"KERNEL32.dll", "USER32.dll", "GDI32.dll"});
    layout.namesInOwnSection = true;
    layout.version = FixedFileVersion{0x00050001, 0x0A280000, 0x00050001, 0x0A280000};
    const PeImage built = test::buildPe(layout);
    const Bytes& whole = built.bytes;
    const Names all = walkBytes(whole).names;
    ASSERT_EQ(all, layout.imports);
    for (std::size_t length = 0; length < whole.size(); ++length) {
        const Walk w = walkBytes(Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(length)));
        ASSERT_TRUE(w.result == 0 || w.result == 1) << length;
        ASSERT_LE(w.names.size(), all.size()) << length;
        ASSERT_LE(w.messages, 1u);
        // A Name field cut short points anywhere. Otherwise the loader reads
        // zeros past the cut: a name there is empty (passed over) or cut
        // short, in order.
        if (length > built.firstDescriptor && length < built.descriptor(all.size())) continue;
        std::size_t next = 0;
        for (const std::string& name : w.names) {
            while (next < all.size() && all[next].rfind(name, 0) != 0)
                ++next;
            ASSERT_LT(next, all.size()) << length << " " << name;
            ++next;
        }
    }
    // Cut inside the second descriptor: the first is walked, its name is gone with the cut.
    const PeImage image = test::buildPe(imports({"A.dll", "B.dll"}));
    const Walk cut = walkBytes(Bytes(image.bytes.begin(), image.bytes.begin() + image.descriptor(1) + 10));
    EXPECT_EQ(cut.result, 1);
    EXPECT_TRUE(cut.names.empty());
}

}  // namespace
}  // namespace vost
