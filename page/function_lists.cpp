#include "page/function_lists.h"

#include <algorithm>
#include <cstdio>

#include "analysis/text.h"

namespace vost {

const char* const kImportColumnTitles[kImportColumnCount] = {"Function", "Hint", "Resolves to"};
const char* const kExportColumnTitles[kExportColumnCount] = {"Ordinal", "Hint", "Function", "Entry point",
                                                             "Imported"};

namespace {
std::string upper(std::string text) {
    for (char& c : text) c = asciiUpper(c);
    return text;
}

// The raw name of a row: an import's name (or "#ordinal"), an export's name.
std::string rawName(const FunctionLists& lists, std::size_t section, std::size_t row) {
    if (section < lists.sections.size()) return importedFunctionText(lists.sections[section].rows[row].function);
    return std::string(lists.exports[row].name);
}

std::size_t rowCount(const FunctionLists& lists, std::size_t section) {
    return section < lists.sections.size() ? lists.sections[section].rows.size() : lists.exports.size();
}

bool decorated(const std::string& name) { return !name.empty() && (name[0] == '?' || name[0] == '_'); }

std::uint32_t madeRows(const FunctionLists& lists, std::size_t section) {
    return lists.readable.made ? lists.readable.made[section].load(std::memory_order_acquire) : 0;
}

// The name as shown: readable when asked, as the worker made it; a row it
// has not reached is read here when `readNow`, shown as it is otherwise.
std::string shownName(const FunctionLists& lists, std::size_t section, std::size_t row, Undecorator undecorate,
                      bool readNow) {
    std::string raw = rawName(lists, section, row);
    if (!undecorate) return raw;
    if (row < madeRows(lists, section)) {
        const std::string& made = lists.readable.names[section][row];
        return made.empty() ? raw : made;
    }
    return readNow && decorated(raw) ? undecorate(raw) : raw;
}

bool numericColumn(std::size_t section, const FunctionLists& lists, int column) {
    if (section < lists.sections.size()) return column == kImportHint;
    return column == kExportOrdinal || column == kExportHint;
}

// A number to sort a numeric cell by; rows without one (no hint) first.
std::int64_t sortNumber(const FunctionLists& lists, std::size_t section, std::size_t row, int column) {
    if (section < lists.sections.size()) {
        const ImportedFunction& f = lists.sections[section].rows[row].function;
        return f.kind == ImportKind::ByName ? f.hint : -1;
    }
    const ExportRow& e = lists.exports[row];
    return column == kExportOrdinal ? e.ordinal : e.hint;
}

bool holds(std::string_view text, std::string_view filter) {
    if (filter.empty()) return true;
    const auto found = std::search(text.begin(), text.end(), filter.begin(), filter.end(),
                                   [](char a, char b) { return asciiLower(a) == asciiLower(b); });
    return found != text.end();
}
}  // namespace

std::vector<Importer> importersOf(const ModuleNode& node, const NodeStore& nodes, bool everyImporter) {
    std::vector<Importer> importers;
    const auto add = [&](const ModuleNode* parent, const ModuleNode& child) {
        if (!parent || !parent->found) return;
        for (const Importer& known : importers)
            if (known.path == parent->fullPath) return;
        importers.push_back(Importer{parent->moduleName, parent->fullPath, child.delayLoaded});
    };
    if (!everyImporter) {
        add(node.parent, node);
        return importers;
    }
    nodes.forEach([&](const ModuleNode& other) {
        if (compareIgnoringCase(other.moduleName.c_str(), node.moduleName.c_str()) == 0) add(other.parent, other);
    });
    return importers;
}

std::string managedImportsNote(const ModuleNode& node) {
    const std::string by = node.parent ? upper(node.parent->moduleName) : std::string("Its importer");
    switch (node.role) {
    case NodeRole::assembly:
    case NodeRole::appAssembly:
        return by + " uses this assembly's types and members, which the runtime binds by their metadata names: it "
                    "imports no functions";
    case NodeRole::pinvoke:
        return by + " calls this module through P/Invoke: the runtime finds each function when it is first called";
    case NodeRole::module: break;
    }
    return std::string();
}

FunctionLists readFunctionLists(const std::string& module, const std::string& path, bool withDelayLoads,
                                const std::vector<Importer>& importers, AnalysisPlatform& platform,
                                CheckCache& cache, const ActivationContext* processContext) {
    FunctionLists lists;
    lists.module = upper(module);
    RunExports source(cache, platform);
    // The rows point into the module's facts: the lists hold them.
    if (!path.empty()) lists.facts = source.pin(path);
    const ModuleFacts* exports = lists.facts.get();
    CheckSettings settings;
    settings.delayLoads = withDelayLoads || std::any_of(importers.begin(), importers.end(),
                                                        [](const Importer& i) { return i.delayLoad; });
    settings.processContext = processContext;
    for (const Importer& importer : importers) {
        // The check searched the module for this importer as the scan did:
        // the file it found is the one its functions bind to.
        ModuleImportRows rows = importRowsFor(readModuleImportRows(platform, source, importer.path, settings),
                                              module, importer.delayLoad);
        ImportSection section;
        section.title = (importer.delayLoad ? "Delay-loaded by " : "Imported by ") + upper(importer.name) +
                        " from " + lists.module;
        if (rows.path != path && !rows.path.empty()) section.title += " (" + rows.path + ")";
        if (!rows.path.empty()) {
            const ModuleFacts& found = source.factsOf(rows.path);
            if (found.image || found.ne) section.ordinalBase = found.exports.ordinalBase;
        }
        section.path = std::move(rows.path);
        section.rows = std::move(rows.functions);
        lists.sections.push_back(std::move(section));
    }
    lists.executable = exports && (exports->image || exports->ne);
    if (lists.executable && exports->exports.present) {
        lists.exportTable = true;
        lists.exports = exportRows(exports->exports);
        // Which address-table entries any importer names.
        std::vector<char> named(exports->exports.addresses.size(), 0);
        for (const ImportSection& section : lists.sections) {
            if (section.path != path) continue;  // another file's entries
            for (const ImportRow& row : section.rows)
                if (row.exportIndex < named.size()) named[row.exportIndex] = 1;
        }
        lists.imported.reserve(lists.exports.size());
        for (const ExportRow& row : lists.exports) lists.imported.push_back(named[row.index]);
    }
    return lists;
}

void prepareReadableNames(FunctionLists& lists) {
    const std::size_t sections = lists.sections.size() + 1;
    lists.readable.names.assign(sections, {});
    lists.readable.made = std::make_unique<std::atomic<std::uint32_t>[]>(sections);
    for (std::size_t section = 0; section < sections; ++section) {
        lists.readable.names[section].resize(rowCount(lists, section));
        lists.readable.made[section].store(0);
    }
}

void makeReadableNames(FunctionLists& lists, Undecorator undecorate, const std::atomic<bool>& stop) {
    if (!lists.readable.made) return;
    for (std::size_t section = 0; section < lists.readable.names.size(); ++section) {
        std::vector<std::string>& names = lists.readable.names[section];
        for (std::size_t row = madeRows(lists, section); row < names.size(); ++row) {
            if (stop.load(std::memory_order_relaxed)) return;
            const std::string raw = rawName(lists, section, row);
            if (decorated(raw)) {
                std::string text = undecorate(raw);
                if (text != raw) names[row] = std::move(text);
            }
            lists.readable.made[section].store(std::uint32_t(row + 1), std::memory_order_release);
        }
    }
}

bool readableNamesMade(const FunctionLists& lists) {
    if (!lists.readable.made) return false;
    for (std::size_t section = 0; section < lists.readable.names.size(); ++section)
        if (madeRows(lists, section) < lists.readable.names[section].size()) return false;
    return true;
}

std::string importCell(FunctionLists& lists, std::size_t section, std::size_t row, int column, Undecorator undecorate) {
    const ImportSection& s = lists.sections[section];
    const ImportRow& r = s.rows[row];
    switch (column) {
    case kImportName: return shownName(lists, section, row, undecorate, true);
    case kImportHint: return r.function.kind == ImportKind::ByName ? std::to_string(r.function.hint) : std::string();
    case kImportResolution: return resolutionText(r, s.ordinalBase);
    default: return std::string();
    }
}

std::string exportCell(FunctionLists& lists, std::size_t row, int column, Undecorator undecorate) {
    const ExportRow& e = lists.exports[row];
    switch (column) {
    case kExportOrdinal: return std::to_string(e.ordinal);
    case kExportHint: return e.hint >= 0 ? std::to_string(e.hint) : std::string();
    case kExportName: return shownName(lists, lists.sections.size(), row, undecorate, true);
    case kExportTarget: return exportTargetText(e);
    case kExportImported: return lists.imported[row] ? "yes" : "";
    default: return std::string();
    }
}

std::vector<std::uint32_t> shownRows(FunctionLists& lists, std::size_t section, std::string_view filter, int column,
                                     bool descending, Undecorator undecorate) {
    const bool exports = section >= lists.sections.size();
    const std::size_t count = rowCount(lists, section);
    const int nameColumn = exports ? int(kExportName) : int(kImportName);
    std::vector<std::uint32_t> rows;
    rows.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i)
        if (holds(shownName(lists, section, i, undecorate, false), filter)) rows.push_back(i);
    if (column == kTableOrder) {
        if (descending) std::reverse(rows.begin(), rows.end());
        return rows;
    }
    const auto cell = [&](std::uint32_t row) {
        return exports ? exportCell(lists, row, column, undecorate) : importCell(lists, section, row, column, undecorate);
    };
    // Ties keep table order in both directions.
    const auto sortBy = [&](auto&& less) {
        std::stable_sort(rows.begin(), rows.end(), [&](std::uint32_t a, std::uint32_t b) {
            return descending ? less(b, a) : less(a, b);
        });
    };
    if (numericColumn(section, lists, column)) {
        sortBy([&](std::uint32_t a, std::uint32_t b) {
            return sortNumber(lists, section, a, column) < sortNumber(lists, section, b, column);
        });
    } else if (column == nameColumn) {
        sortBy([&](std::uint32_t a, std::uint32_t b) {
            return shownName(lists, section, a, undecorate, false) < shownName(lists, section, b, undecorate, false);
        });
    } else {
        // Other texts are made once per row, not once per comparison.
        std::vector<std::string> texts(count);
        for (const std::uint32_t row : rows) texts[row] = cell(row);
        sortBy([&](std::uint32_t a, std::uint32_t b) { return texts[a] < texts[b]; });
    }
    return rows;
}

std::string copyText(FunctionLists& lists, std::size_t section, const std::vector<std::uint32_t>& rows,
                     Undecorator undecorate) {
    const bool exports = section >= lists.sections.size();
    const int columns = exports ? int(kExportColumnCount) : int(kImportColumnCount);
    const char* const* titles = exports ? kExportColumnTitles : kImportColumnTitles;
    std::string text;
    for (int c = 0; c < columns; ++c) (text += c ? "\t" : "") += titles[c];
    text += "\r\n";
    for (const std::uint32_t row : rows) {
        for (int c = 0; c < columns; ++c)
            (text += c ? "\t" : "") +=
                exports ? exportCell(lists, row, c, undecorate) : importCell(lists, section, row, c, undecorate);
        text += "\r\n";
    }
    return text;
}

}  // namespace vost
