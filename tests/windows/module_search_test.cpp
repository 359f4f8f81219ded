// The module search with the scan's folder in place of the current directory
// gives the answers SearchPathA(NULL, ...) gives with the current directory
// set to that folder, but for the running program's own folder, which
// SearchPathA looks in first and the search never does. (This program's
// folder holds none of the names these tests compare, but one planted there.)
#include "platform/win32/module_search.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <set>
#include <string>

#include "analysis/scan_module.h"
#include "platform/win32/handles.h"
#include "platform/win32/win32_platform.h"
#include "tests/windows/temp_folder.h"

namespace vost {
namespace {

using test::TempFolder;

// The family of modules this test program belongs to: SearchPathA of this
// process answers as the layer does for it.
constexpr ModuleBits kProcessBits = sizeof(void*) == 8 ? ModuleBits::bits64 : ModuleBits::bits32;

struct Answer {
    DWORD result;
    std::string path;
    bool operator==(const Answer& other) const { return result == other.result && path == other.path; }
};
std::ostream& operator<<(std::ostream& out, const Answer& a) { return out << a.result << " '" << a.path << "'"; }

// The platform's own answer, with the current directory moved there.
Answer referenceSearch(const std::string& folder, const std::string& name, DWORD capacity = MAX_PATH) {
    char saved[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof saved, saved);
    SetCurrentDirectoryA(folder.c_str());
    std::string out(capacity + 1, '\0');
    const DWORD result = SearchPathA(nullptr, name.c_str(), ".DLL", capacity, &out[0], nullptr);
    SetCurrentDirectoryA(saved);
    return {result, result && result < capacity ? out.c_str() : ""};
}

Answer layerSearch(const std::string& folder, const std::string& name, DWORD capacity = MAX_PATH) {
    Win32Platform platform{PlatformOptions{}};
    platform.setSearchFolder(folder.c_str());
    // Put as SearchPathA answers a buffer of `capacity`.
    const std::string found = platform.searchModule(name.c_str(), kProcessBits);
    const DWORD size = DWORD(found.size());
    if (found.empty()) return {0, ""};
    return size < capacity ? Answer{size, found} : Answer{size + 1, ""};
}

std::string programFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string text = path;
    return text.substr(0, text.find_last_of('\\'));
}

// Records the names a file references, through the analysis' own walkers.
class NameRecorder : public AnalysisPlatform {
public:
    std::set<std::string> names;
    std::unique_ptr<MappedFile> mapFile(const char* path) override { return files.mapFile(path); }
    std::string searchModule(const char* name, ModuleBits) override {
        names.insert(name);
        return std::string();
    }
    bool readFixedVersion(const char*, FixedFileVersion&) override { return false; }
    bool smallIconIndex(const char*, int&) override { return false; }
    void showError(WindowHandle, const char*, const char*) override {}

private:
    Win32Platform files{PlatformOptions{}};
};

TEST(ModuleSearch, FoldersFollowTheScanSystemWindowsPathOrderWithoutTheProgramsFolder) {
    const std::vector<std::string> folders = moduleSearchFolders("C:\\scan", kProcessBits);
    ASSERT_GE(folders.size(), 4u);
    EXPECT_EQ("C:\\scan", folders[0]);
    EXPECT_EQ(test::systemFolder(), folders[1]);
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, sizeof windows);
    EXPECT_EQ(std::string(windows) + "\\system", folders[2]);
    EXPECT_EQ(std::string(windows), folders[3]);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_NE(programFolder(), folders[i]) << i;

