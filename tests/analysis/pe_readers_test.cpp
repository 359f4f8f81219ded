// The export, import-function and delay-load readers on builder images, in
// PE32 and PE32+, sound and damaged: what each lookup answers, and that a
// hostile table costs no more than the file's size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/image_map.h"
#include "analysis/pe_delay_imports.h"
#include "analysis/pe_exports.h"
#include "analysis/pe_headers.h"
#include "analysis/pe_import_functions.h"
#include "analysis/scan_module.h"
#include "tests/support/image_builder.h"

namespace vost {
namespace {

using test::Bytes;
using test::ExportEntry;
using test::ImportThunk;
using test::PeImage;
using test::PeImageLayout;

ByteView viewOf(const Bytes& b) { return ByteView(b.data(), b.size()); }
PeExports exportsOf(const Bytes& b) { return readPeExports(viewOf(b), test::kDefaultNewHeader); }
std::vector<ImportedModule> importsOf(const Bytes& b) {
    return readPeImportFunctions(viewOf(b), test::kDefaultNewHeader);
}
std::vector<ImportedModule> delayOf(const Bytes& b) { return readPeDelayImports(viewOf(b), test::kDefaultNewHeader); }

// "module: name/hint #ordinal ?; " per module, "(cut)" after a cut list.
std::string describe(const std::vector<ImportedModule>& modules) {
    std::string text;
    for (const ImportedModule& m : modules) {
        text += m.name + ":";
        for (const ImportedFunction& f : m.functions)
            text += f.kind == ImportKind::ByName      ? " " + f.name + "/" + std::to_string(f.hint)
                    : f.kind == ImportKind::ByOrdinal ? " #" + std::to_string(f.ordinal)
                                                      : std::string(" ?");
        text += m.cut ? " (cut); " : "; ";
    }
    return text;
}

ImportThunk byName(const std::string& name, std::uint16_t hint) { return ImportThunk{name, hint, std::nullopt}; }
ImportThunk byOrdinal(std::uint16_t ordinal) { return ImportThunk{"", 0, ordinal}; }

test::ExportLayout sampleExports() {
    test::ExportLayout e;
    e.moduleName = "sample.dll";
    e.ordinalBase = 5;
    e.entries = {ExportEntry{{"Alpha"}, 0x40010, ""}, ExportEntry{{}, 0x40020, ""}, ExportEntry{},
                 ExportEntry{{"Beta", "BetaAlias"}, 0, "krnl386.exe16.GetModuleHandle16"},
                 ExportEntry{{"Gamma"}, 0, "other.#12"}};
    return e;
}

TEST(PeExportsReader, AnswersByNameAndOrdinalInBothLayouts) {
    for (bool wide : {false, true}) {
        PeImageLayout layout;
        layout.pe32plus = wide;
        layout.exports = sampleExports();
        const PeExports ex = exportsOf(test::buildPe(layout).bytes);
        ASSERT_TRUE(ex.present);
        EXPECT_EQ(ex.faults, 0u);
        EXPECT_EQ(ex.moduleName, "sample.dll");
        EXPECT_TRUE(ex.namesSorted);

        const ExportTarget alpha = ex.findByName("Alpha");
        EXPECT_EQ(alpha.kind, ExportKind::Address);
        EXPECT_EQ(alpha.rva, 0x40010u);
        EXPECT_EQ(ex.findByName("alpha").kind, ExportKind::NotExported);  // case matters
        EXPECT_EQ(ex.findByName("Alph").kind, ExportKind::NotExported);
        EXPECT_EQ(ex.findByName("BetaAlias").forwarder, "krnl386.exe16.GetModuleHandle16");
        EXPECT_EQ(ex.findByName("Gamma").forwarder, "other.#12");

        EXPECT_EQ(ex.findByOrdinal(5).rva, 0x40010u);
        EXPECT_EQ(ex.findByOrdinal(6).kind, ExportKind::Address);      // by ordinal only
        EXPECT_EQ(ex.findByOrdinal(7).kind, ExportKind::NotExported);  // a hole
        EXPECT_EQ(ex.findByOrdinal(8).kind, ExportKind::Forwarder);
        EXPECT_EQ(ex.findByOrdinal(4).kind, ExportKind::NotExported);  // below the base
        EXPECT_EQ(ex.findByOrdinal(10).kind, ExportKind::NotExported); // past the table
    }

    // A name table out of order is still searched correctly.
    PeImageLayout unsorted;
    unsorted.exports = sampleExports();
    unsorted.exports->entries[0].names = {"Zed", "Mid"};
    unsorted.exports->keepNameOrder = true;
    const PeExports ex = exportsOf(test::buildPe(unsorted).bytes);
    EXPECT_FALSE(ex.namesSorted);
    for (const char* name : {"Zed", "Mid", "Beta", "BetaAlias", "Gamma"})
        EXPECT_NE(ex.findByName(name).kind, ExportKind::NotExported) << name;
    EXPECT_EQ(ex.findByName("Alpha").kind, ExportKind::NotExported);

    EXPECT_FALSE(exportsOf(test::buildPe(PeImageLayout{}).bytes).present);
}

TEST(PeExportsReader, ForwarderSplitsAtTheLastDot) {
    ForwarderTarget t;
    ASSERT_TRUE(parseForwarder("krnl386.exe16.GetModuleHandle16", t));
    EXPECT_EQ(t.module, "krnl386.exe16");
    EXPECT_EQ(t.function, "GetModuleHandle16");
    EXPECT_FALSE(t.byOrdinal);
    ASSERT_TRUE(parseForwarder("NTDLL.#65535", t));
    EXPECT_EQ(t.module, "NTDLL");
    EXPECT_TRUE(t.byOrdinal);
    EXPECT_EQ(t.ordinal, 65535);
    for (const char* bad : {"", "nodot", ".Function", "module.", "module.#", "module.#65536", "module.#12x",
                            "module.#123456"})
        EXPECT_FALSE(parseForwarder(bad, t)) << bad;
}

TEST(PeImportFunctionsReader, ThunksByNameAndOrdinalFromEitherTable) {
    for (bool wide : {false, true})
        for (bool addressTableOnly : {false, true}) {
            PeImageLayout layout;
            layout.pe32plus = wide;
            layout.imports = {"KERNEL32.dll", "empty.dll", "USER32.dll"};
            layout.importFunctions = {{byName("GetVersion", 7), byOrdinal(12), byName("ExitProcess", 300)},
                                      {},
                                      {byOrdinal(65535), byName("MessageBoxA", 0)}};
            layout.importAddressTableOnly = addressTableOnly;
            const std::vector<ImportedModule> modules = importsOf(test::buildPe(layout).bytes);
            EXPECT_EQ(describe(modules), "KERNEL32.dll: GetVersion/7 #12 ExitProcess/300; empty.dll:; "
                                         "USER32.dll: #65535 MessageBoxA/0; ")
                << wide << addressTableOnly;
            ASSERT_EQ(modules.size(), 3u);
            EXPECT_EQ(modules[0].fromAddressTable, addressTableOnly);
        }
}

TEST(PeDelayImportsReader, ModulesAndThunksInTheRvaAndTheOldVirtualAddressForm) {
    for (bool wide : {false, true})
        for (bool virtualAddresses : {false, true}) {
            PeImageLayout layout;
            layout.pe32plus = wide;
            layout.delayImports = {{"late.dll", {byName("Later", 3), byOrdinal(9)}}, {"none.dll", {}}};
            layout.delayVirtualAddresses = virtualAddresses;
            const Bytes bytes = test::buildPe(layout).bytes;
            EXPECT_EQ(describe(delayOf(bytes)), "late.dll: Later/3 #9; none.dll:; ") << wide << virtualAddresses;
            EXPECT_TRUE(importsOf(bytes).empty());
        }
}

// --- Damaged and hostile images -------------------------------------------

TEST(PeExportsReader, DamagedTablesAreCutAndReported) {
    PeImageLayout layout;
    layout.exports = sampleExports();
    const PeImage sound = test::buildPe(layout);
    const std::uint32_t dir = sound.exportDirectory;
    auto patched = [&](std::uint32_t at, std::uint32_t value, bool u16 = false) {
        Bytes b = sound.bytes;
        u16 ? test::putU16(b, at, std::uint16_t(value)) : test::putU32(b, at, value);
        return exportsOf(b);
    };
    const std::uint32_t namePointers = sound.fileOffsetOf(test::getU32(sound.bytes, dir + 32));
    const std::uint32_t ordinals = sound.fileOffsetOf(test::getU32(sound.bytes, dir + 36));

    PeExports ex = patched(dir + 20, 0xFFFFFFFF);  // NumberOfFunctions
    EXPECT_TRUE(ex.faults & PeExports::kAddressTableCut);  // at the end of the image
    const std::uint64_t imageSize = ImageMap(viewOf(sound.bytes), test::kDefaultNewHeader).view().size();
    EXPECT_LE(ex.addresses.size(), (imageSize - test::getU32(sound.bytes, dir + 28)) / 4);

    ex = patched(dir + 24, 0xFFFFFFFF);  // NumberOfNames
    EXPECT_TRUE(ex.faults & PeExports::kNameTableCut);
    EXPECT_EQ(ex.findByName("Alpha").rva, 0x40010u);

    ex = patched(namePointers, test::kRvaInNoSection);  // "Alpha"'s pointer
    EXPECT_EQ(ex.faults, PeExports::kNameUnreadable);
    EXPECT_EQ(ex.findByName("Alpha").kind, ExportKind::NotExported);
    EXPECT_EQ(ex.findByName("Gamma").kind, ExportKind::Forwarder);

    ex = patched(ordinals, 0xFFFF, true);  // "Alpha" -> index 65535
    EXPECT_EQ(ex.faults, PeExports::kOrdinalOutOfRange);
    EXPECT_EQ(ex.findByName("Alpha").kind, ExportKind::NotExported);

    // A forwarder past the end of the image: the directory's range made to
    // reach it.
    Bytes far = sound.bytes;
    const std::uint32_t entry = test::kDefaultNewHeader + std::uint32_t(dataDirectoryEntry(kPe32Magic, kExportDirectory));
    test::putU32(far, entry + 4, 0x7FFF0000u);
    test::putU32(far, sound.fileOffsetOf(test::getU32(sound.bytes, dir + 28)) + 4 * 4, 0x7FFE0000u);
    ex = exportsOf(far);
    EXPECT_TRUE(ex.faults & PeExports::kForwarderUnreadable);
    EXPECT_EQ(ex.findByName("Gamma").kind, ExportKind::Forwarder);
    EXPECT_EQ(ex.findByName("Gamma").forwarder, "");
}

TEST(PeExportsReader, HugeTablesCostNoMoreThanTheFile) {
    // 70,000 addresses: only the 65,536 a 16-bit ordinal can reach are kept.
    PeImageLayout many;
    many.exports.emplace();
    many.exports->entries.resize(70000, ExportEntry{{}, 0x50000, ""});
    const PeExports wide = exportsOf(test::buildPe(many).bytes);
    EXPECT_EQ(wide.addresses.size(), kMaxExportAddresses);
    EXPECT_TRUE(wide.faults & PeExports::kAddressTableCut);
    EXPECT_EQ(wide.findByOrdinal(65536).kind, ExportKind::Address);

    // 100,000 name pointers all at one 60,000-character name: read in full
    // that would be 6 GB of text.
    PeImageLayout shared;
    shared.exports.emplace();
    shared.exports->entries = {ExportEntry{{std::string(60000, 'a')}, 0xF00000, ""}, ExportEntry{{}, 0xF00000, ""}};
    shared.exports->entries[1].names.assign(100000, "x");
    PeImage image = test::buildPe(shared);
    const std::uint32_t pointers = image.fileOffsetOf(test::getU32(image.bytes, image.exportDirectory + 32));
    for (std::uint32_t i = 1; i <= 100000; ++i)
        test::putU32(image.bytes, pointers + 4 * i, test::getU32(image.bytes, pointers));
    const PeExports ex = exportsOf(image.bytes);
    EXPECT_TRUE(ex.faults & PeExports::kBudgetSpent);
    EXPECT_LE(ex.text.size(), image.bytes.size() + 64 * 1024);
    EXPECT_EQ(ex.findByName(std::string(60000, 'a')).kind, ExportKind::Address);
}

TEST(PeImportFunctionsReader, DamagedThunkListsAreCutOrMarked) {
    PeImageLayout layout;
    layout.pe32plus = true;
    layout.imports = {"A.dll", "B.dll", "C.dll"};
    layout.importFunctions = {{byName("One", 1), byName("Two", 2)}, {byOrdinal(4)}, {byOrdinal(5)}};
    layout.nameInNoSection = 1;  // B.dll is passed over, as the import walker does
    const PeImage sound = test::buildPe(layout);
    EXPECT_EQ(describe(importsOf(sound.bytes)), "A.dll: One/1 Two/2; C.dll: #5; ");

    // A.dll's first thunk: a name RVA past 32 bits, then one in no section.
    const std::uint32_t firstThunk = sound.fileOffsetOf(test::getU32(sound.bytes, sound.descriptor(0)));
    Bytes b = sound.bytes;
    test::putU32(b, firstThunk + 4, 1);
    test::putU32(b, firstThunk + 8, test::kRvaInNoSection);
    EXPECT_EQ(describe(importsOf(b)), "A.dll: ? ?; C.dll: #5; ");

    // A list that runs to the end of its section's data: the loader's zeros
    // after it end it, as a zero thunk does.
    PeImageLayout open;
    open.imports = {"A.dll"};
    open.importFunctions = {{byOrdinal(1)}};
    open.namesInOwnSection = true;  // nothing but thunks after the list in .idata
    PeImage image = test::buildPe(open);
    const std::uint32_t list = image.fileOffsetOf(test::getU32(image.bytes, image.descriptor(0)));
    const std::uint32_t end = image.sections[0].rawPointer + image.sections[0].rawSize;
    for (std::uint32_t at = list; at + 4 <= end; at += 4) test::putU32(image.bytes, at, 0x80000001u);
    const std::vector<ImportedModule> ended = importsOf(image.bytes);
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_FALSE(ended[0].cut);
    EXPECT_EQ(ended[0].functions.size(), (end - list) / 4);
}

TEST(PeImportFunctionsReader, ThunkListsAreBoundedByTheCapAndTheFile) {
    PeImageLayout layout;
    layout.imports = {"big.dll"};
    layout.importFunctions.resize(1);
    for (std::uint32_t i = 0; i < 70000; ++i) layout.importFunctions[0].push_back(byOrdinal(std::uint16_t(i)));
    const std::vector<ImportedModule> capped = importsOf(test::buildPe(layout).bytes);
    ASSERT_EQ(capped.size(), 1u);
    EXPECT_EQ(capped[0].functions.size(), kMaxThunksPerModule);
    EXPECT_TRUE(capped[0].cut);

    // 60,000 thunks at one 60,000-character name.
    layout.importFunctions[0].assign(60000, byName("x", 0));
    layout.importFunctions[0][0].name.assign(60000, 'n');
    PeImage image = test::buildPe(layout);
    const std::uint32_t list = image.fileOffsetOf(test::getU32(image.bytes, image.descriptor(0)));
    for (std::uint32_t i = 1; i < 60000; ++i) test::putU32(image.bytes, list + 4 * i, test::getU32(image.bytes, list));
    const std::vector<ImportedModule> shared = importsOf(image.bytes);
    ASSERT_EQ(shared.size(), 1u);
    EXPECT_TRUE(shared[0].cut);
    EXPECT_LT(shared[0].functions.size(), 60000u);
    EXPECT_LE(shared[0].functions.size() * 60000, image.bytes.size() + 64 * 1024);
}

TEST(PeDelayImportsReader, DamagedDirectoriesEndOrPassOver) {
    PeImageLayout layout;
    layout.delayImports = {{"a.dll", {byOrdinal(1)}}, {"b.dll", {byOrdinal(2)}}};
    const PeImage sound = test::buildPe(layout);
    const std::uint32_t d = sound.delayDirectory;

    Bytes b = sound.bytes;
    test::putU32(b, d + 0, 0);  // a.dll's fields read as VAs: below the image base
    EXPECT_EQ(describe(delayOf(b)), "b.dll: #2; ");
    b = sound.bytes;
    test::putU32(b, d + 16, 0);  // no name table
    EXPECT_EQ(describe(delayOf(b)), "a.dll: (cut); b.dll: #2; ");

    // No terminator: a copy of the two descriptors ends the section, its
    // padding made part of it, and the directory points at the copy.
    b = sound.bytes;
    const test::PeImage::Placed& didat = sound.sections[0];
    test::putU32(b, sound.sectionHeader(0) + 8, didat.rawSize);  // VirtualSize
    for (std::uint32_t i = 0; i < 64; ++i) b[d + didat.rawSize - 64 + i] = b[d + i];
    test::putU32(b, test::kDefaultNewHeader + 24 + 96 + 8 * 13, didat.va + didat.rawSize - 64);
    EXPECT_EQ(describe(delayOf(b)), "a.dll: #1; b.dll: #2; ");

    b = sound.bytes;
    test::putU32(b, test::kDefaultNewHeader + 24 + 92, 13);  // NumberOfRvaAndSizes leaves it out
    EXPECT_TRUE(delayOf(b).empty());
}

}  // namespace
}  // namespace vost
