// The recorder's debugger loop (recorder/recorder.h).
#include <windows.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "analysis/text.h"
#include "page/scan.h"
#include "platform/win32/handles.h"
#include "platform/win32/system_folders.h"
#include "platform/win32/wide_text.h"
#include "recorder/debuggee_memory.h"
#include "recorder/loader_hooks.h"
#include "recorder/recorder.h"

namespace vost {

namespace {

constexpr DWORD kPrintException = 0x40010006;      // DBG_PRINTEXCEPTION_C
constexpr DWORD kPrintExceptionWide = 0x4001000A;  // DBG_PRINTEXCEPTION_WIDE_C
constexpr DWORD kWow64Breakpoint = 0x4000001F;     // STATUS_WX86_BREAKPOINT
constexpr std::size_t kExceptionLines = 100;       // first-chance exceptions written per process; all are counted
constexpr std::size_t kDebugStringLength = 4096;
constexpr DWORD kEndedExitCode = 1;                // what an ended program exits with
constexpr ULONGLONG kDrainMilliseconds = 5000;     // waiting for ended programs' last events

using WaitForDebugEventFunction = BOOL(WINAPI*)(LPDEBUG_EVENT, DWORD);

struct ModuleInfo {
    std::string path;
    std::string name;  // file name, lower case
    std::uint64_t base = 0;
    std::uint64_t size = 0;
    bool loader = false;  // ntdll, kernelbase, kernel32
    bool module = true;   // false: an image mapped as data
};

struct ThreadInfo {
    HANDLE handle = nullptr;  // owned by the system
    std::uint64_t teb = 0;
};

// A failure of a hooked call that the loader's modules made, most often
// for a hooked call of the program's that is still under way (LoadLibraryA
// calls LdrLoadDll): its status, for the outer call's report.
struct PendingStatus {
    std::uint64_t sp = 0;  // the inner call's entry: an outer call's lies above it
    std::uint32_t code = 0;
    bool win32 = false;
    std::string what;  // the name asked for or looked up, lower case; "#N" for an ordinal
};

struct Process {
    DWORD pid = 0;
    HANDLE handle = nullptr;  // owned by the system
    bool native = true;       // of the recorder's bitness: hooked, its loader list read
    int bits = kRecorderBits;
    std::uint64_t peb = 0;
    std::uint64_t ldr = 0;  // the loader's data, once it has some
    std::string path;
    std::unique_ptr<DebuggeeMemory> memory;
    LoaderHooks hooks;
    std::map<std::uint64_t, ModuleInfo> modules;  // by base, its own image among them
    std::map<DWORD, ThreadInfo> threads;
    std::map<DWORD, PendingStatus> pending;
    bool sawInitialBreak = false;
    std::uint64_t firstChance = 0;
    bool exited = false;

    const ModuleInfo* moduleAt(std::uint64_t address) const {
        auto found = modules.upper_bound(address);
        if (found == modules.begin()) return nullptr;
        --found;
        return address < found->second.base + found->second.size ? &found->second : nullptr;
    }
};

std::string lowerFileName(const std::string& path) { return lowerAscii(runFileName(path)); }

// A path as a 64-bit process names it (SysWOW64 for a 32-bit process's System32).
std::string truePathOf(int bits, const std::string& path) {
    const SystemFolders& folders = systemFolders();
    const std::string named = truePath(folders, path);
    return bits == 32 ? folderSeenBy(folders, ModuleBits::bits32, named) : named;
}

std::string processImagePath(HANDLE process) {
    std::wstring buffer(32768, L'\0');
    DWORD size = DWORD(buffer.size());
    if (!QueryFullProcessImageNameW(process, 0, &buffer[0], &size)) return std::string();
    buffer.resize(size);
    return utf8Text(buffer);
}

DWORD parentOf(HANDLE process) {
    using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto query =
        reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    struct BasicInformation {
        LONG_PTR exitStatus;
        void* peb;
        ULONG_PTR affinity;
        LONG_PTR priority;
        ULONG_PTR pid;
        ULONG_PTR parent;
    } info{};
    if (!query || query(process, 0, &info, sizeof info, nullptr) < 0) return 0;
    return DWORD(info.parent);
}

class Recorder {
public:
    Recorder(const RunRequest& request, const RecorderOptions& options, RunSink& sink, const std::atomic<int>& command)
        : request_(request), options_(options), sink_(sink), command_(command) {
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        // The Ex form reports wide debug strings as such (Windows 10 on).
        wait_ = reinterpret_cast<WaitForDebugEventFunction>(reinterpret_cast<void*>(GetProcAddress(kernel, "WaitForDebugEventEx")));
        if (!wait_) wait_ = &WaitForDebugEvent;
        LARGE_INTEGER frequency, now;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&now);
        frequency_ = frequency.QuadPart;
        started_ = now.QuadPart;
    }

