// vostscan --check and --delay-load end to end over generated files: the
// findings after the tree and in JSON, exit status 3, the delay-load marker,
// and the same findings whatever the number of threads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/scanner/scanner_fixture.h"
#include "tests/support/fake_platform.h"

namespace vost::test {
namespace {

ImportThunk byName(const std::string& name) { return ImportThunk{name, 0, std::nullopt}; }

Bytes library(const std::vector<std::string>& names, bool wide = false) {
    PeImageLayout layout;
    layout.pe32plus = wide;
    layout.exports.emplace();
    for (const std::string& name : names) layout.exports->entries.push_back(ExportEntry{{name}, 0x40010, ""});
    return buildPe(layout).bytes;
}

// app.exe imports f and g from lib.dll (which lacks g), anything from
// gone.dll (missing) and from wide.dll (64-bit), and delay-loads late.dll
// (missing) and lib.dll's h (missing too).
struct CheckFiles : DiskFolder {
    CheckFiles() {
        PeImageLayout app;
        app.imports = {"lib.dll", "gone.dll", "wide.dll"};
        app.importFunctions = {{byName("f"), byName("g")}, {byName("x")}, {byName("w")}};
        app.delayImports = {{"late.dll", {byName("l")}}, {"LIB.DLL", {byName("h")}}};
        write("app.exe", buildPe(app).bytes);
        write("lib.dll", library({"f"}));
        write("wide.dll", library({"w"}, true));
        write("ok.exe", [] {
            PeImageLayout layout;
            layout.imports = {"lib.dll"};
            layout.importFunctions = {{byName("f")}};
            return buildPe(layout).bytes;
        }());
    }
};

TEST(VostscanCheck, FindingsFollowTheTreeAndGiveStatusThree) {
    CheckFiles files;
    const std::string& d = files.path();
    const ScannerRun run = runVostscan({"--check", "--search-dir", files.path(), files / "app.exe"});
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_EQ(run.out, "APP.EXE(" + d + "/app.exe)\n"
                       "  GONE.DLL (file not found)\n"
                       "  LIB.DLL (" + d + "/lib.dll)\n"
                       "  WIDE.DLL (" + d + "/wide.dll)\n"
                       "unresolved APP.EXE -> LIB.DLL!g (not exported)\n"
                       "not-found APP.EXE -> GONE.DLL\n"
                       "other-machine APP.EXE -> WIDE.DLL (x64, importer i386: " + d + "/wide.dll)\n");

    // Delay-loaded modules join the tree, marked, and the check.
    const ScannerRun delay = runVostscan({"--check", "--delay-load", "--search-dir", files.path(), files / "app.exe"});
    EXPECT_EQ(delay.status, 3);
    EXPECT_EQ(delay.out, "APP.EXE(" + d + "/app.exe)\n"
                         "  GONE.DLL (file not found)\n"
                         "  LATE.DLL (file not found) [delay-load]\n"
                         "  LIB.DLL (" + d + "/lib.dll)\n"
                         "  WIDE.DLL (" + d + "/wide.dll)\n"
                         "unresolved APP.EXE -> LIB.DLL!g (not exported)\n"
                         "not-found APP.EXE -> GONE.DLL\n"
                         "other-machine APP.EXE -> WIDE.DLL (x64, importer i386: " + d + "/wide.dll)\n"
                         "not-found APP.EXE -> LATE.DLL (delay-load)\n"
                         "unresolved APP.EXE -> LIB.DLL!h (delay-load; not exported)\n");

    // The list as copied: a module only delay-loads name is marked after its
    // name; one both imported and delay-loaded is listed as imported.
    const std::string list = runVostscan({"--list", "--delay-load", "--search-dir", files.path(), files / "app.exe"}).out;
    EXPECT_NE(list.find("\r\nLATE.DLL [delay-load]\t"), std::string::npos) << list;
    EXPECT_NE(list.find("\r\nLIB.DLL\t"), std::string::npos) << list;

    // Nothing to report: status 0 and the plain tree.
    const ScannerRun ok = runVostscan({"--check", "--search-dir", files.path(), files / "ok.exe"});
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.out, runVostscan({"--search-dir", files.path(), files / "ok.exe"}).out);

