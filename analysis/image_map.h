// The one RVA -> bytes mapping of the PE readers: the image as the loader
// maps it, read through the bounded reader without ever reading outside the
// file.
//
// The loader's rules, as Wine's loader applies them:
// - An image whose SectionAlignment is not a multiple of the 4 KiB page is
//   mapped flat: the whole file at RVA 0 (RVA = file offset), cut at
//   SizeOfImage rounded up to a page.
// - Otherwise the headers are mapped at RVA 0: the first SizeOfHeaders bytes
//   (raised to the end of the section table when that lies further), the
//   rest of their last page zero. Then each section in table order: its size
//   is VirtualSize, or SizeOfRawData when VirtualSize is 0, rounded up to a
//   page; its file bytes start at PointerToRawData rounded down to 512 and
//   run SizeOfRawData (plus what the rounding moved) rounded up to 512, no
//   further than the section's size. They are copied to VirtualAddress, the
//   rest of their last page zero. A section with PointerToRawData 0 or no
//   file bytes copies nothing. A later section overwrites what an earlier
//   one (or the headers) put at the same addresses, as the loader's copy
//   order does; what no copy covers reads as zero.
// - Every mapped byte past the end of the file reads as zero: such bytes are
//   made here, never read.
// Where the loader refuses an image (more than 96 sections, a section past
// SizeOfImage or past the end of the file, a flat image whose sections do
// not lie at their own file offsets), the mapping is still made by the same
// rules, so that what the file names can be shown; the image then reaches
// at least as far as its last copy.
//
// The table is read once and cut into segments of the address space, each
// owned by the last copy that covers it; a read is a binary search and one
// copy per segment it crosses.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/byte_view.h"

namespace vost {

constexpr std::uint32_t kNoFileOffset = 0xFFFFFFFFu;

class ImageMap : private ByteSource {
public:
    // Maps the PE image whose "PE\0\0" signature lies at `newHeader` of
    // `file`. The section table ends at the first header that leaves the file.
    ImageMap(const ByteView& file, std::uint64_t newHeader);
    ImageMap(const ImageMap&) = delete;
    ImageMap& operator=(const ImageMap&) = delete;

    // The mapped image: offsets are RVAs, its size the end of the image. The
    // view reads through this object and must not outlive it.
    ByteView view() const { return ByteView(const_cast<ImageMap*>(this), size_); }

    // The mapped bytes from `rva` to the end of the image; empty past it.
    ByteView at(std::uint64_t rva) const { return rva < size_ ? view().slice(rva, size_ - rva) : ByteView(); }

    // The file offset of the byte mapped at `rva`, or kNoFileOffset when that
    // byte is a made zero or lies outside the image.
    std::uint32_t fileOffset(std::uint32_t rva) const;

    // True when the `length` bytes at `rva` are all read from one stretch of
    // the file, which then starts at `offset`.
    bool fileRange(std::uint32_t rva, std::uint64_t length, std::uint64_t& offset) const;

    bool flat() const { return flat_; }

private:
    // One copy into the image: [start, end) of the address space, whose first
    // `fileLength` bytes come from the file at `fileStart` (zeros where the
    // file ends first), the rest zero.
    struct Copy {
        std::uint64_t start, end, fileStart, fileLength;
    };
    struct Segment {
        std::uint64_t start;  // runs up to the next segment's start, or the image's end
        std::int64_t owner;   // index into copies_, -1 for zeros
    };

    bool read(std::uint64_t offset, std::uint64_t length, void* out) override;
    void mapSections(std::uint64_t newHeader, std::uint64_t imageSize);
    void buildSegments();
    // The segment holding `rva` (which lies inside the image).
    std::size_t segmentOf(std::uint64_t rva) const;
    std::uint64_t segmentEnd(std::size_t index) const;

    ByteView file_;
    bool flat_ = false;
    std::uint64_t size_ = 0;
    std::vector<Copy> copies_;
    std::vector<Segment> segments_;
};

}  // namespace vost
