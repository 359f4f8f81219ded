// The version-resource reader on the fuzzer's bytes as a whole file, and the
// block reader on them as one VS_VERSIONINFO block; the same reads through
// the block-at-a-time file reader must give the same answers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/buffer_block_reader.h"
#include "platform/common/version_resource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vost;
    // A buffer of exactly the input's size, so any overrun is seen.
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size]);
    if (size) std::memcpy(copy.get(), data, size);
    const ByteView image(copy.get(), size);

    FixedFileVersion version;
    const bool found = readFixedVersionFromImage(image, version);
    ByteView resource;
    if (findVersionResource(image, resource)) {
        // The resource is a piece of the file, never beyond it.
        if (resource.start() > image.size() || resource.size() > image.size() - resource.start())
            __builtin_trap();
        FixedFileVersion fromBlock;
        if (readFixedVersionFromBlock(resource, fromBlock) != found) __builtin_trap();
        if (found && std::memcmp(&fromBlock, &version, sizeof version) != 0) __builtin_trap();
    } else if (found) {
        __builtin_trap();
    }
    FixedFileVersion fromWhole;
    readFixedVersionFromBlock(image, fromWhole);

    fuzz::BufferBlockReader blocks(copy.get(), size);
    FixedFileVersion fromFile;
    if (readFixedVersionFromImage(blocks.view(), fromFile) != found) __builtin_trap();
    if (found && std::memcmp(&fromFile, &version, sizeof version) != 0) __builtin_trap();
    return 0;
}
