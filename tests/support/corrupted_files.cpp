#include "tests/support/corrupted_files.h"

#include <algorithm>
#include <random>

#include "analysis/icon_resources.h"
#include "analysis/pe_headers.h"
#include "analysis/image_map.h"

namespace vost::test {

namespace {

// Where the resources start: the PE resource directory or the NE resource
// table; 0 when the file has neither.
std::uint64_t resourceStart(const ByteView& file) {
    std::uint32_t newHeader = 0, signature = 0;
    if (!file.readU32(kLfanewField, newHeader) || !file.readU32(newHeader, signature)) return 0;
    if (signature == 0x00004550) {
        std::uint32_t rva = 0;
        const std::uint16_t magic = optionalHeaderMagic(file, newHeader);
        if (!file.readU32(newHeader + dataDirectoryEntry(magic, kResourceDirectory), rva) || rva == 0) return 0;
        const std::uint32_t offset = ImageMap(file, newHeader).fileOffset(rva);
        return offset == kNoFileOffset || offset >= file.size() ? 0 : offset;
    }
    std::uint16_t table = 0;
    if (std::uint16_t(signature) == 0x454E && file.readU16(newHeader + 0x24, table))
        return std::min<std::uint64_t>(newHeader + table, file.size());
    return 0;
}

}  // namespace

std::vector<DamagedCopy> damagedCopies(const Bytes& file, int count, std::uint32_t seed) {
    std::vector<DamagedCopy> copies;
    if (file.size() < 2) return copies;
    const ByteView view(file.data(), file.size());
    const std::uint64_t size = file.size();
    const std::uint64_t resources = resourceStart(view);
    std::uint64_t iconsEnd = checkIconRead(view).extent;
    if (iconsEnd > size || iconsEnd <= resources) iconsEnd = size;

    std::mt19937 random(seed);
    auto below = [&](std::uint64_t limit) { return limit ? std::uint64_t(random() % limit) : 0; };
    for (int i = 0; i < count; ++i) {
        DamagedCopy copy;
        if (i % 2 == 0) {
            const bool inResources = resources && (i / 2) % 2 == 1;
            const std::uint64_t cut = inResources ? resources + below(iconsEnd - resources) : below(size);
            copy.bytes.assign(file.begin(), file.begin() + std::ptrdiff_t(cut));
            copy.label = "cut " + std::to_string(cut);
        } else {
            copy.bytes = file;
            copy.label = "flip";
            const int bits = 1 + int(below(3));
            for (int b = 0; b < bits; ++b) {
                std::uint64_t at = 0;
                switch ((i / 2 + b) % 4) {
                    case 0: at = below(std::min<std::uint64_t>(size, 0x400)); break;
                    case 1: at = resources ? std::min(size - 1, resources + below(0x800)) : below(size); break;
                    case 2: at = iconsEnd - 1 - below(std::min<std::uint64_t>(iconsEnd, 0x1000)); break;
                    default: at = below(size); break;
                }
                const int bit = int(below(8));
                copy.bytes[std::size_t(at)] ^= std::uint8_t(1u << bit);
                copy.label += " " + std::to_string(at) + ":" + std::to_string(bit);
            }
        }
        copies.push_back(std::move(copy));
    }
    return copies;
}

}  // namespace vost::test
