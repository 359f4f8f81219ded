// The Dependencies page on the real controls, hosted in-process in a
// modeless property sheet: what it shows compared with the scanner's
// output for the same file, its views and sorting, its activation, and its
// life when the dialog closes during a scan.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "analysis/pe_headers.h"
#include "analysis/text.h"
#include "tests/commands/import_hook.h"
#include "tests/shell/scanner_compare.h"
#include "tests/shell/page_host_fixture.h"
#include "tests/shell/shell_host.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"
#include "tests/support/image_builder.h"
#include "tests/support/path_table.h"
#include "tests/windows/temp_folder.h"

namespace vost::test {
namespace {

std::string asText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class PageTest : public PageHostTest {};

TEST_F(PageTest, SystemProgramsShowWhatTheScannerFinds) {
    for (const char* name : {"notepad.exe", "explorer.exe", "regedit.exe", "winecfg.exe"}) {
        SCOPED_TRACE(name);
        const std::string file = prefixProgram(name);
        OpenedPage opened = openPage(file);
        ASSERT_NE(opened.page, nullptr);
        EXPECT_EQ(recordOf(opened.ext.get()).scanState, kScanFinished);
        expectPageMatchesScanner(opened, file);
        // Only the root is expanded; the tree shows first, the list is hidden.
        EXPECT_TRUE(isVisible(opened.page, 1000));
        EXPECT_FALSE(isVisible(opened.page, 1012));
        EXPECT_EQ(SendDlgItemMessageA(opened.page, 1003, BM_GETCHECK, 0, 0), BST_CHECKED);
    }
}

// ROOT imports A, B and MISSING; A imports B and ROOT; B imports A.
std::string writeGeneratedSet(TempFolder& folder) {
    PeImageLayout root;
    root.imports = {"A.dll", "b.DLL", "MISSING.DLL"};
    root.version = FixedFileVersion{0x00010002, 0x00030004, 0x00050006, 0x00070008};
    PeImageLayout a;
    a.imports = {"B.DLL", "Root.exe"};
    PeImageLayout b;
    b.imports = {"A.DLL"};
    folder.write("A.DLL", asText(buildPe(a).bytes));
    folder.write("B.DLL", asText(buildPe(b).bytes));
    return folder.write("Root.exe", asText(buildPe(root).bytes));
}

// Files that a script hands over in VOST_PAGE_FILES (';' between them):
// the images that the loader maps in its own way (tests/support/
// loader_images.py) show on the page what vostscan.exe shows for them.
TEST_F(PageTest, FilesNamedByTheEnvironmentShowWhatTheScannerFinds) {
    const DWORD size = GetEnvironmentVariableW(L"VOST_PAGE_FILES", nullptr, 0);
    if (size == 0) GTEST_SKIP() << "VOST_PAGE_FILES names no files";
    std::wstring files(size, L'\0');
    files.resize(GetEnvironmentVariableW(L"VOST_PAGE_FILES", &files[0], size));
    for (std::size_t start = 0, end; start < files.size(); start = end + 1) {
        end = std::min(files.find(L';', start), files.size());
        const std::string file = utf8Text(files.substr(start, end - start));
        SCOPED_TRACE(file);
        OpenedPage opened = openPage(file);
        ASSERT_NE(opened.page, nullptr);
        expectPageMatchesScanner(opened, file);
    }
}

TEST_F(PageTest, GeneratedSetWithAMissingModule) {
    TempFolder folder;
    const std::string file = writeGeneratedSet(folder);
    OpenedPage opened = openPage(file);
    ASSERT_NE(opened.page, nullptr);
    expectPageMatchesScanner(opened, file);

    const std::vector<TreeEntry> tree = readTree(opened.page);
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree[0].label.rfind("ROOT.EXE(", 0), 0u) << tree[0].label;
    EXPECT_NE(tree[0].label.find(" [1.2.3.4])"), std::string::npos) << tree[0].label;
    bool missingShown = false;
    for (const TreeEntry& child : tree[0].children)
        if (child.label.rfind("MISSING.DLL", 0) == 0) {
            missingShown = true;
            EXPECT_EQ(child.hasChildren, 0);
        }
    EXPECT_TRUE(missingShown);
    const std::vector<ListRow> list = readList(opened.page);
    ASSERT_EQ(list.size(), 4u);  // ROOT, then the others once each
    EXPECT_EQ(list[0][0], "ROOT.EXE");
}

// The tree's module icons and the state images of tree and list are the
// system's small-icon size at the display's DPI, and no heading or cell of
// the list is cut. The DPI is read when a
// process starts: the other DPIs run this test in a child process, DPI-aware
// as the shell is, with the prefix's LogPixels set for it and restored after.
TEST_F(PageTest, ImagesAreTheSmallIconSizeAtEachDpi) {
    const char* childDpi = getenv("VOST_TEST_DPI");
    if (childDpi) SetProcessDPIAware();
    TempFolder folder;
    const std::string file = writeGeneratedSet(folder);
    OpenedPage opened = openPage(file);
    ASSERT_NE(opened.page, nullptr);
    const int width = GetSystemMetrics(SM_CXSMICON);
    const int height = GetSystemMetrics(SM_CYSMICON);
    if (childDpi) {
        EXPECT_EQ(width, MulDiv(16, atoi(childDpi), 96)) << "LogPixels " << childDpi << " not in effect";
    }
    HWND tree = GetDlgItem(opened.page, IDC_MODULE_TREE);
    HWND list = GetDlgItem(opened.page, IDC_MODULE_LIST);
    const std::pair<const char*, LRESULT> lists[] = {
        {"tree icons", SendMessageW(tree, TVM_GETIMAGELIST, TVSIL_NORMAL, 0)},
        {"tree states", SendMessageW(tree, TVM_GETIMAGELIST, TVSIL_STATE, 0)},
        {"list states", SendMessageW(list, LVM_GETIMAGELIST, LVSIL_STATE, 0)}};
    for (const auto& [what, images] : lists) {
        SCOPED_TRACE(what);
        int cx = 0, cy = 0;
        ASSERT_TRUE(ImageList_GetIconSize(reinterpret_cast<HIMAGELIST>(images), &cx, &cy));
        EXPECT_EQ(cx, width);
        EXPECT_EQ(cy, height);
    }
    // Each column of the list is wider than its heading and its cells.
    const std::vector<ListRow> rows = readList(opened.page);
    for (int column = 0; column < 5; ++column) {
        wchar_t heading[100] = {};
        LVCOLUMNW record{};
        record.mask = LVCF_TEXT;
        record.pszText = heading;
        record.cchTextMax = 100;
        SendMessageW(list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&record));
        std::vector<std::wstring> texts{heading};
        for (const ListRow& row : rows) texts.push_back(wideText(row[column]));
        const LRESULT width = SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0);
        for (const std::wstring& text : texts)
            EXPECT_GT(width, SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text.c_str())))
                << utf8Text(text);
    }
    if (childDpi) return;

    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    HKEY desktop = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, KEY_READ | KEY_WRITE, &desktop),
              ERROR_SUCCESS);
    DWORD saved = 0, size = sizeof saved;
    const bool hadValue = RegQueryValueExW(desktop, L"LogPixels", nullptr, nullptr,
                                           reinterpret_cast<BYTE*>(&saved), &size) == ERROR_SUCCESS;
    for (const DWORD dpi : {144u, 192u}) {
        SCOPED_TRACE(dpi);
        RegSetValueExW(desktop, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
        SetEnvironmentVariableW(L"VOST_TEST_DPI", std::to_wstring(dpi).c_str());
        std::wstring line = L"\"" + std::wstring(program) +
                            L"\" --gtest_filter=PageTest.ImagesAreTheSmallIconSizeAtEachDpi";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        DWORD code = 1;
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child)) {
            WaitForSingleObject(child.hProcess, 300000);
            GetExitCodeProcess(child.hProcess, &code);
            CloseHandle(child.hThread);
            CloseHandle(child.hProcess);
        }
        SetEnvironmentVariableW(L"VOST_TEST_DPI", nullptr);
        EXPECT_EQ(code, 0u);
    }
    if (hadValue)
        RegSetValueExW(desktop, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&saved), sizeof saved);
    else
        RegDeleteValueW(desktop, L"LogPixels");
    RegCloseKey(desktop);
}

