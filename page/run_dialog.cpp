#include "page/run_dialog.h"

#include <commctrl.h>
#include <process.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "component/dependency_extension.h"
#include "component/module_instance.h"
#include "page/check_marks.h"
#include "page/module_list.h"
#include "page/run_merge.h"
#include "page/scan.h"
#include "platform/win32/wide_text.h"
#include "recorder/helper_client.h"
#include "resources/resource_ids.h"

namespace vost {

namespace {

constexpr int kMostLogLines = 20000;  // the dialog's list stops there; the page still gets the whole run

// What the page's thread and the thread reading the helper share.
struct RunShared {
    std::mutex mutex;
    std::vector<RunEvent> fresh;  // read, not yet taken by the page
    bool ended = false;           // the helper's output is closed
    DWORD helperExit = 0;
    HWND page = nullptr;          // told of news; null once it is gone
    bool told = false;            // a message is on its way
    HelperProcess helper;
};

// The page's side of its run, on the page's thread only.
struct RunPage {
    enum State { idle, running, finished };
    DependencyExtension* ext = nullptr;
    HWND dialog = nullptr;
    State state = idle;
    bool answered = false;  // the user said what becomes of the program
    std::shared_ptr<RunShared> shared;
    std::vector<RunEvent> events;
    int bits = 0;
    std::string result;  // what the status says once the run has ended
    POINT minimum{};
};

std::mutex pagesMutex;
std::map<const DependencyExtension*, std::shared_ptr<RunPage>> pages;

std::shared_ptr<RunPage> pageOf(const DependencyExtension& ext) {
    std::lock_guard<std::mutex> lock(pagesMutex);
    const auto found = pages.find(&ext);
    return found == pages.end() ? nullptr : found->second;
}

// The run dialogs of this thread, for the keyboard hook.
thread_local std::vector<HWND> threadDialogs;
thread_local HHOOK keyboardHook = nullptr;

// The sheet's message loop knows only the sheet: Tab, Enter and the
// mnemonics of a modeless dialog it owns are handed to that dialog here.
LRESULT CALLBACK dialogKeys(int code, WPARAM wParam, LPARAM lParam) {
    auto* message = reinterpret_cast<MSG*>(lParam);
    if (code >= 0 && wParam == PM_REMOVE && message->message >= WM_KEYFIRST && message->message <= WM_KEYLAST) {
        for (HWND dialog : threadDialogs) {
            if ((message->hwnd == dialog || IsChild(dialog, message->hwnd)) && IsDialogMessageW(dialog, message)) {
                message->message = WM_NULL;
                break;
            }
        }
    }
    return CallNextHookEx(keyboardHook, code, wParam, lParam);
}

std::string controlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    std::wstring text(std::size_t(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(std::size_t(GetWindowTextW(control, &text[0], int(text.size()))));
    return utf8Text(text);
}

void setText(HWND dialog, int id, const std::string& text) {
    SetDlgItemTextW(dialog, id, wideText(text).c_str());
}

// The status line while the program runs: what has come in so far.
std::string progressText(const RunPage& run) {
    std::size_t modules = 0, failures = 0, processes = 0;
    for (const RunEvent& e : run.events) {
        modules += e.kind == RunEventKind::moduleLoad;
        failures += e.kind == RunEventKind::loadFailed || e.kind == RunEventKind::lookupFailed;
        processes += e.kind == RunEventKind::processStart;
    }
    return "Recording: " + std::to_string(processes) + (processes == 1 ? " process, " : " processes, ") +
           std::to_string(modules) + " modules loaded, " + std::to_string(failures) +
           " failed loads and lookups. Stop ends the program.";
}

void showState(RunPage& run) {
    HWND dialog = run.dialog;
    if (!dialog) return;
    const bool idle = run.state == RunPage::idle;
    EnableWindow(GetDlgItem(dialog, IDC_RUN_START), idle);
    EnableWindow(GetDlgItem(dialog, IDC_RUN_STOP), run.state == RunPage::running);
    for (int id : {IDC_RUN_ARGUMENTS, IDC_RUN_FOLDER, IDC_RUN_CHILDREN}) EnableWindow(GetDlgItem(dialog, id), idle);
    if (run.state == RunPage::running) setText(dialog, IDC_RUN_STATUS, progressText(run));
    else if (run.state == RunPage::finished) setText(dialog, IDC_RUN_STATUS, run.result);
}

void addLogLines(RunPage& run, std::size_t from) {
    if (!run.dialog) return;
    HWND list = GetDlgItem(run.dialog, IDC_RUN_LOG);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    for (std::size_t i = from; i < run.events.size(); ++i) {
        const int count = int(SendMessageW(list, LB_GETCOUNT, 0, 0));
        if (count > kMostLogLines) break;
        const std::string line = count == kMostLogLines ? std::string("(the rest of the record goes to the page)")
                                                        : runLogLine(run.events[i]);
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wideText(line).c_str()));
    }
    const int count = int(SendMessageW(list, LB_GETCOUNT, 0, 0));
    SendMessageW(list, LB_SETTOPINDEX, count > 0 ? count - 1 : 0, 0);
    SendMessageW(list, LB_SETHORIZONTALEXTENT, 2000, 0);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

// Reads the helper's record until it ends; holds the shared state and this
// library for its whole run.
unsigned __stdcall readRecord(void* argument) {
    auto* handed = static_cast<std::shared_ptr<RunShared>*>(argument);
    std::shared_ptr<RunShared> shared = std::move(*handed);
    delete handed;
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&readRecord), &self);
    const auto tell = [&] {
        if (shared->page && !shared->told) shared->told = PostMessageW(shared->page, kRunProgressMessage, 0, 0) != 0;
    };
    for (std::string line; shared->helper.readLine(line);) {
        RunEvent e;
        if (!parseRunEventLine(line, e)) continue;
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->fresh.push_back(std::move(e));
        tell();
    }
    const DWORD code = shared->helper.exitCode(10000);
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->ended = true;
        shared->helperExit = code;
        shared->told = false;
        tell();
    }
    shared.reset();
    if (self) FreeLibraryAndExitThread(self, 0);
    return 0;
}