    void run() {
        if (!start()) return;
        loop();
        finish();
    }

private:
    RunEvent event(RunEventKind kind, DWORD pid = 0) const {
        RunEvent e;
        e.kind = kind;
        e.pid = pid;
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        e.micros = (now.QuadPart - started_) * 1000000 / frequency_;
        return e;
    }
    void note(const std::string& text) {
        RunEvent e = event(RunEventKind::note);
        e.text = text;
        sink_.event(e);
    }

    bool start() {
        RunEvent failure = event(RunEventKind::failed);
        std::wstring program, commandLine, folder;
        const std::string folderText = request_.folder.empty() ? folderOfPath(request_.program) : request_.folder;
        const std::string line =
            quoteArgument(request_.program) + (request_.arguments.empty() ? "" : " " + request_.arguments);
        if (!toSystemPath(request_.program, program) || !toWide(line, commandLine) ||
            (!folderText.empty() && !toSystemPath(folderText, folder))) {
            failure.text = "the program's path, arguments or folder is no valid text";
            sink_.event(failure);
            return false;
        }
        job_ = KernelHandle(CreateJobObjectW(nullptr, nullptr));
        setJobKills(true);

        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        BOOL inherit = FALSE;
        KernelHandle nothing;
        if (options_.outputToErrors) {
            // Its input is empty: the recorder's may carry its commands.
            SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
            nothing = KernelHandle(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                               OPEN_EXISTING, 0, nullptr));
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = nothing.get();
            startup.hStdOutput = startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
            inherit = TRUE;
        }
        const DWORD flags = (request_.children ? DEBUG_PROCESS : DEBUG_ONLY_THIS_PROCESS) | CREATE_SUSPENDED |
                            (options_.newConsole ? CREATE_NEW_CONSOLE : 0);
        PROCESS_INFORMATION info{};
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        started_ = now.QuadPart;
        if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, inherit, flags, nullptr,
                            folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
            const DWORD error = GetLastError();
            failure.text = statusText(error, true) + " (" + request_.program + ")";
            failure.code = error;
            failure.win32 = true;
            sink_.event(failure);
            return false;
        }
        rootPid_ = info.dwProcessId;
        if (job_ && !AssignProcessToJobObject(job_.get(), info.hProcess))
            note("the program could not be put into a job of its own: processes it starts may outlive the recording");
        ResumeThread(info.hThread);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        if (request_.timeoutSeconds > 0)
            deadline_ = GetTickCount64() + ULONGLONG(request_.timeoutSeconds * 1000.0);
        return true;
    }

    // Whether the job ends what is in it when its last handle goes.
    void setJobKills(bool kills) {
        if (!job_) return;
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = kills ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0;
        SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }

    bool anyAlive() const {
        for (const auto& entry : processes_)
            if (!entry.second.exited) return true;
        return false;
    }

    void loop() {
        while (true) {
            if (ending_.empty()) {
                const int command = command_.load();
                if (command == kStopProgram) endAll(kEndedStopped);
                else if (command == kDetachProgram) {
                    detach();
                    return;
                } else if (deadline_ && GetTickCount64() >= deadline_) endAll(kEndedTimeout);
            }
            if (!ending_.empty() && GetTickCount64() >= drainUntil_) return;
            DEBUG_EVENT e{};
            if (!wait_(&e, 100)) continue;
            const DWORD status = handle(e);
            ContinueDebugEvent(e.dwProcessId, e.dwThreadId, status);
            if (sawRoot_ && !anyAlive()) return;
        }
    }

    // Ends every process of the job; their last events are still taken.
    void endAll(const char* why) {
        ending_ = why;
        if (job_) TerminateJobObject(job_.get(), kEndedExitCode);
        for (auto& entry : processes_)
            if (!entry.second.exited) TerminateProcess(entry.second.handle, kEndedExitCode);
        drainUntil_ = GetTickCount64() + kDrainMilliseconds;
    }

    // Lets the programs go: traps disarmed and exports given back first, then
    // the events already under way taken, then the debugger leaves.
    void detach() {
        ending_ = kEndedDetached;
        for (auto& entry : processes_)
            if (!entry.second.exited && entry.second.native) entry.second.hooks.remove(*entry.second.memory);
        const ULONGLONG until = GetTickCount64() + 2000;
        for (int quiet = 0; quiet < 3 && GetTickCount64() < until;) {
            DEBUG_EVENT e{};
            if (!wait_(&e, 50)) {
                ++quiet;
                continue;
            }
            ContinueDebugEvent(e.dwProcessId, e.dwThreadId, handle(e));
        }
        DebugSetProcessKillOnExit(FALSE);
        for (auto& entry : processes_)
            if (!entry.second.exited) DebugActiveProcessStop(entry.first);
        setJobKills(false);
    }

    void finish() {
        RunEvent e = event(RunEventKind::ended);
        e.text = ending_.empty() ? kEndedExited : ending_;
        if (ending_ == kEndedTimeout) e.code = std::uint32_t(request_.timeoutSeconds + 0.5);
        // A program that exited on its own leaves its unrecorded children running.
        if (ending_.empty()) setJobKills(false);
        sink_.event(e);
    }

    DWORD handle(const DEBUG_EVENT& e) {
        switch (e.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT: onCreateProcess(e); break;
        case EXIT_PROCESS_DEBUG_EVENT: onExitProcess(e); break;
        case CREATE_THREAD_DEBUG_EVENT: {
            Process* p = find(e.dwProcessId);
            if (!p) break;
            p->threads[e.dwThreadId] =
                ThreadInfo{e.u.CreateThread.hThread, std::uint64_t(std::uintptr_t(e.u.CreateThread.lpThreadLocalBase))};
            RunEvent t = event(RunEventKind::threadStart, e.dwProcessId);
            t.tid = e.dwThreadId;
            sink_.event(t);
            break;
        }
        case EXIT_THREAD_DEBUG_EVENT: {
            if (Process* p = find(e.dwProcessId)) {
                p->threads.erase(e.dwThreadId);
                p->pending.erase(e.dwThreadId);
            }
            RunEvent t = event(RunEventKind::threadExit, e.dwProcessId);
            t.tid = e.dwThreadId;
            t.code = e.u.ExitThread.dwExitCode;
            sink_.event(t);
            break;
        }
        case LOAD_DLL_DEBUG_EVENT: onLoadDll(e); break;
        case UNLOAD_DLL_DEBUG_EVENT: onUnloadDll(e); break;
        case OUTPUT_DEBUG_STRING_EVENT: onDebugString(e); break;
        case EXCEPTION_DEBUG_EVENT: return onException(e);
        case RIP_EVENT: note("the system reported an error of the debugged process: " +
                             statusText(e.u.RipInfo.dwError, true));
            break;
        default: break;
        }
        return DBG_CONTINUE;
    }

    Process* find(DWORD pid) {
        const auto found = processes_.find(pid);
        return found == processes_.end() ? nullptr : &found->second;
    }

    void onCreateProcess(const DEBUG_EVENT& e) {
        const CREATE_PROCESS_DEBUG_INFO& info = e.u.CreateProcessInfo;
        Process& p = processes_[e.dwProcessId];
        p = Process();
        p.pid = e.dwProcessId;
        p.handle = info.hProcess;
        BOOL wow = FALSE, ownWow = FALSE;
        IsWow64Process(info.hProcess, &wow);
        IsWow64Process(GetCurrentProcess(), &ownWow);
        p.native = (wow != FALSE) == (ownWow != FALSE);
        p.bits = p.native ? kRecorderBits : 32;
        p.memory = std::make_unique<DebuggeeMemory>(info.hProcess, p.bits == 64 ? 8u : 4u);
        const std::uint64_t teb = std::uint64_t(std::uintptr_t(info.lpThreadLocalBase));
        p.threads[e.dwThreadId] = ThreadInfo{info.hThread, teb};
        if (p.native && teb) p.memory->readPointer(teb + (p.bits == 64 ? 0x60 : 0x30), p.peb);

        const std::uint64_t base = std::uint64_t(std::uintptr_t(info.lpBaseOfImage));
        const MappedImage image = readMappedImage(*p.memory, base);
        std::string path = processImagePath(info.hProcess);
        if (path.empty()) path = pathOfFileHandle(info.hFile);
        if (path.empty() && e.dwProcessId == rootPid_) path = request_.program;
        if (info.hFile) CloseHandle(info.hFile);
        p.path = truePathOf(image.bits(), path);
        p.modules[base] = ModuleInfo{p.path, lowerFileName(p.path), base, image.sizeOfImage, false, true};

        RunEvent s = event(RunEventKind::processStart, e.dwProcessId);
        s.tid = e.dwThreadId;
        s.parent = e.dwProcessId == rootPid_ ? 0 : parentOf(info.hProcess);
        s.bits = image.ok ? image.bits() : p.bits;
        s.address = base;
        s.path = p.path;
        sink_.event(s);
        if (e.dwProcessId == rootPid_) sawRoot_ = true;
        if (!p.native)
            note(runFileName(p.path) + " is a program of another bitness: its modules are recorded, its failed "
                 "LoadLibrary and GetProcAddress calls are not");
    }

    void onExitProcess(const DEBUG_EVENT& e) {
        Process* p = find(e.dwProcessId);
        RunEvent x = event(RunEventKind::processExit, e.dwProcessId);
        x.code = e.u.ExitProcess.dwExitCode;
        if (p) {
            x.count = p->firstChance;
            p->exited = true;
        }
        sink_.event(x);
    }

    std::string imageNameOf(Process& p, const LOAD_DLL_DEBUG_INFO& info) {
        std::uint64_t pointer = 0;
        if (!info.lpImageName || !p.memory->readPointer(std::uint64_t(std::uintptr_t(info.lpImageName)), pointer) ||
            !pointer)
            return std::string();
        return info.fUnicode ? p.memory->readWide(pointer, 32768) : p.memory->readAnsi(pointer, 32768);
    }

    // The stack pointer and stack base of a stopped thread; false when they
    // cannot be read.
    bool stackOf(Process& p, DWORD tid, std::uint64_t& sp, std::uint64_t& base) {
        const auto found = p.threads.find(tid);
        if (found == p.threads.end() || !found->second.handle) return false;
        CONTEXT context{};
        context.ContextFlags = CONTEXT_CONTROL;
        if (!GetThreadContext(found->second.handle, &context)) return false;
#ifdef _WIN64
        sp = context.Rsp;
#else
        sp = context.Esp;
#endif
        base = 0;
        if (found->second.teb) p.memory->readPointer(found->second.teb + p.memory->pointerSize(), base);
        return true;
    }

    // Whether a return address lies in the program's own code, not in the
    // loader's modules or the recorder's trampolines.
    bool isOwnCall(const Process& p, std::uint64_t address, const ModuleInfo** module = nullptr) const {
        const ModuleInfo* m = p.moduleAt(address);
        if (module) *module = m;
        return m && !m->loader && !p.hooks.inTrampolines(address);
    }

    // The name a hooked load call was given.
    std::string askedName(Process& p, const HookCall& call) {
        switch (call.hook->kind) {
        case HookKind::loadLibraryA:
        case HookKind::loadLibraryExA: return p.memory->readAnsi(call.arguments[0], 32768);
        case HookKind::loadLibraryW:
        case HookKind::loadLibraryExW: return p.memory->readWide(call.arguments[0], 32768);
        case HookKind::ldrLoadDll: return p.memory->readCountedWide(call.arguments[2]);
        default: return std::string();
        }
    }

    void onLoadDll(const DEBUG_EVENT& e) {
        const LOAD_DLL_DEBUG_INFO& info = e.u.LoadDll;
        Process* pp = find(e.dwProcessId);
        if (!pp) {
            if (info.hFile) CloseHandle(info.hFile);
            return;
        }
        Process& p = *pp;
        const std::uint64_t base = std::uint64_t(std::uintptr_t(info.lpBaseOfDll));
        // The loader's own name for it first (the debug event's file may be
        // the system's copy of a built-in module); a mapping the loader does
        // not list and that has no name is an image mapped as data. Every
        // read is a round trip through the system: the headers are read only
        // when the loader's entry does not tell enough.
        if (p.native && !p.ldr) p.ldr = loaderData(*p.memory, p.peb);
        LoaderEntry entry;
        const bool listed = p.native && findLoaderEntry(*p.memory, p.ldr, base, entry);
        std::string path = entry.path;
        const std::string named = listed ? std::string() : imageNameOf(p, info);
        if (path.empty()) path = named;
        if (path.empty()) path = pathOfFileHandle(info.hFile);
        if (info.hFile) CloseHandle(info.hFile);
        const bool loader = isLoaderModule(lowerFileName(path));
        MappedImage image;
        if (!listed || loader) image = readMappedImage(*p.memory, base);
        const int bits = listed ? p.bits : image.ok ? image.bits() : p.bits;
        if (listed) image.sizeOfImage = entry.sizeOfImage;
        // ntdll.dll is mapped before the loader keeps its list, and Wine's
        // event names its file outside the Windows folder: the system folder's.
        const bool ntdll = lowerFileName(path) == "ntdll.dll";
        if (ntdll && !listed)
            path = systemFolderOf(systemFolders(), bits == 64 ? ModuleBits::bits64 : ModuleBits::bits32) + "\\ntdll.dll";
        path = truePathOf(bits, path);
        ModuleInfo m{path, lowerFileName(path), base, image.sizeOfImage, false, listed || ntdll || !named.empty()};
        m.loader = m.module && isLoaderModule(m.name);
        p.modules[base] = m;

        RunEvent load = event(m.module ? RunEventKind::moduleLoad : RunEventKind::imageMapped, e.dwProcessId);
        load.tid = e.dwThreadId;
        load.address = base;
        load.bits = bits;
        load.path = path;
        // Who asked: the innermost hooked call under way that the program's
        // own code made (a load made for a module's import is none).
        std::uint64_t sp = 0, stackBase = 0;
        if (m.module && p.native && !p.hooks.empty() && stackOf(p, e.dwThreadId, sp, stackBase)) {
            HookCall call;
            const ModuleInfo* caller = nullptr;
            if (p.hooks.findCall(*p.memory, sp, stackBase, call,
                                 [&](const HookCall& c) { return isOwnCall(p, c.returnAddress, &caller); })) {
                load.caller = caller->path;
                if (call.hook->loads()) load.asked = askedName(p, call);
            }
        }
        sink_.event(load);
        if (p.native && m.loader) {
            std::vector<std::string> notes;
            p.hooks.install(*p.memory, base, image, m.name, notes);
            for (const std::string& text : notes) note(text);
        }
    }

    void onUnloadDll(const DEBUG_EVENT& e) {
        Process* p = find(e.dwProcessId);
        if (!p) return;
        const std::uint64_t base = std::uint64_t(std::uintptr_t(e.u.UnloadDll.lpBaseOfDll));
        const auto found = p->modules.find(base);
        if (found == p->modules.end()) return;
        if (found->second.module) {
            RunEvent u = event(RunEventKind::moduleUnload, e.dwProcessId);
            u.address = base;
            u.path = found->second.path;
            sink_.event(u);
        }
        p->modules.erase(found);
    }

    void onDebugString(const DEBUG_EVENT& e) {
        Process* p = find(e.dwProcessId);
        if (!p) return;
        const OUTPUT_DEBUG_STRING_INFO& info = e.u.DebugString;
        const std::size_t length = std::min<std::size_t>(info.nDebugStringLength, kDebugStringLength);
        const std::uint64_t at = std::uint64_t(std::uintptr_t(info.lpDebugStringData));
        RunEvent s = event(RunEventKind::debugString, e.dwProcessId);
        s.tid = e.dwThreadId;
        s.text = info.fUnicode ? p->memory->readWide(at, length) : p->memory->readAnsi(at, length);
        while (!s.text.empty() && (s.text.back() == '\n' || s.text.back() == '\r')) s.text.pop_back();
        sink_.event(s);
    }

    DWORD onException(const DEBUG_EVENT& e) {
        Process* pp = find(e.dwProcessId);
        if (!pp) return DBG_EXCEPTION_NOT_HANDLED;
        Process& p = *pp;
        const EXCEPTION_RECORD& record = e.u.Exception.ExceptionRecord;
        const DWORD code = record.ExceptionCode;
        const std::uint64_t address = std::uint64_t(std::uintptr_t(record.ExceptionAddress));
        const bool first = e.u.Exception.dwFirstChance != 0;
        if (code == EXCEPTION_BREAKPOINT || code == kWow64Breakpoint) {
            // Some systems report the address after the int3.
            const Hook* hook = p.hooks.atTrap(address);
            if (!hook) hook = p.hooks.atTrap(address - 1);
            if (hook) return onTrap(p, e.dwThreadId, *hook);
            const ModuleInfo* m = p.moduleAt(address);
            // The loader's breakpoint for its debugger (a 32-bit process's
            // second one, under a 64-bit debugger, is the WoW64 kind): the
            // recorder's, no exception of the program's.
            if (code == kWow64Breakpoint || (!p.sawInitialBreak && m && m->name == "ntdll.dll")) {
                if (code != kWow64Breakpoint) p.sawInitialBreak = true;
                return DBG_CONTINUE;
            }
        }
        // Debug strings that the system turns into debug-string events.
        if (code == kPrintException || code == kPrintExceptionWide) return DBG_EXCEPTION_NOT_HANDLED;
        const ModuleInfo* m = p.moduleAt(address);
        const auto exception = [&](bool firstChance) {
            RunEvent x = event(RunEventKind::exception, e.dwProcessId);
            x.tid = e.dwThreadId;
            x.code = code;
            x.address = address;
            x.firstChance = firstChance;
            if (m) {
                x.path = m->path;
                x.offset = address - m->base;
            }
            sink_.event(x);
        };
        if (first) {
            if (p.firstChance++ < kExceptionLines) exception(true);
            return DBG_EXCEPTION_NOT_HANDLED;
        }
        // Unhandled: the exception that ends the process.
        exception(false);
        // The system would end it with this code; no crash handler is
        // started meanwhile for a process the recorder holds.
        TerminateProcess(p.handle, code);
        return DBG_EXCEPTION_NOT_HANDLED;
    }

    // A hooked call that failed: who called, with what, and why it failed.
    // A failure inside the loader's own modules is only noted: the program's
    // call that it is part of (or nobody's, when the loader acted for
    // itself) is what the record reports.
    DWORD onTrap(Process& p, DWORD tid, const Hook& hook) {
        const auto thread = p.threads.find(tid);
        if (thread == p.threads.end() || !thread->second.handle) return DBG_CONTINUE;
        CONTEXT context{};
        context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
        if (!GetThreadContext(thread->second.handle, &context)) return DBG_CONTINUE;
#ifdef _WIN64
        const std::uint64_t sp = context.Rsp, result = context.Rax;
        context.Rip = hook.resume;
#else
        const std::uint64_t sp = context.Esp, result = context.Eax;
        context.Eip = DWORD(hook.resume);
#endif
        SetThreadContext(thread->second.handle, &context);

        HookCall call;
        if (!p.hooks.readCall(*p.memory, hook, sp, call)) return DBG_CONTINUE;
        RunEvent f = event(hook.loads() ? RunEventKind::loadFailed : RunEventKind::lookupFailed, p.pid);
        f.tid = tid;
        describeCall(p, call, f);
        const std::string what = hook.loads() ? lowerAscii(f.asked)
                                 : f.byOrdinal ? "#" + std::to_string(f.ordinal) : lowerAscii(f.name);
        if (hook.returnsStatus) {
            f.code = std::uint32_t(result);
        } else {
            // The status of the loader's call inside this one, else the
            // thread's last error as the failed call set it.
            const auto pending = p.pending.find(tid);
            if (pending != p.pending.end() && pending->second.sp < sp && pending->second.what == what) {
                f.code = pending->second.code;
                f.win32 = pending->second.win32;
            } else {
                std::uint32_t error = 0;
                p.memory->readU32(thread->second.teb + (p.bits == 64 ? 0x68 : 0x34), error);
                f.code = error;
                f.win32 = true;
            }
        }
        p.pending.erase(tid);
        const ModuleInfo* caller = nullptr;
        if (!isOwnCall(p, call.returnAddress, &caller) && (caller || p.hooks.inTrampolines(call.returnAddress))) {
            p.pending[tid] = PendingStatus{sp, f.code, f.win32, what};
            return DBG_CONTINUE;
        }
        if (caller) f.caller = caller->path;
        sink_.event(f);
        return DBG_CONTINUE;
    }

    // The name asked for, or the module and function looked up.
    void describeCall(Process& p, const HookCall& call, RunEvent& f) {
        if (call.hook->loads()) {
            f.asked = askedName(p, call);
            return;
        }
        std::uint64_t module = call.arguments[0] & ~std::uint64_t(3);  // a data file's handle has low bits set
        if (!module) module = exeBase(p);
        const ModuleInfo* m = p.moduleAt(module);
        f.path = m ? m->path : std::string();
        f.address = module;
        if (call.hook->kind == HookKind::getProcAddress) {
            if (call.arguments[1] < 0x10000) {
                f.byOrdinal = true;
                f.ordinal = std::uint32_t(call.arguments[1]);
            } else {
                f.name = p.memory->readAnsi(call.arguments[1], 1024);
            }
        } else if (call.arguments[1]) {
            f.name = p.memory->readCountedAnsi(call.arguments[1]);
        } else {
            f.byOrdinal = true;
            f.ordinal = std::uint32_t(call.arguments[2]);
        }
    }

    std::uint64_t exeBase(const Process& p) const {
        for (const auto& entry : p.modules)
            if (entry.second.path == p.path) return entry.first;
        return 0;
    }

    const RunRequest& request_;
    const RecorderOptions& options_;
    RunSink& sink_;
    const std::atomic<int>& command_;
    WaitForDebugEventFunction wait_ = nullptr;
    long long frequency_ = 1;
    long long started_ = 0;
    KernelHandle job_;
    DWORD rootPid_ = 0;
    bool sawRoot_ = false;
    ULONGLONG deadline_ = 0;
    ULONGLONG drainUntil_ = 0;
    std::string ending_;
    std::map<DWORD, Process> processes_;
};

}  // namespace

void recordProgram(const RunRequest& request, const RecorderOptions& options, RunSink& sink,
                   const std::atomic<int>& command) {
    Recorder(request, options, sink, command).run();
}

}  // namespace vost
