// Copying every listed module into a folder picked in the real folder browser.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "page/commands.h"
#include "platform/win32/wide_text.h"
#include "tests/commands/import_hook.h"
#include "tests/commands/test_page.h"
#include "tests/support/path_table.h"

namespace vost::test {
namespace {

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wideText(folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(utf8Text(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::string caretText(HWND browser) {
    HWND tree = FindWindowExW(browser, nullptr, WC_TREEVIEWW, nullptr);
    auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    wchar_t text[MAX_PATH] = {};
    TVITEMW read = {};
    read.mask = TVIF_TEXT | TVIF_HANDLE;
    read.hItem = item;
    read.pszText = text;
    read.cchTextMax = MAX_PATH;
    if (!item || !SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&read))) return {};
    return utf8Text(text);
}

// Drives the folder browser from a second thread while the page's thread
// runs copyAllToFolder: picks `folder` (or cancels when it is empty), runs
// `whileOpen` before closing the browser, then answers every "Confirm file
// overwrite" question with Yes until the command has returned.
class BrowserDriver {
public:
    BrowserDriver(std::string folder, std::function<void()> whileOpen = {})
        : thread_([this, folder, whileOpen] { run(folder, whileOpen); }) {}
    ~BrowserDriver() { finish(); }
    void finish() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool browserSeen = false;
    std::string browserOwnerMismatch;
    int overwriteQuestions = 0;

private:
    void run(const std::string& folder, const std::function<void()>& whileOpen) {
        HWND browser = waitForWindow("#32770", "Browse for Folder");
        if (!browser) return;
        browserSeen = true;
        if (!folder.empty()) {
            const std::string name = folder.substr(folder.find_last_of('\\') + 1);
            for (int attempt = 0; attempt < 200 && lstrcmpiA(caretText(browser).c_str(), name.c_str()) != 0;
                 ++attempt) {
                SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(wideText(folder).c_str()));
                Sleep(20);
            }
        }
        if (whileOpen) whileOpen();
        PostMessageA(browser, WM_COMMAND, folder.empty() ? IDCANCEL : IDOK, 0);
        while (!done_) {
            for (HWND question : visibleWindows("#32770", "Confirm file overwrite")) {
                ++overwriteQuestions;
                PostMessageA(question, WM_COMMAND, IDYES, 0);
                Sleep(100);
            }
            Sleep(10);
        }
    }
    std::atomic<bool> done_{false};
    std::thread thread_;
};

class CopyAllTest : public PageTest {
protected:
    void SetUp() override {
        // Folders named in scripts outside the ANSI code page: the files are
        // found and copied by their true names.
        source = freshFolder("copy-source " + pathTable()[2].folder);
        target = freshFolder("copy-target " + pathTable()[3].folder + " " + pathTable()[4].folder);
        writeFile(source + "\\view.exe", std::string("MZ\x90\0view", 8));
        writeFile(source + "\\my lib.dll", std::string(70000, '\x5a') + "end");
        writeFile(source + "\\late.dll", "added while the browser was open");
        addFile("view.exe");
        addFile("my lib.dll");
        // The system's own kernel32, as a scan finds it.
        addRow("c:\\windows\\system32\\kernel32.dll");
        // A row without a path contributes nothing.
        page->addRow(page->node("", "EMPTY.DLL"), {"EMPTY.DLL", "", "", "", ""});
    }
    void addFile(const char* name) { addRow(source + "\\" + name); }
    // A module the scan did not find: its path is the not-found text.
    void addMissing(const char* name) {
        ModuleNode* node = page->node("file not found", name);
        node->found = false;
        page->addRow(node);
    }
    void addRow(const std::string& path) {
        page->addRow(page->node(path.c_str(), path.substr(path.find_last_of('\\') + 1).c_str()));
    }
    void expectCopied(const std::vector<std::string>& paths) {
        std::vector<std::string> names;
        for (const std::string& path : paths) {
            const std::string name = path.substr(path.find_last_of('\\') + 1);
            names.push_back(name);
            EXPECT_EQ(readFile(target + "\\" + name), readFile(path)) << name;
        }
        std::sort(names.begin(), names.end(), [](auto& a, auto& b) { return lstrcmpiA(a.c_str(), b.c_str()) < 0; });
        std::vector<std::string> present = filesIn(target);
        std::sort(present.begin(), present.end(), [](auto& a, auto& b) { return lstrcmpiA(a.c_str(), b.c_str()) < 0; });
        EXPECT_EQ(present.size(), names.size());
        for (size_t i = 0; i < std::min(present.size(), names.size()); ++i)
            EXPECT_EQ(lstrcmpiA(present[i].c_str(), names[i].c_str()), 0) << present[i] << " / " << names[i];
    }
    std::string source, target;
};

// The message boxes the command shows, recorded instead of shown.
struct ShownMessage {
    HWND owner;
    std::string text, caption;
};
std::vector<ShownMessage> shownMessages;

int WINAPI recordMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT) {
    shownMessages.push_back({owner, utf8Text(text ? text : L""), utf8Text(caption ? caption : L"")});
    return IDOK;
}

// The shell would take the not-found text for a file of the current folder:
// one planted there must stay where it is, and the missing modules are named
// in one message after the copy.
TEST_F(CopyAllTest, EveryListedFileArrivesByteIdenticalIncludingRowsAddedWhileTheBrowserWasOpen) {
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, current);
    const std::string planted = std::string(current) + "\\file not found";
    writeFile(planted, "not a module of the scan");
    addMissing("MISSING.DLL");
    addMissing("ALSO-MISSING.DLL");
    shownMessages.clear();
    ImportHook hook("user32.dll", "MessageBoxW", reinterpret_cast<void*>(recordMessageBox));
    BrowserDriver driver(target, [&] { addFile("late.dll"); });
    copyAllToFolder(page->extension());
    driver.finish();
    DeleteFileA(planted.c_str());

