// The Win32 platform layer: mapping, version reading, file times and dates,
// icons and messages.
#include "platform/win32/win32_platform.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/type_icons.h"
#include "tests/windows/temp_folder.h"

namespace vost {
namespace {

using test::TempFolder;

Win32Platform makePlatform() { return Win32Platform(PlatformOptions{}); }

std::string versionText(std::uint32_t ms, std::uint32_t ls) {
    return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
           std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
}

TEST(Win32Platform, MapsTheFileWithItsOwnSizeAndRefusesEmptyOrMissingFiles) {
    TempFolder folder;
    Win32Platform platform = makePlatform();
    const std::string odd = folder.write("odd.bin", std::string("MZ") + std::string(4095, 'a') + "z");
    {
        const std::unique_ptr<MappedFile> file = platform.mapFile(odd.c_str());
        ASSERT_TRUE(file);
        const ByteView bytes = file->bytes();
        EXPECT_EQ(4098u, bytes.size());  // not the two pages the view covers
        std::uint8_t last = 0;
        EXPECT_TRUE(bytes.readU8(4097, last));
        EXPECT_EQ('z', last);
        EXPECT_FALSE(bytes.readU8(4098, last));
        // Others may read while it is mapped; nobody may write.
        HANDLE reader = CreateFileA(odd.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, reader);
        CloseHandle(reader);
    }
    // Every handle is closed with the mapping: the file can be deleted.
    EXPECT_TRUE(DeleteFileA(odd.c_str()));

    EXPECT_FALSE(platform.mapFile(folder.write("empty.bin", "").c_str()));
    EXPECT_FALSE(platform.mapFile((folder.path() + "\\missing.bin").c_str()));
    EXPECT_FALSE(platform.mapFile("file not found"));

    // A file held open for writing elsewhere is refused (others may only read).
    const std::string busy = folder.write("busy.bin", "MZ");
    HANDLE writer = CreateFileA(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    EXPECT_FALSE(platform.mapFile(busy.c_str()));
    CloseHandle(writer);
}

TEST(Win32Platform, ReadsFixedVersionsOfTheSystemModules) {
    Win32Platform platform = makePlatform();
    const std::string system = test::systemFolder();
    FixedFileVersion version;
    ASSERT_TRUE(platform.readFixedVersion((system + "\\user32.dll").c_str(), version));
    EXPECT_EQ("5.1.2600.2180", versionText(version.fileVersionMS, version.fileVersionLS));
    ASSERT_TRUE(platform.readFixedVersion((system + "\\comctl32.dll").c_str(), version));
    EXPECT_EQ("5.81.4704.1100", versionText(version.fileVersionMS, version.fileVersionLS));

    EXPECT_FALSE(platform.readFixedVersion((system + "\\notepad.exe").c_str(), version));
    EXPECT_FALSE(platform.readFixedVersion("file not found", version));
    TempFolder folder;
    EXPECT_FALSE(platform.readFixedVersion(folder.write("text.txt", "just text").c_str(), version));
}

// Finds the UTF-16 key "VS_VERSION_INFO" in a file's bytes.
std::size_t findVersionKey(const std::string& bytes) {
    const char key[] = "VS_VERSION_INFO";
    std::string wide;
    for (const char* c = key; *c; ++c) wide += std::string(1, *c) + '\0';
    return bytes.find(wide);
}

TEST(Win32Platform, RefusesAVersionBlockWhoseFixedInformationIsCut) {
    const std::string original = test::readWholeFile(test::systemFolder() + "\\user32.dll");
    const std::size_t key = findVersionKey(original);
    ASSERT_NE(std::string::npos, key);
    ASSERT_GE(key, 6u);
    TempFolder folder;
    Win32Platform platform = makePlatform();
    FixedFileVersion version;

    // The block claims a value of 4 bytes: the query answers with less than a
    // whole VS_FIXEDFILEINFO, which is refused.
    std::string shortValue = original;
    shortValue[key - 4] = 4;
    shortValue[key - 3] = 0;
    EXPECT_FALSE(platform.readFixedVersion(folder.write("short.dll", shortValue).c_str(), version));

    // Lengths that run far past the resource, and a file cut in the middle of
    // its resources: a clear answer either way, never a crash.
    std::string huge = original;
    huge[key - 6] = huge[key - 5] = '\xff';
    huge[key - 4] = huge[key - 3] = '\xff';
    platform.readFixedVersion(folder.write("huge.dll", huge).c_str(), version);
    platform.readFixedVersion(folder.write("cut.dll", original.substr(0, key + 20)).c_str(), version);
}

TEST(Win32Platform, ReadsLastWriteTimeAndFormatsTheUtcDate) {
    TIME_ZONE_INFORMATION zone;
    GetTimeZoneInformation(&zone);
    if (zone.Bias > -600) GTEST_SKIP() << "the time zone is not far east of UTC (TZ not honoured)";

    TempFolder folder;
    Win32Platform platform = makePlatform();
    const std::string path = folder.write("dated.dll", "MZ");
    // 2021-03-14 22:30 UTC: already 15 March fourteen hours east.
    SYSTEMTIME utc = {2021, 3, 0, 14, 22, 30, 0, 0};
    FILETIME written;
    ASSERT_TRUE(SystemTimeToFileTime(&utc, &written));
    {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &written));
        CloseHandle(file);
    }
    FileTime time;
    ASSERT_TRUE(platform.lastWriteTime(path.c_str(), time));
    EXPECT_EQ(written.dwLowDateTime, time.dwLowDateTime);
    EXPECT_EQ(written.dwHighDateTime, time.dwHighDateTime);

