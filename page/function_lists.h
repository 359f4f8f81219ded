// What the Functions dialog lists for one module, portable: one section per
// importer of the functions it imports from the module (the check's verdict
// on each), and the module's export table with the entries its importers
// name marked; the texts of each cell, the rows a filter leaves in a
// column's order, and the rows as tab-separated text for the clipboard.
//
// The rows are read once when the dialog opens; what the list views show is
// an order of row numbers (4 bytes a row), so a table of 20,000 exports is
// filtered and sorted without a row object per export.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/module_functions.h"
#include "analysis/module_node.h"
#include "page/closure_check.h"

namespace vost {

enum ImportColumn { kImportName, kImportHint, kImportResolution, kImportColumnCount };
enum ExportColumn { kExportOrdinal, kExportHint, kExportName, kExportTarget, kExportImported, kExportColumnCount };

extern const char* const kImportColumnTitles[kImportColumnCount];
extern const char* const kExportColumnTitles[kExportColumnCount];

// One module that imports the selected one: its name as the tree shows it,
// its file, and whether the module it takes is delay-loaded by it (its
// delay-load descriptors are its section then).
struct Importer {
    std::string name;
    std::string path;
    bool delayLoad = false;
};

// The modules whose imports name `node`'s module: its parent for a tree
// item; for a list row (`everyImporter`), the parents of every node of the
// scan with the same module name, each file once, in the order of the scan.
// Importers without a file are left out (they import nothing).
std::vector<Importer> importersOf(const ModuleNode& node, const NodeStore& nodes, bool everyImporter);

struct ImportSection {
    // "Imported by PARENT from MODULE", "Delay-loaded by PARENT from MODULE";
    // with " (FILE)" after it when the importer found another file of that
    // name than the one whose exports are listed (a 64-bit importer's
    // KERNEL32.DLL beside a 32-bit one's).
    std::string title;
    std::string path;               // the file this importer found, empty when none
    std::uint32_t ordinalBase = 0;  // that file's, for the texts
    std::vector<ImportRow> rows;
};

// Each row's readable name, made off the UI thread: a worker makes them
// section by section (the exports last) in row order and publishes how far
// it got; a reader takes a row's name only below that mark.
struct ReadableNames {
    std::vector<std::vector<std::string>> names;  // per section and row; empty: reads as its name
    std::unique_ptr<std::atomic<std::uint32_t>[]> made;  // per section: rows [0, made) have theirs
};

struct FunctionLists {
    std::string module;
    // Why there are no import sections, when the module is not named by an
    // import table (an assembly reference, a P/Invoke module); empty otherwise.
    std::string note;
    std::vector<ImportSection> sections;
    bool executable = false;   // the module is a PE image or an NE module
    bool exportTable = false;  // with an export directory (an entry table)
    std::vector<ExportRow> exports;   // views into the module's facts
    std::shared_ptr<const ModuleFacts> facts;
    std::vector<char> imported;       // per export row: an importer names its entry
    ReadableNames readable;
};

// Why the Functions dialog lists no imports of `node`: it is an assembly
// reference or a P/Invoke module, which no import table names. Empty for
// every other node.
std::string managedImportsNote(const ModuleNode& node);

// The lists of module `module` (found at `path`, empty when it was not) for
// each of `importers`, read with the scan's platform (its search folder
// still set) under the scanned program's activation context, through the
// run's cache. With `withDelayLoads` (the scan walked delay-load directories)
// an imported module's section holds its delay-load descriptors' functions
// too. Each section's ordinals come from the file its importer found, and
// only the sections of the file at `path` mark its exports as imported.
FunctionLists readFunctionLists(const std::string& module, const std::string& path, bool withDelayLoads,
                                const std::vector<Importer>& importers, AnalysisPlatform& platform,
                                CheckCache& cache, const ActivationContext* processContext);

// Turns a decorated name into its readable form (the platform's
// undecorateName); null shows names as they are.
using Undecorator = std::string (*)(std::string_view name);

// Makes room for every row's readable name; before the worker starts.
void prepareReadableNames(FunctionLists& lists);

// The worker's part: makes each row's readable name with `undecorate` (only
// decorated names are asked), until all are made or `stop` is set.
void makeReadableNames(FunctionLists& lists, Undecorator undecorate, const std::atomic<bool>& stop);

// Whether every row has its readable name.
bool readableNamesMade(const FunctionLists& lists);

// The text of one cell. A name the worker has not made yet is made here
// (what a list shows or Copy takes: a row at a time, each bounded).
std::string importCell(FunctionLists& lists, std::size_t section, std::size_t row, int column, Undecorator undecorate);
std::string exportCell(FunctionLists& lists, std::size_t row, int column, Undecorator undecorate);

// The column of no sort: rows in the order of the table.
constexpr int kTableOrder = -1;

// The rows of a section (section = lists.sections.size() for the exports)
// whose name holds `filter` (ASCII case ignored; all for an empty filter),
// in the order of `column` (numbers by value, texts by byte; ties in table
// order; kTableOrder: the table's), reversed when `descending`. With an
// undecorator, names are taken in the readable form the worker made, as
// they are where it has not been yet: nothing is undecorated here.
std::vector<std::uint32_t> shownRows(FunctionLists& lists, std::size_t section, std::string_view filter, int column,
                                     bool descending, Undecorator undecorate);

// The rows given as tab-separated text, one line each ending "\r\n", after a
// line of the column titles.
std::string copyText(FunctionLists& lists, std::size_t section, const std::vector<std::uint32_t>& rows,
                     Undecorator undecorate);

}  // namespace vost
