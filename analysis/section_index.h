// The one RVA -> file-offset lookup of the PE readers: the first section in
// table order whose raw-backed range (the smaller of VirtualSize and
// SizeOfRawData from VirtualAddress) holds the RVA. The table is read once.
// Real files have a handful of sections, looked through in order; a hostile
// file may have 65535 of them, so a large table is cut into segments of the
// address space, each owned by the first section (in table order) that covers
// it, and a lookup is a binary search.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/byte_view.h"

namespace vost {

constexpr std::uint32_t kNoFileOffset = 0xFFFFFFFFu;

class SectionIndex {
public:
    // Reads the section table of the PE image whose "PE\0\0" signature lies
    // at `newHeader`. The table ends at the first header that leaves the file.
    SectionIndex(const ByteView& image, std::uint64_t newHeader);

    // PointerToRawData - VirtualAddress + rva of the section holding `rva`,
    // in 32-bit wrapping arithmetic, or kNoFileOffset when none holds it.
    std::uint32_t fileOffset(std::uint32_t rva) const {
        const Section* section = find(rva);
        return section ? section->translate(rva) : kNoFileOffset;
    }

    // The bytes from `rva` to the end of the raw-backed range of the section
    // holding it, cut at the end of the file; an empty view when no section
    // holds it. Reading through this view keeps a table or a text inside the
    // section it starts in.
    ByteView view(const ByteView& image, std::uint32_t rva) const {
        const Section* section = find(rva);
        if (!section) return ByteView();
        const std::uint64_t offset = section->translate(rva);
        if (offset >= image.size()) return ByteView();
        std::uint64_t length = section->end - rva;
        if (length > image.size() - offset) length = image.size() - offset;
        return image.slice(offset, length);
    }

private:
    static constexpr std::size_t kLinearLimit = 32;

    struct Section {
        std::uint32_t start, end, pointerToRawData;
        std::uint32_t translate(std::uint32_t rva) const { return pointerToRawData - start + rva; }
    };
    struct Segment {
        std::uint32_t start;  // runs up to the next segment's start
        std::int64_t owner;   // index into sections_, -1 for none
    };

    const Section* find(std::uint32_t rva) const;
    void buildSegments();

    std::vector<Section> sections_;
    std::vector<Segment> segments_;
};

}  // namespace vost
