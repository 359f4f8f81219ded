// addDependency: one module reference -> file search, icon, label, child node
// and sorted tree item under the referencing module.
#include <cstdint>

#include "analysis/reference_search.h"
#include "analysis/scan_module.h"
#include "analysis/text.h"

namespace vost {

namespace {
constexpr std::size_t kLabelCapacity = 520;
}

ModuleNode* addDependency(ScanContext& ctx, ModuleNode& node, const char* name, int readVersion) {
    char path[kPathCapacity] = {};
    SearchOutcome outcome;
    const Referrer referrer{node.bits, node.fullPath, readVersion != 0, node.ownContext, node.processContext};
    const std::uint32_t found = searchReference(ctx.platform, referrer, name, path, sizeof path, &outcome);
    // A path that does not fit the buffer is no usable path: the module
    // counts as not found.
    const bool usable = found != 0 && found < sizeof path;
    if (!usable) copyBounded(path, sizeof path, kFileNotFoundText);

    // A missing module shows its parent's icon.
    int icon = 0;
    const bool hasIcon = ctx.platform.smallIconIndex(usable ? path : node.fullPath, icon);

    // The label and the node keep the name as referenced; a contract's node
    // carries its host's path, and so its host's version, time and imports.
    char label[kLabelCapacity] = {};
    copyBounded(label, sizeof label, name);
    upperInPlace(label);
    appendBounded(label, sizeof label, " (");
    // The not-found text is shown lower-cased everywhere.
    if (!usable || ctx.platform.pathsIgnoreCase()) lowerInPlace(path);
    appendBounded(label, sizeof label, path);

    ModuleNode* child = ctx.nodes.create(ctx.platform, path, name, &node, readVersion, usable);
    child->foundBy = usable ? outcome.how : FoundBy::notFound;
    if (usable && outcome.how == FoundBy::sideBySide) child->assembly = outcome.assembly.text();
    child->processContext = node.processContext;
    if (child->readVersion && child->fileVersion[0]) {
        appendBounded(label, sizeof label, " [");
        appendBounded(label, sizeof label, child->fileVersion);
        appendBounded(label, sizeof label, "]");
    }
    appendBounded(label, sizeof label, ")");

    child->treeWindow = node.treeWindow;
    child->treeItem =
        node.treeWindow ? node.treeWindow->insertSorted(node.treeItem, label, hasIcon ? &icon : nullptr, child)
                        : nullptr;
    return child;
}

}  // namespace vost
