#include "analysis/byte_view.h"

#include <cstring>

namespace vost {

bool ByteView::readBytes(std::uint64_t offset, std::uint64_t length, void* out) const {
    if (!contains(offset, length)) return false;
    if (length) std::memcpy(out, data_ + offset, static_cast<std::size_t>(length));
    return true;
}

bool ByteView::readCString(std::uint64_t offset, char* out, std::size_t capacity) const {
    if (capacity == 0) return false;
    out[0] = '\0';
    if (offset >= size_) return false;
    const std::uint64_t available = size_ - offset;
    const std::uint64_t limit = available < capacity ? available : capacity;
    const void* end = std::memchr(data_ + offset, 0, static_cast<std::size_t>(limit));
    if (!end) return false;  // no terminator in the file, or the text is too long
    const std::size_t length = static_cast<const std::uint8_t*>(end) - (data_ + offset);
    std::memcpy(out, data_ + offset, length + 1);
    return true;
}

}  // namespace vost
