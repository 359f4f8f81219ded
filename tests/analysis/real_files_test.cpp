// Wine's own modules as input: the PE walker lists exactly the modules that
// objdump lists for each of Wine's PE files, and Wine's NE fonts walk cleanly.
// Native only; skipped when the files or objdump are missing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/module_functions.h"
#include "analysis/ne_functions.h"
#include "tests/support/objdump_listing.h"
#include "tests/support/image_builder.h"
#include "tests/support/test_scan.h"

namespace vost {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using test::filesIn;

const char* const kWinePeDir = "/usr/lib/i386-linux-gnu/wine/i386-windows";
const char* const kWinePe64Dir = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
const char* const kWineFontDir = "/usr/share/wine/fonts";

test::Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    test::Bytes bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    return bytes;
}

std::vector<fs::path> filesIn(const char* dir, const std::string& extension) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error))
        if (entry.is_regular_file() && entry.path().extension() == extension) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

bool haveObjdump(const char* objdump = VOST_OBJDUMP) {
    return std::string(objdump).size() > 0 && fs::exists(objdump);
}

// One objdump run over all files; the "DLL Name:" lines of each file, by path.
std::map<std::string, Names> objdumpImports(const std::vector<fs::path>& files,
                                            const char* objdump = VOST_OBJDUMP) {
    std::string command = std::string("'") + objdump + "' -p";
    for (const fs::path& file : files) command += " '" + file.string() + "'";
    command += " 2>/dev/null";
    std::map<std::string, Names> imports;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return imports;
    std::string current;
    char line[4096];
    const std::string formatMark = ":     file format ";
    const std::string dllMark = "\tDLL Name: ";
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        const std::size_t format = text.find(formatMark);
        if (format != std::string::npos && text[0] == '/') {
            current = text.substr(0, format);
            imports[current];
        } else if (text.compare(0, dllMark.size(), dllMark) == 0) {
            imports[current].push_back(text.substr(dllMark.size()));
        }
    }
    pclose(pipe);
    return imports;
}

struct Walk {
    int result;
    Names names;
    std::size_t messages;
};

Walk scanFile(const std::string& path, test::Bytes bytes) {
    test::TestScan scan;
    scan.platform.addFile(path, std::move(bytes));
    ModuleNode& root = scan.root(path);
    const int result = scanModule(scan.ctx, root);
    return Walk{result, scan.referencedNames(), scan.platform.messages.size()};
}

std::string joined(const Names& names) {
    std::string text;
    for (const std::string& name : names) text += name + " ";
    return text;
}

