// A page over in-memory controls and the shared fake platform: files are
// generated images under Windows-style paths, times and dates come from a
// table, and every platform call stays in memory.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "component/dependency_extension.h"
#include "page/check_marks.h"
#include "page/scan.h"
#include "platform/memory/memory_list.h"
#include "platform/memory/memory_tree.h"
#include "tests/support/fake_platform.h"

namespace vost::test {

class FakePagePlatform : public PagePlatform {
public:
    FakePlatform fake;
    std::map<std::string, FileTime> times;  // by lower-cased path
    std::vector<std::string> searchFolders;  // every folder set, in order
    std::vector<std::string> timeReads;      // paths asked for their time
    int waitCursors = 0;                     // shown and not yet restored
    int waitCursorsShown = 0;

    std::function<void()> onMap;  // called before each file is opened, when set
    std::unique_ptr<MappedFile> mapFile(const char* path) override {
        if (onMap) onMap();
        return fake.mapFile(path);
    }
    std::string searchModule(const char* name, ModuleBits bits) override { return fake.searchModule(name, bits); }
    const ApiSetSchema* apiSetSchema(ModuleBits bits) override { return fake.apiSetSchema(bits); }
    bool readFixedVersion(const char* path, FixedFileVersion& out) override {
        return fake.readFixedVersion(path, out);
    }
    bool smallIconIndex(const char* path, int& index) override { return fake.smallIconIndex(path, index); }
    void showError(WindowHandle owner, const char* text, const char* caption) override {
        fake.showError(owner, text, caption);
    }
    // Activation contexts by lower-cased path and role (a program's "1", a
    // DLL's own "2"): ones that redirect nothing, with the problems given.
    std::map<std::string, std::vector<ContextProblem>> contextProblems;
    const ActivationContext* activationContext(const char* path, ModuleBits bits, ManifestRole role) override;
    // The scan's folder is searched after the system folders, as on Windows.
    void setSearchFolder(const char* folder) override;
    bool lastWriteTime(const char* path, FileTime& out) override;
    // "t<value>": shows exactly which time the list asked for.
    std::string formatShortDate(FileTime time) override { return "t" + std::to_string(time.value()); }
    ImageListHandle smallImageList(const char* path, int& icon) override;
    CursorHandle showWaitCursor() override;
    void restoreCursor(CursorHandle previous) override;

private:
    std::map<std::string, std::unique_ptr<ActivationContext>> contexts_;
};

// One page: the record, its in-memory controls and a fake platform.
struct PageFixture {
    std::shared_ptr<FakePagePlatform> platform = std::make_shared<FakePagePlatform>();
    std::shared_ptr<MemoryTree> tree = std::make_shared<MemoryTree>();
    std::shared_ptr<MemoryList> list = std::make_shared<MemoryList>();
    DependencyExtension ext;

    PageFixture();

    // A PE file importing `imports`, with an optional version.
    void addPe(const std::string& path, const std::vector<std::string>& imports,
               const FixedFileVersion* version = nullptr);
    // Scans `path` as the page does.
    int scan(const std::string& path, ScanReach reach = ScanReach::closure);

    // Read back.
    std::vector<std::string> rowModules();
    std::vector<std::string> childLabels(TreeItem item);
    TreeItem child(TreeItem item, const std::string& labelStart);  // first child whose label starts so
    // The whole tree, one line per item: indent, label, " +" when has-children is 1.
    std::string treeOutline();
};

// Each item of `tree`: its module name, its state image when it has one
// (" =N") and its tip's lines after " | ", indented by depth.
std::string markedOutline(MemoryTree& tree, const CheckMarks& marks);

}  // namespace vost::test
