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

#include "component/dependency_extension.h"
#include "platform/win32/wide_text.h"
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

// How many failing items a subtree holds, of each kind.
struct Failing {
    std::size_t atStart = 0, onFirstUse = 0;
};

// Expects the marks of `entry` (the page's item; `item` the scanner's, whose
// parent is `parent`, empty for the root) from the scanner's findings. A
// reference fails at start-up unless it, or a reference above it, is a
// delay-load (these trees load no module both ways); a module imported and
// delay-loaded by one importer is shown as imported, and what only its
// delay-load names fails on first use. Failing modules' names go to
// `failing`, with the image their rows get.
Failing expectMarks(const TreeEntry& entry, const JsonValue& item, const std::string& parent, bool belowDelayLoad,
                    const Findings& findings, std::map<std::string, int>& failing) {
    SCOPED_TRACE(entry.label);
    const bool delayLoaded = item["delayLoad"].integer != 0;
    std::vector<const JsonValue*> own;
    bool startUp = false;
    const auto of = findings.find(parent);
    if (of != findings.end())
        for (const JsonValue* f : of->second)
            if (lower((*f)["module"].text) == nameOf(entry.label)) {
                own.push_back(f);
                startUp |= (*f)["delayLoad"].integer == 0;
            }
    const bool notFound = entry.label.find("(file not found)") != std::string::npos;
    const bool fails = !parent.empty() && (!own.empty() || notFound);
    const bool firstUse = belowDelayLoad || delayLoaded;
    const bool failsAtStart = fails && !firstUse && (startUp || notFound);
    Failing below;
    for (std::size_t i = 0; i < entry.children.size(); ++i) {
        const Failing child = expectMarks(entry.children[i], item["children"].items[i], nameOf(entry.label), firstUse,
                                          findings, failing);
        below.atStart += child.atStart;
        below.onFirstUse += child.onFirstUse;
    }

    EXPECT_EQ(entry.stateImage, failsAtStart     ? 1
                                : fails          ? 4
                                : below.atStart  ? 2
                                : below.onFirstUse ? 5
                                : delayLoaded    ? 3
                                                 : 0);
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
    if (fails && !failsAtStart) EXPECT_NE(entry.tip.find("fails on first use: "), std::string::npos) << entry.tip;
    if (below.atStart) {
        EXPECT_NE(entry.tip.find(std::to_string(below.atStart) +
                                 (below.atStart == 1 ? " reference below" : " references below") + " will not load"),
                  std::string::npos)
            << entry.tip;
    }
    if (below.onFirstUse) EXPECT_NE(entry.tip.find(" on first use"), std::string::npos) << entry.tip;
    if (fails) {
        int& row = failing[nameOf(entry.label)];
        row = failsAtStart || row == 1 ? 1 : 4;
    }
    return Failing{below.atStart + (failsAtStart ? 1 : 0), below.onFirstUse + (fails && !failsAtStart ? 1 : 0)};
}

