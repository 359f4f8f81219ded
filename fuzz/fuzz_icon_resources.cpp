// The icon-reading check on the fuzzer's bytes as a whole file: what it reads
// lies inside the file whenever it says so, a file cut at the end of what was
// read is still in place and read alike, and the block-at-a-time view gives
// the same answer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "analysis/icon_resources.h"
#include "fuzz/buffer_block_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vost;
    // A buffer of exactly the input's size, so any overrun is seen.
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size]);
    if (size) std::memcpy(copy.get(), data, size);

    const IconReadCheck whole = checkIconRead(ByteView(copy.get(), size));
    if (whole.inFile && whole.extent > size) __builtin_trap();

    fuzz::BufferBlockReader blocks(copy.get(), size);
    const IconReadCheck fromFile = checkIconRead(blocks.view());
    if (fromFile.inFile != whole.inFile || fromFile.extent != whole.extent) __builtin_trap();

    // Past the extent nothing is read (but for the empty file, never read).
    if (whole.inFile && whole.extent > 0 && whole.extent < size) {
        const IconReadCheck cut = checkIconRead(ByteView(copy.get(), whole.extent));
        if (!cut.inFile || cut.extent != whole.extent) __builtin_trap();
    }
    return 0;
}
