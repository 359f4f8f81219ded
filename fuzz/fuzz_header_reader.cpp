// The fuzzer's bytes as the root file: scanModule and both walkers behind it,
// then one level of the children it found (the same file, or not found).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_platform.h"
#include "tests/support/test_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vost;
    fuzz::FuzzPlatform platform(data, size);
    test::RecordingTree tree;
    NodeStore nodes;
    ScanContext ctx{platform, nodes};
    ModuleNode* root = nodes.create(platform, fuzz::kSubjectPath, "SUBJECT.EXE", nullptr, 1);
    root->treeWindow = &tree;
    root->treeItem = tree.insertSorted(nullptr, "SUBJECT.EXE", nullptr, root);

    const int result = scanModule(ctx, *root);
    if (result != 0 && result != 1) __builtin_trap();
    if (platform.openMappings != 0) __builtin_trap();

    int expanded = 0;
    for (TreeItem item : tree.children(root->treeItem)) {
        ModuleNode* child = tree.item(item).node;
        child->markIfRepeatsAncestor();
        if (child->scanned || ++expanded > 4) continue;
        scanModule(ctx, *child);
    }
    return 0;
}