// The check programs copied into folders named in scripts outside the ANSI
// code page: the page shows what vostscan.exe shows, with the path whole,
// and Copy to Clipboard gives the Unicode text.
TEST_F(PageTest, FoldersInAnyScriptShowWhatTheScannerFinds) {
    TempFolder base;
    const std::string one = programFolder() + "check_programs\\one\\";
    for (const PathCase& c : pathTable()) {
        if (c.folder.find('/') != std::string::npos) continue;  // the shell's own dialog takes no longer paths
        SCOPED_TRACE(c.what);
        const std::string folder = base.path() + "\\" + c.folder;
        ASSERT_TRUE(CreateDirectoryW(wideText(folder).c_str(), nullptr));
        for (const char* name : {"app.exe", "vostlib.dll", "vostother.dll", "vostdot.v2", "vostlate.dll"})
            ASSERT_TRUE(CopyFileW(wideText(one + name).c_str(), wideText(folder + "\\" + name).c_str(), FALSE));
        const std::string file = folder + "\\app.exe";
        OpenedPage opened = openPage(file);
        ASSERT_NE(opened.page, nullptr);
        expectPageMatchesScanner(opened, file);
        const std::vector<TreeEntry> tree = readTree(opened.page);
        ASSERT_EQ(tree.size(), 1u);
        EXPECT_EQ(tree[0].label, "APP.EXE(" + lowerAscii(file) + ")");
        // vostscan.exe prints the file as it was given, found paths lower-cased.
        const JsonValue given = scannerOutput(file.substr(0, file.size() - 7) + "APP.exe", "", "", true);
        EXPECT_EQ(given["tree"]["label"].text, "APP.EXE(" + file.substr(0, file.size() - 7) + "APP.exe)");

        SendMessageW(opened.page, WM_COMMAND, IDM_COPY_TO_CLIPBOARD, 0);
        const std::string copied = clipboardText(opened.page);
        EXPECT_NE(copied.find("\r\nAPP.EXE\t"), std::string::npos) << copied;
        EXPECT_NE(copied.find("\t" + lowerAscii(folder) + "\\vostlib.dll\t"), std::string::npos) << copied;
    }
}

