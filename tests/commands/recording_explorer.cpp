// Stands in for explorer.exe next to the test program, which the process
// search finds first: writes its command line, exactly, to the file named by
// VOST_EXPLORER_RECORD.
#include <windows.h>

#include <string_view>

int main() {
    char target[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("VOST_EXPLORER_RECORD", target, MAX_PATH)) return 1;
    const char* line = GetCommandLineA();
    const std::string_view text(line);
    HANDLE file = CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return 0;
}
