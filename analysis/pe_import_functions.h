// The functions a PE32 or PE32+ image imports, module by module.
//
// The descriptors are walked exactly as the import walker walks them (same
// end tests, same module-name rules, same bound on modules), so module k here
// is the walker's child k. Each module's thunks come from its import name
// table (OriginalFirstThunk), or from its address table (FirstThunk) when the
// name table is 0. A thunk is 4 bytes in PE32 and 8 in PE32+; its top bit set
// means an import by ordinal (the low 16 bits), otherwise it is the RVA of a
// hint (16 bits) followed by the zero-terminated name; a zero thunk ends the
// list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/byte_view.h"

namespace vost {

class ImageMap;
class ReadBudget;

// The most thunks read for one module. Real programs import a few thousand
// functions from one module at most; a list longer than this is cut.
constexpr std::uint32_t kMaxThunksPerModule = 65536;

enum class ImportKind : std::uint8_t {
    ByName,
    ByOrdinal,
    Unreadable,  // a name RVA outside the image or past 32 bits, or a name without
                 // a terminator inside the image (or longer than kMaxSymbolLength)
};

struct ImportedFunction {
    ImportKind kind = ImportKind::Unreadable;
    std::uint16_t ordinal = 0;  // ByOrdinal
    std::uint16_t hint = 0;     // ByName: the exporter's name-table index the linker expected
    std::string name;           // ByName
};

struct ImportedModule {
    std::string name;
    std::vector<ImportedFunction> functions;
    bool fromAddressTable = false;  // the name table was 0: thunks read from FirstThunk
    bool cut = false;  // the list ended at the image's end, at
                       // kMaxThunksPerModule or when the read budget ran out,
                       // not at a zero thunk
};

// The module name at `rva` of the mapped image, as the loader takes it: its
// trailing spaces dropped, then the trailing dots and spaces of a name with
// a dot, but for one dot when it was the only one ("name." names a file
// without extension, to which no ".dll" is added). A name without a dot is
// kept: the search adds ".dll" to it, as the loader does. False (`out` then
// holds no name) when the name lies outside the image, has no terminator
// inside it, is empty, or does not fit `capacity` bytes.
bool readModuleName(const ByteView& mapped, std::uint64_t rva, char* out, std::size_t capacity);

// Every module of the import directory with its functions, in descriptor
// order. Nothing when the image has no import directory.
std::vector<ImportedModule> readPeImportFunctions(const ByteView& image, std::uint64_t newHeader);
std::vector<ImportedModule> readPeImportFunctions(const ByteView& image, std::uint64_t newHeader,
                                                  const ImageMap& map);

// The thunk list at `rva` into `module.functions` (also used for the
// delay-load name table). `wide`: 8-byte thunks. `addressBias` is taken from
// every name pointer before it is used as an RVA (the image base for tables
// that hold virtual addresses, else 0).
void readImportThunks(const ImageMap& map, std::uint32_t rva, bool wide,
                      std::uint64_t addressBias, ReadBudget& budget, ImportedModule& module);

}  // namespace vost
