#include "platform/common/version_resource.h"

namespace vost {

namespace {

constexpr std::uint16_t kRtVersion = 16;
constexpr std::uint16_t kVersionId = 1;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::uint32_t kResourceDirectory = 2;
constexpr std::uint64_t kDirectoryHeaderSize = 16;
constexpr std::uint64_t kDirectoryEntrySize = 8;
constexpr std::uint32_t kEntryIsDirectory = 0x80000000u;
// VS_FIXEDFILEINFO is 52 bytes; an NE resource of that size or less leaves
// the version API no room (its buffer size is (length - 52) * 4).
constexpr std::uint32_t kFixedInfoSize = 52;

std::uint64_t align4(std::uint64_t offset) { return (offset + 3) & ~std::uint64_t(3); }

// A section's raw bytes and the addresses they stand for.
struct RawRange {
    std::uint64_t fileOffset = 0;  // where address `virtualAddress` lies in the file
    std::uint64_t virtualAddress = 0;
    std::uint64_t length = 0;      // bytes backed by the file
};

struct PeLayout {
    std::uint64_t sectionTable = 0;
    std::uint16_t sectionCount = 0;
    std::uint32_t sizeOfHeaders = 0;
    std::uint32_t resourceRva = 0;
    std::uint32_t resourceSize = 0;
};

bool readPeLayout(const ByteView& image, std::uint64_t nt, PeLayout& layout) {
    std::uint16_t magic = 0, optionalSize = 0;
    if (!image.readU16(nt + 6, layout.sectionCount) || !image.readU16(nt + 20, optionalSize) ||
        !image.readU16(nt + 24, magic))
        return false;
    const std::uint64_t optional = nt + 24;
    std::uint64_t countOffset = 0, directories = 0;
    if (magic == 0x10B) {  // PE32
        countOffset = optional + 92;
        directories = optional + 96;
    } else if (magic == 0x20B) {  // PE32+
        countOffset = optional + 108;
        directories = optional + 112;
    } else {
        return false;
    }
    std::uint32_t directoryCount = 0;
    if (!image.readU32(countOffset, directoryCount) || directoryCount <= kResourceDirectory)
        return false;
    if (!image.readU32(directories + 8 * kResourceDirectory, layout.resourceRva) ||
        !image.readU32(directories + 8 * kResourceDirectory + 4, layout.resourceSize) ||
        !image.readU32(optional + 60, layout.sizeOfHeaders))
        return false;
    layout.sectionTable = optional + optionalSize;
    return layout.resourceRva != 0;
}

// The file bytes that hold `rva`: the headers below SizeOfHeaders, else the
// first section whose raw data covers it.
bool locateRva(const ByteView& image, const PeLayout& layout, std::uint32_t rva, bool headersToo,
               RawRange& range) {
    if (headersToo && rva < layout.sizeOfHeaders) {
        range = RawRange{0, 0, layout.sizeOfHeaders};
    } else {
        bool found = false;
        for (std::uint16_t i = 0; i < layout.sectionCount && !found; ++i) {
            const std::uint64_t header = layout.sectionTable + 40ull * i;
            std::uint32_t va = 0, rawSize = 0, rawPointer = 0;
            if (!image.readU32(header + 12, va) || !image.readU32(header + 16, rawSize) ||
                !image.readU32(header + 20, rawPointer))
                return false;
            if (va <= rva && rva < std::uint64_t(va) + rawSize) {
                range = RawRange{rawPointer, va, rawSize};
                found = true;
            }
        }
        if (!found) return false;
    }
    // Clip to the end of the file.
    if (range.fileOffset >= image.size()) return false;
    if (range.length > image.size() - range.fileOffset) range.length = image.size() - range.fileOffset;
    return rva - range.virtualAddress < range.length;
}

// One resource directory, read within the resource section's view.
class ResourceDirectory {
public:
    // `offset` is the directory's place in `section`, `root` that of the
    // top directory, to which every entry's offset is relative.
    ResourceDirectory(const ByteView& section, std::uint64_t root, std::uint64_t offset)
        : section_(section), root_(root), offset_(offset) {
        valid_ = section_.readU16(offset_ + 12, named_) && section_.readU16(offset_ + 14, ids_);
    }

    bool valid() const { return valid_; }

