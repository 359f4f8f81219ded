// vostrun32.exe / vostrun64.exe: the recorder as a process of its own, for
// the page (which never hosts a debugged program) and for vostscan.exe when
// the program is of the other bitness. Writes the run record to its standard
// output, one event per line (page/run_record.h), the last one `ended` or
// `failed`.
//
//   vostrunNN [--commands] [--children] [--timeout SECONDS] [--cwd DIR]
//             [--arguments TEXT] [--new-console | --output-to-errors] -- PROGRAM
//
// With --commands it reads lines from its standard input: "stop" ends the
// program and the recording, "detach" ends the recording and lets the
// program run on; the input's end (its reader is gone) is "stop".
// --new-console gives a console program a console of its own (the page's
// runs), --output-to-errors sends its output to this process's standard
// error (vostscan's), with an empty input.
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/wide_text.h"
#include "recorder/recorder.h"

namespace {

class LineSink : public vost::RunSink {
public:
    explicit LineSink(std::atomic<int>& command) : out_(GetStdHandle(STD_OUTPUT_HANDLE)), command_(command) {}
    void event(const vost::RunEvent& e) override {
        const std::string line = vost::runEventLine(e) + "\n";
        DWORD written = 0;
        // Nobody reads any more: the recording has no one to report to.
        if (!WriteFile(out_, line.data(), DWORD(line.size()), &written, nullptr) || written != line.size())
            command_.store(vost::kStopProgram);
    }

private:
    HANDLE out_;
    std::atomic<int>& command_;
};

// Reads commands until the input ends; its end stops the recording.
void readCommands(std::atomic<int>& command) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        pending.append(buffer, got);
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            std::string line = pending.substr(0, end);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line == "stop") command.store(vost::kStopProgram);
            else if (line == "detach") command.store(vost::kDetachProgram);
        }
        if (pending.size() > 4096) pending.clear();
    }
    if (command.load() == vost::kKeepRecording) command.store(vost::kStopProgram);
}

int usage(const char* why) {
    const std::string text = std::string("vostrun: ") + why +
                             "\nusage: vostrun [--commands] [--children] [--timeout SECONDS] [--cwd DIR] "
                             "[--arguments TEXT] [--new-console | --output-to-errors] -- PROGRAM\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), DWORD(text.size()), &written, nullptr);
    return 2;
}

}  // namespace

int main() {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; wide && i < count; ++i) {
        std::string text;
        if (!vost::toUtf8(wide[i], text)) return usage("an argument is no valid Unicode text");
        args.push_back(text);
    }
    if (wide) LocalFree(wide);

    vost::RunRequest request;
    vost::RecorderOptions options;
    bool commands = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--") {
            if (i + 2 != args.size()) return usage("one PROGRAM after --");
            request.program = args[i + 1];
            break;
        } else if (a == "--commands") commands = true;
        else if (a == "--children") request.children = true;
        else if (a == "--new-console") options.newConsole = true;
        else if (a == "--output-to-errors") options.outputToErrors = true;
        else if (a == "--timeout" && hasValue) request.timeoutSeconds = std::atof(args[++i].c_str());
        else if (a == "--cwd" && hasValue) request.folder = args[++i];
        else if (a == "--arguments" && hasValue) request.arguments = args[++i];
        else return usage(("unknown option " + a).c_str());
    }
    if (request.program.empty()) return usage("no program");

    std::atomic<int> command{vost::kKeepRecording};
    if (commands) std::thread(readCommands, std::ref(command)).detach();
    LineSink sink(command);
    bool failed = false;
    struct Watch : vost::RunSink {
        LineSink& inner;
        bool& failed;
        Watch(LineSink& i, bool& f) : inner(i), failed(f) {}
        void event(const vost::RunEvent& e) override {
            if (e.kind == vost::RunEventKind::failed) failed = true;
            inner.event(e);
        }
    } watch(sink, failed);
    vost::recordProgram(request, options, watch, command);
    // The command reader may still wait on its input: leave without it.
    ExitProcess(failed ? 1 : 0);
}
