// Opening Explorer on the selected module, and the two shell addresses.
#include <windows.h>

#include <string>

#include "page/commands.h"
#include "platform/win32/wide_text.h"
#include "tests/commands/import_hook.h"
#include "tests/commands/test_page.h"
#include "tests/support/path_table.h"

namespace vost::test {
namespace {

std::vector<UINT> beeps;
std::vector<std::string> started;
using CreateProcessFunction = BOOL(WINAPI*)(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                                           DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
CreateProcessFunction realCreateProcess = nullptr;

BOOL WINAPI recordBeep(UINT type) {
    beeps.push_back(type);
    return TRUE;
}

BOOL WINAPI recordCreateProcess(LPCWSTR program, LPWSTR line, LPSECURITY_ATTRIBUTES process,
                                LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                                LPCWSTR folder, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information) {
    started.push_back(utf8Text(line ? line : L""));
    return realCreateProcess(program, line, process, thread, inherit, flags, environment, folder, startup,
                             information);
}

// <Windows folder>\explorer.exe and a copy of the recording explorer.exe
// planted in its place for the length of a test; the original is put back
// afterwards (also at the next test, after a run that did not finish).
class WindowsExplorerSwap {
public:
    WindowsExplorerSwap() : path_(explorerPath()), original_(path_ + ".vost-original") {
        if (fileExists(original_)) CopyFileA(original_.c_str(), path_.c_str(), FALSE);
        else if (fileExists(path_)) CopyFileA(path_.c_str(), original_.c_str(), TRUE);
        swapped_ = CopyFileA((programFolder() + "explorer.exe").c_str(), path_.c_str(), FALSE) != FALSE;
    }
    ~WindowsExplorerSwap() {
        if (fileExists(original_) && CopyFileA(original_.c_str(), path_.c_str(), FALSE))
            DeleteFileA(original_.c_str());
    }
    WindowsExplorerSwap(const WindowsExplorerSwap&) = delete;
    WindowsExplorerSwap& operator=(const WindowsExplorerSwap&) = delete;
    bool swapped() const { return swapped_; }
    const std::string& path() const { return path_; }

private:
    std::string path_, original_;
    bool swapped_ = false;
};

// Recording explorer.exe files in three places: the Windows folder, the
// current directory (a folder of the test's own) and beside the host program
// (the build puts one there). Only the Windows folder's may run.
class ExploreTest : public PageTest {
protected:
    void SetUp() override {
        beeps.clear();
        started.clear();
        static int run = 0;
        record = freshFolder("explore") + "\\command-line-" + std::to_string(++run) + ".txt";
        SetEnvironmentVariableA("VOST_EXPLORER_RECORD", record.c_str());
        realCreateProcess = reinterpret_cast<CreateProcessFunction>(winExecHook.original());
        ASSERT_TRUE(beepHook.installed());
        ASSERT_TRUE(winExecHook.installed());
        ASSERT_TRUE(fileExists(programFolder() + "explorer.exe"));
        ASSERT_TRUE(swap.swapped()) << swap.path();
        const std::string current = freshFolder("explore-current");
        ASSERT_TRUE(CopyFileA((programFolder() + "explorer.exe").c_str(), (current + "\\explorer.exe").c_str(), FALSE));
        GetCurrentDirectoryA(MAX_PATH, previousDirectory);
        ASSERT_TRUE(SetCurrentDirectoryA(current.c_str()));
    }
    void TearDown() override {
        SetCurrentDirectoryA(previousDirectory);
        SetEnvironmentVariableA("VOST_EXPLORER_RECORD", nullptr);
    }

    // The command line that the recording explorer.exe received, after
    // checking that the Windows folder's copy is the one that ran.
    std::string recordedCommandLine() {
        for (int attempt = 0; attempt < 1000 && !fileExists(record); ++attempt) Sleep(10);
        Sleep(50);  // let the recorder finish writing
        EXPECT_EQ(lstrcmpiA(readFile(record + ".program").c_str(), swap.path().c_str()), 0)
            << readFile(record + ".program");
        return readFile(record);
    }
    // What the command line must be: the quoted full path, then the switch.
    std::string expected(const std::string& path) const { return "\"" + swap.path() + "\" /SELECT, " + path; }

    std::string record;
    char previousDirectory[MAX_PATH] = {};
    WindowsExplorerSwap swap;
    ImportHook beepHook{"user32.dll", "MessageBeep", reinterpret_cast<void*>(recordBeep)};
    ImportHook winExecHook{"kernel32.dll", "CreateProcessW", reinterpret_cast<void*>(recordCreateProcess)};
};

// Blanks, and scripts outside the ANSI code page, reach explorer.exe as they are.
TEST_F(ExploreTest, APathWithBlanksReachesExplorerUnquotedAfterThePrefix) {
    const std::string unicode = "c:\\" + pathTable()[1].folder + "\\" + pathTable()[4].folder + "\\lib.dll";
    for (const std::string& path : {std::string("c:\\program files\\common files\\my lib.dll"), unicode}) {
        DeleteFileW(wideText(record).c_str());
        ModuleNode* node = page->node(path.c_str(), "MY LIB.DLL");
        page->selectTreeItem(page->addTreeItem(nullptr, node));

        exploreSelectedModule(page->extension());

        EXPECT_EQ(recordedCommandLine(), expected(path));
    }
    EXPECT_TRUE(beeps.empty());
}

TEST_F(ExploreTest, AModuleNotFoundHandsOverTheNotFoundText) {
    ModuleNode* node = page->node("file not found", "MISSING.DLL");
    page->addRow(node);
    page->showList();
    page->selectRow(0);

    exploreSelectedModule(page->extension());

    EXPECT_EQ(recordedCommandLine(), expected("file not found"));
}

TEST_F(ExploreTest, TheLongestPathFitsWhole) {
    const std::string path = "c:\\" + std::string(256, 'a');  // 259 characters
    ModuleNode* node = page->node(path.c_str(), "A");
    page->selectTreeItem(page->addTreeItem(nullptr, node));

    exploreSelectedModule(page->extension());

    EXPECT_EQ(recordedCommandLine(), expected(path));
    EXPECT_EQ(started, std::vector<std::string>{expected(path)});
}

TEST_F(ExploreTest, NothingSelectedOnlyBeeps) {
    page->addRow(page->node("c:\\windows\\system32\\kernel32.dll", "KERNEL32.DLL"));
    page->showList();  // a row exists but none is selected

    exploreSelectedModule(page->extension());

    EXPECT_EQ(beeps, std::vector<UINT>{MB_ICONEXCLAMATION});
    EXPECT_TRUE(started.empty());
    EXPECT_FALSE(fileExists(record));
}

// A file dialog makes the folder the user browses current: an explorer.exe
// planted there, or beside the host program, must not be the one that runs.
TEST_F(ExploreTest, OnlyTheWindowsFoldersExplorerRunsByItsFullPath) {
    ModuleNode* node = page->node("c:\\windows\\system32\\kernel32.dll", "KERNEL32.DLL");
    page->selectTreeItem(page->addTreeItem(nullptr, node));

    exploreSelectedModule(page->extension());

    // recordedCommandLine() checks which copy wrote the record.
    EXPECT_EQ(recordedCommandLine(), expected("c:\\windows\\system32\\kernel32.dll"));
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    EXPECT_EQ(lstrcmpiA(swap.path().c_str(), (std::string(windows) + "\\explorer.exe").c_str()), 0);
    EXPECT_EQ(started.size(), 1u);
}

// The feedback mail and the home page go to the shell's default action.
struct ShellRequest {
    HWND owner;
    std::string verb, file;
    bool hasParameters, hasDirectory;
    INT show;
};
std::vector<ShellRequest> shellRequests;

HINSTANCE WINAPI recordShellExecute(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory,
                                    INT show) {
    shellRequests.push_back({owner, verb ? utf8Text(verb) : "<none>", file ? utf8Text(file) : "", parameters != nullptr,
                             directory != nullptr, show});
    return reinterpret_cast<HINSTANCE>(42);
}

TEST_F(PageTest, FeedbackAndHomePageOpenTheirAddressesWithTheDefaultAction) {
    shellRequests.clear();
    ImportHook hook("shell32.dll", "ShellExecuteW", reinterpret_cast<void*>(recordShellExecute));
    ASSERT_TRUE(hook.installed());

    sendFeedback(page->extension());
    openHomePage(page->extension());

    ASSERT_EQ(shellRequests.size(), 2u);
    for (const ShellRequest& request : shellRequests) {
        EXPECT_EQ(request.owner, page->window());
        EXPECT_EQ(request.verb, "<none>");
        EXPECT_FALSE(request.hasParameters);
        EXPECT_FALSE(request.hasDirectory);
        EXPECT_EQ(request.show, SW_SHOW);
    }
    EXPECT_EQ(shellRequests[0].file.rfind("mailto:", 0), 0u);
    EXPECT_EQ(shellRequests[1].file.rfind("https://", 0), 0u);
}

}  // namespace
}  // namespace vost::test
