// scanModule: tells a PE from an NE file by its signature and walks it.
#include <cstdint>

#include "analysis/module_contexts.h"
#include "analysis/pe_headers.h"
#include "analysis/scan_module.h"

namespace vost {

namespace {
constexpr std::uint16_t kMzSignature = 0x5A4D;  // "MZ"
constexpr std::uint16_t kNeSignature = 0x454E;  // "NE"
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint64_t kNewHeaderOffsetField = 60;
}  // namespace

namespace {
int readModule(ScanContext& ctx, ModuleNode& node);
}  // namespace

int scanModule(ScanContext& ctx, ModuleNode& node) {
    // The module's references reach the tree together, once it is read.
    std::vector<NewTreeItem> items;
    std::vector<NewTreeItem>* const outer = ctx.pendingItems;
    ctx.pendingItems = &items;
    const int result = readModule(ctx, node);
    ctx.pendingItems = outer;
    if (!items.empty() && node.treeWindow) {
        node.treeWindow->insertChildren(node.treeItem, items);
        for (NewTreeItem& item : items) item.node->treeItem = item.item;
    }
    return result;
}

namespace {
int readModule(ScanContext& ctx, ModuleNode& node) {
    node.scanned = 1;
    // A module that was not found has no file: its path is the not-found
    // text, which must not be taken for a file name.
    if (!node.found) return 0;

    // The mapping object releases the view, the mapping and the file on every
    // path out of this function.
    const std::unique_ptr<MappedFile> file = ctx.platform.mapFile(node.fullPath.c_str());
    if (!file) return 0;
    const ByteView image = file->bytes();

    std::uint16_t mz = 0;
    if (!image.readU16(0, mz) || mz != kMzSignature) {
        WindowHandle owner = node.treeWindow ? node.treeWindow->ownerWindow() : nullptr;
        ctx.platform.showError(owner, kNotValidFileText, kNotValidFileCaption);
        return 0;
    }

    // Every byte read here is bounded by the file: a new-header offset (or a
    // signature) that lies past the end of the file is the "invalid .EXE" case.
    std::uint32_t newHeaderField = 0;
    std::uint16_t ne = 0;
    std::uint32_t pe = 0;
    if (!image.readU32(kNewHeaderOffsetField, newHeaderField) ||
        !image.readU16(newHeaderField, ne)) {
        ctx.platform.showError(nullptr, kInvalidExeText, kHeaderCaption);
        return 0;
    }
    const std::uint64_t newHeader = newHeaderField;
    if (ne == kNeSignature) return walkNeModuleRefs(ctx, node, image, newHeader);
    if (!image.readU32(newHeader, pe)) {
        ctx.platform.showError(nullptr, kInvalidExeText, kHeaderCaption);
        return 0;
    }
    if (pe == kPeSignature) {
        // A PE32+ module's references are 64-bit modules; every other PE
        // file's, like an NE file's, are 32-bit (or 16-bit) ones.
        node.machine = coffMachine(image, newHeader);
        node.bits = isPe32Plus(image, newHeader) ? ModuleBits::bits64 : ModuleBits::bits32;
        // The root program's manifest makes the context of the whole
        // process; a DLL's own manifest adds one for its own imports.
        ManifestUse use;
        if (readManifestUse(image, newHeader, use)) {
            if (!node.parent) node.processContext = processContextOf(ctx.platform, node.fullPath.c_str(), node.bits, use);
            node.ownContext = ownContextOf(ctx.platform, node.fullPath.c_str(), node.bits, use);
        }
        return walkPeImports(ctx, node, image, newHeader);
    }

    ctx.platform.showError(nullptr, kNeitherPeNorNeText, kHeaderCaption);
    return 0;
}
}  // namespace

}  // namespace vost
