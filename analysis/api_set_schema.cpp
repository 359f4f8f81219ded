// The API set schema reader and the loader's lookup over it (version 6).
#include "analysis/api_set_schema.h"

#include <cstring>

#include "analysis/pe_headers.h"
#include "analysis/text.h"

namespace vost {

namespace {
// PE headers, from the "PE\0\0" signature.
constexpr std::uint64_t kLfanewField = 0x3C;
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint64_t kNumberOfSections = 6;
constexpr std::uint64_t kSizeOfOptionalHeader = 20;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr char kSectionName[8] = {'.', 'a', 'p', 'i', 's', 'e', 't', '\0'};

// Schema records.
constexpr std::uint64_t kHeaderSize = 28;
constexpr std::uint64_t kEntrySize = 24;
constexpr std::uint64_t kHashEntrySize = 8;
constexpr std::uint64_t kValueSize = 20;

// Entry fields.
constexpr std::uint64_t kEntryNameOffset = 4;
constexpr std::uint64_t kEntryNameLength = 8;
constexpr std::uint64_t kEntryHashedLength = 12;
constexpr std::uint64_t kEntryValueOffset = 16;
constexpr std::uint64_t kEntryValueCount = 20;
// Value fields.
constexpr std::uint64_t kValueNameOffset = 4;
constexpr std::uint64_t kValueNameLength = 8;
constexpr std::uint64_t kValueValueOffset = 12;
constexpr std::uint64_t kValueValueLength = 16;

// Names handled here are module names: shorter than a path.
constexpr std::size_t kMaxNameChars = kPathCapacity - 1;

// Reads `byteLength` bytes of UTF-16LE at `offset` into `out` as ASCII with a
// terminator. False when the range leaves the section, the length is odd, a
// code unit is zero or above 0x7F, or the text does not fit `capacity` (nor
// kMaxNameChars): such a text never equals an ASCII module name.
bool readAsciiName(const ByteView& section, std::uint64_t offset, std::uint64_t byteLength, char* out,
                   std::size_t capacity) {
    if (capacity > 0) out[0] = '\0';
    if (byteLength % 2 != 0) return false;
    const std::uint64_t chars = byteLength / 2;
    if (chars > kMaxNameChars || chars >= capacity) return false;
    std::uint8_t units[2 * kMaxNameChars];
    if (!section.readBytes(offset, byteLength, units)) return false;
    for (std::uint64_t i = 0; i < chars; ++i) {
        const unsigned unit = units[2 * i] | (unsigned(units[2 * i + 1]) << 8);
        if (unit == 0 || unit > 0x7F) {
            out[0] = '\0';
            return false;
        }
        out[i] = char(unit);
    }
    out[chars] = '\0';
    return true;
}

// Case-insensitive equality of two ASCII texts of `length` characters.
bool equalIgnoringCase(const char* a, const char* b, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

// Length of a text of at most kMaxNameChars characters; false when longer.
bool boundedLength(const char* text, std::size_t& length) {
    const void* end = std::memchr(text, 0, kMaxNameChars + 1);
    if (!end) return false;
    length = static_cast<std::size_t>(static_cast<const char*>(end) - text);
    return true;
}

// floor(log2(count)) + 1: the most steps a binary search over count records
// takes.
unsigned searchSteps(std::uint32_t count) {
    unsigned steps = 0;
    for (; count != 0; count >>= 1) ++steps;
    return steps;
}

// The entry whose hashed part is the first `hashedLength` characters of
// `name`: the hash table's binary search, then the check of the found entry's
// name, as the loader does. A hash hit whose entry is another contract (a
// collision, or a table that lies) ends the search: the loader does not probe
// further either.
bool findEntry(const ApiSetSchema& schema, const char* name, std::size_t hashedLength,
               std::uint64_t& entry) {
    std::uint32_t hash = 0;
    for (std::size_t i = 0; i < hashedLength; ++i)
        hash = hash * schema.hashFactor + static_cast<unsigned char>(asciiLower(name[i]));

    // Inclusive bounds and the midpoint rounded down, as the loader's search:
    // where two records share a hash, the same one is met first.
    std::int64_t low = 0, high = std::int64_t(schema.count) - 1;
    const unsigned maxSteps = searchSteps(schema.count);
    for (unsigned step = 0; low <= high && step < maxSteps; ++step) {
        const std::int64_t middle = (low + high) / 2;
        const std::uint64_t at = std::uint64_t(schema.hashOffset) + kHashEntrySize * std::uint64_t(middle);
        std::uint32_t entryHash = 0, index = 0;
        if (!schema.section.readU32(at, entryHash) || !schema.section.readU32(at + 4, index)) return false;
        if (entryHash < hash) {
            low = middle + 1;
        } else if (entryHash > hash) {
            high = middle - 1;
        } else {
            if (index >= schema.count) return false;
            entry = std::uint64_t(schema.entryOffset) + kEntrySize * index;
            std::uint32_t nameOffset = 0, entryHashedLength = 0;
            if (!schema.section.readU32(entry + kEntryNameOffset, nameOffset) ||
                !schema.section.readU32(entry + kEntryHashedLength, entryHashedLength) ||
                entryHashedLength != 2 * std::uint64_t(hashedLength))
                return false;
            char stored[kPathCapacity];
            return readAsciiName(schema.section, nameOffset, entryHashedLength, stored, sizeof stored) &&
                   equalIgnoringCase(stored, name, hashedLength);
        }
    }
    return false;
}

// The value record the loader picks for an importer: among values 1 and on,
// the one whose name equals the importer's file name (case ignored); else
// value 0, the default. False when the entry has no value, its values do not
// lie inside the section, or a name that may be the importer's does not.
bool chooseValue(const ApiSetSchema& schema, std::uint64_t entry, const char* importer,
                 std::uint64_t& value) {
    std::uint32_t valueOffset = 0, valueCount = 0;
    if (!schema.section.readU32(entry + kEntryValueOffset, valueOffset) ||
        !schema.section.readU32(entry + kEntryValueCount, valueCount) || valueCount == 0 ||
        !schema.section.contains(valueOffset, kValueSize * valueCount))
        return false;
    value = valueOffset;

    std::size_t importerLength = 0;
    if (!importer || !boundedLength(importer, importerLength) || importerLength == 0) return true;
    // The loop is bounded by the count, whose records were checked to lie in
    // the section.
    for (std::uint32_t i = 1; i < valueCount; ++i) {
        const std::uint64_t candidate = std::uint64_t(valueOffset) + kValueSize * i;
        std::uint32_t nameOffset = 0, nameLength = 0;
        if (!schema.section.readU32(candidate + kValueNameOffset, nameOffset) ||
            !schema.section.readU32(candidate + kValueNameLength, nameLength) ||
            nameLength != 2 * std::uint64_t(importerLength))
            continue;
        // A name of the importer's length that lies outside the section might
        // have matched: neither this host nor the default can be told.
        if (!schema.section.contains(nameOffset, nameLength)) return false;
        char stored[kPathCapacity];
        if (readAsciiName(schema.section, nameOffset, nameLength, stored, sizeof stored) &&
            equalIgnoringCase(stored, importer, importerLength)) {
            value = candidate;
            break;
        }
    }
    return true;
}

// The file name part of a path (the importer may be given with its folder).
const char* fileNamePart(const char* path) {
    const char* name = path;
    for (const char* c = path; *c; ++c)
        if (*c == '\\' || *c == '/') name = c + 1;
    return name;
}
}  // namespace

bool findApiSetSection(const ByteView& image, ByteView& section) {
    section = ByteView();
    std::uint8_t mz[2] = {};
    std::uint32_t newHeader = 0, signature = 0;
    if (!image.readBytes(0, 2, mz) || mz[0] != 'M' || mz[1] != 'Z' ||
        !image.readU32(kLfanewField, newHeader) || !image.readU32(newHeader, signature) ||
        signature != kPeSignature)
        return false;
    std::uint16_t count = 0, optionalSize = 0;
    if (!image.readU16(newHeader + kNumberOfSections, count) ||
        !image.readU16(newHeader + kSizeOfOptionalHeader, optionalSize))
        return false;
    // The table follows the optional header of either layout; its size says
    // where, whatever the magic.
    const std::uint64_t first = std::uint64_t(newHeader) + kOptionalHeaderStart + optionalSize;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t header = first + i * kSectionHeaderSize;
        char name[8];
        // A header that leaves the file ends the table.
        if (!image.readBytes(header, sizeof name, name)) return false;
        if (std::memcmp(name, kSectionName, sizeof name) != 0) continue;
        std::uint32_t virtualSize = 0, rawSize = 0, rawPointer = 0;
        if (!image.readU32(header + 8, virtualSize) || !image.readU32(header + 16, rawSize) ||
            !image.readU32(header + 20, rawPointer))
            return false;
        const std::uint32_t size = virtualSize < rawSize ? virtualSize : rawSize;
        if (size == 0 || !image.contains(rawPointer, size)) return false;
        section = image.slice(rawPointer, size);
        return true;
    }
    return false;
}

bool parseApiSetSchema(const ByteView& section, ApiSetSchema& out) {
    out = ApiSetSchema();
    ApiSetSchema schema;
    // The header's Size (at 4) is not needed: the section bounds every read.
    if (!section.contains(0, kHeaderSize) || !section.readU32(0, schema.version) ||
        schema.version != kApiSetSchemaVersion6 || !section.readU32(8, schema.flags) || !section.readU32(12, schema.count) ||
        !section.readU32(16, schema.entryOffset) || !section.readU32(20, schema.hashOffset) ||
        !section.readU32(24, schema.hashFactor))
        return false;
    // Both tables of Count records must lie wholly inside the section: every
    // later read of a record is then in range, and Count is bounded by the
    // section's size, which bounds every loop over the entries. (64-bit sums
    // of 32-bit values cannot wrap.)
    if (!section.contains(schema.entryOffset, kEntrySize * schema.count) ||
        !section.contains(schema.hashOffset, kHashEntrySize * schema.count))
        return false;
    schema.section = section;
    out = schema;
    return true;
}

bool isApiSetName(const char* name) {
    if (!name) return false;
    // Compared one character at a time, so a shorter name stops at its end.
    const char* prefixes[] = {"api-", "ext-"};
    for (const char* prefix : prefixes) {
        std::size_t i = 0;
        while (i < 4 && name[i] != '\0' && asciiLower(name[i]) == prefix[i]) ++i;
        if (i == 4) return true;
    }
    return false;
}

ApiSetResult resolveApiSet(const ApiSetSchema& schema, const char* name, const char* importerFileName,
                           char* host, std::size_t capacity) {
    if (capacity > 0) host[0] = '\0';
    if (!isApiSetName(name)) return ApiSetResult::notAContract;

    // A name that cannot match an entry (too long, without a hyphen after
    // the prefix, not ASCII) is one the schema does not have.
    std::size_t length = 0;
    if (!boundedLength(name, length)) return ApiSetResult::absent;
    // ".dll" holds no hyphen, so dropping it only makes explicit that the
    // version digits before it are what the last hyphen leaves out.
    if (length >= 4 && equalIgnoringCase(name + length - 4, ".dll", 4)) length -= 4;
    std::size_t hashedLength = length;
    while (hashedLength > 0 && name[hashedLength - 1] != '-') --hashedLength;
    if (hashedLength == 0) return ApiSetResult::absent;  // cannot happen after the prefix
    --hashedLength;  // the hyphen itself is not hashed
    // Only ASCII is compared: a name with any other byte matches no entry.
    for (std::size_t i = 0; i < hashedLength; ++i)
        if (static_cast<unsigned char>(name[i]) > 0x7F) return ApiSetResult::absent;

    std::uint64_t entry = 0, value = 0;
    if (!findEntry(schema, name, hashedLength, entry)) return ApiSetResult::absent;
    if (!chooseValue(schema, entry, importerFileName ? fileNamePart(importerFileName) : nullptr, value))
        return ApiSetResult::notHosted;

    // An empty host (no offset or no length) means the contract is not
    // implemented: the loader fails the load.
    std::uint32_t hostOffset = 0, hostLength = 0;
    if (!schema.section.readU32(value + kValueValueOffset, hostOffset) ||
        !schema.section.readU32(value + kValueValueLength, hostLength) || hostOffset == 0 ||
        hostLength == 0)
        return ApiSetResult::notHosted;
    if (!readAsciiName(schema.section, hostOffset, hostLength, host, capacity))
        return ApiSetResult::notHosted;
    return ApiSetResult::hosted;
}

bool loadApiSetSchema(AnalysisPlatform& platform, const char* path, LoadedApiSetSchema& out) {
    out = LoadedApiSetSchema();
    std::unique_ptr<MappedFile> file = platform.mapFile(path);
    if (!file) return false;
    ByteView section;
    ApiSetSchema schema;
    if (!findApiSetSection(file->bytes(), section) || !parseApiSetSchema(section, schema)) return false;
    out.file = std::move(file);
    out.schema = schema;
    return true;
}

bool apiSetContractName(const ApiSetSchema& schema, std::uint32_t index, char* out, std::size_t capacity) {
    if (capacity > 0) out[0] = '\0';
    if (index >= schema.count) return false;
    const std::uint64_t entry = std::uint64_t(schema.entryOffset) + kEntrySize * index;
    std::uint32_t nameOffset = 0, nameLength = 0;
    return schema.section.readU32(entry + kEntryNameOffset, nameOffset) &&
           schema.section.readU32(entry + kEntryNameLength, nameLength) && nameLength != 0 &&
           readAsciiName(schema.section, nameOffset, nameLength, out, capacity);
}

}  // namespace vost