TEST_F(PageTest, TextFileShowsTheMessageAndOneRow) {
    TempFolder folder;
    const std::string file = folder.write("Notes.txt", "just some words, no executable\r\n");
    OpenedPage opened = openPage(file);
    ASSERT_NE(opened.page, nullptr);
    EXPECT_EQ(opened.messages, std::vector<std::string>{"VOST|not a Valid File"});
    expectPageMatchesScanner(opened, file);
    const std::vector<TreeEntry> tree = readTree(opened.page);
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree[0].hasChildren, 0);
    EXPECT_EQ(readList(opened.page).size(), 1u);
}

TEST_F(PageTest, ViewsSwitchAndColumnsSort) {
    const std::string file = prefixProgram("regedit.exe");
    OpenedPage opened = openPage(file);
    ASSERT_NE(opened.page, nullptr);
    HWND page = opened.page;

    click(page, 1004);
    EXPECT_FALSE(isVisible(page, 1000));
    EXPECT_TRUE(isVisible(page, 1012));
    click(page, 1003, BN_SETFOCUS);  // tabbing onto "&Tree" changes nothing
    EXPECT_TRUE(isVisible(page, 1012));
    EXPECT_FALSE(isVisible(page, 1000));
    click(page, 1003);
    EXPECT_TRUE(isVisible(page, 1000));
    EXPECT_FALSE(isVisible(page, 1012));

    const std::vector<ListRow> before = readList(page);
    ASSERT_GT(before.size(), 3u);
    clickColumn(page, 0);
    std::vector<ListRow> ascending = readList(page);
    for (std::size_t i = 1; i < ascending.size(); ++i)
        EXPECT_LE(lstrcmpiA(ascending[i - 1][0].c_str(), ascending[i][0].c_str()), 0) << i;
    clickColumn(page, 0);
    std::vector<ListRow> descending = readList(page);
    std::vector<ListRow> reversed(ascending.rbegin(), ascending.rend());
    EXPECT_EQ(descending, reversed);
    EXPECT_EQ(recordOf(opened.ext.get()).sortColumn, 0);
    EXPECT_EQ(recordOf(opened.ext.get()).sortAscending, 0);
}

