// The record of one run of a program under the recorder: one event per thing
// the program did that matters to what it loads, in the order the recorder
// saw them, each with its time since the program was started. The recorder
// (a helper process, or vostscan.exe itself) writes each event as one line of
// text; the page and vostscan read the lines back into events, and summarise
// them per process.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vost {

enum class RunEventKind {
    processStart,   // pid, parent, bits, path
    processExit,    // pid, code
    threadStart,    // pid, tid
    threadExit,     // pid, tid, code
    moduleLoad,     // pid, tid, base, bits, path; caller and asked when a LoadLibrary call was under way
    moduleUnload,   // pid, base, path
    imageMapped,    // pid, base, path: an image mapped as data or resource, not loaded as a module
    loadFailed,     // pid, tid, asked, code (NTSTATUS, or a Win32 error with `win32`), caller
    lookupFailed,   // pid, tid, path (module looked in), name or ordinal, code, caller
    exception,      // pid, tid, code, address, path + offset (its module), firstChance
    debugString,    // pid, text
    note,           // text: what the recorder has to say (a child of another bitness, a hook it could not place)
    ended,          // text: how the recording ended (see RunEnd), code: the timeout's seconds
    failed,         // text: why the program could not be started
};

// How a recording ended.
constexpr const char* kEndedExited = "exited";      // every recorded process ended by itself
constexpr const char* kEndedTimeout = "timeout";    // the time given ran out: the programs were ended
constexpr const char* kEndedStopped = "stopped";    // the user stopped it: the programs were ended
constexpr const char* kEndedDetached = "detached";  // the user stopped the recording, the programs run on

struct RunEvent {
    RunEventKind kind = RunEventKind::note;
    std::int64_t micros = 0;  // since the program was started
    std::uint32_t pid = 0;
    std::uint32_t tid = 0;
    std::uint32_t parent = 0;   // processStart: the pid of the process that started it (0: the recorder)
    std::uint64_t address = 0;  // a module's base; an exception's address
    std::uint64_t offset = 0;   // an exception's offset in its module
    int bits = 0;               // 32 or 64
    std::uint32_t code = 0;     // exit code, status, exception code
    bool win32 = false;         // `code` is a Win32 error, not an NTSTATUS
    bool firstChance = true;
    bool byOrdinal = false;     // lookupFailed: `ordinal`, not `name`
    std::uint32_t ordinal = 0;
    std::uint64_t count = 0;    // processExit: the first-chance exceptions it had
    std::string path;    // a module's or program's path; the module an exception lies in
    std::string name;    // lookupFailed: the function's name
    std::string asked;   // the name a LoadLibrary call was given
    std::string caller;  // the path of the module that made the call; empty when it cannot be told
    std::string text;    // debug string, note, how it ended, why it failed
};

// One event as one line (no line feed): its kind, then tab-separated
// `key=value` fields with tab, line feed, carriage return and backslash
// written as \t, \n, \r and \\.
std::string runEventLine(const RunEvent& event);
// The event of such a line; false for a line that is none (unknown kind, a
// number that does not read): such lines are passed over. Unknown keys are
// ignored.
bool parseRunEventLine(std::string_view line, RunEvent& event);

// What a program was given to run with: its command line's tail as the user
// typed it, its start folder (empty: the program's own) and whether its
// child processes are recorded too.
struct RunRequest {
    std::string program;
    std::string arguments;
    std::string folder;
    bool children = false;
    double timeoutSeconds = 0;  // 0: none
};

// One argument as CommandLineToArgvW reads it back: quoted when it holds a
// blank, a tab or a quote or is empty, backslashes doubled before a quote.
std::string quoteArgument(const std::string& argument);

// The texts of an NTSTATUS or exit code: "0", "3", "0xC0000135
// STATUS_DLL_NOT_FOUND" (hexadecimal with the status's name where one is
// known, from 0x10000 on), and a Win32 error as "error 126
// ERROR_MOD_NOT_FOUND".
std::string statusText(std::uint32_t code, bool win32 = false);
// The name alone; empty when none is known.
const char* statusName(std::uint32_t code);
// What a status that ends a process while it starts says: "a module it
// imports was not found"; empty for other codes.
const char* startFailureMeaning(std::uint32_t code);
// The kinds of check finding ("not-found", "unresolved", ...) that explain a
// process ending with `code` while it starts; empty when none does.
std::vector<std::string> explainingFindingKinds(std::uint32_t code);

// A module of a process, from its load to its unload.
struct RunModule {
    std::string path;
    std::uint64_t base = 0;
    int bits = 0;
    std::int64_t loadedAt = 0;
    std::int64_t unloadedAt = -1;  // -1: still loaded when the recording ended
    std::string caller;            // who asked for it, when a LoadLibrary call was under way
    std::string asked;             // what it was asked as
};

struct RunProcess {
    std::uint32_t pid = 0;
    std::uint32_t parent = 0;
    std::string path;
    int bits = 0;
    std::int64_t startedAt = 0;
    bool exited = false;
    std::int64_t exitedAt = 0;
    std::uint32_t exitCode = 0;
    std::size_t threads = 0;
    std::size_t firstChanceExceptions = 0;
    bool crashed = false;
    RunEvent fatal;  // the exception that ended it (crashed)
    std::vector<RunModule> modules;  // in the order they were loaded
    std::vector<RunEvent> mappedImages;
    std::vector<RunEvent> loadFailures;
    std::vector<RunEvent> lookupFailures;
    std::vector<std::string> debugStrings;
};

struct RunSummary {
    std::vector<RunProcess> processes;  // the program first, then its children in the order they started
    std::string ended;                  // kEnded... or empty when the record has no end (the recorder died)
    std::int64_t endedAt = 0;
    std::uint32_t timeoutSeconds = 0;
    std::string failure;                // why the program could not be started
    std::vector<std::string> notes;

    const RunProcess* root() const { return processes.empty() ? nullptr : &processes.front(); }
};

RunSummary summarizeRun(const std::vector<RunEvent>& events);

// The file name of a path with either separator.
std::string runFileName(const std::string& path);
// A path as two paths of one file compare: lower-cased (ASCII), '/' as '\\'.
std::string comparablePath(const std::string& path);

// Seconds as the record shows them: "0.125 s".
std::string secondsText(std::int64_t micros);

// The record as people read it, one line per event in the order they came.
void writeRunLog(const std::vector<RunEvent>& events, std::string& out);
std::string runLogLine(const RunEvent& event);

}  // namespace vost
