// A ByteSource that reads its bytes a block at a time and keeps the last few
// blocks. The header walks and the version reader make many small reads close
// together (fields of one header, descriptors one after another, names next
// to them), so a few system calls serve a whole file, and only the blocks a
// scan looks at are ever read: nothing is mapped, so nothing has to be
// unmapped, and a file that shrinks while it is read gives failed reads
// rather than a fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "analysis/byte_view.h"

namespace vost {

class BlockReader : public ByteSource {
public:
    static constexpr std::size_t kBlockSize = 4096;
    static constexpr int kBlockCount = 8;

    explicit BlockReader(std::uint64_t size);
    virtual ~BlockReader() = default;
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;

    std::uint64_t size() const { return size_; }
    ByteView view() { return ByteView(this, size_); }

    // Copies [offset, offset + length) of the first `size()` bytes; false
    // when any of it lies past them or cannot be read.
    bool read(std::uint64_t offset, std::uint64_t length, void* out) override;

protected:
    // Reads exactly `length` bytes at `offset`; false when fewer could be read.
    virtual bool readRaw(std::uint64_t offset, std::size_t length, void* out) = 0;

private:
    struct Block {
        std::uint64_t index = ~std::uint64_t(0);  // none
        std::uint8_t bytes[kBlockSize];
    };
    const Block* block(std::uint64_t index);

    std::uint64_t size_;
    std::unique_ptr<Block[]> blocks_;
    int next_ = 0;             // the slot to be replaced next
    const Block* last_ = nullptr;  // the block the last read ended in
};

}  // namespace vost
