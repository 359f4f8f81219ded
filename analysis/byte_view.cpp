#include "analysis/byte_view.h"

namespace vost {

bool ByteView::readCString(std::uint64_t offset, char* out, std::size_t capacity) const {
    if (capacity == 0) return false;
    out[0] = '\0';
    if (offset >= size_) return false;
    const std::uint64_t available = size_ - offset;
    const std::size_t limit = static_cast<std::size_t>(available < capacity ? available : capacity);
    if (data_) {
        const void* end = std::memchr(data_ + offset, 0, limit);
        if (!end) return false;  // no terminator in the file, or the text is too long
        const std::size_t length = static_cast<const std::uint8_t*>(end) - (data_ + offset);
        std::memcpy(out, data_ + offset, length + 1);
        return true;
    }
    // From a source, in pieces that end on 64-byte boundaries of the source:
    // a short name then costs no read of the block after it.
    std::size_t done = 0;
    while (done < limit) {
        const std::uint64_t at = base_ + offset + done;
        std::size_t piece = static_cast<std::size_t>(64 - at % 64);
        if (piece > limit - done) piece = limit - done;
        if (!source_ || !source_->read(at, piece, out + done)) break;
        if (std::memchr(out + done, 0, piece)) return true;
        done += piece;
    }
    out[0] = '\0';
    return false;
}

}  // namespace vost
