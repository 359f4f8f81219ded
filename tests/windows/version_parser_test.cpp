// The version-resource parser that works on a file's bytes agrees with the
// platform's version API on every file of the system folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/common/version_resource.h"
#include "platform/win32/win32_platform.h"
#include "tests/windows/temp_folder.h"

namespace vost {
namespace {

std::string describe(bool found, const FixedFileVersion& v) {
    if (!found) return "none";
    char text[80];
    std::snprintf(text, sizeof text, "%08x %08x / %08x %08x", unsigned(v.fileVersionMS),
                  unsigned(v.fileVersionLS), unsigned(v.productVersionMS), unsigned(v.productVersionLS));
    return text;
}

void compareFolder(const std::string& folder, int& files, int& withVersion) {
    Win32Platform platform{PlatformOptions{}};
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string path = folder + "\\" + found.cFileName;
        SCOPED_TRACE(path);
        FixedFileVersion expected, parsed;
        const bool api = readFixedVersionInfo(path.c_str(), expected);
        bool fromBytes = false;
        if (const std::unique_ptr<MappedFile> file = platform.mapFile(path.c_str()))
            fromBytes = readFixedVersionFromImage(file->bytes(), parsed);
        EXPECT_EQ(describe(api, expected), describe(fromBytes, parsed));
        ++files;
        withVersion += api ? 1 : 0;
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

TEST(VersionParser, AgreesWithTheVersionApiOnEveryFileOfTheSystemFolder) {
    int files = 0, withVersion = 0;
    compareFolder(test::systemFolder(), files, withVersion);
    EXPECT_GT(files, 500);
    EXPECT_GT(withVersion, 200);
    std::printf("%d files, %d with a version resource\n", files, withVersion);
}

TEST(VersionParser, AgreesWithTheVersionApiOnTheWindowsFolderAndItsFonts) {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, sizeof windows);
    int files = 0, withVersion = 0;
    compareFolder(windows, files, withVersion);
    compareFolder(std::string(windows) + "\\Fonts", files, withVersion);
    compareFolder(std::string(windows) + "\\system", files, withVersion);
    EXPECT_GT(withVersion, 0);
}

// Wine's NE fonts and its whole set of built-in libraries, through the drive
// that maps the Linux root.
TEST(VersionParser, AgreesWithTheVersionApiOnWinesFontsAndLibraries) {
    int files = 0, withVersion = 0;
    for (const char* folder : {"Z:\\usr\\share\\wine\\fonts", "Z:\\usr\\lib\\i386-linux-gnu\\wine\\i386-windows"}) {
        if (GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES) continue;
        compareFolder(folder, files, withVersion);
    }
    if (files == 0) GTEST_SKIP() << "Wine's folders are not visible through drive Z:";
    std::printf("%d files, %d with a version resource\n", files, withVersion);
    EXPECT_GT(withVersion, 200);
}

}  // namespace
}  // namespace vost
