// Stands in for explorer.exe: writes its command line, exactly (UTF-8), to the file
// named by VOST_EXPLORER_RECORD, and its own path to that name plus
// ".program", so a test can tell which of several planted copies ran.
#include <windows.h>

#include <string>

namespace {
bool writeWhole(const std::string& path, const char* text, DWORD length) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text, length, &written, nullptr);
    CloseHandle(file);
    return ok && written == length;
}
}  // namespace

int main() {
    char target[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("VOST_EXPLORER_RECORD", target, MAX_PATH)) return 1;
    char self[MAX_PATH] = {};
    const DWORD selfLength = GetModuleFileNameA(nullptr, self, MAX_PATH);
    // The program's path first: the test waits for the command line's file.
    if (!writeWhole(std::string(target) + ".program", self, selfLength)) return 1;
    // The command line as Windows holds it (UTF-16), written as UTF-8.
    const wchar_t* wide = GetCommandLineW();
    std::string line(std::size_t(WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &line[0], int(line.size()), nullptr, nullptr);
    line.pop_back();  // its zero
    return writeWhole(target, line.data(), DWORD(line.size())) ? 0 : 1;
}
