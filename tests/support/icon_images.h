// Small files that carry icons, for the icon-reading check and its fuzz
// seeds: a PE32 (or PE32+) image whose only section holds RT_GROUP_ICON 1
// and its RT_ICON images, an NE image with the same resources in its
// resource table, and an icon file. Well formed: the shell shows their icons
// (16x16 and 32x32, 32 bits per pixel). Each records where its structures
// lie, so a test can damage exactly one of them.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/image_builder.h"

namespace vost::test {

struct IconPe {
    Bytes bytes;
    std::uint32_t newHeader = 0;
    std::uint32_t sectionHeader = 0;   // the .rsrc header
    std::uint32_t resourceEntry = 0;   // data directory 2 (RVA, size)
    std::uint32_t root = 0;            // the root resource directory
    std::uint32_t groupEntry = 0;      // the data entry of the group
    std::uint32_t group = 0;           // the group header (reserved, type, count, entries)
    std::vector<std::uint32_t> iconEntries;  // the data entry (RVA, size) of each icon
    std::uint32_t sectionRva = 0;      // the .rsrc section's RVA
};

IconPe buildIconPe(bool pe32plus = false);

struct IconNe {
    Bytes bytes;
    std::uint32_t newHeader = 0;
    std::uint32_t table = 0;           // the resource table (its shift first)
    std::uint32_t groupType = 0;       // the group type record
    std::uint32_t iconType = 0;        // the icon type record
    std::uint32_t group = 0;           // the group header
};

IconNe buildIconNe();

// An .ico file: header, entries (size at +8, offset at +12 of each), images.
Bytes buildIconFile();

}  // namespace vost::test
