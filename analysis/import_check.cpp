#include "analysis/import_check.h"

#include <cstdio>
#include <functional>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "analysis/ne_functions.h"
#include "analysis/pe_delay_imports.h"
#include "analysis/pe_headers.h"
#include "analysis/reference_search.h"
#include "analysis/image_map.h"
#include "analysis/text.h"

namespace vost {

const ModuleFacts& ExportCache::factsOf(const std::string& path) {
    std::unique_ptr<ModuleFacts>& known = known_[path];
    if (!known) known = std::make_unique<ModuleFacts>(readModuleFacts(platform_, path.c_str(), true, false));
    return *known;
}

std::string machineName(std::uint16_t machine) {
    switch (machine) {
    case 0: return "none";
    case 0x014C: return "i386";
    case 0x8664: return "x64";
    case 0xAA64: return "arm64";
    case 0x01C0: return "arm";
    case 0x01C4: return "armnt";
    case 0x0200: return "ia64";
    default: break;
    }
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", unsigned(machine));
    return text;
}

namespace {

// Where the search finds `name` for `referrer`, spelled as the tree holds
// found paths; empty when it finds nothing usable.
std::string searchFor(AnalysisPlatform& platform, const Referrer& referrer, const char* name) {
    std::string path = searchReference(platform, referrer, name);
    return platform.pathsIgnoreCase() ? lowerAscii(std::move(path)) : path;
}

// One function looked for in one module, by name (with the importer's hint)
// or by ordinal.
struct Wanted {
    bool byOrdinal = false;
    std::uint16_t ordinal = 0;
    std::string name;
    std::int32_t hint = -1;

