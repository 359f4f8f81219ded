// Case-insensitive path resolution over cached directory listings.
//
// Module names and paths reach the POSIX layer lower-cased (as the analysis
// keeps them) or in whatever case an import table spells them, while the
// files on disk keep their own case. Each folder is listed once per cache and
// remembered as lower-cased name -> real name, so a closure of hundreds of
// modules reads each folder once. A file created after its folder was listed
// is not seen through the cache; the cache lives as long as one platform
// object, that is one scan.
#pragma once

#include <string>
#include <unordered_map>

namespace vost {

// What a folder listing says an entry is; `unknown` where the file system
// does not tell (then only a stat can).
enum class EntryKind { file, folder, unknown };

class FolderCache {
public:
    // The real on-disk path of `path` ('/'-separated, absolute or relative to
    // the process's directory), each component matched exactly or else with
    // ASCII case folded. When two entries of a folder differ only in case and
    // neither matches exactly, the smaller real name wins. False when a
    // component is missing.
    // `kind`, when given, gets what the last component is.
    bool resolve(const std::string& path, std::string& real, EntryKind* kind = nullptr);

    // The real name of `name` (one component) inside the folder `folder`
    // (a real path); false when the folder has no such entry.
    bool findEntry(const std::string& folder, const std::string& name, std::string& real,
                   EntryKind* kind = nullptr);

private:
    struct Listing {
        std::unordered_map<std::string, EntryKind> names;
        std::unordered_map<std::string, std::string> byLowerName;
    };
    const Listing& listing(const std::string& folder);

    std::unordered_map<std::string, Listing> listings_;
};

// `folder` and `name` joined by one '/'.
std::string joinPath(const std::string& folder, const std::string& name);

}  // namespace vost