void start(RunPage& run) {
    DependencyExtension& ext = *run.ext;
    HWND dialog = run.dialog;
    RunRequest request;
    request.program = ext.selectedPath;
    request.arguments = controlText(dialog, IDC_RUN_ARGUMENTS);
    request.folder = controlText(dialog, IDC_RUN_FOLDER);
    request.children = IsDlgButtonChecked(dialog, IDC_RUN_CHILDREN) == BST_CHECKED;
    const std::string helper = folderOfModuleAt(reinterpret_cast<const void*>(&showRunDialog)) + helperName(run.bits);
    std::wstring widePath;
    if (!toSystemPath(helper, widePath) || GetFileAttributesW(widePath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        setText(dialog, IDC_RUN_STATUS, "The recorder " + helperName(run.bits) + " is not installed beside vost.dll (" +
                                             helper + "): the program cannot be recorded.");
        return;
    }
    auto shared = std::make_shared<RunShared>();
    shared->page = static_cast<HWND>(ext.pageWindow);
    std::string error;
    if (!shared->helper.start(helper, request, HelperProcess::ProgramOutput::newConsole, error)) {
        setText(dialog, IDC_RUN_STATUS, error);
        return;
    }
    auto* handed = new std::shared_ptr<RunShared>(shared);
    const uintptr_t thread = _beginthreadex(nullptr, 0, readRecord, handed, 0, nullptr);
    if (thread == 0) {
        delete handed;
        shared->helper.closeInput();  // the helper ends the program and itself
        setText(dialog, IDC_RUN_STATUS, "No thread to read the record: the program was not run.");
        return;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    run.shared = shared;
    run.state = RunPage::running;
    showState(run);
}

// Asks what becomes of a program the recorder still runs; false when the
// user cancels. Yes ends it, No lets it run on.
bool askAboutProgram(RunPage& run, HWND owner, bool mayStay = true) {
    if (run.state != RunPage::running || run.answered) return true;
    const int answer = MessageBoxW(owner,
                                   L"The program is still running under the recorder.\r\n\r\n"
                                   L"End it too? (No lets it run on; the recording ends either way.)",
                                   L"VOST", (mayStay ? MB_YESNOCANCEL : MB_YESNO) | MB_ICONQUESTION);
    if (answer == IDCANCEL) return false;
    run.answered = true;
    run.shared->helper.send(answer == IDYES ? "stop" : "detach");
    return true;
}

// The run has ended: the page shows it.
void finish(RunPage& run, DWORD helperExit) {
    DependencyExtension& ext = *run.ext;
    run.state = RunPage::finished;
    const RunSummary summary = summarizeRun(run.events);
    const std::string problems = ext.checkMarks ? ext.checkMarks->problems : std::string();
    const std::string folder = folderOfPath(ext.selectedPath);
    ext.platform->setSearchFolder(folder.empty() ? "." : folder.c_str());
    const RunMerge merge = mergeRun(ext, recordTree(*ext.tree), summary, problems);
    std::string ending = describeEnding(summary);
    if (summary.ended.empty() && helperExit != 0) ending += " (the recorder's exit code " + statusText(helperExit) + ")";
    ending[0] = char(std::toupper(static_cast<unsigned char>(ending[0])));
    run.result = ending + ".";
    if (merge.merged) {
        CheckMarks marks = markRun(recordTree(*ext.tree), merge, ext.checkMarks.get());
        applyMarks(*ext.tree, *ext.list, marks);
        ext.checkMarks = std::make_shared<CheckMarks>(std::move(marks));
        for (int column = 0; column < kColumnCount; ++column) ext.list->fitColumn(column);
        run.result += " The page shows the run: " + std::to_string(merge.runTime.size()) + " modules loaded at run time, " +
                      std::to_string(merge.notLoaded.size()) + " never loaded, " +
                      std::to_string(merge.findings.size()) + " failures. Open the properties again for another run.";
    }
    showState(run);
}

void layout(HWND dialog) {
    RECT client;
    GetClientRect(dialog, &client);
    RECT unit{7, 0, 0, 0};
    MapDialogRect(dialog, &unit);
    const int margin = unit.left;
    const auto place = [&](int id, int right, int bottom, bool stretchX, bool stretchY, bool moveX, bool moveY) {
        HWND control = GetDlgItem(dialog, id);
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        int x = r.left, y = r.top, w = r.right - r.left, h = r.bottom - r.top;
        if (stretchX) w = client.right - margin - x;
        if (moveX) x = client.right - margin - w - right;
        if (stretchY) h = client.bottom - bottom - y;
        if (moveY) y = client.bottom - bottom - h;
        SetWindowPos(control, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    };
    RECT button{0, 0, 50, 14}, gap{0, 0, 8, 4};
    MapDialogRect(dialog, &button);
    MapDialogRect(dialog, &gap);
    place(IDC_RUN_PROGRAM, 0, 0, true, false, false, false);
    place(IDC_RUN_ARGUMENTS, 0, 0, true, false, false, false);
    place(IDC_RUN_FOLDER, 0, 0, true, false, false, false);
    place(IDC_RUN_STOP, 0, 0, false, false, true, false);
    place(IDC_RUN_START, button.right + gap.right, 0, false, false, true, false);
    place(IDCANCEL, 0, margin, false, false, true, true);
    place(IDC_RUN_STATUS, 0, margin + button.bottom + gap.bottom, true, false, false, true);
    RECT status;
    GetWindowRect(GetDlgItem(dialog, IDC_RUN_STATUS), &status);
    place(IDC_RUN_LOG, 0, margin + button.bottom + gap.bottom + (status.bottom - status.top) + gap.bottom, true, true,
          false, false);
    InvalidateRect(dialog, nullptr, TRUE);
}

INT_PTR CALLBACK runDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* run = reinterpret_cast<RunPage*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        run = reinterpret_cast<RunPage*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        run->dialog = dialog;
        setText(dialog, IDC_RUN_PROGRAM, run->ext->selectedPath);
        setText(dialog, IDC_RUN_FOLDER, folderOfPath(run->ext->selectedPath));
        RECT r;
        GetWindowRect(dialog, &r);
        run->minimum = POINT{r.right - r.left, r.bottom - r.top};
        threadDialogs.push_back(dialog);
        if (!keyboardHook) keyboardHook = SetWindowsHookExW(WH_GETMESSAGE, dialogKeys, nullptr, GetCurrentThreadId());
        addLogLines(*run, 0);
        showState(*run);
        return TRUE;
    }
    case WM_COMMAND:
        if (!run) return FALSE;
        switch (LOWORD(wParam)) {
        case IDC_RUN_START:
            if (run->state == RunPage::idle) start(*run);
            return TRUE;
        case IDC_RUN_STOP:
            if (run->state == RunPage::running && !run->answered) {
                run->answered = true;
                run->shared->helper.send("stop");
                setText(dialog, IDC_RUN_STATUS, "Stopping: the program and the processes it started are ended.");
                EnableWindow(GetDlgItem(dialog, IDC_RUN_STOP), FALSE);
            }
            return TRUE;
        case IDCANCEL:
            if (askAboutProgram(*run, dialog)) DestroyWindow(dialog);
            return TRUE;
        default: return FALSE;
        }
    case WM_GETMINMAXINFO:
        if (run && run->minimum.x) reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = run->minimum;
        return TRUE;
    case WM_SIZE: layout(dialog); return TRUE;
    case WM_DESTROY:
        threadDialogs.erase(std::remove(threadDialogs.begin(), threadDialogs.end(), dialog), threadDialogs.end());
        if (threadDialogs.empty() && keyboardHook) {
            UnhookWindowsHookEx(keyboardHook);
            keyboardHook = nullptr;
        }
        if (run) run->dialog = nullptr;
        return FALSE;
    default: return FALSE;
    }
}

}  // namespace

