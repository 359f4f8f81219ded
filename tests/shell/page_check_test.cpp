// The page's "will it load?" marks on the real controls, in a real property
// sheet, against vostscan.exe --check --json for the same file: each item's
// state image and tip, each row's, and the problems the page copies.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/shell/scanner_compare.h"
#include "tests/shell/shell_host.h"
#include "tests/shell/page_host_fixture.h"
#include "tests/support/image_builder.h"
#include "tests/windows/temp_folder.h"
#include "resources/resource_ids.h"

namespace vost::test {
namespace {

std::string lower(std::string text) {
    CharLowerA(&text[0]);
    return text;
}

std::string nameOf(const std::string& label) {
    std::string name = label.substr(0, label.find('('));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return lower(name);
}

// The non-delay-load findings of each checked module, by module name.
using Findings = std::map<std::string, std::vector<const JsonValue*>>;

// Expects the marks of `entry` (whose parent is `parent`, empty for the
// root) from the scanner's findings; returns how many failing items it and
// its subtree hold. Failing modules' names go to `failing`.
std::size_t expectMarks(const TreeEntry& entry, const std::string& parent, const Findings& findings,
                        std::set<std::string>& failing) {
    SCOPED_TRACE(entry.label);
    std::vector<const JsonValue*> own;
    const auto of = findings.find(parent);
    if (of != findings.end())
        for (const JsonValue* f : of->second)
            if (lower((*f)["module"].text) == nameOf(entry.label)) own.push_back(f);
    const bool fails = !parent.empty() && (!own.empty() || entry.label.find("(file not found)") != std::string::npos);
    std::size_t below = 0;
    for (const TreeEntry& child : entry.children) below += expectMarks(child, nameOf(entry.label), findings, failing);

    EXPECT_EQ(entry.stateImage, fails ? 1 : below ? 2 : 0);
    for (const JsonValue* f : own) {
        const std::string& kind = (*f)["kind"].text;
        const std::string want = kind == "unresolved" ? ((*f)["function"].kind == JsonValue::string
                                                             ? (*f)["function"].text
                                                             : "#" + std::to_string((*f)["ordinal"].integer))
                                 : kind == "not-found"     ? "not found"
                                 : kind == "other-machine" ? " importer"
                                                           : "not a PE image";
        EXPECT_NE(entry.tip.find(want), std::string::npos) << entry.tip;
    }
    if (below) {
        EXPECT_NE(entry.tip.find(std::to_string(below) + (below == 1 ? " reference below" : " references below")),
                  std::string::npos)
            << entry.tip;
    }
    if (fails) failing.insert(nameOf(entry.label));
    return below + (fails ? 1 : 0);
}

std::string clipboardText(HWND owner) {
    std::string text;
    if (!OpenClipboard(owner)) return "<busy>";
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        text = static_cast<const char*>(GlobalLock(data));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

void expectPageMarksMatchScanner(const std::string& file) {
    SCOPED_TRACE(file);
    OpenedPage opened = openPage(file);
    ASSERT_NE(opened.page, nullptr);
    // The page shows exactly what it showed before it checked.
    expectPageMatchesScanner(opened, file);

    const JsonValue want = scannerOutput(file, "--check");
    Findings findings;
    for (const JsonValue& module : want["check"]["modules"].items)
        for (const JsonValue& f : module["findings"].items)
            if (f["delayLoad"].integer == 0)
                findings[lower(module["module"].text)].push_back(&f);

    const std::vector<TreeEntry> tree = readTree(opened.page);
    ASSERT_EQ(tree.size(), 1u);
    std::set<std::string> failing;
    expectMarks(tree[0], "", findings, failing);

    const std::vector<ListRow> rows = readList(opened.page);
    const auto marks = readRowMarks(opened.page);
    ASSERT_EQ(rows.size(), marks.size());
    for (std::size_t row = 0; row < rows.size(); ++row) {
        SCOPED_TRACE(rows[row][0]);
        const bool fails = failing.count(lower(rows[row][0])) != 0;
        EXPECT_EQ(marks[row].first, fails ? 1 : 0);
        if (fails) {
            EXPECT_NE(marks[row].second.find(": "), std::string::npos) << marks[row].second;
        }
    }

    // The problems: vostscan's lines, one per finding (delay-loads are not
    // read by the page, and vostscan reads them only when asked).
    const long long count = want["check"]["unresolved"].integer;
    OpenClipboard(opened.page);
    EmptyClipboard();
    CloseClipboard();
    SendMessageA(opened.page, WM_COMMAND, MAKEWPARAM(IDM_COPY_PROBLEMS, 0), 0);
    const std::string copied = clipboardText(opened.page);
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = copied.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
    EXPECT_EQ(lines, std::size_t(count)) << copied;
    EXPECT_EQ(failing.empty(), count == 0);
}

class PageCheckTest : public PageHostTest {};

TEST_F(PageCheckTest, SystemProgramsAreMarkedAsTheScannerChecksThem) {
    for (const char* name : {"notepad.exe", "winecfg.exe", "regedit.exe"})
        expectPageMarksMatchScanner(prefixProgram(name));
}

// check_programs/one: every function there but an ordinal without an export
// and forwarders to a missing module and function; two: g missing as well.
TEST_F(PageCheckTest, CheckProgramsAreMarkedAsTheScannerChecksThem) {
    for (const char* folder : {"one", "two"})
        expectPageMarksMatchScanner(programFolder() + "check_programs\\" + folder + "\\app.exe");
}

// ROOT imports A (which imports B, which imports the missing GONE), WIDE (of
// another machine) and B again, whose second place stays collapsed.
TEST_F(PageCheckTest, DeepMissingModuleAndAnotherMachineAreMarkedToTheRoot) {
    TempFolder folder;
    const auto write = [&](const char* name, PeImageLayout layout) {
        const Bytes bytes = buildPe(layout).bytes;
        return folder.write(name, std::string(bytes.begin(), bytes.end()));
    };
    // Each import names ordinal 1, which each library exports.
    PeImageLayout root, a, b, wide;
    for (PeImageLayout* library : {&a, &b, &wide}) {
        library->exports.emplace();
        library->exports->entries.push_back(ExportEntry{{"f"}, 0x40010, ""});
    }
    root.imports = {"A.DLL", "WIDE.DLL", "B.DLL"};
    a.imports = {"B.DLL"};
    b.imports = {"GONE.DLL"};
    wide.pe32plus = true;
    write("A.DLL", a);
    write("B.DLL", b);
    write("WIDE.DLL", wide);
    const std::string file = write("ROOT.EXE", root);
    expectPageMarksMatchScanner(file);

    OpenedPage opened = openPage(file);
    const std::vector<TreeEntry> tree = readTree(opened.page);
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree[0].stateImage, 2);
    EXPECT_NE(tree[0].tip.find("2 references below will not load"), std::string::npos) << tree[0].tip;
}

// Dialogs closed right after the walk, while the check reads and marks a
// closure in which every reference fails: each worker ends on its own and
// lets the last object go.
TEST_F(PageCheckTest, ClosingTheDialogDuringTheCheckIsSafe) {
    TempFolder folder;
    constexpr int kLength = 150;
    for (int i = kLength - 1; i >= 0; --i) {
        PeImageLayout layout;  // no exports: every import of it fails
        if (i + 1 < kLength) layout.imports = {"M" + std::to_string(i + 1) + ".DLL", "kernel32.dll"};
        const Bytes bytes = buildPe(layout).bytes;
        folder.write("M" + std::to_string(i) + ".DLL", std::string(bytes.begin(), bytes.end()));
    }
    PeImageLayout root;
    root.imports = {"M0.DLL", "shell32.dll", "comctl32.dll", "ole32.dll"};
    const Bytes bytes = buildPe(root).bytes;
    const std::string file = folder.write("Chain.exe", std::string(bytes.begin(), bytes.end()));

    int duringCheck = 0;
    for (int round = 0; round < 10; ++round) {
        ComPtr<IShellExtInit> ext = createExtension();
        ComPtr<IDataObject> data = shellDataObject({file});
        ext->Initialize(nullptr, data.get(), nullptr);
        data.reset();
        auto sheet = std::make_unique<Sheet>(addPages(ext.get()), 1);
        HWND page = sheet->page(1);
        // The walk has ended when the list's columns are fitted to their
        // texts (the Path column's 100 pixels are too few for any path here).
        pumpUntil([&] {
            return SendDlgItemMessageA(page, 1012, LVM_GETCOLUMNWIDTH, 4, 0) != 100 ||
                   recordOf(ext.get()).scanState == kScanFinished;
        });
        if (recordOf(ext.get()).scanState != kScanFinished) ++duringCheck;
        sheet.reset();
        ext.reset();
    }
    EXPECT_TRUE(pumpUntil([] { return Component::get().canUnloadNow() == S_OK; }, 60000));
    EXPECT_GT(duringCheck, 0);
}

}  // namespace
}  // namespace vost::test
