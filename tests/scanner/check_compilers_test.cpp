// vostscan --check on programs that real compilers made: mingw-w64 gcc and
// dlltool (i686 and x86_64) build tests/check_programs into two folders,
// one with every module, one with a vostlib.dll that lacks g and without
// the modules a forwarder and the delay-load name; clang and lld-link build a
// program whose delay-load directory the linker writes itself. Natively,
// with Wine's folder of each bitness standing for the system folder.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "analysis/pe_delay_imports.h"
#include "analysis/pe_headers.h"
#include "analysis/image_map.h"
#include "scanner/scanner.h"
#include "tests/scanner/scanner_fixture.h"
#include "tests/support/cross_build.h"
#include "tests/support/fake_platform.h"

namespace vost::test {
namespace {

namespace fs = std::filesystem;

bool have(const std::string& tool) { return test::runCommand("command -v " + tool).empty(); }

// The program as GNU ld left it, with its delay-load directory set
// (cross_build.h); left alone when a linker set it already.
void registerDelayDescriptor(const fs::path& exe, const std::string& nm) {
    std::ifstream in(exe, std::ios::binary);
    test::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const ByteView image(bytes.data(), bytes.size());
    std::uint32_t newHeader = 0;
    ASSERT_TRUE(image.readU32(kLfanewField, newHeader));
    if (!readPeDelayImports(image, newHeader).empty()) return;
    ASSERT_EQ(test::registerDelayDescriptor(bytes, nm, exe.string()), "");
    std::ofstream(exe, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The finding lines of a run, as a set (their order is the linker's).
std::set<std::string> findingLines(const std::string& out) {
    std::set<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        for (const char* kind : {"unresolved ", "not-found ", "other-machine ", "not-an-image "})
            if (line.rfind(kind, 0) == 0) lines.insert(line);
    return lines;
}

struct Toolchain {
    std::string prefix;       // i686-w64-mingw32 or x86_64-w64-mingw32
    std::string wineFolder;   // Wine's PE files of that bitness
    std::string searchOption; // --search-dir or --search-dir-64
    std::string msvcTarget;   // clang's target for the lld-link build
    std::string machine;      // lld-link's and llvm-dlltool's names for it
    std::string dlltoolMachine;
};

void buildAndCheck(const Toolchain& t) {
    const std::string gcc = t.prefix + "-gcc", dlltool = t.prefix + "-dlltool", nm = t.prefix + "-nm";
    if (!have(gcc) || !have(dlltool) || !have(nm)) GTEST_SKIP() << "no " << t.prefix << " toolchain";
    if (!fs::is_directory(t.wineFolder)) GTEST_SKIP() << t.wineFolder << " is missing";
    struct TempDir {
        fs::path path;
        ~TempDir() { fs::remove_all(path); }
    } temp{fs::temp_directory_path() / ("vost-check-" + t.prefix + "-" + std::to_string(::getpid()))};
    const fs::path one = temp.path / "one", two = temp.path / "two";
    fs::create_directories(one);
    fs::create_directories(two);
    const std::string src = std::string(VOST_SOURCE_DIR) + "/tests/check_programs/";
    const std::string in = "cd '" + temp.path.string() + "' && ";

    ASSERT_EQ(test::runCommand(in + gcc + " -shared -o one/vostlib.dll " + src + "vostlib.c " + src + "vostlib.def"), "");
    ASSERT_EQ(test::runCommand(in + gcc + " -shared -DVOST_WITHOUT_G -o two/vostlib.dll " + src + "vostlib.c " + src +
                  "vostlib-without-g.def"),
              "");
    ASSERT_EQ(test::runCommand(in + gcc + " -shared -o one/vostother.dll " + src + "vostother.c " + src + "vostother.def"), "");
    ASSERT_EQ(test::runCommand(in + gcc + " -shared -o one/vostdot.v2 " + src + "vostdot.c " + src + "vostdot.def"), "");
    ASSERT_EQ(test::runCommand(in + gcc + " -shared -o one/vostlate.dll " + src + "vostlate.c " + src + "vostlate.def"), "");
    ASSERT_EQ(test::runCommand(in + dlltool + " -d " + src + "app-imports.def -l libvostlib.a"), "");
    ASSERT_EQ(test::runCommand(in + dlltool + " -d " + src + "vostlate.def -D vostlate.dll --output-delaylib libvostlate.a"), "");
    ASSERT_EQ(test::runCommand(in + gcc + " -o one/app.exe " + src + "app.c libvostlib.a libvostlate.a"), "");
    registerDelayDescriptor(one / "app.exe", nm);
    fs::copy_file(one / "app.exe", two / "app.exe");
    fs::copy_file(one / "vostother.dll", two / "vostother.dll");

    const auto check = [&](const fs::path& program, bool delayLoads) {
        std::vector<std::string> arguments{"--check", t.searchOption, t.wineFolder, program.string()};
        if (delayLoads) arguments.insert(arguments.begin(), "--delay-load");
        return runVostscan(arguments);
    };
    const std::set<std::string> always{
        "unresolved APP.EXE -> VOSTLIB.DLL!#9 (not exported)",
        "unresolved APP.EXE -> VOSTLIB.DLL!fwdNoModule (forwarded to vostnone.anything: vostnone.dll not found)",
        "unresolved APP.EXE -> VOSTLIB.DLL!fwdNoFunction (forwarded to vostother.absent: not exported)",
        "unresolved APP.EXE -> VOSTLIB.DLL!fwdLoop (forwarded to vostlib.fwdLoop: forwarding loop)"};

    // Everything there: f, g, h by ordinal, the forwards by name, by
    // ordinal and to "vostdot.v2" resolve; the delay-loaded module is found.
    ScannerRun r = check(one / "app.exe", true);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(findingLines(r.out), always) << r.out;
    EXPECT_NE(r.out.find("  VOSTLATE.DLL (" + (one / "vostlate.dll").string() + ") [delay-load]\n"),
              std::string::npos)
        << r.out;

    // The second folder: g is gone, so are vostdot.v2 and vostlate.dll.
    r = check(two / "app.exe", true);
    std::set<std::string> expected = always;
    expected.insert("unresolved APP.EXE -> VOSTLIB.DLL!g (not exported)");
    expected.insert("unresolved APP.EXE -> VOSTLIB.DLL!fwdDotted (forwarded to vostdot.v2.dotted: vostdot.v2 not found)");
    expected.insert("not-found APP.EXE -> VOSTLATE.DLL (delay-load)");
    EXPECT_EQ(findingLines(r.out), expected) << r.out;
    expected.erase("not-found APP.EXE -> VOSTLATE.DLL (delay-load)");
    EXPECT_EQ(findingLines(check(two / "app.exe", false).out), expected);

    // A delay-load directory that the linker wrote.
    if (!have("clang") || !have("lld-link") || !have("llvm-dlltool")) {
        std::printf("no clang, lld-link or llvm-dlltool: the lld-link program is left out\n");
        return;
    }
    const std::string safeSeh = t.machine == "x86" ? " /safeseh:no" : "";
    ASSERT_EQ(test::runCommand(in + "clang --target=" + t.msvcTarget + " -O1 -c -o delay-app.obj " + src + "delay-app.c"), "");
    ASSERT_EQ(test::runCommand(in + "llvm-dlltool -m " + t.dlltoolMachine + " -d " + src + "vostlate.def -l vostlate.lib"), "");
    ASSERT_EQ(test::runCommand(in + "lld-link /nodefaultlib /entry:start /subsystem:console /machine:" + t.machine + safeSeh +
                  " /out:one/dapp.exe delay-app.obj vostlate.lib /delayload:vostlate.dll"),
              "");
    fs::copy_file(one / "dapp.exe", two / "dapp.exe");
    r = check(one / "dapp.exe", true);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("  VOSTLATE.DLL (" + (one / "vostlate.dll").string() + ") [delay-load]\n"),
              std::string::npos)
        << r.out;
    r = check(two / "dapp.exe", true);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "DAPP.EXE(" + (two / "dapp.exe").string() + ")\n"
                     "  VOSTLATE.DLL (file not found) [delay-load]\n"
                     "not-found DAPP.EXE -> VOSTLATE.DLL (delay-load)\n");
    // Without the option the program references nothing.
    EXPECT_EQ(check(two / "dapp.exe", false).status, 0);
}

TEST(CheckCompilers, Pe32ProgramsOfGccDlltoolAndLldLink) {
    buildAndCheck({"i686-w64-mingw32", kDefaultSearchDir, "--search-dir", "i686-pc-windows-msvc", "x86", "i386"});
}
TEST(CheckCompilers, Pe32PlusProgramsOfGccDlltoolAndLldLink) {
    buildAndCheck(
        {"x86_64-w64-mingw32", kDefaultSearchDir64, "--search-dir-64", "x86_64-pc-windows-msvc", "x64", "i386:x86-64"});
}

}  // namespace
}  // namespace vost::test
