// The PE import walker: import directory -> descriptors -> module names.
#include <cstdint>
#include <string>
#include <unordered_set>

#include "analysis/pe_delay_imports.h"
#include "analysis/pe_headers.h"
#include "analysis/scan_module.h"
#include "analysis/section_index.h"
#include "analysis/text.h"

namespace vost {

namespace {
constexpr std::uint64_t kNumberOfSections = 6;
constexpr std::uint64_t kSizeOfOptionalHeader = 20;
constexpr std::uint64_t kSectionTableStart = 24;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint64_t kDescriptorSize = 20;
constexpr std::uint32_t kNoOffset = kNoFileOffset;

struct ImportDescriptor {
    std::uint32_t originalFirstThunk, timeDateStamp, name, firstThunk;
};

bool readDescriptor(const ByteView& image, std::uint64_t at, ImportDescriptor& d) {
    return image.contains(at, kDescriptorSize) && image.readU32(at + 0, d.originalFirstThunk) &&
           image.readU32(at + 4, d.timeDateStamp) && image.readU32(at + 12, d.name) &&
           image.readU32(at + 16, d.firstThunk);
}

// The modules of the delay-load directory, each as a child marked
// delay-loaded, after the imported ones and within the same bound on
// children. A module the import directory names already (letter case
// ignored, as the loader compares module names), or an earlier delay-load
// descriptor, gives no second child.
int walkPeDelayImports(ScanContext& ctx, ModuleNode& node, const ByteView& image, std::uint64_t newHeader,
                       const SectionIndex& sections, std::unordered_set<std::string>& seen, int children) {
    int result = 0;
    for (const ImportedModule& module : readPeDelayImports(image, newHeader, sections, false)) {
        if (children >= kMaxReferencesPerModule) break;
        result = 1;
        if (!seen.insert(lowerAscii(module.name)).second) continue;
        addDependency(ctx, node, module.name.c_str(), 1)->delayLoaded = true;
        ++children;
    }
    return result;
}

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
    const bool hasDirectory = image.readU32(newHeader + directoryEntry, directoryRva) && directoryRva != 0;
    if (!hasDirectory && !ctx.delayLoads) return 0;
    const SectionIndex sections(image, newHeader);
    const std::uint32_t firstDescriptor = hasDirectory ? sections.fileOffset(directoryRva) : kNoOffset;
    if (firstDescriptor == kNoOffset && !ctx.delayLoads) return 0;

    int result = 0;
    int children = 0;
    std::unordered_set<std::string> imported;  // lower-cased; kept only for the delay-load walk
    // Descriptors run until the terminating one, the end of the file, or the
    // bound on children; each step moves forward, so the walk ends after at
    // most size / 20 steps.
    for (std::uint64_t at = firstDescriptor; firstDescriptor != kNoOffset; at += kDescriptorSize) {
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
        if (children == kMaxReferencesPerModule) {
            node.referencesCut = true;  // one more name than the bound lets through
            break;
        }
        addDependency(ctx, node, name, 1);
        ++children;
        if (ctx.delayLoads) imported.insert(lowerAscii(name));
    }
    if (ctx.delayLoads) result |= walkPeDelayImports(ctx, node, image, newHeader, sections, imported, children);
    return result;
}

}  // namespace vost
