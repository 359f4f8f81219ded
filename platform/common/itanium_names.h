// Itanium decorated names ("_ZN4File4openEPKc", MinGW's and clang's) in
// readable form, in every build through LLVM's demangler (the header-only
// llvm/Demangle/ItaniumDemangle.h of Debian's llvm-14-dev). Its parser builds
// a tree in a fixed budget of memory and nesting; the tree's printed length
// is summed before anything is printed, each shared part (a substitution, a
// template parameter) counted at every place it is printed, and only a tree
// within the limits is printed. Measure and reading come from the same tree,
// so the measure bounds the reading.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vost {

// An upper bound of the length of `name`'s readable form (name starting
// "_Z"), or nothing when the name does not parse, nests deeper than the
// undecorator allows or needs more memory than it grants.
std::optional<std::size_t> itaniumReadableLength(std::string_view name);

// The readable form, or empty when the name cannot be read or measures
// longer than kMaxReadableName.
std::string undecorateItaniumName(std::string_view name);

}  // namespace vost
