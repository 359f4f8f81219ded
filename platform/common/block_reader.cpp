#include "platform/common/block_reader.h"

#include <cstring>

namespace vost {

BlockReader::BlockReader(std::uint64_t size) : size_(size) {}

const BlockReader::Block* BlockReader::block(std::uint64_t index) {
    if (last_ && last_->index == index) return last_;
    if (!blocks_) blocks_.reset(new Block[kBlockCount]);
    for (int i = 0; i < kBlockCount; ++i)
        if (blocks_[i].index == index) return last_ = &blocks_[i];

    Block& slot = blocks_[next_];
    next_ = (next_ + 1) % kBlockCount;
    const std::uint64_t start = index * kBlockSize;
    const std::uint64_t left = size_ - start;
    const std::size_t length = left < kBlockSize ? std::size_t(left) : kBlockSize;
    slot.index = ~std::uint64_t(0);
    if (!readRaw(start, length, slot.bytes)) return nullptr;
    slot.index = index;
    return last_ = &slot;
}

bool BlockReader::read(std::uint64_t offset, std::uint64_t length, void* out) {
    if (offset > size_ || length > size_ - offset) return false;
    if (length == 0) return true;
    // A long read goes to the file directly instead of through the blocks.
    if (length >= kBlockSize) return readRaw(offset, std::size_t(length), out);

    auto* target = static_cast<std::uint8_t*>(out);
    while (length) {
        const Block* b = block(offset / kBlockSize);
        if (!b) return false;
        const std::size_t within = std::size_t(offset % kBlockSize);
        const std::size_t piece = length < kBlockSize - within ? std::size_t(length) : kBlockSize - within;
        std::memcpy(target, b->bytes + within, piece);
        target += piece;
        offset += piece;
        length -= piece;
    }
    return true;
}

}  // namespace vost