// The walker's modules, in order, equal objdump's "DLL Name:" lines for every
// file of `dir`.
void compareWalkerWithObjdump(const char* dir, const char* objdump) {
    const std::vector<fs::path> files = filesIn(dir);
    if (files.empty() || !haveObjdump(objdump)) GTEST_SKIP() << "no files in " << dir << " or no mingw objdump";
    const std::map<std::string, Names> expected = objdumpImports(files, objdump);
    ASSERT_EQ(expected.size(), files.size()) << "objdump did not read every file";

    std::size_t mismatches = 0, withImports = 0;
    for (const fs::path& file : files) {
        const Names& want = expected.at(file.string());
        const Walk got = scanFile(file.string(), readFile(file));
        withImports += !want.empty();
        if (got.names != want || got.result != (want.empty() ? 0 : 1) || got.messages != 0) {
            if (++mismatches <= 10)
                ADD_FAILURE() << file << "\n  walker:  " << joined(got.names) << "(result " << got.result
                              << ")\n  objdump: " << joined(want);
        }
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GT(withImports, files.size() / 2);
    testing::Test::RecordProperty("files", int(files.size()));
}

TEST(RealFiles, WalkerListsTheSameModulesAsObjdumpForEveryWinePeFile) {
    compareWalkerWithObjdump(kWinePeDir, VOST_OBJDUMP);
}

// Wine's 64-bit files are PE32+: the import directory of the wide layout.
TEST(RealFiles, WalkerListsTheSameModulesAsObjdumpForEveryWinePe32PlusFile) {
    compareWalkerWithObjdump(kWinePe64Dir, VOST_OBJDUMP64);
}

TEST(RealFiles, EveryWineFontWalksAsNe) {
    const std::vector<fs::path> fonts = filesIn(kWineFontDir, ".fon");
    if (fonts.empty()) GTEST_SKIP() << "no Wine fonts";
    for (const fs::path& font : fonts) {
        const Walk got = scanFile(font.string(), readFile(font));
        EXPECT_EQ(got.result, 1) << font;
        EXPECT_EQ(got.messages, 0u) << font;
    }
}

// What an NE module exports and imports, as lines both sides write the same
// way: "ORDINAL SEGMENT:OFFSET NAME" ("ORDINAL const VALUE NAME" for a
// constant), and per imported module its functions once each, in the order
// first met ("#ORDINAL" or the name).
struct NeListing {
    Names entries;
    std::map<std::string, Names> imports;
};

NeListing readersNe(const test::Bytes& bytes) {
    NeListing listing;
    const ByteView image(bytes.data(), bytes.size());
    const std::uint32_t newHeader = test::getU32(bytes, test::kLfanewField);
    const PeExports exports = readNeExports(image, newHeader);  // the rows' names point into it
    for (const ExportRow& row : exportRows(exports)) {
        char location[24];
        if (row.rva >> 16 == kNeConstantSegment) std::snprintf(location, sizeof location, "const %04x", row.rva & 0xFFFF);
        else std::snprintf(location, sizeof location, "%u:%04x", row.rva >> 16, row.rva & 0xFFFF);
        listing.entries.push_back(std::to_string(row.ordinal) + " " + location + " " + std::string(row.name));
    }
    for (const ImportedModule& m : readNeImports(image, newHeader))
        for (const ImportedFunction& f : m.functions) listing.imports[m.name].push_back(importedFunctionText(f));
    return listing;
}

// The same from Wine's winedump: its "Exported entry points" and each
// segment's "Relocations" (MODULE.ORDINAL or MODULE.NAME).
NeListing winedumpNe(const fs::path& file) {
    NeListing listing;
    FILE* pipe = popen(("winedump -x '" + file.string() + "' 2>/dev/null").c_str(), "r");
    if (!pipe) return listing;
    char line[1024];
    bool inEntries = false;
    std::map<std::string, std::set<std::string>> seen;
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        if (text == "Exported entry points:") {
            inEntries = true;
            continue;
        }
        unsigned ordinal = 0, segment = 0, offset = 0;
        char kind[16] = {}, location[32] = {};
        int used = 0;
        if (inEntries && std::sscanf(text.c_str(), "%u %15s %31s%n", &ordinal, kind, location, &used) == 3) {
            const std::string name = used < int(text.size()) ? text.substr(std::size_t(used) + 1) : "";
            std::string shown = std::string(kind) == "CONST" ? "const " + std::string(location) : location;
            if (std::sscanf(location, "%u:%x", &segment, &offset) == 2) {
                char canonical[24];
                std::snprintf(canonical, sizeof canonical, "%u:%04x", segment, offset);
                shown = canonical;
            }
            listing.entries.push_back(std::to_string(ordinal) + " " + shown + " " + name);
            continue;
        }
        if (text.empty()) inEntries = false;
        const std::size_t equals = text.find(" = ");
        if (equals == std::string::npos || text.find(": ") == std::string::npos) continue;
        const std::string target = text.substr(equals + 3);
        const std::size_t dot = target.find('.');
        if (dot == std::string::npos || dot == 0 || target.find(':') != std::string::npos) continue;
        const std::string module = neModuleFileName(target.substr(0, dot));
        std::string function = target.substr(dot + 1);
        if (!function.empty() && std::all_of(function.begin(), function.end(), ::isdigit)) function = "#" + function;
        if (seen[module].insert(function).second) listing.imports[module].push_back(function);
    }
    pclose(pipe);
    return listing;
}

