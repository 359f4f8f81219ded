// How long the readable form of an Itanium decorated name ("_ZN4File4openEPKc")
// would be, found without writing it: the name is parsed into a tree in a
// fixed budget of memory and nesting, and the tree's size is summed with each
// shared part (a substitution, a template parameter) counted at every place
// it is printed.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace vost {

// An upper bound of the length of `name`'s readable form (name starting
// "_Z"), or nothing when the name does not parse, nests deeper than the
// undecorator allows or needs more memory than it grants.
std::optional<std::size_t> itaniumReadableLength(std::string_view name);

}  // namespace vost
