// Where a referenced module is looked for: the one search that every
// reference goes through, an import descriptor's module as much as the
// module part of a forwarded export, so that a name resolves the same way
// whichever of them names it.
#pragma once

#include <cstdint>
#include <string>

#include "analysis/activation_context.h"
#include "analysis/platform.h"

namespace vost {

// The module that holds the reference: its family decides the system folder
// searched, and its file is the importer the loader knows it by.
struct Referrer {
    ModuleBits bits = ModuleBits::bits32;
    const char* path = "";  // the referring module's file
    bool pe = true;         // a PE module's reference (an NE module's otherwise)
    // The activation contexts in force for its imports, asked in this order:
    // the module's own (a DLL's resource-2 manifest), then the process's (the
    // program's manifest, or the system's default), then the system's
    // default (AnalysisPlatform::defaultContext) behind them. Null when none.
    const ActivationContext* own = nullptr;
    const ActivationContext* process = nullptr;
};

// How a search came to its answer, for callers that show it.
struct SearchOutcome {
    FoundBy how = FoundBy::notFound;
    AssemblyIdentity assembly;  // sideBySide: the assembly that lists the name
};

// As AnalysisPlatform::searchModule: the path found, empty when none.
// The loader's order: an API set contract maps to its host; a name an
// activation context redirects goes to its assembly's folder; a known DLL
// comes from its family's system folder; anything else is searched for.
std::string searchReference(AnalysisPlatform& platform, const Referrer& referrer, const char* name,
                            SearchOutcome* outcome = nullptr);

}  // namespace vost