// Our NE readers against Wine's winedump: every NE font of Wine, and builder
// modules with every kind of entry and both kinds of import.
TEST(RealFiles, NeEntriesAndImportsEqualWinedump) {
    if (test::toolOnPath("winedump").empty()) GTEST_SKIP() << "no winedump (wine64-tools)";
    std::vector<std::pair<fs::path, test::Bytes>> files;
    for (const fs::path& font : filesIn(kWineFontDir, ".fon")) files.emplace_back(font, readFile(font));
    const fs::path dir = fs::temp_directory_path() / ("vost-ne-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    test::NeImageLayout layouts[2];
    layouts[0].names = {"KERNEL", "GDI", "TEXTOUT", "VostLib"};
    layouts[0].reference({0, 1, 3});
    layouts[0].entries = {{1, 1, 0x10, "FIRST"}, {2, 1, 0x20, ""}, {5, 0xFF, 0x100, "MOVED", false, 2},
                          {6, 0xFE, 0x1234, "CONSTANT"}, {300, 1, 0x30, "FAR"}};
    layouts[0].relocations = {{1, 3}, {2, 0, 2}, {1, 3}, {3, 7}, {2, 0, 2}, {1, 91}};
    for (std::uint16_t i = 1; i <= 600; ++i)
        layouts[1].entries.push_back({i, std::uint8_t(i % 3 ? 1 : 0xFF), std::uint16_t(i * 4), "E" + std::to_string(i),
                                      i % 2 == 0, 3});
    for (std::size_t i = 0; i < 2; ++i) {
        const test::Bytes bytes = test::buildNe(layouts[i]).bytes;
        files.emplace_back(dir / ("built" + std::to_string(i) + ".dll"), bytes);
        std::ofstream(files.back().first, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    std::size_t entries = 0, imports = 0;
    for (const auto& [path, bytes] : files) {
        const NeListing ours = readersNe(bytes), theirs = winedumpNe(path);
        EXPECT_EQ(ours.entries, theirs.entries) << path;
        EXPECT_EQ(ours.imports, theirs.imports) << path;
        entries += ours.entries.size();
        imports += ours.imports.size();
    }
    fs::remove_all(dir);
    EXPECT_GT(entries, 600u);
    EXPECT_EQ(imports, 3u);
}

// The builder's images are real PE files: objdump reads the same imports.
// (objdump reads names only inside the import directory's own section, so
// images with names in .rdata are not compared here.)
TEST(RealFiles, ObjdumpReadsTheBuildersImages) {
    if (!haveObjdump()) GTEST_SKIP() << "no mingw objdump";
    const fs::path dir = fs::temp_directory_path() / ("vost-builder-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    struct Case {
        std::string file;
        test::PeImageLayout layout;
    };
    std::vector<Case> cases(2);
    cases[0].file = "plain.dll";
    cases[0].layout.imports = {"KERNEL32.dll", "USER32.dll"};
    cases[1].file = "split.dll";
    cases[1].layout.imports = {"ntdll.dll", "msvcrt.dll", "GDI32.dll"};
    cases[1].layout.version = FixedFileVersion{0x00050001, 0x0A280000, 0x00050001, 0x0A280000};
    std::vector<fs::path> paths;
    for (const Case& c : cases) {
        paths.push_back(dir / c.file);
        const test::Bytes bytes = test::buildPe(c.layout).bytes;
        std::ofstream(paths.back(), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                           std::streamsize(bytes.size()));
    }
    const std::map<std::string, Names> read = objdumpImports(paths);
    fs::remove_all(dir);
    ASSERT_EQ(read.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(read.at(paths[i].string()), cases[i].layout.imports) << cases[i].file;
}

}  // namespace
}  // namespace vost