    // The offset (in the section view) of the entry with `id` among the id
    // entries, as the loader's binary search finds it; its kind must match.
    bool findById(std::uint16_t id, bool wantDirectory, std::uint64_t& target) const {
        int low = named_;
        int high = int(named_) + int(ids_) - 1;
        while (low <= high) {
            const int pos = (low + high) / 2;
            std::uint32_t name = 0, data = 0;
            if (!readEntry(pos, name, data)) return false;
            const std::uint16_t entryId = std::uint16_t(name);
            if (entryId == id) return targetOf(data, wantDirectory, target);
            if (entryId > id)
                high = pos - 1;
            else
                low = pos + 1;
        }
        return false;
    }

    // The first entry of the wanted kind, named or not.
    bool first(bool wantDirectory, std::uint64_t& target) const {
        const int count = int(named_) + int(ids_);
        for (int pos = 0; pos < count; ++pos) {
            std::uint32_t name = 0, data = 0;
            if (!readEntry(pos, name, data)) return false;
            if (targetOf(data, wantDirectory, target)) return true;
        }
        return false;
    }

private:
    bool readEntry(int pos, std::uint32_t& name, std::uint32_t& data) const {
        const std::uint64_t entry = offset_ + kDirectoryHeaderSize + kDirectoryEntrySize * std::uint64_t(pos);
        return section_.readU32(entry, name) && section_.readU32(entry + 4, data);
    }
    bool targetOf(std::uint32_t data, bool wantDirectory, std::uint64_t& target) const {
        if (((data & kEntryIsDirectory) != 0) != wantDirectory) return false;
        target = root_ + (data & ~kEntryIsDirectory);
        return true;
    }