    // A module beside this program is found by SearchPathA, not by the search.
    TempFolder scan;
    const std::string planted = programFolder() + "\\vost-beside-the-program.dll";
    const KernelHandle file(CreateFileA(planted.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                        nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    ASSERT_TRUE(file);
    EXPECT_EQ(planted, referenceSearch(scan.path(), "vost-beside-the-program.dll").path);
    EXPECT_EQ(0u, layerSearch(scan.path(), "vost-beside-the-program.dll").result);
}

TEST(ModuleSearch, MatchesTheCurrentDirectorySearchOnCraftedFolders) {
    TempFolder scan;
    TempFolder onPath;
    scan.write("onlyhere.dll", "x");
    scan.write("noext.DLL", "x");
    scan.write("driver.drv", "x");
    scan.write("sub\\inner.dll", "x");
    scan.write("version.dll", "shadows the system's copy");
    onPath.write("pathonly.dll", "x");
    onPath.write("onlyhere.dll", "x");  // the scan folder comes first

    char oldPath[32768] = {};
    GetEnvironmentVariableA("PATH", oldPath, sizeof oldPath);
    // An extra entry at the front, and a relative one taken from the folder.
    SetEnvironmentVariableA("PATH", (onPath.path() + ";sub;" + oldPath).c_str());

    const char* names[] = {"onlyhere.dll", "ONLYHERE.DLL", "noext", "driver.drv", "driver",
                           "version.dll", "kernel32.dll", "KERNEL32", "pathonly.dll",
                           "inner.dll", "sub\\inner.dll", ".\\onlyhere.dll", "..\\" ,
                           "missing-module.dll", "missing", "notepad.exe", "user.exe", "gdi.exe",
                           "krnl386.exe", "winspool.drv", "sub"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(referenceSearch(scan.path(), name), layerSearch(scan.path(), name));
    }
    // A parent-relative name, seen from a subfolder.
    const std::string sub = scan.path() + "\\sub";
    EXPECT_EQ(referenceSearch(sub, "..\\onlyhere.dll"), layerSearch(sub, "..\\onlyhere.dll"));
    EXPECT_EQ(scan.path() + "\\onlyhere.dll", layerSearch(sub, "..\\onlyhere.dll").path);
    SetEnvironmentVariableA("PATH", oldPath);
}

TEST(ModuleSearch, NamesInAnyCaseGiveTheSystemsAnswersAndOpenByLowerCasedPaths) {
    // The layer looks names up in folder listings and spells them as on
    // disk; the answers must stay those of SearchPathA, and the scan's
    // lower-cased paths must still reach the files.
    TempFolder scan;
    scan.write("Mixed.Dll", "mixed");
    scan.write("UPPER.DLL", "upper");
    scan.write("NoExt.DLL", "noext");
    scan.makeFolder("Folder.dll");
    const char* names[] = {"Mixed.Dll", "mixed.dll", "MIXED.DLL", "upper.dll", "Upper.Dll", "noext",
                           "NOEXT", "folder.dll", "absent.dll", "kernel32.dll", "Kernel32.DLL"};
    Win32Platform platform{PlatformOptions{}};
    platform.setSearchFolder(scan.path().c_str());
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const Answer reference = referenceSearch(scan.path(), name);
        EXPECT_EQ(reference, layerSearch(scan.path(), name));
        EXPECT_EQ(reference.path, platform.searchModule(name, kProcessBits));  // listings kept
    }
    std::string lowered = scan.path() + "\\mixed.dll";
    for (char& c : lowered) c = char(std::tolower(static_cast<unsigned char>(c)));
    const auto file = platform.mapFile(lowered.c_str());
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(5u, file->bytes().size());
    FileTime time;
    EXPECT_TRUE(platform.lastWriteTime(lowered.c_str(), time));
    int icon = -1;
    EXPECT_TRUE(platform.smallIconIndex(lowered.c_str(), icon));
}

TEST(ModuleSearch, AnswersWithTheNeededSizeWhenThePathDoesNotFitAndZeroWhenMissing) {
    TempFolder scan;
    scan.write("onlyhere.dll", "x");
    const Answer small = layerSearch(scan.path(), "onlyhere.dll", 8);
    EXPECT_EQ(referenceSearch(scan.path(), "onlyhere.dll", 8), small);
    EXPECT_GT(small.result, 8u);
    EXPECT_EQ(scan.path().size() + std::string("\\onlyhere.dll").size() + 1, small.result);

    EXPECT_EQ(0u, layerSearch(scan.path(), "missing-module.dll").result);
    EXPECT_EQ(0u, layerSearch(scan.path(), "").result);
}

TEST(ModuleSearch, LeavesTheProcessCurrentDirectoryAlone) {
    TempFolder scan;
    scan.write("onlyhere.dll", "x");
    char before[MAX_PATH] = {}, after[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof before, before);
    EXPECT_EQ(scan.path() + "\\onlyhere.dll", layerSearch(scan.path(), "onlyhere.dll").path);
    GetCurrentDirectoryA(sizeof after, after);
    EXPECT_STREQ(before, after);
}

// Every name that the prefix's programs and libraries import, searched from
// the system folder and from a folder of its own: the same answers.
TEST(ModuleSearch, MatchesTheCurrentDirectorySearchForEveryNameTheSystemImports) {
    NameRecorder recorder;
    NodeStore store;
    ScanContext ctx{recorder, store};
    const std::string system = test::systemFolder();
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((system + "\\*").c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    int files = 0;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string path = system + "\\" + found.cFileName;
        ModuleNode& node = *ctx.nodes.create(recorder, path.c_str(), found.cFileName, nullptr, 0);
        scanModule(ctx, node);
        ++files;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    ASSERT_GT(files, 500);
    ASSERT_GT(recorder.names.size(), 80u);

    TempFolder own;
    own.write("msvcrt.dll", "a private copy");
    for (const std::string& name : recorder.names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(referenceSearch(system, name), layerSearch(system, name));
        EXPECT_EQ(referenceSearch(own.path(), name), layerSearch(own.path(), name));
    }
}

}  // namespace
}  // namespace vost
