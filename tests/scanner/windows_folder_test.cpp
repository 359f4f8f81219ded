// vostscan --windows end to end over a Windows folder laid out as a Wine
// prefix's: System32 and SysWOW64 are Wine's own module folders, and the
// store holds Common Controls 6.0 for both architectures with Wine's
// comctl32.dll and the manifests a prefix carries.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/scanner/scanner_fixture.h"
#include "tests/support/cross_build.h"
#include "tests/support/fake_platform.h"

namespace vost::test {
namespace {

namespace fs = std::filesystem;

const char* const kWine64 = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
const char* const kWine32 = "/usr/lib/i386-linux-gnu/wine/i386-windows";
const char* const kCommonControls = "microsoft.windows.common-controls_6595b64144ccf1df_6.0.2600.2982_none_deadbeef";

struct WindowsFolder : DiskFolder {
    std::string windows = *this / "drive_c/windows";
    WindowsFolder() {
        fs::create_directories(windows + "/winsxs/manifests");
        fs::create_directory_symlink(kWine64, windows + "/system32");
        fs::create_directory_symlink(kWine32, windows + "/syswow64");
        for (const auto& [arch, folder] : {std::pair{"amd64", kWine64}, std::pair{"x86", kWine32}}) {
            const std::string name = std::string(arch) + "_" + kCommonControls;
            fs::create_directories(windows + "/winsxs/" + name);
            fs::create_symlink(std::string(folder) + "/comctl32.dll", windows + "/winsxs/" + name + "/comctl32.dll");
            std::ofstream(windows + "/winsxs/manifests/" + name + ".manifest")
                << "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                   "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
                   "  <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
                   "version=\"6.0.2600.2982\" processorArchitecture=\""
                << arch << "\" publicKeyToken=\"6595b64144ccf1df\"/>\n"
                   "  <file name=\"comctl32.dll\"><windowClass>Button</windowClass></file>\n</assembly>\n";
        }
    }
};

// The row of `module` in vostscan's list: its path.
std::string listedPath(const std::string& list, const std::string& module) {
    std::istringstream lines(list);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, module.size() + 1, module + "\t") != 0) continue;
        std::size_t at = 0;
        for (int tab = 0; tab < 4 && at != std::string::npos; ++tab) at = line.find('\t', at + 1);
        if (at == std::string::npos) return "";
        return line.substr(at + 1, line.find('\t', at + 1) - at - 1);
    }
    return "";
}

// Each Wine program with a manifest, in each family: comctl32.dll from the
// store with the Windows folder, from the system folder without it.
TEST(VostscanWindowsFolder, ProgramsWithManifestsTakeCommonControlsFromTheStore) {
    if (!fs::is_directory(kWine64) || !fs::is_directory(kWine32)) GTEST_SKIP() << "Wine is not installed";
    WindowsFolder folder;
    for (const char* program : {"notepad.exe", "clock.exe", "winecfg.exe"}) {
        for (const auto& [system, arch] : {std::pair{"system32", "amd64"}, std::pair{"syswow64", "x86"}}) {
            const std::string file = folder.windows + "/" + system + "/" + program;
            const ScannerRun with = runVostscan({"--list", "--windows", folder.windows, file});
            EXPECT_EQ(0, with.status) << with.err;
            EXPECT_EQ(folder.windows + "/winsxs/" + arch + "_" + kCommonControls + "/comctl32.dll",
                      listedPath(with.out, "COMCTL32.DLL"))
                << program << " " << system;
            EXPECT_EQ(folder.windows + "/" + system + "/user32.dll", listedPath(with.out, "USER32.DLL")) << program;
            const ScannerRun json = runVostscan({"--json", "--windows", folder.windows, file});
            EXPECT_NE(std::string::npos, json.out.find("\"foundBy\":\"sideBySide\"")) << program;
        }
    }
    // cmd.exe has no manifest: comctl32.dll, if it is reached, is searched.
    const ScannerRun plain =
        runVostscan({"--list", "--windows", folder.windows, folder.windows + "/system32/cmd.exe"});
    EXPECT_EQ(std::string::npos, plain.out.find("winsxs")) << plain.out;
    // Without --windows the output does not know the store.
    const ScannerRun without = runVostscan({"--list", "--search-dir-64", folder.windows + "/system32",
                                            folder.windows + "/system32/notepad.exe"});
    EXPECT_EQ(folder.windows + "/system32/comctl32.dll", listedPath(without.out, "COMCTL32.DLL"));
    // A Windows folder that is not there is a usage error.
    const ScannerRun missing = runVostscan({"--windows", folder / "nowhere", folder.windows + "/system32/cmd.exe"});
    EXPECT_EQ(2, missing.status);
    EXPECT_NE(std::string::npos, missing.err.find("no such folder")) << missing.err;
}

