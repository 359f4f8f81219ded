// The one bounded reader for every read of a file.
//
// Offsets come from the file itself and may be anything, so all arithmetic is
// done in 64 bits (a 32-bit offset plus a length cannot wrap there) and every
// read checks the whole range against the size before touching a byte. Values
// are assembled byte by byte, little-endian, so no read depends on alignment.
//
// A view reads either bytes held in memory (a mapped view, a buffer) or a
// ByteSource that fetches them on demand (a file read a block at a time). The
// bounds are checked here in both cases; a source is only asked for ranges
// inside the view, and a source that still cannot deliver (a file that shrank
// after it was opened) makes the read fail like a read past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vost {

class ByteSource {
public:
    // Copies [offset, offset + length) into `out`; false when the bytes can
    // no longer be read.
    virtual bool read(std::uint64_t offset, std::uint64_t length, void* out) = 0;

protected:
    ~ByteSource() = default;
};

class ByteView {
public:
    ByteView() = default;
    ByteView(const std::uint8_t* data, std::uint64_t size) : data_(data), size_(data ? size : 0) {}
    // `size` bytes of `source` from its start; the source must outlive the view.
    ByteView(ByteSource* source, std::uint64_t size) : source_(source), size_(source ? size : 0) {}

    std::uint64_t size() const { return size_; }
    // Where the view starts within the view it was sliced from, at any depth.
    std::uint64_t start() const { return base_; }

    // True when [offset, offset + length) lies inside the view.
    bool contains(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }

    bool readU8(std::uint64_t offset, std::uint8_t& out) const { return fetch(offset, 1, &out); }
    bool readU16(std::uint64_t offset, std::uint16_t& out) const {
        std::uint8_t b[2];
        if (!fetch(offset, 2, b)) return false;
        out = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
        return true;
    }
    bool readU32(std::uint64_t offset, std::uint32_t& out) const {
        std::uint8_t b[4];
        if (!fetch(offset, 4, b)) return false;
        out = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
              (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
        return true;
    }

    // Copies `length` bytes into `out` when they all lie inside the view.
    bool readBytes(std::uint64_t offset, std::uint64_t length, void* out) const {
        return fetch(offset, length, out);
    }

    // Copies the zero-terminated text at `offset` into `out` (capacity bytes,
    // terminator included). Fails, leaving `out` empty, when the terminator is
    // not inside the view or the text does not fit.
    bool readCString(std::uint64_t offset, char* out, std::size_t capacity) const;

    // A view of [offset, offset + length), or an empty view when out of range.
    ByteView slice(std::uint64_t offset, std::uint64_t length) const {
        if (!contains(offset, length)) return ByteView();
        ByteView part;
        part.data_ = data_ ? data_ + offset : nullptr;
        part.source_ = source_;
        part.base_ = base_ + offset;
        part.size_ = length;
        return part;
    }

private:
    bool fetch(std::uint64_t offset, std::uint64_t length, void* out) const {
        if (!contains(offset, length)) return false;
        if (length == 0) return true;
        if (data_) {
            std::memcpy(out, data_ + offset, static_cast<std::size_t>(length));
            return true;
        }
        return source_ && source_->read(base_ + offset, length, out);
    }

    const std::uint8_t* data_ = nullptr;
    ByteSource* source_ = nullptr;
    std::uint64_t base_ = 0;  // the view's start within the source
    std::uint64_t size_ = 0;
};

}  // namespace vost
