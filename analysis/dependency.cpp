// addDependency: one module reference -> file search, icon, label, child node
// and sorted tree item under the referencing module.
#include <cstdint>

#include "analysis/api_set_schema.h"
#include "analysis/scan_module.h"
#include "analysis/text.h"

namespace vost {

namespace {
constexpr std::size_t kLabelCapacity = 520;

// The name of the file the loader looks for when `importer` references
// `name`: a contract ("api-...", "ext-...") maps through the API set schema of
// the importer's family to its host, before any file search, so a file named
// like the contract never stands in for it. Only PE references are mapped
// (the 16-bit loader knows no contracts), and only where the platform has a
// schema: without one, or when the schema has no such contract, the name is
// searched as a file, as the loader does. False when the schema knows the
// contract but gives it no host for this importer: the loader fails such a
// load, and no file is looked for.
bool fileToSearch(ScanContext& ctx, const ModuleNode& importer, const char* name, int peReference,
                  char (&host)[kPathCapacity], const char*& fileName) {
    fileName = name;
    if (!peReference || !isApiSetName(name)) return true;
    const ApiSetSchema* schema = ctx.platform.apiSetSchema(importer.bits);
    if (!schema) return true;
    // The importer is known to the loader by its file's name (for a contract
    // module, its host's).
    switch (resolveApiSet(*schema, name, importer.fullPath, host, sizeof host)) {
    case ApiSetResult::hosted: fileName = host; return true;
    case ApiSetResult::notHosted: return false;
    case ApiSetResult::notAContract:
    case ApiSetResult::absent: return true;
    }
    return true;
}
}  // namespace

void addDependency(ScanContext& ctx, ModuleNode& node, const char* name, int readVersion) {
    char host[kPathCapacity] = {};
    const char* fileName = name;
    char path[kPathCapacity] = {};
    const std::uint32_t found = fileToSearch(ctx, node, name, readVersion, host, fileName)
                                    ? ctx.platform.searchModule(fileName, node.bits, path, sizeof path)
                                    : 0;
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
    lowerInPlace(path);
    appendBounded(label, sizeof label, path);

    ModuleNode* child = ctx.nodes.create(ctx.platform, path, name, &node, readVersion, usable);
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
}

}  // namespace vost
