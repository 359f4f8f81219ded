#include "tests/support/api_set_builder.h"

#include <algorithm>

namespace vost::test {

namespace {
std::size_t hashedChars(const std::string& name) {
    const std::size_t hyphen = name.rfind('-');
    return hyphen == std::string::npos ? name.size() : hyphen;
}

// Strings go in a pool after the records; the fix-ups are written once the
// pool's place is known.
struct StringPool {
    Bytes bytes;
    std::uint32_t add(const std::string& text) {  // offset within the pool
        const std::uint32_t at = std::uint32_t(bytes.size());
        for (char c : text) {
            bytes.push_back(std::uint8_t(c));
            bytes.push_back(0);
        }
        return at;
    }
};
}  // namespace

std::uint32_t apiSetHash(const std::string& name, std::uint32_t factor) {
    std::uint32_t hash = 0;
    for (std::size_t i = 0; i < hashedChars(name); ++i) {
        const char c = name[i];
        hash = hash * factor + std::uint8_t(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    return hash;
}

ApiSetSchemaImage buildApiSetSchema(const ApiSetSchemaLayout& layout) {
    ApiSetSchemaImage image;
    const std::uint32_t count = std::uint32_t(layout.entries.size());
    image.hashOffset = 28;
    image.entryOffset = layout.hashTableFirst ? 28 + 8 * count : 28;
    std::uint32_t at = image.entryOffset + 24 * count;
    for (const ApiSetEntrySpec& entry : layout.entries) {
        image.valueOffsets.push_back(at);
        at += 20 * std::uint32_t(entry.values.size());
    }
    const std::uint32_t poolStart = at;

    Bytes& b = image.bytes;
    StringPool pool;
    for (std::uint32_t i = 0; i < count; ++i) {
        const ApiSetEntrySpec& entry = layout.entries[i];
        const std::uint32_t record = image.entry(i);
        putU32(b, record, 1);  // sealed, as in real schemas
        putU32(b, record + 4, poolStart + pool.add(entry.name));
        putU32(b, record + 8, std::uint32_t(2 * entry.name.size()));
        putU32(b, record + 12, std::uint32_t(2 * hashedChars(entry.name)));
        putU32(b, record + 16, image.valueOffsets[i]);
        putU32(b, record + 20, std::uint32_t(entry.values.size()));
        for (std::size_t v = 0; v < entry.values.size(); ++v) {
            const ApiSetValueSpec& value = entry.values[v];
            const std::uint32_t valueRecord = image.value(i, v);
            putU32(b, valueRecord, 0);
            putU32(b, valueRecord + 4, value.importer.empty() ? 0 : poolStart + pool.add(value.importer));
            putU32(b, valueRecord + 8, std::uint32_t(2 * value.importer.size()));
            putU32(b, valueRecord + 12, value.host.empty() ? 0 : poolStart + pool.add(value.host));
            putU32(b, valueRecord + 16, std::uint32_t(2 * value.host.size()));
        }
    }
    putBytes(b, poolStart, pool.bytes.data(), pool.bytes.size());

    // The hash table, sorted by hash; records of equal hash keep table order.
    if (!layout.hashTableFirst)
        image.hashOffset = std::uint32_t((poolStart + pool.bytes.size() + layout.hashTableGap + 3) / 4 * 4);
    std::vector<std::uint32_t> order(count);
    for (std::uint32_t i = 0; i < count; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
        return apiSetHash(layout.entries[x].name, layout.hashFactor) <
               apiSetHash(layout.entries[y].name, layout.hashFactor);
    });
    for (std::uint32_t i = 0; i < count; ++i) {
        putU32(b, image.hashRecord(i), apiSetHash(layout.entries[order[i]].name, layout.hashFactor));
        putU32(b, image.hashRecord(i) + 4, order[i]);
    }
    if (b.size() < image.hashOffset) b.resize(image.hashOffset);

    putU32(b, 0, 6);
    putU32(b, 4, std::uint32_t(b.size()));
    putU32(b, 8, 0);
    putU32(b, 12, count);
    putU32(b, 16, image.entryOffset);
    putU32(b, 20, image.hashOffset);
    putU32(b, 24, layout.hashFactor);
    return image;
}

ApiSetPe buildApiSetPe(const Bytes& schema, bool pe32plus) {
    constexpr std::uint32_t kNewHeader = 0x80;
    constexpr std::uint32_t kFileAlignment = 0x200;
    const std::uint16_t optionalSize = pe32plus ? 240 : 224;
    ApiSetPe pe;
    Bytes& b = pe.bytes;
    putText(b, 0, "MZ");
    putU32(b, kLfanewField, kNewHeader);
    putText(b, kNewHeader, std::string("PE\0\0", 4));
    putU16(b, kNewHeader + 4, pe32plus ? 0x8664 : 0x014C);
    putU16(b, kNewHeader + 6, 2);
    putU16(b, kNewHeader + 20, optionalSize);
    putU16(b, kNewHeader + 22, 0x2102);  // executable, 32-bit machine, DLL
    putU16(b, kNewHeader + 24, pe32plus ? 0x20B : 0x10B);
    const std::uint32_t table = kNewHeader + 24 + optionalSize;

    const std::uint32_t schemaRaw = (std::uint32_t(schema.size()) + kFileAlignment - 1) / kFileAlignment *
                                    kFileAlignment;
    struct Header {
        const char* name;
        std::uint32_t virtualSize, va, rawSize, rawPointer;
    };
    const Header headers[2] = {{".text", 0x10, 0x1000, kFileAlignment, 0x400},
                               {".apiset", std::uint32_t(schema.size()), 0x2000, schemaRaw, 0x600}};
    for (int i = 0; i < 2; ++i) {
        const std::uint32_t h = table + 40 * i;
        putText(b, h, headers[i].name);
        putU32(b, h + 8, headers[i].virtualSize);
        putU32(b, h + 12, headers[i].va);
        putU32(b, h + 16, headers[i].rawSize);
        putU32(b, h + 20, headers[i].rawPointer);
        putU32(b, h + 36, 0x40000040);
    }
    pe.sectionHeader = table + 40;
    pe.sectionOffset = 0x600;
    b.resize(pe.sectionOffset + schemaRaw, 0);
    putBytes(b, pe.sectionOffset, schema.data(), schema.size());
    return pe;
}

}  // namespace vost::test
