// Real compilers' output: mingw-w64 gcc builds a DLL (names, a NONAME
// ordinal, forwarders by name, by ordinal and to a module with a dot in its
// name) and a program importing it by name and by ordinal and delay-loading a
// second DLL through dlltool's delay library. The readers must see exactly
// that. Native only; skipped when a toolchain is missing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/pe_delay_imports.h"
#include "analysis/pe_exports.h"
#include "analysis/pe_headers.h"
#include "analysis/pe_import_functions.h"
#include "analysis/image_map.h"
#include "tests/support/cross_build.h"
#include "tests/support/image_builder.h"

namespace vost {
namespace {

namespace fs = std::filesystem;

const char* const kLibrary = R"(__declspec(dllexport) int f(void) { return 1; }
__declspec(dllexport) int g(void) { return 2; }
int h(void) { return 3; }
)";
const char* const kLibraryDef = R"(LIBRARY vostlib.dll
EXPORTS
  f @1
  g @2
  h @7 NONAME
  fwdName = other.target
  fwdOrd = "other.#5"
  fwdDotted = krnl386.exe16.GetModuleHandle16
)";
const char* const kLateDef = "LIBRARY vostlate.dll\nEXPORTS\n  d1\n  d2 @4 NONAME\n";
const char* const kProgram = R"(int f(void); int h(void); int d1(void); int d2(void);
int main(void) { return f() + h() + d1() + d2(); }
)";

test::Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return test::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string describe(const ImportedModule& module) {
    std::string text = module.name + ":";
    for (const ImportedFunction& f : module.functions)
        text += f.kind == ImportKind::ByName      ? " " + f.name
                : f.kind == ImportKind::ByOrdinal ? " #" + std::to_string(f.ordinal)
                                                  : std::string(" ?");
    return text + (module.cut ? " (cut)" : "");
}

void buildAndRead(const std::string& prefix) {
    const std::string gcc = prefix + "-gcc", dlltool = prefix + "-dlltool", nm = prefix + "-nm";
    if (!test::runCommand("command -v " + gcc + " && command -v " + dlltool + " && command -v " + nm).empty())
        GTEST_SKIP() << "no " << prefix << " toolchain";
    struct TempDir {
        fs::path path;
        ~TempDir() { fs::remove_all(path); }
    } temp{fs::temp_directory_path() / ("vost-readers-" + prefix + "-" + std::to_string(::getpid()))};
    const fs::path& dir = temp.path;
    fs::create_directories(dir);
    for (const auto& [name, text] : {std::pair{"lib.c", kLibrary}, {"lib.def", kLibraryDef},
                                     {"late.def", kLateDef}, {"app.c", kProgram}})
        std::ofstream(dir / name) << text;
    const std::string in = "cd '" + dir.string() + "' && ";
    ASSERT_EQ(test::runCommand(in + gcc + " -shared -o vostlib.dll lib.c lib.def -Wl,--out-implib,libvostlib.a"), "");
    ASSERT_EQ(test::runCommand(in + dlltool + " -d late.def -D vostlate.dll --output-delaylib liblate.a"), "");
    ASSERT_EQ(test::runCommand(in + gcc + " -o app.exe app.c libvostlib.a liblate.a"), "");
    const test::Bytes dll = readFile(dir / "vostlib.dll");
    test::Bytes exe = readFile(dir / "app.exe");
    std::uint32_t dllHeader = 0, exeHeader = 0;
    const ByteView dllView(dll.data(), dll.size());
    ASSERT_TRUE(dllView.readU32(test::kLfanewField, dllHeader));
    ASSERT_TRUE(ByteView(exe.data(), exe.size()).readU32(test::kLfanewField, exeHeader));

    // The DLL's exports.
    const PeExports ex = readPeExports(dllView, dllHeader);
    ASSERT_TRUE(ex.present);
    EXPECT_EQ(ex.faults, 0u);
    EXPECT_EQ(ex.moduleName, "vostlib.dll");
    EXPECT_EQ(ex.ordinalBase, 1u);
    std::vector<std::string> names;
    for (const ExportName& name : ex.names) names.emplace_back(ex.nameOf(name));
    EXPECT_EQ(names, (std::vector<std::string>{"f", "fwdDotted", "fwdName", "fwdOrd", "g"}));
    EXPECT_EQ(ex.findByName("f").kind, ExportKind::Address);
    EXPECT_EQ(ex.findByName("g").rva, ex.findByOrdinal(2).rva);
    EXPECT_NE(ex.findByName("f").rva, ex.findByName("g").rva);
    EXPECT_EQ(ex.findByName("h").kind, ExportKind::NotExported);  // NONAME
    EXPECT_EQ(ex.findByOrdinal(7).kind, ExportKind::Address);
    EXPECT_EQ(ex.findByOrdinal(6).kind, ExportKind::NotExported);
    EXPECT_EQ(ex.findByName("fwdName").forwarder, "other.target");
    ForwarderTarget target;
    ASSERT_TRUE(parseForwarder(ex.findByName("fwdOrd").forwarder, target));
    EXPECT_TRUE(target.byOrdinal && target.ordinal == 5 && target.module == "other");
    ASSERT_TRUE(parseForwarder(ex.findByName("fwdDotted").forwarder, target));
    EXPECT_EQ(target.module, "krnl386.exe16");
    EXPECT_EQ(target.function, "GetModuleHandle16");

    // The program's imports from it, each one found among its exports.
    bool found = false;
    for (const ImportedModule& module : readPeImportFunctions(ByteView(exe.data(), exe.size()), exeHeader)) {
        if (module.name != "vostlib.dll") continue;
        found = true;
        EXPECT_EQ(describe(module), "vostlib.dll: f #7");
        for (const ImportedFunction& f : module.functions)
            EXPECT_EQ((f.kind == ImportKind::ByName ? ex.findByName(f.name) : ex.findByOrdinal(f.ordinal)).kind,
                      ExportKind::Address);
    }
    EXPECT_TRUE(found);

    // Its delay-loaded module, once the directory GNU ld leaves empty is set.
    if (readPeDelayImports(ByteView(exe.data(), exe.size()), exeHeader).empty()) {
        ASSERT_EQ(test::registerDelayDescriptor(exe, nm, (dir / "app.exe").string()), "");
    }
    const std::vector<ImportedModule> delayed = readPeDelayImports(ByteView(exe.data(), exe.size()), exeHeader);
    ASSERT_EQ(delayed.size(), 1u);
    EXPECT_EQ(describe(delayed[0]), "vostlate.dll: d1 #4");
}

TEST(PeReadersCompilers, Pe32DllProgramAndDelayLibrary) { buildAndRead("i686-w64-mingw32"); }
TEST(PeReadersCompilers, Pe32PlusDllProgramAndDelayLibrary) { buildAndRead("x86_64-w64-mingw32"); }

}  // namespace
}  // namespace vost
