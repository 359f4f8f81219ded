// Writes version-6 API set schemas for tests, and small PE files that carry
// one in an ".apiset" section. The records are laid out as the real schema
// does (header, entries, values, strings, hash table sorted by hash); each
// test damages what it needs through the offsets returned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"

namespace vost::test {

struct ApiSetValueSpec {
    std::string importer;  // empty for the default value
    std::string host;      // empty: the contract is not hosted for this importer
};

struct ApiSetEntrySpec {
    std::string name;  // stored without ".dll"
    std::vector<ApiSetValueSpec> values;
};

struct ApiSetSchemaLayout {
    std::vector<ApiSetEntrySpec> entries;  // in table order
    std::uint32_t hashFactor = 31;
    std::size_t hashTableGap = 0;  // zero bytes between the strings and the hash table
    bool hashTableFirst = false;   // the hash table right after the header, before the entries
};

struct ApiSetSchemaImage {
    Bytes bytes;
    std::uint32_t entryOffset = 0;
    std::uint32_t hashOffset = 0;
    std::vector<std::uint32_t> valueOffsets;  // each entry's first value record

    std::uint32_t entry(std::size_t i) const { return entryOffset + std::uint32_t(24 * i); }
    std::uint32_t hashRecord(std::size_t i) const { return hashOffset + std::uint32_t(8 * i); }
    std::uint32_t value(std::size_t entryIndex, std::size_t i) const {
        return valueOffsets.at(entryIndex) + std::uint32_t(20 * i);
    }
};

// The hash of a name's part before its last hyphen, lower-cased.
std::uint32_t apiSetHash(const std::string& name, std::uint32_t factor);

ApiSetSchemaImage buildApiSetSchema(const ApiSetSchemaLayout& layout);

struct ApiSetPe {
    Bytes bytes;
    std::uint32_t sectionHeader = 0;  // file offset of the .apiset section header
    std::uint32_t sectionOffset = 0;  // file offset of the schema
};

// A DLL of two sections, ".text" and ".apiset" holding `schema`, with a PE32
// or PE32+ optional header.
ApiSetPe buildApiSetPe(const Bytes& schema, bool pe32plus);

}  // namespace vost::test
