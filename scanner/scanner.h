// vostscan as a function: parses the command line, scans every file and
// writes the outputs. Returns the exit status.
#pragma once

#include <ostream>

namespace vost {

// The folders used as the system folders of 32-bit and of 64-bit modules when
// no --search-dir (--search-dir-64) is given and they exist (POSIX build):
// Wine's own PE files of each bitness.
constexpr const char* kDefaultSearchDir = "/usr/lib/i386-linux-gnu/wine/i386-windows";
constexpr const char* kDefaultSearchDir64 = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";

int runScanner(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace vost
