#include "platform/win32/runtime_folders.h"

#include <windows.h>

#include <memory>

#include "platform/win32/system_folders.h"
#include "platform/win32/wide_text.h"

namespace vost {

namespace {
// A registry key, closed when the owner goes.
class RegistryKey {
public:
    ~RegistryKey() {
        if (key_) RegCloseKey(key_);
    }
    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// A folder search, closed when the owner goes.
struct FindCloser {
    void operator()(HANDLE search) const { FindClose(search); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

std::string environment(const wchar_t* name) {
    std::wstring value(64, L'\0');
    for (;;) {
        const DWORD length = GetEnvironmentVariableW(name, &value[0], DWORD(value.size()));
        if (length == 0) return std::string();
        if (length < value.size()) {
            value.resize(length);
            return utf8Text(value);
        }
        value.resize(length);
    }
}

std::string registeredRoot(const wchar_t* arch) {
    const std::wstring path = std::wstring(L"SOFTWARE\\dotnet\\Setup\\InstalledVersions\\") + arch;
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, key.out()) !=
        ERROR_SUCCESS)
        return std::string();
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key.get(), L"InstallLocation", nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ || size == 0 || size > 64 * 1024)
        return std::string();
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key.get(), L"InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &size) !=
        ERROR_SUCCESS)
        return std::string();
    value.resize(wcsnlen(value.c_str(), value.size()));
    return utf8Text(value);
}

bool isFolder(const std::string& path) {
    std::wstring wide;
    if (path.empty() || !toSystemPath(path, wide)) return false;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string withoutTrailingSeparator(std::string path) {
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    return path;
}

std::string dotnetRoot(bool bits64, bool windows64) {
    const std::string programFiles = bits64 ? (windows64 ? environment(L"ProgramW6432") : environment(L"ProgramFiles"))
                                            : (windows64 ? environment(L"ProgramFiles(x86)") : environment(L"ProgramFiles"));
    const std::string candidates[] = {
        environment(bits64 ? L"DOTNET_ROOT_X64" : L"DOTNET_ROOT_X86"),
        environment(!bits64 && windows64 ? L"DOTNET_ROOT(x86)" : L"DOTNET_ROOT"),
        registeredRoot(bits64 ? L"x64" : L"x86"),
        programFiles.empty() ? std::string() : programFiles + "\\dotnet",
    };
    for (const std::string& candidate : candidates)
        if (isFolder(candidate)) return withoutTrailingSeparator(candidate);
    return std::string();
}
}  // namespace

const RuntimeFolders& win32RuntimeFolders() {
    static const RuntimeFolders folders = [] {
        RuntimeFolders made;
        const SystemFolders& system = systemFolders();
        made.windows = system.windows;
        made.windows64 = !system.wow64.empty();
        made.dotnet64 = made.windows64 ? dotnetRoot(true, true) : std::string();
        made.dotnet32 = dotnetRoot(false, made.windows64);
        return made;
    }();
    return folders;
}

std::string win32FindEntry(const std::string& base, const std::string& relative, bool folder,
                           std::string (*reach)(const std::string& path, void* context), void* context) {
    if (relative.empty()) return std::string();
    std::string joined = base.empty() ? std::string(".") : base;
    if (joined.back() != '\\' && joined.back() != '/') joined += '\\';
    for (char c : relative) joined += c == '/' ? '\\' : c;
    // A relative base stands for a folder of the current directory: the
    // path found is absolute, as every path the scan shows.
    std::wstring wide;
    if (!toSystemPath(joined, wide)) return std::string();
    if (!(joined.size() > 1 && joined[1] == ':') && joined.compare(0, 2, "\\\\") != 0) {
        const DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
        if (length == 0) return std::string();
        std::wstring full(length, L'\0');
        const DWORD written = GetFullPathNameW(wide.c_str(), length, &full[0], nullptr);
        if (written == 0 || written >= length) return std::string();
        full.resize(written);
        joined = utf8Text(full);
    }
    std::wstring reached;
    if (!toSystemPath(reach(joined, context), reached)) return std::string();
    const DWORD attributes = GetFileAttributesW(reached.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder)
        return std::string();
    return joined;
}

std::vector<std::string> win32FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    std::wstring pattern;
    if (!toSystemPath(folder + "\\*", pattern)) return names;
    WIN32_FIND_DATAW data;
    const FindHandle search(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchLimitToDirectories,
                                             nullptr, 0));
    if (search.get() == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        const std::string name = utf8Text(data.cFileName);
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileW(search.get(), &data));
    return names;
}

}  // namespace vost
