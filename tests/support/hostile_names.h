// Decorated names made to be costly to read, for the undecorator's tests,
// the Functions dialog's test and bench/undecorate_bench.py: nested
// back-references (Microsoft) and substitutions (Itanium) that double the
// reading at each level, names nested deeper than the readers may go, very
// long plain names and truncated ones; and the images that export and
// import them.
#pragma once

#include <string>
#include <vector>

#include "tests/support/image_builder.h"

namespace vost::test {

// void f(class a<T, T>) with T itself a<...>, `levels` deep, the second T a
// back-reference to the first: the reading doubles at each level.
std::string msvcDoubling(int levels);
// The same in the Itanium scheme, through substitutions: f(a<T, T>).
std::string itaniumDoubling(int levels);

struct HostileName {
    std::string label;
    std::string name;
    bool read;  // read (within the undecorator's limits), or shown as it is
};

// The table: each kind at 20, 30 and 64 levels and at a depth still read,
// plain names just within and past the length cap, truncated names.
std::vector<HostileName> hostileNames();

// A DLL named `module` exporting `names` (each its own entry), and a program
// importing each of them from it by name.
PeImageLayout exportingNames(const std::string& module, const std::vector<std::string>& names);
PeImageLayout importingNames(const std::string& module, const std::vector<std::string>& names);

}  // namespace vost::test
