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
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"
#include "tests/support/test_scan.h"

namespace vost {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

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

std::vector<fs::path> filesIn(const char* dir, const std::string& extension = "") {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error))
        if (entry.is_regular_file() && (extension.empty() || entry.path().extension() == extension))
            files.push_back(entry.path());
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
