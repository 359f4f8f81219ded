// Side-by-side assemblies and known DLLs: the two ways the loader takes a
// module's file from somewhere else than the search order.
//
// A program's manifest (or a DLL's own) names assemblies; the activation
// context the loader builds from it sends each DLL name that one of those
// assemblies lists to the assembly's folder, before the known DLLs and the
// search order (API set contracts still come first). The platform builds the
// contexts (Windows asks its own activation-context functions; elsewhere the
// manifests and the store of a Windows folder are read); the analysis only
// asks them which file a name goes to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vost {

// How the loader came to a module's file.
enum class FoundBy : std::uint8_t {
    search,      // the search order
    apiSet,      // an API set contract, through the schema to its host
    sideBySide,  // an assembly of an activation context
    knownDll,    // the system's known DLLs
    runtime,     // a managed runtime's own binding (assemblies, its own P/Invoke folders)
    notFound,
};

// "search", "apiSet", "sideBySide", "knownDll", "runtime", "notFound".
const char* foundByName(FoundBy how);

// An assembly as a manifest names it (<assemblyIdentity>): each attribute as
// written, empty when absent.
struct AssemblyIdentity {
    std::string name;
    std::string processorArchitecture;
    std::string publicKeyToken;
    std::string version;
    std::string language;
    std::string type;

    // The identity as Windows writes it:
    // Name,processorArchitecture="x86",publicKeyToken="...",type="win32",version="1.2.3.4"
    // (attributes that are empty left out, language after the token when set).
    std::string text() const;
};

// Where a context sends a DLL name.
struct Redirection {
    std::string path;           // the file the loader takes (as searchModule names files)
    AssemblyIdentity assembly;  // the assembly that lists the name (the version the store gave)
};

// Something that kept part of a context from being built.
struct ContextProblem {
    enum class Kind : std::uint8_t {
        missingAssembly,  // a required (not optional) dependency the store and the program's folder lack
        badManifest,      // a manifest that could not be read: malformed, too large, hostile
        refused,          // the platform refused to build the context (its error in `detail`)
    };
    Kind kind = Kind::missingAssembly;
    AssemblyIdentity assembly;  // missingAssembly: the assembly as asked for
    std::string detail;         // what, in a few words
};

// One activation context, as the platform built it. Immutable once built, so
// any number of threads may ask it.
class ActivationContext {
public:
    virtual ~ActivationContext() = default;

    // The file that this context sends the DLL `name` to (a plain file name,
    // case ignored; ".dll" is not appended) and the assembly that lists it.
    // False when no assembly of the context lists the name: the loader then
    // goes on to the known DLLs and the search order.
    virtual bool redirect(const char* name, Redirection& out) const = 0;

    // What --check names about this context; empty when it was built whole.
    std::vector<ContextProblem> problems;
};

// Which manifest of a module the loader reads.
enum class ManifestRole : std::uint8_t {
    // A program's: RT_MANIFEST resource 1, else NAME.exe.manifest beside it
    // (on Windows the external one first when PreferExternalManifest says so);
    // the process's context, in force for every module of the closure.
    process,
    // A DLL's own RT_MANIFEST resource 2: in force for that DLL's own imports,
    // asked before the process's context.
    module,
};

}  // namespace vost
