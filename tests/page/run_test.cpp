// A recorded run: its lines read back whatever they hold, the names of exit
// statuses, and the run merged into a scanned page over the in-memory
// controls: where run-time modules go, what is marked, what is found.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "page/run_merge.h"
#include "page/run_record.h"
#include "tests/page/page_fixture.h"
#include "tests/support/image_builder.h"

namespace vost::test {
namespace {

RunEvent make(RunEventKind kind, std::uint32_t pid = 4) {
    RunEvent e;
    e.kind = kind;
    e.pid = pid;
    return e;
}

TEST(RunRecord, EveryEventReadsBackAsWritten) {
    RunEvent load = make(RunEventKind::moduleLoad);
    load.micros = 1234567;
    load.address = 0x7FF812340000ull;
    load.bits = 64;
    load.path = "C:\\Prog\\tab\there\\new\nline\\back\\\\slash.dll";
    load.asked = "plug";
    load.caller = "C:\\Prog\\app.exe";
    RunEvent lookup = make(RunEventKind::lookupFailed);
    lookup.byOrdinal = true;
    lookup.ordinal = 0;  // ordinal 0 is still an ordinal
    lookup.code = 0xC000007A;
    RunEvent crash = make(RunEventKind::exception);
    crash.firstChance = false;
    crash.code = 0xC0000005;
    crash.offset = 0x19B7;
    RunEvent exit = make(RunEventKind::processExit);  // code 0 is written
    exit.count = 3;
    RunEvent failed = make(RunEventKind::loadFailed);
    failed.code = 126;
    failed.win32 = true;
    failed.asked = "Łódź 日本語.dll";
    for (const RunEvent& e : {load, lookup, crash, exit, failed}) {
        const std::string line = runEventLine(e);
        SCOPED_TRACE(line);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        RunEvent back;
        ASSERT_TRUE(parseRunEventLine(line, back));
        EXPECT_EQ(runEventLine(back), line);
        EXPECT_EQ(back.path, e.path);
        EXPECT_EQ(back.asked, e.asked);
        EXPECT_EQ(back.byOrdinal, e.byOrdinal);
        EXPECT_EQ(back.firstChance, e.firstChance);
        EXPECT_EQ(back.address, e.address);
    }
}

TEST(RunRecord, LinesThatAreNoEventArePassedOver) {
    RunEvent e;
    for (const char* line : {"", "pid 228", "loaded\tt=1", "load\tt=12x", "load\tpid=99999999999999999999999",
                             "exit\tcode=0x1FFFFFFFFFFFFFFFF", "load\tt="})
        EXPECT_FALSE(parseRunEventLine(line, e)) << line;
    // Unknown keys, fields without a value and a carriage return are no harm.
    ASSERT_TRUE(parseRunEventLine("unload\tt=5\tpid=8\tfuture=1\tnovalue\tpath=a\\\\b\\\\\r", e));
    EXPECT_EQ(e.kind, RunEventKind::moduleUnload);
    EXPECT_EQ(e.pid, 8u);
    EXPECT_EQ(e.path, "a\\b\\");
}

TEST(RunRecord, ArgumentsAreQuotedAsCommandLineToArgvReadsThem) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", "plain"},
        {"", "\"\""},
        {"two words", "\"two words\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"C:\\dir with blank\\", "\"C:\\dir with blank\\\\\""},
        {"a\\\\\"b", "\"a\\\\\\\\\\\"b\""},
        {"C:\\no\\blank\\", "C:\\no\\blank\\"},
    };
    for (const auto& [argument, quoted] : cases) EXPECT_EQ(quoteArgument(argument), quoted) << argument;
}

TEST(RunRecord, StatusesAreNamed) {
    EXPECT_EQ(statusText(0), "0");
    EXPECT_EQ(statusText(3), "3");
    EXPECT_EQ(statusText(0xC0000135), "0xC0000135 STATUS_DLL_NOT_FOUND");
    EXPECT_EQ(statusText(0xC000007B), "0xC000007B STATUS_INVALID_IMAGE_FORMAT");
    EXPECT_EQ(statusText(0xC0000139), "0xC0000139 STATUS_ENTRYPOINT_NOT_FOUND");
    EXPECT_EQ(statusText(0xDEAD0001), "0xDEAD0001");
    EXPECT_EQ(statusText(126, true), "error 126 ERROR_MOD_NOT_FOUND");
    EXPECT_EQ(explainingFindingKinds(0xC0000139), std::vector<std::string>{"unresolved"});
    EXPECT_TRUE(explainingFindingKinds(0xC0000005).empty());
}