bool canRunAndRecord(DependencyExtension& ext, const ModuleNode* node) {
    if (!node || node->parent || ext.scanState != kScanFinished || !ext.platform) return false;
    return runnableBits(*ext.platform, ext.selectedPath) != 0;
}

void showRunDialog(DependencyExtension& ext) {
    std::shared_ptr<RunPage> run = pageOf(ext);
    if (run && run->dialog) {
        ShowWindow(run->dialog, SW_SHOW);
        SetForegroundWindow(run->dialog);
        return;
    }
    HWND page = static_cast<HWND>(ext.pageWindow);
    const ModuleNode* root = ext.tree ? ext.tree->itemNode(ext.tree->rootItem()) : nullptr;
    if (!page || !canRunAndRecord(ext, root)) {
        MessageBeep(MB_ICONEXCLAMATION);
        return;
    }
    if (!run) {
        run = std::make_shared<RunPage>();
        run->ext = &ext;
        run->bits = runnableBits(*ext.platform, ext.selectedPath);
        std::lock_guard<std::mutex> lock(pagesMutex);
        pages[&ext] = run;
    }
    CreateDialogParamW(static_cast<HINSTANCE>(moduleInstance), MAKEINTRESOURCEW(IDD_RUN_RECORD), GetParent(page),
                       runDialogProc, reinterpret_cast<LPARAM>(run.get()));
}

