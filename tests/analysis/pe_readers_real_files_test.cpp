// Wine's own PE32 and PE32+ files as input: the export reader and the
// import-function reader list exactly what objdump lists for every file.
// Native only; skipped when the files or the mingw objdumps are missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/pe_exports.h"
#include "analysis/pe_import_functions.h"
#include "tests/support/image_builder.h"
#include "tests/support/objdump_listing.h"

namespace vost {
namespace {

namespace fs = std::filesystem;
using test::Lines;
using test::Listing;
using test::filesIn;
using test::hexText;
using test::objdumpListings;
using test::toolOnPath;

test::Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return test::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Listing readersListing(const test::Bytes& bytes) {
    Listing listing;
    const ByteView image(bytes.data(), bytes.size());
    std::uint32_t newHeader = 0;
    if (!image.readU32(test::kLfanewField, newHeader)) return listing;
    const PeExports exports = readPeExports(image, newHeader);
    for (std::uint32_t i = 0; i < exports.addresses.size(); ++i) {
        const ExportTarget target = exports.atIndex(i);
        if (target.kind == ExportKind::NotExported) continue;
        listing.addresses.push_back(std::to_string(i + exports.ordinalBase) + " " +
                                    (target.kind == ExportKind::Address ? hexText(target.rva)
                                                                        : "-> " + std::string(target.forwarder)));
    }
    for (const ExportName& name : exports.names)
        listing.names.push_back(std::to_string(name.index) + " " + std::string(exports.nameOf(name)));
    for (const ImportedModule& module : readPeImportFunctions(image, newHeader)) {
        listing.imports.push_back(module.name + ":");
        for (const ImportedFunction& f : module.functions)
            listing.imports.push_back(f.kind == ImportKind::ByOrdinal ? "  #" + std::to_string(f.ordinal)
                                                                    : "  " + f.name + " " + std::to_string(f.hint));
    }
    return listing;
}

std::string firstDifference(const Lines& got, const Lines& want) {
    std::size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
    return "line " + std::to_string(i) + ": readers '" + (i < got.size() ? got[i] : "<end>") + "', objdump '" +
           (i < want.size() ? want[i] : "<end>") + "'";
}

void compareWithObjdump(const char* dir, const std::string& objdumpName) {
    const std::vector<fs::path> files = filesIn(dir);
    const std::string objdump = toolOnPath(objdumpName);
    if (files.empty() || objdump.empty()) GTEST_SKIP() << "no files in " << dir << " or no " << objdumpName;
    const std::map<std::string, Listing> expected = objdumpListings(objdump, files);
    ASSERT_EQ(expected.size(), files.size()) << "objdump did not read every file";

    std::size_t mismatches = 0, exporting = 0, forwarding = 0, byOrdinal = 0;
    for (const fs::path& file : files) {
        const Listing& want = expected.at(file.string());
        const Listing got = readersListing(readFile(file));
        exporting += !want.names.empty();
        forwarding += std::any_of(want.addresses.begin(), want.addresses.end(),
                                  [](const std::string& l) { return l.find(" -> ") != std::string::npos; });
        byOrdinal += std::any_of(want.imports.begin(), want.imports.end(),
                                 [](const std::string& l) { return l.rfind("  #", 0) == 0; });
        const std::pair<const Lines*, const Lines*> parts[] = {
            {&got.addresses, &want.addresses}, {&got.names, &want.names}, {&got.imports, &want.imports}};
        for (const auto& [mine, theirs] : parts)
            if (*mine != *theirs && ++mismatches <= 10)
                ADD_FAILURE() << file << "\n  " << firstDifference(*mine, *theirs);
    }
    EXPECT_EQ(mismatches, 0u);
    // The sweep must have met what it is about.
    EXPECT_GT(exporting, files.size() / 2);
    EXPECT_GT(forwarding, 10u);
    EXPECT_GT(byOrdinal, 10u);
}

TEST(PeReadersRealFiles, ExportsAndImportedFunctionsEqualObjdumpForEveryWinePe32File) {
    compareWithObjdump("/usr/lib/i386-linux-gnu/wine/i386-windows", "i686-w64-mingw32-objdump");
}

TEST(PeReadersRealFiles, ExportsAndImportedFunctionsEqualObjdumpForEveryWinePe32PlusFile) {
    compareWithObjdump("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "x86_64-w64-mingw32-objdump");
}

}  // namespace
}  // namespace vost
