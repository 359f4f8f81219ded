// The import check on builder images over the fake platform: names, hints and
// ordinals as the loader matches them, forwarders followed (by name, by
// ordinal, to a module with a dot, to what is missing), loops and long
// chains stopped, and the module-level findings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/import_check.h"
#include "analysis/scan_module.h"
#include "tests/support/fake_platform.h"
#include "tests/support/image_builder.h"
#include "tests/support/test_scan.h"

namespace vost {
namespace {

using test::ExportEntry;
using test::ImportThunk;
using test::PeImageLayout;

const char* const kSys = "C:\\Sys";
const char* const kApp = "C:\\Sys\\app.exe";

ImportThunk byName(const std::string& name, std::uint16_t hint = 0) { return ImportThunk{name, hint, std::nullopt}; }
ImportThunk byOrdinal(std::uint16_t ordinal) { return ImportThunk{"", 0, ordinal}; }

test::Bytes library(std::vector<ExportEntry> entries, std::uint32_t base = 1, bool wide = false,
                    const std::string& name = "lib.dll") {
    PeImageLayout layout;
    layout.pe32plus = wide;
    layout.exports.emplace();
    layout.exports->moduleName = name;
    layout.exports->ordinalBase = base;
    layout.exports->entries = std::move(entries);
    return test::buildPe(layout).bytes;
}

test::Bytes program(std::vector<std::string> modules, std::vector<std::vector<ImportThunk>> functions,
                    bool wide = false) {
    PeImageLayout layout;
    layout.pe32plus = wide;
    layout.imports = std::move(modules);
    layout.importFunctions = std::move(functions);
    return test::buildPe(layout).bytes;
}

struct ImportCheckTest : ::testing::Test {
    test::FakePlatform platform;

    void SetUp() override { platform.addSearchFolder(kSys); }
    void add(const std::string& name, test::Bytes bytes) { platform.addFile(std::string(kSys) + "\\" + name, std::move(bytes)); }