TEST_F(PageTest, ActivatingAgainStartsNoSecondScan) {
    TempFolder folder;
    const std::string file = writeGeneratedSet(folder);
    ComPtr<IShellExtInit> ext = createExtension();
    ComPtr<IDataObject> data = shellDataObject({file});
    ext->Initialize(nullptr, data.get(), nullptr);
    Sheet sheet(addPages(ext.get()), 0);  // opens on the blank page
    ASSERT_NE(sheet.window(), nullptr);
    DependencyExtension& record = recordOf(ext.get());
    // The page's window exists only once it is shown; back and forth at once,
    // before the worker has had a chance to run.
    sheet.select(1);
    EXPECT_NE(record.scanState, kScanNotStarted);
    sheet.select(0);
    sheet.select(1);
    ASSERT_TRUE(pumpUntil([&] { return record.scanState == kScanFinished; }));
    sheet.select(0);
    sheet.select(1);
    pumpFor(300);
    EXPECT_EQ(readTree(sheet.page(1)).size(), 1u);
    EXPECT_EQ(readList(sheet.page(1)).size(), 4u);
}

// Two folders, each with its own ROOT.EXE and a different SAME.DLL.
TEST_F(PageTest, TwoPagesAtOnceEachSearchTheirOwnFolder) {
    TempFolder first, second;
    std::string roots[2];
    TempFolder* folders[2] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
        PeImageLayout root;
        root.imports = {"SAME.DLL"};
        PeImageLayout same;
        same.imports = {"kernel32.dll"};
        same.version = FixedFileVersion{DWORD(i + 1) << 16, 0, 0, 0};
        folders[i]->write("SAME.DLL", asText(buildPe(same).bytes));
        roots[i] = folders[i]->write("ROOT.EXE", asText(buildPe(root).bytes));
    }
    ComPtr<IShellExtInit> exts[2];
    std::unique_ptr<Sheet> sheets[2];
    for (int i = 0; i < 2; ++i) {
        exts[i] = createExtension();
        ComPtr<IDataObject> data = shellDataObject({roots[i]});
        exts[i]->Initialize(nullptr, data.get(), nullptr);
        sheets[i] = std::make_unique<Sheet>(addPages(exts[i].get()), 1);
    }
    ASSERT_TRUE(pumpUntil([&] {
        return recordOf(exts[0].get()).scanState == kScanFinished &&
               recordOf(exts[1].get()).scanState == kScanFinished;
    }));
    for (int i = 0; i < 2; ++i) {
        const std::vector<TreeEntry> tree = readTree(sheets[i]->page(1));
        ASSERT_EQ(tree.size(), 1u);
        ASSERT_EQ(tree[0].children.size(), 1u);
        char lower[MAX_PATH];
        lstrcpyA(lower, (folders[i]->path() + "\\same.dll").c_str());
        CharLowerA(lower);
        EXPECT_EQ(tree[0].children[0].label,
                  "SAME.DLL (" + std::string(lower) + " [" + std::to_string(i + 1) + ".0.0.0])");
    }
}

// A long chain of modules, so a scan lasts long enough to be interrupted.
std::string writeLongChain(TempFolder& folder, int length) {
    for (int i = length - 1; i >= 0; --i) {
        PeImageLayout layout;
        if (i + 1 < length) layout.imports = {"M" + std::to_string(i + 1) + ".DLL", "kernel32.dll"};
        else layout.imports = {"user32.dll"};
        folder.write("M" + std::to_string(i) + ".DLL", asText(buildPe(layout).bytes));
    }
    PeImageLayout root;
    root.imports = {"M0.DLL", "shell32.dll", "comctl32.dll", "ole32.dll"};
    return folder.write("Chain.exe", asText(buildPe(root).bytes));
}

