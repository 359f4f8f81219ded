// The check against the system's loader under Wine: for the closures of the
// programs in Wine's folder of this process's bitness (that folder, as the
// programs' own, searched before the system folder) and for the programs
// that the cross compiler builds from tests/check_programs, every import
// the check resolves is found by GetProcAddress on the loaded module, and
// every one it calls unresolved is not. The loader is asked in a process of
// its own (loader_probe.exe).
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "analysis/text.h"
#include "page/caching_platform.h"
#include "page/scan.h"
#include "platform/platform_factory.h"
#include "scanner/check_json.h"
#include "scanner/scan_session.h"
#include "tests/windows/temp_folder.h"

namespace vost {
namespace {

std::string programFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string text = path;
    return text.substr(0, text.find_last_of('\\'));
}

struct Verdict {
    bool resolved = false;
    std::string reason;
};

using Imports = std::map<std::pair<std::string, std::string>, Verdict>;

std::string functionText(const ImportedFunction& f) {
    return f.kind == ImportKind::ByOrdinal ? "#" + std::to_string(f.ordinal) : f.name;
}

// The closures of some programs, checked.
struct CheckedClosures {
    std::shared_ptr<CachingPlatform> platform = std::make_shared<CachingPlatform>(createPlatform(PlatformOptions{}));
    // Every import, by module (its found path, or its name when it was not
    // found) and function, with the check's verdict.
    Imports imports;
    std::set<std::string> modules;  // the paths of the modules imported from

    explicit CheckedClosures(const std::vector<std::string>& programs) {
        CheckCache cache;
        CheckSettings settings;
        settings.visit = [&](const CheckedImport& i) {
            if (i.function.kind == ImportKind::Unreadable) return;
            imports[{i.path.empty() ? i.module : i.path, functionText(i.function)}] = Verdict{i.resolved, i.reason};
            if (!i.path.empty()) modules.insert(i.path);
        };
        for (const std::string& program : programs) {
            std::vector<ScanMessage>* target = nullptr;
            const auto scanned = scanFile(program, platform, target, ScanReach::closure);
            EXPECT_EQ(scanned->failure, "") << program;
            const std::string folder = folderOfPath(scanned->ext.selectedPath);
            checkClosure(*scanned->tree, *platform, cache, folder.c_str(), settings, false);
        }
    }
};

Imports checkedImports(const std::vector<std::string>& programs) { return CheckedClosures(programs).imports; }

// The loader's answers ("1", "0" or "L") for `imports`, in their order.
std::vector<std::string> loaderAnswers(const std::vector<std::pair<std::string, std::string>>& imports,
                                       const std::string& folder) {
    test::TempFolder temp;
    std::string list;
    for (const auto& [module, function] : imports) list += module + "\t" + function + "\n";
    const std::string listPath = temp.write("imports.txt", list);
    const std::string answersPath = temp.path() + "\\answers.txt";
    std::string command = "\"" + programFolder() + "\\loader_probe.exe\" \"" + listPath + "\" \"" + answersPath + "\"";
    if (!folder.empty()) command += " \"" + folder + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    std::vector<std::string> answers;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.empty() ? nullptr : folder.c_str(),
                        &startup, &process)) {
        ADD_FAILURE() << "cannot start " << command;
        return answers;
    }
    WaitForSingleObject(process.hProcess, 600000);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(status, 0u) << command;
    std::ifstream in(answersPath);
    for (std::string answer; std::getline(in, answer);) answers.push_back(answer);
    return answers;
}

struct Tally {
    int resolved = 0, unresolved = 0, unloadable = 0, loops = 0;
};

// Asks the loader about every import and expects its verdict to be the
// check's. A forwarding loop is not asked about: the loader follows it until
// its stack runs out. A module that is there but cannot be loaded in this
// prefix is counted and listed, not compared.
Tally compareWithLoader(const Imports& imports,
                        const std::string& folder) {
    Tally tally;
    std::vector<std::pair<std::string, std::string>> asked;
    std::vector<const Verdict*> verdicts;
    for (const auto& [key, verdict] : imports) {
        if (verdict.reason.find("forwarding loop") != std::string::npos) {
            ++tally.loops;
            continue;
        }
        asked.push_back(key);
        verdicts.push_back(&verdict);
    }
    const std::vector<std::string> answers = loaderAnswers(asked, folder);
    EXPECT_EQ(answers.size(), asked.size());
    std::set<std::string> unloadable;
    for (std::size_t i = 0; i < answers.size() && i < asked.size(); ++i) {
        if (answers[i] == "L") {
            ++tally.unloadable;
            unloadable.insert(asked[i].first);
            continue;
        }
        const bool loaderFinds = answers[i] == "1";
        EXPECT_EQ(loaderFinds, verdicts[i]->resolved)
            << asked[i].first << " " << asked[i].second << ": " << verdicts[i]->reason;
        ++(loaderFinds ? tally.resolved : tally.unresolved);
    }
    for (const std::string& module : unloadable) std::printf("cannot be loaded here: %s\n", module.c_str());
    return tally;
}