    char expected[260] = {}, local[260] = {};
    GetDateFormatA(0, DATE_SHORTDATE, &utc, nullptr, expected, sizeof expected);
    FILETIME localTime;
    SYSTEMTIME localDate;
    FileTimeToLocalFileTime(&written, &localTime);
    FileTimeToSystemTime(&localTime, &localDate);
    GetDateFormatA(0, DATE_SHORTDATE, &localDate, nullptr, local, sizeof local);
    ASSERT_STRNE(expected, local);
    EXPECT_EQ(expected, platform.formatShortDate(time));

    EXPECT_FALSE(platform.lastWriteTime((folder.path() + "\\missing.dll").c_str(), time));
    // A time past what the calendar conversion accepts gives no text.
    EXPECT_EQ("", platform.formatShortDate(FileTime{0xFFFFFFFFu, 0xFFFFFFFFu}));
}

TEST(Win32Platform, GivesTheShellsSmallIconsAndSendsMessagesToTheSink) {
    Win32Platform quiet(PlatformOptions{});
    const std::string kernel = test::systemFolder() + "\\kernel32.dll";
    int icon = -1;
    EXPECT_TRUE(quiet.smallIconIndex(kernel.c_str(), icon));
    EXPECT_GE(icon, 0);
    int listIcon = -2;
    EXPECT_NE(nullptr, quiet.smallImageList(kernel.c_str(), listIcon));
    EXPECT_EQ(icon, listIcon);

    std::string seen;
    PlatformOptions options;
    options.messageSink = [&](const char* text, const char* caption) { seen = std::string(caption) + ": " + text; };
    Win32Platform recorded(options);
    recorded.showError(nullptr, "invalid .EXE", "Quillon");
    EXPECT_EQ("Quillon: invalid .EXE", seen);

    // The wait cursor and back.
    const CursorHandle before = recorded.showWaitCursor();
    EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)), GetCursor());
    recorded.restoreCursor(before);
    EXPECT_EQ(before, GetCursor());
}

// Every file of the system folders and the prefix's Windows folder, and files
// of every kind the tests write, gets the icon the shell gives when asked
// about the file itself, also where the layer answers from the file's type.
TEST(Win32Platform, IconsAreTheShellsOwnForEveryFileOfTheSystem) {
    Win32Platform platform(PlatformOptions{});
    TempFolder folder;
    std::vector<std::string> files;
    for (const char* name : {"plain.dll", "text.txt", "noext", "icon.ico", "page.htm", "Upper.DLL", "font.fon"})
        files.push_back(folder.write(name, "MZ"));
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    for (const std::string& dir : {test::systemFolder(), std::string(windows)}) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
        ASSERT_NE(search, INVALID_HANDLE_VALUE);
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(dir + "\\" + found.cFileName);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    ASSERT_GT(files.size(), 600u);
    std::size_t differing = 0;
    for (const std::string& file : files) {
        SHFILEINFOA info = {};
        const bool shell = SHGetFileInfoA(file.c_str(), 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON) != 0;
        int icon = -1;
        const bool layer = platform.smallIconIndex(file.c_str(), icon);
        if ((layer != shell || (shell && icon != info.iIcon)) && ++differing <= 10)
            ADD_FAILURE() << file << ": shell " << shell << " " << info.iIcon << ", layer " << layer << " " << icon;
    }
    EXPECT_EQ(differing, 0u);
    int icon = -1;
    EXPECT_FALSE(platform.smallIconIndex((folder.path() + "\\absent.dll").c_str(), icon));
}

// Which types show each file's own icon, from the registry's associations
// (written for the test into the prefix's classes, removed afterwards).
TEST(Win32Platform, TypesWithOwnIconsFollowTheirAssociations) {
    struct Type {
        const char* extension;
        const char* defaultIcon;  // null: no DefaultIcon
        bool iconHandler;
        bool own;
    };
    // A value past MAX_PATH whose "%1" comes last is read whole.
    const std::string longIcon = "\"C:\\" + std::string(400, 'x') + "\\viewer.exe\" %1";
    const Type types[] = {{".vostfile", "%1", false, true},
                          {".vostlong", longIcon.c_str(), false, true},
                          {".vosttype", "%SystemRoot%\\system32\\shell32.dll,3", false, false},
                          {".vosthandled", nullptr, true, true},
                          {".vostplain", nullptr, false, false}};
    for (const Type& type : types) {
        SCOPED_TRACE(type.extension);
        const std::string programId = std::string("VostTest") + (type.extension + 1);
        const std::string classes;
        RegSetValueA(HKEY_CLASSES_ROOT, (classes + type.extension).c_str(), REG_SZ, programId.c_str(), 0);
        if (type.defaultIcon)
            RegSetValueA(HKEY_CLASSES_ROOT, (classes + programId + "\\DefaultIcon").c_str(), REG_SZ,
                         type.defaultIcon, 0);
        if (type.iconHandler)
            RegSetValueA(HKEY_CLASSES_ROOT, (classes + programId + "\\shellex\\IconHandler").c_str(), REG_SZ,
                         "{00000000-0000-0000-0000-000000000000}", 0);
        EXPECT_EQ(iconComesFromFile(type.extension), type.own);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, (classes + type.extension).c_str());
        RegDeleteTreeA(HKEY_CLASSES_ROOT, (classes + programId).c_str());
    }
    EXPECT_TRUE(iconComesFromFile(".exe"));
    EXPECT_TRUE(iconComesFromFile(""));
    EXPECT_FALSE(iconComesFromFile(".vostunknown"));
}

}  // namespace
}  // namespace vost