TEST_F(PageTest, ClosingTheDialogDuringAScanIsSafe) {
    TempFolder folder;
    const std::string file = writeLongChain(folder, 150);
    std::mt19937 random(1234);
    int interrupted = 0;
    for (int round = 0; round < 50; ++round) {
        ComPtr<IShellExtInit> ext = createExtension();
        ComPtr<IDataObject> data = shellDataObject({file});
        ext->Initialize(nullptr, data.get(), nullptr);
        data.reset();
        auto sheet = std::make_unique<Sheet>(addPages(ext.get()), 1);
        pumpFor(std::uniform_int_distribution<int>(0, 400)(random));
        if (recordOf(ext.get()).scanState != kScanFinished) ++interrupted;
        sheet.reset();  // the dialog closes: the page goes, then the shell's reference
        ext.reset();
    }
    // Every worker ends on its own and lets the last object go.
    EXPECT_TRUE(pumpUntil([] { return Component::get().canUnloadNow() == S_OK; }, 60000));
    EXPECT_GT(interrupted, 10);
}

// Programs built for today's Windows import API set contracts (built by
// tests/contracts beside this test): each contract shows its host's path and
// version under its own name, as vostscan.exe shows it; the files named like
// contracts beside the programs stand in only for the contract the schema
// lacks.
TEST_F(PageTest, ContractProgramsShowTheirHosts) {
    std::string system = systemFolder() + "\\";
    CharLowerA(&system[0]);
    std::string folder = programFolder() + "contracts\\";
    CharLowerA(&folder[0]);
    for (const char* name : {"synch.exe", "contracts.exe"}) {
        SCOPED_TRACE(name);
        const std::string file = programFolder() + "contracts\\" + name;
        OpenedPage opened = openPage(file);
        ASSERT_NE(opened.page, nullptr);
        expectPageMatchesScanner(opened, file);

        const std::vector<TreeEntry> tree = readTree(opened.page);
        ASSERT_EQ(tree.size(), 1u);
        std::vector<std::string> labels;
        for (const TreeEntry& child : tree[0].children) labels.push_back(child.label);
        EXPECT_NE(std::find(labels.begin(), labels.end(),
                            "API-MS-WIN-CORE-SYNCH-L1-2-0.DLL (" + system + "kernelbase.dll)"),
                  labels.end());
        for (const std::string& label : labels) EXPECT_EQ(label.find(folder + "api-ms-win-core-synch"), std::string::npos);
        if (std::string(name) != "contracts.exe") continue;
        for (const std::string& want :
             {std::string("API-MS-WIN-DEPRECATED-APIS-LEGACY-L1-1-0.DLL (file not found)"),
              "API-MS-WIN-VOST-UNKNOWN-L1-1-0.DLL (" + folder + "api-ms-win-vost-unknown-l1-1-0.dll)",
              "KERNELBASE.DLL (" + system + "kernelbase.dll)"})
            EXPECT_NE(std::find(labels.begin(), labels.end(), want), labels.end()) << want;
        EXPECT_NE(std::find_if(labels.begin(), labels.end(),
                               [&](const std::string& l) {
                                   return l.rfind("EXT-MS-WIN-NTUSER-MESSAGE-L1-1-0.DLL (" + system + "user32.dll [", 0) == 0;
                               }),
                  labels.end());
    }
}

// The setting lives in the 64-bit registry view on 64-bit Windows, for the
// DLLs of both bitnesses; a 32-bit test program there writes it through that
// view as a user's 64-bit regedit would.
REGSAM settingsAccess() {
    BOOL wow64 = FALSE;
    const bool sixtyFour = sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
    return KEY_ALL_ACCESS | (sixtyFour ? KEY_WOW64_64KEY : 0);
}

