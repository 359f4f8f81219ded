// Decorated names from the fuzzer's bytes, through both demanglers: any
// input gives back a text (the name itself when it is not read), never a
// crash, a hang or more than a little memory (fuzz/run.sh runs this target
// with a small memory limit: one unmeasured name costs gigabytes). A reading
// is never longer than the measure said. The first byte chooses the
// scheme's prefix, so that the fuzzer spends its time inside the readers
// rather than finding it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/common/itanium_names.h"
#include "platform/common/msvc_name_size.h"
#include "platform/common/undecorate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const char* const prefixes[] = {"?", "??", "_Z", "__Z", ""};
    std::string name = prefixes[data[0] % 5];
    name.append(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string readable = vost::undecorateName(name);
    if (readable.empty() && !name.empty()) __builtin_trap();
    if (name.size() > vost::kMaxDecoratedName && readable != name) __builtin_trap();
    if (readable == name) return 0;
    if (readable.size() > vost::kMaxReadableName) __builtin_trap();
    const std::optional<std::size_t> measured = name[0] == '?' ? vost::msvcReadableLength(name)
                                                : name[1] == '_'  ? vost::itaniumReadableLength(name.substr(1))
                                                                  : vost::itaniumReadableLength(name);
    if (!measured || readable.size() > *measured) __builtin_trap();
    return 0;
}
