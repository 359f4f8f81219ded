// The page's scan over modules that import API set contracts, and over
// modules that were not found: what each shows, and which files are read.
#include <gtest/gtest.h>

#include <algorithm>

#include "page/module_list.h"
#include "tests/page/page_fixture.h"
#include "tests/support/api_set_builder.h"
#include "tests/support/image_builder.h"

namespace vost::test {
namespace {

const std::string kSys = "c:\\windows\\system32\\";

bool has(const std::vector<std::string>& paths, const std::string& path) {
    return std::any_of(paths.begin(), paths.end(),
                       [&](const std::string& p) { return asciiLowerCopy(p) == asciiLowerCopy(path); });
}

int count(const std::vector<std::string>& paths, const std::string& path) {
    return int(std::count_if(paths.begin(), paths.end(),
                             [&](const std::string& p) { return asciiLowerCopy(p) == asciiLowerCopy(path); }));
}

// A schema as Windows ships them: contracts hosted by kernelbase, one whose
// host depends on its importer, one that is not hosted at all.
Bytes sampleSchema() {
    ApiSetSchemaLayout layout;
    layout.entries = {
        {"api-ms-win-core-synch-l1-2-1", {{"", "kernelbase.dll"}}},
        {"ext-ms-win-shell-l1-1-0", {{"", "shell32.dll"}, {"kernel32.dll", "kernelbase.dll"}}},
        {"api-ms-win-gone-l1-1-0", {{"", ""}}},
    };
    return buildApiSetSchema(layout).bytes;
}

// R.EXE imports three contracts of the schema, one it lacks and kernel32.dll,
// which imports kernelbase.dll and one contract itself. Files named like the
// contracts lie beside the program.
void addContractFiles(PageFixture& page) {
    const FixedFileVersion kernelbase{0x000A0000, 0x00010002, 0x000A0000, 0};
    page.addPe("c:\\app\\r.exe", {"api-ms-win-core-synch-l1-2-0.dll", "kernel32.dll", "API-MS-WIN-GONE-L1-1-0.DLL",
                                  "api-ms-win-local-l1-1-0.dll", "ext-ms-win-shell-l1-1-0.dll"});
    page.addPe(kSys + "kernelbase.dll", {"ntdll.dll"}, &kernelbase);
    page.addPe(kSys + "kernel32.dll", {"kernelbase.dll", "ext-ms-win-shell-l1-1-0.dll"});
    page.addPe(kSys + "ntdll.dll", {});
    page.addPe(kSys + "shell32.dll", {});
    for (const char* planted : {"api-ms-win-core-synch-l1-2-0.dll", "api-ms-win-gone-l1-1-0.dll",
                                "api-ms-win-local-l1-1-0.dll", "api-ms-win-core-synch-l1-2-1.dll"})
        page.addPe(std::string("c:\\app\\") + planted, {"planted.dll"});
}

TEST(ScanContracts, AContractShowsItsHostUnderItsOwnNameAndRow) {
    PageFixture page;
    page.platform->fake.setApiSetSchema(ModuleBits::bits32, sampleSchema());
    addContractFiles(page);
    page.scan("c:\\app\\r.exe");

    // Each contract keeps its name and shows its host's path and version; the
    // host's imports appear under it by the walk's rules. The contract that
    // kernel32.dll imports has its own host there, but its name already has
    // a row: it is not read again.
    EXPECT_EQ(page.treeOutline(),
              "R.EXE(c:\\app\\r.exe) +\n"
              "  API-MS-WIN-CORE-SYNCH-L1-2-0.DLL (c:\\windows\\system32\\kernelbase.dll [10.0.1.2]) +\n"
              "    NTDLL.DLL (c:\\windows\\system32\\ntdll.dll)\n"
              "  API-MS-WIN-GONE-L1-1-0.DLL (file not found)\n"
              "  API-MS-WIN-LOCAL-L1-1-0.DLL (c:\\app\\api-ms-win-local-l1-1-0.dll) +\n"
              "    PLANTED.DLL (file not found)\n"
              "  EXT-MS-WIN-SHELL-L1-1-0.DLL (c:\\windows\\system32\\shell32.dll)\n"
              "  KERNEL32.DLL (c:\\windows\\system32\\kernel32.dll) +\n"
              "    EXT-MS-WIN-SHELL-L1-1-0.DLL (c:\\windows\\system32\\kernelbase.dll [10.0.1.2])\n"
              "    KERNELBASE.DLL (c:\\windows\\system32\\kernelbase.dll [10.0.1.2]) +\n"
              "      NTDLL.DLL (c:\\windows\\system32\\ntdll.dll)\n");
    // A contract's row and its host's row are rows of two modules, with the
    // host's file data in both.
    EXPECT_EQ(page.rowModules(),
              (std::vector<std::string>{"R.EXE", "NTDLL.DLL", "API-MS-WIN-CORE-SYNCH-L1-2-0.DLL",
                                        "API-MS-WIN-GONE-L1-1-0.DLL", "PLANTED.DLL", "API-MS-WIN-LOCAL-L1-1-0.DLL",
                                        "EXT-MS-WIN-SHELL-L1-1-0.DLL", "KERNELBASE.DLL", "KERNEL32.DLL"}));
    for (int row : {2, 7}) {
        EXPECT_EQ(page.list->cellText(row, 2), "10.0.1.2") << row;
        EXPECT_EQ(page.list->cellText(row, 4), kSys + "kernelbase.dll") << row;
    }
    EXPECT_EQ(page.list->cellText(3, 4), "file not found");

    // No file named like a contract of the schema is read, and no search is
    // made for a contract without a host. The contract the schema lacks is a
    // file like any other.
    const FakePlatform& fake = page.platform->fake;
    for (const char* planted : {"c:\\app\\api-ms-win-core-synch-l1-2-0.dll", "c:\\app\\api-ms-win-gone-l1-1-0.dll",
                                "c:\\app\\api-ms-win-core-synch-l1-2-1.dll"}) {
        EXPECT_FALSE(has(fake.mapped, planted)) << planted;
        EXPECT_FALSE(has(fake.versionReads, planted)) << planted;
    }
    EXPECT_FALSE(has(fake.searches, "API-MS-WIN-GONE-L1-1-0.DLL"));
    EXPECT_FALSE(has(fake.searches, "api-ms-win-core-synch-l1-2-0.dll"));
    EXPECT_TRUE(has(fake.searches, "api-ms-win-local-l1-1-0.dll"));
    // The host's file is walked once for each name it stands under.
    EXPECT_EQ(count(fake.mapped, kSys + "kernelbase.dll"), 2);
}

TEST(ScanContracts, EachFamilyUsesItsOwnSchemaAndWithoutOneNamesAreFiles) {
    // Only the 64-bit family has a schema: a 32-bit importer searches the
    // contract as a file (and finds the one beside it), a 64-bit one maps it.
    PageFixture page;
    page.platform->fake.setApiSetSchema(ModuleBits::bits64, sampleSchema());
    page.platform->fake.addSearchFolder64("c:\\windows\\system32");
    PeImageLayout wide;
    wide.pe32plus = true;
    wide.imports = {"api-ms-win-core-synch-l1-2-0.dll", "narrow.dll"};
    page.platform->fake.addFile("c:\\app\\wide.exe", buildPe(wide).bytes);
    page.addPe(kSys + "narrow.dll", {"api-ms-win-core-synch-l1-2-0.dll"});
    page.addPe("c:\\app\\api-ms-win-core-synch-l1-2-0.dll", {});
    page.addPe(kSys + "kernelbase.dll", {});
    page.scan("c:\\app\\wide.exe");
    EXPECT_EQ(page.treeOutline(),
              "WIDE.EXE(c:\\app\\wide.exe) +\n"
              "  API-MS-WIN-CORE-SYNCH-L1-2-0.DLL (c:\\windows\\system32\\kernelbase.dll)\n"
              "  NARROW.DLL (c:\\windows\\system32\\narrow.dll) +\n"
              "    API-MS-WIN-CORE-SYNCH-L1-2-0.DLL (c:\\app\\api-ms-win-core-synch-l1-2-0.dll)\n");
}

TEST(ScanNotFound, AModuleNotFoundIsNeverRead) {
    // A file named like the not-found text, where the process's current
    // directory would take it from: nothing of it may show up.
    PageFixture page;
    page.platform->fake.setApiSetSchema(ModuleBits::bits32, sampleSchema());
    const FixedFileVersion version{0x00010000, 0, 0, 0};
    page.addPe("File not found", {"made-up.dll"}, &version);
    page.platform->times[asciiLowerCopy("file not found")] = FileTime::fromValue(1234567);
    page.addPe("c:\\app\\r.exe", {"missing.dll", "api-ms-win-gone-l1-1-0.dll"});
    page.scan("c:\\app\\r.exe");

    EXPECT_EQ(page.treeOutline(),
              "R.EXE(c:\\app\\r.exe) +\n"
              "  API-MS-WIN-GONE-L1-1-0.DLL (file not found)\n"
              "  MISSING.DLL (file not found)\n");
    for (int row : {1, 2}) {
        EXPECT_EQ(page.list->cellText(row, 1), "") << row;  // no date
        EXPECT_EQ(page.list->cellText(row, 2), "") << row;  // no version
        EXPECT_EQ(page.list->cellText(row, 4), "file not found") << row;
    }
    EXPECT_FALSE(has(page.platform->fake.mapped, "file not found"));
    EXPECT_FALSE(has(page.platform->fake.versionReads, "file not found"));
    EXPECT_FALSE(has(page.platform->timeReads, "file not found"));
}

}  // namespace
}  // namespace vost::test
