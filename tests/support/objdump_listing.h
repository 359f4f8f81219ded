// objdump -p of PE files read into lines that a reader under test can write
// the same way (native tests: the mingw objdumps).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace vost::test {

using Lines = std::vector<std::string>;

// What one file shows, as lines both sides write the same way.
struct Listing {
    Lines addresses;  // "ordinal rva" or "ordinal -> forwarder", zero entries left out
    Lines names;      // "index name", in name-table order
    Lines imports;    // "module:", then "  name hint" or "  #ordinal"
};

std::string hexText(std::uint64_t value);  // lower-case, no prefix
// The PE images of `dir` ("MZ", and "PE\0\0" where e_lfanew points), sorted;
// none when it is missing. A system folder may hold other files too (Wine's
// import libraries, lib*.a, beside its DLLs when libwine-dev is installed).
std::vector<std::filesystem::path> filesIn(const char* dir);
// The tool's path, empty when it is not on PATH.
std::string toolOnPath(const std::string& name);
// One objdump -p run over all files, parsed per file (keyed by path).
std::map<std::string, Listing> objdumpListings(const std::string& objdump,
                                               const std::vector<std::filesystem::path>& files);

}  // namespace vost::test
