// scanModule: which files reach a walker, which get which message, and what
// each outcome returns.
#include <gtest/gtest.h>

#include "tests/support/image_builder.h"
#include "tests/support/test_scan.h"

namespace vost {
namespace {

using test::Bytes;
using test::FakePlatform;
using test::TestScan;

const char* const kPath = "c:\\app\\subject.exe";
const char* const kNeither = "This File is neither a Portable Executable (PE) \n nor a NE";

struct Outcome {
    int result;
    std::vector<FakePlatform::Message> messages;
    std::size_t children;
    int scanned;
};

Outcome scanBytes(Bytes bytes) {
    TestScan scan;
    scan.platform.addFile(kPath, std::move(bytes));
    scan.platform.addSearchFolder("c:\\app");
    ModuleNode& root = scan.root(kPath);
    const int result = scanModule(scan.ctx, root);
    EXPECT_EQ(scan.platform.openMappings, 0) << "the view outlived the call";
    return Outcome{result, scan.platform.messages, scan.childrenOf(root).size(), root.scanned};
}

// MZ, e_lfanew, and `tail` from the new-header offset on.
Bytes mzWithHeaderAt(std::uint32_t lfanew, const std::string& tail, std::size_t at = 0x40) {
    Bytes b(at, 0);
    test::putText(b, 0, "MZ");
    test::putU32(b, test::kLfanewField, lfanew);
    test::putText(b, at, tail);
    return b;
}

void expectOneMessage(const Outcome& o, const char* text, const char* caption, WindowHandle owner) {
    ASSERT_EQ(o.messages.size(), 1u);
    EXPECT_EQ(o.messages[0].text, text);
    EXPECT_EQ(o.messages[0].caption, caption);
    EXPECT_EQ(o.messages[0].owner, owner);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.children, 0u);
    EXPECT_EQ(o.scanned, 1);
}

TEST(HeaderReader, FileWithoutMzStubIsNotAValidFileOwnedByThePage) {
    const WindowHandle page = test::RecordingTree().owner;
    expectOneMessage(scanBytes(test::bytesOf("just some text\r\n")), "not a Valid File", "VOST", page);
    expectOneMessage(scanBytes(test::bytesOf("M")), "not a Valid File", "VOST", page);
    expectOneMessage(scanBytes(test::bytesOf("ZM\x40")), "not a Valid File", "VOST", page);
}

TEST(HeaderReader, SignatureOutsideTheFileIsInvalidExe) {
    // e_lfanew far beyond the end, at the very end, and near 2^32 (would wrap a 32-bit pointer).
    for (std::uint32_t lfanew : {0x00100000u, 0x40u, 0x7FFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFFu})
        expectOneMessage(scanBytes(mzWithHeaderAt(lfanew, "")), "invalid .EXE", "Quillon", nullptr);
    // The offset field itself is cut off.
    expectOneMessage(scanBytes(test::bytesOf("MZ\x90\0")), "invalid .EXE", "Quillon", nullptr);
    // "PE" fits as a 16-bit value, but its four-byte signature leaves the file.
    expectOneMessage(scanBytes(mzWithHeaderAt(0x40, "PE\0")), "invalid .EXE", "Quillon", nullptr);
    // The builder's own huge-e_lfanew switch.
    test::PeImageLayout layout;
    layout.imports = {"KERNEL32.dll"};
    layout.lfanew = 0xFFFFFFF0u;
    expectOneMessage(scanBytes(test::buildPe(layout).bytes), "invalid .EXE", "Quillon", nullptr);
}

TEST(HeaderReader, NeitherPeNorNeGetsTheOwnerlessMessage) {
    // A bare DOS program: e_lfanew 0 finds "MZ" itself.
    Bytes dos = mzWithHeaderAt(0, "");
    dos.resize(0x200, 0x90);
    expectOneMessage(scanBytes(dos), kNeither, "Quillon", nullptr);
    expectOneMessage(scanBytes(mzWithHeaderAt(0x40, std::string("PE\0\x01", 4))), kNeither, "Quillon", nullptr);
    expectOneMessage(scanBytes(mzWithHeaderAt(0x40, std::string("LE\0\0", 4))), kNeither, "Quillon", nullptr);
    expectOneMessage(scanBytes(mzWithHeaderAt(0x40, std::string("ne\0\0", 4))), kNeither, "Quillon", nullptr);
    // Not "NE", and too short for the four-byte PE test: the read leaves the file.
    expectOneMessage(scanBytes(mzWithHeaderAt(0x40, "ne")), "invalid .EXE", "Quillon", nullptr);
}

TEST(HeaderReader, FilesThatCannotBeMappedGiveZeroSilently) {
    const Outcome empty = scanBytes(Bytes());
    EXPECT_EQ(empty.result, 0);
    EXPECT_TRUE(empty.messages.empty());
    EXPECT_EQ(empty.scanned, 1);

    TestScan scan;
    test::PeImageLayout layout;
    layout.imports = {"KERNEL32.dll"};
    scan.platform.addFile(kPath, test::buildPe(layout).bytes);
    scan.platform.lockFile(kPath);  // held open for writing elsewhere
    for (const char* path : {kPath, "file not found", "c:\\app\\missing.dll"}) {
        ModuleNode& node = scan.root(path);
        EXPECT_EQ(scanModule(scan.ctx, node), 0) << path;
        EXPECT_EQ(node.scanned, 1);
        EXPECT_TRUE(scan.childrenOf(node).empty());
    }
    EXPECT_TRUE(scan.platform.messages.empty());
    EXPECT_TRUE(scan.platform.searches.empty());
}

TEST(HeaderReader, ResultFollowsTheWalker) {
    test::PeImageLayout pe;
    pe.imports = {"KERNEL32.dll", "USER32.dll"};
    Outcome o = scanBytes(test::buildPe(pe).bytes);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.children, 2u);
    EXPECT_TRUE(o.messages.empty());

