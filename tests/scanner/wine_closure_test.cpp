// Real closures: Wine's own programs, checked against pev's peldd.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <set>
#include <sys/stat.h>

#include "page/module_list.h"
#include "platform/platform_factory.h"
#include "scanner/scan_session.h"
#include "scanner/scanner.h"
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

}  // namespace
}  // namespace vost::test
