#include "scanner/function_tables.h"

#include <unordered_map>

#include "analysis/scan_module.h"
#include "analysis/text.h"
#include "platform/common/undecorate.h"
#include "scanner/output.h"

namespace vost {

namespace {
bool foundFile(const ModuleNode* node) {
    return node && compareIgnoringCase(node->fullPath.c_str(), kFileNotFoundText) != 0;
}

std::string shownExportName(const ExportRow& row, bool undecorate) {
    return undecorate ? undecorateName(row.name) : std::string(row.name);
}
}  // namespace

FunctionTables readFunctionTables(const TreeRecord& record, AnalysisPlatform& platform, CheckCache& cache,
                                  bool imports, bool exports, bool delayLoads, bool undecorate) {
    FunctionTables tables;
    tables.undecorate = undecorate;
    tables.exportsAsked = exports;
    if (record.empty()) return tables;
    RunExports source(cache, platform);
    if (imports) {
        CheckSettings settings;
        settings.delayLoads = delayLoads;
        if (record[0].node) settings.processContext = record[0].node->processContext;
        // Each importer is read once, however often it appears.
        std::unordered_map<std::string, std::vector<ModuleImportRows>> importers;
        tables.items.resize(record.size());
        for (std::size_t i = 1; i < record.size(); ++i) {
            const ModuleNode* node = record[i].node;
            const ModuleNode* parent = record[record[i].parent].node;
            if (!node || !foundFile(parent)) continue;
            const std::string parentPath(parent->fullPath);
            auto known = importers.find(parentPath);
            if (known == importers.end())
                known = importers.emplace(parentPath, readModuleImportRows(platform, source, parentPath, settings)).first;
            ModuleImportRows rows = importRowsFor(known->second, std::string_view(node->moduleName), node->delayLoaded);
            ItemImports& item = tables.items[i];
            if (!rows.path.empty()) {
                const ModuleFacts& module = source.factsOf(rows.path);
                if (module.image || module.ne) item.ordinalBase = module.exports.ordinalBase;
            }
            item.functions = std::move(rows.functions);
        }
    }
    if (exports && foundFile(record[0].node)) {
        tables.facts = source.pin(std::string(record[0].node->fullPath));
        const ModuleFacts& module = *tables.facts;
        if (module.image || module.ne) {
            tables.exports = &module.exports;
            tables.exportRows = exportRows(module.exports);
        }
    }
    return tables;
}

std::string shownFunctionName(const ImportedFunction& function, bool undecorate) {
    if (function.kind == ImportKind::ByName && undecorate) return undecorateName(function.name);
    return importedFunctionText(function);
}

void writeImportLines(const ItemImports& item, bool undecorate, std::size_t indent, std::ostream& out) {
    for (const ImportRow& row : item.functions) {
        out << std::string(indent, ' ') << shownFunctionName(row.function, undecorate);
        if (row.function.kind == ImportKind::ByName) out << " (hint " << row.function.hint << ')';
        out << " -> " << resolutionText(row, item.ordinalBase) << '\n';
    }
}

void writeExportLines(const FunctionTables& tables, const std::string& file, std::ostream& out) {
    if (!tables.exports) return;
    if (!tables.exports->present) {
        out << "exports of " << file << ": no export table\n";
        return;
    }
    out << "exports of " << file << " (ordinal base " << tables.exports->ordinalBase << ", "
        << tables.exportRows.size() << " entries):\n";
    for (const ExportRow& row : tables.exportRows) {
        out << "  #" << row.ordinal;
        if (row.hint >= 0) out << " hint " << row.hint << ' ' << shownExportName(row, tables.undecorate);
        out << (row.forwarded ? " -> " : " ") << exportTargetText(row) << '\n';
    }
}

void writeImportsJson(const ItemImports& item, bool undecorate, std::ostream& out) {
    out << ",\"imports\":[";
    bool first = true;
    for (const ImportRow& row : item.functions) {
        out << (first ? "{" : ",{");
        first = false;
        const ImportedFunction& f = row.function;
        if (f.kind == ImportKind::ByOrdinal) out << "\"ordinal\":" << f.ordinal;
        else out << "\"name\":" << jsonString(importedFunctionText(f));
        if (f.kind == ImportKind::ByName) {
            out << ",\"hint\":" << f.hint;
            if (undecorate) out << ",\"undecorated\":" << jsonString(undecorateName(f.name));
        }
        out << ",\"resolved\":" << (row.resolved ? "true" : "false")
            << ",\"resolution\":" << jsonString(resolutionText(row, item.ordinalBase)) << '}';
    }
    out << ']';
}

void writeExportsJson(const FunctionTables& tables, std::ostream& out) {
    out << ",\"exports\":";
    if (!tables.exports || !tables.exports->present) {
        out << "null";
        return;
    }
    out << "{\"ordinalBase\":" << tables.exports->ordinalBase << ",\"entries\":[";
    bool first = true;
    for (const ExportRow& row : tables.exportRows) {
        out << (first ? "{" : ",{");
        first = false;
        out << "\"ordinal\":" << row.ordinal;
        if (row.hint >= 0) {
            out << ",\"hint\":" << row.hint << ",\"name\":" << jsonString(std::string(row.name));
            if (tables.undecorate) out << ",\"undecorated\":" << jsonString(shownExportName(row, true));
        }
        if (row.forwarded) out << ",\"forwarder\":" << jsonString(std::string(row.forwarder));
        else if (row.neEntry) out << ",\"entry\":" << jsonString(exportTargetText(row));
        else out << ",\"rva\":" << row.rva;
        out << '}';
    }
    out << "]}";
}

}  // namespace vost
