// The managed runtime of one process, as its program sets it up, and how it
// binds what managed modules reference: assemblies by the rules of .NET
// Framework (application configuration, unification, the global assembly
// cache, probing) or of .NET 5 and later (runtimeconfig.json, shared
// frameworks, deps.json), and P/Invoke modules by the runtime's native
// library search, which ends in the one module search of the analysis.
//
// A process is set up once per scan, at the first managed module the walk
// meets (the program, the app host's assembly, or a mixed-mode DLL a native
// program loads), and passed down the tree like the process's activation
// context. What it reads (configuration files, identities of the assembly
// files it looks at) it keeps; every file goes through the platform and the
// bounded readers.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "analysis/cli_metadata.h"
#include "analysis/managed_reference.h"
#include "analysis/platform.h"
#include "analysis/reference_search.h"
#include "analysis/roll_forward.h"

namespace vost {

struct ModuleNode;

// Something that keeps the process's runtime from starting as it should: a
// finding of the program.
struct ProcessProblem {
    enum class Kind : std::uint8_t {
        frameworkMissing,  // no installed runtime or shared framework satisfies the program
        badConfig,         // a configuration file that cannot be read (it is then not applied)
    };
    Kind kind = Kind::frameworkMissing;
    std::string subject;  // "Microsoft.NETCore.App 8.0.0", ".NET Framework 2.0 (v2.0.50727)", "app.exe.config"
    std::string detail;   // "found 6.0.36, 7.0.20", "malformed XML"
};

// A .NET Framework program's NAME.exe.config, the parts binding reads.
struct ConfigRedirect {
    std::string name, token, culture, appliesTo;
    AssemblyVersion low, high, target;
};
struct ConfigCodeBase {
    std::string name, token, culture, appliesTo;
    AssemblyVersion version;
    std::string href;
};
struct AppConfig {
    std::vector<std::string> supportedRuntimes;  // <startup><supportedRuntime version=...>, in order
    std::vector<std::string> privatePaths;       // <probing privatePath=...>, '/'-separated, in order
    std::vector<ConfigRedirect> redirects;
    std::vector<ConfigCodeBase> codeBases;
};
// Reads the binding parts of a configuration file; false with `error` when
// it is refused (xml_reader.h), and then nothing of it applies.
bool parseAppConfig(const std::string& text, AppConfig& out, std::string& error);

// A .NET 5+ program's NAME.runtimeconfig.json.
struct RuntimeConfig {
    std::vector<FrameworkReference> frameworks;
    bool selfContained = false;  // includedFrameworks: the runtime is in the application's folder
};
bool parseRuntimeConfig(const std::string& text, RuntimeConfig& out, std::string& error);

// A .NET 5+ program's NAME.deps.json: its own assemblies and native
// libraries for the runtime identifier `rid` ("win-x64", "win-x86").
struct DepsAsset {
    std::string path;       // relative, '/'-separated
    std::string localPath;  // where it lies in the application's folder, when the file says
    bool hasVersion = false;
    AssemblyVersion assemblyVersion;
};
struct AppDependencies {
    std::unordered_map<std::string, DepsAsset> assemblies;  // by lower-cased simple name
    std::unordered_map<std::string, DepsAsset> natives;     // by lower-cased file name
};
bool parseDeps(const std::string& text, const std::string& rid, AppDependencies& out, std::string& error);

struct SharedFramework {
    std::string name;
    SemanticVersion version;
    std::string folder;
};

enum class ManagedRuntime : std::uint8_t { framework, core };

struct ManagedProcess {
    ManagedRuntime runtime = ManagedRuntime::framework;
    ModuleBits bits = ModuleBits::bits32;  // the process's family: P/Invoke modules and the GAC's
    std::string appFolder;                 // the application base
    std::string programName;               // the program's file name
    const ModuleNode* owner = nullptr;     // the node whose module set the process up
    RuntimeFolders folders;
    std::vector<ProcessProblem> problems;

    // .NET Framework
    int frameworkMajor = 4;         // 2 or 4: which global assembly cache, which unification
    std::string frameworkVersion;   // "v4.0.30319"
    AppConfig config;

    // .NET 5 and later
    std::vector<SharedFramework> frameworks;  // resolved, highest level first
    bool hasDeps = false;
    AppDependencies deps;
    bool selfContained = false;

    // The identity of each assembly file looked at, by path (null: no assembly).
    std::unordered_map<std::string, std::shared_ptr<const AssemblyName>> identities;
};

// Sets up the runtime of a process whose program is the file at
// `programPath`: the managed image `image` itself, or a native program that
// loads the managed DLL `image` (`hosted` false, `programIsImage` false).
// `hosted`: an app host starts `image` (app.exe -> app.dll). `bits` is the
// process's family.
std::shared_ptr<ManagedProcess> startManagedProcess(AnalysisPlatform& platform, const std::string& programPath,
                                                    const std::string& imagePath, const CliImage& image,
                                                    ModuleBits bits, bool hosted);

// Binds one assembly reference in `process`; `path` gets the file the
// runtime takes (empty when none).
ManagedReference bindAssembly(AnalysisPlatform& platform, ManagedProcess& process, const AssemblyName& wanted,
                              std::string& path);

// The rules of each runtime (bindAssembly chooses).
ManagedReference bindFrameworkAssembly(AnalysisPlatform& platform, ManagedProcess& process,
                                       const AssemblyName& wanted, std::string& path);
ManagedReference bindCoreAssembly(AnalysisPlatform& platform, ManagedProcess& process, const AssemblyName& wanted,
                                  std::string& path);
// Resolves the shared frameworks of `config` under the process's dotnet root.
void resolveSharedFrameworks(AnalysisPlatform& platform, ManagedProcess& process, const RuntimeConfig& config);

// Where the runtime finds the P/Invoke module `name` that the managed module
// at `callerPath` (found in the global assembly cache when `callerInCache`)
// calls; empty when nowhere. The native search is searchReference's, for the
// process's family, under `processContext`.
std::string findPInvokeModule(AnalysisPlatform& platform, ManagedProcess& process, const std::string& name,
                              const std::string& callerPath, bool callerInCache,
                              const ActivationContext* processContext, SearchOutcome& outcome);

// The identity of the assembly file at `path` (its Assembly row), read once
// per process; null when it is no assembly.
const AssemblyName* assemblyIdentity(AnalysisPlatform& platform, ManagedProcess& process, const std::string& path);

// The whole of a small file (a configuration file); false when it cannot be
// read or is larger than `limit` (then `tooLarge`).
bool readSmallFile(AnalysisPlatform& platform, const std::string& path, std::size_t limit, std::string& out,
                   bool& tooLarge);

// The folder of `path` (through its last '\\' or '/'), and its file name.
std::string pathFolder(const std::string& path);
std::string pathFileName(const std::string& path);

}  // namespace vost