// The access vost.dll asks for when it opens the settings key.
std::vector<REGSAM> settingsRequests;
decltype(&RegOpenKeyExW) realRegOpenKeyExW = nullptr;
LSTATUS WINAPI recordRegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    if (root == HKEY_LOCAL_MACHINE && subKey && lstrcmpiW(subKey, L"Software\\Aldervane\\VOST") == 0)
        settingsRequests.push_back(access);
    return realRegOpenKeyExW(root, subKey, options, access, result);
}

TEST_F(PageTest, MiniIconSettingDecidesTheTabIcon) {
    const char* key = "Software\\Aldervane\\VOST";
    struct Case {
        const char* value;  // null: no value
        bool icon;
    };
    const Case cases[] = {{"0", false}, {"00", false}, {"0abc", false}, {"1", true},
                          {"x", true},  {"", true},    {nullptr, true},  {"0123456789abc", true}};
    TempFolder folder;
    const std::string file = folder.write("Any.exe", "MZ");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(absent)");
        HKEY settings = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, settingsAccess(), nullptr,
                                  &settings, nullptr),
                  ERROR_SUCCESS);
        if (c.value)
            RegSetValueExA(settings, "MiniIcon", 0, REG_SZ, reinterpret_cast<const BYTE*>(c.value),
                           DWORD(lstrlenA(c.value) + 1));
        else
            RegDeleteValueA(settings, "MiniIcon");
        RegCloseKey(settings);

        ComPtr<IShellExtInit> ext = createExtension();
        ComPtr<IDataObject> data = shellDataObject({file});
        ext->Initialize(nullptr, data.get(), nullptr);
        Sheet sheet(addPages(ext.get()), 0);
        EXPECT_EQ(sheet.tabImage(1) >= 0, c.icon);
        EXPECT_LT(sheet.tabImage(0), 0);
    }
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key, settingsAccess() & KEY_WOW64_64KEY, 0);

    // Reading the setting asks for no more than read access (an Explorer
    // under UAC gets no more for HKLM), and a missing key stays missing.
    settingsRequests.clear();
    ImportHook hook("advapi32.dll", "RegOpenKeyExW", reinterpret_cast<void*>(recordRegOpenKeyExW),
                    Component::get().module);
    ASSERT_TRUE(hook.installed());
    realRegOpenKeyExW = reinterpret_cast<decltype(&RegOpenKeyExW)>(hook.original());
    {
        ComPtr<IShellExtInit> ext = createExtension();
        ComPtr<IDataObject> data = shellDataObject({file});
        ext->Initialize(nullptr, data.get(), nullptr);
        Sheet sheet(addPages(ext.get()), 0);
        EXPECT_GE(sheet.tabImage(1), 0);
    }
    ASSERT_EQ(settingsRequests.size(), 1u);
    EXPECT_EQ(settingsRequests[0] & ~REGSAM(KEY_WOW64_64KEY), REGSAM(KEY_READ));
    EXPECT_EQ(settingsRequests[0] & KEY_WOW64_64KEY, settingsAccess() & KEY_WOW64_64KEY);
    HKEY created = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | (settingsAccess() & KEY_WOW64_64KEY), &created),
              ERROR_SUCCESS);
    if (created) RegCloseKey(created);
}

