// vostscan --check --json: the check's findings as a JSON value.
#pragma once

#include <ostream>

#include "page/closure_check.h"

namespace vost {

// The "check" member of the JSON document (without the name).
void writeCheckJson(const ClosureCheck& check, std::ostream& out);

}  // namespace vost
