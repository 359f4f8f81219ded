// The one bounded reader for every read of a mapped file.
//
// Offsets come from the file itself and may be anything, so all arithmetic is
// done in 64 bits (a 32-bit offset plus a length cannot wrap there) and every
// read checks the whole range against the size before touching a byte. Values
// are assembled byte by byte, little-endian, so no read depends on alignment.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vost {

class ByteView {
public:
    ByteView() = default;
    ByteView(const std::uint8_t* data, std::uint64_t size) : data_(data), size_(data ? size : 0) {}

    std::uint64_t size() const { return size_; }
    const std::uint8_t* data() const { return data_; }

    // True when [offset, offset + length) lies inside the view.
    bool contains(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }

    bool readU8(std::uint64_t offset, std::uint8_t& out) const {
        if (!contains(offset, 1)) return false;
        out = data_[offset];
        return true;
    }
    bool readU16(std::uint64_t offset, std::uint16_t& out) const {
        if (!contains(offset, 2)) return false;
        out = static_cast<std::uint16_t>(data_[offset] | (data_[offset + 1] << 8));
        return true;
    }
    bool readU32(std::uint64_t offset, std::uint32_t& out) const {
        if (!contains(offset, 4)) return false;
        out = static_cast<std::uint32_t>(data_[offset]) |
              (static_cast<std::uint32_t>(data_[offset + 1]) << 8) |
              (static_cast<std::uint32_t>(data_[offset + 2]) << 16) |
              (static_cast<std::uint32_t>(data_[offset + 3]) << 24);
        return true;
    }

    // Copies `length` bytes into `out` when they all lie inside the view.
    bool readBytes(std::uint64_t offset, std::uint64_t length, void* out) const;

    // Copies the zero-terminated text at `offset` into `out` (capacity bytes,
    // terminator included). Fails, leaving `out` empty, when the terminator is
    // not inside the view or the text does not fit.
    bool readCString(std::uint64_t offset, char* out, std::size_t capacity) const;

    // A view of [offset, offset + length), or an empty view when out of range.
    ByteView slice(std::uint64_t offset, std::uint64_t length) const {
        if (!contains(offset, length)) return ByteView();
        return ByteView(data_ + offset, length);
    }

private:
    const std::uint8_t* data_ = nullptr;
    std::uint64_t size_ = 0;
};

}  // namespace vost
