// The PE import walker: import directory -> descriptors -> module names.
#include <algorithm>
#include <cstdint>
#include <set>
#include <vector>

#include "analysis/pe_headers.h"
#include "analysis/scan_module.h"

namespace vost {

namespace {
constexpr std::uint64_t kNumberOfSections = 6;
constexpr std::uint64_t kSizeOfOptionalHeader = 20;
constexpr std::uint64_t kSectionTableStart = 24;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint64_t kDescriptorSize = 20;
constexpr std::uint32_t kNoOffset = 0xFFFFFFFFu;

struct ImportDescriptor {
    std::uint32_t originalFirstThunk, timeDateStamp, name, firstThunk;
};

bool readDescriptor(const ByteView& image, std::uint64_t at, ImportDescriptor& d) {
    return image.contains(at, kDescriptorSize) && image.readU32(at + 0, d.originalFirstThunk) &&
           image.readU32(at + 4, d.timeDateStamp) && image.readU32(at + 12, d.name) &&
           image.readU32(at + 16, d.firstThunk);
}

// The section lookup of one walk, with findSection's answers: the first
// section in table order whose raw-backed range holds the RVA. The table is
// read once per walk. Real files have a handful of sections, looked through in
// order; a hostile file may have 65535 of them under megabytes of
// descriptors, so a large table is cut into segments of the address space,
// each owned by the first section (in table order) that covers it, and a
// lookup is a binary search.
class SectionIndex {
public:
    SectionIndex(const ByteView& image, std::uint64_t newHeader) {
        std::uint16_t count = 0, optionalSize = 0;
        if (!image.readU16(newHeader + kNumberOfSections, count) ||
            !image.readU16(newHeader + kSizeOfOptionalHeader, optionalSize))
            return;
        const std::uint64_t first = newHeader + kSectionTableStart + optionalSize;
        sections_.reserve(count < kLinearLimit ? count : kLinearLimit);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint64_t header = first + std::uint64_t(i) * kSectionHeaderSize;
            std::uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
            // As in findSection, the table ends at the first header that
            // leaves the file.
            if (!image.contains(header, kSectionHeaderSize) ||
                !image.readU32(header + 8, virtualSize) || !image.readU32(header + 12, virtualAddress) ||
                !image.readU32(header + 16, rawSize) || !image.readU32(header + 20, rawPointer))
                break;
            const std::uint32_t extent = virtualSize < rawSize ? virtualSize : rawSize;
            // A wrapped sum holds nothing: the range is empty then.
            sections_.push_back(Section{virtualAddress, virtualAddress + extent, rawPointer});
        }
        if (sections_.size() > kLinearLimit) buildSegments();
    }

    // As rvaToFileOffset.
    std::uint32_t fileOffset(std::uint32_t rva) const {
        if (segments_.empty()) {
            for (const Section& section : sections_)
                if (section.start <= rva && rva < section.end) return section.translate(rva);
            return kNoOffset;
        }
        auto it = std::upper_bound(segments_.begin(), segments_.end(), rva,
                                   [](std::uint32_t value, const Segment& s) { return value < s.start; });
        if (it == segments_.begin()) return kNoOffset;
        --it;
        if (it->owner < 0) return kNoOffset;
        return sections_[std::size_t(it->owner)].translate(rva);
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

    void buildSegments() {
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
        std::sort(events.begin(), events.end(),
                  [](const Event& a, const Event& b) { return a.at < b.at; });
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
        // A table without any range still needs the segment form: one
        // segment owned by no section.
        if (segments_.empty()) segments_.push_back(Segment{0, -1});
    }

    std::vector<Section> sections_;
    std::vector<Segment> segments_;
};
}  // namespace

bool findSection(const ByteView& image, std::uint64_t newHeader, std::uint32_t rva,
                 SectionMatch& match) {
    std::uint16_t count = 0, optionalSize = 0;
    if (!image.readU16(newHeader + kNumberOfSections, count) ||
        !image.readU16(newHeader + kSizeOfOptionalHeader, optionalSize))
        return false;
    const std::uint64_t first = newHeader + kSectionTableStart + optionalSize;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t header = first + i * kSectionHeaderSize;
        std::uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
        // A section header that leaves the file ends the table.
        if (!image.contains(header, kSectionHeaderSize) ||
            !image.readU32(header + 8, virtualSize) || !image.readU32(header + 12, virtualAddress) ||
            !image.readU32(header + 16, rawSize) || !image.readU32(header + 20, rawPointer))
            return false;
        const std::uint32_t extent = virtualSize < rawSize ? virtualSize : rawSize;
        const std::uint32_t end = virtualAddress + extent;  // wraps as the format's 32-bit sum
        if (virtualAddress <= rva && rva < end) {
            match = SectionMatch{header, virtualAddress, rawPointer};
            return true;
        }
    }
    return false;
}

std::uint32_t rvaToFileOffset(const ByteView& image, std::uint64_t newHeader, std::uint32_t rva) {
    SectionMatch match{};
    if (!findSection(image, newHeader, rva, match)) return kNoOffset;
    return match.pointerToRawData - match.virtualAddress + rva;
}

int walkPeImports(ScanContext& ctx, ModuleNode& node, const ByteView& image,
                  std::uint64_t newHeader) {
    // Data directory 1 lies at +144 in a PE32+ optional header and at +128
    // for every other magic.
    const std::uint64_t directoryEntry =
        dataDirectoryEntry(optionalHeaderMagic(image, newHeader), kImportDirectory);
    std::uint32_t directoryRva = 0;
    if (!image.readU32(newHeader + directoryEntry, directoryRva) || directoryRva == 0) return 0;
    const SectionIndex sections(image, newHeader);
    const std::uint32_t firstDescriptor = sections.fileOffset(directoryRva);
    if (firstDescriptor == kNoOffset) return 0;

    int result = 0;
    int children = 0;
    // Descriptors run until the terminating one, the end of the file, or the
    // bound on children; each step moves forward, so the walk ends after at
    // most size / 20 steps.
    for (std::uint64_t at = firstDescriptor; children < kMaxReferencesPerModule; at += kDescriptorSize) {
        ImportDescriptor d{};
        if (!readDescriptor(image, at, d)) break;
        if (d.timeDateStamp == 0 && d.name == 0) break;
        if (d.originalFirstThunk == 0 && d.firstThunk == 0) break;
        result = 1;

        // A name in no section, without a terminator inside the file, empty,
        // or too long for a path names no module: the descriptor is passed over.
        const std::uint32_t nameOffset = sections.fileOffset(d.name);
        char name[kPathCapacity];
        if (nameOffset == kNoOffset || !image.readCString(nameOffset, name, sizeof name) ||
            name[0] == '\0')
            continue;
        addDependency(ctx, node, name, 1);
        ++children;
    }
    return result;
}

}  // namespace vost
