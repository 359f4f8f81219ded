// Folder listings kept for one platform object, so that file names can be
// spelled as they are on disk.
//
// The scan keeps module paths lower-cased and import tables spell names as
// they like. Windows does not care, but where the file system tells case
// apart (Wine on Linux) every name that does not match exactly makes the
// system read the whole folder to find it, once per open, per version query,
// per time and icon lookup: a scan of a folder of thousands of modules then
// takes time in proportion to the square of its size. Each folder is listed
// once here instead, and names are looked up in the listing.
//
// A listing is as fresh as its first use: a file created afterwards is not in
// it, and then the callers do what they would do without a listing.
#pragma once

#include <string>
#include <unordered_map>

namespace vost {

class FolderListings {
public:
    // The name of the entry of `folder` that `name` (one path component)
    // stands for: exactly, else with ASCII letter case folded (also through
    // the entry's short name). Null when the folder could not be listed or
    // the answer is not sure (two entries differ only in case).
    const std::string* spelling(const std::string& folder, const std::string& name);

    // True when `folder` was listed and has no entry that `name` could stand
    // for under any spelling. Only names of plain characters are judged; for
    // any other name (wildcards, trailing dots or blanks, which the system
    // strips) the answer is false.
    bool surelyAbsent(const std::string& folder, const std::string& name);

    // `path` with its last component spelled as on disk when that is known,
    // else `path` unchanged.
    std::string onDiskPath(const std::string& path);

private:
    struct Listing {
        bool listed = false;
        std::unordered_map<std::string, std::string> exact;       // name -> name
        std::unordered_map<std::string, std::string> folded;      // lower-cased -> name, "" when ambiguous
    };
    Listing& listing(const std::string& folder);

    std::unordered_map<std::string, Listing> listings_;  // by folder as given
};

}  // namespace vost
