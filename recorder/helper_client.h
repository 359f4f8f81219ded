// The recorder helper (vostrun32.exe, vostrun64.exe) seen from the process
// that starts it: the page, or vostscan.exe for a program of the other
// bitness. The helper's standard output brings the record line by line; its
// standard input takes "stop" and "detach"; closing that input stops it.
#pragma once

#include <windows.h>

#include <string>

#include "page/run_record.h"
#include "platform/win32/handles.h"

namespace vost {

// "vostrun32.exe" or "vostrun64.exe".
std::string helperName(int bits);
// The folder of the module holding `address` (a function of the caller's
// module: vost.dll, vostscan.exe), with its trailing backslash; empty when
// it cannot be told.
std::string folderOfModuleAt(const void* address);

class HelperProcess {
public:
    HelperProcess() = default;
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    // Where a console program's input and output go: a console of its own
    // (the page), or this process's standard error (vostscan.exe).
    enum class ProgramOutput { newConsole, toErrors };

    // Starts `helper` for `request`; false with `error` when it cannot be
    // started.
    bool start(const std::string& helper, const RunRequest& request, ProgramOutput output, std::string& error);

    // The next line of the record (blocking); false once the helper has
    // closed its output (it ended, or was ended).
    bool readLine(std::string& line);

    // Sends "stop" or "detach"; false when the helper takes no more.
    bool send(const char* command);
    // Closes the helper's input: the helper stops the recording and the
    // program, as "stop" does.
    void closeInput();

    // The helper's exit code after waiting up to `milliseconds` for it;
    // STILL_ACTIVE while it runs.
    DWORD exitCode(DWORD milliseconds);
    HANDLE process() const { return process_.get(); }
    DWORD processId() const { return processId_; }

private:
    KernelHandle process_;
    KernelHandle input_;   // our end of its standard input
    KernelHandle output_;  // our end of its standard output
    DWORD processId_ = 0;
    std::string pending_;
};

}  // namespace vost
