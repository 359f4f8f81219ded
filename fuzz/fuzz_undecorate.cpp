// Decorated names from the fuzzer's bytes, through both demanglers: any
// input gives back a text (the name itself when it is not read), never a
// crash or a hang. The first byte chooses the scheme's prefix, so that the
// fuzzer spends its time inside the demanglers rather than finding it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/common/undecorate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const char* const prefixes[] = {"?", "??", "_Z", "__Z", ""};
    std::string name = prefixes[data[0] % 5];
    name.append(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string readable = vost::undecorateName(name);
    if (readable.empty() && !name.empty()) __builtin_trap();
    if (name.size() > vost::kMaxDecoratedName && readable != name) __builtin_trap();
    return 0;
}