    pe.imports.clear();  // a library that imports nothing
    o = scanBytes(test::buildPe(pe).bytes);
    EXPECT_EQ(o.result, 0);
    EXPECT_TRUE(o.messages.empty());

    test::NeImageLayout ne;  // no module references at all
    o = scanBytes(test::buildNe(ne).bytes);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.children, 0u);
    EXPECT_TRUE(o.messages.empty());

    // "NE" in the last two bytes: the header is cut off, which references nothing.
    o = scanBytes(mzWithHeaderAt(0x40, "NE"));
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.children, 0u);
    EXPECT_TRUE(o.messages.empty());
}

// The header reader notes the module's machine and family, and its
// references are searched among modules of that family: 64-bit ones for a
// PE32+ file, 32-bit ones for a PE32 file and for a 16-bit NE file.
TEST(HeaderReader, ReferencesAreSearchedInTheModulesOwnFamily) {
    struct Case {
        Bytes bytes;
        std::uint16_t machine;
        ModuleBits bits;
    };
    test::PeImageLayout wide;
    wide.imports = {"KERNEL32.dll"};
    wide.pe32plus = true;
    test::PeImageLayout narrow = wide;
    narrow.pe32plus = false;
    test::NeImageLayout ne;
    ne.names = {"KERNEL"};
    ne.reference({0});
    const Case cases[] = {{test::buildPe(wide).bytes, 0x8664, ModuleBits::bits64},
                          {test::buildPe(narrow).bytes, 0x014C, ModuleBits::bits32},
                          {test::buildNe(ne).bytes, 0, ModuleBits::bits32}};
    for (const Case& c : cases) {
        TestScan scan;
        scan.platform.addFile(kPath, c.bytes);
        ModuleNode& root = scan.root(kPath);
        EXPECT_EQ(scanModule(scan.ctx, root), 1);
        EXPECT_EQ(root.machine, c.machine);
        EXPECT_EQ(root.bits, c.bits);
        ASSERT_EQ(scan.platform.searchBits.size(), 1u);
        EXPECT_EQ(scan.platform.searchBits[0], c.bits);
    }
}

}  // namespace
}  // namespace vost
