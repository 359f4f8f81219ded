#include "analysis/module_functions.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "analysis/ne_functions.h"
#include "analysis/reference_search.h"
#include "analysis/text.h"

namespace vost {

namespace {
bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

// Why every function of a module the check could not use is missing: the
// check reports that once for the module, not per function.
std::string moduleProblem(ExportSource& exports, const std::string& path, std::uint16_t importerMachine) {
    if (path.empty()) return "module not found";
    const ModuleFacts& module = exports.factsOf(path);
    if (!module.image) return path + " is no PE image";
    if (module.machine != importerMachine) return path + " is of machine " + machineName(module.machine);
    return "not resolved";
}

// A 16-bit importer's functions: each module looked for as the walker looks
// for it, each function matched against the module's entry table and names.
std::vector<ModuleImportRows> neImportRows(AnalysisPlatform& platform, ExportSource& exports,
                                           const std::string& importerPath, const ModuleFacts& importer) {
    std::vector<ModuleImportRows> modules;
    const Referrer referrer{ModuleBits::bits32, importerPath.c_str(), false};
    for (const ImportedModule& m : importer.neImports) {
        ModuleImportRows rows{m.name, searchReference(platform, referrer, m.name.c_str()), false, {}};
        if (platform.pathsIgnoreCase()) rows.path = lowerAscii(std::move(rows.path));
        const ModuleFacts* target = rows.path.empty() ? nullptr : &exports.factsOf(rows.path);
        for (const ImportedFunction& f : m.functions) {
            ImportRow row;
            row.function = f;
            ExportTarget found;
            if (!target) row.reason = "module not found";
            else if (!target->ne) row.reason = rows.path + " is no NE module";
            else if (f.kind == ImportKind::Unreadable) row.reason = "unreadable import";
            else if ((found = f.kind == ImportKind::ByOrdinal ? target->exports.findByOrdinal(f.ordinal)
                                                               : findNeName(target->exports, f.name))
                         .kind == ExportKind::NotExported)
                row.reason = "not exported";
            row.resolved = row.reason.empty();
            if (row.resolved) row.exportIndex = found.index;
            rows.functions.push_back(std::move(row));
        }
        modules.push_back(std::move(rows));
    }
    return modules;
}
}  // namespace

std::vector<ModuleImportRows> readModuleImportRows(AnalysisPlatform& platform, ExportSource& exports,
                                                   const std::string& importerPath, const CheckSettings& settings) {
    std::vector<ModuleImportRows> modules;
    // The check visits each descriptor's functions in turn, naming the
    // module by the descriptor's own text: a new text starts a new entry.
    const std::string* current = nullptr;
    CheckSettings visiting = settings;
    visiting.visit = [&](const CheckedImport& checked) {
        if (&checked.module != current) {
            current = &checked.module;
            modules.push_back(ModuleImportRows{checked.module, checked.path, checked.delayLoad, {}});
        }
        ImportRow row;
        row.function = checked.function;
        row.resolved = checked.resolved;
        row.exportIndex = checked.exportIndex;
        row.forwardedTo = std::string(checked.forwardedTo);
        row.reason = checked.reason;
        modules.back().functions.push_back(std::move(row));
    };
    const ModuleCheck check = checkModuleImports(platform, exports, importerPath.c_str(), visiting);
    if (!check.pe) {
        const ModuleFacts& importer = exports.factsOf(importerPath);
        if (importer.ne) return neImportRows(platform, exports, importerPath, importer);
    }
    for (ModuleImportRows& module : modules)
        for (ImportRow& row : module.functions)
            if (!row.resolved && row.reason.empty()) row.reason = moduleProblem(exports, module.path, check.machine);
    return modules;
}

ModuleImportRows importRowsFor(const std::vector<ModuleImportRows>& all, std::string_view module, bool delayLoad) {
    ModuleImportRows rows;
    bool first = true;
    for (const ModuleImportRows& m : all) {
        if ((delayLoad && !m.delayLoad) || !sameName(m.module, module)) continue;
        if (first) {
            rows.module = m.module;
            rows.path = m.path;
            rows.delayLoad = delayLoad;
            first = false;
        }
        rows.functions.insert(rows.functions.end(), m.functions.begin(), m.functions.end());
    }
    return rows;
}

std::vector<ExportRow> exportRows(const PeExports& exports) {
    // The names of each address-table entry, in name-table order.
    std::vector<std::uint32_t> byIndex(exports.names.size());
    for (std::uint32_t i = 0; i < byIndex.size(); ++i) byIndex[i] = i;
    std::stable_sort(byIndex.begin(), byIndex.end(), [&](std::uint32_t a, std::uint32_t b) {
        return exports.names[a].index < exports.names[b].index;
    });
    std::vector<ExportRow> rows;
    rows.reserve(std::max(exports.addresses.size(), exports.names.size()));
    std::size_t nextName = 0, nextForwarder = 0;
    for (std::uint32_t index = 0; index < exports.addresses.size(); ++index) {
        ExportRow row;
        row.index = index;
        row.ordinal = exports.ordinalBase + index;
        row.rva = exports.addresses[index];
        row.neEntry = exports.neEntries;
        while (nextForwarder < exports.forwarders.size() && exports.forwarders[nextForwarder].index < index)
            ++nextForwarder;
        if (nextForwarder < exports.forwarders.size() && exports.forwarders[nextForwarder].index == index) {
            const ExportForwarder& f = exports.forwarders[nextForwarder];
            row.forwarded = true;
            row.forwarder = std::string_view(exports.text).substr(f.textAt, f.textLength);
        }
        while (nextName < byIndex.size() && exports.names[byIndex[nextName]].index < index) ++nextName;
        bool named = false;
        for (; nextName < byIndex.size() && exports.names[byIndex[nextName]].index == index; ++nextName) {
            const ExportName& name = exports.names[byIndex[nextName]];
            ExportRow namedRow = row;
            namedRow.hint = std::int32_t(name.position);
            namedRow.name = exports.nameOf(name);
            rows.push_back(namedRow);
            named = true;
        }
        if (!named && row.rva != 0) rows.push_back(row);
    }
    return rows;
}

std::string importedFunctionText(const ImportedFunction& function) {
    switch (function.kind) {
    case ImportKind::ByName: return function.name;
    case ImportKind::ByOrdinal: return "#" + std::to_string(function.ordinal);
    case ImportKind::Unreadable: break;
    }
    return "?";
}

std::string resolutionText(const ImportRow& row, std::uint32_t ordinalBase) {
    if (!row.resolved) return "missing: " + row.reason;
    if (!row.forwardedTo.empty()) return "forwarded to " + row.forwardedTo;
    return "ordinal " + std::to_string(std::uint64_t(ordinalBase) + row.exportIndex);
}

std::string exportTargetText(const ExportRow& row) {
    if (row.forwarded) return row.forwarder.empty() ? std::string("(unreadable forwarder)") : std::string(row.forwarder);
    char text[24];
    if (!row.neEntry) std::snprintf(text, sizeof text, "0x%08X", unsigned(row.rva));
    else if (row.rva >> 16 == kNeConstantSegment) std::snprintf(text, sizeof text, "constant 0x%04X", unsigned(row.rva & 0xFFFF));
    else std::snprintf(text, sizeof text, "%04X:%04X", unsigned(row.rva >> 16), unsigned(row.rva & 0xFFFF));
    return text;
}

}  // namespace vost