// The kernel maps System32's API set schema into every process: a 32-bit
// program on a Windows folder whose SysWOW64 holds no apisetschema.dll still
// has its contracts mapped, to SysWOW64's host.
TEST(VostscanWindowsFolder, ThirtyTwoBitProgramsTakeSystem32sSchema) {
    if (!fs::is_directory(kWine64) || !*VOST_CONTRACTS_i686) GTEST_SKIP() << "no Wine or no i686 programs";
    DiskFolder folder;
    const std::string windows = folder / "windows";
    fs::create_directories(windows + "/SysWOW64");
    fs::create_directory_symlink(kWine64, windows + "/System32");
    fs::create_symlink(std::string(kWine32) + "/kernelbase.dll", windows + "/SysWOW64/kernelbase.dll");
    const ScannerRun run =
        runVostscan({"--direct", "--windows", windows, std::string(VOST_CONTRACTS_i686) + "/synch.exe"});
    EXPECT_NE(std::string::npos,
              run.out.find("API-MS-WIN-CORE-SYNCH-L1-2-0.DLL (" + windows + "/SysWOW64/kernelbase.dll"))
        << run.out;
}

// A program whose external manifest names an assembly the store lacks, or
// cannot be read: --check names it and the status says so; the files are
// searched as usual.
TEST(VostscanWindowsFolder, CheckNamesWhatAContextLacks) {
    if (!fs::is_directory(kWine64)) GTEST_SKIP() << "Wine is not installed";
    const struct {
        const char* manifest;
        const char* finding;
        const char* names;
    } cases[] = {
        {"<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"><dependency><dependentAssembly>"
         "<assemblyIdentity type=\"win32\" name=\"Microsoft.VC90.CRT\" version=\"9.0.21022.8\" "
         "processorArchitecture=\"amd64\" publicKeyToken=\"1fc8b3b9a1e18e3b\"/></dependentAssembly></dependency>"
         "</assembly>",
         "missing-assembly", "Microsoft.VC90.CRT"},
        {"<!DOCTYPE assembly [<!ENTITY a \"a\">]><assembly>&a;</assembly>", "bad-manifest", "tool.exe.manifest"},
        {"<assembly><dependency>", "bad-manifest", "tool.exe.manifest"},
    };
    for (const auto& c : cases) {
        WindowsFolder folder;
        fs::create_directories(folder / "app");
        fs::copy_file(std::string(kWine64) + "/cmd.exe", folder / "app/tool.exe");
        std::ofstream(folder / "app/tool.exe.manifest") << c.manifest;
        const ScannerRun run = runVostscan({"--check", "--windows", folder.windows, folder / "app/tool.exe"});
        EXPECT_EQ(3, run.status) << c.finding << run.out << run.err;
        EXPECT_NE(std::string::npos, run.out.find(c.finding)) << run.out;
        EXPECT_NE(std::string::npos, run.out.find(c.names)) << run.out;
    }
}

// A DLL that mingw-w64 builds with a resource-2 manifest of its own, asking
// for Common Controls 6.0, and a program without a manifest that imports it
// and comctl32.dll: the DLL's own import goes to the store, the program's to
// System32.
TEST(VostscanWindowsFolder, ADllResolvesItsOwnImportsUnderItsOwnManifest) {
    if (!fs::is_directory(kWine64) || !fs::is_directory(kWine32)) GTEST_SKIP() << "Wine is not installed";
    if (!runCommand("command -v x86_64-w64-mingw32-gcc && command -v x86_64-w64-mingw32-windres").empty())
        GTEST_SKIP() << "no x86_64 mingw-w64 toolchain";
    WindowsFolder folder;
    const std::string app = folder / "app";
    fs::create_directories(app);
    std::ofstream(app + "/own.c") << "#include <windows.h>\n#include <commctrl.h>\n"
                                     "__declspec(dllexport) void own(void) { InitCommonControls(); }\n";
    std::ofstream(app + "/app.c") << "#include <windows.h>\n#include <commctrl.h>\n"
                                     "__declspec(dllimport) void own(void);\n"
                                     "int main(void) { InitCommonControls(); own(); return 0; }\n";
    std::ofstream(app + "/own.manifest")
        << "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"><dependency>"
           "<dependentAssembly><assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
           "version=\"6.0.0.0\" processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>"
           "</dependentAssembly></dependency></assembly>";
    std::ofstream(app + "/own.rc") << "2 24 \"own.manifest\"\n";
    ASSERT_EQ("", runCommand("cd '" + app + "' && x86_64-w64-mingw32-windres own.rc -O coff -o own.res && "
                             "x86_64-w64-mingw32-gcc -shared -o own.dll own.c own.res -lcomctl32 && "
                             "x86_64-w64-mingw32-gcc -o app.exe app.c own.dll -lcomctl32"));
    const ScannerRun run = runVostscan({"--windows", folder.windows, app + "/app.exe"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("\n  COMCTL32.DLL (" + folder.windows + "/system32/comctl32.dll ["))
        << run.out;
    EXPECT_NE(std::string::npos, run.out.find("\n    COMCTL32.DLL (" + folder.windows + "/winsxs/amd64_" +
                                              kCommonControls + "/comctl32.dll ["))
        << run.out;
}

}  // namespace
}  // namespace vost::test
