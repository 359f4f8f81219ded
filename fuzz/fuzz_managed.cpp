// Managed programs' readers on the fuzzer's bytes: as a PE image, its CLI
// metadata read in memory and a block at a time (the same answer from both,
// every list within its bound); as text, a configuration file, a
// runtimeconfig.json and a deps.json.
#include <cstddef>
#include <cstdint>
#include <string>

#include "analysis/cli_metadata.h"
#include "analysis/managed_process.h"
#include "analysis/pe_headers.h"
#include "fuzz/buffer_block_reader.h"

namespace {
using namespace vost;

void check(bool condition) {
    if (!condition) __builtin_trap();
}

std::string facts(const ByteView& image) {
    std::uint64_t newHeader = 0;
    if (!findPeSignature(image, newHeader)) return "no PE";
    const CliImage cli = readCliMetadata(image, newHeader);
    check(cli.references.size() <= kMaxManagedReferences && cli.pinvokes.size() <= kMaxManagedReferences);
    check(cli.problems.size() <= 16);
    std::string text = cli.runtimeVersion + "|" + cli.assembly.displayName() + "|" + std::to_string(cli.flags);
    for (const AssemblyName& name : cli.references) text += "|" + name.displayName();
    for (const PInvokeModule& module : cli.pinvokes) text += "|" + module.name + "#" + std::to_string(module.functions);
    for (const std::string& problem : cli.problems) text += "|" + problem;
    return text;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView inMemory(data, size);
    fuzz::BufferBlockReader blocks(data, size);
    check(facts(inMemory) == facts(blocks.view()));

    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    AppConfig config;
    check(parseAppConfig(text, config, error) == error.empty());
    RuntimeConfig runtime;
    if (parseRuntimeConfig(text, runtime, error)) check(runtime.selfContained == runtime.frameworks.empty());
    AppDependencies deps;
    parseDeps(text, "win-x64", deps, error);
    return 0;
}
