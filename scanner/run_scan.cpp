#include "scanner/run_scan.h"

#include <sstream>
#include <string>

#include "page/caching_platform.h"
#include "page/module_list.h"
#include "page/scan.h"
#include "scanner/output.h"
#include "scanner/scan_session.h"
#ifdef _WIN32
#include <windows.h>

#include <atomic>

#include "recorder/helper_client.h"
#include "recorder/recorder.h"
#endif

namespace vost {

namespace {

#ifdef _WIN32
std::string oneLine(const std::string& text) {
    std::string line;
    for (char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
    return line;
}

// Ctrl+C ends the program as the page's Stop does; the record is still written.
std::atomic<int> stopCommand{kKeepRecording};
HelperProcess* runningHelper = nullptr;

BOOL WINAPI stopOnInterrupt(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    stopCommand.store(kStopProgram);
    if (HelperProcess* helper = runningHelper) helper->send("stop");
    return TRUE;
}

struct CollectingSink : RunSink {
    std::vector<RunEvent> events;
    void event(const RunEvent& e) override { events.push_back(e); }
};

// Records the run: here for a program of this build's bitness, through the
// helper of the other bitness beside vostscan.exe otherwise.
std::vector<RunEvent> recordRun(const RunRequest& request, int bits) {
    CollectingSink sink;
    SetConsoleCtrlHandler(stopOnInterrupt, TRUE);
    if (bits == kRecorderBits) {
        RecorderOptions options;
        options.outputToErrors = true;
        recordProgram(request, options, sink, stopCommand);
    } else {
        const std::string helper = folderOfModuleAt(reinterpret_cast<const void*>(&recordRun)) + helperName(bits);
        HelperProcess process;
        std::string error;
        if (process.start(helper, request, HelperProcess::ProgramOutput::toErrors, error)) {
            runningHelper = &process;
            for (std::string line; process.readLine(line);) {
                RunEvent e;
                if (parseRunEventLine(line, e)) sink.events.push_back(std::move(e));
            }
            runningHelper = nullptr;
        } else {
            RunEvent failed;
            failed.kind = RunEventKind::failed;
            failed.text = error + " (" + std::to_string(bits) + "-bit programs are recorded by " + helperName(bits) +
                          " beside vostscan.exe)";
            sink.events.push_back(failed);
        }
    }
    SetConsoleCtrlHandler(stopOnInterrupt, FALSE);
    return std::move(sink.events);
}
#endif

}  // namespace

const char* itemRunState(const RunMerge& merge, const ModuleNode* node) {
    if (!merge.merged || !node) return "";
    if (merge.failedLoads.count(node)) return "load-failed";
    if (!node->found) return "not-found";
    if (merge.runTime.count(node)) return "run-time";
    if (merge.notLoaded.count(node)) return "not-loaded";
    return "loaded";
}

int runAndRecord(const ScannerOptions& options, const PlatformOptions& platformOptions, std::ostream& out,
                 std::ostream& err) {
#ifndef _WIN32
    (void)options;
    (void)platformOptions;
    (void)out;
    err << "vostscan: --run runs the program as its debugger, which only the Windows build does: run vostscan.exe "
           "(under Wine: wine vostscan.exe --run ...)\n";
    return 2;
#else
    const std::string& file = options.files.front();
    std::vector<ScanMessage>* messageTarget = nullptr;
    PlatformOptions withMessages = platformOptions;
    withMessages.messageSink = [&](const char* text, const char* caption) {
        err << "vostscan: " << file << ": " << caption << ": " << oneLine(text) << "\n";
        if (messageTarget) messageTarget->push_back(ScanMessage{text, caption});
    };
    auto platform = std::make_shared<CachingPlatform>(createPlatform(withMessages));
    // Each module read once, for the walk and the check.
    const auto modules = std::make_shared<ModuleCache>(true);
    std::unique_ptr<ScannedFile> scanned =
        scanFile(file, platform, messageTarget, ScanReach::closure, -1, 0, true, modules);
    if (!scanned->failure.empty()) {
        err << "vostscan: " << file << ": " << scanned->failure << "\n";
        return 1;
    }
    const std::string folder = folderOfPath(scanned->ext.selectedPath);
    CheckCache cache(modules);
    CheckSettings settings;
    settings.delayLoads = true;
    scanned->check = std::make_unique<ClosureCheck>(
        checkClosure(*scanned->tree, *platform, cache, folder.c_str(), settings, false));

    const ModuleNode* root = scanned->tree->itemNode(scanned->tree->rootItem());
    const int bits = !root ? 0 : root->machine == 0x14C ? 32 : root->machine == 0x8664 ? 64 : 0;
    if (!bits) {
        err << "vostscan: " << file << ": --run records 32-bit and 64-bit x86 programs only\n";
        return 1;
    }
    RunRequest request;
    request.program = file;
    for (const std::string& argument : options.arguments)
        request.arguments += (request.arguments.empty() ? "" : " ") + quoteArgument(argument);
    request.folder = options.runFolder;
    request.children = options.children;
    request.timeoutSeconds = options.timeoutSeconds;

    RunOutput run;
    run.log = options.log;
    run.events = recordRun(request, bits);
    run.summary = summarizeRun(run.events);
    std::ostringstream checkText;
    writeCheckText(*scanned->check, checkText);
    platform->setSearchFolder(folder.empty() ? "." : folder.c_str());
    run.merge = mergeRun(scanned->ext, recordTree(*scanned->tree), run.summary, checkText.str());
    const int clicks = options.sortColumn < 0 ? 0 : options.sortDescending ? 2 : 1;
    for (int i = 0; i < clicks; ++i) sortModuleList(scanned->ext, options.sortColumn);

    std::string findings;
    writeRunFindings(run.merge, findings);
    std::string log;
    if (run.log) writeRunLog(run.events, log);
    switch (options.format) {
    case OutputFormat::json: writeJson(*scanned, out, options.loaderRules(), &run); break;
    case OutputFormat::tree:
    case OutputFormat::list:
        if (options.format == OutputFormat::tree) writeTreeText(*scanned->tree, out, nullptr, &run.merge);
        else writeListText(*scanned, out);
        writeCheckText(*scanned->check, out);
        out << findings;
        if (run.log) out << "record:\n" << log;
        break;
    }
    out.flush();
    if (!run.summary.failure.empty()) {
        err << "vostscan: " << file << ": " << run.merge.ending << "\n";
        return 1;
    }
    return scanned->check->findingCount() || !run.merge.findings.empty() ? 3 : 0;
#endif
}

void writeRunJson(const RunOutput& run, std::ostream& out) {
    const RunSummary& s = run.summary;
    const auto seconds = [](std::int64_t micros) { return std::to_string(double(micros) / 1e6); };
    const auto hex = [](std::uint64_t value) {
        char text[24];
        std::snprintf(text, sizeof text, "\"0x%llX\"", static_cast<unsigned long long>(value));
        return std::string(text);
    };
    const auto strings = [&](const std::vector<std::string>& texts) {
        out << '[';
        for (std::size_t i = 0; i < texts.size(); ++i) out << (i ? "," : "") << jsonString(texts[i]);
        out << ']';
    };
    const auto failure = [&](const RunEvent& e) {
        out << "\"status\":" << jsonString(statusText(e.code, e.win32)) << ",\"code\":" << e.code
            << ",\"win32\":" << (e.win32 ? "true" : "false") << ",\"caller\":" << jsonString(e.caller)
            << ",\"at\":" << seconds(e.micros);
    };
    out << "{\"ended\":" << jsonString(s.ended) << ",\"ending\":" << jsonString(run.merge.ending)
        << ",\"failure\":" << jsonString(s.failure) << ",\"seconds\":" << seconds(s.endedAt);
    if (s.ended == kEndedTimeout) out << ",\"timeout\":" << s.timeoutSeconds;
    out << ",\"findings\":";
    strings(run.merge.findings);
    out << ",\"notes\":";
    strings(s.notes);
    out << ",\"processes\":[";
    for (std::size_t i = 0; i < s.processes.size(); ++i) {
        const RunProcess& p = s.processes[i];
        out << (i ? "," : "") << "{\"pid\":" << p.pid << ",\"parent\":" << p.parent << ",\"path\":" << jsonString(p.path)
            << ",\"bits\":" << p.bits << ",\"startedAt\":" << seconds(p.startedAt)
            << ",\"exited\":" << (p.exited ? "true" : "false");
        if (p.exited)
            out << ",\"exitedAt\":" << seconds(p.exitedAt) << ",\"exitCode\":" << p.exitCode
                << ",\"exitStatus\":" << jsonString(statusText(p.exitCode));
        out << ",\"threads\":" << p.threads << ",\"firstChanceExceptions\":" << p.firstChanceExceptions << ",\"crash\":";
        if (p.crashed)
            out << "{\"code\":" << p.fatal.code << ",\"status\":" << jsonString(statusText(p.fatal.code))
                << ",\"address\":" << hex(p.fatal.address) << ",\"module\":" << jsonString(p.fatal.path)
                << ",\"offset\":" << hex(p.fatal.offset) << '}';
        else
            out << "null";
        out << ",\"modules\":[";
        for (std::size_t m = 0; m < p.modules.size(); ++m) {
            const RunModule& module = p.modules[m];
            out << (m ? "," : "") << "{\"path\":" << jsonString(module.path) << ",\"base\":" << hex(module.base)
                << ",\"bits\":" << module.bits << ",\"loadedAt\":" << seconds(module.loadedAt) << ",\"unloadedAt\":"
                << (module.unloadedAt < 0 ? std::string("null") : seconds(module.unloadedAt))
                << ",\"caller\":" << jsonString(module.caller) << ",\"asked\":" << jsonString(module.asked) << '}';
        }
        out << "],\"mappedImages\":[";
        for (std::size_t m = 0; m < p.mappedImages.size(); ++m)
            out << (m ? "," : "") << "{\"path\":" << jsonString(p.mappedImages[m].path)
                << ",\"base\":" << hex(p.mappedImages[m].address) << '}';
        out << "],\"loadFailures\":[";
        for (std::size_t f = 0; f < p.loadFailures.size(); ++f) {
            out << (f ? "," : "") << "{\"asked\":" << jsonString(p.loadFailures[f].asked) << ',';
            failure(p.loadFailures[f]);
            out << '}';
        }
        out << "],\"lookupFailures\":[";
        for (std::size_t f = 0; f < p.lookupFailures.size(); ++f) {
            const RunEvent& e = p.lookupFailures[f];
            out << (f ? "," : "") << "{\"module\":" << jsonString(e.path) << ',';
            if (e.byOrdinal) out << "\"ordinal\":" << e.ordinal << ',';
            else out << "\"function\":" << jsonString(e.name) << ',';
            failure(e);
            out << '}';
        }
        out << "],\"debugStrings\":";
        strings(p.debugStrings);
        out << '}';
    }
    out << ']';
    if (run.log) {
        out << ",\"log\":[";
        for (std::size_t i = 0; i < run.events.size(); ++i) out << (i ? "," : "") << jsonString(runLogLine(run.events[i]));
        out << ']';
    }
    out << '}';
}

}  // namespace vost
