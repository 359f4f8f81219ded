// vostscan --imports and --exports: for each item of a scanned tree the
// functions its parent imports from it, and the scanned file's export
// table, read on the scanning thread (with the scan's platform and search
// folder) and written with the tree, the list or the JSON.
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/module_functions.h"
#include "page/closure_check.h"

namespace vost {

struct ItemImports {
    std::uint32_t ordinalBase = 0;  // of the imported module, for the texts
    std::vector<ImportRow> functions;
};

struct FunctionTables {
    bool undecorate = false;
    bool exportsAsked = false;
    // Per tree item in pre-order (the root's entry is empty); empty without --imports.
    std::vector<ItemImports> items;
    // The scanned file's exports (an NE module's entry table); `exports` null
    // without --exports or when it is neither a PE nor an NE module. The rows point into the run's CheckCache.
    const PeExports* exports = nullptr;
    std::shared_ptr<const ModuleFacts> facts;  // holds what `exports` points into
    std::vector<ExportRow> exportRows;
};

// Reads what `imports` and `exports` ask for of the tree in `record`.
FunctionTables readFunctionTables(const TreeRecord& record, AnalysisPlatform& platform, CheckCache& cache,
                                  bool imports, bool exports, bool delayLoads, bool undecorate);

// The function as shown: its name (undecorated when asked) or "#ordinal".
std::string shownFunctionName(const ImportedFunction& function, bool undecorate);

// The lines of one item's imports, each indented by `indent` spaces:
// "NAME (hint H) -> RESOLUTION", "#ORDINAL -> RESOLUTION".
void writeImportLines(const ItemImports& item, bool undecorate, std::size_t indent, std::ostream& out);

// "exports of FILE (ordinal base N, M entries):", then one line per entry:
// "  #ORDINAL hint H NAME 0xRVA", "  #ORDINAL hint H NAME -> FORWARDER",
// "  #ORDINAL 0xRVA" for an entry without a name; "exports of FILE: no export
// table" for an image without one. Nothing for a file that is no PE image.
void writeExportLines(const FunctionTables& tables, const std::string& file, std::ostream& out);

// JSON members: the imports of one item (",\"imports\":[...]"), and the
// export table of the file (",\"exports\":{...}", null without one).
void writeImportsJson(const ItemImports& item, bool undecorate, std::ostream& out);
void writeExportsJson(const FunctionTables& tables, std::ostream& out);

}  // namespace vost
