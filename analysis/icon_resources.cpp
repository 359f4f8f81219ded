#include "analysis/icon_resources.h"

#include <algorithm>
#include <vector>

#include "analysis/resource_directory.h"

namespace vost {

namespace {

constexpr std::uint16_t kMz = 0x5A4D;
constexpr std::uint32_t kPeSignature = 0x00004550;
constexpr std::uint16_t kNeSignature = 0x454E;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint16_t kRtIcon = 3;
constexpr std::uint16_t kRtGroupIcon = 14;
constexpr std::uint16_t kNeRtIcon = 0x8000 | kRtIcon;
constexpr std::uint16_t kNeRtGroupIcon = 0x8000 | kRtGroupIcon;
constexpr std::uint64_t kGroupEntrySize = 14;
constexpr std::uint64_t kIconFileEntrySize = 16;
constexpr std::uint64_t kNeResourceSize = 12;
// Bytes of an image looked at whatever its size says.
constexpr std::uint64_t kImageMinimum = 8;
// Section headers looked at, over all lookups, before a file counts as out
// of place. Real files have a handful of sections and a few hundred icons.
constexpr std::uint64_t kSectionBudget = std::uint64_t(1) << 22;

// The ids one group names, each once, in ascending order once sealed.
class IdSet {
public:
    void add(std::uint16_t id) { ids_.push_back(id); }
    void seal() {
        std::sort(ids_.begin(), ids_.end());
        ids_.erase(std::unique(ids_.begin(), ids_.end()), ids_.end());
    }
    bool has(std::uint16_t id) const { return std::binary_search(ids_.begin(), ids_.end(), id); }
    const std::vector<std::uint16_t>& ids() const { return ids_; }

private:
    std::vector<std::uint16_t> ids_;
};

// The platform's walk over the bounded reader. Each read widens `extent`;
// a read that leaves the file ends the walk as out of place.
class Walk {
public:
    explicit Walk(const ByteView& file) : file_(file) {}

    // A read the file cannot serve (it shrank meanwhile) counts as outside.
    bool u16(std::uint64_t at, std::uint16_t& out) { return touch(at, 2) && served(file_.readU16(at, out)); }
    bool u32(std::uint64_t at, std::uint32_t& out) { return touch(at, 4) && served(file_.readU32(at, out)); }
    // The range is read by the platform; its bytes are not needed here.
    bool span(std::uint64_t at, std::uint64_t length) { return touch(at, length); }

    void fail() { outside_ = true; }
    IconReadCheck result() const { return IconReadCheck{!outside_, extent_}; }

private:
    bool served(bool read) {
        if (!read) outside_ = true;
        return read;
    }
    bool touch(std::uint64_t at, std::uint64_t length) {
        const std::uint64_t end = at + length;  // offsets stay below 2^36: no wrap
        if (end > extent_) extent_ = end;
        if (!file_.contains(at, length)) outside_ = true;
        return !outside_;
    }

    ByteView file_;
    std::uint64_t extent_ = 0;
    bool outside_ = false;
};

// The group header and entries at `at`, and the ids the platform may pick
// from them: every entry's id, or 0 when the header is not a group's or
// names no entry.
bool readGroup(Walk& walk, std::uint64_t at, IdSet& ids) {
    std::uint16_t reserved = 0, type = 0, count = 0;
    if (!walk.u16(at, reserved) || !walk.u16(at + 2, type)) return false;
    if (reserved == 0 && (type & 3) != 0) {
        if (!walk.u16(at + 4, count) || !walk.span(at + 6, kGroupEntrySize * count)) return false;
        for (std::uint16_t i = 0; i < count; ++i) {
            std::uint16_t id = 0;
            if (!walk.u16(at + 6 + kGroupEntrySize * i + 12, id)) return false;
            ids.add(id);
        }
    }
    // No group header, or one that names no entry: the platform asks for id 0.
    if (count == 0) ids.add(0);
    ids.seal();
    return true;
}

// An image of `size` bytes at `at`.
bool readImage(Walk& walk, std::uint64_t at, std::uint64_t size) {
    return walk.span(at, size < kImageMinimum ? kImageMinimum : size);
}

// A file not starting with "MZ", whose second word is 1: an icon file.
void walkIconFile(Walk& walk) {
    std::uint16_t reserved = 0, count = 0;
    if (!walk.u16(0, reserved) || reserved != 0) return;
    if (!walk.u16(4, count) || count == 0) return;
    if (!walk.span(6, kIconFileEntrySize * count)) return;
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::uint64_t entry = 6 + kIconFileEntrySize * i;
        std::uint32_t size = 0, offset = 0;
        if (!walk.u32(entry + 8, size) || !walk.u32(entry + 12, offset) || !readImage(walk, offset, size))
            return;
    }
}

class PeWalk {
public:
    PeWalk(Walk& walk, std::uint64_t nt) : walk_(walk), nt_(nt) {}

