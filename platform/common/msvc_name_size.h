// How long the readable form of a Microsoft decorated name
// ("?open@File@@QAE_NPBD@Z") would be, found without writing it: the name is
// read by its grammar with lengths in place of texts, each back-reference
// (a name or parameter type used again by its number) counted at the length
// of what it repeats. The same code decides in every build, whichever reader
// then writes the name (LLVM's natively, the system's on Windows).
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace vost {

// An upper bound of the length of `name`'s readable form (name starting
// "?"), or nothing when the name does not follow the grammar or nests
// deeper than the undecorator allows. Where readers number back-references
// differently (LLVM's skips a repeated name and a function template's own
// name, the system's does not), a reference is counted at the longest entry
// either could mean.
std::optional<std::size_t> msvcReadableLength(std::string_view name);

}  // namespace vost
