// addDependency: one module reference -> file search, icon, label, child node
// and sorted tree item under the referencing module.
#include <cstdint>

#include "analysis/module_cache.h"
#include "analysis/reference_search.h"
#include "analysis/scan_module.h"
#include "analysis/text.h"

namespace vost {

ModuleNode* addDependency(ScanContext& ctx, ModuleNode& node, const char* name, int readVersion) {
    SearchOutcome outcome;
    const Referrer referrer{node.bits, node.fullPath.c_str(), readVersion != 0, node.ownContext,
                           node.processContext};
    std::string path = searchReference(ctx.platform, referrer, name, &outcome);
    std::string label = name;
    for (char& c : label) c = asciiUpper(c);
    return addFoundDependency(ctx, node, name, label, std::move(path), outcome, readVersion);
}

ModuleNode* addFoundDependency(ScanContext& ctx, ModuleNode& node, const std::string& name, std::string label,
                               std::string path, const SearchOutcome& outcome, int readVersion) {
    const bool usable = !path.empty();
    if (!usable) path = kFileNotFoundText;

    // A missing module shows its parent's icon.
    int icon = 0;
    const bool hasIcon = ctx.platform.smallIconIndex(usable ? path.c_str() : node.fullPath.c_str(), icon);

    // The label and the node keep the name as referenced; a contract's node
    // carries its host's path, and so its host's version, time and imports.
    label += " (";
    // The not-found text is shown lower-cased everywhere.
    if (!usable || ctx.platform.pathsIgnoreCase()) path = lowerAscii(std::move(path));
    label += path;

    // With the run's cache, the child's file is read once, here, for its
    // version and everything its own walk and its check will need.
    std::shared_ptr<const ModuleFacts> facts;
    if (usable && readVersion && ctx.modules) facts = ctx.modules->factsOf(ctx.platform, path);
    ModuleNode* child = ctx.nodes.create(ctx.platform, std::move(path), name, &node, readVersion, usable, facts.get());
    child->foundBy = usable ? outcome.how : FoundBy::notFound;
    if (usable && outcome.how == FoundBy::sideBySide) child->assembly = outcome.assembly.text();
    child->processContext = node.processContext;
    child->managedProcess = node.managedProcess;
    if (child->readVersion && !child->fileVersion.empty()) label += " [" + child->fileVersion + "]";
    label += ")";

    child->treeWindow = node.treeWindow;
    if (!node.treeWindow) return child;
    if (ctx.pendingItems) {
        ctx.pendingItems->push_back(NewTreeItem{std::move(label), hasIcon, icon, child});
        return child;
    }
    child->treeItem = node.treeWindow->insertSorted(node.treeItem, label.c_str(), hasIcon ? &icon : nullptr, child);
    return child;
}

}  // namespace vost
