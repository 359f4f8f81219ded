// Both walkers straight on the fuzzer's bytes, past the signature test: the
// first four bytes choose the new-header offset, the rest is the image.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_platform.h"
#include "tests/support/test_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vost;
    if (size < 4) return 0;
    const std::uint32_t newHeader = std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 |
                                    std::uint32_t(data[2]) << 16 | std::uint32_t(data[3]) << 24;
    fuzz::FuzzPlatform platform(data + 4, size - 4);
    test::RecordingTree tree;
    NodeStore nodes;
    ScanContext ctx{platform, nodes};
    ModuleNode* root = nodes.create(platform, fuzz::kSubjectPath, "SUBJECT.EXE", nullptr, 0);
    root->treeWindow = &tree;

    // The image lives in a buffer of its exact size, so any overrun is seen.
    auto file = platform.mapFile(fuzz::kSubjectPath);
    const ByteView image = file ? file->bytes() : ByteView();
    const int pe = walkPeImports(ctx, *root, image, newHeader);
    const int ne = walkNeModuleRefs(ctx, *root, image, newHeader);
    if ((pe != 0 && pe != 1) || ne != 1) __builtin_trap();
    return 0;
}
