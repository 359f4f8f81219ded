// An in-memory AnalysisPlatform for tests: a set of files (path -> bytes), a
// module search over a list of folders, a version table, an icon table, and a
// record of every call the analysis made.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "analysis/api_set_schema.h"
#include "analysis/platform.h"
#include "tests/support/image_builder.h"

namespace vost::test {

std::string asciiLowerCopy(std::string text);

class FakePlatform : public AnalysisPlatform {
public:
    struct Message {
        WindowHandle owner;
        std::string text;
        std::string caption;
    };

    // Files are found by path, letter case ignored. A file with no bytes
    // exists (the search finds it) but cannot be mapped, as on Windows.
    void addFile(const std::string& path, Bytes bytes);
    void removeFile(const std::string& path);
    bool hasFile(const std::string& path) const;
    // A file that exists but cannot be opened (held open for writing elsewhere).
    void lockFile(const std::string& path) { locked_.insert(asciiLowerCopy(path)); }

    // Folders searched in order for a module name; "folder\name" is what a
    // hit returns, with the caller's spelling of the name.
    void addSearchFolder(const std::string& folder) { folders_.push_back(folder); }
    // Folders searched instead for modules referenced by 64-bit modules; the
    // 32-bit folders when none are given.
    void addSearchFolder64(const std::string& folder) { folders64_.push_back(folder); }
    // Makes the search for `name` (letter case ignored) return `result` and
    // write `path`, whatever the files say.
    void setSearchResult(const std::string& name, std::uint32_t result, const std::string& path = "");

    // Makes the schema section `section` the API set schema of family `bits`
    // (none until set, or when it does not parse).
    void setApiSetSchema(ModuleBits bits, Bytes section);

    void setVersion(const std::string& path, FixedFileVersion version);
    void setIcon(const std::string& path, int index) { icons_[asciiLowerCopy(path)] = index; }
    // The icon of every path without one of its own; none when unset.
    std::optional<int> defaultIcon;

    // Recorded calls, in order.
    std::vector<Message> messages;
    std::vector<std::string> searches;      // names asked for
    std::vector<ModuleBits> searchBits;     // the family each was asked for
    std::vector<std::string> versionReads;  // paths asked for
    std::vector<std::string> iconLookups;   // paths asked for
    std::vector<std::string> mapped;        // paths mapped successfully
    int openMappings = 0;                   // views alive now
    int maxOpenMappings = 0;                // most views alive at one time

    std::unique_ptr<MappedFile> mapFile(const char* path) override;
    std::string searchModule(const char* name, ModuleBits bits) override;
    const ApiSetSchema* apiSetSchema(ModuleBits bits) override;
    bool readFixedVersion(const char* path, FixedFileVersion& out) override;
    bool smallIconIndex(const char* path, int& index) override;
    void showError(WindowHandle owner, const char* text, const char* caption) override;

private:
    struct Schema {
        Bytes section;
        ApiSetSchema parsed;
        bool ok = false;
    };
    Schema schemas_[2];

    struct File {
        std::string path;
        Bytes bytes;
    };
    struct SearchResult {
        std::uint32_t result;
        std::string path;
    };
    std::map<std::string, File> files_;  // keyed by lower-cased path
    std::set<std::string> locked_;
    std::vector<std::string> folders_;
    std::vector<std::string> folders64_;
    std::map<std::string, SearchResult> searchResults_;
    std::map<std::string, FixedFileVersion> versions_;
    std::map<std::string, int> icons_;
};

}  // namespace vost::test
