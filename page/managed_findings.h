// Will it load? The managed part of the check, read from the scanned tree:
// what the walk found when the process's runtime bound each assembly
// reference and looked for each P/Invoke module, what kept the runtime from
// starting as the program asks, and what of a module's metadata could not
// be read.
#pragma once

#include <cstddef>
#include <vector>

#include "page/closure_check.h"

namespace vost {

// The managed findings of the module at `index` of `tree`: its children's
// failed references (the first of each name), its own metadata's problems,
// and its process's problems when its module set the process up.
std::vector<Finding> managedFindings(const TreeRecord& tree, std::size_t index);

// Whether the check reads no import of the module: an IL-only assembly that
// its process's runtime maps itself.
bool importsUnbound(const ModuleNode& node);

}  // namespace vost
