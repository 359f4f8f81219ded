// Running the cross compilers from native tests, and mending what GNU ld
// leaves out of a program with delay-loaded modules.
#pragma once

#include <string>

#include "tests/support/image_builder.h"

namespace vost::test {

// Runs `command` through the shell: "" when it succeeds, else the command
// and everything it printed.
std::string runCommand(const std::string& command);

// GNU ld (2.40) leaves data directory 13 empty though dlltool's delay
// library brings a descriptor (symbol __DELAY_IMPORT_DESCRIPTOR_*): the
// program works, its delay-load helper finds the descriptor by symbol, but no
// tool can see it. As a linker that fills the directory would, points it at
// the descriptor in `exe` (the bytes of the program at `path`, whose symbols
// `nm` lists) and ends the table after it. "" when done, else what failed.
std::string registerDelayDescriptor(Bytes& exe, const std::string& nm, const std::string& path);

}  // namespace vost::test
