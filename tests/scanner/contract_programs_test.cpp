// vostscan on programs that import API set contracts, made by the cross
// compilers at build time (tests/contracts), with Wine's folders and Wine's
// schema as the system: each contract shows its host, found where Wine keeps
// it; a contract the schema leaves without host is not found; a file named
// like a contract of the schema is never used; one named like a contract the
// schema lacks is found as a file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>

#include "scanner/scanner.h"
#include "tests/scanner/scanner_fixture.h"
#include "tests/support/fake_platform.h"

namespace vost::test {
namespace {

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
    }
    return out;
}

struct Architecture {
    const char* name;
    const char* programs;  // the folder the build made them in, or empty
    const char* system;    // Wine's folder of that architecture
    const char* option;    // the option naming it
};

class ContractPrograms : public ::testing::TestWithParam<Architecture> {};

TEST_P(ContractPrograms, ShowTheirHostsAsWineFindsThem) {
    const Architecture& arch = GetParam();
    if (!*arch.programs) GTEST_SKIP() << "no " << arch.name << " cross compiler";
    const std::string system = arch.system;
    if (!exists(system + "/apisetschema.dll")) GTEST_SKIP() << system << " has no apisetschema.dll";
    const std::string folder = arch.programs;
    const std::string program = std::string(arch.programs) + "/contracts.exe";

    const ScannerRun direct = runVostscan({"--direct", arch.option, system, program});
    ASSERT_EQ(direct.status, 0) << direct.err;
    const std::vector<std::string> tree = lines(direct.out);
    // Labels in the tree's order; each found module's label goes on with its
    // version, when it has one, and ")".
    const std::vector<std::string> expected = {
        "CONTRACTS.EXE(" + folder + "/contracts.exe",
        "  API-MS-WIN-CORE-PROCESSTHREADS-L1-1-0.DLL (" + system + "/kernel32.dll",
        "  API-MS-WIN-CORE-SYNCH-L1-2-0.DLL (" + system + "/kernelbase.dll",
        "  API-MS-WIN-DEPRECATED-APIS-LEGACY-L1-1-0.DLL (file not found)",
        "  API-MS-WIN-VOST-UNKNOWN-L1-1-0.DLL (" + folder + "/api-ms-win-vost-unknown-l1-1-0.dll",
        "  EXT-MS-WIN-NTUSER-MESSAGE-L1-1-0.DLL (" + system + "/user32.dll",
        "  KERNEL32.DLL (" + system + "/kernel32.dll",
        "  KERNELBASE.DLL (" + system + "/kernelbase.dll",
        "  MSVCRT.DLL (" + system + "/msvcrt.dll",
    };
    ASSERT_EQ(tree.size(), expected.size()) << direct.out;
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const std::string rest = tree[i].compare(0, expected[i].size(), expected[i]) == 0
                                     ? tree[i].substr(expected[i].size())
                                     : "(differs)";
        EXPECT_TRUE(rest.empty() || rest == ")" || (rest.rfind(" [", 0) == 0 && rest.back() == ')')) << tree[i];
    }

    // The whole closure: the contract's row carries its host's file data,
    // the host has a row of its own, and the file named like the contract
    // beside the program is never read.
    const ScannerRun list = runVostscan({"--list", arch.option, system, program});
    ASSERT_EQ(list.status, 0) << list.err;
    std::string synchRow, kernelbaseRow;
    for (const std::string& row : lines(list.out)) {
        if (row.rfind("API-MS-WIN-CORE-SYNCH-L1-2-0.DLL\t", 0) == 0) synchRow = row;
        if (row.rfind("KERNELBASE.DLL\t", 0) == 0) kernelbaseRow = row;
    }
    ASSERT_FALSE(synchRow.empty()) << list.out;
    EXPECT_EQ(synchRow.substr(synchRow.find('\t')), kernelbaseRow.substr(kernelbaseRow.find('\t')));
    EXPECT_EQ(list.out.find(folder + "/api-ms-win-core-synch-l1-2-0.dll"), std::string::npos);

    // Copied, the host is one file, however many rows list it.
    DiskFolder copies;
    const ScannerRun copy = runVostscan({"--copy-to", copies.path(), arch.option, system, program});
    EXPECT_EQ(copy.status, 0) << copy.err;
    const std::vector<std::string> copied = copies.list("");
    EXPECT_EQ(std::count(copied.begin(), copied.end(), "kernelbase.dll"), 1);
    EXPECT_EQ(std::count_if(copied.begin(), copied.end(),
                            [](const std::string& n) { return n.find(" of ") != std::string::npos; }),
              0);

    // The program that imports one contract, without the system's schema:
    // the name is then a file name, and the file beside the program is it.
    const ScannerRun bare = runVostscan({"--direct", arch.option, arch.programs, std::string(arch.programs) + "/synch.exe"});
    EXPECT_NE(bare.out.find("  API-MS-WIN-CORE-SYNCH-L1-2-0.DLL (" + folder + "/api-ms-win-core-synch-l1-2-0.dll)"),
              std::string::npos)
        << bare.out;
}

INSTANTIATE_TEST_SUITE_P(
    Both, ContractPrograms,
    ::testing::Values(Architecture{"i686", VOST_CONTRACTS_i686, kDefaultSearchDir, "--search-dir"},
                      Architecture{"x86_64", VOST_CONTRACTS_x86_64, kDefaultSearchDir64, "--search-dir-64"}),
    [](const ::testing::TestParamInfo<Architecture>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vost::test
