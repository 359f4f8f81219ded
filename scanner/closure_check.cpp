#include "scanner/closure_check.h"

#include <cstdio>
#include <ostream>
#include <unordered_set>

#include "analysis/scan_module.h"
#include "analysis/text.h"
#include "scanner/output.h"

namespace vost {

namespace {
// The run's shared exports, read with this thread's platform.
class ThreadExports : public ExportSource {
public:
    ThreadExports(CheckCache& cache, AnalysisPlatform& platform) : cache_(cache), platform_(platform) {}
    const ModuleExports& exportsOf(const std::string& path) override { return cache_.exportsOf(platform_, path); }

private:
    CheckCache& cache_;
    AnalysisPlatform& platform_;
};

const char* kindText(FindingKind kind) {
    switch (kind) {
    case FindingKind::notFound: return "not-found";
    case FindingKind::otherMachine: return "other-machine";
    case FindingKind::notAnImage: return "not-an-image";
    case FindingKind::unresolved: return "unresolved";
    case FindingKind::missingAssembly: return "missing-assembly";
    case FindingKind::badManifest: return "bad-manifest";
    case FindingKind::noContext: return "no-context";
    }
    return "";
}

bool isContextFinding(FindingKind kind) {
    return kind == FindingKind::missingAssembly || kind == FindingKind::badManifest || kind == FindingKind::noContext;
}

std::string upper(std::string text) {
    for (char& c : text) c = asciiUpper(c);
    return text;
}

std::string functionText(const Finding& f) {
    return f.byOrdinal ? "#" + std::to_string(f.ordinal) : f.function;
}

// The modules the tree shows as not found under `item`.
std::vector<Finding> notFoundChildren(MemoryTree& tree, TreeItem item) {
    std::vector<Finding> findings;
    std::unordered_set<std::string> given;
    for (TreeItem child = tree.firstChild(item); child; child = tree.nextSibling(child)) {
        const ModuleNode* node = tree.itemNode(child);
        if (!node || compareIgnoringCase(node->fullPath, kFileNotFoundText) != 0) continue;
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

std::size_t ClosureCheck::findingCount() const {
    std::size_t count = 0;
    for (const CheckedModule& m : modules) count += m.check->findings.size() + m.treeFindings.size();
    return count;
}

ClosureCheck checkClosure(MemoryTree& tree, AnalysisPlatform& platform, CheckCache& cache,
                          const std::string& searchFolder, const CheckSettings& settings, bool rootOnly) {
    ClosureCheck result;
    ThreadExports exports(cache, platform);
    std::unordered_set<std::string> checked;  // module files, by path
    // Every module's imports are resolved under the scanned program's
    // activation context, which its findings then depend on too.
    CheckSettings withContext = settings;
    if (const TreeItem root = tree.rootItem())
        if (const ModuleNode* node = tree.itemNode(root)) withContext.processContext = node->processContext;
    char contextKey[2 * sizeof(void*) + 3];
    std::snprintf(contextKey, sizeof contextKey, "%p", static_cast<const void*>(withContext.processContext));

    // In the order the tree is written.
    visitInPreOrder(tree, [&](TreeItem item, std::size_t) {
        const ModuleNode* node = tree.itemNode(item);
        if (node && compareIgnoringCase(node->fullPath, kFileNotFoundText) != 0 &&
            checked.insert(node->fullPath).second) {
            const std::string key = searchFolder + '\0' + contextKey + '\0' + (settings.delayLoads ? 'd' : 'i') +
                                    node->fullPath;
            const ModuleCheck& check = cache.moduleCheck(
                key, [&] { return checkModuleImports(platform, exports, node->fullPath, withContext); });
            CheckedModule module{node->moduleName, node->fullPath, &check, {}};
            // A 16-bit module's references are not read by function; the
            // modules the tree shows missing under it are its findings.
            if (!check.pe && node->scanned) module.treeFindings = notFoundChildren(tree, item);
            result.modules.push_back(std::move(module));
        }
        return !rootOnly;
    });
    return result;
}

void writeCheckText(const ClosureCheck& check, std::ostream& out) {
    for (const CheckedModule& m : check.modules) {
        const auto write = [&](const Finding& f) {
            out << kindText(f.kind) << ' ' << m.name;
            // An assembly keeps its name as its manifest spells it.
            if (isContextFinding(f.kind)) {
                if (!f.module.empty()) out << " -> " << f.module;
            } else {
                out << " -> " << upper(f.module);
            }
            if (f.kind == FindingKind::unresolved) out << '!' << functionText(f);
            std::string detail;
            const auto add = [&detail](const std::string& part) { detail += (detail.empty() ? "" : "; ") + part; };
            if (f.delayLoad) add("delay-load");
            if (f.kind == FindingKind::unresolved || isContextFinding(f.kind)) add(f.reason);
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

void writeCheckJson(const ClosureCheck& check, std::ostream& out) {
    out << "{\"unresolved\":" << check.findingCount() << ",\"modules\":[";
    bool firstModule = true;
    for (const CheckedModule& m : check.modules) {
        if (!firstModule) out << ',';
        firstModule = false;
        out << "{\"module\":" << jsonString(m.name) << ",\"path\":" << jsonString(m.path)
            << ",\"machine\":" << jsonString(m.check->pe ? machineName(m.check->machine) : "")
            << ",\"importedModules\":" << m.check->modules << ",\"importedFunctions\":" << m.check->functions
            << ",\"findings\":[";
        bool first = true;
        const auto write = [&](const Finding& f) {
            if (!first) out << ',';
            first = false;
            out << "{\"kind\":" << jsonString(kindText(f.kind)) << ",\"module\":" << jsonString(f.module)
                << ",\"path\":" << jsonString(f.path) << ",\"delayLoad\":" << (f.delayLoad ? "true" : "false");
            if (f.kind == FindingKind::unresolved) {
                if (f.byOrdinal)
                    out << ",\"ordinal\":" << f.ordinal;
                else
                    out << ",\"function\":" << jsonString(f.function);
                out << ",\"reason\":" << jsonString(f.reason);
            }
            if (f.kind == FindingKind::otherMachine) out << ",\"machine\":" << jsonString(machineName(f.machine));
            if (isContextFinding(f.kind)) out << ",\"reason\":" << jsonString(f.reason);
            out << '}';
        };
        for (const Finding& f : m.check->findings) write(f);
        for (const Finding& f : m.treeFindings) write(f);
        out << "]}";
    }
    out << "]}";
}

}  // namespace vost
