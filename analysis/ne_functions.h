// What a 16-bit NE module gives and takes, function by function.
//
// Exports: the entry table numbers the entry points from ordinal 1 in
// bundles (a count byte, a segment byte: 0 for unused ordinals, 0xFF for
// movable entries of 6 bytes each, 0xFE for constants, else the fixed
// segment of 3-byte entries); the resident- and non-resident-names tables
// give names to ordinals (their first strings are the module's name and
// description, ordinal 0). They are read into the PeExports record the
// check and the Functions lists use, with ordinal base 1 and `neEntries`
// set: each address is `segment << 16 | offset` (segment 0xFE: a constant).
//
// Imports: an NE module takes functions through the relocation records that
// follow each segment's data: an imported ordinal or an imported name (an
// offset into the imported-names table) of a module of the module-reference
// table. Each function is given once per module, in the order first met.
// The modules carry the file names the module walker gives their children
// (KERNEL -> KRNL386.EXE, ...).
//
// The 16-bit loader does not refuse a module for a missing entry point (a
// call through it fails when it is made), so these lists show verdicts but
// the check reports no finding for them.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "analysis/byte_view.h"
#include "analysis/pe_exports.h"
#include "analysis/pe_import_functions.h"

namespace vost {

// The segment of an entry that is a constant.
constexpr std::uint32_t kNeConstantSegment = 0xFE;

// The entry table and names of the NE module whose "NE" signature lies at
// `newHeader`. present == false when it has neither entries nor names.
PeExports readNeExports(const ByteView& image, std::uint64_t newHeader);

// The functions the module imports, per referenced module.
std::vector<ImportedModule> readNeImports(const ByteView& image, std::uint64_t newHeader);

// The NE name lookup: letter case ignored, as the 16-bit loader upper-cases
// the name it looks for; the first name in table order wins.
ExportTarget findNeName(const PeExports& exports, std::string_view name);

// The file the walker looks for when an NE module names `module`.
std::string neModuleFileName(std::string_view module);

}  // namespace vost
