#include "recorder/helper_client.h"

#include <vector>

#include "platform/win32/wide_text.h"

namespace vost {

namespace {
constexpr std::size_t kLongestLine = 1 << 20;  // a line past this is cut (a debug string is at most 4 KiB)
}

std::string helperName(int bits) { return bits == 64 ? "vostrun64.exe" : "vostrun32.exe"; }

std::string folderOfModuleAt(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return std::string();
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(module, &path[0], DWORD(path.size()));
    if (length == 0 || length >= path.size()) return std::string();
    path.resize(length);
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::string() : utf8Text(path.substr(0, slash + 1));
}

bool HelperProcess::start(const std::string& helper, const RunRequest& request, ProgramOutput output,
                          std::string& error) {
    std::string line = quoteArgument(helper) + " --commands";
    if (request.children) line += " --children";
    line += output == ProgramOutput::newConsole ? " --new-console" : " --output-to-errors";
    if (request.timeoutSeconds > 0) line += " --timeout " + std::to_string(request.timeoutSeconds);
    if (!request.folder.empty()) line += " --cwd " + quoteArgument(request.folder);
    if (!request.arguments.empty()) line += " --arguments " + quoteArgument(request.arguments);
    line += " -- " + quoteArgument(request.program);
    std::wstring commandLine, program;
    if (!toWide(line, commandLine) || !toSystemPath(helper, program)) {
        error = "the program's path, arguments or folder is no valid text";
        return false;
    }

    // Only the helper's ends are inheritable, and only they are handed on.
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
    if (!CreatePipe(&inRead, &inWrite, &inheritable, 0)) {
        error = "no pipe for the recorder: " + statusText(GetLastError(), true);
        return false;
    }
    KernelHandle childIn(inRead);
    input_ = KernelHandle(inWrite);
    if (!CreatePipe(&outRead, &outWrite, &inheritable, 0)) {
        error = "no pipe for the recorder: " + statusText(GetLastError(), true);
        return false;
    }
    KernelHandle childOut(outWrite);
    output_ = KernelHandle(outRead);
    SetHandleInformation(input_.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output_.get(), HANDLE_FLAG_INHERIT, 0);
    KernelHandle childErr;
    HANDLE errors = GetStdHandle(STD_ERROR_HANDLE), duplicate = nullptr;
    if (output == ProgramOutput::toErrors && errors && errors != INVALID_HANDLE_VALUE &&
        DuplicateHandle(GetCurrentProcess(), errors, GetCurrentProcess(), &duplicate, 0, TRUE, DUPLICATE_SAME_ACCESS))
        childErr = KernelHandle(duplicate);
    else
        childErr = KernelHandle(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                            OPEN_EXISTING, 0, nullptr));

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = childIn.get();
    startup.StartupInfo.hStdOutput = childOut.get();
    startup.StartupInfo.hStdError = childErr ? childErr.get() : childOut.get();
    HANDLE handed[3] = {childIn.get(), childOut.get(), startup.StartupInfo.hStdError};
    const DWORD handedCount = childErr ? 3 : 2;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> attributes(size ? size : 1);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    DWORD flags = CREATE_NO_WINDOW;
    if (size && InitializeProcThreadAttributeList(list, 1, 0, &size)) {
        if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handed, handedCount * sizeof(HANDLE),
                                      nullptr, nullptr)) {
            startup.lpAttributeList = list;
            flags |= EXTENDED_STARTUPINFO_PRESENT;
        }
    }
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, flags, nullptr,
                                        nullptr, &startup.StartupInfo, &info);
    const DWORD startError = GetLastError();
    if (startup.lpAttributeList) DeleteProcThreadAttributeList(list);
    if (!started) {
        error = "the recorder " + helper + " could not be started: " + statusText(startError, true);
        return false;
    }
    CloseHandle(info.hThread);
    process_ = KernelHandle(info.hProcess);
    processId_ = info.dwProcessId;
    return true;
}

bool HelperProcess::readLine(std::string& line) {
    for (;;) {
        const std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return true;
        }
        if (pending_.size() > kLongestLine) pending_.resize(kLongestLine);
        char buffer[8192];
        DWORD got = 0;
        if (!output_ || !ReadFile(output_.get(), buffer, sizeof buffer, &got, nullptr) || got == 0) {
            if (pending_.empty()) return false;
            line.swap(pending_);
            pending_.clear();
            return true;
        }
        pending_.append(buffer, got);
    }
}

bool HelperProcess::send(const char* command) {
    if (!input_) return false;
    const std::string line = std::string(command) + "\n";
    DWORD written = 0;
    return WriteFile(input_.get(), line.data(), DWORD(line.size()), &written, nullptr) && written == line.size();
}

void HelperProcess::closeInput() { input_.reset(); }

DWORD HelperProcess::exitCode(DWORD milliseconds) {
    if (!process_) return 0;
    WaitForSingleObject(process_.get(), milliseconds);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.get(), &code);
    return code;
}

}  // namespace vost
