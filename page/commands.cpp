#include "page/commands.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "component/dependency_extension.h"
#include "component/module_instance.h"
#include "page/check_marks.h"
#include "page/clipboard_text.h"
#include "page/shell_handles.h"
#include "platform/win32/resource_text.h"
#include "platform/win32/system_folders.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/window_controls.h"
#include "resources/resource_ids.h"

namespace vost {

const char* const kFeedbackAddress = "mailto:feedback@vost.example";
const char* const kHomePageAddress = "https://vost.example/";

namespace {

constexpr int kModuleColumn = 0;
constexpr int kPathColumn = 4;
// Names a "not copied" message lists before it only counts the rest, so the
// box stays on the screen.
constexpr std::size_t kMissingNamesShown = 20;

// The message for modules that were not copied because no file was found
// for them.
std::string notFoundMessage(const std::vector<std::string>& missing) {
    std::string text = "These modules were not found, so they were not copied:\r\n";
    for (std::size_t i = 0; i < missing.size() && i < kMissingNamesShown; ++i) text += "\r\n" + missing[i];
    if (missing.size() > kMissingNamesShown)
        text += "\r\n(and " + std::to_string(missing.size() - kMissingNamesShown) + " more)";
    return text;
}

HWND pageWindowOf(DependencyExtension& ext) { return static_cast<HWND>(ext.pageWindow); }

// Makes the wait cursor current for the life of the object, then puts back
// the cursor it replaced.
class WaitCursorScope {
public:
    WaitCursorScope() : previous_(SetCursor(LoadCursorA(nullptr, IDC_WAIT))) {}
    ~WaitCursorScope() { SetCursor(previous_); }
    WaitCursorScope(const WaitCursorScope&) = delete;
    WaitCursorScope& operator=(const WaitCursorScope&) = delete;

private:
    HCURSOR previous_;
};

// The clipboard, open for the life of the object when opening succeeded.
class ClipboardScope {
public:
    explicit ClipboardScope(HWND owner) : open_(OpenClipboard(owner) != FALSE) {}
    ~ClipboardScope() {
        if (open_) CloseClipboard();
    }
    ClipboardScope(const ClipboardScope&) = delete;
    ClipboardScope& operator=(const ClipboardScope&) = delete;
    bool isOpen() const { return open_; }

private:
    bool open_;
};

// A global memory block, freed unless handed over with release().
class GlobalBlock {
public:
    GlobalBlock(UINT flags, SIZE_T size) : block_(GlobalAlloc(flags, size)) {}
    ~GlobalBlock() {
        if (block_) GlobalFree(block_);
    }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;
    HGLOBAL get() const { return block_; }
    HGLOBAL release() { return std::exchange(block_, nullptr); }

private:
    HGLOBAL block_;
};

// Copies `text` with its zero into a new moveable, shareable block; null when
// the block cannot be allocated or locked.
HGLOBAL textBlock(const std::wstring& text, GlobalBlock& owner) {
    if (!owner.get()) return nullptr;
    void* memory = GlobalLock(owner.get());
    if (!memory) return nullptr;
    std::memcpy(memory, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(owner.get());
    return owner.get();
}

}  // namespace

bool treeIsShown(DependencyExtension& ext) {
    return SendDlgItemMessageA(pageWindowOf(ext), IDC_SHOW_TREE, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

ModuleNode* selectedNode(DependencyExtension& ext) {
    HWND page = pageWindowOf(ext);
    if (treeIsShown(ext)) {
        HWND tree = GetDlgItem(page, IDC_MODULE_TREE);
        auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
        if (!item) return nullptr;
        TVITEMW read = {};
        read.mask = TVIF_HANDLE | TVIF_PARAM;
        read.hItem = item;
        if (!SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&read))) return nullptr;
        return reinterpret_cast<ModuleNode*>(read.lParam);
    }
    HWND list = GetDlgItem(page, IDC_MODULE_LIST);
    const int row = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                                  MAKELPARAM(LVNI_SELECTED, 0)));
    LVITEMW read = {};
    read.mask = LVIF_PARAM;
    read.iItem = row;
    read.iSubItem = 0;
    read.lParam = 0;
    if (row < 0 || !SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&read))) return nullptr;
    return reinterpret_cast<ModuleNode*>(read.lParam);
}

std::string explorerPath() {
    std::string path = systemFolders().windows;
    if (path.empty()) return std::string();
    if (path.back() != '\\') path += '\\';
    return path + "explorer.exe";
}

std::string exploreCommandLine(const std::string& explorer, const std::string& fullPath) {
    return "\"" + explorer + "\" /SELECT, " + fullPath;
}

