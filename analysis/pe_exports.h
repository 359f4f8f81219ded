// The exports of a PE32 or PE32+ image, read once into a compact record that
// answers "what does this module export under that name / that ordinal?".
//
// The export directory (data directory 0) gives the ordinal base, the address
// table (one RVA per ordinal, from the base up), the name pointer table and,
// beside it, the ordinal table that maps each name to an index into the
// address table. An address that lies inside the directory's own range
// [RVA, RVA + Size) is no code but a forwarder text "module.function" or
// "module.#ordinal".
//
// Damage is reported, not guessed around: tables are cut where they leave
// their section or the file, entries that cannot be read are left out, and
// `faults` says which of these happened.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/byte_view.h"

namespace vost {

class ImageMap;

// The most address-table entries kept. Import thunks and ordinal-table
// entries are 16-bit, so no import can reach an entry past index 65535.
constexpr std::uint32_t kMaxExportAddresses = 65536;

enum class ExportKind : std::uint8_t { NotExported, Address, Forwarder };

struct ExportTarget {
    ExportKind kind = ExportKind::NotExported;
    std::uint32_t rva = 0;        // Address: the function's RVA; Forwarder: the text's RVA
    std::uint32_t index = 0;      // the address-table entry (when exported)
    std::string_view forwarder;   // Forwarder: the text, empty when it could not be read;
                                  // it points into PeExports::text, so it lasts as long
                                  // as that record, unmoved and unchanged
};

// One name of the name pointer table.
struct ExportName {
    std::uint32_t textAt;      // offset of the name in PeExports::text
    std::uint32_t textLength;
    std::uint32_t index;       // its ordinal-table entry: an index into the address table
    std::uint32_t position;    // its place in the name pointer table (what a hint names)
};

// One forwarder of the address table.
struct ExportForwarder {
    std::uint32_t index;       // into the address table
    std::uint32_t textAt;
    std::uint32_t textLength;  // 0 when the text could not be read
};

struct PeExports {
    enum Fault : std::uint32_t {
        kAddressTableCut = 1u << 0,     // fewer addresses than NumberOfFunctions were kept
        kNameTableCut = 1u << 1,        // the name or ordinal table ends before NumberOfNames
        kNameUnreadable = 1u << 2,      // a name outside every section, unterminated or too long
        kOrdinalOutOfRange = 1u << 3,   // an ordinal-table entry past the address table
        kForwarderUnreadable = 1u << 4, // a forwarder text that could not be read
        kBudgetSpent = 1u << 5,         // reading stopped: the bytes read reached the file's size
    };

    bool present = false;       // a directory was found and its 40 bytes read
    std::uint32_t faults = 0;
    std::uint32_t directoryRva = 0, directorySize = 0;
    std::uint32_t ordinalBase = 0;
    std::uint32_t declaredFunctions = 0, declaredNames = 0;  // NumberOfFunctions, NumberOfNames
    std::string moduleName;     // the directory's Name, empty when unreadable
    // Read from a 16-bit module's entry table (analysis/ne_functions.h): each
    // address is `segment << 16 | offset`, segment 0xFE a constant.
    bool neEntries = false;

    std::vector<std::uint32_t> addresses;      // address table, by index (= ordinal - base)
    std::vector<ExportName> names;             // in name-table order, readable names only
    std::vector<ExportForwarder> forwarders;   // ascending by index
    std::string text;                          // every name and forwarder text, back to back

    // Real linkers sort the name table (the loader binary-searches it). When
    // a file's table is out of order, `sortedNames` holds indices into
    // `names` sorted by name (ties in table order) and lookups search that
    // instead: a name present in the table is then always found, where a
    // loader's search over the unsorted table may miss it.
    bool namesSorted = true;
    std::vector<std::uint32_t> sortedNames;

    // Exact, case-sensitive. The first of equal names in table order wins.
    ExportTarget findByName(std::string_view name) const;
    // The name as the loader looks it up for an import: first the name table
    // entry the hint names (a hint past the table, or -1, is not used), then
    // a binary search over the table in file order. On a sorted table this
    // finds what findByName finds; on a table out of order it may miss a name
    // that is there, as the loader does. Entries whose name could not be read
    // are left out of the search.
    ExportTarget findByNameAsLoader(std::string_view name, std::int32_t hint) const;
    // `ordinal` - base indexes the address table (32-bit, so an ordinal below
    // the base is not exported). A zero address is no export.
    ExportTarget findByOrdinal(std::uint32_t ordinal) const;
    // What address-table entry `index` holds.
    ExportTarget atIndex(std::uint32_t index) const;

    std::string_view nameOf(const ExportName& name) const {
        return std::string_view(text).substr(name.textAt, name.textLength);
    }
};

// Reads the export directory of the image whose "PE\0\0" signature lies at
// `newHeader`. No directory (RVA 0, or NumberOfRvaAndSizes leaves it out) or
// one outside every section gives present == false.
PeExports readPeExports(const ByteView& image, std::uint64_t newHeader);
PeExports readPeExports(const ByteView& image, std::uint64_t newHeader, const ImageMap& map);

// A forwarder text split for the loader: the module is everything before the
// LAST dot (so "krnl386.exe16.GetModuleHandle16" names module
// "krnl386.exe16"), the function everything after it; a function "#n" names
// ordinal n. A module part without a dot of its own is loaded as
// "<module>.dll".
struct ForwarderTarget {
    std::string_view module;
    std::string_view function;  // empty for an ordinal
    bool byOrdinal = false;
    std::uint16_t ordinal = 0;
};

// False when the text has no dot, an empty module or function part, or a
// "#" not followed by 1 to 5 decimal digits of a value up to 65535.
bool parseForwarder(std::string_view text, ForwarderTarget& out);

}  // namespace vost
