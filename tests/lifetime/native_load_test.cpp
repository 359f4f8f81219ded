// vostscan over generated closures on disk, up to 5,000 modules: every module
// listed once, each module's imports under its first occurrence only.
#include <gtest/gtest.h>

#include <fstream>
#include <ftw.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "scanner/scanner.h"
#include "tests/lifetime/closure_check.h"

namespace vost::test {
namespace {

class ClosureFolder {
public:
    ClosureFolder(const GeneratedClosure& closure) {
        std::string pattern =
            (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + std::string("/vost-load-XXXXXX");
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        writeClosure(closure, [&](const std::string& name, const Bytes& bytes) {
            std::ofstream file(path_ + "/" + name, std::ios::binary);
            file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        });
        root_ = path_ + "/" + closure.root.fileName;
    }
    ~ClosureFolder() {
        nftw(path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); },
             16, FTW_DEPTH | FTW_PHYS);
    }
    const std::string& root() const { return root_; }

private:
    std::string path_, root_;
};

std::string scan(const std::vector<std::string>& arguments, int* status) {
    std::vector<const char*> argv{"vostscan"};
    for (const std::string& a : arguments) argv.push_back(a.c_str());
    std::ostringstream out, err;
    *status = runScanner(int(argv.size()), argv.data(), out, err);
    return out.str();
}

// The tree output: two blanks of indentation per level.
std::vector<FlatItem> parseTree(const std::string& text) {
    std::vector<FlatItem> items;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t label = line.find_first_not_of(' ');
        items.push_back(FlatItem{int(label / 2), line.substr(label), -1});
    }
    return items;
}

// The list output: a heading line, a blank line, then one row per line.
std::vector<std::string> parseListModules(const std::string& text) {
    std::vector<std::string> modules;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    std::getline(lines, line);
    while (std::getline(lines, line)) modules.push_back(line.substr(0, line.find('\t')));
    return modules;
}

TEST(ClosureLoad, EveryModuleOnceAndEachExpandedAtItsFirstOccurrence) {
    for (int count : {10, 100, 1000, 5000}) {
        SCOPED_TRACE(count);
        const GeneratedClosure closure = generateClosure(count, unsigned(count));
        const ClosureFolder folder(closure);
        int status = -1;
        // Only the folder's own modules: no system folder stands in.
        const std::string tree = scan({"--search-dir", "/nonexistent", folder.root()}, &status);
        EXPECT_EQ(status, 0);
        const std::string list =
            scan({"--list", "--search-dir", "/nonexistent", folder.root()}, &status);
        EXPECT_EQ(status, 0);
        const std::vector<FlatItem> items = parseTree(tree);
        expectClosureShown(closure, items, parseListModules(list));
        if (count >= 1000) {
            EXPECT_GT(treeDepth(items), 100);  // the chains do run deep
        }
    }
}

TEST(ClosureLoad, GeneratorIsDeterministicAndSpellsNamesVariously) {
    const GeneratedClosure a = generateClosure(300, 7), b = generateClosure(300, 7);
    ASSERT_EQ(a.modules.size(), 300u);
    int lowerSpelled = 0, imports = 0;
    for (std::size_t i = 0; i < a.modules.size(); ++i) {
        EXPECT_EQ(a.modules[i].imports, b.modules[i].imports);
        for (const std::string& name : a.modules[i].imports) {
            ++imports;
            if (name != upperName(name)) ++lowerSpelled;
        }
    }
    EXPECT_GT(lowerSpelled, imports / 3);
    EXPECT_NE(generateClosure(300, 8).modules[0].imports, a.modules[0].imports);
}

}  // namespace
}  // namespace vost::test
