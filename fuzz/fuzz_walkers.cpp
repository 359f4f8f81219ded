// Both walkers straight on the fuzzer's bytes, past the signature test: the
// first four bytes choose the new-header offset, the rest is the image. The
// walk over the image in memory and over the same bytes read a block at a
// time must give the same children.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/buffer_block_reader.h"
#include "fuzz/fuzz_platform.h"
#include "tests/support/test_scan.h"

namespace {
struct Walk {
    int pe = 0;
    int ne = 0;
    std::vector<std::string> labels;  // in the order inserted
};

Walk walkImage(vost::fuzz::FuzzPlatform& platform, const vost::ByteView& image, std::uint32_t newHeader) {
    using namespace vost;
    test::RecordingTree tree;
    NodeStore nodes;
    ScanContext ctx{platform, nodes};
    ModuleNode* root = nodes.create(platform, fuzz::kSubjectPath, "SUBJECT.EXE", nullptr, 0);
    root->treeWindow = &tree;
    Walk walk;
    walk.pe = walkPeImports(ctx, *root, image, newHeader);
    walk.ne = walkNeModuleRefs(ctx, *root, image, newHeader);
    for (TreeItem item : tree.insertionOrder) walk.labels.push_back(tree.item(item).label);
    return walk;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vost;
    if (size < 4) return 0;
    const std::uint32_t newHeader = std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 |
                                    std::uint32_t(data[2]) << 16 | std::uint32_t(data[3]) << 24;
    fuzz::FuzzPlatform platform(data + 4, size - 4);
    // The image lives in a buffer of its exact size, so any overrun is seen.
    auto file = platform.mapFile(fuzz::kSubjectPath);
    const ByteView image = file ? file->bytes() : ByteView();
    const Walk inMemory = walkImage(platform, image, newHeader);
    if ((inMemory.pe != 0 && inMemory.pe != 1) || inMemory.ne != 1) __builtin_trap();

    fuzz::BufferBlockReader blocks(data + 4, size - 4);
    const Walk byBlocks = walkImage(platform, blocks.view(), newHeader);
    if (byBlocks.pe != inMemory.pe || byBlocks.ne != inMemory.ne || byBlocks.labels != inMemory.labels)
        __builtin_trap();
    return 0;
}
