// Managed programs on the page, in a real property sheet, against
// vostscan.exe --check --json for the same file: every label and row, and
// each item's state image (managed or native, failing, failing below) and
// tip, and the problems the page copies.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/wide_text.h"
#include "tests/shell/page_host_fixture.h"
#include "tests/shell/scanner_compare.h"
#include "tests/shell/shell_host.h"

namespace vost::test {
namespace {

std::string lower(std::string text) {
    CharLowerA(&text[0]);
    return text;
}

// Expects the page's item `entry` (whose parent's module is `parent`) to
// carry the state image the scanner's item `item` calls for; returns how
// many failing items it and its subtree hold, at start-up and on first use.
struct Failing {
    std::size_t atStart = 0, onFirstUse = 0;
};
Failing expectMarks(const TreeEntry& entry, const JsonValue& item, const std::string& parent,
                    const Findings& findings) {
    SCOPED_TRACE(entry.label);
    const std::string module = lower(item["module"].text);
    bool fails = !parent.empty() && item["path"].text == "file not found";
    const auto of = findings.find(parent);
    if (of != findings.end())
        for (const JsonValue* f : of->second)
            if (lower((*f)["module"].text) == module) fails = true;
    // What keeps the module's own runtime or metadata from loading.
    const auto own = findings.find(module);
    if (own != findings.end())
        for (const JsonValue* f : own->second)
            for (const char* kind : {"framework-not-found", "bad-config", "bad-metadata"})
                if ((*f)["kind"].text == kind) fails = true;
    Failing below;
    EXPECT_EQ(entry.children.size(), item["children"].items.size());
    for (std::size_t i = 0; i < entry.children.size() && i < item["children"].items.size(); ++i) {
        const Failing child = expectMarks(entry.children[i], item["children"].items[i], module, findings);
        below.atStart += child.atStart;
        below.onFirstUse += child.onFirstUse;
    }
    // The runtime loads a P/Invoke module on the first call into it: one
    // that is missing fails there, not at start-up (amber, as a delay-load).
    const bool failsAtStart = fails && item["reference"].text != "pinvoke";
    const bool managed = item["managed"].integer == 1;
    EXPECT_EQ(entry.stateImage, failsAtStart     ? (managed ? 7 : 1)
                                : fails          ? 4
                                : below.atStart  ? (managed ? 8 : 2)
                                : below.onFirstUse ? 5
                                : managed        ? 6
                                                 : 0);
    if (managed && !fails) {
        EXPECT_EQ(entry.tip.rfind("Managed", 0), 0u) << entry.tip;
    }
    if (fails) {
        EXPECT_FALSE(entry.tip.empty());
    }
    return Failing{below.atStart + (failsAtStart ? 1 : 0), below.onFirstUse + (fails && !failsAtStart ? 1 : 0)};
}

void expectManagedPage(const std::string& file) {
    SCOPED_TRACE(file);
    OpenedPage opened = openPage(file);
    ASSERT_NE(opened.page, nullptr);
    expectPageMatchesScanner(opened, file);

    const JsonValue want = scannerOutput(file, "--check");
    const Findings findings = findingsByModule(want);
    const std::vector<TreeEntry> tree = readTree(opened.page);
    ASSERT_EQ(tree.size(), 1u);
    expectMarks(tree[0], want["tree"], "", findings);

    // Copy Problems: vostscan's lines, one per finding.
    std::string copied;
    EXPECT_EQ(copiedProblemLines(opened.page, copied), std::size_t(want["check"]["unresolved"].integer)) << copied;
}

class ManagedPage : public PageHostTest {};

// The programs mcs built (tests/managed_programs): private assemblies, a
// private path, another version of a strong name, a 2.0 program; and a
// native program's page, which carries no managed mark.
TEST_F(ManagedPage, MarksAndTipsEqualTheScannersCheck) {
    const std::string programs = programFolder() + "managed_programs\\";
    if (GetFileAttributesA((programs + "app.exe").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "the managed test programs were not built";
    for (const char* program : {"private\\app.exe", "privatepath\\app.exe", "wrongversion\\app.exe",
                                "v2program\\app2.exe"})
        expectManagedPage(programs + program);

    // An app host beside its assembly: the page shows app.dll under app.exe.
    TempFolder folder;
    for (const char* file : {"app.dll", "Lib.dll", "vostnative.dll"})
        ASSERT_TRUE(CopyFileW(wideText(programs + file).c_str(), wideText(folder.path() + "\\" + file).c_str(), FALSE));
    ASSERT_TRUE(
        CopyFileW(wideText(programs + "vosthost.exe").c_str(), wideText(folder.path() + "\\app.exe").c_str(), FALSE));
    folder.write("app.runtimeconfig.json",
                 R"({"runtimeOptions":{"framework":{"name":"Microsoft.NETCore.App","version":"8.0.0"}}})");
    expectManagedPage(folder.path() + "\\app.exe");

    // A native program: not one managed mark.
    OpenedPage native = openPage(prefixProgram("notepad.exe"));
    const std::vector<TreeEntry> tree = readTree(native.page);
    std::vector<const TreeEntry*> open = {&tree[0]};
    while (!open.empty()) {
        const TreeEntry* entry = open.back();
        open.pop_back();
        EXPECT_LT(entry->stateImage, 6) << entry->label;
        for (const TreeEntry& child : entry->children) open.push_back(&child);
    }
}

}  // namespace
}  // namespace vost::test
