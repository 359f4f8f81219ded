// Whether the platform can safely read a file's own icon.
//
// For a file whose type takes its icon from the file itself (programs, and
// any type whose DefaultIcon is "%1"), the shell's icon lookup maps the file
// and walks its icon resources with plain pointers: no offset or count it
// meets is checked against the file's size. A truncated or damaged file
// makes it read past the mapping and fault inside the host process, with the
// shell's icon cache locked. This reader walks the same way, for the first
// icon of the file (index 0, which is what such types name) at any size,
// over the bounded reader, and says whether every byte the walk reads lies
// inside the file. The Win32 layer lets the shell open only files that pass,
// and asks for the icon of the file's type for the others.
//
// The walk follows the platform's reading, step by step:
// - An empty file is never read (it cannot be mapped).
// - A file that does not start with "MZ" is read as an icon file when its
//   second 16-bit word is 1: reserved word 0, a nonzero count, then 16-byte
//   entries each naming its image's size and offset in the file.
// - "MZ": e_lfanew at 0x3C; at or past the end of the file nothing more is
//   read. Then four bytes there: "PE\0\0" or a 16-bit "NE".
// - PE32 and PE32+: the resource directory's RVA from the optional header
//   (none when NumberOfRvaAndSizes leaves it out, or the RVA is 0), taken as
//   a file offset below SizeOfHeaders, else through the first section, in
//   table order, whose [VirtualAddress, VirtualAddress + SizeOfRawData)
//   holds it (32-bit arithmetic: a range that wraps holds nothing). In the
//   root directory RT_GROUP_ICON (14) by binary search over the id entries;
//   the group directory's first entry (named or not), that entry's
//   directory's first entry (whatever its counts say), a data entry whose
//   RVA is mapped through the sections; there a group header (reserved 0,
//   a type with bit 0 or 1 set) and 14-byte entries, each with an icon id.
//   Then RT_ICON (3) in the root, each id of the group by binary search, the
//   first entry below it, the data entry, and the image: its RVA through the
//   sections and its size. Entry offsets are the low 31 bits, from the root,
//   whatever the high bit says.
// - NE: the resource table at ne_rsrctab, walked when ne_restab -
//   ne_rsrctab (as an int) is negative or more than 8; its alignment shift,
//   then type records (type, count, 4 bytes, count 12-byte resources) up to
//   a zero type or until both RT_GROUP_ICON (0x800E) and RT_ICON (0x8003)
//   have been seen; the first group resource, offset and length shifted; the
//   group header as for PE; every icon resource's id, and the offset and
//   length of those whose id is one of the group's (| 0x8000). A shift above
//   15, which no real file has and which could carry an offset past 32 bits,
//   counts as out of place.
// - Every image is read as far as its size says, and at least 8 bytes: the
//   length of a PNG signature, which a reader may compare before it looks at
//   the size.
// Which of the group's icons the platform picks depends on the size asked
// and the display, so every icon the group names is checked.
//
// The walk stops where the platform stops without reading further (no
// resources, no group, a lookup that finds nothing, an empty group); the
// file is then in place. Work is bounded: the NE walk moves forward by at
// least 8 bytes a step, every id is looked up once, and section lookups are
// capped; a file that needs more counts as out of place, and so does one
// that cannot serve a read inside it (it shrank meanwhile).
#pragma once

#include <cstdint>

#include "analysis/byte_view.h"

namespace vost {

struct IconReadCheck {
    bool inFile = false;        // every byte the platform's walk reads lies inside the file
    std::uint64_t extent = 0;   // the end of the furthest byte the walk read, or tried to
};

IconReadCheck checkIconRead(const ByteView& file);

inline bool iconReadStaysInFile(const ByteView& file) { return checkIconRead(file).inFile; }

}  // namespace vost
