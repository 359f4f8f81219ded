// Reading the fixed file information (VS_FIXEDFILEINFO) of an executable's
// version resource straight from the file's bytes, without the platform's
// version API.
//
// The lookup follows what the platform's GetFileVersionInfoA / VerQueryValueA
// ("\\") accept:
// - PE32 and PE32+ images: the resource data directory (#2), mapped to the
//   file through the section table (an address below SizeOfHeaders is a file
//   offset already); type RT_VERSION (16), id 1; the language entry tried as
//   neutral (0x0000), then en-US (0x0409), then English/neutral (0x0009), then
//   the first data entry; id levels searched as the loader does, by binary
//   search over the sorted id entries.
// - NE images: the resource table's type 0x8010 and id 0x8001, offset and
//   length scaled by the table's alignment shift.
// - The block at the resource is a 16-bit block (ANSI key) when its fifth
//   byte is a printable character, else a 32-bit block (UTF-16 key); the fixed
//   information follows the key, aligned to 4 bytes, and must start with the
//   signature 0xFEEF04BD.
// Every read is bounded by the view and by the resource's own size; the
// directory walk has a fixed depth of three levels, so a directory whose
// entries point back at itself cannot make it loop.
// Not handled: files compressed with the LZ (SZDD) format, which the platform
// expands on the fly.
#pragma once

#include <cstdint>

#include "analysis/byte_view.h"
#include "analysis/platform.h"

namespace vost {

// The fixed file information of the version resource in `image` (a whole
// file). False when there is none or it is malformed.
bool readFixedVersionFromImage(const ByteView& image, FixedFileVersion& out);

// The bytes of the version resource of a PE or NE image (clipped to the end
// of the file). False when the file has none.
bool findVersionResource(const ByteView& image, ByteView& resource);

// The fixed file information of one VS_VERSIONINFO block (16- or 32-bit).
bool readFixedVersionFromBlock(const ByteView& block, FixedFileVersion& out);

}  // namespace vost
