// Real closures: Wine's own programs, checked against pev's peldd.
#include <gtest/gtest.h>

#include <cstdio>
#include <dirent.h>
#include <memory>
#include <deque>
#include <set>
#include <sys/stat.h>

#include "page/module_list.h"
#include "platform/platform_factory.h"
#include "scanner/scan_session.h"
#include "scanner/scanner.h"
#include "tests/scanner/scanner_fixture.h"
#include "tests/support/fake_platform.h"

namespace vost::test {
namespace {

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// The names that `peldd` lists for `path`, lower-cased.
std::set<std::string> pelddNames(const std::string& path) {
    std::set<std::string> names;
    FILE* pipe = popen(("peldd '" + path + "' 2>/dev/null").c_str(), "r");
    if (!pipe) return names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text = line;
        if (text.empty() || (text[0] != ' ' && text[0] != '\t')) continue;  // the heading
        const std::size_t first = text.find_first_not_of(" \t");
        const std::size_t last = text.find_last_not_of(" \t\r\n");
        if (first != std::string::npos) names.insert(asciiLowerCopy(text.substr(first, last - first + 1)));
    }
    pclose(pipe);
    return names;
}

std::string baseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

TEST(WineClosure, EveryModuleFoundAndListedOnceAsPelddSays) {
    const std::string folder = kDefaultSearchDir;
    if (!exists(folder)) GTEST_SKIP() << folder << " is missing";
    if (std::system("peldd --version >/dev/null 2>&1") != 0 && pelddNames(folder + "/notepad.exe").empty())
        GTEST_SKIP() << "peldd is missing";

    PlatformOptions options;
    options.searchFolders.push_back(folder);
    const std::shared_ptr<PagePlatform> platform = createPlatform(options);
    for (const char* program : {"notepad.exe", "explorer.exe", "regedit.exe", "winecfg.exe", "cmd.exe"}) {
        SCOPED_TRACE(program);
        std::vector<ScanMessage>* target = nullptr;
        const auto scanned = scanFile(folder + "/" + program, platform, target, ScanReach::closure);
        ASSERT_EQ(scanned->failure, "");
        EXPECT_TRUE(scanned->messages.empty());

        // The root's own references are peldd's list.
        std::set<std::string> direct;
        MemoryTree& tree = *scanned->tree;
        for (TreeItem c = tree.firstChild(tree.rootItem()); c; c = tree.nextSibling(c))
            direct.insert(asciiLowerCopy(tree.itemNode(c)->moduleName));
        EXPECT_EQ(direct, pelddNames(folder + "/" + program));

        // The closure by peldd, module by module.
        std::set<std::string> closure{program};
        std::deque<std::string> queue{program};
        while (!queue.empty()) {
            const std::string name = queue.front();
            queue.pop_front();
            for (const std::string& next : pelddNames(folder + "/" + name))
                if (closure.insert(next).second) queue.push_back(next);
        }
        std::multiset<std::string> listed;
        MemoryList& list = *scanned->list;
        for (int row = 0; row < list.rowCount(); ++row) {
            const std::string path = list.cellText(row, kPathColumn);
            EXPECT_NE(path, "file not found") << list.cellText(row, kModuleColumn);
            listed.insert(baseName(path));
        }
        EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), closure);
        EXPECT_EQ(listed.size(), closure.size());  // each module once
    }
}

// Wine's modules import only what Wine's modules export: the check of the
// closures of all of Wine's programs, of each bitness, finds nothing.
TEST(WineClosure, EveryImportOfEveryProgramResolves) {
    int folders = 0;
    for (const auto& [folder, option] : {std::pair{std::string(kDefaultSearchDir), "--search-dir"},
                                         std::pair{std::string(kDefaultSearchDir64), "--search-dir-64"}}) {
        if (!exists(folder)) continue;
        ++folders;
        std::vector<std::string> arguments{"--check", "--json", option, folder};
        std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
        while (const dirent* entry = readdir(dir.get())) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0) arguments.push_back(folder + "/" + name);
        }
        ASSERT_GT(arguments.size(), 50u);
        const ScannerRun run = runVostscan(arguments);
        EXPECT_EQ(run.status, 0) << run.err;
        const std::string check = "\"check\":{", clean0 = check + "\"unresolved\":0,";
        std::size_t documents = 0, clean = 0;
        for (std::size_t at = run.out.find(check); at != std::string::npos; at = run.out.find(check, at + 1)) {
            ++documents;
            clean += run.out.compare(at, clean0.size(), clean0) == 0;
        }
        EXPECT_EQ(documents, arguments.size() - 4);
        EXPECT_EQ(clean, documents);
    }
    if (folders == 0) GTEST_SKIP() << "no folder of Wine's PE files";
}

}  // namespace
}  // namespace vost::test
