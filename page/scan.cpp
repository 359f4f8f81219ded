#include "page/scan.h"

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "analysis/scan_module.h"
#include "analysis/text.h"
#include "page/check_marks.h"
#include "page/module_list.h"
#include "page/scan_rows.h"

namespace vost {

namespace {
// Examines one child found by the walk, rows and flags as the page keeps them.
struct Expansion {
    DependencyExtension& ext;
    ScanContext ctx;
    ScanRows rows{*ext.list};

    // The node's row unless an earlier module already has one, then marked.
    void finish(ModuleNode& node) {
        if (!rows.hasRow(node.moduleName.c_str())) rows.addRow(ext, node);
        node.scanned = 1;
    }
};

// Module names on a chain of ancestors, with how often each occurs.
class AncestorNames {
public:
    explicit AncestorNames(const ModuleNode* node) {
        for (; node; node = node->parent) add(node->moduleName.c_str());
    }
    void add(const char* name) { ++counts_[name]; }
    void remove(const char* name) {
        const auto found = counts_.find(name);
        if (found != counts_.end() && --found->second == 0) counts_.erase(found);
    }
    bool contains(const char* name) const { return counts_.count(name) != 0; }

private:
    std::unordered_map<std::string, int> counts_;
};
}  // namespace

const char* fileNameOfPath(const char* path) {
    // A drive is the first two characters when the second is a colon.
    const char* name = (path[0] && path[1] == ':') ? path + 2 : path;
    for (const char* p = name; *p; ++p)
        if (*p == '\\' || *p == '/') name = p + 1;
    return name;
}

std::string folderOfPath(const std::string& path) {
    return path.substr(0, static_cast<std::size_t>(fileNameOfPath(path.c_str()) - path.c_str()));
}

void scanThread(DependencyExtension& ext) {
    ext.scanState = kScanRunning;
    TreeRecord record;
    scanSelectedFile(ext, ScanReach::closure, &record);
    checkScannedTree(ext, record);
    ext.scanState = kScanFinished;
}

void checkScannedTree(DependencyExtension& ext, const TreeRecord& record) {
    // A closed page's controls answer nothing: no root, nothing to mark.
    if (record.empty() || !ext.tree->rootItem()) return;
    const std::string folder = folderOfPath(ext.selectedPath);
    // The scan's search folder is still set, as the check needs it.
    CheckCache cache = ext.modules ? CheckCache(ext.modules) : CheckCache();
    CheckSettings settings;
    settings.delayLoads = ext.delayLoads;
    // Closing the dialog stops the check as it stops the walk: no module is
    // read for a page that is gone, and nothing is marked.
    settings.stop = [&ext] { return ext.tree->closed(); };
    const ClosureCheck check = checkClosure(record, *ext.platform, cache, folder.c_str(), settings, false);
    if (ext.tree->closed()) return;
    auto marks = std::make_shared<CheckMarks>(markCheckedTree(record, check));
    ext.checkMarks = marks;
    std::vector<ItemStateImage> items;
    for (const ItemMark& mark : marks->items) items.push_back(ItemStateImage{mark.item, mark.image});
    if (!items.empty()) ext.tree->setItemStateImages(items);
    // One request per image the rows carry.
    for (const int image : {kWillNotLoadImage, kFailsOnFirstUseImage, kDelayLoadedImage, kManagedImage,
                            kManagedWillNotLoadImage}) {
        std::vector<const char*> rows;
        for (const RowMark& mark : marks->rows)
            if (mark.image == image) rows.push_back(mark.module.c_str());
        if (!rows.empty()) ext.list->setRowStateImages(rows, image);
    }
}

int scanSelectedFile(DependencyExtension& ext, ScanReach reach, TreeRecord* record) {
    PagePlatform& platform = *ext.platform;
    TreeControl& tree = *ext.tree;
    WaitCursor wait(platform);
    platform.toTruePath(ext.selectedPath);

    std::string moduleName = fileNameOfPath(ext.selectedPath.c_str());
    const std::string folder = folderOfPath(ext.selectedPath);

    int icon = 0;
    if (ImageListHandle images = platform.smallImageList(ext.selectedPath.c_str(), icon))
        tree.setImageList(images);

    for (char& c : moduleName) c = asciiUpper(c);
    if (platform.pathsIgnoreCase() && !ext.selectedPathAsGiven) ext.selectedPath = lowerAscii(std::move(ext.selectedPath));
    // The root label has no blank before "(".
    std::string rootLabel = moduleName + "(" + ext.selectedPath;

    ScanContext ctx{platform, *ext.nodes, ext.delayLoads};
    ctx.modules = ext.modules.get();
    // The root's file is read once, for its version, its walk and its check.
    const std::shared_ptr<const ModuleFacts> rootFacts =
        ext.modules ? ext.modules->factsOf(platform, ext.selectedPath) : nullptr;
    ModuleNode* root = ctx.nodes.create(platform, ext.selectedPath, moduleName, nullptr, 1, true, rootFacts.get());
    if (!root->fileVersion.empty()) rootLabel += " [" + root->fileVersion + "]";
    rootLabel += ")";

    const TreeItem rootItem = tree.insertRoot(rootLabel.c_str(), icon, root);
    addModuleRow(ext, *root);
    root->treeWindow = &tree;
    root->treeItem = rootItem;
    if (record) record->push_back(RecordedItem{rootItem, root, kNoParent});

    // The module search is given the selected file's folder directly instead
    // of the process's current directory being changed for the scan: two scans
    // at once then never see each other's folder, and the host's own current
    // directory is never touched. A path without a folder names a file in the
    // current directory, which then is the folder searched.
    platform.setSearchFolder(folder.empty() ? "." : folder.c_str());

    const int walked = scanModule(ctx, *root);
    if (!walked) {
        tree.setHasChildren(rootItem, 0);
    } else if (reach == ScanReach::closure) {
        expandModuleItem(ext, rootItem, record);
    } else {
        // Only the root's own references: each distinct one gets its row,
        // none is read.
        ScanRows rows(*ext.list);
        for (const TreeChild& child : tree.children(rootItem))
            if (child.node && !rows.hasRow(child.node->moduleName.c_str())) rows.addRow(ext, *child.node);
    }
    tree.expand(rootItem);
    for (int column = 0; column < kColumnCount; ++column) ext.list->fitColumn(column);
    return walked;
}

void expandModuleItem(DependencyExtension& ext, TreeItem item, TreeRecord* record) {
    if (!item) return;
    TreeControl& tree = *ext.tree;
    Expansion walk{ext, ScanContext{*ext.platform, *ext.nodes, ext.delayLoads}};
    walk.ctx.modules = ext.modules.get();

    // Depth first with an explicit stack rather than one call per level: a
    // chain of thousands of distinct modules would otherwise need a frame per
    // module on the worker's fixed stack. Each level is an item whose
    // children are being walked; a child's row follows once its own subtree
    // is done, and the walk then goes on with its next sibling, exactly as a
    // recursive walk would. An item's children are all in place once its
    // module has been read, so each level reads them from the tree at once.
    struct Level {
        ModuleNode* node;
        std::vector<TreeChild> children;
        std::size_t next;
        std::size_t entry;  // the item's in `record`
    };
    std::vector<Level> levels;
    levels.push_back(Level{tree.itemNode(item), tree.children(item), 0, record ? record->size() - 1 : 0});

    // The names of the walked item's ancestors, counted, kept as the walk
    // goes down and up: a node repeats an ancestor when its name is among
    // them. Comparing with each ancestor in turn made deep chains quadratic.
    AncestorNames ancestors(levels.back().node);

    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next == level.children.size()) {
            ModuleNode* const done = level.node;
            levels.pop_back();
            if (levels.empty()) return;  // the walked item itself gets no row here
            ancestors.remove(done->moduleName.c_str());
            walk.finish(*done);
            continue;
        }
        const TreeChild child = level.children[level.next++];
        ModuleNode* const node = child.node;
        if (record) record->push_back(RecordedItem{child.item, node, level.entry});
        if (!node) continue;
        if (node->parent == level.node && level.node) {
            if (ancestors.contains(node->moduleName.c_str())) node->scanned = 1;
        } else {
            node->markIfRepeatsAncestor();
        }
        if (node->scanned || walk.rows.hasRow(node->moduleName.c_str())) continue;
        if (scanModule(walk.ctx, *node)) {
            ancestors.add(node->moduleName.c_str());
            const std::size_t entry = record ? record->size() - 1 : 0;
            levels.push_back(Level{node, tree.children(child.item), 0, entry});  // `level` is stale now
            continue;
        }
        tree.setHasChildren(child.item, 0);
        walk.finish(*node);
    }
}

}  // namespace vost
