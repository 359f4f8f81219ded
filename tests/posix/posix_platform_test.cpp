// The POSIX platform layer on real folders: the module search, case-folded
// paths, file times and dates, and version resources of Wine's own files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "analysis/api_set_schema.h"
#include "platform/posix/file_time.h"
#include "platform/posix/posix_platform.h"

namespace vost {
namespace {

namespace fs = std::filesystem;

class PosixPlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vost-posix-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        root_ = pattern;
    }
    void TearDown() override { fs::remove_all(root_); }

    std::string path(const std::string& relative) const { return root_ + "/" + relative; }

    std::string write(const std::string& relative, const std::string& content = "MZ") const {
        const std::string full = path(relative);
        fs::create_directories(fs::path(full).parent_path());
        std::ofstream(full, std::ios::binary) << content;
        return full;
    }

    // searchModule's answer as text; "" when not found.
    static std::string search(PagePlatform& platform, const char* name) {
        return platform.searchModule(name, ModuleBits::bits32);
    }

    std::unique_ptr<PagePlatform> platformOver(std::initializer_list<const char*> folders) const {
        PlatformOptions options;
        for (const char* folder : folders) options.searchFolders.push_back(path(folder));
        return createPlatform(options);
    }

    std::string root_;
};

// The scan's folder first, as the loader looks in a program's own folder
// before the system folders; then the search folders in the order given.
TEST_F(PosixPlatformTest, SearchesTheScanFolderThenTheFoldersInOrderIgnoringCase) {
    write("first/Other.dll");
    const std::string second = write("second/Dup.DLL");
    write("third/dup.dll");
    const std::string inScan = write("scan/dup.dll");
    const std::string onlyInScan = write("scan/Only.Dll");
    fs::create_directories(path("first/dup.dll"));  // a folder is no module
    auto platform = platformOver({"first", "second", "third"});

    EXPECT_EQ("", search(*platform, "only.dll"));  // no scan folder yet
    EXPECT_EQ(second, search(*platform, "DUP.dll"));
    platform->setSearchFolder(path("SCAN").c_str());
    EXPECT_EQ(inScan, search(*platform, "DUP.dll"));
    EXPECT_EQ(onlyInScan, search(*platform, "ONLY.DLL"));
    EXPECT_EQ("", search(*platform, "missing.dll"));
    EXPECT_EQ("", search(*platform, ""));
}

// Relative search folders and a relative scan folder are taken from the
// current directory when given: every path found is absolute.
TEST_F(PosixPlatformTest, RelativeFoldersGiveAbsolutePaths) {
    const std::string shared = write("sys/Shared.dll");
    const std::string local = write("app/local.dll");
    write("other/x.dll");
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(path("other").c_str()), 0);
    PlatformOptions options;
    options.searchFolders = {"./../sys/"};
    auto platform = createPlatform(options);
    platform->setSearchFolder("../app/");
    const std::string sharedFound = search(*platform, "shared.dll");
    const std::string localFound = search(*platform, "LOCAL.DLL");
    platform->setSearchFolder(".");
    const std::string hereFound = search(*platform, "x.dll");
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(sharedFound, fs::canonical(shared).string());
    EXPECT_EQ(localFound, fs::canonical(local).string());
    EXPECT_EQ(hereFound, fs::canonical(path("other/x.dll")).string());
}