    void run() {
        std::uint16_t magic = 0;
        if (!walk_.u16(nt_ + 24, magic)) return;
        std::uint64_t countField = 0, directories = 0;
        if (magic == kPe32PlusMagic) {
            countField = nt_ + 24 + 108;
            directories = nt_ + 24 + 112;
        } else if (magic == kPe32Magic) {
            countField = nt_ + 24 + 92;
            directories = nt_ + 24 + 96;
        } else {
            return;
        }
        std::uint32_t count = 0, rva = 0, size = 0, headers = 0;
        if (!walk_.u32(countField, count) || count <= 2) return;
        if (!walk_.u32(directories + 16, rva) || rva == 0) return;
        if (!walk_.u32(directories + 20, size) || !walk_.u32(nt_ + 24 + 60, headers)) return;
        if (rva < headers) {
            root_ = rva;
        } else if (!fileOffset(rva, root_)) {
            return;
        }

        std::uint64_t group = 0;
        if (!findById(root_, kRtGroupIcon, group)) return;
        std::uint16_t named = 0, ids = 0;
        if (!walk_.u16(group + 12, named) || !walk_.u16(group + 14, ids)) return;
        if (std::uint16_t(named + ids) == 0) return;
        std::uint64_t names = 0, entry = 0, groupData = 0;
        std::uint32_t groupRva = 0;
        if (!firstTarget(group, names) || !firstTarget(names, entry) || !walk_.u32(entry, groupRva)) return;
        if (!fileOffset(groupRva, groupData)) return;
        IdSet wanted;
        if (!readGroup(walk_, groupData, wanted)) return;

        std::uint64_t icons = 0;
        if (!findById(root_, kRtIcon, icons)) return;
        for (std::uint16_t id : wanted.ids())
            if (!checkIcon(icons, id)) return;
    }

private:
    // One icon of the group; false once the walk has left the file.
    bool checkIcon(std::uint64_t icons, std::uint16_t id) {
        std::uint64_t languages = 0, entry = 0, image = 0;
        if (!findById(icons, id, languages)) return !outside();
        if (!firstTarget(languages, entry)) return false;
        std::uint32_t rva = 0, size = 0;
        if (!walk_.u32(entry, rva) || !walk_.u32(entry + 4, size)) return false;
        if (!fileOffset(rva, image)) return !outside();
        return readImage(walk_, image, size);
    }

    bool outside() const { return !walk_.result().inFile; }

    // The entry with `id` among the id entries of the directory at `dir`, by
    // the platform's binary search; its target, from the root.
    bool findById(std::uint64_t dir, std::uint16_t id, std::uint64_t& target) {
        return findResourceId(walk_, root_, dir, id, target);
    }

    // The target of the first entry of the directory at `dir`, read whatever
    // the directory's counts say.
    bool firstTarget(std::uint64_t dir, std::uint64_t& target) {
        std::uint32_t offset = 0;
        if (!walk_.u32(dir + 16 + 4, offset)) return false;
        target = root_ + (offset & kResourceOffsetBits);
        return true;
    }

