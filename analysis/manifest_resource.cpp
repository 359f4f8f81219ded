#include "analysis/manifest_resource.h"

#include "analysis/pe_headers.h"
#include "analysis/resource_directory.h"
#include "analysis/image_map.h"

namespace vost {

namespace {
// The bounded reader under the names the directory lookup asks for.
struct ViewReader {
    const ByteView& view;
    bool u16(std::uint64_t at, std::uint16_t& out) { return view.readU16(at, out); }
    bool u32(std::uint64_t at, std::uint32_t& out) { return view.readU32(at, out); }
};
}  // namespace

bool findManifestResource(const ByteView& image, std::uint16_t id, ByteView& manifest) {
    manifest = ByteView();
    std::uint64_t nt = 0;
    std::uint32_t directories = 0, rva = 0, size = 0;
    if (!findPeSignature(image, nt) || !numberOfRvaAndSizes(image, nt, directories) ||
        directories <= std::uint32_t(kResourceDirectory))
        return false;
    const std::uint64_t entry = nt + dataDirectoryEntry(optionalHeaderMagic(image, nt), kResourceDirectory);
    if (!image.readU32(entry, rva) || !image.readU32(entry + 4, size) || rva == 0 || size == 0) return false;

    // Every offset inside the resource tree is from its root.
    const ImageMap map(image, nt);
    const ByteView tree = map.at(rva);
    ViewReader read{tree};
    std::uint64_t names = 0, languages = 0, data = 0;
    if (!findResourceId(read, 0, 0, kRtManifest, names) || !findResourceId(read, 0, names, id, languages))
        return false;
    // Any language: the directory's first entry, named or not.
    std::uint16_t named = 0, ids = 0;
    std::uint32_t offset = 0;
    if (!tree.readU16(languages + 12, named) || !tree.readU16(languages + 14, ids) || named + ids == 0 ||
        !tree.readU32(languages + 16 + 4, offset) || (offset & ~kResourceOffsetBits))
        return false;
    data = offset;
    std::uint32_t dataRva = 0, dataSize = 0;
    if (!tree.readU32(data, dataRva) || !tree.readU32(data + 4, dataSize) || dataSize == 0) return false;
    // The manifest is handed out as a view of the file, which outlives the
    // mapping: one whose bytes are not one stretch of the file (zeros the
    // loader made, pieces of two sections) counts as none.
    std::uint64_t at = 0;
    if (!map.fileRange(dataRva, dataSize, at)) return false;
    manifest = image.slice(at, dataSize);
    return true;
}

}  // namespace vost
