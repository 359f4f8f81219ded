#include "analysis/image_map.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace vost {

namespace {
constexpr std::uint64_t kNumberOfSections = 6;
constexpr std::uint64_t kSizeOfOptionalHeader = 20;
constexpr std::uint64_t kOptionalHeader = 24;
constexpr std::uint64_t kSectionAlignment = kOptionalHeader + 32;
constexpr std::uint64_t kSizeOfImage = kOptionalHeader + 56;
constexpr std::uint64_t kSizeOfHeaders = kOptionalHeader + 60;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint64_t kPageMask = 0xFFF;
// The loader reads section data in 512-byte sectors, whatever FileAlignment says.
constexpr std::uint64_t kSectorMask = 0x1FF;
// RVAs are 32 bits wide: nothing maps at or above 4 GiB.
constexpr std::uint64_t kAddressLimit = std::uint64_t(1) << 32;

std::uint64_t roundUp(std::uint64_t value, std::uint64_t mask) { return (value + mask) & ~mask; }
}  // namespace

ImageMap::ImageMap(const ByteView& file, std::uint64_t newHeader) : file_(file) {
    std::uint32_t sectionAlignment = 0, sizeOfImage = 0;
    if (!file.readU32(newHeader + kSectionAlignment, sectionAlignment) ||
        !file.readU32(newHeader + kSizeOfImage, sizeOfImage))
        sectionAlignment = 0x1000;  // headers cut short: only the section table can say more
    // SizeOfImage rounded up to the section alignment (at least a page), by
    // the mask arithmetic the loader uses.
    const std::uint64_t alignMask = std::max<std::uint64_t>(sectionAlignment ? sectionAlignment - 1 : 0, kPageMask);
    const std::uint64_t imageSize = std::min(roundUp(sizeOfImage, alignMask), kAddressLimit);
    if (sectionAlignment & kPageMask) {
        flat_ = true;
        size_ = std::min(imageSize, roundUp(file.size(), kPageMask));
        copies_.push_back(Copy{0, size_, 0, std::min<std::uint64_t>(file.size(), size_)});
    } else {
        mapSections(newHeader, imageSize);
    }
    buildSegments();
}

void ImageMap::mapSections(std::uint64_t newHeader, std::uint64_t imageSize) {
    std::uint16_t count = 0, optionalSize = 0;
    std::uint32_t sizeOfHeaders = 0;
    file_.readU16(newHeader + kNumberOfSections, count);
    file_.readU16(newHeader + kSizeOfOptionalHeader, optionalSize);
    file_.readU32(newHeader + kSizeOfHeaders, sizeOfHeaders);
    const std::uint64_t table = newHeader + kOptionalHeader + optionalSize;

    // The headers: at least up to the end of the section table.
    std::uint64_t headers = std::max<std::uint64_t>(sizeOfHeaders, table + kSectionHeaderSize * count);
    headers = std::min(headers, file_.size());
    copies_.push_back(Copy{0, roundUp(headers, kPageMask), 0, headers});

    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t header = table + std::uint64_t(i) * kSectionHeaderSize;
        std::uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
        if (!file_.contains(header, kSectionHeaderSize) || !file_.readU32(header + 8, virtualSize) ||
            !file_.readU32(header + 12, virtualAddress) || !file_.readU32(header + 16, rawSize) ||
            !file_.readU32(header + 20, rawPointer))
            break;
        const std::uint64_t mapSize = roundUp(virtualSize ? virtualSize : rawSize, kPageMask);
        const std::uint64_t fileStart = rawPointer & ~kSectorMask;
        const std::uint64_t fileLength =
            std::min(roundUp(std::uint64_t(rawSize) + (rawPointer & kSectorMask), kSectorMask), mapSize);
        if (rawPointer == 0 || fileLength == 0) continue;
        const std::uint64_t end = std::min(virtualAddress + roundUp(fileLength, kPageMask), kAddressLimit);
        copies_.push_back(Copy{virtualAddress, end, fileStart, fileLength});
    }
    size_ = imageSize;
    for (const Copy& copy : copies_) size_ = std::max(size_, copy.end);
}

void ImageMap::buildSegments() {
    struct Event {
        std::uint64_t at;
        bool opens;
        std::uint32_t copy;
    };
    std::vector<Event> events;
    for (std::uint32_t i = 0; i < copies_.size(); ++i) {
        if (copies_[i].end <= copies_[i].start) continue;
        events.push_back(Event{copies_[i].start, true, i});
        events.push_back(Event{copies_[i].end, false, i});
    }
    std::sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.at < b.at; });
    segments_.push_back(Segment{0, -1});
    std::set<std::uint32_t> covering;  // copies covering the current segment; the last one wins
    for (std::size_t k = 0; k < events.size();) {
        const std::uint64_t at = events[k].at;
        for (; k < events.size() && events[k].at == at; ++k) {
            if (events[k].opens)
                covering.insert(events[k].copy);
            else
                covering.erase(events[k].copy);
        }
        const std::int64_t owner = covering.empty() ? -1 : std::int64_t(*covering.rbegin());
        if (segments_.back().start == at)
            segments_.back().owner = owner;
        else if (segments_.back().owner != owner)
            segments_.push_back(Segment{at, owner});
    }
}

std::size_t ImageMap::segmentOf(std::uint64_t rva) const {
    const auto it = std::upper_bound(segments_.begin(), segments_.end(), rva,
                                     [](std::uint64_t value, const Segment& s) { return value < s.start; });
    return std::size_t(it - segments_.begin()) - 1;  // the first segment starts at 0
}

std::uint64_t ImageMap::segmentEnd(std::size_t index) const {
    return index + 1 < segments_.size() ? segments_[index + 1].start : size_;
}

bool ImageMap::read(std::uint64_t offset, std::uint64_t length, void* out) {
    // The view has checked [offset, offset + length) against the image's size.
    auto* bytes = static_cast<std::uint8_t*>(out);
    while (length > 0) {
        const std::size_t index = segmentOf(offset);
        const std::uint64_t piece = std::min(length, segmentEnd(index) - offset);
        std::uint64_t fromFile = 0;
        if (segments_[index].owner >= 0) {
            const Copy& copy = copies_[std::size_t(segments_[index].owner)];
            const std::uint64_t into = offset - copy.start;
            if (into < copy.fileLength) {
                const std::uint64_t at = copy.fileStart + into;
                fromFile = std::min(piece, copy.fileLength - into);
                fromFile = at < file_.size() ? std::min(fromFile, file_.size() - at) : 0;
                if (fromFile > 0 && !file_.readBytes(at, fromFile, bytes)) return false;
            }
        }
        std::memset(bytes + fromFile, 0, std::size_t(piece - fromFile));
        bytes += piece;
        offset += piece;
        length -= piece;
    }
    return true;
}

bool ImageMap::fileRange(std::uint32_t rva, std::uint64_t length, std::uint64_t& offset) const {
    if (rva >= size_) return false;
    const std::size_t index = segmentOf(rva);
    if (segments_[index].owner < 0 || length > segmentEnd(index) - rva) return false;
    const Copy& copy = copies_[std::size_t(segments_[index].owner)];
    const std::uint64_t into = rva - copy.start;
    if (into >= copy.fileLength || length > copy.fileLength - into) return false;
    if (!file_.contains(copy.fileStart + into, length)) return false;
    offset = copy.fileStart + into;
    return true;
}

std::uint32_t ImageMap::fileOffset(std::uint32_t rva) const {
    std::uint64_t offset = 0;
    return fileRange(rva, 1, offset) ? std::uint32_t(offset) : kNoFileOffset;
}

}  // namespace vost
