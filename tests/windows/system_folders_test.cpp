// Each module is looked for among modules of its importer's family, and read
// as that file, whatever the bitness of the process that scans:
// - 64-bit process on 64-bit Windows: 32-bit modules from SysWOW64;
// - 32-bit process on 64-bit Windows (run from the 32-bit build in the 64-bit
//   prefix): 64-bit modules from the real System32, named so, read through
//   Sysnative;
// - 32-bit Windows: one system folder, nothing changes.
// Each test skips where its kind of process does not run.
#include "platform/win32/system_folders.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "analysis/pe_headers.h"
#include "analysis/text.h"
#include "platform/win32/module_search.h"
#include "platform/win32/win32_platform.h"
#include "scanner/scan_session.h"

namespace vost {
namespace {

const SystemFolders& folders() { return systemFolders(); }
bool sixtyFourBitWindows() { return !folders().wow64.empty(); }

std::string lower(const std::string& text) { return lowerAscii(text); }

std::string found(Win32Platform& platform, const char* name, ModuleBits bits) {
    return platform.searchModule(name, bits);
}

// The optional-header magic of the file the platform opens for `path`.
std::uint16_t magicOf(Win32Platform& platform, const std::string& path) {
    const std::unique_ptr<MappedFile> file = platform.mapFile(path.c_str());
    if (!file) return 0;
    const ByteView image = file->bytes();
    std::uint32_t newHeader = 0;
    if (!image.readU32(0x3C, newHeader)) return 0;
    return optionalHeaderMagic(image, newHeader);
}

std::string folderOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

// Every module a whole scan of `root` found, as the list shows them.
std::vector<std::string> closurePaths(const std::string& root) {
    std::vector<ScanMessage>* target = nullptr;
    const std::unique_ptr<ScannedFile> scan =
        scanFile(root, std::make_shared<Win32Platform>(PlatformOptions{}), target, ScanReach::closure);
    std::vector<std::string> paths;
    for (int row = 1; row < scan->list->rowCount(); ++row) paths.push_back(scan->list->cellText(row, 4));
    return paths;
}

TEST(SystemFolders, ThirtyTwoBitWindowsHasOneSystemFolderForBoth) {
    if (sixtyFourBitWindows()) GTEST_SKIP() << "64-bit Windows";
    Win32Platform platform{PlatformOptions{}};
    platform.setSearchFolder("C:\\");
    EXPECT_EQ(found(platform, "kernel32.dll", ModuleBits::bits32),
              found(platform, "kernel32.dll", ModuleBits::bits64));
    EXPECT_EQ(folderOf(found(platform, "kernel32.dll", ModuleBits::bits64)), folders().system);
    EXPECT_EQ(moduleSearchFolders("C:\\x", ModuleBits::bits32), moduleSearchFolders("C:\\x", ModuleBits::bits64));
    const std::string system = folders().system + "\\notepad.exe";
    std::string path = system;
    platform.toTruePath(path);
    EXPECT_EQ(system, path);
}

TEST(SystemFolders, EachFamilyIsFoundInItsOwnFolderAndReadAsThatFile) {
    if (!sixtyFourBitWindows()) GTEST_SKIP() << "32-bit Windows";
    Win32Platform platform{PlatformOptions{}};
    platform.setSearchFolder("C:\\");
    for (const char* name : {"kernel32.dll", "KERNEL32", "user32.dll", "ntdll.dll"}) {
        SCOPED_TRACE(name);
        const std::string wide = found(platform, name, ModuleBits::bits64);
        const std::string narrow = found(platform, name, ModuleBits::bits32);
        // Named as every process of the machine but a redirected one names them.
        EXPECT_EQ(lower(folderOf(wide)), lower(folders().system));
        EXPECT_EQ(lower(folderOf(narrow)), lower(folders().wow64));
        EXPECT_EQ(magicOf(platform, wide), kPe32PlusMagic);
        EXPECT_EQ(magicOf(platform, narrow), kPe32Magic);
        FileTime time;
        EXPECT_TRUE(platform.lastWriteTime(wide.c_str(), time));
        int icon = -1;
        EXPECT_TRUE(platform.smallIconIndex(wide.c_str(), icon));
    }
    // Each family's own order: System32 on PATH is SysWOW64 for 32-bit modules.
    const std::vector<std::string> narrow = moduleSearchFolders("C:\\x", ModuleBits::bits32);
    const std::vector<std::string> wide = moduleSearchFolders("C:\\x", ModuleBits::bits64);
    ASSERT_EQ(narrow.size(), wide.size());
    EXPECT_EQ(narrow[1], folders().wow64);
    EXPECT_EQ(wide[1], folders().system);
    for (const std::string& folder : narrow)
        EXPECT_EQ(std::string::npos, lower(folder).find(lower(folders().system))) << folder;
}

TEST(SystemFolders, ARedirectedProcessNamesFilesTrulyAndOpensThemThroughSysnative) {
    if (!folders().redirected()) GTEST_SKIP() << "not a 32-bit process on 64-bit Windows";
    const std::string system = lower(folders().system), wow64 = lower(folders().wow64);
    EXPECT_EQ(wow64 + "\\notepad.exe", lower(truePath(folders(), system + "\\notepad.exe")));
    EXPECT_EQ(system + "\\kernel32.dll", lower(truePath(folders(), folders().sysnative + "\\kernel32.dll")));
    EXPECT_EQ(system + "\\drivers\\etc\\hosts", lower(truePath(folders(), system + "\\drivers\\etc\\hosts")));
    EXPECT_EQ(lower(folders().sysnative) + "\\kernel32.dll",
              lower(pathForThisProcess(folders(), system + "\\kernel32.dll")));
    EXPECT_EQ(wow64 + "\\kernel32.dll", pathForThisProcess(folders(), wow64 + "\\kernel32.dll"));

    // The selected file as this process's shell names it is the 32-bit copy.
    Win32Platform platform{PlatformOptions{}};
    std::string selected = folders().system + "\\notepad.exe";
    platform.toTruePath(selected);
    EXPECT_EQ(wow64 + "\\notepad.exe", lower(selected));
    EXPECT_EQ(magicOf(platform, selected.c_str()), kPe32Magic);
}

TEST(SystemFolders, AClosureHoldsOnlyModulesOfTheRootsFamily) {
    if (!sixtyFourBitWindows()) GTEST_SKIP() << "32-bit Windows";
    // Wine's notepad in the Windows folder is a 64-bit program, its copy in
    // SysWOW64 a 32-bit one; a process of either bitness names both so.
    const struct {
        std::string root;
        std::string folder;
        std::uint16_t magic;
    } cases[] = {{folders().windows + "\\notepad.exe", folders().system, kPe32PlusMagic},
                 {folders().wow64 + "\\notepad.exe", folders().wow64, kPe32Magic},
                 {folders().wow64 + "\\winecfg.exe", folders().wow64, kPe32Magic}};
    Win32Platform platform{PlatformOptions{}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.root);
        const std::vector<std::string> paths = closurePaths(c.root);
        EXPECT_GE(paths.size(), 3u);
        // Or an assembly of the side-by-side store, built for the family's machine.
        const std::string store =
            lower(folders().windows) + "\\winsxs\\" + (c.magic == kPe32PlusMagic ? "amd64_" : "x86_");
        for (const std::string& path : paths) {
            if (lower(folderOf(path)).rfind(store, 0) != 0) {
                EXPECT_EQ(lower(folderOf(path)), lower(c.folder)) << path;
            }
            EXPECT_EQ(magicOf(platform, path), c.magic) << path;
        }
    }
}

}  // namespace
}  // namespace vost
