// Will it load? Each function a module imports, matched against the exports
// of the module the search finds for it, as the loader matches them: names
// exactly (the hint first, then the name table's binary search), ordinals
// against the ordinal base, forwarded exports followed to their target,
// which is searched for as an import of that name would be.
//
// What the check reads of a module (module_facts.h) is read once per file
// and kept by an ExportSource, so a module imported by many others, and
// walked before, costs one read.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analysis/activation_context.h"
#include "analysis/module_contexts.h"
#include "analysis/module_facts.h"
#include "analysis/pe_exports.h"
#include "analysis/pe_import_functions.h"
#include "analysis/platform.h"

namespace vost {

// The most forwarders followed for one import. Real chains are one or two
// long; a longer one that repeats no entry still ends here.
constexpr int kMaxForwardHops = 16;

// The facts of each module file (module_facts.h, read with functions), read
// once. Paths are the search's answers, lower-cased as the tree's nodes hold
// them. A reference stays valid as long as the source.
class ExportSource {
public:
    virtual const ModuleFacts& factsOf(const std::string& path) = 0;

protected:
    ~ExportSource() = default;
};

// An ExportSource for one thread.
class ExportCache : public ExportSource {
public:
    explicit ExportCache(AnalysisPlatform& platform) : platform_(platform) {}
    const ModuleFacts& factsOf(const std::string& path) override;

private:
    AnalysisPlatform& platform_;
    std::unordered_map<std::string, std::unique_ptr<ModuleFacts>> known_;
};

enum class FindingKind : std::uint8_t {
    notFound,      // the search found no file for the module
    otherMachine,  // found, but a PE image of another machine than its importer
    notAnImage,    // found, but no PE image (unreadable, no "MZ", an NE module...)
    unresolved,    // a function the module (or a forward's target) does not export
    // The module's activation context (a DLL's own, or the program's for the
    // process) could not be built whole: `module` names the assembly, or is
    // empty, and `reason` says what.
    missingAssembly,  // a required assembly found nowhere
    badManifest,      // a manifest that could not be read
    noContext,        // the platform refused to build the context
    // Managed code (from the scanned tree): an assembly reference the
    // process's runtime does not bind, and what keeps a managed program's
    // runtime from starting as it should or a module's metadata from being
    // read. A P/Invoke module that is not found is `notFound`, `pinvoke` set.
    assemblyNotFound,  // found nowhere the runtime looks
    otherAssembly,     // the file the runtime takes is another version, key or culture, or no assembly
    frameworkMissing,  // no installed runtime or shared framework satisfies the program
    badConfig,         // a configuration file the runtime reads that cannot be read
    badMetadata,       // metadata of the module that cannot be read whole
};

struct Finding {
    FindingKind kind = FindingKind::unresolved;
    bool delayLoad = false;       // the module is named by the delay-load directory
    bool pinvoke = false;         // the module is called through P/Invoke
    std::string assembly;         // an assembly finding: the reference as the runtime writes it
    std::string module;           // the module as the importer names it
    std::string path;             // where the search found it; empty when it did not
    std::uint16_t machine = 0;    // otherMachine: the module's machine
    // unresolved: the function, by name or by ordinal, and why.
    bool byOrdinal = false;
    std::uint16_t ordinal = 0;
    std::string function;
    std::string reason;
};

constexpr std::uint32_t kNoExportIndex = 0xFFFFFFFFu;

// One import as the check saw it (for callers that compare every verdict
// with a loader's).
struct CheckedImport {
    const std::string& module;    // as named
    const std::string& path;      // found path, empty when not found
    const ImportedFunction& function;
    bool delayLoad;
    bool resolved;
    const std::string& reason;    // why not, for a function of a module that was found
    // What it binds to, when the module was found: the address-table entry of
    // the module's own export (kNoExportIndex when none), and when that entry
    // forwards, the last forwarder text followed (its chain's end on success).
    std::uint32_t exportIndex = kNoExportIndex;
    std::string_view forwardedTo = {};
};

struct ModuleCheck {
    bool pe = false;             // the module was read as a PE image
    std::uint16_t machine = 0;   // its machine
    std::uint32_t modules = 0;   // modules named by its import (and delay-load) directories
    std::uint32_t functions = 0; // functions imported from them
    std::vector<Finding> findings;
};

struct CheckSettings {
    bool delayLoads = false;  // check the delay-load directory's modules too
    // The process's activation context (the scanned program's), in force for
    // every module; a module's own is found by the check itself. When the
    // module checked is the program that made it, its problems are findings.
    const ActivationContext* processContext = nullptr;
    // Called for every import with its verdict, when set.
    std::function<void(const CheckedImport&)> visit;
    // Asked before each module of a closure's check and each module a
    // module imports, when set: true ends the check there (the page that
    // asked is gone), and what it has not reached is left out.
    std::function<bool()> stop;
};

// Checks the imports of the module file at `path`. Modules are looked for
// with searchReference, as the scan looks for them. Identical findings (a
// module named twice, say) are given once.
ModuleCheck checkModuleImports(AnalysisPlatform& platform, ExportSource& exports, const char* path,
                               const CheckSettings& settings = CheckSettings());

// Whether `function` is found in the module file at `path` (a search's
// answer, lower-cased) as an import of it would be, forwarders followed:
// empty when it is, else why not. For callers that ask about functions no
// module imports (a test comparing whole export tables with a loader).
std::string resolveFunction(AnalysisPlatform& platform, ExportSource& exports, const std::string& path,
                            const ImportedFunction& function, const ActivationContext* processContext = nullptr);

// A COFF machine as users know it: "i386", "x64", "arm64"... or its value in
// hexadecimal; "none" for 0.
std::string machineName(std::uint16_t machine);

}  // namespace vost
