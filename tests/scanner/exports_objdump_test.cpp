// vostscan --exports over every PE32 and PE32+ file of Wine's system folders
// lists what objdump -p lists: each address-table entry's ordinal with its
// address or forwarder, and each name with its entry, in name-table order.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "scanner/scanner.h"
#include "tests/scanner/scanner_fixture.h"
#include "tests/support/objdump_listing.h"

namespace vost::test {
namespace {

// The lines of objdump's listing (addresses and names) from vostscan's
// "exports of FILE (ordinal base N, M entries):" blocks.
std::map<std::string, Listing> vostscanListings(const std::string& text) {
    std::map<std::string, Listing> listings;
    std::map<std::string, std::vector<std::pair<long, std::string>>> names;  // by hint
    std::istringstream lines(text);
    std::string line, file;
    unsigned long base = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("exports of ", 0) == 0) {
            const std::size_t open = line.rfind(" (ordinal base ");
            if (open == std::string::npos) {  // "exports of FILE: no export table"
                file.clear();
                continue;
            }
            file = line.substr(11, open - 11);
            base = std::stoul(line.substr(open + 15));
            listings[file];
            continue;
        }
        if (file.empty() || line.rfind("  #", 0) != 0) continue;
        // "  #ORD hint H NAME 0xRVA", "  #ORD hint H NAME -> FORWARDER", "  #ORD 0xRVA"
        std::istringstream fields(line.substr(3));
        unsigned long ordinal = 0;
        std::string word, target;
        fields >> ordinal >> word;
        if (word == "hint") {
            long hint = 0;
            std::string name;
            fields >> hint >> name;
            names[file].emplace_back(hint, std::to_string(ordinal - base) + " " + name);
            fields >> word;
        }
        if (word == "->") {
            fields >> word;
            target = "-> " + word;
        } else {
            target = hexText(std::stoul(word, nullptr, 16));
        }
        Lines& addresses = listings[file].addresses;
        const std::string entry = std::to_string(ordinal) + " " + target;
        if (addresses.empty() || addresses.back() != entry) addresses.push_back(entry);
    }
    for (auto& [path, byHint] : names) {
        std::sort(byHint.begin(), byHint.end());
        for (const auto& [hint, entry] : byHint) listings[path].names.push_back(entry);
    }
    return listings;
}

TEST(VostscanExports, EqualObjdumpForEveryWinePeFile) {
    const struct {
        const char* folder;
        const char* objdump;
    } folders[] = {{kDefaultSearchDir, "i686-w64-mingw32-objdump"}, {kDefaultSearchDir64, "x86_64-w64-mingw32-objdump"}};
    for (const auto& f : folders) {
        const std::vector<std::filesystem::path> files = filesIn(f.folder);
        const std::string objdump = toolOnPath(f.objdump);
        if (files.empty() || objdump.empty()) GTEST_SKIP() << "no files in " << f.folder << " or no " << f.objdump;
        std::map<std::string, Listing> want = objdumpListings(objdump, files);
        std::vector<std::string> arguments = {"--direct", "--exports"};
        for (const auto& file : files) arguments.push_back(file.string());
        const std::map<std::string, Listing> got = vostscanListings(runVostscan(arguments).out);

        std::size_t compared = 0, mismatches = 0;
        for (const auto& [file, listing] : want) {
            if (listing.addresses.empty() && listing.names.empty()) continue;
            ++compared;
            const auto mine = got.find(file);
            if (mine == got.end() || mine->second.addresses != listing.addresses || mine->second.names != listing.names)
                if (++mismatches <= 5) ADD_FAILURE() << file << ": vostscan's export table differs from objdump's";
        }
        EXPECT_EQ(mismatches, 0u) << f.folder;
        EXPECT_GT(compared, files.size() / 2) << f.folder;
    }
}

}  // namespace
}  // namespace vost::test
