// Manifests on the fuzzer's bytes: the input as manifest text, and as a PE
// file whose RT_MANIFEST resources 1 and 2 are read as manifests too.
// Hostile texts (truncated, deeply nested, huge attributes, odd encodings,
// entity declarations) must give an answer under the reader's limits.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/manifest_reader.h"
#include "analysis/manifest_resource.h"
#include "fuzz/buffer_block_reader.h"

namespace {
using namespace vost;

void check(bool condition) {
    if (!condition) __builtin_trap();
}

// The manifest's parts as text, for the comparison of both views.
std::string read(const char* text, std::size_t size) {
    Manifest manifest;
    std::string error;
    const bool ok = readManifest(text, size, manifest, error);
    check(ok == error.empty());
    if (!ok) {
        check(manifest.dependencies.empty() && manifest.files.empty() && manifest.redirects.empty());
        return "refused\n";
    }
    check(size <= kManifestMaxBytes);
    std::string transcript = manifest.identity.text() + "\n";
    for (const ManifestDependency& dependency : manifest.dependencies) {
        check(dependency.assembly.name.size() <= kManifestMaxAttribute * 4);
        transcript += dependency.assembly.text() + (dependency.optional ? " optional\n" : "\n");
    }
    for (const std::string& file : manifest.files) transcript += file + "\n";
    for (const BindingRedirect& redirect : manifest.redirects)
        transcript += redirect.oldVersion + "->" + redirect.newVersion + "\n";
    return transcript;
}

std::string resources(const ByteView& image) {
    std::string transcript;
    for (std::uint16_t id : {kProcessManifestId, kModuleManifestId}) {
        ByteView resource;
        if (!findManifestResource(image, id, resource)) {
            transcript += "none\n";
            continue;
        }
        check(resource.start() + resource.size() <= image.size());
        if (resource.size() > kManifestMaxBytes) {
            transcript += "large\n";
            continue;
        }
        std::string text(std::size_t(resource.size()), '\0');
        check(resource.readBytes(0, resource.size(), &text[0]));
        transcript += read(text.data(), text.size());
    }
    return transcript;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The input lives in a buffer of its exact size, so any overrun is seen.
    std::vector<std::uint8_t> exact(data, data + size);
    const std::string asText = read(reinterpret_cast<const char*>(exact.data()), exact.size());
    check(asText == read(reinterpret_cast<const char*>(exact.data()), exact.size()));
    const std::string inMemory = resources(ByteView(exact.data(), exact.size()));
    vost::fuzz::BufferBlockReader blocks(exact.data(), exact.size());
    check(inMemory == resources(blocks.view()));
    return 0;
}
