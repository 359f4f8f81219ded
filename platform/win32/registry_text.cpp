#include "platform/win32/registry_text.h"

#include <vector>

#include "platform/win32/wide_text.h"

namespace vost {

namespace {
// Closes the key on every path out.
struct OpenKey {
    HKEY handle = nullptr;
    OpenKey(HKEY root, const std::string& key, REGSAM access) {
        if (RegOpenKeyExW(root, wideText(key).c_str(), 0, access, &handle) != ERROR_SUCCESS) handle = nullptr;
    }
    ~OpenKey() {
        if (handle) RegCloseKey(handle);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
};
}  // namespace

bool readRegistryText(HKEY root, const std::string& key, const wchar_t* name, std::string& out, REGSAM access) {
    out.clear();
    const OpenKey opened(root, key, access);
    if (!opened.handle) return false;
    // Asked for its size first, then read; a value that grows meanwhile is
    // asked again.
    std::vector<wchar_t> value;
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(opened.handle, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
        value.assign(size / sizeof(wchar_t) + 1, L'\0');
        DWORD read = DWORD(value.size() * sizeof(wchar_t));
        const LONG status =
            RegQueryValueExW(opened.handle, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &read);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) return false;
        // Stored with or without its terminating zero: the text ends at the first.
        std::size_t length = read / sizeof(wchar_t);
        for (std::size_t i = 0; i < length; ++i)
            if (value[i] == L'\0') length = i;
        out = utf8Text(std::wstring_view(value.data(), length));
        return true;
    }
    return false;
}

bool registryKeyExists(HKEY root, const std::string& key, REGSAM access) {
    return OpenKey(root, key, access).handle != nullptr;
}

}  // namespace vost