void exploreSelectedModule(DependencyExtension& ext) {
    ModuleNode* node = selectedNode(ext);
    if (!node) {
        MessageBeep(MB_ICONEXCLAMATION);
        return;
    }
    // The Windows folder's explorer.exe by its full path, quoted: a bare
    // "explorer.exe" is looked for in the host program's folder and the
    // current directory first, and a file dialog makes any folder the user
    // browses current, so a planted explorer.exe would run instead.
    const std::string explorer = explorerPath();
    if (explorer.empty()) return;
    // The command line as UTF-16: an ANSI one would name another file.
    std::wstring command;
    if (!toWide(exploreCommandLine(explorer, node->fullPath), command)) return;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

void placeOnClipboard(WindowHandle owner, const std::string& text) {
    ClipboardScope clipboard(static_cast<HWND>(owner));
    if (!clipboard.isOpen()) return;
    EmptyClipboard();
    const std::wstring wide = wideText(text);
    GlobalBlock block(GMEM_MOVEABLE | GMEM_DDESHARE, (wide.size() + 1) * sizeof(wchar_t));
    if (!textBlock(wide, block)) return;
    // Once the clipboard has taken the block it owns it; otherwise it is ours to free.
    if (SetClipboardData(CF_UNICODETEXT, block.get())) block.release();
}

void copyToClipboard(DependencyExtension& ext) {
    WaitCursorScope waitCursor;

    std::string titles[5];
    for (int id = IDS_COLUMN_MODULE; id <= IDS_COLUMN_PATH; ++id) titles[id - IDS_COLUMN_MODULE] = resourceText(static_cast<HINSTANCE>(moduleInstance), id);
    const char* const titleTexts[5] = {titles[0].c_str(), titles[1].c_str(), titles[2].c_str(), titles[3].c_str(),
                                       titles[4].c_str()};
    WindowListControl list = WindowListControl::ofPage(pageWindowOf(ext));
    // Which modules only delay-loads name is known once the walk is done (its
    // nodes are the worker's until then).
    const std::unordered_set<std::string> delayLoaded =
        ext.scanState == kScanFinished ? delayLoadedModules(*ext.nodes) : std::unordered_set<std::string>();
    placeOnClipboard(pageWindowOf(ext), clipboardText(list, titleTexts, delayLoaded));
}

const CheckMarks* finishedCheck(DependencyExtension& ext) {
    // The worker sets the marks before it says the scan is finished.
    return ext.scanState == kScanFinished ? ext.checkMarks.get() : nullptr;
}

bool hasProblems(DependencyExtension& ext) {
    const CheckMarks* marks = finishedCheck(ext);
    return marks && !marks->problems.empty();
}

void copyProblemsToClipboard(DependencyExtension& ext) {
    if (!hasProblems(ext)) return;
    placeOnClipboard(pageWindowOf(ext), finishedCheck(ext)->problems);
}

void copyAllToFolder(DependencyExtension& ext) {
    HWND page = pageWindowOf(ext);
    wchar_t folder[MAX_PATH] = {};
    BROWSEINFOW browse = {};
    browse.hwndOwner = page;
    browse.pidlRoot = nullptr;
    browse.pszDisplayName = folder;
    browse.lpszTitle = L"Copy all needed Modules to selected Folder";
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    browse.lpfn = nullptr;
    browse.lParam = 0;

    ComRef<IMalloc> allocator;
    if (FAILED(SHGetMalloc(allocator.put())) || !allocator) return;
    bool haveFolder = false;
    {
        ShellIdList chosen(allocator.get(), SHBrowseForFolderW(&browse));
        if (!chosen) return;  // cancelled
        // The display-name buffer already holds the folder's name, not its
        // path: without a real path there is nowhere to copy to.
        haveFolder = SHGetPathFromIDListW(chosen.get(), folder) != FALSE;
    }
    if (!haveFolder || !folder[0]) return;

    // Double-zero lists: each entry with its zero, then one more zero.
    std::wstring destination(folder);
    destination += L'\0';

    // Counted only now, so rows that a running scan added while the browser
    // was open are included.
    WindowListControl list = WindowListControl::ofPage(page);
    std::wstring sources;
    // Several rows may list one file (contracts of the API set schema carry
    // their host's path): it is handed over once, so the shell neither asks
    // to overwrite it nor makes a renamed copy of it. A module that was not
    // found has the not-found text for its path, which names no file: the
    // shell would look for it in this process's current folder.
    std::set<std::string> listed;
    std::vector<std::string> missing;
    const int rows = list.rowCount();
    for (int row = 0; row < rows; ++row) {
        const ModuleNode* node = list.rowNode(row);
        if (node && !node->found) {
            missing.push_back(list.cellText(row, kModuleColumn));
            continue;
        }
        const std::string path = list.cellText(row, kPathColumn);
        if (path.empty() || !listed.insert(path).second) continue;
        // The shell copies in this process, which may name the file otherwise.
        std::wstring wide;
        if (!toWide(pathForThisProcess(systemFolders(), path), wide)) {
            missing.push_back(list.cellText(row, kModuleColumn));
            continue;
        }
        sources += wide;
        sources += L'\0';
    }
    if (!sources.empty()) {
        sources += L'\0';
        SHFILEOPSTRUCTW operation = {};
        operation.hwnd = page;
        operation.wFunc = FO_COPY;
        operation.pFrom = sources.c_str();
        operation.pTo = destination.c_str();
        operation.fFlags = FOF_RENAMEONCOLLISION;
        operation.hNameMappings = nullptr;
        operation.lpszProgressTitle = nullptr;
        SHFileOperationW(&operation);
    }
    if (!missing.empty())
        MessageBoxW(page, wideText(notFoundMessage(missing)).c_str(), L"VOST", MB_OK | MB_ICONWARNING);
}

void sendFeedback(DependencyExtension& ext) {
    ShellExecuteW(pageWindowOf(ext), nullptr, wideText(kFeedbackAddress).c_str(), nullptr, nullptr, SW_SHOW);
}

void openHomePage(DependencyExtension& ext) {
    ShellExecuteW(pageWindowOf(ext), nullptr, wideText(kHomePageAddress).c_str(), nullptr, nullptr, SW_SHOW);
}

}  // namespace vost