TEST(RunRecord, SummaryFollowsEachProcessThroughReusedIds) {
    std::vector<RunEvent> events;
    RunEvent start = make(RunEventKind::processStart);
    start.path = "a.exe";
    events.push_back(start);
    RunEvent load = make(RunEventKind::moduleLoad);
    load.address = 0x1000;
    load.path = "x.dll";
    events.push_back(load);
    RunEvent unload = make(RunEventKind::moduleUnload);
    unload.address = 0x1000;
    unload.micros = 9;
    events.push_back(unload);
    RunEvent exception = make(RunEventKind::exception);
    events.push_back(exception);
    RunEvent exit = make(RunEventKind::processExit);
    exit.count = 120;  // more than the record wrote lines for
    exit.code = 7;
    events.push_back(exit);
    start.path = "b.exe";  // the same id, another process
    start.parent = 4;
    events.push_back(start);
    events.push_back(make(RunEventKind::threadStart));
    const RunSummary s = summarizeRun(events);
    ASSERT_EQ(s.processes.size(), 2u);
    EXPECT_EQ(s.processes[0].modules.at(0).unloadedAt, 9);
    EXPECT_EQ(s.processes[0].firstChanceExceptions, 120u);
    EXPECT_EQ(s.processes[0].exitCode, 7u);
    EXPECT_EQ(s.processes[1].threads, 1u);
    EXPECT_FALSE(s.processes[1].exited);
    EXPECT_EQ(s.ended, "");  // no end: the recorder died
    EXPECT_NE(describeEnding(s).find("recorder ended before"), std::string::npos);
}

struct MergeCase {
    const char* name;
    std::vector<RunEvent> run;  // after the program's start
    std::string outline;
    std::string rows;      // MODULE=image, each row that has one
    std::string findings;  // writeRunFindings without its last line
};

RunEvent loaded(const std::string& name, const std::string& caller = "", const std::string& asked = "",
                std::int64_t at = 1000) {
    RunEvent e = make(RunEventKind::moduleLoad);
    e.path = (name == "lib.dll" ? "c:\\windows\\system32\\" : "c:\\app\\") + name;
    e.caller = caller.empty() ? caller : "c:\\app\\" + caller;
    e.asked = asked;
    e.micros = at;
    return e;
}
RunEvent failedLoad(const std::string& asked, const std::string& caller) {
    RunEvent e = make(RunEventKind::loadFailed);
    e.asked = asked;
    e.caller = "c:\\app\\" + caller;
    e.code = 0xC0000135;
    return e;
}
RunEvent failedLookup(const std::string& module, const std::string& name, std::uint32_t ordinal = 0) {
    RunEvent e = make(RunEventKind::lookupFailed);
    e.path = module;
    e.name = name;
    e.byOrdinal = name.empty();
    e.ordinal = ordinal;
    e.caller = "c:\\app\\app.exe";
    e.code = 0xC000007A;
    return e;
}
RunEvent exited(std::uint32_t code) {
    RunEvent e = make(RunEventKind::processExit);
    e.code = code;
    e.micros = 2000;
    return e;
}

