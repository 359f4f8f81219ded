// Damaged copies of real files for the corruption sweeps that run through
// the platform: a bounded sample, the same for a given seed, aimed where the
// readers and the platform's icon lookup look.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"

namespace vost::test {

struct DamagedCopy {
    std::string label;  // what was done: "cut 1234" or "flip 0x1f3:2 0x8800:7"
    Bytes bytes;
};

// `count` copies of `file`, cuts and bit flips taking turns. Cuts fall
// anywhere, and half of them inside the resources; each flip changes one
// to three bits, in the headers, the resource directory, the icon
// resources' last bytes or anywhere, in turn.
std::vector<DamagedCopy> damagedCopies(const Bytes& file, int count, std::uint32_t seed);

}  // namespace vost::test
