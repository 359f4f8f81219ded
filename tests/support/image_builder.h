// Writes small PE32 and NE images for tests, well formed by default (objdump,
// pefile and Wine's loader accept them), with one switch per fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/platform.h"

namespace vost::test {

using Bytes = std::vector<std::uint8_t>;

// Little-endian stores; the buffer grows when the range lies past its end.
void putU8(Bytes& b, std::size_t offset, std::uint8_t value);
void putU16(Bytes& b, std::size_t offset, std::uint16_t value);
void putU32(Bytes& b, std::size_t offset, std::uint32_t value);
void putBytes(Bytes& b, std::size_t offset, const void* data, std::size_t length);
void putText(Bytes& b, std::size_t offset, const std::string& text);  // no terminator
std::uint32_t getU32(const Bytes& b, std::size_t offset);

Bytes bytesOf(const std::string& text);

// Offsets every image starts with.
constexpr std::size_t kLfanewField = 0x3C;
constexpr std::uint32_t kDefaultNewHeader = 0x80;

// A Name RVA that no section of a built image holds.
constexpr std::uint32_t kRvaInNoSection = 0x7FFF0000;

// One import thunk: by name with a hint, or by ordinal.
struct ImportThunk {
    std::string name;
    std::uint16_t hint = 0;
    std::optional<std::uint16_t> ordinal;  // set: imported by ordinal, `name` unused
};

struct DelayImport {
    std::string module;
    std::vector<ImportThunk> functions;  // its delay import name table
};

// One address-table entry, index i being ordinal base + i.
struct ExportEntry {
    std::vector<std::string> names;  // none: exported by ordinal only
    std::uint32_t rva = 0;           // the function; 0 without a forwarder leaves a hole
    std::string forwarder;           // set: this text, inside the directory, instead of `rva`
};

struct ExportLayout {
    std::string moduleName = "test.dll";
    std::uint32_t ordinalBase = 1;
    std::vector<ExportEntry> entries;
    bool keepNameOrder = false;  // name table in entry order instead of sorted
};

struct PeImageLayout {
    std::vector<std::string> imports;  // module names, in descriptor order
    // The functions of imports[i]: when set, every import gets a name table
    // and an address table of these thunks (8 bytes wide in PE32+) and the
    // hint/name entries they point at; when empty, each import names ordinal
    // 1 in a fixed 16-byte slot.
    std::vector<std::vector<ImportThunk>> importFunctions;
    bool importAddressTableOnly = false;  // with importFunctions: OriginalFirstThunk 0
    std::optional<ExportLayout> exports;  // an export directory in .edata (first section)
    std::vector<DelayImport> delayImports;  // a delay-load directory in .didat
    bool delayVirtualAddresses = false;   // its old form: VAs (image base 0x10000000), Attributes 0
    bool emptyImportTable = false;     // no imports, yet a directory holding only the terminator
    bool namesInOwnSection = false;    // descriptors in .idata, names in a later .rdata
    bool pe32plus = false;             // 64-bit optional header (directory 1 then sits at +144)
    std::optional<FixedFileVersion> version;  // RT_VERSION resource in .rsrc
    std::optional<std::string> manifest;      // RT_MANIFEST resource in .rsrc, this id:
    std::uint16_t manifestId = 2;             // 2 for a DLL's own, 1 for a program's

    // Faults, each off by default.
    std::optional<std::uint32_t> lfanew;  // e_lfanew written instead of the real header offset
    int nameInNoSection = -1;             // this descriptor's Name is kRvaInNoSection
    bool unterminatedLastName = false;    // the file ends inside the last name, no terminator
    bool importSectionVirtualSize0 = false;
    bool overlappingSection = false;  // a first section maps the .idata RVAs onto a copy whose
                                      // names are lower-cased
    bool noTerminatorDescriptor = false;  // descriptors run up to the end of the file
    std::int64_t truncateAt = -1;         // cut the file to this many bytes
};

struct PeImage {
    Bytes bytes;
    std::uint32_t newHeader = 0;
    std::uint32_t sectionTable = 0;      // file offset of the first section header
    std::uint32_t firstDescriptor = 0;   // file offset of descriptor 0 (in .idata)
    std::vector<std::uint32_t> nameOffsets;  // file offset of each import's name
    std::uint32_t sectionCount = 0;
    std::uint32_t versionOffset = 0;     // file offset of VS_FIXEDFILEINFO, 0 without one
    std::uint32_t exportDirectory = 0;   // file offset of the export directory, 0 without one
    std::uint32_t delayDirectory = 0;    // file offset of delay descriptor 0, 0 without one

    struct Placed {
        std::string name;
        std::uint32_t va, virtualSize, rawPointer, rawSize;
    };
    std::vector<Placed> sections;  // in table order
    // The file offset of `rva` by the builder's own layout, 0 when no section holds it.
    std::uint32_t fileOffsetOf(std::uint32_t rva) const;

    std::uint32_t descriptor(std::size_t i) const { return firstDescriptor + std::uint32_t(20 * i); }
    std::uint32_t sectionHeader(std::size_t i) const { return sectionTable + std::uint32_t(40 * i); }
};

PeImage buildPe(const PeImageLayout& layout);

// One entry point of an NE module: fixed in `segment` (1-253), movable
// (segment 0xFF, the entry naming `movableSegment`) or a constant (0xFE).
struct NeEntrySpec {
    std::uint16_t ordinal;
    std::uint8_t segment;
    std::uint16_t offset;
    std::string name;  // none when empty
    bool resident = true;  // in the resident-names table, else the non-resident one
    std::uint8_t movableSegment = 1;
};

// One relocation record importing from module `module` (1-based into the
// module-reference table) by ordinal, or by the name names[*nameIndex].
struct NeRelocationSpec {
    std::uint16_t module;
    std::uint16_t ordinal = 0;
    std::optional<std::size_t> nameIndex = std::nullopt;
};

struct NeImageLayout {
    std::vector<std::string> names;           // imported-names table strings, in order
    std::vector<NeEntrySpec> entries;         // ascending ordinals; gaps become unused bundles
    std::vector<NeRelocationSpec> relocations;  // when any: one code segment carrying them
    std::vector<std::uint16_t> refOffsets;    // module-reference table entries
    std::optional<Bytes> rawNamesTable;       // replaces the table built from `names`
                                              // (its first, unused byte included)
    std::optional<int> entryTableDelta;       // ne_enttab = ne_imptab + delta
    std::optional<std::uint16_t> moduleCount; // ne_cmod written instead of refOffsets.size()
    std::optional<std::uint32_t> lfanew;
    std::int64_t truncateAt = -1;

    // The offset, within the imported-names table, of names[index]'s length byte.
    std::uint16_t offsetOf(std::size_t index) const;
    // refOffsets pointing at the given names, in the given order.
    void reference(const std::vector<std::size_t>& indices);
};

struct NeImage {
    Bytes bytes;
    std::uint32_t newHeader = 0;
    std::uint32_t namesTable = 0;  // file offset of the imported-names table
    std::uint32_t refTable = 0;    // file offset of the module-reference table
};

NeImage buildNe(const NeImageLayout& layout);

}  // namespace vost::test
