// The page's check over the in-memory controls: which items and rows get
// which state image and tip, for each kind of failing reference, and the
// findings it copies, which are vostscan --check's lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/text.h"
#include "page/check_marks.h"
#include "page/function_lists.h"
#include "tests/page/page_fixture.h"
#include "tests/support/image_builder.h"

namespace vost::test {
namespace {

ImportThunk byName(const std::string& name) { return ImportThunk{name, 0, std::nullopt}; }
ImportThunk byOrdinal(std::uint16_t ordinal) { return ImportThunk{"", 0, ordinal}; }

PeImageLayout importing(const std::vector<std::string>& modules,
                        const std::vector<std::vector<ImportThunk>>& functions = {}) {
    PeImageLayout layout;
    layout.imports = modules;
    layout.importFunctions = functions;
    if (layout.importFunctions.empty())
        for (std::size_t i = 0; i < modules.size(); ++i) layout.importFunctions.push_back({byName("f")});
    return layout;
}

// A library exporting `names` (f always), each name a forwarder when given one.
PeImageLayout exporting(const std::map<std::string, std::string>& names, const std::vector<std::string>& imports = {},
                        bool wide = false) {
    PeImageLayout layout = importing(imports);
    layout.pe32plus = wide;
    layout.exports.emplace();
    layout.exports->entries.push_back(ExportEntry{{"f"}, 0x40010, ""});
    for (const auto& [name, forwarder] : names)
        layout.exports->entries.push_back(ExportEntry{{name}, forwarder.empty() ? 0x40010u : 0u, forwarder});
    return layout;
}

std::string markedRows(MemoryList& list) {
    std::string out;
    for (int row = 0; row < list.rowCount(); ++row)
        if (const int image = list.rowStateImage(row)) out += list.cellText(row, 0) + "=" + std::to_string(image) + " ";
    return out;
}

struct MarkCase {
    const char* name;
    std::map<std::string, PeImageLayout> files;  // c:\app\ and c:\windows\system32\ paths
    std::string outline;
    std::string rows;
    std::string problems;
    std::string firstRowTip;  // lines joined by " / "
    bool delayLoads = false;  // the page shows delay-loaded modules
};

PeImageLayout delayLoading(PeImageLayout layout, const std::vector<std::pair<std::string, std::string>>& modules) {
    for (const auto& [module, function] : modules) layout.delayImports.push_back({module, {byName(function)}});
    return layout;
}

TEST(PageCheck, MarksAndTipsForEachKindOfFailingReference) {
    const std::string sys = "c:\\windows\\system32\\";
    const std::vector<MarkCase> cases = {
        {"nothing fails: no marks, nothing to copy",
         {{"c:\\app\\app.exe", importing({"lib.dll"})}, {sys + "lib.dll", exporting({})}},
         "APP.EXE\n  LIB.DLL\n", "", "", ""},
        {"functions missing by name and by ordinal, and one forwarded to a missing module",
         {{"c:\\app\\app.exe",
           importing({"lib.dll"}, {{byName("f"), byName("g"), byOrdinal(9), byName("fwd"), byName("fine")}})},
          {sys + "lib.dll", exporting({{"fwd", "gone.x"}, {"fine", "other.f"}})},
          {sys + "other.dll", exporting({})}},
         "APP.EXE =2 | 1 reference below will not load\n"
         "  LIB.DLL =1 | Missing in LIB.DLL: g, #9, fwd (forwarded to gone.x: gone.dll not found)\n",
         "LIB.DLL=1 ",
         "unresolved APP.EXE -> LIB.DLL!g (not exported)\r\n"
         "unresolved APP.EXE -> LIB.DLL!#9 (not exported)\r\n"
         "unresolved APP.EXE -> LIB.DLL!fwd (forwarded to gone.x: gone.dll not found)\r\n",
         "APP.EXE: Missing in LIB.DLL: g, #9, fwd (forwarded to gone.x: gone.dll not found)"},
        {"a module not found and one of another machine",
         {{"c:\\app\\app.exe", importing({"gone.dll", "wide.dll"})},
          {sys + "wide.dll", exporting({}, {}, true)}},
         "APP.EXE =2 | 2 references below will not load\n"
         "  GONE.DLL =1 | not found\n"
         "  WIDE.DLL =1 | 64-bit module, 32-bit importer\n",
         "GONE.DLL=1 WIDE.DLL=1 ",
         "not-found APP.EXE -> GONE.DLL\r\n"
         "other-machine APP.EXE -> WIDE.DLL (x64, importer i386: c:\\windows\\system32\\wide.dll)\r\n",
         "APP.EXE: not found"},
        {"a missing module deep down marks every ancestor, not the module's other places",
         {{"c:\\app\\app.exe", importing({"a.dll", "b.dll"})},
          {sys + "a.dll", exporting({}, {"b.dll"})},
          {sys + "b.dll", exporting({}, {"gone.dll", "c.dll"})},
          {sys + "c.dll", exporting({}, {"gone.dll"})}},
         "APP.EXE =2 | 2 references below will not load\n"
         "  A.DLL =2 | 2 references below will not load\n"
         "    B.DLL =2 | 2 references below will not load\n"
         "      C.DLL =2 | 1 reference below will not load\n"
         "        GONE.DLL =1 | not found\n"
         "      GONE.DLL =1 | not found\n"
         "  B.DLL\n",
         "GONE.DLL=1 ",
         "not-found B.DLL -> GONE.DLL\r\n"
         "not-found C.DLL -> GONE.DLL\r\n",
         "C.DLL: not found / B.DLL: not found"},
        {"without delay-loaded modules shown, the page is as it was: nothing to mark",
         {{"c:\\app\\app.exe", delayLoading(importing({"lib.dll"}), {{"late.dll", "l"}, {"lib.dll", "h"}})},
          {sys + "lib.dll", exporting({})}},
         "APP.EXE\n  LIB.DLL\n", "", "", ""},
        {"delay-loaded modules missing, lacking a function only the delay-load names, and fine: the program "
         "starts, and fails on first use",
         {{"c:\\app\\app.exe",
           delayLoading(importing({"lib.dll"}), {{"late.dll", "l"}, {"lib.dll", "h"}, {"fine.dll", "f"}})},
          {sys + "lib.dll", exporting({})}, {sys + "fine.dll", exporting({})}},
         "APP.EXE =5 | 2 references below fail on first use\n"
         "  FINE.DLL =3 | delay-loaded: loaded on first use\n"
         "  LATE.DLL =4 | delay-loaded: fails on first use: not found\n"
         "  LIB.DLL =4 | delay-loaded: fails on first use: Missing in LIB.DLL: h\n",
         "FINE.DLL=3 LATE.DLL=4 LIB.DLL=4 ",
         "not-found APP.EXE -> LATE.DLL (delay-load)\r\n"
         "unresolved APP.EXE -> LIB.DLL!h (delay-load; not exported)\r\n",
         "delay-loaded by APP.EXE", true},
        {"a start-up failure beside one on first use: the root says the program cannot start",
         {{"c:\\app\\app.exe", delayLoading(importing({"gone.dll"}), {{"late.dll", "l"}})}},
         "APP.EXE =2 | 1 reference below will not load / 1 reference below fails on first use\n"
         "  GONE.DLL =1 | not found\n"
         "  LATE.DLL =4 | delay-loaded: fails on first use: not found\n",
         "GONE.DLL=1 LATE.DLL=4 ",
         "not-found APP.EXE -> GONE.DLL\r\nnot-found APP.EXE -> LATE.DLL (delay-load)\r\n", "APP.EXE: not found",
         true},
        {"what only a delay-loaded module imports fails on first use",
         {{"c:\\app\\app.exe", delayLoading(importing({}), {{"mid.dll", "f"}})},
          {sys + "mid.dll", exporting({}, {"gone.dll"})}},
         "APP.EXE =5 | 1 reference below fails on first use\n"
         "  MID.DLL =5 | delay-loaded: loaded on first use / 1 reference below fails on first use\n"
         "    GONE.DLL =4 | fails on first use: not found\n",
         "GONE.DLL=4 MID.DLL=3 ", "not-found MID.DLL -> GONE.DLL\r\n", "MID.DLL: fails on first use: not found",
         true},
        {"a module delay-loaded here but imported by one loaded at start: what it lacks stops the start",
         {{"c:\\app\\app.exe", delayLoading(importing({"z.dll"}), {{"b.dll", "f"}})},
          {sys + "z.dll", exporting({}, {"b.dll"})}, {sys + "b.dll", exporting({}, {"gone.dll"})}},
         "APP.EXE =2 | 1 reference below will not load\n"
         "  B.DLL =2 | delay-loaded: loaded on first use / 1 reference below will not load\n"
         "    GONE.DLL =1 | not found\n"
         "  Z.DLL\n"
         "    B.DLL\n",
         "GONE.DLL=1 ", "not-found B.DLL -> GONE.DLL\r\n", "B.DLL: not found", true},
    };
    for (const MarkCase& c : cases) {
        SCOPED_TRACE(c.name);
        PageFixture page;
        for (const auto& [path, layout] : c.files) page.platform->fake.addFile(path, buildPe(layout).bytes);
        page.ext.selectedPath = "c:\\app\\app.exe";
        page.ext.delayLoads = c.delayLoads;
        scanThread(page.ext);
        ASSERT_EQ(page.ext.scanState, kScanFinished);
        ASSERT_NE(page.ext.checkMarks, nullptr);
        EXPECT_EQ(markedOutline(*page.tree, *page.ext.checkMarks), c.outline);
        EXPECT_EQ(markedRows(*page.list), c.rows);
        EXPECT_EQ(page.ext.checkMarks->problems, c.problems);
        if (!c.rows.empty()) {
            const Tip* tip = page.ext.checkMarks->rowTip(c.rows.substr(0, c.rows.find('=')));
            ASSERT_NE(tip, nullptr);
            std::string text = tip->text;
            for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " / ");
            EXPECT_EQ(text, c.firstRowTip);
        }
    }
}

// A program whose own manifest fails cannot start: the root carries the
// disc; a DLL whose own manifest fails carries it, and its row too.
TEST(PageCheck, AContextThatFailsMarksTheModuleWhoseManifestItIs) {
    PageFixture page;
    std::vector<std::uint8_t> app = buildPe(importing({"lib.dll"})).bytes;
    app[app[0x3c] + 22 + 1] &= ~0x20;  // no IMAGE_FILE_DLL: a program, whose manifest makes the process's context
    page.platform->fake.addFile("c:\\app\\app.exe", app);
    PeImageLayout lib = exporting({});
    lib.manifest = "<!DOCTYPE assembly>";
    page.platform->fake.addFile("c:\\windows\\system32\\lib.dll", buildPe(lib).bytes);
    ContextProblem missing;
    missing.assembly.name = "Vost.Not.There";
    missing.detail = "not in the side-by-side store nor the program's folder";
    ContextProblem bad;
    bad.kind = ContextProblem::Kind::badManifest;
    bad.detail = "a document type declaration";
    page.platform->contextProblems["c:\\app\\app.exe|1"] = {missing};
    page.platform->contextProblems["c:\\windows\\system32\\lib.dll|2"] = {bad};
    page.ext.selectedPath = "c:\\app\\app.exe";
    scanThread(page.ext);
    ASSERT_NE(page.ext.checkMarks, nullptr);
    EXPECT_EQ(markedOutline(*page.tree, *page.ext.checkMarks),
              "APP.EXE =1 | Missing assembly Vost.Not.There (not in the side-by-side store nor the program's folder)"
              " / 1 reference below will not load\n"
              "  LIB.DLL =1 | Unreadable manifest (a document type declaration)\n");
    EXPECT_EQ(markedRows(*page.list), "APP.EXE=1 LIB.DLL=1 ");
}

// Closing the dialog during the check stops it, as it stops the walk: the
// module it is reading is the last one read, and nothing is marked.
TEST(PageCheck, ClosingThePageStopsTheCheck) {
    PageFixture page;
    std::vector<std::string> libraries;
    for (int i = 0; i < 20; ++i) {
        libraries.push_back("lib" + std::to_string(i) + ".dll");
        page.platform->fake.addFile("c:\\windows\\system32\\" + libraries.back(), buildPe(exporting({})).bytes);
    }
    page.platform->fake.addFile("c:\\app\\app.exe", buildPe(importing(libraries)).bytes);
    TreeRecord record;
    page.ext.selectedPath = "c:\\app\\app.exe";
    ASSERT_NE(scanSelectedFile(page.ext, ScanReach::closure, &record), 0);
    int reads = 0;
    page.platform->onMap = [&] {
        if (++reads == 1) page.tree->close();
    };
    checkScannedTree(page.ext, record);
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(page.ext.checkMarks, nullptr);
}

TEST(PageCheck, LongTipsAreCutAtAnEntryOrLine) {
    std::string entries;
    for (int i = 0; i < 400; ++i) entries += (i ? ", " : "") + std::string("Function") + std::to_string(i);
    const Tip wide = cutTip("Missing in LIB.DLL: " + entries);
    EXPECT_TRUE(wide.cut);
    EXPECT_LE(wide.text.size(), kTipCharacters);
    EXPECT_NE(wide.text.back(), ' ');
    EXPECT_EQ(wide.text.substr(wide.text.rfind(' ') + 1, 8), "Function");

    std::string lines;
    for (int i = 0; i < 100; ++i) lines += (i ? "\r\n" : "") + std::string("line");
    const Tip tall = cutTip(lines);
    EXPECT_TRUE(tall.cut);
    EXPECT_EQ(std::count(tall.text.begin(), tall.text.end(), '\n') + 1, long(kTipLines));

    EXPECT_FALSE(cutTip("not found").cut);
}

// The Functions dialog's lists: a section per importer with the check's
// verdicts, the export table with the entries importers name marked, the
// filter on shown names, the column orders and the copied text.
TEST(PageCheck, FunctionListsOfAModuleAndItsImporters) {
    const std::string sys = "c:\\windows\\system32\\";
    PageFixture page;
    const std::map<std::string, PeImageLayout> files = {
        {"c:\\app\\app.exe", importing({"lib.dll", "other.dll"}, {{byName("f"), byName("g"), byOrdinal(9), byName("fwd")},
                                                                    {byName("f")}})},
        {sys + "lib.dll", exporting({{"fwd", "other.f"}, {"_ZN4File4openEPKc", ""}})},
        {sys + "other.dll", exporting({}, {"lib.dll"})}};
    for (const auto& [path, layout] : files) page.platform->fake.addFile(path, buildPe(layout).bytes);
    page.scan("c:\\app\\app.exe");
    CheckCache cache;
    FunctionLists lists = readFunctionLists("lib.dll", sys + "lib.dll", false,
                                            {{"app.exe", "c:\\app\\app.exe"}, {"OTHER.DLL", sys + "other.dll"}},
                                            *page.platform, cache, nullptr);
    const Undecorator readable = [](std::string_view name) {
        return name == "_ZN4File4openEPKc" ? std::string("File::open(char const*)") : std::string(name);
    };
    ASSERT_EQ(lists.sections.size(), 2u);
    EXPECT_EQ(lists.sections[0].title, "Imported by APP.EXE from LIB.DLL");
    EXPECT_EQ(lists.sections[1].title, "Imported by OTHER.DLL from LIB.DLL");
    const std::size_t exports = lists.sections.size();
    // Readable names are a worker's: until it has made them, the filter and
    // the sort take names as they are, and only a shown cell is read.
    prepareReadableNames(lists);
    EXPECT_TRUE(shownRows(lists, exports, "OPEN(", kExportName, false, readable).empty());
    EXPECT_EQ(exportCell(lists, 1, kExportName, readable), "File::open(char const*)");
    const std::atomic<bool> stop{false};
    makeReadableNames(lists, readable, stop);
    EXPECT_TRUE(readableNamesMade(lists));
    struct Case {
        std::size_t section;
        const char* filter;
        int column;
        bool descending;
        Undecorator undecorate;
        const char* text;
    };
    const Case cases[] = {
        {0, "", kImportName, false, nullptr,
         "Function\tHint\tResolves to\r\n#9\t\tmissing: not exported\r\nf\t0\tordinal 1\r\n"
         "fwd\t0\tforwarded to other.f\r\ng\t0\tmissing: not exported\r\n"},
        {0, "", kTableOrder, false, nullptr,
         "Function\tHint\tResolves to\r\nf\t0\tordinal 1\r\ng\t0\tmissing: not exported\r\n"
         "#9\t\tmissing: not exported\r\nfwd\t0\tforwarded to other.f\r\n"},
        {0, "F", kImportResolution, true, nullptr,
         "Function\tHint\tResolves to\r\nf\t0\tordinal 1\r\nfwd\t0\tforwarded to other.f\r\n"},
        {1, "", kImportName, false, nullptr, "Function\tHint\tResolves to\r\nf\t0\tordinal 1\r\n"},
        {exports, "", kExportOrdinal, false, readable,
         "Ordinal\tHint\tFunction\tEntry point\tImported\r\n1\t1\tf\t0x00040010\tyes\r\n"
         "2\t0\tFile::open(char const*)\t0x00040010\t\r\n3\t2\tfwd\tother.f\tyes\r\n"},
        {exports, "OPEN(", kExportHint, true, readable,
         "Ordinal\tHint\tFunction\tEntry point\tImported\r\n2\t0\tFile::open(char const*)\t0x00040010\t\r\n"},
        {exports, "open(", kExportName, false, nullptr, "Ordinal\tHint\tFunction\tEntry point\tImported\r\n"},
        {exports, "", kExportImported, true, nullptr,
         "Ordinal\tHint\tFunction\tEntry point\tImported\r\n1\t1\tf\t0x00040010\tyes\r\n"
         "3\t2\tfwd\tother.f\tyes\r\n2\t0\t_ZN4File4openEPKc\t0x00040010\t\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.section) + " '" + c.filter + "' " + std::to_string(c.column));
        const std::vector<std::uint32_t> rows = shownRows(lists, c.section, c.filter, c.column, c.descending, c.undecorate);
        EXPECT_EQ(copyText(lists, c.section, rows, c.undecorate), c.text);
    }
}

// A list row gathers the importers of every module of its name, whatever
// file each found: each section's ordinals come from its own file, which its
// title names, and only the row's own file's exports are marked imported.
TEST(PageCheck, FunctionListsOfARowTakeEachSectionFromItsOwnFile) {
    const std::string sys = "c:\\windows\\system32\\", sys64 = "c:\\windows\\sys64\\";
    PageFixture page;
    page.platform->fake.addSearchFolder64("c:\\windows\\sys64");
    PeImageLayout x32 = importing({"lib.dll"}, {{byName("f")}});
    PeImageLayout x64 = importing({"lib.dll"}, {{byName("g")}});
    x64.pe32plus = true;
    PeImageLayout lib64 = exporting({{"g", ""}}, {}, true);
    lib64.exports->ordinalBase = 100;
    const std::map<std::string, PeImageLayout> files = {
        {"c:\\app\\app.exe", importing({"x32.dll", "x64.dll"})},
        {"c:\\app\\x32.dll", x32}, {"c:\\app\\x64.dll", x64},
        {sys + "lib.dll", exporting({{"g", ""}})}, {sys64 + "lib.dll", lib64}};
    for (const auto& [path, layout] : files) page.platform->fake.addFile(path, buildPe(layout).bytes);
    page.scan("c:\\app\\app.exe");
    const ModuleNode* row = nullptr;
    page.ext.nodes->forEach([&](const ModuleNode& n) {
        if (!row && n.moduleName == "LIB.DLL") row = &n;  // upper-cased by its list row
    });
    ASSERT_TRUE(row);
    ASSERT_EQ(row->fullPath, sys + "lib.dll");
    CheckCache cache;
    FunctionLists lists = readFunctionLists(row->moduleName, row->fullPath, false, importersOf(*row, *page.ext.nodes, true),
                                            *page.platform, cache, nullptr);
    ASSERT_EQ(lists.sections.size(), 2u);
    EXPECT_EQ(lists.sections[0].title, "Imported by X32.DLL from LIB.DLL");
    EXPECT_EQ(lists.sections[1].title, "Imported by X64.DLL from LIB.DLL (" + sys64 + "lib.dll)");
    // A delay-loaded module's section is its importer's delay-load
    // directory's functions, titled so.
    PageFixture delayed;
    delayed.platform->fake.addFile("c:\\app\\app.exe",
                                   buildPe(delayLoading(importing({}), {{"late.dll", "l"}})).bytes);
    delayed.platform->fake.addFile(sys + "late.dll", buildPe(exporting({{"l", ""}})).bytes);
    delayed.ext.delayLoads = true;
    delayed.scan("c:\\app\\app.exe");
    const ModuleNode* late = nullptr;
    delayed.ext.nodes->forEach([&](const ModuleNode& n) {
        if (n.delayLoaded) late = &n;
    });
    ASSERT_TRUE(late);
    FunctionLists lateLists = readFunctionLists(late->moduleName, late->fullPath, true,
                                                importersOf(*late, *delayed.ext.nodes, false), *delayed.platform,
                                                cache, nullptr);
    ASSERT_EQ(lateLists.sections.size(), 1u);
    EXPECT_EQ(lateLists.sections[0].title, "Delay-loaded by APP.EXE from LATE.DLL");
    EXPECT_EQ(copyText(lateLists, 0, shownRows(lateLists, 0, "", kTableOrder, false, nullptr), nullptr),
              "Function\tHint\tResolves to\r\nl\t0\tordinal 2\r\n");

    const std::size_t exports = lists.sections.size();
    const auto text = [&](std::size_t section, int column) {
        return copyText(lists, section, shownRows(lists, section, "", column, false, nullptr), nullptr);
    };
    EXPECT_EQ(text(0, kTableOrder), "Function\tHint\tResolves to\r\nf\t0\tordinal 1\r\n");
    EXPECT_EQ(text(1, kTableOrder), "Function\tHint\tResolves to\r\ng\t0\tordinal 101\r\n");
    EXPECT_EQ(text(exports, kExportOrdinal),
              "Ordinal\tHint\tFunction\tEntry point\tImported\r\n1\t0\tf\t0x00040010\tyes\r\n"
              "2\t1\tg\t0x00040010\t\r\n");
}

}  // namespace
}  // namespace vost::test
