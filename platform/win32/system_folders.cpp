#include "platform/win32/system_folders.h"

#include <windows.h>

#include "analysis/text.h"
#include "platform/win32/wide_text.h"

namespace vost {

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// The length of `folder` when `path` is that folder or lies below it (ASCII
// case ignored); 0 otherwise.
std::size_t prefixLength(const std::string& path, const std::string& folder) {
    std::size_t length = folder.size();
    while (length > 0 && isSeparator(folder[length - 1])) --length;
    if (length == 0 || path.size() < length) return 0;
    for (std::size_t i = 0; i < length; ++i) {
        const char a = isSeparator(path[i]) ? '\\' : asciiLower(path[i]);
        const char b = isSeparator(folder[i]) ? '\\' : asciiLower(folder[i]);
        if (a != b) return 0;
    }
    return path.size() == length || isSeparator(path[length]) ? length : 0;
}

// Folders below System32 that the system does not redirect.
bool exemptFromRedirection(const std::string& rest) {
    static const char* const kExempt[] = {"catroot", "catroot2", "driverstore", "drivers\\etc",
                                          "logfiles", "spool"};
    const std::string below = rest.empty() ? rest : rest.substr(1);  // without the separator
    for (const char* folder : kExempt)
        if (prefixLength(below, folder) != 0) return true;
    return false;
}

// `path` with the folder `from` (of length `length` in it) replaced by `to`.
std::string replaceFolder(const std::string& path, std::size_t length, const std::string& to) {
    return to + path.substr(length);
}

// System32 -> SysWOW64 under the system's rule, when `path` lies in System32.
std::string redirectToWow64(const SystemFolders& folders, const std::string& path) {
    const std::size_t length = prefixLength(path, folders.system);
    if (length == 0 || exemptFromRedirection(path.substr(length))) return path;
    return replaceFolder(path, length, folders.wow64);
}

std::string askFolder(UINT (WINAPI* ask)(LPWSTR, UINT)) {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = ask(buffer, MAX_PATH);
    std::string folder;
    if (length && length < MAX_PATH && toUtf8(std::wstring_view(buffer, length), folder)) return folder;
    return std::string();
}

SystemFolders askSystemFolders() {
    SystemFolders folders;
    folders.windows = askFolder(&GetWindowsDirectoryW);
    folders.system = askFolder(&GetSystemDirectoryW);
    // Fails on 32-bit Windows, where there is one system folder.
    folders.wow64 = askFolder(&GetSystemWow64DirectoryW);
#if !defined(_WIN64)
    BOOL wow64Process = FALSE;
    if (!folders.wow64.empty() && IsWow64Process(GetCurrentProcess(), &wow64Process) && wow64Process &&
        !folders.windows.empty())
        folders.sysnative = folders.windows + "\\Sysnative";
#endif
    return folders;
}

}  // namespace

const SystemFolders& systemFolders() {
    static const SystemFolders folders = askSystemFolders();
    return folders;
}

std::string systemFolderOf(const SystemFolders& folders, ModuleBits bits) {
    if (bits == ModuleBits::bits32 && !folders.wow64.empty()) return folders.wow64;
    return folders.system;
}

std::string folderSeenBy(const SystemFolders& folders, ModuleBits bits, const std::string& folder) {
    if (bits == ModuleBits::bits64 || folders.wow64.empty()) return folder;
    return redirectToWow64(folders, folder);
}

std::string truePath(const SystemFolders& folders, const std::string& path) {
    if (!folders.redirected()) return path;
    if (const std::size_t length = prefixLength(path, folders.sysnative))
        return replaceFolder(path, length, folders.system);
    return redirectToWow64(folders, path);
}

std::string pathForThisProcess(const SystemFolders& folders, const std::string& path) {
    if (!folders.redirected()) return path;
    const std::size_t length = prefixLength(path, folders.system);
    return length ? replaceFolder(path, length, folders.sysnative) : path;
}

}  // namespace vost