void onRunProgress(DependencyExtension& ext) {
    std::shared_ptr<RunPage> run = pageOf(ext);
    if (!run || !run->shared || run->state != RunPage::running) return;
    std::vector<RunEvent> fresh;
    bool ended = false;
    DWORD helperExit = 0;
    {
        std::lock_guard<std::mutex> lock(run->shared->mutex);
        fresh.swap(run->shared->fresh);
        run->shared->told = false;
        ended = run->shared->ended;
        helperExit = run->shared->helperExit;
    }
    const std::size_t from = run->events.size();
    run->events.insert(run->events.end(), std::make_move_iterator(fresh.begin()), std::make_move_iterator(fresh.end()));
    addLogLines(*run, from);
    if (ended) finish(*run, helperExit);
    else showState(*run);
}

bool confirmCloseDuringRun(DependencyExtension& ext, bool mayStay) {
    std::shared_ptr<RunPage> run = pageOf(ext);
    HWND page = static_cast<HWND>(ext.pageWindow);
    return !run || askAboutProgram(*run, page ? GetParent(page) : nullptr, mayStay);
}

void endRunWithPage(DependencyExtension& ext) {
    std::shared_ptr<RunPage> run;
    {
        std::lock_guard<std::mutex> lock(pagesMutex);
        const auto found = pages.find(&ext);
        if (found == pages.end()) return;
        run = found->second;
        pages.erase(found);
    }
    if (run->dialog) DestroyWindow(run->dialog);
    if (!run->shared) return;
    if (run->state == RunPage::running && !run->answered) run->shared->helper.send("stop");
    {
        std::lock_guard<std::mutex> lock(run->shared->mutex);
        run->shared->page = nullptr;
    }
    // The helper has its answer; the input's end tells it no one is left.
    run->shared->helper.closeInput();
}

}  // namespace vost
