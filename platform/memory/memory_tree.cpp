#include "platform/memory/memory_tree.h"

#include "platform/common/label_collation.h"

namespace vost {

namespace {
template <typename Item>
Item* itemOf(TreeItem handle) { return static_cast<Item*>(handle); }
}  // namespace

MemoryTree::Item* MemoryTree::insert(Item* parent, const char* label, int image, int hasChildren,
                                     ModuleNode* node) {
    items_.emplace_back();
    Item* item = &items_.back();
    item->label = label ? label : "";
    item->image = image;
    item->hasChildren = hasChildren;
    item->node = node;
    item->parent = parent;

    Item** link = parent ? &parent->firstChild : &firstTop_;
    while (*link && compareTreeLabels((*link)->label.c_str(), item->label.c_str()) <= 0)
        link = &(*link)->nextSibling;
    item->nextSibling = *link;
    *link = item;
    if (parent) parent->hasChildren = 1;
    return item;
}

TreeItem MemoryTree::insertSorted(TreeItem parent, const char* label, const int* image,
                                  ModuleNode* node) {
    return insert(itemOf<Item>(parent), label, image ? *image : -1, 0, node);
}

TreeItem MemoryTree::insertRoot(const char* label, int image, ModuleNode* node) {
    return insert(nullptr, label, image, 1, node);
}

TreeItem MemoryTree::firstChild(TreeItem item) {
    return item ? itemOf<Item>(item)->firstChild : nullptr;
}

TreeItem MemoryTree::nextSibling(TreeItem item) {
    return item ? itemOf<Item>(item)->nextSibling : nullptr;
}

ModuleNode* MemoryTree::itemNode(TreeItem item) {
    return item ? itemOf<Item>(item)->node : nullptr;
}

void MemoryTree::setHasChildren(TreeItem item, int hasChildren) {
    if (item) itemOf<Item>(item)->hasChildren = hasChildren;
}

void MemoryTree::expand(TreeItem item) {
    if (item) itemOf<Item>(item)->expanded = true;
}

TreeItem MemoryTree::rootItem() { return firstTop_; }

std::string MemoryTree::itemLabel(TreeItem item) {
    return item ? itemOf<Item>(item)->label : std::string();
}

int MemoryTree::itemHasChildren(TreeItem item) {
    return item ? itemOf<Item>(item)->hasChildren : 0;
}

bool MemoryTree::itemExpanded(TreeItem item) {
    return item && itemOf<Item>(item)->expanded;
}

void MemoryTree::setItemStateImage(TreeItem item, int image) {
    if (item) itemOf<Item>(item)->stateImage = image;
}

int MemoryTree::itemStateImage(TreeItem item) { return item ? itemOf<Item>(item)->stateImage : 0; }

int MemoryTree::itemImage(TreeItem item) { return item ? itemOf<Item>(item)->image : -1; }

}  // namespace vost
