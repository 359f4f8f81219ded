// scanModule: tells a PE from an NE file by its signature (as the module's
// facts record it) and walks it.
#include <cstdint>

#include "analysis/module_cache.h"
#include "analysis/module_contexts.h"
#include "analysis/scan_module.h"

namespace vost {

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

    const std::shared_ptr<const ModuleFacts> facts = moduleFacts(ctx, node.fullPath);
    switch (facts->format) {
    case ModuleFacts::Format::unreadable: return 0;
    case ModuleFacts::Format::notMz: {
        WindowHandle owner = node.treeWindow ? node.treeWindow->ownerWindow() : nullptr;
        ctx.platform.showError(owner, kNotValidFileText, kNotValidFileCaption);
        return 0;
    }
    case ModuleFacts::Format::badNewHeader: ctx.platform.showError(nullptr, kInvalidExeText, kHeaderCaption); return 0;
    case ModuleFacts::Format::neither: ctx.platform.showError(nullptr, kNeitherPeNorNeText, kHeaderCaption); return 0;
    case ModuleFacts::Format::ne: return walkNeReferences(ctx, node, facts->neReferences);
    case ModuleFacts::Format::pe: break;
    }
    node.machine = facts->machine;
    node.bits = facts->bits;
    // The root program's manifest makes the context of the whole process; a
    // DLL's own manifest adds one for its own imports.
    if (facts->manifests.present) {
        if (!node.parent)
            node.processContext = processContextOf(ctx.platform, node.fullPath.c_str(), node.bits, facts->manifests);
        node.ownContext = ownContextOf(ctx.platform, node.fullPath.c_str(), node.bits, facts->manifests);
    }
    return walkPeReferences(ctx, node, *facts);
}
}  // namespace

}  // namespace vost
