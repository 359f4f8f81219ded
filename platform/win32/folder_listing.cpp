#include "platform/win32/folder_listing.h"

#include <windows.h>

#include <cstring>

#include "analysis/text.h"
#include "platform/win32/wide_text.h"

namespace vost {

namespace {
// Names whose lookup the system does not rewrite: no wildcard, no stream or
// device syntax, no trailing dot or blank, no folder part.
bool isPlainName(const std::string& name) {
    if (name.empty() || name.back() == '.' || name.back() == ' ') return false;
    for (unsigned char c : name)
        if (c < 0x20 || c >= 0x80 || std::strchr("\\/:*?\"<>|", c)) return false;
    return true;
}

void addName(std::unordered_map<std::string, std::string>& byFolded, const std::string& key,
             const std::string& name) {
    auto [slot, inserted] = byFolded.emplace(key, name);
    if (!inserted && slot->second != name) slot->second.clear();  // two entries: not sure
}
}  // namespace

FolderListings::Listing& FolderListings::listing(const std::string& folder) {
    auto found = listings_.find(folder);
    if (found != listings_.end()) return found->second;
    Listing& entry = listings_[folder];
    if (folder.empty()) return entry;
    std::string pattern = folder;
    if (pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW(systemPath(pattern).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return entry;  // remembered as not listed
    do {
        // A name that is no valid UTF-16 is left out: nothing can ask for it.
        std::string name;
        if (!toUtf8(data.cFileName, name) || name == "." || name == "..") continue;
        entry.exact.emplace(name, name);
        addName(entry.folded, lowerAscii(name), name);
        if (data.cAlternateFileName[0]) addName(entry.folded, lowerAscii(utf8Text(data.cAlternateFileName)), name);
    } while (FindNextFileW(search, &data));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    if (complete) entry.listed = true;
    else entry = Listing();
    return entry;
}

const std::string* FolderListings::spelling(const std::string& folder, const std::string& name) {
    Listing& entries = listing(folder);
    if (!entries.listed || !isPlainName(name)) return nullptr;
    const auto exact = entries.exact.find(name);
    if (exact != entries.exact.end()) return &exact->second;
    const auto match = entries.folded.find(lowerAscii(name));
    if (match == entries.folded.end() || match->second.empty()) return nullptr;
    return &match->second;
}

bool FolderListings::surelyAbsent(const std::string& folder, const std::string& name) {
    Listing& entries = listing(folder);
    return entries.listed && isPlainName(name) && !entries.exact.count(name) &&
           !entries.folded.count(lowerAscii(name));
}

std::string FolderListings::onDiskPath(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos || cut == 0) return path;
    const std::string* name = spelling(path.substr(0, cut), path.substr(cut + 1));
    return name ? path.substr(0, cut + 1) + *name : path;
}

}  // namespace vost
