// The page's "Run and Record..." in a real property sheet: what a run loads
// and fails to load, read back from the page's tree (state images, tips) and
// Copy Problems, against vostscan.exe --run --json of the same run; closing
// the sheet during a run, answered either way; the recorder ended during a
// run. The programs are tests/run_programs' (the 32-bit build's too in the
// 64-bit build: a 32-bit program recorded by vostrun32.exe for a 64-bit page).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"
#include "tests/shell/page_host_fixture.h"
#include "tests/shell/scanner_compare.h"
#include "tests/shell/shell_host.h"

namespace vost::test {
namespace {

std::string lower(std::string text) {
    CharLowerA(&text[0]);
    return text;
}

BOOL CALLBACK findRunDialog(HWND window, LPARAM out) {
    if (windowText(window) == "Run and Record") *reinterpret_cast<HWND*>(out) = window;
    return TRUE;
}

std::string statusOf(HWND dialog) { return windowText(GetDlgItem(dialog, IDC_RUN_STATUS)); }

std::vector<std::string> logOf(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_RUN_LOG);
    std::vector<std::string> lines;
    const int count = int(SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::wstring text(std::size_t(SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
        text.resize(std::size_t(SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&text[0]))));
        lines.push_back(std::string(text.begin(), text.end()));
    }
    return lines;
}

// The id of the program the record shows started ("[PID] start ...").
DWORD programId(HWND dialog) {
    for (const std::string& line : logOf(dialog)) {
        const std::size_t open = line.find('['), start = line.find("] start ");
        if (open != std::string::npos && start != std::string::npos) return DWORD(std::stoul(line.substr(open + 1)));
    }
    return 0;
}

bool processEnds(DWORD id, DWORD milliseconds) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (!process) return true;
    const bool ended = WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

// The page of `program` with its Run and Record dialog, started with
// `arguments` (the dialog's Start, as a click).
struct PageRun {
    OpenedPage opened;
    HWND dialog = nullptr;

