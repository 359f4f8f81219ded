#include "platform/win32/module_search.h"

#include <windows.h>

#include <cstring>

#include "platform/win32/folder_listing.h"
#include "platform/win32/system_folders.h"

namespace vost {

namespace {

constexpr const char* kDefaultExtension = ".DLL";

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
    const DWORD needed = GetEnvironmentVariableA("PATH", nullptr, 0);
    if (needed == 0) return std::string();
    std::string value(needed, '\0');
    const DWORD length = GetEnvironmentVariableA("PATH", &value[0], needed);
    value.resize(length < needed ? length : 0);
    return value;
}

constexpr std::uint32_t kNotAnswered = 0xFFFFFFFFu;

// `found` into `out` as SearchPathA answers: its length when it fits, else
// the size needed.
std::uint32_t answer(const std::string& found, char* out, std::uint32_t capacity) {
    if (found.size() >= capacity) return std::uint32_t(found.size() + 1);
    std::memcpy(out, found.c_str(), found.size() + 1);
    return std::uint32_t(found.size());
}

// SearchPathA in the folder `folder` (a true path; empty for a name with its
// own location, itself a true path) through this process's names for them;
// the answer is a true path again.
std::uint32_t searchIn(const std::string& folder, const char* name, char* out, std::uint32_t capacity) {
    const SystemFolders& system = systemFolders();
    const std::string reached = pathForThisProcess(system, folder);
    const std::string reachedName = folder.empty() ? pathForThisProcess(system, name) : name;
    const char* within = folder.empty() ? nullptr : reached.c_str();
    if (reached == folder && reachedName == name)
        return SearchPathA(within, name, kDefaultExtension, capacity, out, nullptr);
    std::string found(std::size_t(capacity) + MAX_PATH, '\0');
    const DWORD result =
        SearchPathA(within, reachedName.c_str(), kDefaultExtension, DWORD(found.size()), &found[0], nullptr);
    if (result == 0 || result >= found.size()) return result;
    return answer(truePath(system, found.substr(0, result)), out, capacity);
}

// searchIn for `wanted` spelled as the folder's entry is, so that a file
// system that tells case apart finds it without reading the folder; the
// answer then spells the file name as `wanted` does, as a search for `wanted`
// itself would. kNotAnswered when the listing is not sure or the answer is
// not the expected one: the caller then searches as usual.
std::uint32_t searchSpelledAsOnDisk(FolderListings& listings, const std::string& folder,
                                    const std::string& wanted, char* out, std::uint32_t capacity) {
    const std::string* onDisk = listings.spelling(pathForThisProcess(systemFolders(), folder), wanted);
    if (!onDisk || onDisk->size() != wanted.size()) return kNotAnswered;  // a short name, say
    std::string found(std::size_t(capacity) + MAX_PATH, '\0');
    const std::uint32_t result = searchIn(folder, onDisk->c_str(), &found[0], std::uint32_t(found.size()));
    if (result == 0 || result >= found.size()) return kNotAnswered;
    found.resize(result);
    if (found.size() < wanted.size() || found.compare(found.size() - wanted.size(), wanted.size(), *onDisk) != 0)
        return kNotAnswered;
    found.replace(found.size() - wanted.size(), wanted.size(), wanted);
    return answer(found, out, capacity);
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

std::uint32_t searchModuleFrom(const std::string& scanFolder, const char* name, ModuleBits bits,
                               char* out, std::uint32_t capacity, FolderListings* listings) {
    const std::string text = name ? name : "";
    if (text.empty()) return 0;
    const SystemFolders& system = systemFolders();

    // A name with its own location is looked up there and nowhere else, as
    // the loader of a `bits` module would see that location.
    const bool dotted = text.rfind(".\\", 0) == 0 || text.rfind("./", 0) == 0 ||
                        text.rfind("..\\", 0) == 0 || text.rfind("../", 0) == 0;
    if (hasDrive(text) || isUnc(text) || dotted || isRootRelative(text)) {
        const std::string own = hasDrive(text) || isUnc(text) ? text : anchor(scanFolder, text);
        return searchIn(std::string(), folderSeenBy(system, bits, own).c_str(), out, capacity);
    }

    // One folder per call: a folder may itself contain ';', which a joined
    // search path could not express. The first folder that has the file
    // answers, as in a single search over the whole list.
    std::string wanted = text;  // the file name SearchPathA looks for
    if (text.find('.') == std::string::npos) wanted += kDefaultExtension;
    const bool plain = text.find_first_of("\\/") == std::string::npos;
    for (const std::string& folder : moduleSearchFolders(scanFolder, bits)) {
        if (folder.empty()) continue;
        if (listings && plain) {
            const std::string reached = pathForThisProcess(system, folder);
            if (listings->surelyAbsent(reached, wanted)) continue;
            const std::uint32_t result = searchSpelledAsOnDisk(*listings, folder, wanted, out, capacity);
            if (result != kNotAnswered) return result;
        }
        const std::uint32_t result = searchIn(folder, text.c_str(), out, capacity);
        if (result != 0) return result;
    }
    return 0;
}

}  // namespace vost
