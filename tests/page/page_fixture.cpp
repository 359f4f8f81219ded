#include "tests/page/page_fixture.h"

#include "analysis/text.h"
#include "page/controls.h"
#include "page/module_list.h"
#include "tests/support/image_builder.h"

namespace vost::test {

void FakePagePlatform::setSearchFolder(const char* folder) {
    std::string path = folder;
    searchFolders.push_back(path);
    if (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    fake.addSearchFolder(path);
}

bool FakePagePlatform::lastWriteTime(const char* path, FileTime& out) {
    timeReads.push_back(path);
    const auto it = times.find(asciiLowerCopy(path));
    if (it == times.end() || !fake.hasFile(path)) return false;
    out = it->second;
    return true;
}

const ActivationContext* FakePagePlatform::activationContext(const char* path, ModuleBits, ManifestRole role) {
    struct Refused : ActivationContext {
        bool redirect(const char*, Redirection&) const override { return false; }
    };
    const std::string key = asciiLowerCopy(path) + (role == ManifestRole::process ? "|1" : "|2");
    const auto problems = contextProblems.find(key);
    if (problems == contextProblems.end()) return nullptr;
    auto& context = contexts_[key];
    if (!context) {
        context = std::make_unique<Refused>();
        context->problems = problems->second;
    }
    return context.get();
}

ImageListHandle FakePagePlatform::smallImageList(const char* path, int& icon) {
    if (!smallIconIndex(path, icon)) return nullptr;
    return reinterpret_cast<ImageListHandle>(static_cast<std::uintptr_t>(0x1A6E));
}

CursorHandle FakePagePlatform::showWaitCursor() {
    ++waitCursors;
    ++waitCursorsShown;
    return nullptr;
}

void FakePagePlatform::restoreCursor(CursorHandle) { --waitCursors; }

PageFixture::PageFixture() {
    ext.tree = tree;
    ext.list = list;
    ext.platform = platform;
    platform->fake.addSearchFolder("c:\\windows\\system32");
}

void PageFixture::addPe(const std::string& path, const std::vector<std::string>& imports,
                        const FixedFileVersion* version) {
    PeImageLayout layout;
    layout.imports = imports;
    platform->fake.addFile(path, buildPe(layout).bytes);
    if (version) platform->fake.setVersion(path, *version);
}

int PageFixture::scan(const std::string& path, ScanReach reach) {
    ext.selectedPath = path;
    return scanSelectedFile(ext, reach);
}

std::vector<std::string> PageFixture::rowModules() {
    std::vector<std::string> modules;
    for (int row = 0; row < list->rowCount(); ++row) modules.push_back(list->cellText(row, 0));
    return modules;
}

std::vector<std::string> PageFixture::childLabels(TreeItem item) {
    std::vector<std::string> labels;
    for (TreeItem c = tree->firstChild(item); c; c = tree->nextSibling(c)) labels.push_back(tree->itemLabel(c));
    return labels;
}

TreeItem PageFixture::child(TreeItem item, const std::string& labelStart) {
    for (TreeItem c = tree->firstChild(item); c; c = tree->nextSibling(c))
        if (tree->itemLabel(c).compare(0, labelStart.size(), labelStart) == 0) return c;
    return nullptr;
}

std::string PageFixture::treeOutline() {
    std::string out;
    std::vector<std::pair<TreeItem, int>> stack;
    for (TreeItem top = tree->rootItem(); top; top = tree->nextSibling(top)) {
        stack.push_back({top, 0});
        while (!stack.empty()) {
            const auto [item, depth] = stack.back();
            stack.pop_back();
            out += std::string(2 * depth, ' ') + tree->itemLabel(item) +
                   (tree->itemHasChildren(item) ? " +" : "") + "\n";
            std::vector<TreeItem> children;
            for (TreeItem c = tree->firstChild(item); c; c = tree->nextSibling(c)) children.push_back(c);
            for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back({*it, depth + 1});
        }
    }
    return out;
}

std::string markedOutline(MemoryTree& tree, const CheckMarks& marks) {
    std::string out;
    visitInPreOrder(tree, [&](TreeItem item, std::size_t depth) {
        const std::string label = tree.itemLabel(item);
        out += std::string(2 * depth, ' ') + label.substr(0, label.find('('));
        while (!out.empty() && out.back() == ' ') out.pop_back();
        if (const int image = tree.itemStateImage(item)) out += " =" + std::to_string(image);
        if (const Tip* tip = marks.itemTip(item)) {
            std::string text = tip->text;
            for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " / ");
            out += " | " + text;
        }
        out += '\n';
        return true;
    });
    return out;
}

}  // namespace vost::test
