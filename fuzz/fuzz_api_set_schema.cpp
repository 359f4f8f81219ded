// The API set schema reader on the fuzzer's bytes: the ".apiset" section when
// the input is a PE file that has one, else the input itself as the schema.
// Parses it, resolves fixed names, the schema's own contract names and a name
// taken from the end of the input, with and without an importer, and checks
// that the input read a block at a time gives the same answers as in memory.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/api_set_schema.h"
#include "fuzz/buffer_block_reader.h"

namespace {
using namespace vost;

const char* const kFixedNames[] = {
    "api-ms-win-core-synch-l1-2-0.dll", "API-MS-WIN-CORE-FILE-L1-1-0", "ext-ms-win-gdi-dc-l1-2-0.dll",
    "api-ms-win-crt-runtime-l1-1-0.dll", "api-", "ext-x", "kernel32.dll"};
const char* const kImporters[] = {nullptr, "kernel32.dll", "C:\\windows\\system32\\USER32.DLL"};
constexpr int kMaxContracts = 64;

void check(bool condition) {
    if (!condition) __builtin_trap();
}

// One answer, checked on its own; appended to the transcript for the
// comparison of both views.
void resolveOne(const ApiSetSchema& schema, const char* name, const char* importer, std::size_t capacity,
                std::string& transcript) {
    char host[kPathCapacity + 1];
    std::memset(host, 'X', sizeof host);
    const ApiSetResult result = resolveApiSet(schema, name, importer, host, capacity);
    const std::size_t length = strnlen(host, capacity);
    check(length < capacity);  // always terminated inside the buffer
    check((result == ApiSetResult::notAContract) == !isApiSetName(name));
    if (result == ApiSetResult::hosted) {
        check(length > 0);
        for (std::size_t i = 0; i < length; ++i) check(host[i] > 0 && host[i] <= 0x7F);
    } else {
        check(length == 0);
    }
    transcript += char('0' + int(result));
    transcript.append(host, length);
    transcript += '\n';
}

std::string exercise(const ByteView& input, const std::string& tailName) {
    std::string transcript;
    ByteView section;
    if (!findApiSetSection(input, section)) section = input;
    transcript += std::to_string(section.start()) + ":" + std::to_string(section.size()) + "\n";
    ApiSetSchema schema;
    if (!parseApiSetSchema(section, schema)) {
        check(schema.count == 0);
        transcript += "refused\n";
    } else {
        check(schema.version == kApiSetSchemaVersion6);
        check(24 * std::uint64_t(schema.count) <= section.size());
    }
    // Lookups on a refused schema too: an empty schema must answer as well.
    for (const char* name : kFixedNames)
        for (const char* importer : kImporters) resolveOne(schema, name, importer, kPathCapacity, transcript);
    resolveOne(schema, tailName.c_str(), "kernel32.dll", kPathCapacity, transcript);

    int contracts = 0;
    forEachApiSetContract(schema, [&](const char* name) {
        if (++contracts > kMaxContracts) return;
        check(std::strlen(name) > 0 && std::strlen(name) < kApiSetNameCapacity);
        transcript += name;
        transcript += '\n';
        const std::string withDll = std::string(name) + ".DLL";
        for (const char* importer : kImporters) resolveOne(schema, name, importer, kPathCapacity, transcript);
        resolveOne(schema, withDll.c_str(), nullptr, 12, transcript);  // a buffer most hosts outgrow
    });
    return transcript;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A name from the input's last bytes, up to their first zero: prefixed so
    // that it is a contract name more often than not.
    std::string tailName = size > 0 && (data[size - 1] & 1) ? "api-" : "";
    for (std::size_t i = size > 48 ? size - 48 : 0; i < size && data[i] != 0; ++i) tailName += char(data[i]);

    // The input lives in a buffer of its exact size, so any overrun is seen.
    std::vector<std::uint8_t> exact(data, data + size);
    const std::string inMemory = exercise(ByteView(exact.data(), exact.size()), tailName);
    vost::fuzz::BufferBlockReader blocks(exact.data(), exact.size());
    const std::string byBlocks = exercise(blocks.view(), tailName);
    check(inMemory == byBlocks);
    return 0;
}