    // A file that cannot be scanned outweighs a finding; the list is
    // followed by the findings too.
    const ScannerRun both =
        runVostscan({"--check", "--list", "--search-dir", files.path(), files / "app.exe", files / "none.exe"});
    EXPECT_EQ(both.status, 1);
    EXPECT_NE(both.out.find("\r\nunresolved APP.EXE -> LIB.DLL!g (not exported)\n"), std::string::npos) << both.out;
}

TEST(VostscanCheck, JsonGivesTheFindingsPerModuleAndTheDelayLoadField) {
    CheckFiles files;
    const std::string& d = files.path();
    const ScannerRun plain = runVostscan({"--json", "--search-dir", files.path(), files / "app.exe"});
    EXPECT_EQ(plain.out.find("delayLoad"), std::string::npos);
    EXPECT_EQ(plain.out.find("\"check\""), std::string::npos);

    const ScannerRun run =
        runVostscan({"--json", "--check", "--delay-load", "--search-dir", files.path(), files / "app.exe"});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.out.find("\"label\":\"LATE.DLL (file not found)\",\"module\":\"LATE.DLL\",\"path\":\"file not "
                           "found\",\"fileVersion\":\"\",\"productVersion\":\"\",\"hasChildren\":0,\"delayLoad\":true"),
              std::string::npos);
    EXPECT_NE(run.out.find("\"module\":\"LIB.DLL\",\"path\":\"" + d + "/lib.dll\",\"fileVersion\":\"\","
                           "\"productVersion\":\"\",\"hasChildren\":0,\"delayLoad\":false"),
              std::string::npos);
    EXPECT_NE(run.out.find("\"path\":\"file not found\",\"lastWriteTime\":0,\"delayLoad\":true}"), std::string::npos);
    const std::string check = run.out.substr(run.out.find(",\"check\":"));
    EXPECT_EQ(check,
              ",\"check\":{\"unresolved\":5,\"modules\":["
              "{\"module\":\"APP.EXE\",\"path\":\"" + d + "/app.exe\",\"machine\":\"i386\",\"importedModules\":5,"
              "\"importedFunctions\":6,\"findings\":["
              "{\"kind\":\"unresolved\",\"module\":\"lib.dll\",\"path\":\"" + d + "/lib.dll\",\"delayLoad\":false,"
              "\"function\":\"g\",\"reason\":\"not exported\"},"
              "{\"kind\":\"not-found\",\"module\":\"gone.dll\",\"path\":\"\",\"delayLoad\":false},"
              "{\"kind\":\"other-machine\",\"module\":\"wide.dll\",\"path\":\"" + d + "/wide.dll\",\"delayLoad\":false,"
              "\"machine\":\"x64\"},"
              "{\"kind\":\"not-found\",\"module\":\"late.dll\",\"path\":\"\",\"delayLoad\":true},"
              "{\"kind\":\"unresolved\",\"module\":\"LIB.DLL\",\"path\":\"" + d + "/lib.dll\",\"delayLoad\":true,"
              "\"function\":\"h\",\"reason\":\"not exported\"}]},"
              "{\"module\":\"LIB.DLL\",\"path\":\"" + d + "/lib.dll\",\"machine\":\"i386\",\"importedModules\":0,"
              "\"importedFunctions\":0,\"findings\":[]},"
              "{\"module\":\"WIDE.DLL\",\"path\":\"" + d + "/wide.dll\",\"machine\":\"x64\",\"importedModules\":0,"
              "\"importedFunctions\":0,\"findings\":[]}]}}\n");
}