    ASSERT_TRUE(driver.browserSeen);
    expectCopied({source + "\\view.exe", source + "\\my lib.dll", "c:\\windows\\system32\\kernel32.dll",
                  source + "\\late.dll"});
    ASSERT_TRUE(hook.installed());
    ASSERT_EQ(shownMessages.size(), 1u);
    EXPECT_EQ(shownMessages[0].owner, page->window());
    EXPECT_EQ(shownMessages[0].caption, "VOST");
    EXPECT_NE(shownMessages[0].text.find("\r\nMISSING.DLL"), std::string::npos) << shownMessages[0].text;
    EXPECT_NE(shownMessages[0].text.find("\r\nALSO-MISSING.DLL"), std::string::npos) << shownMessages[0].text;
}

TEST_F(CopyAllTest, CancellingTheBrowserCopiesNothing) {
    BrowserDriver driver("");
    copyAllToFolder(page->extension());
    driver.finish();

    ASSERT_TRUE(driver.browserSeen);
    EXPECT_TRUE(filesIn(target).empty());
}

// Onto names the folder already holds, Windows gives the copies new names;
// Wine 8 ignores FOF_RENAMEONCOLLISION and asks "Confirm file overwrite"
// instead. Either way no file is lost and the listed files arrive whole.
TEST_F(CopyAllTest, CopyingOntoExistingNamesKeepsEveryFileWhole) {
    {
        BrowserDriver first(target);
        copyAllToFolder(page->extension());
    }
    BrowserDriver second(target);
    copyAllToFolder(page->extension());
    second.finish();

    const std::vector<std::string> present = filesIn(target);
    RecordProperty("overwriteQuestions", second.overwriteQuestions);
    std::printf("overwrite questions answered: %d\n", second.overwriteQuestions);
    if (second.overwriteQuestions > 0) {
        expectCopied({source + "\\view.exe", source + "\\my lib.dll", "c:\\windows\\system32\\kernel32.dll"});
    } else {
        EXPECT_EQ(present.size(), 6u);  // renamed copies beside the first ones
    }
}

