// What a node of the tree holds about managed code: the facts of a managed
// module, and for a node named by a managed module's metadata, what was
// asked for and how the runtime of its process answered.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/cli_metadata.h"

namespace vost {

// Why a node is in the tree.
enum class NodeRole : std::uint8_t {
    module,       // named by an import or delay-load table, or the scanned file
    assembly,     // an AssemblyRef row of a managed module
    pinvoke,      // a native module a managed module calls through P/Invoke
    appAssembly,  // the program's own assembly, which its .NET app host runs (app.exe -> app.dll)
};

// "module", "assembly", "pinvoke", "appAssembly".
const char* nodeRoleName(NodeRole role);

// A managed module's own facts.
struct ManagedModule {
    std::string runtimeVersion;         // the metadata's version text: "v4.0.30319"
    bool ilOnly = false;                // no native code: the runtime maps it and binds no import of it
    std::string assembly;               // its Assembly row's display name; empty for a module without one
    std::vector<std::string> problems;  // what of its metadata could not be read
};

// How the runtime answered a reference.
enum class Verdict : std::uint8_t {
    loads,          // bound as asked
    notFound,       // nowhere the runtime looks
    otherIdentity,  // the file the runtime takes is another version, culture or key: the load fails
    notAnAssembly,  // the file the runtime takes is no assembly
};

struct ManagedReference {
    AssemblyName wanted;           // as referenced (a P/Invoke module: its name alone)
    AssemblyVersion bound;         // the version asked for after policy (wanted's when none applied)
    std::string policy;            // what changed the version: "bindingRedirect", "unification"; empty when none
    Verdict verdict = Verdict::loads;
    std::string where;             // where it was found: "global assembly cache", "application folder"...
    std::string detail;            // for a failure, what was found or where it was looked for
};

}  // namespace vost
