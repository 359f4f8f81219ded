// A stand-in for the Dependencies page: a top-level window holding the radio
// buttons "&Tree" 1003 and "&List" 1004, the tree view 1000 and the list view
// 1012, filled with ModuleNodes through the real controls. Its window
// procedure routes WM_COMMAND and WM_CONTEXTMENU as the page does and records
// every WM_COMMAND it receives.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "component/dependency_extension.h"
#include "platform/win32/window_controls.h"

namespace vost::test {

struct RowTexts {
    const char* module;
    const char* date;
    const char* fileVersion;
    const char* productVersion;
    const char* path;
};

class TestPage {
public:
    TestPage();
    ~TestPage();

    HWND window() const { return window_; }
    HWND treeWindow() const { return tree_.window(); }
    HWND listWindow() const { return list_.window(); }
    DependencyExtension& extension() { return ext_; }
    WindowTreeControl& tree() { return tree_; }
    WindowListControl& list() { return list_; }

    // A node with the given path (kept as given) and module name.
    ModuleNode* node(const char* path, const char* name);
    // A list row for `node` with the five cell texts; returns its index.
    int addRow(ModuleNode* node, const RowTexts& texts);
    // A row whose texts come from the node: module name, no date, its versions, its path.
    int addRow(ModuleNode* node);
    TreeItem addTreeItem(TreeItem parent, ModuleNode* node);

    void selectTreeItem(TreeItem item);
    void selectRow(int row);  // -1 clears the selection
    // As a click on "&Tree" or "&List": the check state and the view shown.
    void showTree();
    void showList();

    // Handles the messages that are waiting.
    void pump();

    // WM_COMMAND wParams received, in order.
    std::vector<WPARAM> commands;
    // Called for each WM_COMMAND before it is routed; may be empty.
    std::function<void(WPARAM)> onCommand;

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    HWND window_ = nullptr;
    WindowTreeControl tree_{nullptr};
    WindowListControl list_{nullptr};
    DependencyExtension ext_;
    std::unique_ptr<PagePlatform> platform_;
    NodeStore nodes_;
};

// Fixture: a fresh page per test.
class PageTest : public ::testing::Test {
protected:
    std::unique_ptr<TestPage> page = std::make_unique<TestPage>();
};

// Files and folders the tests make, under a fresh folder of the temp folder;
// paths are UTF-8, of any script.
std::string freshFolder(const std::string& name);
void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
// OpenClipboard, retried for a few seconds: Wine's desktop process opens the
// clipboard for a moment after each change, to offer it to X.
bool openClipboardSoon(HWND owner);
// The test program's own folder, with a trailing backslash.
std::string programFolder();

// Visible top-level windows of this process with the class and (when given) title.
std::vector<HWND> visibleWindows(const char* className, const char* title = nullptr);
// Polls for a visible window of this process until it appears or about ten
// seconds pass; null on timeout.
HWND waitForWindow(const char* className, const char* title = nullptr, size_t count = 1);

}  // namespace vost::test
