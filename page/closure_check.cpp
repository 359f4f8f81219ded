#include "page/closure_check.h"

#include <cstdio>

#include <ostream>
#include <unordered_set>

#include "analysis/scan_module.h"
#include "analysis/text.h"
#include "page/managed_findings.h"

namespace vost {

namespace {
std::string upper(std::string text) {
    for (char& c : text) c = asciiUpper(c);
    return text;
}

// The modules the tree shows as not found under the item at `index`.
std::vector<Finding> notFoundChildren(const TreeRecord& tree, std::size_t index) {
    std::vector<Finding> findings;
    std::unordered_set<std::string> given;
    // Its children follow it, each subtree whole, until the first item that
    // is not below it.
    for (std::size_t i = index + 1; i < tree.size() && tree[i].parent != kNoParent && tree[i].parent >= index; ++i) {
        if (tree[i].parent != index) continue;
        const ModuleNode* node = tree[i].node;
        if (!node || compareIgnoringCase(node->fullPath.c_str(), kFileNotFoundText) != 0) continue;
        if (!given.insert(lowerAscii(node->moduleName)).second) continue;
        Finding finding;
        finding.kind = FindingKind::notFound;
        finding.module = node->moduleName;
        finding.delayLoad = node->delayLoaded;
        findings.push_back(std::move(finding));
    }
    return findings;
}
}  // namespace

const char* findingKindText(FindingKind kind) {
    switch (kind) {
    case FindingKind::notFound: return "not-found";
    case FindingKind::otherMachine: return "other-machine";
    case FindingKind::notAnImage: return "not-an-image";
    case FindingKind::unresolved: return "unresolved";
    case FindingKind::missingAssembly: return "missing-assembly";
    case FindingKind::badManifest: return "bad-manifest";
    case FindingKind::noContext: return "no-context";
    case FindingKind::assemblyNotFound: return "assembly-not-found";
    case FindingKind::otherAssembly: return "other-assembly";
    case FindingKind::frameworkMissing: return "framework-not-found";
    case FindingKind::badConfig: return "bad-config";
    case FindingKind::badMetadata: return "bad-metadata";
    }
    return "";
}

bool isManagedFinding(FindingKind kind) {
    return kind == FindingKind::assemblyNotFound || kind == FindingKind::otherAssembly ||
           kind == FindingKind::frameworkMissing || kind == FindingKind::badConfig || kind == FindingKind::badMetadata;
}

bool isContextFinding(FindingKind kind) {
    return kind == FindingKind::missingAssembly || kind == FindingKind::badManifest || kind == FindingKind::noContext;
}

std::string findingFunctionText(const Finding& f) {
    return f.byOrdinal ? "#" + std::to_string(f.ordinal) : f.function;
}

TreeRecord recordTree(TreeControl& tree) {
    TreeRecord record;
    std::vector<std::size_t> open;  // the entries of the items on the path to the current one
    visitInPreOrder(tree, [&](TreeItem item, std::size_t depth) {
        open.resize(depth);
        record.push_back(RecordedItem{item, tree.itemNode(item), depth ? open.back() : kNoParent});
        open.push_back(record.size() - 1);
        return true;
    });
    return record;
}

ClosureCheck checkClosure(TreeControl& tree, AnalysisPlatform& platform, CheckCache& cache,
                          const std::string& searchFolder, const CheckSettings& settings, bool rootOnly) {
    return checkClosure(recordTree(tree), platform, cache, searchFolder, settings, rootOnly);
}

std::size_t ClosureCheck::findingCount() const {
    std::size_t count = 0;
    for (const CheckedModule& m : modules) count += m.check->findings.size() + m.treeFindings.size();
    return count;
}

ClosureCheck checkClosure(const TreeRecord& tree, AnalysisPlatform& platform, CheckCache& cache,
                          const std::string& searchFolder, const CheckSettings& settings, bool rootOnly) {
    ClosureCheck result;
    RunExports exports(cache, platform);
    std::unordered_set<std::string> checked;  // module files, by path
    // Every module's imports are resolved under the scanned program's
    // activation context, which its findings then depend on too.
    CheckSettings withContext = settings;
    if (!tree.empty() && tree[0].node) withContext.processContext = tree[0].node->processContext;
    char contextKey[2 * sizeof(void*) + 3];
    std::snprintf(contextKey, sizeof contextKey, "%p", static_cast<const void*>(withContext.processContext));

    // In the order the tree is written.
    for (std::size_t index = 0; index < tree.size() && (index == 0 || !rootOnly); ++index) {
        if (settings.stop && settings.stop()) break;
        const ModuleNode* node = tree[index].node;
        if (node && compareIgnoringCase(node->fullPath.c_str(), kFileNotFoundText) != 0 &&
            checked.insert(node->fullPath).second) {
            // An IL-only assembly's imports are never bound: nothing of
            // them is checked.
            const bool unbound = importsUnbound(*node);
            const std::string key = searchFolder + '\0' + contextKey + '\0' + (settings.delayLoads ? 'd' : 'i') +
                                    (unbound ? "u" : "") + node->fullPath;
            const ModuleCheck& check = cache.moduleCheck(key, [&] {
                if (!unbound) return checkModuleImports(platform, exports, node->fullPath.c_str(), withContext);
                ModuleCheck none;
                none.pe = true;
                none.machine = node->machine;
                return none;
            });
            CheckedModule module{node->moduleName, node->fullPath, &check, {}};
            // A 16-bit module's references are not read by function; the
            // modules the tree shows missing under it are its findings.
            if (!check.pe && node->scanned) module.treeFindings = notFoundChildren(tree, index);
            // Managed code's findings come from what the walk bound.
            for (Finding& finding : managedFindings(tree, index)) module.treeFindings.push_back(std::move(finding));
            result.modules.push_back(std::move(module));
        }
    }
    return result;
}

void writeCheckText(const ClosureCheck& check, std::ostream& out) {
    for (const CheckedModule& m : check.modules) {
        const auto write = [&](const Finding& f) {
            out << findingKindText(f.kind) << ' ' << m.name;
            // An assembly keeps its name as its manifest (or metadata) spells it.
            if (!f.assembly.empty()) out << " -> " << f.assembly;
            else if (!isContextFinding(f.kind) && !isManagedFinding(f.kind)) out << " -> " << upper(f.module);
            else if (!f.module.empty()) out << " -> " << f.module;
            if (f.kind == FindingKind::unresolved) out << '!' << findingFunctionText(f);
            std::string detail;
            const auto add = [&detail](const std::string& part) { detail += (detail.empty() ? "" : "; ") + part; };
            if (f.delayLoad) add("delay-load");
            if (f.pinvoke) add("P/Invoke");
            if (f.kind == FindingKind::unresolved || isContextFinding(f.kind) || isManagedFinding(f.kind))
                add(f.reason);
            if (f.kind == FindingKind::otherMachine)
                add(machineName(f.machine) + ", importer " + machineName(m.check->machine) + ": " + f.path);
            if (f.kind == FindingKind::notAnImage) add(f.path);
            if (!detail.empty()) out << " (" << detail << ')';
            out << '\n';
        };
        for (const Finding& f : m.check->findings) write(f);
        for (const Finding& f : m.treeFindings) write(f);
    }
}

}  // namespace vost
