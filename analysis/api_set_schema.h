// The API set schema: how a module name that begins with "api-" or "ext-" (a
// contract, not a file) maps to the module that hosts it, as the loader does.
//
// The schema is the ".apiset" section of apisetschema.dll. Every offset in it
// is relative to the start of the section, and all of them, with every count
// and length, come from the file: each entry, name and value is checked with
// the bounded reader when it is read. Nothing is copied out of the section;
// a lookup reads the few records it needs and allocates nothing.
//
// Layout of version 6 (Windows 10 and later), all fields 32-bit little-endian:
//   header (28 bytes): Version, Size, Flags, Count, EntryOffset, HashOffset,
//                      HashFactor
//   entry  (24 bytes, Count of them at EntryOffset): Flags, NameOffset,
//                      NameLength, HashedLength, ValueOffset, ValueCount
//   hash   (8 bytes, Count of them at HashOffset, sorted by Hash): Hash, Index
//   value  (20 bytes, ValueCount of them at the entry's ValueOffset): Flags,
//                      NameOffset, NameLength, ValueOffset, ValueLength
// Names and hosts are UTF-16LE without terminator; lengths are in bytes. An
// entry's HashedLength covers its name up to its last hyphen. Value 0 is the
// default host; values 1 and on name an importing module that gets its own
// host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "analysis/byte_view.h"
#include "analysis/platform.h"

namespace vost {

constexpr std::uint32_t kApiSetSchemaVersion6 = 6;

// The parsed header and the section it came from. A default-constructed
// schema holds no contract: every contract name resolves to absent.
struct ApiSetSchema {
    ByteView section;  // every offset below is relative to its start
    std::uint32_t version = 0;
    std::uint32_t flags = 0;
    std::uint32_t count = 0;
    std::uint32_t entryOffset = 0;
    std::uint32_t hashOffset = 0;
    std::uint32_t hashFactor = 0;
};

// The raw bytes of the first section named ".apiset" of a PE file (PE32 or
// PE32+): PointerToRawData, min(VirtualSize, SizeOfRawData) bytes. False when
// the file is no PE file, has no such section, or the section is empty or
// runs past the end of the file.
bool findApiSetSection(const ByteView& dllImage, ByteView& section);

// Reads the header of a version-6 schema. False for any other version, a
// section too short for the header, or entry or hash tables of Count records
// that do not lie wholly inside the section; `out` is then left empty.
bool parseApiSetSchema(const ByteView& section, ApiSetSchema& out);

// True when the name begins with "api-" or "ext-", case ignored.
bool isApiSetName(const char* name);

enum class ApiSetResult {
    notAContract,  // an ordinary module name: search for the file
    hosted,        // `host` holds the host module's name
    notHosted,     // a contract of the schema without a host for this
                   // importer (empty, or its values unreadable): the load fails
    absent,        // named like a contract, but the schema has no such entry
                   // (or its tables cannot be read): the loader searches the
                   // name as a file, as for any other module
};

// Resolves a contract name (with or without ".dll") imported by the module
// whose file name is `importerFileName` (may be null or empty: the default
// host then). On `hosted`, `host` holds the host's name (ASCII, at most
// capacity - 1 characters); otherwise it is left empty. A host that does not
// fit, is not ASCII, or is 260 characters or more counts as notHosted.
ApiSetResult resolveApiSet(const ApiSetSchema& schema, const char* name, const char* importerFileName,
                           char* host, std::size_t capacity);

// A schema read from a file, and the file it is read from, kept open for the
// schema's reads.
struct LoadedApiSetSchema {
    std::unique_ptr<MappedFile> file;
    ApiSetSchema schema;
};

// The schema of the ".apiset" section of the file at `path`, mapped through
// `platform`. False, with `out` empty, when the file cannot be mapped, has no
// such section or holds no schema this reader knows.
bool loadApiSetSchema(AnalysisPlatform& platform, const char* path, LoadedApiSetSchema& out);

// The schema of each family for one platform object, each looked for once.
class ApiSetSchemaCache {
public:
    // The schema of `bits`; at the first call for `bits`, `locate(path)`
    // names the file in a std::string (false: there is none) and it is
    // loaded then.
    template <typename Locate>
    const ApiSetSchema* get(AnalysisPlatform& platform, ModuleBits bits, Locate&& locate) {
        Slot& slot = slots_[bits == ModuleBits::bits64 ? 1 : 0];
        if (!slot.tried) {
            slot.tried = true;
            std::string path;
            slot.ok = locate(path) && loadApiSetSchema(platform, path.c_str(), slot.loaded);
        }
        return slot.ok ? &slot.loaded.schema : nullptr;
    }

private:
    struct Slot {
        bool tried = false;
        bool ok = false;
        LoadedApiSetSchema loaded;
    };
    Slot slots_[2];
};

// Longest contract name the enumeration hands out, terminator included.
constexpr std::size_t kApiSetNameCapacity = kPathCapacity;

// The full name of the schema's entry `index` (in table order, below count),
// as stored (without ".dll"). False, leaving `out` empty, when the name lies
// outside the section, has an odd length, is not ASCII or does not fit.
bool apiSetContractName(const ApiSetSchema& schema, std::uint32_t index, char* out, std::size_t capacity);

// Calls visit(const char* name) for every readable contract name, in table
// order. Bounded by the count, which parsing checked against the section size.
template <typename Visit>
void forEachApiSetContract(const ApiSetSchema& schema, Visit&& visit) {
    char name[kApiSetNameCapacity];
    for (std::uint32_t i = 0; i < schema.count; ++i)
        if (apiSetContractName(schema, i, name, sizeof name)) visit(static_cast<const char*>(name));
}

}  // namespace vost