    // "kind module!function (reason)" per finding.
    std::vector<std::string> findings(const CheckSettings& settings = CheckSettings()) {
        ExportCache cache(platform);  // the files change between calls
        const ModuleCheck check = checkModuleImports(platform, cache, kApp, settings);
        EXPECT_TRUE(check.pe);
        std::vector<std::string> text;
        for (const Finding& f : check.findings) {
            static const char* const kinds[] = {"not-found", "other-machine", "not-an-image", "unresolved"};
            std::string line = std::string(kinds[int(f.kind)]) + " " + f.module;
            if (f.kind == FindingKind::unresolved)
                line += "!" + (f.byOrdinal ? "#" + std::to_string(f.ordinal) : f.function) + " (" + f.reason + ")";
            if (f.delayLoad) line += " delay";
            text.push_back(line);
        }
        return text;
    }
};

TEST_F(ImportCheckTest, NamesAndOrdinalsAsTheLoaderMatchesThem) {
    for (bool wide : {false, true}) {
        // Ordinals 5 (Alpha), 6 (by ordinal only), 7 (a hole), 8 (Beta).
        add("lib.dll", library({ExportEntry{{"Alpha"}, 0x40010, ""}, ExportEntry{{}, 0x40020, ""}, ExportEntry{},
                                ExportEntry{{"Beta"}, 0x40030, ""}},
                               5, wide));
        add("app.exe", program({"LIB.dll"},
                               {{byName("Alpha", 0), byName("Beta", 77), byName("alpha"), byName("Gamma"), byOrdinal(5),
                                 byOrdinal(6), byOrdinal(7), byOrdinal(4), byOrdinal(9)}},
                               wide));
        EXPECT_EQ(findings(), (std::vector<std::string>{
                                  "unresolved LIB.dll!alpha (not exported)", "unresolved LIB.dll!Gamma (not exported)",
                                  "unresolved LIB.dll!#7 (not exported)", "unresolved LIB.dll!#4 (not exported)",
                                  "unresolved LIB.dll!#9 (not exported)"}))
            << wide;
    }

    // A name table out of order: the loader's hint finds a name that its
    // binary search misses; without the hint the check says why it fails.
    test::PeImageLayout unsorted;
    unsorted.exports.emplace();
    unsorted.exports->entries = {ExportEntry{{"Zed"}, 0x40010, ""}, ExportEntry{{"Apple"}, 0x40020, ""},
                                 ExportEntry{{"Mid"}, 0x40030, ""}};
    unsorted.exports->keepNameOrder = true;
    add("lib.dll", test::buildPe(unsorted).bytes);
    add("app.exe", program({"lib.dll"}, {{byName("Zed", 0), byName("Zed", 2), byName("Mid")}}));
    EXPECT_EQ(findings(), (std::vector<std::string>{
                              "unresolved lib.dll!Zed (missed by the loader's search of a name table out of order)"}));
}

TEST_F(ImportCheckTest, ForwardersAreFollowedAsImportsOfTheirModule) {
    add("lib.dll", library({ExportEntry{{"ByName"}, 0, "other.Target"}, ExportEntry{{"ByOrdinal"}, 0, "other.#12"},
                            ExportEntry{{"Dotted"}, 0, "krnl386.exe16.Inner"}, ExportEntry{{"Twice"}, 0, "other.Hop"},
                            ExportEntry{{"NoModule"}, 0, "absent.F"}, ExportEntry{{"NoFunction"}, 0, "other.Nope"},
                            ExportEntry{{"NoOrdinal"}, 0, "other.#14"}, ExportEntry{{"Bad"}, 0, "nodot"},
                            ExportEntry{{"Wide"}, 0, "wide.F"}}));
    // other.dll: Target at ordinal 10, ordinal 12 by ordinal only, Hop
    // forwarding on to the module with a dot in its name.
    add("other.dll", library({ExportEntry{{"Target"}, 0x40000, ""}, ExportEntry{}, ExportEntry{{}, 0x40008, ""},
                              ExportEntry{{"Hop"}, 0, "krnl386.exe16.Inner"}},
                             10, false, "other.dll"));
    add("krnl386.exe16", library({ExportEntry{{"Inner"}, 0x40040, ""}}));
    add("wide.dll", library({ExportEntry{{"F"}, 0x40040, ""}}, 1, true));
    add("app.exe", program({"lib.dll"}, {{byName("ByName"), byName("ByOrdinal"), byName("Dotted"), byName("Twice"),
                                          byName("NoModule"), byName("NoFunction"), byName("NoOrdinal"),
                                          byName("Bad"), byName("Wide")}}));
    EXPECT_EQ(findings(),
              (std::vector<std::string>{
                  "unresolved lib.dll!NoModule (forwarded to absent.F: absent.dll not found)",
                  "unresolved lib.dll!NoFunction (forwarded to other.Nope: not exported)",
                  "unresolved lib.dll!NoOrdinal (forwarded to other.#14: not exported)",
                  "unresolved lib.dll!Bad (forwarded to nodot: malformed forwarder)",
                  "unresolved lib.dll!Wide (forwarded to wide.F: c:\\sys\\wide.dll is of machine x64)"}));
    // The module part ("krnl386.exe16", with its own dot) was searched as is.
    EXPECT_NE(std::find(platform.searches.begin(), platform.searches.end(), "krnl386.exe16"), platform.searches.end());
    EXPECT_EQ(std::find(platform.searches.begin(), platform.searches.end(), "krnl386.exe16.dll"), platform.searches.end());
}

TEST_F(ImportCheckTest, LoopsAndLongChainsEnd) {
    // a.F -> b.G -> a.F; a.Self -> a.Self; a.C0 -> a.C1 -> ... -> a.C19.
    std::vector<ExportEntry> a{ExportEntry{{"F"}, 0, "b.G"}, ExportEntry{{"Self"}, 0, "a.Self"}};
    for (int i = 0; i < 20; ++i)
        a.push_back(ExportEntry{{"C" + std::to_string(i)}, i == 19 ? 0x40050u : 0u, i == 19 ? "" : "a.C" + std::to_string(i + 1)});
    add("a.dll", library(a, 1, false, "a.dll"));
    add("b.dll", library({ExportEntry{{"G"}, 0, "a.F"}}, 1, false, "b.dll"));
    add("app.exe", program({"a.dll"}, {{byName("F"), byName("Self"), byName("C0"), byName("C10")}}));
    EXPECT_EQ(findings(), (std::vector<std::string>{
                              "unresolved a.dll!F (forwarded to b.G -> a.F: forwarding loop)",
                              "unresolved a.dll!Self (forwarded to a.Self: forwarding loop)",
                              "unresolved a.dll!C0 (forwarded to a.C1 -> a.C2 -> a.C3 -> a.C4 -> a.C5 -> a.C6 -> a.C7 -> "
                              "a.C8 -> a.C9 -> a.C10 -> a.C11 -> a.C12 -> a.C13 -> a.C14 -> a.C15 -> a.C16: more than "
                              "16 forwards)"}));

    // 65,535 ordinals, each forwarding to the next, the last to the first:
    // a loop through the whole table, which every import leaves after a
    // bounded number of steps.
    std::vector<ExportEntry> many(65535);
    for (std::size_t i = 0; i < many.size(); ++i) many[i].forwarder = "many.#" + std::to_string(i == 65534 ? 1 : i + 2);
    add("many.dll", library(many, 1, false, "many.dll"));
    std::vector<ImportThunk> all;
    for (std::uint32_t i = 1; i <= 65535; ++i) all.push_back(byOrdinal(std::uint16_t(i)));
    add("app.exe", program({"many.dll"}, {all}));
    ExportCache cache(platform);
    const ModuleCheck check = checkModuleImports(platform, cache, kApp);
    EXPECT_EQ(check.functions, 65535u);
    ASSERT_EQ(check.findings.size(), 65535u);
    for (const Finding& f : check.findings) ASSERT_NE(f.reason.find(": more than 16 forwards"), std::string::npos);
}

TEST_F(ImportCheckTest, ModulesMissingOfAnotherMachineOrNoImage) {
    add("wide.dll", library({ExportEntry{{"F"}, 0x40000, ""}}, 1, true));
    add("fake.dll", test::bytesOf("MZ not much"));
    PeImageLayout bare;  // a PE image without an export directory
    add("bare.dll", test::buildPe(bare).bytes);
    add("app.exe", program({"missing.dll", "wide.dll", "fake.dll", "bare.dll", "missing.dll"},
                           {{byName("F")}, {byName("F")}, {byName("F")}, {byName("F"), byOrdinal(1)}, {byName("G")}}));
    EXPECT_EQ(findings(), (std::vector<std::string>{"not-found missing.dll", "other-machine wide.dll",
                                                    "not-an-image fake.dll", "unresolved bare.dll!F (no export table)",
                                                    "unresolved bare.dll!#1 (no export table)"}));
}

TEST_F(ImportCheckTest, DelayLoadedModulesOnRequest) {
    add("lib.dll", library({ExportEntry{{"F"}, 0x40000, ""}}));
    PeImageLayout layout;
    layout.imports = {"lib.dll"};
    layout.importFunctions = {{byName("F")}};
    layout.delayImports = {{"late.dll", {byName("L")}}, {"LIB.DLL", {byName("F"), byName("Later")}}};
    add("app.exe", test::buildPe(layout).bytes);
    EXPECT_TRUE(findings().empty());
    CheckSettings settings;
    settings.delayLoads = true;
    EXPECT_EQ(findings(settings),
              (std::vector<std::string>{"not-found late.dll delay", "unresolved LIB.DLL!Later (not exported) delay"}));
}

// The walk with delay loads: the delay-load directory's modules become
// children marked delay-loaded, after the imported ones; a module both
// imported and delay-loaded stays one child, as imported; a program that
// only delay-loads is walked too.
TEST(DelayLoadWalk, AddsMarkedChildrenOnce) {
    PeImageLayout layout;
    layout.pe32plus = true;
    layout.imports = {"lib.dll"};
    layout.delayImports = {{"late.dll", {byOrdinal(1)}}, {"LIB.dll", {byOrdinal(2)}}, {"late.DLL", {}}};
    test::TestScan scan;
    scan.ctx.delayLoads = true;
    scan.platform.addFile("C:\\app.exe", test::buildPe(layout).bytes);
    ModuleNode& root = scan.root("C:\\app.exe");
    EXPECT_EQ(scanModule(scan.ctx, root), 1);
    EXPECT_EQ(scan.referencedNames(), (std::vector<std::string>{"lib.dll", "late.dll"}));
    for (ModuleNode* child : scan.childrenOf(root))
        EXPECT_EQ(child->delayLoaded, std::string(child->moduleName) == "late.dll");

    layout.imports.clear();
    test::TestScan onlyDelay;
    onlyDelay.ctx.delayLoads = true;
    onlyDelay.platform.addFile("C:\\app.exe", test::buildPe(layout).bytes);
    EXPECT_EQ(scanModule(onlyDelay.ctx, onlyDelay.root("C:\\app.exe")), 1);
    EXPECT_EQ(onlyDelay.referencedNames(), (std::vector<std::string>{"late.dll", "LIB.dll"}));
}

}  // namespace
}  // namespace vost