    // The platform's RVA -> file offset: the first section in table order
    // whose raw range holds the RVA. False when none does (or the walk left
    // the file looking).
    bool fileOffset(std::uint32_t rva, std::uint64_t& offset) {
        std::uint16_t count = 0, optionalSize = 0;
        if (!walk_.u16(nt_ + 6, count) || !walk_.u16(nt_ + 20, optionalSize)) return false;
        const std::uint64_t table = nt_ + 24 + optionalSize;
        for (std::uint16_t i = 0; i < count; ++i) {
            if (++sectionsLooked_ > kSectionBudget) {
                walk_.fail();
                return false;
            }
            const std::uint64_t header = table + 40 * std::uint64_t(i);
            std::uint32_t va = 0, rawSize = 0, rawPointer = 0;
            if (!walk_.u32(header + 12, va) || !walk_.u32(header + 16, rawSize)) return false;
            if (va <= rva && std::uint32_t(va + rawSize) > rva) {
                if (!walk_.u32(header + 20, rawPointer)) return false;
                offset = std::uint64_t(rawPointer) + (rva - va);
                return true;
            }
        }
        return false;
    }

    Walk& walk_;
    std::uint64_t nt_;
    std::uint64_t root_ = 0;
    std::uint64_t sectionsLooked_ = 0;
};

void walkNe(Walk& walk, std::uint64_t ne) {
    std::uint16_t resources = 0, residentNames = 0;
    if (!walk.u16(ne + 0x24, resources) || !walk.u16(ne + 0x26, residentNames)) return;
    // A table of 8 bytes or less is no table: the platform then takes the
    // file for an icon file, whose reserved word ("MZ") ends the walk.
    const int tableLength = int(residentNames) - int(resources);
    if (tableLength >= 0 && tableLength <= 8) return;

    const std::uint64_t table = ne + resources;
    std::uint64_t type = table + 2;
    std::uint64_t groups = 0, icons = 0;
    std::uint16_t groupCount = 0, iconCount = 0;
    bool haveGroups = false, haveIcons = false;
    while (!(haveGroups && haveIcons)) {
        std::uint16_t typeId = 0, count = 0;
        if (!walk.u16(type, typeId)) return;
        if (typeId == 0) break;
        if (!walk.u16(type + 2, count)) return;
        if (typeId == kNeRtGroupIcon) {
            haveGroups = true;
            groupCount = count;
            groups = type + 8;
        }
        if (typeId == kNeRtIcon) {
            haveIcons = true;
            iconCount = count;
            icons = type + 8;
        }
        type += 8 + kNeResourceSize * count;
    }
    if (!haveGroups || !haveIcons || groupCount == 0) return;

    std::uint16_t shift = 0, offset = 0, length = 0;
    if (!walk.u16(groups, offset) || !walk.u16(groups + 2, length) || !walk.u16(table, shift)) return;
    // Real files shift by a few bits; a shift that could carry a resource
    // past 32 bits is left to no reader.
    if (shift > 15) {
        walk.fail();
        return;
    }
    IdSet wanted;
    if (!readGroup(walk, std::uint64_t(offset) << shift, wanted)) return;
    for (std::uint16_t i = 0; i < iconCount; ++i) {
        const std::uint64_t icon = icons + kNeResourceSize * i;
        std::uint16_t id = 0;
        if (!walk.u16(icon + 6, id)) return;
        // The platform looks for the group's id with the high bit set.
        const bool named = (id & 0x8000) && (wanted.has(id) || wanted.has(id & 0x7FFF));
        if (!named) continue;
        if (!walk.u16(icon, offset) || !walk.u16(icon + 2, length)) return;
        if (!readImage(walk, std::uint64_t(offset) << shift, std::uint64_t(length) << shift)) return;
    }
}

}  // namespace

IconReadCheck checkIconRead(const ByteView& file) {
    Walk walk(file);
    if (file.size() == 0) return walk.result();
    std::uint16_t mz = 0;
    if (!walk.u16(0, mz)) return walk.result();
    if (mz != kMz) {
        std::uint16_t second = 0;
        if (walk.u16(2, second) && second == 1) walkIconFile(walk);
        return walk.result();
    }
    std::uint32_t newHeader = 0, signature = 0;
    if (!walk.u32(0x3C, newHeader) || newHeader >= file.size()) return walk.result();
    if (!walk.u32(newHeader, signature)) return walk.result();
    if (signature == kPeSignature) {
        PeWalk(walk, newHeader).run();
    } else if (std::uint16_t(signature) == kNeSignature) {
        walkNe(walk, newHeader);
    }
    return walk.result();
}

}  // namespace vost