void expectPageMarksMatchScanner(const std::string& file) {
    SCOPED_TRACE(file);
    OpenedPage opened = openPage(file);
    ASSERT_NE(opened.page, nullptr);
    // The page shows exactly what it showed before it checked.
    expectPageMatchesScanner(opened, file);

    const JsonValue want = scannerOutput(file, "--check");
    const Findings findings = findingsByModule(want);

    const std::vector<TreeEntry> tree = readTree(opened.page);
    ASSERT_EQ(tree.size(), 1u);
    std::map<std::string, int> failing;
    expectMarks(tree[0], want["tree"], "", false, findings, failing);

    const std::vector<ListRow> rows = readList(opened.page);
    const auto marks = readRowMarks(opened.page);
    ASSERT_EQ(rows.size(), marks.size());
    for (std::size_t row = 0; row < rows.size(); ++row) {
        SCOPED_TRACE(rows[row][0]);
        const auto fails = failing.find(lower(rows[row][0]));
        const bool delayLoaded = want["list"].items[row]["delayLoad"].integer != 0;
        EXPECT_EQ(marks[row].first, fails != failing.end() ? fails->second : delayLoaded ? 3 : 0);
        if (marks[row].first) EXPECT_NE(marks[row].second.find(" "), std::string::npos) << marks[row].second;
    }

    // The problems: vostscan's lines, one per finding.
    const long long count = want["check"]["unresolved"].integer;
    std::string copied;
    EXPECT_EQ(copiedProblemLines(opened.page, copied), std::size_t(count)) << copied;
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

// Delay-loaded modules present, missing, lacking a function (ordinal 4) and
// of another machine (lld-link's directory, the RVA form), the same in the
// old form of virtual addresses (the builder's), and Microsoft-linked npm
// add-ons that delay-load their host: the page marks them as the scanner
// checks them, and a program whose only failures are delay-loaded shows an
// amber ring at the root, not a red one.
TEST_F(PageCheckTest, DelayLoadedModulesAreMarkedAsTheScannerChecksThem) {
    const std::string programs = programFolder() + "delay_programs\\";
    TempFolder folder;
    PeImageLayout old;
    old.delayImports = {{"vostlate.dll", {ImportThunk{"d1", 0, std::nullopt}}}};
    old.delayVirtualAddresses = true;
    old.pe32plus = sizeof(void*) == 8;  // the machine of the vostlate.dll beside it
    const Bytes bytes = buildPe(old).bytes;
    const std::string oldForm = folder.write("old.exe", std::string(bytes.begin(), bytes.end()));
    ASSERT_TRUE(CopyFileW(wideText(programs + "lacking\\vostlate.dll").c_str(),
                          wideText(folder.path() + "\\vostlate.dll").c_str(), FALSE));
    const std::string addons = programFolder() + "npm-addons\\utf-8-validate-5.0.10\\";
    const struct {
        std::string file;
        int rootImage;
    } cases[] = {{programs + "present\\dapp.exe", 0},       {programs + "missing\\dapp.exe", 5},
                 {programs + "lacking\\dapp.exe", 5},       {programs + "other\\dapp.exe", 5},
                 {oldForm, 0},                               {addons + "win32-ia32\\node.napi.node", 5},
                 // A 32-bit prefix holds no 64-bit system modules: there the
                 // 64-bit add-on cannot start either.
                 {addons + "win32-x64\\node.napi.node", sizeof(void*) == 4 ? 2 : 5}};
    for (const auto& c : cases) {
        expectPageMarksMatchScanner(c.file);
        OpenedPage opened = openPage(c.file);
        const std::vector<TreeEntry> tree = readTree(opened.page);
        ASSERT_EQ(tree.size(), 1u);
        EXPECT_EQ(tree[0].stateImage, c.rootImage) << c.file;
    }
}

// "Show Delay-Loaded Modules" turns them off for the user: the page is
// scanned again and equals the scanner without them (the page as it was
// before it showed them), marks included; turned on again, they are back.
TEST_F(PageCheckTest, TheDelayLoadSwitchScansAgainWithoutThem) {
    const std::string file = programFolder() + "delay_programs\\present\\dapp.exe";
    OpenedPage opened = openPage(file);
    ASSERT_NE(opened.page, nullptr);
    DependencyExtension& record = recordOf(opened.ext.get());
    for (const bool delayLoads : {false, true}) {
        SCOPED_TRACE(delayLoads);
        SendMessageW(opened.page, WM_COMMAND, MAKEWPARAM(IDM_SHOW_DELAY_LOADED, 0), 0);
        ASSERT_TRUE(pumpUntil([&] { return record.scanState == kScanFinished; }));
        expectPageMatchesScanner(readTree(opened.page), readList(opened.page), {}, file, delayLoads);
        DWORD value = 2, size = sizeof value;
        RegGetValueW(HKEY_CURRENT_USER, L"Software\\VOST", L"ShowDelayLoaded", RRF_RT_REG_DWORD, nullptr, &value, &size);
        EXPECT_EQ(value, delayLoads ? 1u : 0u);
        const auto marked = [](const TreeEntry& root) {
            for (const TreeEntry& child : root.children)
                if (child.stateImage == 3 && child.label.rfind("VOSTLATE.DLL", 0) == 0) return true;
            return false;
        };
        EXPECT_EQ(marked(readTree(opened.page)[0]), delayLoads);
    }
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
