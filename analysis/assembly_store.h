// The side-by-side store of a Windows folder, as the names of its assembly
// folders tell it: `<arch>_<name>_<token>_<version>_<lang>_<hash>`, lower
// case, a long name shortened to its start and end around "..". The store is
// indexed once from those names; an assembly a manifest asks for is matched
// against them the way the loader picks one: the same architecture, name,
// public key token and language, and the highest build.revision at or above
// the one asked for within the asked major.minor.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analysis/activation_context.h"
#include "analysis/text.h"

namespace vost {

// A four-part version a.b.c.d (parts missing at the end count as 0).
struct AssemblyVersion {
    std::uint16_t part[4] = {0, 0, 0, 0};
    bool operator<(const AssemblyVersion& other) const;
    bool operator==(const AssemblyVersion& other) const;
    std::string text() const;
};

// False for anything but one to four dot-separated decimal parts of 0-65535.
bool parseAssemblyVersion(const std::string& text, AssemblyVersion& version);

// One assembly folder of the store, from its name.
struct StoreAssembly {
    std::string folder;    // the folder's name as listed
    std::string arch;      // lower case, as every part below
    std::string name;      // may hold ".." where the store shortened it
    std::string token;
    AssemblyVersion version;
    std::string language;  // "none" for a neutral assembly
};

// False for a name that is no assembly folder's (too few parts, no version).
bool parseStoreFolder(const std::string& folder, StoreAssembly& out);

// Whether the store's name (possibly shortened around "..") stands for the
// full lower-case name `name`.
bool storeNameMatches(const std::string& stored, const std::string& name);

// The store architecture an assembly is asked for in: `requested` as
// written, "*" or empty meaning the importer's (x86 for 32-bit modules,
// amd64 for 64-bit ones). Lower case.
std::string storeArchitecture(const std::string& requested, bool importer64);

// The store language an assembly is asked for in: "none" for no language,
// "neutral" or "*"; else the language, lower case.
std::string storeLanguage(const std::string& requested);

// The store's folders, indexed by architecture and public key token (never
// shortened); a folder's name is parsed whole only when a lookup meets it, so
// that indexing a store of tens of thousands of folders costs little more
// than listing it.
class AssemblyStore {
public:
    void add(std::string_view folder);
    std::size_t size() const { return starts_.size(); }

    // The assembly the loader takes for `name` (lower case), `token`, `arch`
    // and `language` (as storeArchitecture and storeLanguage give them) at
    // `version`: the highest build.revision at or above the asked one with
    // the same major.minor. False when the store has none.
    bool select(const std::string& arch, const std::string& name, const std::string& token,
              const std::string& language, const AssemblyVersion& version, StoreAssembly& found) const;

    // Every assembly with this architecture and token whose stored name
    // stands for `name`, any version and language.
    std::vector<StoreAssembly> candidates(const std::string& arch, const std::string& name,
                                          const std::string& token) const;

private:
    std::string_view folder(std::uint32_t index) const;

    // Every folder's name, one after the other, and where each starts: one
    // allocation now and then rather than one per folder.
    std::string names_;
    std::vector<std::size_t> starts_;
    // "arch_token" (lower case) -> indexes into starts_.
    std::unordered_map<std::string, std::vector<std::uint32_t>> byPublisher_;
    std::string key_;  // reused while indexing
};

}  // namespace vost
