// What a module takes from each module it imports, and what it gives: the
// functions of its import directories with the check's verdict on each (the
// check itself decides, so these lists say what `--check` and the page's
// marks say), and its export table as rows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/import_check.h"

namespace vost {

// One imported function and what it binds to.
struct ImportRow {
    ImportedFunction function;
    bool resolved = false;
    // The address-table entry of the imported module that the import names
    // (kNoExportIndex when it names none).
    std::uint32_t exportIndex = kNoExportIndex;
    std::string forwardedTo;  // the last forwarder text followed, when the entry forwards
    std::string reason;       // why it does not resolve
};

// The functions an importer takes from one module (every descriptor that
// names it, in descriptor order).
struct ModuleImportRows {
    std::string module;  // as the importer names it
    std::string path;    // where the search found it; empty when it did not
    bool delayLoad = false;
    std::vector<ImportRow> functions;
};

// Every module the module file at `importerPath` imports from (and, with
// settings.delayLoads, delay-loads from), each function with its verdict.
// For an NE module, what its relocation records import (analysis/ne_functions.h).
// Nothing for a file that is neither.
std::vector<ModuleImportRows> readModuleImportRows(AnalysisPlatform& platform, ExportSource& exports,
                                                   const std::string& importerPath, const CheckSettings& settings);

// The rows of `all` for the module named `module` (ASCII case ignored),
// merged: for a delay-loaded item its delay-load descriptors; for an
// imported one every descriptor, as the tree shows a module both imported
// and delay-loaded once, as imported. Empty when the importer names no such
// module.
ModuleImportRows importRowsFor(const std::vector<ModuleImportRows>& all, std::string_view module, bool delayLoad);

// One entry of an export table: a name of the name table with its
// address-table entry, or an entry no name points to.
struct ExportRow {
    std::uint32_t ordinal = 0;
    std::uint32_t index = 0;     // into the address table
    std::int32_t hint = -1;      // its place in the name table; -1 for an entry without a name
    std::string_view name;       // into PeExports::text
    std::uint32_t rva = 0;       // the function's address, or the forwarder text's
    bool forwarded = false;
    std::string_view forwarder;  // the text (empty when unreadable)
    bool neEntry = false;        // an NE entry point: `rva` is segment << 16 | offset
};

// The rows of `exports`, by ordinal and within one ordinal in name-table
// order; entries whose address is 0 and no name points to are left out.
// The views point into `exports`, which must outlive the rows.
std::vector<ExportRow> exportRows(const PeExports& exports);

// The imported function as users name it: its name, "#ordinal", or "?" when
// it could not be read.
std::string importedFunctionText(const ImportedFunction& function);

// What an import binds to, as shown: "ordinal N", "forwarded to TEXT" or
// "missing: WHY". `ordinalBase` is the imported module's.
std::string resolutionText(const ImportRow& row, std::uint32_t ordinalBase);

// An export's address as shown: "0x0001A2B0", or the forwarder's text; an
// NE entry point as "SSSS:OOOO", or "constant 0xVVVV".
std::string exportTargetText(const ExportRow& row);

}  // namespace vost
