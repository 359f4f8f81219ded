#include "platform/win32/module_search.h"

#include <windows.h>

#include <cstring>

#include "platform/win32/folder_listing.h"
#include "platform/win32/system_folders.h"
#include "platform/win32/wide_text.h"

namespace vost {

namespace {

constexpr const wchar_t* kDefaultExtension = L".DLL";

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool hasDrive(const std::string& path) {
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

bool isUnc(const std::string& path) {
    return path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]);
}

bool isRootRelative(const std::string& path) {
    return !path.empty() && isSeparator(path[0]) && !isUnc(path);
}

// The path of `relative` (no drive, no UNC start) as seen from `folder`.
std::string anchor(const std::string& folder, const std::string& relative) {
    if (isRootRelative(relative)) return hasDrive(folder) ? folder.substr(0, 2) + relative : relative;
    if (relative.empty()) return folder;
    std::string joined = folder;
    if (!joined.empty() && !isSeparator(joined.back())) joined += '\\';
    return joined + relative;
}

std::string environmentPath() {
    const DWORD needed = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (needed == 0) return std::string();
    std::wstring value(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"PATH", &value[0], needed);
    value.resize(length < needed ? length : 0);
    // An entry that is no valid UTF-16 names no folder we could search.
    return utf8Text(value);
}

// SearchPathW of `name` within `within` (null: the system's own order), the
// answer in a buffer grown to what it needs; empty when nothing was found
// or a text is no valid UTF-8 or UTF-16.
std::string searchPath(const std::string* within, const std::string& name) {
    std::wstring folder, file;
    if ((within && !toWide(*within, folder)) || !toWide(name, file)) return std::string();
    std::wstring found(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD result = SearchPathW(within ? folder.c_str() : nullptr, file.c_str(), kDefaultExtension,
                                         DWORD(found.size()), &found[0], nullptr);
        if (result == 0) return std::string();
        if (result < found.size()) {
            found.resize(result);
            std::string text;
            return toUtf8(found, text) ? text : std::string();
        }
        found.assign(std::size_t(result) + 1, L'\0');
    }
    return std::string();
}

// SearchPathW in the folder `folder` (a true path; empty for a name with its
// own location, itself a true path) through this process's names for them;
// the answer is a true path again.
std::string searchIn(const std::string& folder, const std::string& name) {
    const SystemFolders& system = systemFolders();
    const std::string reached = pathForThisProcess(system, folder);
    const std::string reachedName = folder.empty() ? pathForThisProcess(system, name) : name;
    const std::string found = searchPath(folder.empty() ? nullptr : &reached, reachedName);
    if (found.empty() || (reached == folder && reachedName == name)) return found;
    return truePath(system, found);
}

// searchIn for `wanted` spelled as the folder's entry is, so that a file
// system that tells case apart finds it without reading the folder; the
// answer then spells the file name as `wanted` does, as a search for `wanted`
// itself would. False when the listing is not sure or the answer is not the
// expected one: the caller then searches as usual.
bool searchSpelledAsOnDisk(FolderListings& listings, const std::string& folder, const std::string& wanted,
                           std::string& out) {
    const std::string* onDisk = listings.spelling(pathForThisProcess(systemFolders(), folder), wanted);
    if (!onDisk || onDisk->size() != wanted.size()) return false;  // a short name, say
    std::string found = searchIn(folder, *onDisk);
    if (found.size() < wanted.size() || found.compare(found.size() - wanted.size(), wanted.size(), *onDisk) != 0)
        return false;
    found.replace(found.size() - wanted.size(), wanted.size(), wanted);
    out = std::move(found);
    return true;
}
}  // namespace

std::vector<std::string> moduleSearchFolders(const std::string& scanFolder, ModuleBits bits) {
    const SystemFolders& system = systemFolders();
    // The scanned program's folder stands first, where its loader looks
    // first. The folder of the program that shows the scan has no place
    // here: no loader of the scanned program would ever look in it.
    std::vector<std::string> folders;
    folders.push_back(scanFolder);
    folders.push_back(systemFolderOf(system, bits));
    folders.push_back(system.windows + "\\system");
    folders.push_back(system.windows);

    // PATH entries are searched as written; a relative or empty entry is
    // relative to the current directory, which here is the scan's folder.
    const std::string path = environmentPath();
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(';', start);
        if (end == std::string::npos) end = path.size();
        if (end == path.size() && start == end) break;  // nothing after a final ';'
        const std::string entry = path.substr(start, end - start);
        folders.push_back(hasDrive(entry) || isUnc(entry) ? entry : anchor(scanFolder, entry));
        start = end + 1;
    }
    // As the loader of a `bits` module sees them: for a 32-bit one on 64-bit
    // Windows, System32 anywhere in the list is SysWOW64.
    for (std::string& folder : folders) folder = folderSeenBy(system, bits, folder);
    return folders;
}

std::string searchModuleFrom(const std::string& scanFolder, const char* name, ModuleBits bits,
                             FolderListings* listings) {
    const std::string text = name ? name : "";
    if (text.empty()) return std::string();
    const SystemFolders& system = systemFolders();

    // A name with its own location is looked up there and nowhere else, as
    // the loader of a `bits` module would see that location.
    const bool dotted = text.rfind(".\\", 0) == 0 || text.rfind("./", 0) == 0 ||
                        text.rfind("..\\", 0) == 0 || text.rfind("../", 0) == 0;
    if (hasDrive(text) || isUnc(text) || dotted || isRootRelative(text)) {
        const std::string own = hasDrive(text) || isUnc(text) ? text : anchor(scanFolder, text);
        return searchIn(std::string(), folderSeenBy(system, bits, own));
    }

    // One folder per call: a folder may itself contain ';', which a joined
    // search path could not express. The first folder that has the file
    // answers, as in a single search over the whole list.
    std::string wanted = text;  // the file name SearchPathW looks for
    if (text.find('.') == std::string::npos) wanted += ".DLL";
    const bool plain = text.find_first_of("\\/") == std::string::npos;
    for (const std::string& folder : moduleSearchFolders(scanFolder, bits)) {
        if (folder.empty()) continue;
        if (listings && plain) {
            const std::string reached = pathForThisProcess(system, folder);
            if (listings->surelyAbsent(reached, wanted)) continue;
            std::string found;
            if (searchSpelledAsOnDisk(*listings, folder, wanted, found)) return found;
        }
        std::string found = searchIn(folder, text);
        if (!found.empty()) return found;
    }
    return std::string();
}

}  // namespace vost
