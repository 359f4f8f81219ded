#include "tests/windows/icons_from_files.h"

#include <windows.h>
#include <shellapi.h>

namespace vost::test {

namespace {
constexpr const char* kTestClass = "VostTest.IconFromFile";

bool readDefault(const std::string& key, std::string& value) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    char text[MAX_PATH] = {};
    DWORD size = sizeof text - 1, type = 0;
    const bool ok = RegQueryValueExA(handle, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) ==
                    ERROR_SUCCESS;
    RegCloseKey(handle);
    value = ok ? text : "";
    return true;
}

void writeDefault(const std::string& key, const std::string& value) {
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExA(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   DWORD(value.size() + 1));
    RegCloseKey(handle);
}
}  // namespace

IconsFromFiles::IconsFromFiles() {
    const std::pair<std::string, std::string> settings[] = {
        {".exe", "exefile"},
        {"exefile\\DefaultIcon", "%1"},
        {".dll", kTestClass},
        {std::string(kTestClass) + "\\DefaultIcon", "%1"},
    };
    for (const auto& [key, value] : settings) {
        Saved before;
        before.key = key;
        before.existed = readDefault(key, before.value);
        // A run killed inside a test leaves the test class behind; restoring
        // it would make every later run of the prefix take each DLL's icon
        // from its file.
        if (before.value == kTestClass) before.existed = false;
        saved_.push_back(before);
        writeDefault(key, value);
    }
}

IconsFromFiles::~IconsFromFiles() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->existed)
            writeDefault(it->key, it->value);
        else
            RegDeleteKeyA(HKEY_CLASSES_ROOT, it->key.c_str());
    }
    RegDeleteKeyA(HKEY_CLASSES_ROOT, kTestClass);
}

int shellSmallIcon(const std::string& path) {
    SHFILEINFOA info = {};
    if (!SHGetFileInfoA(path.c_str(), 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON)) return -1;
    return info.iIcon;
}

int shellTypeIcon(const std::string& extension) {
    SHFILEINFOA info = {};
    if (!SHGetFileInfoA(("*" + extension).c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                        SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES))
        return -1;
    return info.iIcon;
}

}  // namespace vost::test