    ByteView section_;
    std::uint64_t root_;
    std::uint64_t offset_;
    bool valid_ = false;
    std::uint16_t named_ = 0;
    std::uint16_t ids_ = 0;
};

bool findPeVersionResource(const ByteView& image, std::uint64_t nt, ByteView& resource) {
    PeLayout layout;
    if (!readPeLayout(image, nt, layout) || layout.resourceSize < kDirectoryHeaderSize) return false;

    RawRange rootRange;
    if (!locateRva(image, layout, layout.resourceRva, true, rootRange)) return false;
    const ByteView section = image.slice(rootRange.fileOffset, rootRange.length);
    const std::uint64_t root = layout.resourceRva - rootRange.virtualAddress;

    // Three levels: type, name, language. The depth is fixed, so entries that
    // point back at a directory above cannot make the walk go round.
    std::uint64_t names = 0, languages = 0, dataEntry = 0;
    const ResourceDirectory types(section, root, root);
    if (!types.valid() || !types.findById(kRtVersion, true, names)) return false;
    const ResourceDirectory byName(section, root, names);
    if (!byName.valid() || !byName.findById(kVersionId, true, languages)) return false;
    const ResourceDirectory byLanguage(section, root, languages);
    if (!byLanguage.valid()) return false;
    // Neutral, then the user's language (en-US), its neutral form, then the
    // first data entry.
    const std::uint16_t preferred[] = {0x0000, 0x0409, 0x0009};
    bool found = false;
    for (std::uint16_t language : preferred) {
        if ((found = byLanguage.findById(language, false, dataEntry))) break;
    }
    if (!found && !byLanguage.first(false, dataEntry)) return false;

    std::uint32_t dataRva = 0, dataSize = 0;
    if (!section.readU32(dataEntry, dataRva) || !section.readU32(dataEntry + 4, dataSize)) return false;
    RawRange dataRange;
    if (!locateRva(image, layout, dataRva, false, dataRange)) return false;
    const std::uint64_t start = dataRva - dataRange.virtualAddress;
    const std::uint64_t available = dataRange.length - start;
    resource = image.slice(dataRange.fileOffset + start, dataSize < available ? dataSize : available);
    return true;
}

bool findNeVersionResource(const ByteView& image, std::uint64_t ne, ByteView& resource) {
    constexpr std::uint64_t kNeHeaderSize = 64;
    constexpr std::uint16_t kTypeVersion = 0x8000 | kRtVersion;
    constexpr std::uint16_t kIdVersion = 0x8000 | kVersionId;
    std::uint16_t tableOffset = 0, residentNames = 0;
    if (!image.contains(ne, kNeHeaderSize) || !image.readU16(ne + 0x24, tableOffset) ||
        !image.readU16(ne + 0x26, residentNames))
        return false;
    if (residentNames <= tableOffset) return false;  // no resource table
    const ByteView table = image.slice(ne + tableOffset, residentNames - tableOffset);
    std::uint16_t shift = 0;
    if (!table.readU16(0, shift) || shift >= 32) return false;

    // Type records (8 bytes, then `count` name records of 12 bytes) up to a
    // zero type; each step moves forward, and every read stays in the table.
    std::uint64_t type = 2;
    for (;;) {
        std::uint16_t typeId = 0, count = 0;
        if (!table.readU16(type, typeId) || typeId == 0) return false;
        if (!table.readU16(type + 2, count)) return false;
        if (typeId == kTypeVersion) {
            for (std::uint16_t i = 0; i < count; ++i) {
                const std::uint64_t name = type + 8 + 12ull * i;
                std::uint16_t offset = 0, length = 0, id = 0;
                if (!table.readU16(name, offset) || !table.readU16(name + 2, length) ||
                    !table.readU16(name + 6, id))
                    return false;
                if (id != kIdVersion) continue;
                const std::uint64_t start = std::uint64_t(offset) << shift;
                const std::uint64_t size = std::uint64_t(length) << shift;
                if (size <= kFixedInfoSize || start >= image.size()) return false;
                // The version API reads min(length, (length - 52) * 4) bytes,
                // as far as the file goes.
                std::uint64_t readable = (size - kFixedInfoSize) * 4;
                if (readable > size) readable = size;
                if (readable > image.size() - start) readable = image.size() - start;
                resource = image.slice(start, readable);
                return true;
            }
            return false;
        }
        type += 8 + 12ull * count;
    }
}

}  // namespace

bool findVersionResource(const ByteView& image, ByteView& resource) {
    std::uint16_t mz = 0;
    std::uint32_t newHeader = 0, signature = 0;
    if (!image.readU16(0, mz) || mz != 0x5A4D || !image.readU32(0x3C, newHeader)) return false;
    if (image.readU32(newHeader, signature) && signature == 0x00004550)
        return findPeVersionResource(image, newHeader, resource);
    std::uint16_t ne = 0;
    if (image.readU16(newHeader, ne) && ne == 0x454E) return findNeVersionResource(image, newHeader, resource);
    return false;
}

bool readFixedVersionFromBlock(const ByteView& block, FixedFileVersion& out) {
    // A 16-bit block has its ANSI key where a 32-bit block has wType; the
    // version API tells them apart by a printable (signed, so below 0x80)
    // first key character.
    std::uint8_t keyStart = 0;
    if (!block.readU8(4, keyStart)) return false;
    std::uint64_t value = 0;
    if (keyStart >= 0x20 && keyStart < 0x80) {
        std::uint64_t terminator = 5;
        for (std::uint8_t c = 1;; ++terminator) {
            if (!block.readU8(terminator, c)) return false;
            if (c == 0) break;
        }
        value = align4(terminator + 1);
    } else {
        std::uint16_t length = 0, type = 0;
        if (!block.readU16(0, length) || !block.readU16(4, type)) return false;
        // A text root is handed out converted to ANSI, which can't hold the
        // fixed information.
        if (type != 0) return false;
        std::uint64_t terminator = 6;
        for (std::uint16_t c = 1;; terminator += 2) {
            if (!block.readU16(terminator, c)) return false;
            if (c == 0) break;
        }
        value = align4(terminator + 2);
        // A value past the block's length counts as empty.
        if (value >= length) return false;
    }
    std::uint32_t signature = 0;
    FixedFileVersion version;
    if (!block.readU32(value, signature) || signature != kFixedInfoSignature) return false;
    if (!block.readU32(value + 8, version.fileVersionMS) || !block.readU32(value + 12, version.fileVersionLS) ||
        !block.readU32(value + 16, version.productVersionMS) ||
        !block.readU32(value + 20, version.productVersionLS))
        return false;
    out = version;
    return true;
}

bool readFixedVersionFromImage(const ByteView& image, FixedFileVersion& out) {
    ByteView resource;
    return findVersionResource(image, resource) && readFixedVersionFromBlock(resource, out);
}

}  // namespace vost
