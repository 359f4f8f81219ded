// The fuzzer's bytes read as a file would be on POSIX, a block at a time, so
// a target can check that a reader answers the same through both kinds of view.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/common/block_reader.h"

namespace vost::fuzz {

class BufferBlockReader : public BlockReader {
public:
    BufferBlockReader(const std::uint8_t* data, std::size_t size) : BlockReader(size), data_(data) {}

private:
    bool readRaw(std::uint64_t offset, std::size_t length, void* out) override {
        std::memcpy(out, data_ + offset, length);
        return true;
    }
    const std::uint8_t* data_;
};

}  // namespace vost::fuzz