    std::string text() const { return byOrdinal ? "#" + std::to_string(ordinal) : name; }
};

ExportTarget lookUp(const PeExports& exports, const Wanted& wanted) {
    return wanted.byOrdinal ? exports.findByOrdinal(wanted.ordinal) : exports.findByNameAsLoader(wanted.name, wanted.hint);
}

// Why a function is not where it was looked for.
std::string whyMissing(const PeExports& exports, const Wanted& wanted) {
    if (!exports.present) return "no export table";
    if (!wanted.byOrdinal && exports.findByName(wanted.name).kind != ExportKind::NotExported)
        return "missed by the loader's search of a name table out of order";
    return "not exported";
}

// Whether a function was found (`why` empty) or why not, and the last
// forwarder text followed (it lives in the source's records).
struct Verdict {
    std::string why;
    std::string_view forwardedTo;
};

// The verdict of each forwarded entry met so far, by its module and index:
// a module's imports often reach one forwarder many times (hostile files a
// whole table of them), and a chain is followed once.
struct ForwardVerdicts {
    struct Hash {
        std::size_t operator()(const std::pair<const ModuleFacts*, std::uint32_t>& key) const {
            return std::hash<const void*>()(key.first) * 31u + key.second;
        }
    };
    std::unordered_map<std::pair<const ModuleFacts*, std::uint32_t>, Verdict, Hash> known;
};

Verdict follow(AnalysisPlatform& platform, ExportSource& source, const ActivationContext* process,
               const std::string& startPath, const ModuleFacts* module, Wanted wanted);

// Whether `wanted` is found in `module` (whose file is at `startPath`), and
// `target`, the module's own entry it binds to.
Verdict resolve(AnalysisPlatform& platform, ExportSource& source, const ActivationContext* process,
                const std::string& startPath, const ModuleFacts* module, const Wanted& wanted,
                ForwardVerdicts& verdicts, ExportTarget& target) {
    target = lookUp(module->exports, wanted);
    if (target.kind == ExportKind::NotExported) return Verdict{whyMissing(module->exports, wanted), {}};
    if (target.kind == ExportKind::Address) return Verdict();
    const auto key = std::make_pair(module, target.index);
    const auto known = verdicts.known.find(key);
    if (known != verdicts.known.end()) return known->second;
    return verdicts.known.emplace(key, follow(platform, source, process, startPath, module, wanted)).first->second;
}

// Follows `wanted` from `module` through its forwarders to an export with an
// address. Empty on success, else why it fails. A forward's module is
// searched for as the forwarding module's import of that name would be: the
// part before the last dot, with ".dll" when it has no dot of its own. A
// chain that comes back to an entry it passed is a loop.
Verdict follow(AnalysisPlatform& platform, ExportSource& source, const ActivationContext* process,
               const std::string& startPath, const ModuleFacts* module, Wanted wanted) {
    const std::string* path = &startPath;
    std::string nextPath;
    std::vector<std::string_view> chain;  // the forwarder texts followed (they live in the source's records)
    std::vector<std::pair<const ModuleFacts*, std::uint32_t>> passed;  // entries forwarded from
    const auto failed = [&chain](const std::string& why) {
        if (chain.empty()) return Verdict{why, {}};
        std::string text = "forwarded to ";
        for (std::size_t i = 0; i < chain.size(); ++i) (text += i ? " -> " : "") += chain[i];
        return Verdict{text + ": " + why, chain.back()};
    };
    for (;;) {
        const ExportTarget target = lookUp(module->exports, wanted);
        if (target.kind == ExportKind::NotExported) return failed(whyMissing(module->exports, wanted));
        if (target.kind == ExportKind::Address) return Verdict{std::string(), chain.empty() ? std::string_view() : chain.back()};

        for (const auto& entry : passed)
            if (entry.first == module && entry.second == target.index) return failed("forwarding loop");
        if (passed.size() == std::size_t(kMaxForwardHops))
            return failed("more than " + std::to_string(kMaxForwardHops) + " forwards");
        passed.emplace_back(module, target.index);
        if (target.forwarder.empty()) return failed("unreadable forwarder");
        chain.push_back(target.forwarder);
        ForwarderTarget forward;
        if (!parseForwarder(target.forwarder, forward)) return failed("malformed forwarder");
        std::string moduleName(forward.module);
        if (moduleName.find('.') == std::string::npos) moduleName += ".dll";

        const Referrer referrer{module->bits, path->c_str(), true,
                                ownContextOf(platform, path->c_str(), module->bits, module->manifests), process};
        std::string found = searchFor(platform, referrer, moduleName.c_str());
        if (found.empty()) return failed(moduleName + " not found");
        const ModuleFacts& nextModule = source.factsOf(found);
        if (!nextModule.image) return failed(found + " is no PE image");
        if (nextModule.machine != module->machine)
            return failed(found + " is of machine " + machineName(nextModule.machine));
        wanted = Wanted{forward.byOrdinal, forward.ordinal, std::string(forward.function), -1};
        nextPath = std::move(found);
        path = &nextPath;
        module = &nextModule;
    }
}

}  // namespace

std::string resolveFunction(AnalysisPlatform& platform, ExportSource& exports, const std::string& path,
                            const ImportedFunction& function, const ActivationContext* processContext) {
    const ModuleFacts& module = exports.factsOf(path);
    if (!module.image) return path + " is no PE image";
    if (function.kind == ImportKind::Unreadable) return "unreadable import";
    ForwardVerdicts forwards;
    ExportTarget target;
    return resolve(platform, exports, processContext, path, &module,
                   Wanted{function.kind == ImportKind::ByOrdinal, function.ordinal, function.name,
                          function.kind == ImportKind::ByName ? std::int32_t(function.hint) : -1},
                   forwards, target)
        .why;
}

ModuleCheck checkModuleImports(AnalysisPlatform& platform, ExportSource& exports, const char* path,
                               const CheckSettings& settings) {
    ModuleCheck check;
    ForwardVerdicts forwards;
    // The module's own facts, read once for the walk and every check.
    const ModuleFacts& facts = exports.factsOf(path);
    if (!facts.image) return check;
    check.pe = true;
    check.machine = facts.machine;
    const ModuleBits bits = facts.bits;
    const ManifestUse& manifests = facts.manifests;
    const std::vector<ImportedModule>& imported = facts.references.imports;
    static const std::vector<ImportedModule> none;
    const std::vector<ImportedModule>& delayed = settings.delayLoads ? facts.references.delayImports : none;

    const ActivationContext* own = ownContextOf(platform, path, bits, manifests);
    const Referrer referrer{bits, path, true, own, settings.processContext};
    std::unordered_set<std::string> given;  // findings given so far, by kind, module and function
    const auto add = [&](Finding finding) {
        const std::string key = std::to_string(int(finding.kind)) + lowerAscii(finding.module) + '\0' +
                                (finding.byOrdinal ? "#" + std::to_string(finding.ordinal) : finding.function);
        if (given.insert(key).second) check.findings.push_back(std::move(finding));
    };

    const auto checkModule = [&](const ImportedModule& imports, bool delayLoad) {
        ++check.modules;
        check.functions += std::uint32_t(imports.functions.size());
        Finding base;
        base.delayLoad = delayLoad;
        base.module = imports.name;
        base.path = searchFor(platform, referrer, imports.name.c_str());
        const auto verdicts = [&](bool resolved) {
            if (settings.visit)
                for (const ImportedFunction& f : imports.functions)
                    settings.visit(CheckedImport{imports.name, base.path, f, delayLoad, resolved, base.reason});
        };
        if (base.path.empty()) {
            base.kind = FindingKind::notFound;
            verdicts(false);
            return add(std::move(base));
        }
        const ModuleFacts& module = exports.factsOf(base.path);
        if (!module.image || module.machine != check.machine) {
            base.kind = module.image ? FindingKind::otherMachine : FindingKind::notAnImage;
            base.machine = module.machine;
            verdicts(false);
            return add(std::move(base));
        }
        for (const ImportedFunction& f : imports.functions) {
            Wanted wanted;
            Verdict verdict;
            ExportTarget target;
            if (f.kind == ImportKind::Unreadable) {
                verdict.why = "unreadable import";
            } else {
                wanted = Wanted{f.kind == ImportKind::ByOrdinal, f.ordinal, f.name,
                                f.kind == ImportKind::ByName ? std::int32_t(f.hint) : -1};
                verdict = resolve(platform, exports, settings.processContext, base.path, &module, wanted, forwards,
                                  target);
            }
            std::string& why = verdict.why;
            if (settings.visit)
                settings.visit(CheckedImport{imports.name, base.path, f, delayLoad, why.empty(), why,
                                             target.kind == ExportKind::NotExported ? kNoExportIndex : target.index,
                                             verdict.forwardedTo});
            if (why.empty()) continue;
            Finding finding = base;
            finding.kind = FindingKind::unresolved;
            finding.byOrdinal = wanted.byOrdinal;
            finding.ordinal = wanted.ordinal;
            finding.function = f.kind == ImportKind::Unreadable ? "?" : f.name;
            finding.reason = std::move(why);
            add(std::move(finding));
        }
    };
    // What kept the module's contexts from being built comes first: its own,
    // and the process's when this module is the program that made it.
    const auto addProblems = [&](const ActivationContext* context) {
        if (!context) return;
        for (const ContextProblem& problem : context->problems) {
            Finding finding;
            switch (problem.kind) {
            case ContextProblem::Kind::missingAssembly: finding.kind = FindingKind::missingAssembly; break;
            case ContextProblem::Kind::badManifest: finding.kind = FindingKind::badManifest; break;
            case ContextProblem::Kind::refused: finding.kind = FindingKind::noContext; break;
            }
            finding.module = problem.assembly.text();
            finding.reason = problem.detail;
            add(std::move(finding));
        }
    };
    if (settings.processContext && !manifests.dll && !manifests.noIsolation &&
        settings.processContext == platform.activationContext(path, bits, ManifestRole::process))
        addProblems(settings.processContext);
    addProblems(own);

    // A module both imported and delay-loaded is reported as imported: the
    // delay-loaded copy's findings about the module itself are the same and
    // are given once, while the functions it alone names are still checked.
    // A check that is told to stop leaves out the modules it has not reached.
    const auto stopped = [&settings] { return settings.stop && settings.stop(); };
    for (const ImportedModule& m : imported)
        if (!stopped()) checkModule(m, false);
    for (const ImportedModule& m : delayed)
        if (!stopped()) checkModule(m, true);
    return check;
}

}  // namespace vost
