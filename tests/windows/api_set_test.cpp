// The API set schema as the Win32 layer reads it, against Wine's own loader:
// for every contract of the schema of this process's family, the host that
// the layer resolves (and finds with its module search) is the module that
// LoadLibraryA loads, and a contract that Wine leaves without host fails to
// load there too. The loader is asked by a small program of this build
// (api_set_probe.exe), so that this test process loads none of them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "analysis/api_set_schema.h"
#include "analysis/text.h"
#include "platform/win32/system_folders.h"
#include "platform/win32/win32_platform.h"
#include "tests/windows/temp_folder.h"

namespace vost {
namespace {

constexpr ModuleBits kProcessBits = sizeof(void*) == 8 ? ModuleBits::bits64 : ModuleBits::bits32;

std::string programFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string text = path;
    return text.substr(0, text.find_last_of('\\'));
}

// The loader's answers for `names`: the loaded module's true path, lower-cased
// (empty when the load failed).
std::map<std::string, std::string> loaderAnswers(const std::vector<std::string>& names) {
    test::TempFolder scratch;
    std::string list;
    for (const std::string& name : names) list += name + "\n";
    const std::string input = scratch.write("names.txt", list);
    const std::string output = scratch.path() + "\\answers.txt";
    std::string command = "\"" + programFolder() + "\\api_set_probe.exe\" \"" + input + "\" \"" + output + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        WaitForSingleObject(process.hProcess, 240000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    std::map<std::string, std::string> answers;
    const std::string text = test::readWholeFile(output);
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        answers[line.substr(0, tab)] = lowerAscii(truePath(systemFolders(), line.substr(tab + 1)));
    }
    return answers;
}

// The name with its last version number replaced by 0: "...-l1-2-1" gives
// "...-l1-2-0", which the loader maps to the same contract.
std::string withVersionZero(const std::string& name) {
    return name.substr(0, name.find_last_of('-') + 1) + "0";
}

TEST(ApiSetWine, EveryContractResolvesToTheModuleWinesLoaderLoads) {
    Win32Platform platform{PlatformOptions{}};
    platform.setSearchFolder(programFolder().c_str());
    const ApiSetSchema* schema = platform.apiSetSchema(kProcessBits);
    ASSERT_NE(schema, nullptr);
    EXPECT_EQ(platform.apiSetSchema(kProcessBits), schema);  // read once

    // Each contract as stored and with version 0 and ".dll", and each host
    // by its own name (a host that exists but cannot load here fails both).
    std::map<std::string, ApiSetResult> results;
    std::map<std::string, std::string> hosts, expected;
    int contracts = 0;
    forEachApiSetContract(*schema, [&](const char* contract) {
        ++contracts;
        for (const std::string& name : {std::string(contract), withVersionZero(contract) + ".dll"}) {
            char host[kPathCapacity] = {};
            results[name] = resolveApiSet(*schema, name.c_str(), nullptr, host, sizeof host);
            if (results[name] != ApiSetResult::hosted) continue;
            hosts[name] = host;
            expected[name] = lowerAscii(platform.searchModule(host, kProcessBits));
        }
    });
    std::set<std::string> names;
    for (const auto& entry : results) names.insert(entry.first);
    for (const auto& entry : hosts) names.insert(entry.second);
    const std::map<std::string, std::string> loaded =
        loaderAnswers(std::vector<std::string>(names.begin(), names.end()));
    ASSERT_EQ(loaded.size(), names.size()) << "the probe did not answer for every name";
    EXPECT_EQ(contracts, 504);  // Wine 8's schema

    int hosted = 0, notHosted = 0, loadedHosts = 0, foundNotLoadable = 0;
    for (const auto& [name, result] : results) {
        SCOPED_TRACE(name);
        const std::string& wine = loaded.at(name);
        if (result != ApiSetResult::hosted) {
            EXPECT_EQ(result, ApiSetResult::notHosted);
            EXPECT_EQ(wine, "");  // the loader fails it too
            ++notHosted;
            continue;
        }
        ++hosted;
        if (wine == expected[name]) {
            loadedHosts += !wine.empty();
            continue;
        }
        // A host file that is there but does not load in this process (its
        // own imports fail): the loader fails it under its own name as well.
        EXPECT_EQ(wine, "") << "resolved to " << expected[name];
        EXPECT_NE(expected[name], "");
        EXPECT_EQ(loaded.at(hosts[name]), "") << hosts[name];
        ++foundNotLoadable;
    }
    EXPECT_EQ(std::size_t(hosted + notHosted), results.size());
    EXPECT_EQ(notHosted, 2 * 3);  // Wine's three contracts without host, two names each
    // The hosts are there (Wine 8 has every one its schema names); one that
    // is missing gives nothing on both sides.
    EXPECT_GT(loadedHosts, hosted * 9 / 10);
    std::printf("%d hosted names (%d loaded where resolved), %d without host, %d hosts there but not loadable\n",
                hosted, loadedHosts, notHosted, foundNotLoadable);
}

}  // namespace
}  // namespace vost