    PageRun(const std::string& program, const std::string& arguments) : opened(openPage(program)) {
        if (!opened.page) return;
        SendMessageW(opened.page, WM_COMMAND, MAKEWPARAM(IDM_RUN_AND_RECORD, 0), 0);
        EnumThreadWindows(GetCurrentThreadId(), findRunDialog, reinterpret_cast<LPARAM>(&dialog));
        if (!dialog) return;
        SetDlgItemTextW(dialog, IDC_RUN_ARGUMENTS, wideText(arguments).c_str());
        click(dialog, IDC_RUN_START);
    }
    bool waitForEnd() {
        return pumpUntil([&] { return statusOf(dialog).find("The page shows the run") != std::string::npos; }, 60000);
    }
    bool waitForStart() {
        return pumpUntil([&] { return programId(dialog) != 0; }, 30000);
    }
};

// Every item of the tree with its parent's label.
void flatten(const std::vector<TreeEntry>& entries, std::vector<const TreeEntry*>& out) {
    for (const TreeEntry& entry : entries) {
        out.push_back(&entry);
        flatten(entry.children, out);
    }
}

// "NAME (path [version])" -> "path"; the root's "NAME(path)" too.
std::string pathOfLabel(const std::string& label) {
    const std::size_t open = label.find('(');
    std::string path = label.substr(open + 1, label.rfind(')') - open - 1);
    const std::size_t version = path.rfind(" [");
    return lower(version == std::string::npos ? path : path.substr(0, version));
}

std::string runPrograms(bool peer) {
#ifdef VOST_PEER_RUN_PROGRAMS
    if (peer) {
        std::string folder = VOST_PEER_RUN_PROGRAMS;
        for (char& c : folder) c = c == '/' ? '\\' : c;
        return "Z:" + folder + "\\";
    }
#endif
    return peer ? std::string() : programFolder() + "run_programs\\";
}

class RunPageTest : public PageHostTest {};

struct RunCase {
    const char* program;
    const char* arguments;
    bool peer;  // the 32-bit build's program, in the 64-bit build
    const char* markedItem;  // an item that must carry the "will not load" image, and what its tip says
    const char* tip;
};

TEST_F(RunPageTest, WhatTheRunLoadedAndFailedShowsAsVostscanRecordsIt) {
    const std::vector<RunCase> cases = {
        {"runcases.exe", "load-present", false, nullptr, nullptr},
        {"runcases.exe", "load-missing", false, "VOSTNONE.DLL (file not found)",
         "LoadLibrary(vostnone.dll) failed in the run: 0xC0000135 STATUS_DLL_NOT_FOUND"},
        {"runcases.exe", "lookups", false, "VOSTPLUG.DLL", "#999"},
        {"runcases.exe", "crash", false, nullptr, nullptr},
        {"missing-import.exe", "", false, "MISSING-IMPORT.EXE",
         "Exit code 0xC0000135 STATUS_DLL_NOT_FOUND: a module it imports was not found"},
        {"runcases.exe", "lookups", true, "KERNEL32.DLL", "VostNoSuchFunction"},
    };
    for (const RunCase& c : cases) {
        const std::string folder = runPrograms(c.peer);
        if (folder.empty()) continue;
        const std::string program = folder + c.program;
        SCOPED_TRACE(program + " " + c.arguments);
        PageRun run(program, c.arguments);
        ASSERT_NE(run.dialog, nullptr);
        EXPECT_TRUE(IsWindowVisible(run.dialog));
        ASSERT_TRUE(run.waitForEnd()) << statusOf(run.dialog);
        const JsonValue want =
            scannerOutput(program, "--run", "", false, true, *c.arguments ? std::string("-- ") + c.arguments : "");
        const JsonValue& process = want["run"]["processes"].items.at(0);

        // The modules the page shows loaded: its static ones but those marked
        // never loaded, and the run-time ones; the record's, the program's
        // own among them.
        std::vector<const TreeEntry*> items;
        const std::vector<TreeEntry> tree = readTree(run.opened.page);
        flatten(tree, items);
        std::set<std::string> shown, recorded{lower(process["path"].text)};
        for (const JsonValue& m : process["modules"].items) recorded.insert(lower(m["path"].text));
        for (const TreeEntry* item : items)
            if (item->label.find("(file not found)") == std::string::npos && item->stateImage != 4)
                shown.insert(pathOfLabel(item->label));
        // The page names the program by its path as given.
        shown.erase(pathOfLabel(tree.at(0).label));
        recorded.erase(lower(process["path"].text));
        EXPECT_EQ(shown, recorded);
        EXPECT_GE(recorded.size(), 3u);  // the system's modules at least

        bool marked = c.markedItem == nullptr;
        for (const TreeEntry* item : items) {
            if (c.markedItem && item->label.rfind(c.markedItem, 0) == 0 && item->stateImage == 1 &&
                item->tip.find(c.tip) != std::string::npos)
                marked = true;
        }
        EXPECT_TRUE(marked) << c.markedItem;
        // Copy Problems: the check's findings, then the run's, as vostscan writes them.
        OpenClipboard(run.opened.page);
        EmptyClipboard();
        CloseClipboard();
        SendMessageA(run.opened.page, WM_COMMAND, MAKEWPARAM(IDM_COPY_PROBLEMS, 0), 0);
        const std::string problems = clipboardText(run.opened.page);
        for (const JsonValue& line : want["run"]["findings"].items)
            EXPECT_NE(problems.find(line.text + "\r\n"), std::string::npos) << line.text << "\n" << problems;
        if (std::string(c.arguments) == "crash") {
            EXPECT_NE(problems.find("crash RUNCASES.EXE (0xC0000005 STATUS_ACCESS_VIOLATION at RUNCASES.EXE+0x"),
                      std::string::npos)
                << problems;
        }
    }
}

// The sheet closed while the program runs: the question, and the program
// ended (Yes) or left running (No); the recording ends either way.
TEST_F(RunPageTest, ClosingTheSheetDuringARunAsksAboutTheProgram) {
    for (const int answer : {IDYES, IDNO}) {
        SCOPED_TRACE(answer == IDYES ? "yes" : "no");
        PageRun run(runPrograms(false) + "runcases.exe", "forever");
        ASSERT_NE(run.dialog, nullptr);
        ASSERT_TRUE(run.waitForStart()) << statusOf(run.dialog);
        const DWORD program = programId(run.dialog);
        std::atomic<bool> asked{false};
        std::thread answering([&] {
            for (int i = 0; i < 300 && !asked; ++i, Sleep(50)) {
                HWND box = FindWindowA("#32770", "VOST");
                if (box) {
                    asked = true;
                    PostMessageA(box, WM_COMMAND, answer, 0);
                }
            }
        });
        PostMessageA(run.opened.sheet->window(), WM_COMMAND, IDCANCEL, 0);
        pumpUntil([&] { return asked.load(); }, 20000);
        answering.join();
        pumpFor(200);
        run.opened.sheet.reset();
        run.opened.ext.reset();
        EXPECT_TRUE(asked);
        EXPECT_EQ(processEnds(program, answer == IDYES ? 10000 : 1000), answer == IDYES);
        if (answer == IDNO) {
            HANDLE left = OpenProcess(PROCESS_TERMINATE, FALSE, program);
            if (left) {
                TerminateProcess(left, 1);
                CloseHandle(left);
            }
        }
    }
}

// The helper ended by someone else: the page says so, and the program went with it.
TEST_F(RunPageTest, TheRecorderEndedDuringARunTakesItsProgramAlong) {
    PageRun run(runPrograms(false) + "runcases.exe", "forever");
    ASSERT_NE(run.dialog, nullptr);
    ASSERT_TRUE(run.waitForStart());
    const DWORD program = programId(run.dialog);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    DWORD helper = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ParentProcessID == GetCurrentProcessId() && std::wstring(entry.szExeFile).find(L"vostrun") == 0)
            helper = entry.th32ProcessID;
    CloseHandle(snapshot);
    ASSERT_NE(helper, 0u);
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, helper);
    ASSERT_NE(process, nullptr);
    TerminateProcess(process, 9);
    CloseHandle(process);
    ASSERT_TRUE(run.waitForEnd()) << statusOf(run.dialog);
    EXPECT_NE(statusOf(run.dialog).find("recorder ended before its record was complete"), std::string::npos)
        << statusOf(run.dialog);
    EXPECT_TRUE(processEnds(program, 10000));
}

}  // namespace
}  // namespace vost::test