// The schema comes from the first search folder of the family that holds
// apisetschema.dll, never from the scan's folder, and is read once.
TEST_F(PosixPlatformTest, TheApiSetSchemaOfEachFamilyComesFromItsFirstFolderThatHasOne) {
    const std::string wine32 = "/usr/lib/i386-linux-gnu/wine/i386-windows/apisetschema.dll";
    if (!fs::exists(wine32)) GTEST_SKIP() << "Wine's apisetschema.dll is not installed";
    std::ifstream in(wine32, std::ios::binary);
    const std::string schema((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    write("scan/apisetschema.dll", schema);
    write("empty32/other.dll");
    write("with32/ApiSetSchema.DLL", schema);
    write("broken64/apisetschema.dll", "MZ not a schema");
    write("later64/apisetschema.dll", schema);
    PlatformOptions options;
    options.searchFolders = {path("empty32"), path("with32")};
    options.searchFolders64 = {path("broken64"), path("later64")};
    auto platform = createPlatform(options);
    platform->setSearchFolder(path("scan").c_str());

    const ApiSetSchema* narrow = platform->apiSetSchema(ModuleBits::bits32);
    ASSERT_NE(narrow, nullptr);
    EXPECT_EQ(narrow->count, 504u);
    EXPECT_EQ(platform->apiSetSchema(ModuleBits::bits32), narrow);
    // The first folder that holds the file decides, even when it holds no
    // schema: the names are then searched as files.
    EXPECT_EQ(platform->apiSetSchema(ModuleBits::bits64), nullptr);

    PlatformOptions none;
    none.searchFolders = {path("empty32")};
    EXPECT_EQ(createPlatform(none)->apiSetSchema(ModuleBits::bits32), nullptr);
}

TEST_F(PosixPlatformTest, LinksCountAsWhatTheyPointTo) {
    const std::string target = write("real/target.dll");
    fs::create_directories(path("real/folder"));
    fs::create_directories(path("sys"));
    fs::create_symlink(target, path("sys/linked.dll"));
    fs::create_symlink(path("real/folder"), path("sys/folder.dll"));
    fs::create_symlink(path("real/gone.dll"), path("sys/dangling.dll"));
    write("scan/folder.dll");
    write("scan/dangling.dll");
    auto platform = platformOver({"sys"});
    platform->setSearchFolder(path("scan").c_str());
    EXPECT_EQ(path("sys/linked.dll"), search(*platform, "LINKED"));
    EXPECT_EQ(path("scan/folder.dll"), search(*platform, "folder.dll"));    // a link to a folder is passed over
    EXPECT_EQ(path("scan/dangling.dll"), search(*platform, "dangling.dll"));  // and so is a link to nothing
}

TEST_F(PosixPlatformTest, AppendsDllOnlyWhenTheFilePartHasNoExtension) {
    const std::string mylib = write("sys/MyLib.dll");
    const std::string ocx = write("sys/mylib.ocx");
    write("sys/my.lib.DLL");
    const std::string nested = write("sys/sub.d/Thing.dll");
    auto platform = platformOver({"sys"});

    EXPECT_EQ(mylib, search(*platform, "MYLIB"));
    EXPECT_EQ(ocx, search(*platform, "MyLib.OCX"));
    EXPECT_EQ("", search(*platform, "my.lib"));       // has an extension of its own
    EXPECT_EQ(nested, search(*platform, "SUB.D\\thing"));  // the folder's dot doesn't count
}

TEST_F(PosixPlatformTest, NamesWithFoldersAreSearchedOrOpenedLikeSearchPath) {
    const std::string relative = write("sys/Sub/Inner.dll");
    const std::string fromScan = write("scan/Local.dll");
    const std::string absolute = write("elsewhere/Abs.dll");
    auto platform = platformOver({"sys"});
    platform->setSearchFolder(path("scan").c_str());

    EXPECT_EQ(relative, search(*platform, "sub\\inner.dll"));  // under each search folder
    EXPECT_EQ(fromScan, search(*platform, ".\\local.dll"));    // from the scan's folder only
    EXPECT_EQ("", search(*platform, "./inner.dll"));
    EXPECT_EQ(absolute, search(*platform, (root_ + "/ELSEWHERE/abs.dll").c_str()));
}

TEST_F(PosixPlatformTest, FolderListingsAreCachedForTheLifeOfThePlatform) {
    write("sys/a.dll");
    auto platform = platformOver({"sys"});
    ASSERT_NE("", search(*platform, "a.dll"));
    const std::string added = write("sys/B.dll");
    // This scan's listing predates the file; the next scan sees it.
    EXPECT_EQ("", search(*platform, "b.dll"));
    EXPECT_EQ(added, search(*platformOver({"sys"}), "b.dll"));
}

TEST_F(PosixPlatformTest, APathOfAnyLengthIsFoundWhole) {
    std::string deep = "sys";
    while (path(deep).size() < 300) deep += "/folder_with_a_long_name";
    const std::string found = write(deep + "/Deep.dll");
    EXPECT_EQ(found, search(*platformOver({deep.c_str()}), "deep.dll"));
}

TEST_F(PosixPlatformTest, OpensLowerCasedPathsOfMixedCaseFiles) {
    const std::string content = "MZ mixed-case content";
    write("Folder/Sub/File.DLL", content);
    write("Folder/exact.dll", "lower");
    write("Folder/EXACT.dll", "upper");
    auto platform = platformOver({});

    const std::string lowered = path("folder/sub/file.dll");
    auto mapped = platform->mapFile(lowered.c_str());
    ASSERT_NE(nullptr, mapped);
    std::string read(mapped->bytes().size(), '\0');
    ASSERT_TRUE(mapped->bytes().readBytes(0, read.size(), &read[0]));
    EXPECT_EQ(content, read);
    FileTime time;
    EXPECT_TRUE(platform->lastWriteTime(lowered.c_str(), time));
    // An exact match wins over a case-folded one.
    auto exact = platform->mapFile(path("Folder/EXACT.dll").c_str());
    ASSERT_NE(nullptr, exact);
    std::uint8_t first = 0;
    ASSERT_TRUE(exact->bytes().readU8(0, first));
    EXPECT_EQ('u', char(first));

    write("empty.dll", "");
    fs::create_directories(path("folder.dll"));
    EXPECT_EQ(nullptr, platform->mapFile(path("empty.dll").c_str()));
    EXPECT_EQ(nullptr, platform->mapFile(path("folder.dll").c_str()));
    ASSERT_EQ(0, mkfifo(path("pipe.dll").c_str(), 0600));
    EXPECT_EQ(nullptr, platform->mapFile(path("Pipe.dll").c_str()));  // without waiting for a writer
    EXPECT_EQ(nullptr, platform->mapFile(path("missing.dll").c_str()));
    EXPECT_EQ(nullptr, platform->mapFile(""));
    EXPECT_FALSE(platform->lastWriteTime(path("missing.dll").c_str(), time));
    EXPECT_FALSE(platform->lastWriteTime(path("folder.dll").c_str(), time));
}

TEST_F(PosixPlatformTest, FileCutWhileOpenGivesFailedReadsNotAFault) {
    // Another process may shorten a file the scan has open; a mapped file
    // would then fault on the lost pages.
    std::string content(64 * 1024, 'x');
    content.replace(60000, 6, "marker");
    write("cut.dll", content);
    auto platform = platformOver({});
    auto file = platform->mapFile(path("cut.dll").c_str());
    ASSERT_NE(nullptr, file);
    const ByteView view = file->bytes();
    ASSERT_EQ(content.size(), view.size());
    std::uint32_t value = 0;
    ASSERT_TRUE(view.readU32(96, value));
    ASSERT_EQ(0, ::truncate(path("cut.dll").c_str(), 100));
    char text[16];
    EXPECT_FALSE(view.readCString(60000, text, sizeof text));
    EXPECT_FALSE(view.readU32(50000, value));
    value = 0;
    EXPECT_TRUE(view.readU32(96, value));  // what was read before answers as before
    EXPECT_EQ(0x78787878u, value);
    EXPECT_EQ(content.size(), view.size());  // the size stays as it was opened
}

void setModificationTime(const std::string& file, std::int64_t seconds, long nanoseconds) {
    const timespec times[2] = {{time_t(seconds), nanoseconds}, {time_t(seconds), nanoseconds}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, file.c_str(), times, 0));
}

TEST_F(PosixPlatformTest, LastWriteTimeKeepsEvery100Nanoseconds) {
    const std::string file = write("timed.dll");
    auto platform = platformOver({});
    FileTime time;

    setModificationTime(file, 1700000000, 123456789);
    ASSERT_TRUE(platform->lastWriteTime(file.c_str(), time));
    EXPECT_EQ((1700000000ULL + 11644473600ULL) * 10000000ULL + 1234567ULL, time.value());  // truncated

    setModificationTime(file, -1, 999999999);  // before 1970
    ASSERT_TRUE(platform->lastWriteTime(file.c_str(), time));
    EXPECT_EQ(11644473599ULL * 10000000ULL + 9999999ULL, time.value());

    FileTime unchanged = FileTime::fromValue(42);
    EXPECT_FALSE(fileTimeFromTimespec(timespec{time_t(-11644473601LL), 0}, unchanged));  // before 1601
    EXPECT_EQ(42u, unchanged.value());
}

TEST(PosixDate, FormatsTheUtcDateAsMonthDayYear) {
    const std::uint64_t day = 864000000000ULL;
    EXPECT_EQ("1/1/1601", formatUtcShortDate(FileTime::fromValue(0)));
    EXPECT_EQ("12/31/1601", formatUtcShortDate(FileTime::fromValue(364 * day)));
    // 2024-02-29 23:59:59.9999999 UTC, then the next tick.
    const std::uint64_t leapDayEnd = (1709251200ULL + 11644473600ULL) * 10000000ULL - 1;
    EXPECT_EQ("2/29/2024", formatUtcShortDate(FileTime::fromValue(leapDayEnd)));
    EXPECT_EQ("3/1/2024", formatUtcShortDate(FileTime::fromValue(leapDayEnd + 1)));
    EXPECT_EQ("3/1/2100", formatUtcShortDate(FileTime::fromValue((4107542400ULL + 11644473600ULL) * 10000000ULL)));
    EXPECT_EQ("9/14/30828", formatUtcShortDate(FileTime::fromValue(0x7FFFFFFFFFFFFFFFULL)));
    EXPECT_EQ("", formatUtcShortDate(FileTime::fromValue(0x8000000000000000ULL)));
}

TEST_F(PosixPlatformTest, TheDateOfAFileWrittenAt0030InAZoneTwoHoursEastIsTheDayBefore) {
    const char* saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    setenv("TZ", "EET-2", 1);  // two hours east of UTC, no daylight saving
    tzset();
    std::tm local = {};
    local.tm_year = 2024 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 15;
    local.tm_hour = 0;
    local.tm_min = 30;
    local.tm_isdst = 0;
    const std::time_t when = std::mktime(&local);
    if (saved)
        setenv("TZ", previous.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();

    const std::string file = write("late.dll");
    setModificationTime(file, when, 0);
    auto platform = platformOver({});
    FileTime time;
    ASSERT_TRUE(platform->lastWriteTime(file.c_str(), time));
    EXPECT_EQ("3/14/2024", platform->formatShortDate(time));
}

TEST_F(PosixPlatformTest, IconsCursorsAndMessages) {
    PlatformOptions options;
    std::string received;
    options.messageSink = [&](const char* text, const char* caption) { received = std::string(caption) + "|" + text; };
    auto platform = createPlatform(options);

    const std::map<std::string, int> indices = {{"a.EXE", 1}, {"/x/b.dll", 2}, {"c.Drv", 3}, {"d.fon", 4},
                                                {"e.txt", 0}, {"/x.dll/noext", 0}};
    for (const auto& [file, expected] : indices) {
        int index = -1;
        EXPECT_TRUE(platform->smallIconIndex(file.c_str(), index)) << file;  // existing or not
        EXPECT_EQ(expected, index) << file;
    }
    int icon = -1;
    EXPECT_FALSE(platform->smallIconIndex("", icon));
    EXPECT_NE(nullptr, platform->smallImageList("k.dll", icon));
    EXPECT_EQ(2, icon);
    EXPECT_EQ(nullptr, platform->smallImageList("", icon));

    platform->showError(nullptr, "not a Valid File", "VOST");
    EXPECT_EQ("VOST|not a Valid File", received);
    platform->restoreCursor(platform->showWaitCursor());
}

// Wine's own PE files, when installed.
const char* const kWineFolder = "/usr/lib/i386-linux-gnu/wine/i386-windows";

std::string versionText(PagePlatform& platform, const std::string& file) {
    FixedFileVersion v;
    if (!platform.readFixedVersion(file.c_str(), v)) return "none";
    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", v.fileVersionMS >> 16, v.fileVersionMS & 0xFFFF,
                  v.fileVersionLS >> 16, v.fileVersionLS & 0xFFFF);
    return text;
}

TEST(PosixWineFiles, ReadsTheVersionsOfWinesModules) {
    if (!fs::is_directory(kWineFolder)) GTEST_SKIP() << "Wine is not installed";
    auto platform = createPlatform(PlatformOptions{});
    const std::string folder = kWineFolder;
    // Upper-cased names, found through the case-insensitive open.
    EXPECT_EQ("10.0.18362.1350", versionText(*platform, folder + "/KERNEL32.DLL"));
    EXPECT_EQ("5.1.2600.2180", versionText(*platform, folder + "/User32.dll"));
    EXPECT_EQ("6.0.2900.6242", versionText(*platform, folder + "/shell32.DLL"));
    EXPECT_EQ("5.81.4704.1100", versionText(*platform, folder + "/comctl32.dll"));
    EXPECT_EQ("none", versionText(*platform, folder + "/notepad.exe"));
    EXPECT_EQ("none", versionText(*platform, folder + "/kernelbase.dll"));
}

TEST(PosixWineFiles, AgreesWithPefileOnEveryModule) {
    if (!fs::is_directory(kWineFolder)) GTEST_SKIP() << "Wine is not installed";
    const std::string script =
        "/usr/bin/python3 -c \"\n"
        "import os, pefile\n"
        "d = '" + std::string(kWineFolder) + "'\n"
        "for f in sorted(os.listdir(d)):\n"
        "    v = 'none'\n"
        "    try:\n"
        "        pe = pefile.PE(os.path.join(d, f), fast_load=True)\n"
        "        pe.parse_data_directories(directories=[2])\n"
        "        if hasattr(pe, 'VS_FIXEDFILEINFO'):\n"
        "            i = pe.VS_FIXEDFILEINFO[0]\n"
        "            v = '%d.%d.%d.%d' % (i.FileVersionMS >> 16, i.FileVersionMS & 0xFFFF,"
        " i.FileVersionLS >> 16, i.FileVersionLS & 0xFFFF)\n"
        "    except Exception:\n"
        "        pass\n"
        "    print(f, v)\n"
        "\" 2>/dev/null";
    FILE* pipe = popen(script.c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    auto platform = createPlatform(PlatformOptions{});
    char line[512];
    int files = 0, versions = 0;
    while (std::fgets(line, sizeof line, pipe)) {
        char name[256], version[64];
        if (std::sscanf(line, "%255s %63s", name, version) != 2) continue;
        ++files;
        versions += std::string(version) != "none";
        EXPECT_EQ(version, versionText(*platform, std::string(kWineFolder) + "/" + name)) << name;
    }
    if (pclose(pipe) != 0 || files == 0) GTEST_SKIP() << "python3-pefile is not available";
    EXPECT_GT(versions, 200);
}

}  // namespace
}  // namespace vost
