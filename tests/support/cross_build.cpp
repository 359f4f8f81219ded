#include "tests/support/cross_build.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analysis/byte_view.h"
#include "analysis/pe_headers.h"
#include "analysis/image_map.h"

namespace vost::test {

std::string runCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return "cannot run";
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    return pclose(pipe) == 0 ? "" : command + "\n" + output;
}

std::string registerDelayDescriptor(Bytes& exe, const std::string& nm, const std::string& path) {
    const ByteView image(exe.data(), exe.size());
    std::uint32_t newHeader = 0;
    std::uint64_t base = 0;
    if (!image.readU32(kLfanewField, newHeader) || !imageBase(image, newHeader, base)) return "no PE header";
    FILE* pipe = popen(("'" + nm + "' '" + path + "'").c_str(), "r");
    if (!pipe) return "cannot run " + nm;
    char line[1024];
    unsigned long long address = 0;
    while (std::fgets(line, sizeof line, pipe))
        if (std::strstr(line, " __DELAY_IMPORT_DESCRIPTOR_")) address = std::strtoull(line, nullptr, 16);
    pclose(pipe);
    if (address == 0) return "no delay descriptor in " + path;
    const std::uint32_t rva = std::uint32_t(address - base);
    const std::uint32_t offset = ImageMap(image, newHeader).fileOffset(rva);
    if (std::uint64_t(offset) + 64 >= exe.size()) return "the delay descriptor lies outside " + path;
    const std::uint64_t entry = newHeader + dataDirectoryEntry(optionalHeaderMagic(image, newHeader), 13);
    putU32(exe, entry, rva);
    putU32(exe, entry + 4, 64);
    for (int i = 0; i < 32; ++i) exe[offset + 32 + i] = 0;
    return "";
}

}  // namespace vost::test
