// vostscan as a function: parses the command line, scans every file and
// writes the outputs. Returns the exit status.
#pragma once

#include <ostream>

namespace vost {

// The folder used as the system folders when no --search-dir is given and it
// exists (POSIX build).
constexpr const char* kDefaultSearchDir = "/usr/lib/i386-linux-gnu/wine/i386-windows";

int runScanner(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace vost