TEST(RunMerge, RunTimeModulesGoUnderWhoAskedAndFailuresAreMarked) {
    const std::string lib = "c:\\windows\\system32\\lib.dll";
    const std::string top = "APP.EXE =2 | 1 reference below will not load";
    const std::string statics = "  GONE.DLL =1 | not found\n  LATER.DLL =10 | delay-loaded: loaded on first use / Not loaded in the run\n  LIB.DLL\n";
    const std::vector<MergeCase> cases = {
        {"a plug-in under its caller with its import below it; a static module never loaded",
         // The loader may send an import's load before the module that needs it.
         {loaded("lib.dll"), loaded("dep.dll", "app.exe", "plug.dll"), loaded("plug.dll", "app.exe", "PLUG"),
          exited(0)},
         top + "\n" + statics + "  PLUG.DLL =9 | Loaded at run time, at 0.001 s, by APP.EXE (asked for as PLUG)\n"
         "    DEP.DLL =9 | Loaded at run time, at 0.001 s, by APP.EXE (asked for as plug.dll)\n    LIB.DLL\n",
         "GONE.DLL=1 LATER.DLL=10 DEP.DLL=9 PLUG.DLL=9 ", ""},
        {"a module loaded by a plug-in's own call goes under the plug-in; one nobody asked for under the root",
         {loaded("lib.dll"), loaded("plug.dll", "app.exe", "plug.dll"), loaded("dep.dll", "app.exe", "plug.dll"),
          loaded("other.dll", "plug.dll", "other.dll"), loaded("stray.dll"), exited(0)},
         top + "\n" + statics + "  PLUG.DLL =9 | Loaded at run time, at 0.001 s, by APP.EXE (asked for as plug.dll)\n"
         "    DEP.DLL =9 | Loaded at run time, at 0.001 s, by APP.EXE (asked for as plug.dll)\n    LIB.DLL\n"
         "    OTHER.DLL =9 | Loaded at run time, at 0.001 s, by PLUG.DLL (asked for as other.dll)\n"
         "  STRAY.DLL =9 | Loaded at run time, at 0.001 s\n",
         "GONE.DLL=1 LATER.DLL=10 DEP.DLL=9 PLUG.DLL=9 OTHER.DLL=9 STRAY.DLL=9 ", ""},
        {"failed loads (once per caller and name) and lookups by name and by ordinal",
         {loaded("lib.dll"), failedLoad("none", "app.exe"), failedLoad("NONE.DLL", "app.exe"),
          failedLookup(lib, "nope"), failedLookup(lib, "", 9), exited(0)},
         top + " / 2 failures below in the run\n  GONE.DLL =1 | not found\n  LATER.DLL =10 | delay-loaded: loaded on first use / Not loaded in the run\n"
         "  LIB.DLL =1 | GetProcAddress failed in the run, called by APP.EXE: nope (0xC000007A "
         "STATUS_PROCEDURE_NOT_FOUND) / GetProcAddress failed in the run, called by APP.EXE: #9 (0xC000007A "
         "STATUS_PROCEDURE_NOT_FOUND)\n"
         "  NONE.DLL =1 | LoadLibrary(none) failed in the run: 0xC0000135 STATUS_DLL_NOT_FOUND / "
         "LoadLibrary(NONE.DLL) failed in the run: 0xC0000135 STATUS_DLL_NOT_FOUND\n",
         "GONE.DLL=1 LATER.DLL=10 LIB.DLL=1 NONE.DLL=1 ",
         "load-failed APP.EXE -> NONE.DLL (0xC0000135 STATUS_DLL_NOT_FOUND)\n"
         "load-failed APP.EXE -> NONE.DLL (0xC0000135 STATUS_DLL_NOT_FOUND)\n"
         "lookup-failed APP.EXE -> LIB.DLL!nope (0xC000007A STATUS_PROCEDURE_NOT_FOUND)\n"
         "lookup-failed APP.EXE -> LIB.DLL!#9 (0xC000007A STATUS_PROCEDURE_NOT_FOUND)\n"},
        {"a program that could not start: its exit status explained by the check's finding",
         {loaded("lib.dll"), exited(0xC0000135)},
         "APP.EXE =1 | 1 reference below will not load / Exit code 0xC0000135 STATUS_DLL_NOT_FOUND: a module it "
         "imports was not found: not-found APP.EXE -> GONE.DLL\n" + statics,
         "APP.EXE=1 GONE.DLL=1 LATER.DLL=10 ",
         "exit APP.EXE (0xC0000135 STATUS_DLL_NOT_FOUND: a module it imports was not found: "
         "not-found APP.EXE -> GONE.DLL)\n"},
    };
    for (const MergeCase& c : cases) {
        SCOPED_TRACE(c.name);
        // APP.EXE imports LIB.DLL and the missing GONE.DLL and delay-loads
        // LATER.DLL; PLUG.DLL imports DEP.DLL and LIB.DLL. Each import is
        // f, which every library exports.
        PageFixture page;
        const auto add = [&](const std::string& path, const std::vector<std::string>& imports,
                             const std::vector<std::string>& delayed = {}) {
            PeImageLayout layout;
            layout.imports = imports;
            for (std::size_t i = 0; i < imports.size(); ++i)
                layout.importFunctions.push_back({ImportThunk{"f", 0, std::nullopt}});
            for (const std::string& module : delayed)
                layout.delayImports.push_back(DelayImport{module, {ImportThunk{"f", 0, std::nullopt}}});
            layout.exports.emplace();
            layout.exports->entries.push_back(ExportEntry{{"f"}, 0x40010, ""});
            page.platform->fake.addFile(path, buildPe(layout).bytes);
        };
        add("c:\\app\\app.exe", {"lib.dll", "gone.dll"}, {"later.dll"});
        add(lib, {});
        add("c:\\app\\plug.dll", {"dep.dll", "lib.dll"});
        for (const char* name : {"dep.dll", "other.dll", "stray.dll", "later.dll"}) add(std::string("c:\\app\\") + name, {});
        page.ext.delayLoads = true;
        page.ext.selectedPath = "c:\\app\\app.exe";
        scanThread(page.ext);
        ASSERT_NE(page.ext.checkMarks, nullptr);

        std::vector<RunEvent> events{make(RunEventKind::processStart)};
        events.front().path = "c:\\app\\app.exe";
        events.insert(events.end(), c.run.begin(), c.run.end());
        RunEvent end = make(RunEventKind::ended, 0);
        end.text = kEndedExited;
        events.push_back(end);
        const RunMerge merge =
            mergeRun(page.ext, recordTree(*page.tree), summarizeRun(events), page.ext.checkMarks->problems);
        const CheckMarks marks = markRun(recordTree(*page.tree), merge, page.ext.checkMarks.get());
        applyMarks(*page.tree, *page.list, marks);
        EXPECT_EQ(markedOutline(*page.tree, marks), c.outline);
        std::string rows;
        for (int row = 0; row < page.list->rowCount(); ++row)
            if (const int image = page.list->rowStateImage(row))
                rows += page.list->cellText(row, 0) + "=" + std::to_string(image) + " ";
        EXPECT_EQ(rows, c.rows);
        std::string findings;
        writeRunFindings(merge, findings);
        EXPECT_EQ(findings.substr(0, findings.rfind("run: ")), c.findings);
        // Copy Problems: the check's lines, then the run's.
        EXPECT_EQ(marks.problems.substr(0, page.ext.checkMarks->problems.size()), page.ext.checkMarks->problems);
        EXPECT_EQ(marks.findingCount, page.ext.checkMarks->findingCount + merge.findings.size());
    }
}

}  // namespace
}  // namespace vost::test
