// The real route: with vost.dll registered in the prefix, Wine's shell opens
// a file's Properties dialog through the context menu's "properties" verb
// and loads the component. The dialog is modal inside the shell's call, so a
// second thread drives it: finds the sheet, switches to the "Dependencies"
// tab, waits for the scan, reads the page and cancels the dialog.
#include <gtest/gtest.h>

#include <windows.h>

#include "platform/win32/wide_text.h"
#include "tests/shell/scanner_compare.h"
#include "tests/support/path_table.h"
#include "tests/windows/temp_folder.h"
#include "tools/shell_properties.h"

namespace vost::test {
namespace {

struct Seen {
    bool sheetFound = false;
    bool pageFound = false;
    bool scanFinished = false;
    std::vector<TreeEntry> tree;
    std::vector<ListRow> list;
};

void driveSheet(Seen& seen) {
    HWND sheet = waitForPropertySheet(30000);
    seen.sheetFound = sheet != nullptr;
    if (!sheet) return;
    HWND page = selectSheetTab(sheet, "Dependencies");
    DependencyExtension* ext = pageExtension(page);
    seen.pageFound = ext != nullptr;
    if (ext) {
        seen.scanFinished = waitUntil([&] { return ext->scanState == kScanFinished; }, 60000);
        seen.tree = readTree(page);
        seen.list = readList(page);
    }
    PostMessageA(sheet, WM_COMMAND, IDCANCEL, 0);
}

// A system program, and the check program in a folder named in scripts
// outside the ANSI code page: the shell's own dialog opens on it and the
// page shows what vostscan.exe shows for the same file.
TEST(ShellRoute, PropertiesDialogShowsTheDependenciesPage) {
    CoInitialize(nullptr);
    TempFolder base;
    const std::string folder = base.path() + "\\" + pathTable()[1].folder + " " + pathTable()[3].folder + " " +
                               pathTable()[4].folder;
    ASSERT_TRUE(CreateDirectoryW(wideText(folder).c_str(), nullptr));
    for (const char* name : {"app.exe", "vostlib.dll", "vostother.dll", "vostdot.v2", "vostlate.dll"})
        ASSERT_TRUE(CopyFileW(wideText(programFolder() + "check_programs\\one\\" + name).c_str(),
                              wideText(folder + "\\" + name).c_str(), FALSE));
    for (const std::string& file : {systemFolder() + "\\winecfg.exe", folder + "\\app.exe"}) {
        SCOPED_TRACE(file);
        Seen seen;
        EXPECT_TRUE(showShellProperties(file, [&] { driveSheet(seen); }));
        ASSERT_TRUE(seen.sheetFound);
        ASSERT_TRUE(seen.pageFound);
        ASSERT_TRUE(seen.scanFinished);
        expectPageMatchesScanner(seen.tree, seen.list, {}, file);
    }
    CoUninitialize();
}

}  // namespace
}  // namespace vost::test
