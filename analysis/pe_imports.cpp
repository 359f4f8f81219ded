// The PE import walker: import directory -> descriptors -> module names.
#include <cstdint>
#include <string>
#include <unordered_set>

#include "analysis/pe_delay_imports.h"
#include "analysis/pe_headers.h"
#include "analysis/scan_module.h"
#include "analysis/image_map.h"
#include "analysis/read_budget.h"
#include "analysis/text.h"

namespace vost {

namespace {
constexpr std::uint64_t kDescriptorSize = 20;

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
                       const ImageMap& map, std::unordered_set<std::string>& seen, int children) {
    int result = 0;
    for (const ImportedModule& module : readPeDelayImports(image, newHeader, map, false)) {
        if (children >= kMaxReferencesPerModule) break;
        result = 1;
        if (!seen.insert(lowerAscii(module.name)).second) continue;
        addDependency(ctx, node, module.name.c_str(), 1)->delayLoaded = true;
        ++children;
    }
    return result;
}

}  // namespace

std::uint32_t rvaToFileOffset(const ByteView& image, std::uint64_t newHeader, std::uint32_t rva) {
    return ImageMap(image, newHeader).fileOffset(rva);
}

int walkPeImports(ScanContext& ctx, ModuleNode& node, const ByteView& image,
                  std::uint64_t newHeader) {
    // Managed code first: what its metadata names, and whether the import
    // table is bound at all.
    int children = 0;
    const ManagedWalk managed = walkManagedReferences(ctx, node, image, newHeader, children);
    if (managed.skipNativeImports) return managed.walked;

    // Data directory 1 lies at +144 in a PE32+ optional header and at +128
    // for every other magic.
    const std::uint64_t directoryEntry =
        dataDirectoryEntry(optionalHeaderMagic(image, newHeader), kImportDirectory);
    std::uint32_t directoryRva = 0;
    const bool hasDirectory = image.readU32(newHeader + directoryEntry, directoryRva) && directoryRva != 0;
    if (!hasDirectory && !ctx.delayLoads) return managed.walked;
    const ImageMap map(image, newHeader);
    const ByteView mapped = map.view();
    // The directory must lie in the image; a descriptor in zeros the loader
    // made (a section's tail, bytes past the end of the file) ends the walk.
    const bool walkImports = hasDirectory && directoryRva < mapped.size();
    if (!walkImports && !ctx.delayLoads) return managed.walked;

    int result = managed.walked;
    std::unordered_set<std::string> imported;  // lower-cased; kept only for the delay-load walk
    // Descriptors run until the terminating one, the end of the image, or the
    // bound on children. The same file bytes may be mapped at many places of
    // the image, so every descriptor is charged against the file's size too.
    ReadBudget budget(image.size());
    for (std::uint64_t at = directoryRva; walkImports && budget.spend(kDescriptorSize); at += kDescriptorSize) {
        ImportDescriptor d{};
        if (!readDescriptor(mapped, at, d)) break;
        if (d.timeDateStamp == 0 && d.name == 0) break;
        if (d.originalFirstThunk == 0 && d.firstThunk == 0) break;
        result = 1;

        // A name outside the image, without a terminator inside it, empty,
        // or too long for a path names no module: the descriptor is passed over.
        char name[kPathCapacity];
        if (!readModuleName(mapped, d.name, name, sizeof name)) continue;
        if (children == kMaxReferencesPerModule) {
            node.referencesCut = true;  // one more name than the bound lets through
            break;
        }
        addDependency(ctx, node, name, 1);
        ++children;
        if (ctx.delayLoads) imported.insert(lowerAscii(name));
    }
    if (ctx.delayLoads) result |= walkPeDelayImports(ctx, node, image, newHeader, map, imported, children);
    return result;
}

}  // namespace vost
