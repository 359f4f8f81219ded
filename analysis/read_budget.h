// What one PE reader may copy out of a file, and the bounded text read the
// readers share.
//
// Tables and texts of a well-formed file occupy distinct bytes, so what a
// reader copies never exceeds the file's size. A hostile file can point a
// million table entries at one long text; charging every byte looked at
// against the file's size keeps the work and the memory linear in the file
// whatever the tables say.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "analysis/byte_view.h"

namespace vost {

// The longest symbol or forwarder text read (terminator excluded); a longer
// one counts as unreadable. Real names stay far below it, decorated C++ names
// included.
constexpr std::size_t kMaxSymbolLength = 65535;

class ReadBudget {
public:
    explicit ReadBudget(std::uint64_t fileSize)
        : left_((fileSize < kLargestCharge ? fileSize : kLargestCharge) + kSlack) {}

    // Takes `bytes` from the budget; false (and the budget spent) when they
    // are not left.
    bool spend(std::uint64_t bytes) {
        if (bytes > left_) {
            left_ = 0;
            spent_ = true;
            return false;
        }
        left_ -= bytes;
        return true;
    }
    bool spent() const { return spent_; }

private:
    static constexpr std::uint64_t kLargestCharge = std::uint64_t(1) << 30;
    static constexpr std::uint64_t kSlack = 64 * 1024;  // headers and rounding of tiny files
    std::uint64_t left_;
    bool spent_ = false;
};

// Reads the zero-terminated text at `offset` of `view` into `out`. The
// terminator must lie inside the view and within kMaxSymbolLength bytes.
// Charges the bytes looked at, terminator included; false when the text is
// unreadable or the budget ran out (`out` then holds no meaning).
inline bool readBoundedText(const ByteView& view, std::uint64_t offset, std::string& out,
                            ReadBudget& budget) {
    out.clear();
    char piece[64];
    for (;;) {
        if (offset >= view.size()) return false;
        std::uint64_t length = view.size() - offset;
        if (length > sizeof piece) length = sizeof piece;
        const std::size_t room = kMaxSymbolLength + 1 - out.size();
        if (length > room) length = room;
        if (length == 0 || !view.readBytes(offset, length, piece)) return false;
        const void* zero = std::memchr(piece, 0, std::size_t(length));
        const std::size_t used = zero ? std::size_t(static_cast<const char*>(zero) - piece) : std::size_t(length);
        if (!budget.spend(zero ? used + 1 : used)) return false;
        out.append(piece, used);
        if (zero) return true;
        offset += length;
    }
}

}  // namespace vost