// A 16-bit module's missing references come from the tree; with --direct
// only the root is checked.
TEST(VostscanCheck, SixteenBitModulesAndDirectScans) {
    DiskFolder files;
    NeImageLayout ne;
    ne.names = {"GDI", "NOSUCH"};
    ne.reference({0, 1});
    files.write("old.exe", buildNe(ne).bytes);
    files.write("GDI.EXE", buildNe(NeImageLayout{}).bytes);
    const ScannerRun run = runVostscan({"--check", "--search-dir", files.path(), files / "old.exe"});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.out.find("\nnot-found OLD.EXE -> NOSUCH.DLL\n"), std::string::npos) << run.out;

    PeImageLayout top;
    top.imports = {"mid.dll"};
    top.importFunctions = {{byName("m")}};
    files.write("top.exe", buildPe(top).bytes);
    PeImageLayout mid;
    mid.imports = {"deep.dll"};
    mid.exports.emplace();
    mid.exports->entries = {ExportEntry{{"m"}, 0x40010, ""}};
    files.write("mid.dll", buildPe(mid).bytes);
    EXPECT_EQ(runVostscan({"--check", "--search-dir", files.path(), files / "top.exe"}).status, 3);
    EXPECT_EQ(runVostscan({"--check", "--direct", "--search-dir", files.path(), files / "top.exe"}).status, 0);
}

// The run's shared cache gives every file the same findings on any number
// of threads, in the order of the files.
// --imports under each item says what the check says of each function, and
// --exports lists the file's table; without a finding nothing changes.
TEST(VostscanCheck, ImportsUnderEachItemAgreeWithTheFindings) {
    CheckFiles files;
    const std::string& d = files.path();
    const ScannerRun run = runVostscan(
        {"--check", "--delay-load", "--imports", "--exports", "--search-dir", files.path(), files / "app.exe"});
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_EQ(run.out, "APP.EXE(" + d + "/app.exe)\n"
                       "  GONE.DLL (file not found)\n"
                       "    x (hint 0) -> missing: module not found\n"
                       "  LATE.DLL (file not found) [delay-load]\n"
                       "    l (hint 0) -> missing: module not found\n"
                       "  LIB.DLL (" + d + "/lib.dll)\n"
                       "    f (hint 0) -> ordinal 1\n"
                       "    g (hint 0) -> missing: not exported\n"
                       "    h (hint 0) -> missing: not exported\n"
                       "  WIDE.DLL (" + d + "/wide.dll)\n"
                       "    w (hint 0) -> missing: " + d + "/wide.dll is of machine x64\n"
                       "unresolved APP.EXE -> LIB.DLL!g (not exported)\n"
                       "not-found APP.EXE -> GONE.DLL\n"
                       "other-machine APP.EXE -> WIDE.DLL (x64, importer i386: " + d + "/wide.dll)\n"
                       "not-found APP.EXE -> LATE.DLL (delay-load)\n"
                       "unresolved APP.EXE -> LIB.DLL!h (delay-load; not exported)\n"
                       "exports of " + d + "/app.exe: no export table\n");
    const ScannerRun lib = runVostscan({"--exports", "--json", "--search-dir", files.path(), files / "lib.dll"});
    EXPECT_NE(lib.out.find(",\"exports\":{\"ordinalBase\":1,\"entries\":[{\"ordinal\":1,\"hint\":0,"
                           "\"name\":\"f\",\"rva\":262160}]}}\n"),
              std::string::npos)
        << lib.out;
    const ScannerRun json = runVostscan({"--imports", "--json", "--search-dir", files.path(), files / "app.exe"});
    EXPECT_NE(json.out.find("\"imports\":[{\"name\":\"f\",\"hint\":0,\"resolved\":true,\"resolution\":\"ordinal 1\"},"
                            "{\"name\":\"g\",\"hint\":0,\"resolved\":false,\"resolution\":\"missing: not exported\"}]"),
              std::string::npos)
        << json.out;
}

TEST(VostscanCheck, ParallelRunsAgree) {
    CheckFiles files;
    std::vector<std::string> one{"-j1", "--check", "--delay-load", "--search-dir", files.path()};
    for (int i = 0; i < 24; ++i) one.push_back(files / (i % 3 ? "app.exe" : "ok.exe"));
    std::vector<std::string> four = one;
    four[0] = "-j4";
    const ScannerRun a = runVostscan(one), b = runVostscan(four);
    EXPECT_EQ(a.status, 3);
    EXPECT_EQ(b.status, 3);
    EXPECT_EQ(a.out, b.out);
}

}  // namespace
}  // namespace vost::test
