#include "platform/posix/windows_store.h"

#include <dirent.h>
#include <sys/stat.h>

#include <mutex>
#include <string_view>

#include "analysis/text.h"
#include "platform/posix/folder_cache.h"

namespace vost {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// Calls `take(name, isFolder)` for each entry of `folder` but "." and "..".
// The name is the listing's own (valid during the call): a store lists tens
// of thousands of entries, and a copy of each would cost as much as the
// listing.
template <typename Take>
void listFolder(const std::string& folder, Take take) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat info;
            isFolder = ::stat(joinPath(folder, std::string(name)).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        }
        take(name, isFolder);
    }
}

std::shared_ptr<const WindowsStore> indexStore(const std::string& windowsFolder) {
    auto store = std::make_shared<WindowsStore>();
    const std::string sxs = entryIgnoringCase(windowsFolder, "winsxs");
    if (sxs.empty()) return store;
    store->folder = joinPath(windowsFolder, sxs);
    listFolder(store->folder, [&](std::string_view name, bool isFolder) {
        if (!isFolder) return;
        if (name.size() == 9 && compareIgnoringCase(name.data(), "manifests") == 0)
            store->manifests = joinPath(store->folder, std::string(name));
        else
            store->assemblies.add(name);
    });
    return store;
}

}  // namespace

bool WindowsStore::manifestOf(const std::string& assemblyFolder, std::string& path) const {
    // Named as the folder is (the store writes both in lower case); a stat,
    // where a case-insensitive lookup would list every manifest of the store.
    if (manifests.empty()) return false;
    struct stat info;
    for (const std::string& name : {assemblyFolder, lowerAscii(assemblyFolder)}) {
        path = joinPath(manifests, name + ".manifest");
        if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return true;
    }
    return false;
}

std::shared_ptr<const WindowsStore> sharedWindowsStore(const std::string& windowsFolder) {
    static std::mutex mutex;
    static std::unordered_map<std::string, std::shared_ptr<const WindowsStore>> stores;
    std::lock_guard<std::mutex> lock(mutex);
    std::shared_ptr<const WindowsStore>& store = stores[windowsFolder];
    if (!store) store = indexStore(windowsFolder);
    return store;
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> files;
    listFolder(folder, [&](std::string_view name, bool isFolder) {
        if (!isFolder) files.emplace_back(name);
    });
    return files;
}

std::string entryIgnoringCase(const std::string& folder, const std::string& name) {
    std::string found;
    listFolder(folder, [&](std::string_view entry, bool) {
        if (compareIgnoringCase(entry.data(), name.c_str()) == 0 && (found.empty() || entry == name)) found = entry;
    });
    return found;
}

}  // namespace vost
