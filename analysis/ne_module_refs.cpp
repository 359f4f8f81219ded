// The NE module-reference walker: imported-names table -> referenced module
// names -> file names by the fixed rule table (neModuleFileName).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "analysis/module_facts.h"
#include "analysis/ne_functions.h"
#include "analysis/scan_module.h"
#include "analysis/text.h"

namespace vost {

namespace {
constexpr std::uint64_t kEntryTable = 4;
constexpr std::uint64_t kModuleRefCount = 30;
constexpr std::uint64_t kModuleRefTable = 40;
constexpr std::uint64_t kImportedNamesTable = 42;
constexpr int kMaxNameLength = 99;  // capacity of ModuleRefEntry::name

// Collects every string of the imported-names table in table order. Reads end
// at the table's end, at a zero length byte, or where the file ends. A length
// byte of 100 or more (read signed, 128 and up would be negative) names no
// module that fits the buffers: the string is passed over, unread, and the
// walk goes on after it.
void collectNames(const ByteView& image, std::uint64_t tableStart, std::uint64_t tableEnd,
                  std::vector<ModuleRefEntry>& entries) {
    std::uint64_t position = tableStart + 1;
    while (position < tableEnd) {
        std::uint8_t length = 0;
        if (!image.readU8(position, length) || length == 0) return;
        if (length <= kMaxNameLength) {
            ModuleRefEntry entry;
            if (!image.readBytes(position + 1, length, entry.name)) return;
            entry.name[length] = '\0';
            entry.nameOffset = static_cast<std::uint16_t>(position - tableStart);
            entries.push_back(entry);
        }
        position += 1u + length;
    }
}

}  // namespace

NeReferences readNeReferences(const ByteView& image, std::uint64_t newHeader) {
    NeReferences references;
    std::uint16_t entryTable = 0, refCount = 0, refTable = 0, namesTable = 0;
    if (!image.readU16(newHeader + kEntryTable, entryTable) ||
        !image.readU16(newHeader + kModuleRefCount, refCount) ||
        !image.readU16(newHeader + kModuleRefTable, refTable) ||
        !image.readU16(newHeader + kImportedNamesTable, namesTable))
        return references;  // a truncated header references nothing

    std::vector<ModuleRefEntry> entries;  // scratch of this walk only
    const std::uint64_t tableStart = newHeader + namesTable;
    collectNames(image, tableStart, newHeader + entryTable, entries);

    for (std::uint64_t i = 0; i < refCount; ++i) {
        std::uint16_t offset = 0;
        if (!image.readU16(newHeader + refTable + 2 * i, offset)) break;
        // Offsets rise strictly through the table (it spans less than 64 KiB
        // from its start), so a binary search finds the one entry there is.
        const auto entry = std::lower_bound(
            entries.begin(), entries.end(), offset,
            [](const ModuleRefEntry& e, std::uint16_t value) { return e.nameOffset < value; });
        if (entry != entries.end() && entry->nameOffset == offset) entry->referenced = 1;
    }

    for (const ModuleRefEntry& entry : entries) {
        if (!entry.referenced) continue;
        if (references.files.size() == std::size_t(kMaxReferencesPerModule)) {
            references.cut = true;
            break;
        }
        references.files.push_back(neModuleFileName(entry.name));
    }
    return references;
}

int walkNeReferences(ScanContext& ctx, ModuleNode& node, const NeReferences& references) {
    for (const std::string& file : references.files) addDependency(ctx, node, file.c_str(), 0);
    if (references.cut) node.referencesCut = true;
    return 1;
}

int walkNeModuleRefs(ScanContext& ctx, ModuleNode& node, const ByteView& image, std::uint64_t newHeader) {
    return walkNeReferences(ctx, node, readNeReferences(image, newHeader));
}

}  // namespace vost
