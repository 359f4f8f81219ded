// The recorder: runs a program as its debugger and reports what it loads and
// fails to load, as events of the run record (page/run_record.h). A program
// is recorded by a recorder of its own bitness (a 32-bit process cannot
// debug a 64-bit one, and a 64-bit one reads a 32-bit one's loader
// structures only in part).
#pragma once

#include <atomic>

#include "page/run_record.h"

namespace vost {

class RunSink {
public:
    virtual ~RunSink() = default;
    virtual void event(const RunEvent& event) = 0;
};

// What another thread may ask of a recording under way.
enum RecorderCommand : int {
    kKeepRecording = 0,
    kStopProgram = 1,     // end the program, its children with it, and the recording
    kDetachProgram = 2,   // end the recording; the program runs on without it
};

struct RecorderOptions {
    // A console program gets a console of its own (a recorder without one).
    bool newConsole = false;
    // The program's standard output and error go to the recorder's standard
    // error (a recorder whose standard output is its report).
    bool outputToErrors = false;
};

// Starts `request.program` under the recorder and reports every event to
// `sink` until the recording ends; the last event is `ended` or `failed`.
// The program and every process it starts live in a job that ends them all
// when the recorder ends, however it ends, unless the recording ended with
// the program exiting on its own (its unrecorded children then run on) or
// being let go (kDetachProgram).
void recordProgram(const RunRequest& request, const RecorderOptions& options, RunSink& sink,
                   const std::atomic<int>& command);

// The bitness of this recorder's own programs: 32 or 64.
constexpr int kRecorderBits = sizeof(void*) == 8 ? 64 : 32;

}  // namespace vost
