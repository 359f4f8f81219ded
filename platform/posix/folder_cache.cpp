#include "platform/posix/folder_cache.h"

#include <dirent.h>

#include <memory>

#include "analysis/text.h"

namespace vost {

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

const FolderCache::Listing& FolderCache::listing(const std::string& folder) {
    auto found = listings_.find(folder);
    if (found != listings_.end()) return found->second;
    Listing& entry = listings_[folder];
    struct DirCloser {
        void operator()(DIR* dir) const { closedir(dir); }
    };
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir) return entry;  // not a folder, or unreadable: remembered as empty
    while (const dirent* item = readdir(dir.get())) {
        const std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        const EntryKind kind = item->d_type == DT_DIR   ? EntryKind::folder
                               : item->d_type == DT_REG ? EntryKind::file
                                                        : EntryKind::unknown;  // links, or not told
        entry.names.emplace(name, kind);
        auto [slot, inserted] = entry.byLowerName.emplace(lowerAscii(name), name);
        if (!inserted && name < slot->second) slot->second = name;
    }
    return entry;
}

bool FolderCache::findEntry(const std::string& folder, const std::string& name, std::string& real,
                            EntryKind* kind) {
    const Listing& entries = listing(folder);
    auto exact = entries.names.find(name);
    if (exact == entries.names.end()) {
        auto found = entries.byLowerName.find(lowerAscii(name));
        if (found == entries.byLowerName.end()) return false;
        exact = entries.names.find(found->second);
    }
    real = exact->first;
    if (kind) *kind = exact->second;
    return true;
}

bool FolderCache::resolve(const std::string& path, std::string& real, EntryKind* kind) {
    if (kind) *kind = EntryKind::folder;
    std::string current = (!path.empty() && path[0] == '/') ? "/" : "";
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == ".") continue;
        std::string name = component;
        if (component == "..") {
            if (kind) *kind = EntryKind::folder;
        } else if (!findEntry(current, component, name, kind)) {
            return false;
        }
        current = joinPath(current, name);
    }
    if (current.empty()) current = ".";
    real = current;
    return true;
}

}  // namespace vost
