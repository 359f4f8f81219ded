// vostscan end to end over generated files on disk and the POSIX layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sys/time.h>
#include <unistd.h>

#include "analysis/scan_module.h"
#include "scanner/copy_to_folder.h"
#include "scanner/output.h"
#include "tests/scanner/scanner_fixture.h"
#include "tests/support/fake_platform.h"
#include "tests/support/path_table.h"

namespace vost::test {
namespace {

constexpr long long kUnixTo1601 = 11644473600LL;
constexpr long long kMarch4th2021 = 1614859200;  // 2021-03-04 12:00 UTC

void setTime(const std::string& path, long long unixSeconds) {
    const struct timeval times[2] = {{static_cast<time_t>(unixSeconds), 0}, {static_cast<time_t>(unixSeconds), 0}};
    ASSERT_EQ(utimes(path.c_str(), times), 0);
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Root.EXE imports a.dll (system folder) and Missing.dll; a.dll imports "B",
// found only next to the root, which imports the root in another case.
struct Files : DiskFolder {
    Files() {
        makeFolder("sys");
        makeFolder("App");
        writePe("App/Root.EXE", {"a.dll", "Missing.dll"});
        writePe("sys/a.dll", {"B"});
        writePe("App/b.dll", {"ROOT.exe"});
        for (const char* f : {"App/Root.EXE", "sys/a.dll", "App/b.dll"}) setTime(*this / f, kMarch4th2021);
    }
    std::string root() const { return *this / "App/Root.EXE"; }
    std::string sys() const { return *this / "sys"; }
};

TEST(Vostscan, TreeOfTheClosure) {
    Files files;
    const ScannerRun run = runVostscan({"--search-dir", files.sys(), files.root()});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string& d = files.path();
    EXPECT_EQ(run.out, "ROOT.EXE(" + d + "/App/Root.EXE)\n"
                       "  A.DLL (" + d + "/sys/a.dll)\n"
                       "    B (" + d + "/App/b.dll)\n"
                       "      ROOT.EXE (" + d + "/App/Root.EXE)\n"
                       "  MISSING.DLL (file not found)\n");

    const ScannerRun direct = runVostscan({"--direct", "--search-dir", files.sys(), files.root()});
    EXPECT_EQ(direct.out, "ROOT.EXE(" + d + "/App/Root.EXE)\n"
                          "  A.DLL (" + d + "/sys/a.dll)\n"
                          "  MISSING.DLL (file not found)\n");
}

// A 64-bit program's references are looked for in the folders for 64-bit
// modules, a 32-bit one's in those for 32-bit modules.
TEST(Vostscan, EachFamilyIsSearchedInItsOwnFolders) {
    DiskFolder files;
    for (const char* folder : {"sys32", "sys64", "app"}) files.makeFolder(folder);
    PeImageLayout layout;
    layout.imports = {"shared.dll"};
    layout.pe32plus = true;
    files.write("app/wide.exe", buildPe(layout).bytes);
    layout.imports = {"inner.dll"};
    files.write("sys64/shared.dll", buildPe(layout).bytes);
    files.write("sys64/inner.dll", buildPe(PeImageLayout{}).bytes);
    layout.pe32plus = false;
    layout.imports = {"shared.dll"};
    files.write("app/narrow.exe", buildPe(layout).bytes);
    files.write("sys32/shared.dll", buildPe(PeImageLayout{}).bytes);

    const std::string d = files.path();
    const ScannerRun run = runVostscan({"--search-dir", files / "sys32", "--search-dir-64=" + files / "sys64",
                                        files / "app/wide.exe", files / "app/narrow.exe"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "WIDE.EXE(" + d + "/app/wide.exe)\n"
                       "  SHARED.DLL (" + d + "/sys64/shared.dll)\n"
                       "    INNER.DLL (" + d + "/sys64/inner.dll)\n"
                       "NARROW.EXE(" + d + "/app/narrow.exe)\n"
                       "  SHARED.DLL (" + d + "/sys32/shared.dll)\n");
    EXPECT_EQ(runVostscan({"--search-dir-64", "", "x.exe"}).status, 2);
}

TEST(Vostscan, ScansInOneRunKeepTheirOwnFolders) {
    // Same module name next to two roots: each scan of the run finds its own.
    DiskFolder files;
    files.makeFolder("one");
    files.makeFolder("two");
    files.writePe("one/r.exe", {"near.dll"});
    files.writePe("two/r.exe", {"near.dll"});
    files.writePe("one/near.dll", {"first.dll"});
    files.writePe("two/near.dll", {"second.dll"});
    const ScannerRun run = runVostscan({"--search-dir", files / "one", files / "two/r.exe", files / "one/r.exe",
                                        files / "two/r.exe"});
    const std::string d = files.path();
    const std::string two = "R.EXE(" + d + "/two/r.exe)\n  NEAR.DLL (" + d + "/two/near.dll)\n"
                            "    SECOND.DLL (file not found)\n";
    const std::string one = "R.EXE(" + d + "/one/r.exe)\n  NEAR.DLL (" + d + "/one/near.dll)\n"
                            "    FIRST.DLL (file not found)\n";
    // Each root's own folder comes before the system folder, as the loader
    // looks in a program's folder first.
    EXPECT_EQ(run.out, two + one + two);
    const ScannerRun own = runVostscan({"--search-dir", files / "none", files / "two/r.exe", files / "one/r.exe"});
    EXPECT_EQ(own.out, "R.EXE(" + d + "/two/r.exe)\n  NEAR.DLL (" + d + "/two/near.dll)\n"
                       "    SECOND.DLL (file not found)\n"
                       "R.EXE(" + d + "/one/r.exe)\n  NEAR.DLL (" + d + "/one/near.dll)\n"
                       "    FIRST.DLL (file not found)\n");
}

TEST(Vostscan, ListIsTheClipboardTextAndSortsLikeColumnClicks) {
    Files files;
    const std::string& d = files.path();
    const std::string header = "Module\tDate\tFileversion\tProductversion\tPath\t\r\n\r\n";
    const std::string root = "ROOT.EXE\t3/4/2021\t\t\t" + d + "/App/Root.EXE\t\r\n";
    const std::string b = "B\t3/4/2021\t\t\t" + d + "/App/b.dll\t\r\n";
    const std::string a = "A.DLL\t3/4/2021\t\t\t" + d + "/sys/a.dll\t\r\n";
    const std::string missing = "MISSING.DLL\t\t\t\tfile not found\t\r\n";

    EXPECT_EQ(runVostscan({"--list", "--search-dir", files.sys(), files.root()}).out,
              header + root + b + a + missing);
    EXPECT_EQ(runVostscan({"--list", "--sort", "path", "--search-dir", files.sys(), files.root()}).out,
              header + b + root + a + missing);
    EXPECT_EQ(runVostscan({"--list", "--sort=Module:desc", "--search-dir", files.sys(), files.root()}).out,
              header + root + missing + b + a);
    // Rows without a time sort first by date.
    EXPECT_EQ(runVostscan({"--list", "--sort", "date", "--search-dir", files.sys(), files.root()}).out,
              header + missing + root + b + a);
}

TEST(Vostscan, JsonDocumentPerFile) {
    DiskFolder files;
    files.writePe("one.exe", {"gone.dll"});
    setTime(files / "one.exe", kMarch4th2021);
    const std::string path = files / "one.exe";
    const ScannerRun run = runVostscan({"--json", "--search-dir", files.path(), files / "one.exe", files / "one.exe"});
    EXPECT_EQ(run.status, 0);
    const std::string time = std::to_string((kMarch4th2021 + kUnixTo1601) * 10000000LL);
    const std::string document =
        "{\"file\":\"" + files / "one.exe" + "\",\"tree\":{\"label\":\"ONE.EXE(" + path +
        ")\",\"module\":\"ONE.EXE\",\"path\":\"" + path +
        "\",\"fileVersion\":\"\",\"productVersion\":\"\",\"hasChildren\":1,\"children\":["
        "{\"label\":\"GONE.DLL (file not found)\",\"module\":\"GONE.DLL\",\"path\":\"file not found\","
        "\"fileVersion\":\"\",\"productVersion\":\"\",\"hasChildren\":0,\"children\":[]}]},"
        "\"list\":[{\"module\":\"ONE.EXE\",\"date\":\"3/4/2021\",\"fileVersion\":\"\",\"productVersion\":\"\","
        "\"path\":\"" + path + "\",\"lastWriteTime\":" + time + "},"
        "{\"module\":\"GONE.DLL\",\"date\":\"\",\"fileVersion\":\"\",\"productVersion\":\"\","
        "\"path\":\"file not found\",\"lastWriteTime\":0}],\"messages\":[]}\n";
    EXPECT_EQ(run.out, document + document);
}

TEST(Vostscan, RootsThatCannotBeScannedGiveStatusOneAndTheOthersAreStillScanned) {
    DiskFolder files;
    files.write("notes.txt", bytesOf("plain text"));
    files.writePe("alone.exe", {});  // imports nothing: a scan, not a failure
    const ScannerRun run = runVostscan({"--json", "--search-dir", files.path(), files / "notes.txt",
                                        files / "nothing-here.exe", files / "alone.exe"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(count(run.out, "\n"), 3u);
    EXPECT_EQ(count(run.out, "\"messages\":[{\"text\":\"not a Valid File\",\"caption\":\"VOST\"}]"), 1u);
    EXPECT_NE(run.err.find("notes.txt: VOST: not a Valid File"), std::string::npos);
    EXPECT_NE(run.err.find("nothing-here.exe: cannot open the file"), std::string::npos);
    EXPECT_EQ(run.err.find("alone.exe"), std::string::npos);
    EXPECT_EQ(runVostscan({files / "alone.exe"}).status, 0);
}

TEST(Vostscan, BareFileNameFindsModulesInTheCurrentDirectory) {
    // A root named without a folder lies in the current directory, so that
    // folder stands as the root's folder in the module search.
    DiskFolder files;
    files.makeFolder("sys");
    files.makeFolder("app");
    files.writePe("app/r.exe", {"near.dll"});
    files.writePe("app/near.dll", {});
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir((files / "app").c_str()), 0);
    const ScannerRun run = runVostscan({"--direct", "--search-dir", files / "sys", "r.exe"});
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(run.status, 0) << run.err;
    // Found modules carry full paths, as the platform's search gives them.
    EXPECT_EQ(run.out, "R.EXE(r.exe)\n  NEAR.DLL (" + files / "app" + "/near.dll)\n");
}

TEST(Vostscan, RelativeSearchFoldersAndFilesGiveAbsoluteModulePaths) {
    // The root keeps the path as given; every module found carries a full
    // path in the tree, the list and the JSON document.
    DiskFolder files;
    files.makeFolder("sys");
    files.makeFolder("app");
    files.writePe("app/r.exe", {"shared.dll", "near.dll"});
    files.writePe("app/near.dll", {});
    files.writePe("sys/shared.dll", {});
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(files.path().c_str()), 0);
    const ScannerRun tree = runVostscan({"--search-dir", "sys", "app/r.exe"});
    const ScannerRun list = runVostscan({"--list", "--search-dir", "./sys/", "app/r.exe"});
    const ScannerRun json = runVostscan({"--json", "--search-dir=sys", "app/../app/r.exe"});
    ASSERT_EQ(chdir(previous), 0);
    const std::string d = files.path();
    EXPECT_EQ(tree.out, "R.EXE(app/r.exe)\n"
                        "  NEAR.DLL (" + d + "/app/near.dll)\n"
                        "  SHARED.DLL (" + d + "/sys/shared.dll)\n");
    EXPECT_NE(list.out.find("\t" + d + "/sys/shared.dll\t\r\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\t" + d + "/app/near.dll\t\r\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\tapp/r.exe\t\r\n"), std::string::npos) << list.out;
    EXPECT_NE(json.out.find("\"path\":\"" + d + "/sys/shared.dll\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"path\":\"" + d + "/app/near.dll\""), std::string::npos) << json.out;
}

TEST(Vostscan, AModuleCutAtTheBoundOnChildrenGetsALineOnStderr) {
    // (Exactly at the bound there is no line: see HostilePe.ReferencesStopAtTheBound.)
    // The names fall in label order, so each sorted insertion ends at once.
    DiskFolder files;
    std::vector<std::string> names;
    for (int i = kMaxReferencesPerModule; i >= 0; --i) {
        char name[32];
        std::snprintf(name, sizeof name, "m%05d.dll", i);
        names.push_back(name);
    }
    files.writePe("wide.exe", names);
    const ScannerRun run = runVostscan({"--direct", files / "wide.exe"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(count(run.out, "\n"), std::size_t(kMaxReferencesPerModule + 1));  // the same tree
    EXPECT_EQ(run.err, "vostscan: " + files / "wide.exe" + ": WIDE.EXE (" + files / "wide.exe" +
                           "): references more modules than the 8192 shown\n");
}

TEST(Vostscan, UsageErrors) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{},
                                               {"--bogus", "x.exe"},
                                               {"--sort", "size", "x.exe"},
                                               {"--sort", "path:sideways", "x.exe"},
                                               {"--list", "--json", "x.exe"},
                                               {"x.exe", "--search-dir"},
                                               {"--direct=1", "x.exe"},
                                               {"--jobs", "0", "x.exe"},
                                               {"-j", "x.exe"},
                                               {"--jobs=1000", "x.exe"},
                                               {"-j2x", "x.exe"},
                                               {"--run", "a.exe", "b.exe"},
                                               {"--run", "--direct", "a.exe"},
                                               {"--run", "--timeout", "-1", "a.exe"},
                                               {"--timeout", "5", "a.exe"},
                                               {"--children", "a.exe"}}) {
        const ScannerRun run = runVostscan(arguments);
        EXPECT_EQ(run.status, 2) << (arguments.empty() ? "" : arguments[0]);
        EXPECT_NE(run.err.find("usage: vostscan"), std::string::npos);
        EXPECT_EQ(run.out, "");
    }
#ifndef _WIN32
    // Recording needs the Windows build; the arguments after "--" are the program's.
    const ScannerRun run = runVostscan({"--run", "--timeout", "2.5", "a.exe", "--", "--json", "b.exe"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("only the Windows build"), std::string::npos) << run.err;
#endif
    const ScannerRun help = runVostscan({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: vostscan", 0), 0u);
    EXPECT_EQ(runVostscan({"--version"}).out.rfind("vostscan ", 0), 0u);
}

// The help and the README say what the search does: the Windows search never
// looks in vostscan's own folder, and the README's sections are named in the
// project's own words.
TEST(Vostscan, HelpAndReadmeSayWhatTheCodeDoes) {
    const std::string help = runVostscan({"--help"}).out;
    EXPECT_EQ(help.find("vostscan's folder, the file's"), std::string::npos) << help;
    EXPECT_NE(help.find("never vostscan's own folder"), std::string::npos) << help;
    std::ifstream readme(std::string(VOST_SOURCE_DIR) + "/README.md");
    const std::string text((std::istreambuf_iterator<char>(readme)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find("described design"), std::string::npos);
    EXPECT_NE(text.find("\n## Faults VOST mends\n"), std::string::npos);
}

TEST(Vostscan, DateIsTheUtcDate) {
    DiskFolder files;
    files.writePe("late.exe", {});
    // 00:30 on 1 March 2020 in a zone two hours east of UTC: 22:30 UTC the day before.
    setTime(files / "late.exe", 1583015400);
    const char* saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    setenv("TZ", "EET-2", 1);
    tzset();
    const ScannerRun run = runVostscan({"--list", files / "late.exe"});
    if (saved) setenv("TZ", previous.c_str(), 1);
    else unsetenv("TZ");
    tzset();
    EXPECT_NE(run.out.find("LATE.EXE\t2/29/2020\t"), std::string::npos) << run.out;
}

TEST(Vostscan, CopyToFolderNeverOverwrites) {
    Files files;
    files.makeFolder("out");
    const std::string out = files / "out";
    const std::vector<std::string> arguments{"--copy-to", out, "--search-dir", files.sys(), files.root()};
    const ScannerRun first = runVostscan(arguments);
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.err.find("not copied: MISSING.DLL (module not found)"), std::string::npos);
    EXPECT_EQ(files.list("out"), (std::vector<std::string>{"Root.EXE", "a.dll", "b.dll"}));
    runVostscan(arguments);
    runVostscan(arguments);
    EXPECT_EQ(files.list("out"),
              (std::vector<std::string>{"Copy (2) of Root.EXE", "Copy (2) of a.dll", "Copy (2) of b.dll",
                                        "Copy of Root.EXE", "Copy of a.dll", "Copy of b.dll", "Root.EXE",
                                        "a.dll", "b.dll"}));
    EXPECT_EQ(files.read("out/Copy of b.dll"), files.read("App/b.dll"));

    // A file of several read pieces arrives whole.
    Bytes big = buildPe(PeImageLayout{}).bytes;
    for (std::size_t i = big.size(); i < 2500000; ++i) big.push_back(std::uint8_t(i * 7 + i / 4096));
    files.write("App/big.dll", big);
    files.writePe("App/uses-big.exe", {"big.dll"});
    files.makeFolder("out2");
    EXPECT_EQ(runVostscan({"--copy-to", files / "out2", files / "App/uses-big.exe"}).status, 0);
    EXPECT_EQ(files.read("out2/big.dll"), files.read("App/big.dll"));

    const ScannerRun nowhere = runVostscan({"--copy-to", files / "no/such", "--search-dir", files.sys(), files.root()});
    EXPECT_EQ(nowhere.status, 1);
    EXPECT_NE(nowhere.err.find("not copied: " + files.path() + "/App/Root.EXE"), std::string::npos);

    // Every module not found gets its line, though all share the one path text.
    std::vector<std::string> gone;
    for (int i = 1; i <= 9; ++i) gone.push_back("gone" + std::to_string(i) + ".dll");
    files.writePe("App/nine-gone.exe", gone);
    const ScannerRun nine = runVostscan({"--copy-to", files / "out2", files / "App/nine-gone.exe"});
    EXPECT_EQ(nine.status, 0) << nine.err;
    EXPECT_EQ(count(nine.err, " (module not found)\n"), 9u) << nine.err;
    EXPECT_NE(nine.err.find("not copied: GONE9.DLL (module not found)"), std::string::npos) << nine.err;
}

TEST(Vostscan, ParallelScansWriteInTheOrderOfTheFiles) {
    // Roots of every outcome, sharing modules, scanned one at a time and on
    // several threads: the same bytes on both streams, the same status.
    DiskFolder files;
    files.makeFolder("sys");
    files.writePe("sys/shared.dll", {"deep.dll"});
    files.writePe("sys/deep.dll", {"shared.dll"});
    std::vector<std::string> roots;
    for (int i = 0; i < 60; ++i) {
        const std::string name = "r" + std::to_string(i);
        if (i % 7 == 3) {
            files.write(name + ".txt", bytesOf("not a module " + name));
            roots.push_back(files / (name + ".txt"));
        } else if (i % 11 == 5) {
            roots.push_back(files / (name + "-missing.exe"));
        } else {
            files.writePe(name + ".exe", {"shared.dll", i % 2 ? "nowhere.dll" : "r" + std::to_string(i + 1) + ".exe"});
            roots.push_back(files / (name + ".exe"));
        }
    }
    for (const char* format : {"--json", "--list"}) {
        std::vector<std::string> arguments{format, "--search-dir", files / "sys"};
        arguments.insert(arguments.end(), roots.begin(), roots.end());
        arguments.insert(arguments.begin(), "-j1");
        const ScannerRun one = runVostscan(arguments);
        EXPECT_EQ(one.status, 1);
        EXPECT_EQ(count(one.err, "not a Valid File"), 9u);
        for (const char* jobs : {"-j2", "-j5", "-j64"}) {
            arguments[0] = jobs;
            const ScannerRun many = runVostscan(arguments);
            EXPECT_EQ(many.status, one.status) << jobs;
            EXPECT_EQ(many.out, one.out) << jobs;
            EXPECT_EQ(many.err, one.err) << jobs;
        }
    }
    // Copies are named in the order of the files whatever the threads.
    std::vector<std::vector<std::string>> copied;
    for (const char* jobs : {"-j1", "-j5"}) {
        const std::string folder = std::string("copies") + jobs;
        files.makeFolder(folder);
        std::vector<std::string> arguments{jobs, "--copy-to", files / folder, "--search-dir", files / "sys"};
        arguments.insert(arguments.end(), roots.begin(), roots.begin() + 12);
        runVostscan(arguments);
        copied.push_back(files.list(folder));
    }
    EXPECT_EQ(copied[0], copied[1]);
    // Nine of the twelve roots are modules; each copies shared.dll once more.
    EXPECT_EQ(std::count_if(copied[0].begin(), copied[0].end(),
                            [](const std::string& name) { return name.find("shared.dll") != std::string::npos; }),
              9);
    EXPECT_NE(std::find(copied[0].begin(), copied[0].end(), "Copy (8) of shared.dll"), copied[0].end());
}

TEST(Vostscan, DeepChainAndWideModule) {
    DiskFolder files;
    constexpr int kLength = 5000;
    char name[32];
    files.writePe("chain.exe", {"m00000.dll"});
    for (int i = 0; i < kLength; ++i) {
        std::snprintf(name, sizeof name, "m%05d.dll", i + 1);
        std::vector<std::string> imports;
        if (i + 1 < kLength) imports.push_back(name);
        std::snprintf(name, sizeof name, "m%05d.dll", i);
        files.writePe(name, imports);
    }
    std::vector<std::string> wide;
    for (int i = 0; i < 2000; ++i) {
        std::snprintf(name, sizeof name, "w%04d.dll", i);
        wide.push_back(name);
        files.writePe(name, {});
    }
    files.writePe("wide.exe", wide);

    const ScannerRun tree = runVostscan({files / "chain.exe"});
    EXPECT_EQ(tree.status, 0);
    EXPECT_EQ(count(tree.out, "\n"), static_cast<std::size_t>(kLength + 1));
    EXPECT_NE(tree.out.find(std::string(2 * kLength, ' ') + "M04999.DLL ("), std::string::npos);
    // On two threads: the chain's output is written from its tree when its
    // turn comes, the wide module's as a text made on its thread.
    const ScannerRun json = runVostscan({"-j2", "--json", files / "chain.exe", files / "wide.exe"});
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(count(json.out, "\"label\""), static_cast<std::size_t>(kLength + 1 + 2001));
    EXPECT_EQ(count(json.out, "\"lastWriteTime\""), static_cast<std::size_t>(kLength + 1 + 2001));
    std::string closing;  // every item of the chain closed, deepest first
    for (int i = 0; i <= kLength; ++i) closing += "]}";
    EXPECT_NE(json.out.find("\"children\":[" + closing + ",\"list\""), std::string::npos);
}

// A program and the DLL it imports in folders of every script and length:
// the tree, the list and the JSON are the ASCII folder's with the folder's
// name in them, and --copy-to copies into such a folder.
TEST(Vostscan, PathsOfAnyScriptAndLength) {
    DiskFolder files;
    const std::string ascii = "/ascii/";
    std::string reference[3];
    for (const PathCase& c : pathTable()) {
        SCOPED_TRACE(c.what);
        for (std::size_t at = 0; at != std::string::npos;) {
            at = c.folder.find('/', at + 1);
            files.makeFolder(c.folder.substr(0, at));
        }
        files.writePe(c.folder + "/App.exe", {"VostLib.dll", "gone.dll"});
        files.writePe(c.folder + "/VostLib.dll", {});
        setTime(files / c.folder + "/App.exe", kMarch4th2021);
        setTime(files / c.folder + "/VostLib.dll", kMarch4th2021);
        const std::string program = files / c.folder + "/App.exe";
        const ScannerRun runs[3] = {runVostscan({program}), runVostscan({"--list", program}),
                                    runVostscan({"--json", program})};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(runs[i].status, 0) << runs[i].err;
            if (reference[i].empty()) {
                reference[i] = runs[i].out;
                continue;
            }
            std::string expected = reference[i];
            for (std::size_t at = 0; (at = expected.find(ascii, at)) != std::string::npos;) {
                expected.replace(at, ascii.size(), "/" + c.folder + "/");
                at += c.folder.size() + 2;
            }
            EXPECT_EQ(runs[i].out, expected);
        }
        EXPECT_NE(runs[0].out.find(files / c.folder + "/VostLib.dll"), std::string::npos);

        const std::string bundle = c.folder + "/bundle";
        files.makeFolder(bundle);
        EXPECT_EQ(runVostscan({"--copy-to", files / bundle, program}).status, 0);
        EXPECT_EQ(files.list(bundle), (std::vector<std::string>{"App.exe", "VostLib.dll"}));
    }
}

// A Linux name is bytes: one that is no UTF-8 keeps its bytes in the tree and
// comes back whole from the JSON through Python's json and os.fsencode, apart
// from the valid name that the same letters spell.
TEST(Vostscan, JsonOfNamesThatAreNoUtf8GivesTheirBytesBack) {
    DiskFolder files;
    for (const char* folder : {"caf\xE9", "caf\xC3\xA9"}) {
        files.makeFolder(folder);
        files.writePe(std::string(folder) + "/app.exe", {"lib.dll"});
        files.writePe(std::string(folder) + "/lib.dll", {});
        const std::string program = files / folder + "/app.exe";
        EXPECT_NE(runVostscan({program}).out.find(files / folder + "/lib.dll"), std::string::npos);
        const std::string json = files / "out.json";
        std::FILE* out = std::fopen(json.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        const std::string text = runVostscan({"--json", program}).out;
        std::fwrite(text.data(), 1, text.size(), out);
        std::fclose(out);
        const std::string command = "python3 -c 'import json,os,sys; d=json.load(open(sys.argv[1], encoding=\"utf-8\")); "
                                    "sys.stdout.buffer.write(os.fsencode(d[\"tree\"][\"children\"][0][\"path\"]))' " +
                                    json;
        std::FILE* python = popen(command.c_str(), "r");
        ASSERT_NE(python, nullptr);
        std::string decoded;
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, python)) > 0;) decoded.append(buffer, got);
        EXPECT_EQ(pclose(python), 0);
        EXPECT_EQ(decoded, files / folder + "/lib.dll");
    }
}

TEST(ScannerOutput, JsonStringsStayValidUtf8) {
    EXPECT_EQ(jsonString("a\"b\\c\td\r\n\x01"), "\"a\\\"b\\\\c\\u0009d\\u000d\\u000a\\u0001\"");
    EXPECT_EQ(jsonString("caf\xc3\xa9"), "\"caf\xc3\xa9\"");        // valid UTF-8 passes
    // Bytes of no valid UTF-8 sequence as surrogate escapes, never as the
    // characters U+0080..U+00FF that valid names may hold.
    EXPECT_EQ(jsonString("ANSI \xe9t\xe9"), "\"ANSI \\udce9t\\udce9\"");
    EXPECT_EQ(jsonString("\xc0\xaf\xed\xa0\x80"), "\"\\udcc0\\udcaf\\udced\\udca0\\udc80\"");
}

TEST(ScannerOutput, CopyNamesFollowTheShellsScheme) {
    EXPECT_EQ(copyCandidateName("X.DLL", 1), "X.DLL");
    EXPECT_EQ(copyCandidateName("X.DLL", 2), "Copy of X.DLL");
    EXPECT_EQ(copyCandidateName("X.DLL", 3), "Copy (2) of X.DLL");
}

}  // namespace
}  // namespace vost::test
