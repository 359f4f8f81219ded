#include "analysis/section_index.h"

#include <algorithm>
#include <set>

namespace vost {

namespace {
constexpr std::uint64_t kNumberOfSections = 6;
constexpr std::uint64_t kSizeOfOptionalHeader = 20;
constexpr std::uint64_t kSectionTableStart = 24;
constexpr std::uint64_t kSectionHeaderSize = 40;
}  // namespace

SectionIndex::SectionIndex(const ByteView& image, std::uint64_t newHeader) {
    std::uint16_t count = 0, optionalSize = 0;
    if (!image.readU16(newHeader + kNumberOfSections, count) ||
        !image.readU16(newHeader + kSizeOfOptionalHeader, optionalSize))
        return;
    const std::uint64_t first = newHeader + kSectionTableStart + optionalSize;
    sections_.reserve(count < kLinearLimit ? count : kLinearLimit);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t header = first + std::uint64_t(i) * kSectionHeaderSize;
        std::uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
        if (!image.contains(header, kSectionHeaderSize) || !image.readU32(header + 8, virtualSize) ||
            !image.readU32(header + 12, virtualAddress) || !image.readU32(header + 16, rawSize) ||
            !image.readU32(header + 20, rawPointer))
            break;
        const std::uint32_t extent = virtualSize < rawSize ? virtualSize : rawSize;
        // A wrapped sum holds nothing: the range is empty then.
        sections_.push_back(Section{virtualAddress, virtualAddress + extent, rawPointer});
    }
    if (sections_.size() > kLinearLimit) buildSegments();
}

const SectionIndex::Section* SectionIndex::find(std::uint32_t rva) const {
    if (segments_.empty()) {
        for (const Section& section : sections_)
            if (section.start <= rva && rva < section.end) return &section;
        return nullptr;
    }
    auto it = std::upper_bound(segments_.begin(), segments_.end(), rva,
                               [](std::uint32_t value, const Segment& s) { return value < s.start; });
    if (it == segments_.begin()) return nullptr;
    --it;
    if (it->owner < 0) return nullptr;
    return &sections_[std::size_t(it->owner)];
}

void SectionIndex::buildSegments() {
    struct Event {
        std::uint32_t at;
        bool opens;
        std::uint32_t section;
    };
    std::vector<Event> events;
    for (std::uint32_t i = 0; i < sections_.size(); ++i) {
        if (sections_[i].end <= sections_[i].start) continue;
        events.push_back(Event{sections_[i].start, true, i});
        events.push_back(Event{sections_[i].end, false, i});
    }
    std::sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.at < b.at; });
    std::set<std::uint32_t> covering;  // sections covering the current segment
    for (std::size_t k = 0; k < events.size();) {
        const std::uint32_t at = events[k].at;
        for (; k < events.size() && events[k].at == at; ++k) {
            if (events[k].opens)
                covering.insert(events[k].section);
            else
                covering.erase(events[k].section);
        }
        const std::int64_t owner = covering.empty() ? -1 : std::int64_t(*covering.begin());
        if (segments_.empty() || segments_.back().owner != owner) segments_.push_back(Segment{at, owner});
    }
    // A table without any range still needs the segment form: one segment
    // owned by no section.
    if (segments_.empty()) segments_.push_back(Segment{0, -1});
}

}  // namespace vost
