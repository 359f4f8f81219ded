// Where a referenced module is looked for: the one search that every
// reference goes through, an import descriptor's module as much as the
// module part of a forwarded export, so that a name resolves the same way
// whichever of them names it.
#pragma once

#include <cstdint>

#include "analysis/platform.h"

namespace vost {

// The module that holds the reference: its family decides the system folder
// searched, and its file is the importer the loader knows it by.
struct Referrer {
    ModuleBits bits = ModuleBits::bits32;
    const char* path = "";  // the referring module's file
    bool pe = true;         // a PE module's reference (an NE module's otherwise)
};

// As AnalysisPlatform::searchModule: the length of the path written to
// `out`, 0 when nothing was found, `capacity` or more when it does not fit.
std::uint32_t searchReference(AnalysisPlatform& platform, const Referrer& referrer, const char* name, char* out,
                              std::uint32_t capacity);

}  // namespace vost
