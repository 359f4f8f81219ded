// An in-process shell host for the component's tests: loads vost.dll from
// the test's own folder, builds the shell's data object for files, opens a
// modeless property sheet with the component's page and reads the page's
// real controls back.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "component/dependency_extension.h"
#include "page/shell_handles.h"

namespace vost::test {

// An owned COM interface pointer.
template <class T>
using ComPtr = ComRef<T>;


// vost.dll, loaded once from the folder of the test program.
struct Component {
    HMODULE module = nullptr;
    HRESULT(STDAPICALLTYPE* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* canUnloadNow)() = nullptr;
    static Component& get();
};

// The folder of the running test program, with a trailing backslash.
std::string programFolder();

// The shell's data object for files of one folder (parsed by the desktop
// folder, bound to their parent, asked with GetUIObjectOf).
ComPtr<IDataObject> shellDataObject(const std::vector<std::string>& files);

// A new extension object from the component's factory.
ComPtr<IShellExtInit> createExtension();

// The record behind an extension's interface pointer (same process).
inline DependencyExtension& recordOf(IShellExtInit* ext) {
    return *reinterpret_cast<DependencyExtension*>(ext);
}

// AddPages into a list of page handles; `accept` is what the host answers.
std::vector<HPROPSHEETPAGE> addPages(IShellExtInit* ext, BOOL accept = TRUE);

// A modeless sheet holding a blank page "First" and then the given pages,
// opened on `startPage`. Destroyed with the object.
class Sheet {
public:
    Sheet(const std::vector<HPROPSHEETPAGE>& pages, int startPage);
    ~Sheet();
    Sheet(const Sheet&) = delete;
    Sheet& operator=(const Sheet&) = delete;

    HWND window() const { return sheet_; }
    HWND page(int index) const;  // PSM_INDEXTOHWND; null until created
    void select(int index);      // PSM_SETCURSEL, as a click on the tab
    void close();                // destroys the sheet now
    int tabImage(int index) const;  // the tab's image index, -1 for none

private:
    HWND sheet_ = nullptr;
};

// Opens a sheet on the component's page for the files and waits for its
// scan to end. Message boxes raised meanwhile (captions "VOST" and
// "Quillon") are recorded and closed.
struct OpenedPage {
    ComPtr<IShellExtInit> ext;
    std::unique_ptr<Sheet> sheet;
    HWND page = nullptr;
    std::vector<std::string> messages;  // "caption|text" of each box closed
};
OpenedPage openPage(const std::string& file);

// Runs the message loop until `done` or the timeout; true when done.
bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 60000);
void pumpFor(DWORD ms);

// Closes every message box titled `caption` of this process; returns
// "caption|text" of each.
std::vector<std::string> closeMessageBoxes(const char* caption);

struct TreeEntry {
    std::string label;
    int hasChildren = 0;
    int image = -1;  // the item's image index (-1 when it could not be read)
    int stateImage = 0;
    std::string tip;  // the page's info tip, asked for items with a state image
    std::vector<TreeEntry> children;
};
// One tree item's label (read through a 520-character buffer) and its
// has-children flag.
std::string itemText(HWND tree, HTREEITEM item, int* hasChildren);

// The page's tree (id 1000) read from the control, in sibling order.
std::vector<TreeEntry> readTree(HWND page);

using ListRow = std::array<std::string, 5>;
std::vector<ListRow> readList(HWND page);  // the list (id 1012), all cells
// Each row's state image and, for a row that has one, its info tip.
std::vector<std::pair<int, std::string>> readRowMarks(HWND page);

bool isVisible(HWND page, int id);

// What a user's click sends the page: a button (or another command code of
// the control), and a column header of a list (the page's module list
// unless `listId` names another of the window's).
void click(HWND page, int id, WORD code = BN_CLICKED);
void clickColumn(HWND window, int column, int listId = 1012);

// The clipboard's CF_UNICODETEXT as UTF-8 ("<busy>" when it cannot be opened).
std::string clipboardText(HWND owner = nullptr);

// A window's text, UTF-8.
std::string windowText(HWND window);

// Selects the tree's first-level item of `module` (the list's row, with
// `inList`, showing the list); false when there is none.
bool selectModule(HWND page, const std::string& module, bool inList);

// Opens the Functions dialog of the page's selection (modal: the command
// returns when it closes) and hands it to `use` on another thread, which
// then closes it; this thread serves the reader's messages meanwhile. False
// when no dialog opened.
bool withFunctionsDialog(HWND page, const std::function<void(HWND)>& use);

}  // namespace vost::test
