#include "platform/win32/type_icons.h"

#include <windows.h>
#include <shellapi.h>

#include "analysis/text.h"
#include "platform/win32/registry_text.h"
#include "platform/win32/wide_text.h"

namespace vost {

namespace {

// The default value of HKCR\<key>, of any length; empty when there is none.
std::string classesValue(const std::string& key) {
    std::string value;
    readRegistryText(HKEY_CLASSES_ROOT, key, nullptr, value);
    return value;
}

std::string extensionOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
    return lowerAscii(path.substr(dot));
}

}  // namespace

bool iconComesFromFile(const std::string& extension) {
    // Types the shell draws from the file itself whatever the registry says.
    static const char* const kOwnIcons[] = {".exe", ".ico", ".cur", ".ani", ".lnk", ".url",
                                            ".pif", ".scr", ".cpl", ".msc"};
    for (const char* own : kOwnIcons)
        if (extension == own) return true;
    if (extension.empty()) return true;  // no type to go by
    const std::string programId = classesValue(extension);
    for (const std::string& key : {extension, programId}) {
        if (key.empty()) continue;
        if (classesValue(key + "\\DefaultIcon").find("%1") != std::string::npos) return true;
        if (registryKeyExists(HKEY_CLASSES_ROOT, key + "\\shellex\\IconHandler")) return true;
    }
    return false;
}

std::uintptr_t shellTypeIcon(const std::string& path, int& index) {
    SHFILEINFOW info = {};
    const std::uintptr_t list = SHGetFileInfoW(wideText("*" + extensionOf(path)).c_str(), FILE_ATTRIBUTE_NORMAL, &info,
                                               sizeof info,
                                               SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES);
    if (list) index = info.iIcon;
    return list;
}

std::uintptr_t TypeIcons::iconOfType(const std::string& path, int& index) {
    const std::string extension = extensionOf(path);
    auto known = byExtension_.find(extension);
    if (known == byExtension_.end()) {
        Answer answer;
        if (!iconComesFromFile(extension)) answer.list = shellTypeIcon(path, answer.index);
        known = byExtension_.emplace(extension, answer).first;
    }
    if (known->second.list) index = known->second.index;
    return known->second.list;
}

}  // namespace vost