// The lists handed to the shell: each path with its zero and one more zero
// after the last; empty paths and modules that were not found skipped.
struct CopyRequest {
    HWND owner;
    UINT operation;
    std::string sources, destination;
    FILEOP_FLAGS flags;
    bool hasMappings, hasTitle;
};
std::vector<CopyRequest> copyRequests;

// The UTF-8 of a double-zero list of UTF-16 texts, its zeros kept.
std::string doubleZeroList(const wchar_t* list) {
    const wchar_t* end = list;
    while (end[0] || end[1]) ++end;
    return utf8Text(std::wstring_view(list, std::size_t(end + 2 - list)));
}

int WINAPI recordFileOperation(SHFILEOPSTRUCTW* operation) {
    copyRequests.push_back({operation->hwnd, operation->wFunc, doubleZeroList(operation->pFrom),
                            doubleZeroList(operation->pTo), operation->fFlags, operation->hNameMappings != nullptr,
                            operation->lpszProgressTitle != nullptr});
    return 0;
}

TEST_F(CopyAllTest, TheShellGetsDoubleZeroListsInListOrderAndRenamesOnCollision) {
    addMissing("MISSING.DLL");
    // A contract's row carries its host's path: the file goes over once.
    page->addRow(page->node("c:\\windows\\system32\\kernel32.dll", "API-MS-WIN-CORE-SYNCH-L1-2-0.DLL"));
    page->list().sort(
        [](ModuleNode* a, ModuleNode* b, void*) { return -lstrcmpiA(a->moduleName.c_str(), b->moduleName.c_str()); }, nullptr);
    copyRequests.clear();
    ImportHook hook("shell32.dll", "SHFileOperationW", reinterpret_cast<void*>(recordFileOperation));
    ASSERT_TRUE(hook.installed());
    ImportHook messages("user32.dll", "MessageBoxW", reinterpret_cast<void*>(recordMessageBox));

    BrowserDriver driver(target);
    copyAllToFolder(page->extension());
    driver.finish();

    ASSERT_EQ(copyRequests.size(), 1u);
    const CopyRequest& request = copyRequests[0];
    EXPECT_EQ(request.owner, page->window());
    EXPECT_EQ(request.operation, UINT(FO_COPY));
    EXPECT_EQ(request.flags, FILEOP_FLAGS(FOF_RENAMEONCOLLISION));
    EXPECT_FALSE(request.hasMappings);
    EXPECT_FALSE(request.hasTitle);
    // Rows by module name, descending; EMPTY.DLL has no path, the contract's
    // comes last and names a file listed before.
    EXPECT_EQ(request.sources, source + "\\view.exe" + '\0' + source + "\\my lib.dll" + '\0' +
                                   "c:\\windows\\system32\\kernel32.dll" + '\0' + '\0');
    EXPECT_EQ(lstrcmpiA(request.destination.c_str(), target.c_str()), 0);
    EXPECT_EQ(request.destination.size(), target.size() + 2);
}

TEST_F(CopyAllTest, AListWithoutPathsStartsNoCopy) {
    SendMessageA(page->listWindow(), LVM_DELETEALLITEMS, 0, 0);
    page->addRow(page->node("", "EMPTY.DLL"), {"EMPTY.DLL", "", "", "", ""});
    copyRequests.clear();
    ImportHook hook("shell32.dll", "SHFileOperationW", reinterpret_cast<void*>(recordFileOperation));

    BrowserDriver driver(target);
    copyAllToFolder(page->extension());
    driver.finish();

    ASSERT_TRUE(driver.browserSeen);
    EXPECT_TRUE(copyRequests.empty());
}

}  // namespace
}  // namespace vost::test