// On 64-bit Windows every module of a closure is of the root's family and
// comes from that family's system folder, in a host of either bitness:
// Wine's notepad in the Windows folder is a 64-bit program, its copy in
// SysWOW64 a 32-bit one. (The 32-bit build's copy of this test runs in the
// 64-bit prefix too.)
TEST_F(PageTest, EveryModuleIsOfTheRootsFamily) {
    char folder[MAX_PATH] = {};
    if (!GetSystemWow64DirectoryA(folder, MAX_PATH)) GTEST_SKIP() << "32-bit Windows";
    const std::string wow64 = folder;
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string system = std::string(windows) + "\\system32";
    const struct {
        std::string root;
        std::string folder;
        std::uint16_t magic;
    } cases[] = {{std::string(windows) + "\\notepad.exe", system, kPe32PlusMagic},
                 {wow64 + "\\notepad.exe", wow64, kPe32Magic}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.root);
        OpenedPage opened = openPage(c.root);
        ASSERT_NE(opened.page, nullptr);
        expectPageMatchesScanner(opened, c.root);
        const std::vector<ListRow> list = readList(opened.page);
        ASSERT_GE(list.size(), 3u);
        // Or an assembly of the side-by-side store, built for the family's machine.
        const std::string store =
            lowerAscii(std::string(windows) + "\\winsxs\\" + (c.magic == kPe32PlusMagic ? "amd64_" : "x86_"));
        for (std::size_t row = 1; row < list.size(); ++row) {
            const std::string& path = list[row][4];
            const std::string shown = lowerAscii(path.substr(0, path.find_last_of('\\')));
            if (shown.rfind(store, 0) != 0) {
                EXPECT_EQ(shown, lowerAscii(c.folder)) << path;
            }
            // Read as a 64-bit process would name it: a 32-bit host reaches
            // System32 through Sysnative.
            std::string reached = path;
            if (sizeof(void*) == 4 && lowerAscii(path).rfind(lowerAscii(system), 0) == 0)
                reached = std::string(windows) + "\\sysnative" + path.substr(system.size());
            const std::string bytes = readWholeFile(reached);
            std::uint32_t newHeader = 0;
            ASSERT_GT(bytes.size(), 0x40u) << path;
            std::memcpy(&newHeader, bytes.data() + 0x3C, 4);
            const ByteView image(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            EXPECT_EQ(optionalHeaderMagic(image, newHeader), c.magic) << path;
        }
    }
}

// The folder of the program that shows the scan is no folder of the scanned
// program's loader: a DLL there is not found, whether the host is the page's
// (this test) or vostscan.exe, and the 32-bit vostscan.exe run from SysWOW64
// still finds a 64-bit program's modules in System32.
struct RemovedAtEnd {
    std::string path;
    ~RemovedAtEnd() { DeleteFileA(path.c_str()); }
};

TEST_F(PageTest, TheHostsOwnFolderIsNeverSearched) {
    const RemovedAtEnd planted{programFolder() + "vost-host-only.dll"};
    std::ofstream(planted.path, std::ios::binary) << asText(buildPe(PeImageLayout{}).bytes);
    TempFolder folder;
    PeImageLayout app;
    app.imports = {"vost-host-only.dll"};
    const std::string file = folder.write("App.exe", asText(buildPe(app).bytes));
    {
        OpenedPage opened = openPage(file);
        ASSERT_NE(opened.page, nullptr);
        expectPageMatchesScanner(opened, file);
        const std::vector<ListRow> list = readList(opened.page);
        ASSERT_EQ(list.size(), 2u);
        EXPECT_EQ(list[1][4], "file not found");
    }

    char wow64[MAX_PATH] = {};
    BOOL redirected = FALSE;
    if (!GetSystemWow64DirectoryA(wow64, MAX_PATH) || !IsWow64Process(GetCurrentProcess(), &redirected) ||
        !redirected)
        return;  // only a 32-bit host on 64-bit Windows sees two system folders
    const RemovedAtEnd scanner{std::string(wow64) + "\\vostscan.exe"};
    ASSERT_TRUE(CopyFileA((programFolder() + "vostscan.exe").c_str(), scanner.path.c_str(), FALSE));
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    const JsonValue scan = scannerOutput(std::string(windows) + "\\sysnative\\notepad.exe", "", scanner.path);
    const std::string system = lowerAscii(std::string(windows) + "\\system32\\");
    // Common Controls comes from the store's 64-bit assembly, as notepad's manifest asks.
    const std::string store = lowerAscii(std::string(windows) + "\\winsxs\\amd64_");
    const std::vector<JsonValue>& rows = scan["list"].items;
    ASSERT_GE(rows.size(), 3u);
    for (std::size_t row = 1; row < rows.size(); ++row) {
        const std::string& path = rows[row]["path"].text;
        EXPECT_TRUE(path.rfind(system, 0) == 0 || path.rfind(store, 0) == 0) << path;
    }
}

}  // namespace
}  // namespace vost::test
