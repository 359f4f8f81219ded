// The lookup of one id among a PE resource directory's id entries, shared by
// the readers that walk resources (icons, manifests). The entries of a
// directory are its named ones, then its id ones in ascending order; the
// loader finds an id by binary search over the id entries, and so do we.
#pragma once

#include <cstdint>

namespace vost {

// Offsets in an entry are from the resource root; the high bit marks a
// subdirectory and is not part of the offset.
constexpr std::uint32_t kResourceOffsetBits = 0x7FFFFFFFu;

// Finds `id` among the id entries of the directory at `dir` and gives its
// target (root + offset). `read` is any reader with u16(at, out) and
// u32(at, out) that fail outside the file. Each step halves the range, so the
// work is bounded by the 16-bit count.
template <typename Reader>
bool findResourceId(Reader& read, std::uint64_t root, std::uint64_t dir, std::uint16_t id, std::uint64_t& target) {
    std::uint16_t named = 0, ids = 0;
    if (!read.u16(dir + 12, named) || !read.u16(dir + 14, ids)) return false;
    int low = named;
    int high = int(named) + int(ids) - 1;
    while (low <= high) {
        const int pos = (low + high) / 2;
        const std::uint64_t entry = dir + 16 + 8 * std::uint64_t(pos);
        std::uint16_t entryId = 0;
        if (!read.u16(entry, entryId)) return false;
        if (entryId == id) {
            std::uint32_t offset = 0;
            if (!read.u32(entry + 4, offset)) return false;
            target = root + (offset & kResourceOffsetBits);
            return true;
        }
        if (entryId > id)
            high = pos - 1;
        else
            low = pos + 1;
    }
    return false;
}

}  // namespace vost