// Wine's folder of PE files of this process's bitness, as this process
// names it.
std::string wineFolder() {
    return sizeof(void*) == 8 ? "Z:\\usr\\lib\\x86_64-linux-gnu\\wine\\x86_64-windows"
                              : "Z:\\usr\\lib\\i386-linux-gnu\\wine\\i386-windows";
}

TEST(LoaderAgreement, ClosuresOfWinesPrograms) {
    const std::string folder = wineFolder();
    std::vector<std::string> programs;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.exe").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) GTEST_SKIP() << folder << " is missing";
    do {
        // "*.exe" also matches the 16-bit ".exe16" modules: programs only.
        const std::string name = found.cFileName;
        if (lowerAscii(name.substr(name.size() - 4)) == ".exe") programs.push_back(folder + "\\" + name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    ASSERT_GT(programs.size(), 90u);

    // Wine's loader maps each of its own modules once, as a builtin module,
    // whatever path names it (a second name of a loaded one gives that one),
    // and the prefix's system folder holds copies of the same files: the
    // modules the check found in Wine's folder are asked for by name, as the
    // programs' imports ask for them.
    const std::string prefix = lowerAscii(folder) + "\\";
    const auto byName = [&prefix](const std::string& module) {
        return module.compare(0, prefix.size(), prefix) == 0 ? module.substr(prefix.size()) : module;
    };
    CheckedClosures closures(programs);
    Imports imports;
    for (auto& [key, verdict] : closures.imports) imports[{byName(key.first), key.second}] = verdict;
    Tally tally = compareWithLoader(imports, "");
    std::printf("%zu programs, %zu imports: %d resolved, %d unresolved, %d in modules that cannot be loaded here\n",
                programs.size(), imports.size(), tally.resolved, tally.unresolved, tally.unloadable);
    EXPECT_GT(tally.resolved, 4000);
    // Only modules this test's prefix switches off (mscoree, mshtml) may
    // fail to load.
    EXPECT_LT(tally.unloadable, tally.resolved / 20);

    // Beyond what the programs import: every export of every module they
    // import from, by each of its names, by the same name with its first
    // letter's case changed, and by every ordinal from below the base to
    // past the end of the table (holes included).
    ExportCache exports(*closures.platform);
    Imports everything;
    for (const std::string& module : closures.modules) {
        const PeExports& table = exports.factsOf(module).exports;
        std::vector<ImportedFunction> asks;
        for (const ExportName& n : table.names) {
            ImportedFunction f;
            f.kind = ImportKind::ByName;
            f.name = std::string(table.nameOf(n));
            asks.push_back(f);
            for (char& c : f.name)
                if (std::isalpha(static_cast<unsigned char>(c))) {
                    c = std::islower(static_cast<unsigned char>(c)) ? char(std::toupper(c)) : char(std::tolower(c));
                    break;
                }
            asks.push_back(f);
        }
        const std::uint32_t first = table.ordinalBase > 1 ? table.ordinalBase - 1 : 1;
        for (std::uint32_t o = first; o <= table.ordinalBase + table.addresses.size() && o <= 0xFFFF; ++o) {
            ImportedFunction f;
            f.kind = ImportKind::ByOrdinal;
            f.ordinal = std::uint16_t(o);
            asks.push_back(f);
        }
        for (const ImportedFunction& f : asks) {
            const std::string why = resolveFunction(*closures.platform, exports, module, f);
            everything[{byName(module), functionText(f)}] = Verdict{why.empty(), why};
        }
    }
    // Wine's 32-bit kernel32 clears its FT_Thunk export in memory when it
    // runs as an NT version (a copy-protection scheme looks for it): the
    // file exports it, the running module does not.
    if (sizeof(void*) == 4) {
        EXPECT_EQ(everything.erase({"kernel32.dll", "FT_Thunk"}), 1u);
        EXPECT_EQ(everything.erase({"kernel32.dll", "#389"}), 1u);
    }
    tally = compareWithLoader(everything, "");
    std::printf("every export of %zu modules: %zu asked, %d resolved, %d unresolved, %d unloadable, %d loops\n",
                closures.modules.size(), everything.size(), tally.resolved, tally.unresolved, tally.unloadable,
                tally.loops);
    EXPECT_GT(tally.unresolved, 1000);
    EXPECT_LT(tally.unloadable, tally.resolved / 20);
}

TEST(LoaderAgreement, ProgramsOfTheCrossCompiler) {
    for (const char* folder : {"one", "two"}) {
        SCOPED_TRACE(folder);
        const std::string programs = programFolder() + "\\check_programs\\" + folder;
        const auto imports = checkedImports({programs + "\\app.exe"});
        const Tally tally = compareWithLoader(imports, programs);
        EXPECT_EQ(tally.unloadable, 0);
        EXPECT_EQ(tally.loops, 1);  // fwdLoop
        // one: #9, fwdNoModule, fwdNoFunction; two: g and fwdDotted too.
        EXPECT_EQ(tally.unresolved, std::string(folder) == "one" ? 3 : 5);
        EXPECT_GT(tally.resolved, 20);
    }
}

}  // namespace
}  // namespace vost
