// The PE import walker: import directory -> descriptors -> module names, and
// the delay-load directory's and the managed metadata's after them.
#include <cstdint>
#include <string>
#include <unordered_set>

#include "analysis/cli_metadata.h"
#include "analysis/module_facts.h"
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

// Adds the references of a PE image as children: the managed ones first
// (what the metadata names, and whether the import table is bound at all),
// then each module of the import directory, then (when the walk reads them)
// those of the delay-load directory marked delay-loaded, all within the bound
// on children. A module the import directory names already (letter case
// ignored, as the loader compares module names), or an earlier delay-load
// descriptor, gives no second child.
int addPeReferences(ScanContext& ctx, ModuleNode& node, const PeReferences& references, const CliImage* cli) {
    int children = 0;
    const ManagedWalk managed = walkManagedReferences(ctx, node, cli, children);
    if (managed.skipNativeImports) return managed.walked;
    int result = managed.walked | (references.importsWalked ? 1 : 0);
    std::unordered_set<std::string> named;  // lower-cased; kept only for the delay-load walk
    for (const ImportedModule& module : references.imports) {
        if (children == kMaxReferencesPerModule) {
            node.referencesCut = true;
            return result;
        }
        addDependency(ctx, node, module.name.c_str(), 1);
        ++children;
        if (ctx.delayLoads) named.insert(lowerAscii(module.name));
    }
    // One more name than the bound lets through.
    if (references.cut) node.referencesCut = true;
    if (!ctx.delayLoads) return result;
    for (const ImportedModule& module : references.delayImports) {
        if (children >= kMaxReferencesPerModule) break;
        result = 1;
        if (!named.insert(lowerAscii(module.name)).second) continue;
        addDependency(ctx, node, module.name.c_str(), 1)->delayLoaded = true;
        ++children;
    }
    return result;
}

}  // namespace

PeReferences readPeReferences(const ByteView& image, std::uint64_t newHeader, const ImageMap& map, bool functions) {
    PeReferences references;
    references.delayImports = readPeDelayImports(image, newHeader, map, functions);
    // Data directory 1 lies at +144 in a PE32+ optional header and at +128
    // for every other magic.
    const std::uint16_t magic = optionalHeaderMagic(image, newHeader);
    std::uint32_t directoryRva = 0;
    if (!image.readU32(newHeader + dataDirectoryEntry(magic, kImportDirectory), directoryRva) || directoryRva == 0)
        return references;
    // The directory must lie in the image; a descriptor in zeros the loader
    // made (a section's tail, bytes past the end of the file) ends the walk.
    const ByteView mapped = map.view();
    if (directoryRva >= mapped.size()) return references;

    // Descriptors run until the terminating one, the end of the image, or the
    // bound on children. The same file bytes may be mapped at many places of
    // the image, so every descriptor is charged against the file's size too;
    // thunks and their names are charged on a budget of their own.
    ReadBudget descriptors(image.size()), budget(image.size());
    for (std::uint64_t at = directoryRva; descriptors.spend(kDescriptorSize); at += kDescriptorSize) {
        ImportDescriptor d{};
        if (!readDescriptor(mapped, at, d)) break;
        if (d.timeDateStamp == 0 && d.name == 0) break;
        if (d.originalFirstThunk == 0 && d.firstThunk == 0) break;
        references.importsWalked = true;

        // A name outside the image, without a terminator inside it, empty,
        // or too long for a path names no module: the descriptor is passed over.
        char name[kPathCapacity];
        if (!readModuleName(mapped, d.name, name, sizeof name)) continue;
        if (references.imports.size() == std::size_t(kMaxReferencesPerModule)) {
            references.cut = true;  // one more name than the bound lets through
            break;
        }
        ImportedModule module;
        module.name = name;
        module.fromAddressTable = d.originalFirstThunk == 0;
        if (functions)
            readImportThunks(map, d.originalFirstThunk ? d.originalFirstThunk : d.firstThunk, magic == kPe32PlusMagic,
                             0, budget, module);
        references.imports.push_back(std::move(module));
    }
    return references;
}

std::uint32_t rvaToFileOffset(const ByteView& image, std::uint64_t newHeader, std::uint32_t rva) {
    return ImageMap(image, newHeader).fileOffset(rva);
}

int walkPeImports(ScanContext& ctx, ModuleNode& node, const ByteView& image, std::uint64_t newHeader) {
    const ImageMap map(image, newHeader);
    const CliImage cli = readCliMetadata(image, newHeader, map);
    return addPeReferences(ctx, node, readPeReferences(image, newHeader, map, false), cli.present ? &cli : nullptr);
}

int walkPeReferences(ScanContext& ctx, ModuleNode& node, const ModuleFacts& facts) {
    return addPeReferences(ctx, node, facts.references, facts.cli.get());
}

}  // namespace vost
