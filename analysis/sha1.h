// SHA-1 of a byte string, for the one use the analysis has for it: a
// strong-named assembly's public key token is the last 8 bytes of the
// SHA-1 of its public key, reversed. Nothing here is used for security.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vost {

std::array<std::uint8_t, 20> sha1(const std::uint8_t* data, std::size_t size);

}  // namespace vost
