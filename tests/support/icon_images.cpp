#include "tests/support/icon_images.h"

namespace vost::test {

namespace {

constexpr std::uint32_t kSizes[] = {16, 32};

// A 32-bit-per-pixel icon image: BITMAPINFOHEADER (height doubled for the
// mask), the pixels (an opaque square of one colour), the all-zero mask.
Bytes iconImage(std::uint32_t side) {
    Bytes b;
    putU32(b, 0, 40);
    putU32(b, 4, side);
    putU32(b, 8, 2 * side);
    putU16(b, 12, 1);
    putU16(b, 14, 32);
    const std::uint32_t pixels = side * side * 4;
    const std::uint32_t mask = side * ((side + 31) / 32 * 4);
    putU32(b, 20, pixels + mask);
    for (std::uint32_t i = 0; i < side * side; ++i) putU32(b, 40 + 4 * i, 0xFF2060C0u);
    b.resize(40 + pixels + mask, 0);
    return b;
}

// A group (or file) entry's first 8 bytes: width, height, colours, reserved,
// planes, bits per pixel.
void putEntryHead(Bytes& b, std::size_t at, std::uint32_t side) {
    putU8(b, at, std::uint8_t(side));
    putU8(b, at + 1, std::uint8_t(side));
    putU16(b, at + 4, 1);
    putU16(b, at + 6, 32);
}

std::uint32_t alignTo(std::uint32_t value, std::uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

Bytes mzHeader(std::uint32_t newHeader) {
    Bytes b(newHeader, 0);
    putText(b, 0, "MZ");
    putU16(b, 8, 4);
    putU32(b, kLfanewField, newHeader);
    return b;
}

}  // namespace

IconPe buildIconPe(bool pe32plus) {
    constexpr std::uint32_t kNt = 0x80, kRva = 0x1000, kRaw = 0x200;
    const std::uint32_t count = sizeof kSizes / sizeof kSizes[0];
    IconPe pe;
    pe.newHeader = kNt;
    pe.sectionRva = kRva;

    // .rsrc: root (RT_ICON, RT_GROUP_ICON), the icon directory (ids 1..n),
    // the group directory (id 1), a language directory under each, the data
    // entries, then the group and the images.
    Bytes r;
    auto directory = [&](std::uint32_t at, std::uint16_t ids) { putU16(r, at + 14, ids); };
    auto entry = [&](std::uint32_t at, std::uint32_t pos, std::uint32_t id, std::uint32_t target) {
        putU32(r, at + 16 + 8 * pos, id);
        putU32(r, at + 20 + 8 * pos, target);
    };
    const std::uint32_t root = 0, icons = 32, groups = icons + 16 + 8 * count;
    const std::uint32_t languages = groups + 24;  // one per icon, then the group's: 24 bytes each
    const std::uint32_t dataEntries = languages + 24 * (count + 1);
    std::uint32_t at = dataEntries + 16 * (count + 1);
    directory(root, 2);
    entry(root, 0, 3, 0x80000000u | icons);
    entry(root, 1, 14, 0x80000000u | groups);
    directory(icons, std::uint16_t(count));
    directory(groups, 1);
    for (std::uint32_t i = 0; i <= count; ++i) {
        const std::uint32_t language = languages + 24 * i;
        if (i < count)
            entry(icons, i, i + 1, 0x80000000u | language);
        else
            entry(groups, 0, 1, 0x80000000u | language);
        directory(language, 1);
        entry(language, 0, 0x409, dataEntries + 16 * i);
    }
    const std::uint32_t group = at;
    putU16(r, group + 2, 1);
    putU16(r, group + 4, std::uint16_t(count));
    at = alignTo(group + 6 + 14 * count, 8);
    for (std::uint32_t i = 0; i < count; ++i) {
        const Bytes image = iconImage(kSizes[i]);
        putEntryHead(r, group + 6 + 14 * i, kSizes[i]);
        putU32(r, group + 6 + 14 * i + 8, std::uint32_t(image.size()));
        putU16(r, group + 6 + 14 * i + 12, std::uint16_t(i + 1));
        putU32(r, dataEntries + 16 * i, kRva + at);
        putU32(r, dataEntries + 16 * i + 4, std::uint32_t(image.size()));
        putBytes(r, at, image.data(), image.size());
        at = alignTo(at + std::uint32_t(image.size()), 8);
    }
    putU32(r, dataEntries + 16 * count, kRva + group);
    putU32(r, dataEntries + 16 * count + 4, 6 + 14 * count);
    const std::uint32_t rawSize = alignTo(std::uint32_t(r.size()), 0x200);
    r.resize(rawSize, 0);

    Bytes b = mzHeader(kNt);
    putText(b, kNt, "PE");
    const std::uint32_t optionalSize = pe32plus ? 240 : 224;
    putU16(b, kNt + 4, pe32plus ? 0x8664 : 0x014C);
    putU16(b, kNt + 6, 1);
    putU16(b, kNt + 20, std::uint16_t(optionalSize));
    putU16(b, kNt + 22, 0x2102);  // executable, DLL, 32-bit words
    const std::uint32_t o = kNt + 24;
    putU16(b, o, pe32plus ? 0x20B : 0x10B);
    putU32(b, o + 16, 0);                 // no entry point
    if (pe32plus) {
        putU32(b, o + 24, 0x10000000);    // image base (64 bits)
    } else {
        putU32(b, o + 28, 0x10000000);
    }
    putU32(b, o + 32, 0x1000);            // section alignment
    putU32(b, o + 36, 0x200);             // file alignment
    putU16(b, o + 40, 4);
    putU16(b, o + 48, 4);
    putU32(b, o + 56, kRva + alignTo(rawSize, 0x1000));  // size of image
    putU32(b, o + 60, kRaw);              // size of headers
    putU16(b, o + 68, 2);                 // GUI
    const std::uint32_t count32 = pe32plus ? o + 108 : o + 92;
    putU32(b, count32, 16);
    pe.resourceEntry = count32 + 4 + 16;
    putU32(b, pe.resourceEntry, kRva);
    putU32(b, pe.resourceEntry + 4, group + 6 + 14 * count);
    pe.sectionHeader = o + optionalSize;
    putText(b, pe.sectionHeader, ".rsrc");
    putU32(b, pe.sectionHeader + 8, std::uint32_t(rawSize));
    putU32(b, pe.sectionHeader + 12, kRva);
    putU32(b, pe.sectionHeader + 16, rawSize);
    putU32(b, pe.sectionHeader + 20, kRaw);
    putU32(b, pe.sectionHeader + 36, 0x40000040);
    b.resize(kRaw, 0);
    putBytes(b, kRaw, r.data(), r.size());

    pe.root = kRaw + root;
    pe.groupEntry = kRaw + dataEntries + 16 * count;
    pe.group = kRaw + group;
    for (std::uint32_t i = 0; i < count; ++i) pe.iconEntries.push_back(kRaw + dataEntries + 16 * i);
    pe.bytes = std::move(b);
    return pe;
}

IconNe buildIconNe() {
    constexpr std::uint32_t kNe = 0x80, kShift = 4;
    const std::uint32_t count = sizeof kSizes / sizeof kSizes[0];
    IconNe ne;
    ne.newHeader = kNe;
    Bytes b = mzHeader(kNe);

    // Relative to the NE header: header (64 bytes), resource table, then the
    // resident names ("ICONS", its ordinal, the terminator).
    const std::uint32_t table = 64;
    const std::uint32_t groupType = table + 2, iconType = groupType + 8 + 12;
    const std::uint32_t resident = iconType + 8 + 12 * count + 2;
    putText(b, kNe, "NE");
    putU8(b, kNe + 2, 5);
    putU16(b, kNe + 12, 0x8000);   // library
    putU16(b, kNe + 34, table);    // segment table: none
    putU16(b, kNe + 36, table);
    putU16(b, kNe + 38, resident);
    putU16(b, kNe + 40, resident + 9);
    putU16(b, kNe + 42, resident + 9);
    putU16(b, kNe + 4, resident + 9);
    putU16(b, kNe + 50, kShift);
    putU8(b, kNe + 54, 2);         // Windows
    putU16(b, kNe + table, kShift);
    putU8(b, kNe + resident, 5);
    putText(b, kNe + resident + 1, "ICONS");

    // Data after the header's tables, on 16-byte units.
    std::uint32_t at = alignTo(kNe + resident + 16, 1u << kShift);
    const std::uint32_t group = at;
    putU16(b, group + 2, 1);
    putU16(b, group + 4, std::uint16_t(count));
    at = alignTo(group + 6 + 14 * count, 1u << kShift);
    putU16(b, kNe + groupType, 0x800E);
    putU16(b, kNe + groupType + 2, 1);
    putU16(b, kNe + groupType + 8, std::uint16_t(group >> kShift));
    putU16(b, kNe + groupType + 10, std::uint16_t((at - group) >> kShift));
    putU16(b, kNe + groupType + 12, 0x1C30);  // moveable, pure, discardable
    putU16(b, kNe + groupType + 14, 0x8001);
    putU16(b, kNe + iconType, 0x8003);
    putU16(b, kNe + iconType + 2, std::uint16_t(count));
    for (std::uint32_t i = 0; i < count; ++i) {
        const Bytes image = iconImage(kSizes[i]);
        putEntryHead(b, group + 6 + 14 * i, kSizes[i]);
        putU32(b, group + 6 + 14 * i + 8, std::uint32_t(image.size()));
        putU16(b, group + 6 + 14 * i + 12, std::uint16_t(i + 1));
        const std::uint32_t resource = kNe + iconType + 8 + 12 * i;
        const std::uint32_t length = alignTo(std::uint32_t(image.size()), 1u << kShift);
        putU16(b, resource, std::uint16_t(at >> kShift));
        putU16(b, resource + 2, std::uint16_t(length >> kShift));
        putU16(b, resource + 4, 0x1C10);
        putU16(b, resource + 6, std::uint16_t(0x8000 | (i + 1)));
        putBytes(b, at, image.data(), image.size());
        at += length;
    }
    b.resize(at, 0);
    ne.table = kNe + table;
    ne.groupType = kNe + groupType;
    ne.iconType = kNe + iconType;
    ne.group = group;
    ne.bytes = std::move(b);
    return ne;
}

Bytes buildIconFile() {
    const std::uint32_t count = sizeof kSizes / sizeof kSizes[0];
    Bytes b;
    putU16(b, 2, 1);
    putU16(b, 4, std::uint16_t(count));
    std::uint32_t at = 6 + 16 * count;
    for (std::uint32_t i = 0; i < count; ++i) {
        const Bytes image = iconImage(kSizes[i]);
        putEntryHead(b, 6 + 16 * i, kSizes[i]);
        putU32(b, 6 + 16 * i + 8, std::uint32_t(image.size()));
        putU32(b, 6 + 16 * i + 12, at);
        putBytes(b, at, image.data(), image.size());
        at += std::uint32_t(image.size());
    }
    return b;
}

}  // namespace vost::test
