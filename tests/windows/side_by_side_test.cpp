// Activation contexts and known DLLs as the Win32 layer asks the system,
// against Wine's loader: sxs_probe.exe builds a module's context as the
// loader does, activates it and names the file each import loads; the
// layer, through the reference search, must name the same file and say
// whether an assembly sent it there. This test program carries a manifest
// asking for Common Controls 6, as the shell that hosts the page does.
#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "analysis/pe_import_functions.h"
#include "analysis/reference_search.h"
#include "analysis/text.h"
#include "platform/win32/known_dlls.h"
#include "platform/win32/system_folders.h"
#include "platform/win32/win32_platform.h"
#include "tests/windows/sxs_probe_client.h"
#include "tests/windows/temp_folder.h"

namespace vost {
namespace {

constexpr ModuleBits kBits = sizeof(void*) == 8 ? ModuleBits::bits64 : ModuleBits::bits32;
constexpr const char* kCommonControls = "Microsoft.Windows.Common-Controls";

std::string folderOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

std::string programFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    return folderOf(path);
}

// A family of modules the test asks about: the probe of that bitness and the
// programs built here for it. The 64-bit build also asks about the 32-bit
// build's (VOST_PEER_TESTS), as the 64-bit page does for 32-bit programs.
struct Family {
    ModuleBits bits;
    std::string tests;  // the folder of sxs_probe.exe and sxs_programs
};

std::vector<Family> families() {
    std::vector<Family> all{{kBits, programFolder()}};
#ifdef VOST_PEER_TESTS
    std::string peer = VOST_PEER_TESTS;
    for (char& c : peer)
        if (c == '/') c = '\\';
    all.push_back({ModuleBits::bits32, "Z:" + peer});
#endif
    return all;
}

std::string familyName(const Family& family) { return family.bits == ModuleBits::bits64 ? "64-bit" : "32-bit"; }

struct LoaderAnswers {
    std::map<std::string, std::string> files;  // name -> true path, lower-cased; "" when the load failed
    bool context = false;                      // the probe built and activated a context
};

// The files the loader loads for `names` under the module's context, as
// true paths (a 32-bit probe on 64-bit Windows names SysWOW64 System32).
LoaderAnswers askLoader(const Family& family, const std::string& module, ManifestRole role,
                        const std::vector<std::string>& names) {
    LoaderAnswers answers;
    const std::string arguments = "\"" + module + "\" " + (role == ManifestRole::process ? "1" : "2");
    for (const auto& [name, value] : test::runSxsProbe(family.tests, folderOf(module), arguments, names)) {
        if (name == "context")
            answers.context = value == "1";
        else
            answers.files[name] =
                lowerAscii(folderSeenBy(systemFolders(), family.bits, truePath(systemFolders(), value)));
    }
    return answers;
}

struct LayerAnswer {
    std::string file;  // lower-cased; "" when not found
    SearchOutcome outcome;
};

// The layer's answer: the reference search with the module's context where
// the loader has it (its own for a DLL's resource 2, the process's else).
LayerAnswer askLayer(Win32Platform& platform, ModuleBits bits, const std::string& module, ManifestRole role,
                     const std::string& name) {
    platform.setSearchFolder(folderOf(module).c_str());
    Referrer referrer;
    referrer.bits = bits;
    referrer.path = module.c_str();
    const ActivationContext* context = platform.activationContext(module.c_str(), bits, role);
    (role == ManifestRole::module ? referrer.own : referrer.process) = context;
    LayerAnswer answer;
    answer.file = lowerAscii(searchReference(platform, referrer, name.c_str(), &answer.outcome));
    return answer;
}

// The names a PE file imports, lower-cased.
std::vector<std::string> importsOf(Win32Platform& platform, const std::string& file) {
    std::vector<std::string> names;
    const std::unique_ptr<MappedFile> mapped = platform.mapFile(file.c_str());
    std::uint32_t header = 0;
    if (!mapped || !mapped->bytes().readU32(0x3c, header)) return names;
    for (const ImportedModule& module : readPeImportFunctions(mapped->bytes(), header))
        names.push_back(lowerAscii(module.name));
    return names;
}

TEST(SideBySide, TheHostsOwnContextListsCommonControls) {
    // Without a context of ours active, the system answers from this
    // process's manifest: the answer every redirect below must refuse.
    ACTCTX_SECTION_KEYED_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, L"comctl32.dll",
                                         &data));
}

TEST(SideBySide, ProgramsBuiltHereLoadWhatTheLayerNames) {
    struct Case {
        const char* module;  // below the programs' folder
        ManifestRole role;
        const char* name;
        const char* assembly;  // the assembly that lists it; null: not redirected
        const char* version;   // the start of the version the store gave
        bool refused;          // the system would not build the context
    };
    const ManifestRole process = ManifestRole::process;
    const Case cases[] = {
        {"cc6\\app.exe", process, "comctl32.dll", kCommonControls, "6.0.", false},
        {"cc6\\app.exe", process, "kernel32.dll", nullptr, nullptr, false},
        {"vc90\\app.exe", process, "msvcr90.dll", "Microsoft.VC90.CRT", "9.0.", false},
        {"gdiplus\\app.exe", process, "gdiplus.dll", "Microsoft.Windows.GdiPlus", "1.1.", false},
        // Listed by the host's context only.
        {"gdiplus\\app.exe", process, "comctl32.dll", nullptr, nullptr, false},
        {"external\\app.exe", process, "comctl32.dll", kCommonControls, "6.0.", false},
        {"private\\app.exe", process, "vostpriv.dll", "Vost.Private", "1.0.0.0", false},
        {"owndll\\owndll.dll", ManifestRole::module, "comctl32.dll", kCommonControls, "6.0.", false},
        {"owndll\\host.exe", process, "comctl32.dll", nullptr, nullptr, false},
        {"missing\\app.exe", process, "comctl32.dll", nullptr, nullptr, true},
        {"truncated\\app.exe", process, "comctl32.dll", nullptr, nullptr, true},
        {"hostile\\app.exe", process, "comctl32.dll", nullptr, nullptr, true},
        // The loader compares a private assembly's version, and the root of
        // every manifest; it accepts UTF-16 declared as UTF-8, white space
        // before the text and optional="Yes".
        {"private2\\app.exe", process, "vostpriv.dll", nullptr, nullptr, true},
        {"rootless\\app.exe", process, "comctl32.dll", nullptr, nullptr, true},
        {"unversioned\\app.exe", process, "comctl32.dll", nullptr, nullptr, true},
        {"utf16\\app.exe", process, "comctl32.dll", kCommonControls, "6.0.", false},
        {"leading\\app.exe", process, "comctl32.dll", kCommonControls, "6.0.", false},
    };
    Win32Platform platform{PlatformOptions{}};
    std::vector<std::pair<Family, Case>> runs;
    for (const Family& family : families())
        for (const Case& c : cases) runs.emplace_back(family, c);
    for (const auto& [family, c] : runs) {
        const std::string module = family.tests + "\\sxs_programs\\" + c.module;
        SCOPED_TRACE(familyName(family) + " " + c.module + " " + c.name);
        const LoaderAnswers loader = askLoader(family, module, c.role, {c.name});
        const LayerAnswer layer = askLayer(platform, family.bits, module, c.role, c.name);
        ASSERT_EQ(loader.files.count(c.name), 1u) << "the probe did not answer";
        if (!c.refused) { EXPECT_NE(layer.file, ""); }
        EXPECT_EQ(layer.file, loader.files.at(c.name));
        EXPECT_EQ(layer.outcome.how,
                  c.assembly ? FoundBy::sideBySide : layer.file.empty() ? FoundBy::notFound : FoundBy::search);

        const ActivationContext* context = platform.activationContext(module.c_str(), family.bits, c.role);
        EXPECT_EQ(context != nullptr, loader.context || c.refused);
        EXPECT_EQ(platform.activationContext(module.c_str(), family.bits, c.role), context);  // built once
        if (c.refused) {
            ASSERT_NE(context, nullptr);
            ASSERT_EQ(context->problems.size(), 1u);
            EXPECT_EQ(context->problems[0].kind, ContextProblem::Kind::refused);
            EXPECT_NE(context->problems[0].detail.find("error"), std::string::npos) << context->problems[0].detail;
            // The manifest that failed is named: the file beside the program
            // when it has no resource (Wine reads it in the resource's stead).
            const bool external = GetFileAttributesA((module + ".manifest").c_str()) != INVALID_FILE_ATTRIBUTES;
            EXPECT_NE(context->problems[0].detail.find(external ? "app.exe.manifest" : "manifest resource 1"),
                      std::string::npos)
                << context->problems[0].detail;
        } else if (context) {
            EXPECT_TRUE(context->problems.empty());
        }
        if (!c.assembly) continue;
        EXPECT_EQ(compareIgnoringCase(layer.outcome.assembly.name.c_str(), c.assembly), 0)
            << layer.outcome.assembly.text();
        EXPECT_EQ(layer.outcome.assembly.version.rfind(c.version, 0), 0u) << layer.outcome.assembly.text();
    }
}

TEST(SideBySide, WinesProgramsWithManifestsLoadWhatTheLayerNames) {
    Win32Platform platform{PlatformOptions{}};
    for (const Family& family : families()) {
        SCOPED_TRACE(familyName(family));
        const std::string system = lowerAscii(systemFolderOf(systemFolders(), family.bits));
        WIN32_FIND_DATAA found;
        const HANDLE search = FindFirstFileA((pathForThisProcess(systemFolders(), system) + "\\*.exe").c_str(), &found);
        ASSERT_NE(search, INVALID_HANDLE_VALUE);
        std::vector<std::string> all, programs;
        do {
            all.push_back(lowerAscii(system + "\\" + found.cFileName));
        } while (FindNextFileA(search, &found));
        FindClose(search);
        // The layer builds a context for exactly the programs the system does.
        std::set<std::string> withContext;
        const std::string reached = pathForThisProcess(systemFolders(), system);
        for (const auto& [program, built] : test::runSxsProbe(family.tests, reached, "-contexts", all))
            if (built == "1") withContext.insert(program);
        for (const std::string& program : all)
            if (platform.activationContext(program.c_str(), family.bits, ManifestRole::process))
                programs.push_back(program);
        EXPECT_EQ(std::set<std::string>(programs.begin(), programs.end()), withContext);
        EXPECT_GE(programs.size(), 19u);  // Wine 8: 20 32-bit programs with a manifest, 19 64-bit

        int names = 0, redirected = 0;
        for (const std::string& program : programs) {
            SCOPED_TRACE(program);
            std::vector<std::string> asked = importsOf(platform, program);
            for (const char* name : {"comctl32.dll", "gdiplus.dll", "msvcr90.dll"}) asked.push_back(name);
            LoaderAnswers loader = askLoader(family, pathForThisProcess(systemFolders(), program),
                                             ManifestRole::process, asked);
            EXPECT_TRUE(loader.context);
            for (const std::string& name : asked) {
                const std::string& loaded = loader.files[name];
                // Nothing to compare where the loader could not load the name, or
                // took a module of its own that has no file.
                if (loaded.empty() ||
                    GetFileAttributesA(pathForThisProcess(systemFolders(), loaded).c_str()) == INVALID_FILE_ATTRIBUTES)
                    continue;
                const LayerAnswer layer = askLayer(platform, family.bits, program, ManifestRole::process, name);
                EXPECT_EQ(layer.file, loaded) << name;
                ++names;
                redirected += layer.outcome.how == FoundBy::sideBySide;
                if (layer.outcome.how == FoundBy::sideBySide) {
                    EXPECT_NE(loaded.find("\\winsxs\\"), std::string::npos) << name;
                }
            }
        }
        EXPECT_GE(redirected, int(programs.size()));  // each lists Common Controls 6 at least
        std::printf("%s: %zu programs with a manifest: %d names loaded, %d of them from an assembly\n",
                    familyName(family).c_str(), programs.size(), names, redirected);
    }
}

// Object directories made for the test, with NT calls of ntdll.
struct NtObjects {
    using CreateDirectory = NTSTATUS(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*);
    using CreateSection = NTSTATUS(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, LARGE_INTEGER*, ULONG, ULONG,
                                           HANDLE);
    CreateDirectory createDirectory = reinterpret_cast<CreateDirectory>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateDirectoryObject")));
    CreateSection createSection = reinterpret_cast<CreateSection>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateSection")));
    std::vector<HANDLE> handles;  // the objects live while their handles do
    ~NtObjects() {
        for (HANDLE handle : handles) CloseHandle(handle);
    }

    HANDLE make(const std::wstring& name, HANDLE root, bool directory) {
        UNICODE_STRING text{USHORT(name.size() * 2), USHORT(name.size() * 2), const_cast<wchar_t*>(name.c_str())};
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, root, nullptr);
        HANDLE handle = nullptr;
        LARGE_INTEGER size;
        size.QuadPart = 4096;
        const NTSTATUS status = directory ? createDirectory(&handle, 0xF000F, &attributes)
                                          : createSection(&handle, 0xF001F, &attributes, &size, PAGE_READWRITE,
                                                          0x8000000 /* SEC_COMMIT */, nullptr);
        if (status < 0) return nullptr;
        handles.push_back(handle);
        return handle;
    }
};

TEST(KnownDlls, WineHasNone) {
    EXPECT_TRUE(sectionNamesOf(L"\\KnownDlls").empty());
    EXPECT_TRUE(sectionNamesOf(L"\\KnownDlls32").empty());
    Win32Platform platform{PlatformOptions{}};
    EXPECT_EQ(platform.knownDll("kernel32.dll", kBits), "");
}

TEST(KnownDlls, SectionsOfADirectoryAreTakenFromTheSystemFolder) {
    // A directory of the test's own, laid out as \KnownDlls is: sections,
    // and an object of another type that is no known DLL.
    NtObjects objects;
    ASSERT_TRUE(objects.createDirectory && objects.createSection);
    const std::wstring name = L"\\BaseNamedObjects\\VostKnownDlls" + std::to_wstring(GetCurrentProcessId());
    const HANDLE directory = objects.make(name, nullptr, true);
    ASSERT_NE(directory, nullptr);
    constexpr int kSections = 300;
    for (int i = 0; i < kSections; ++i)
        ASSERT_NE(objects.make(L"Vost" + std::to_wstring(i) + L".dll", directory, false), nullptr);
    ASSERT_NE(objects.make(L"folder.dll", directory, true), nullptr);
    const std::set<std::string> names = sectionNamesOf(name.c_str());
    EXPECT_EQ(names.size(), std::size_t(kSections));
    EXPECT_EQ(names.count("vost7.dll"), 1u);
    EXPECT_EQ(names.count("folder.dll"), 0u);

    KnownDlls known(name, name);
    const std::string system = systemFolderOf(systemFolders(), kBits);
    struct Case {
        const char* name;
        std::string path;  // "" when no known DLL
    };
    const Case cases[] = {
        {"VOST7.DLL", system + "\\vost7.dll"},
        {"vost7", system + "\\vost7.dll"},  // ".dll" appended
        {"vost7.exe", ""},
        {"folder.dll", ""},
        {"c:\\somewhere\\vost7.dll", ""},  // a name with a folder is loaded from there
    };
    for (const Case& c : cases) {
        EXPECT_EQ(known.find(c.name, kBits), c.path) << c.name;
    }

    // A copy planted beside a program is not what the loader takes.
    class Planted : public Win32Platform {
    public:
        explicit Planted(KnownDlls& known) : Win32Platform(PlatformOptions{}), known_(known) {}
        std::string knownDll(const char* n, ModuleBits bits) override { return known_.find(n, bits); }
        KnownDlls& known_;
    } platform(known);
    test::TempFolder folder;
    const std::string program = folder.write("app.exe", "MZ");
    folder.write("vost7.dll", "MZ");
    const LayerAnswer answer = askLayer(platform, kBits, program, ManifestRole::process, "vost7.dll");
    EXPECT_EQ(answer.outcome.how, FoundBy::knownDll);
    EXPECT_EQ(answer.file, lowerAscii(system + "\\vost7.dll"));
}

}  // namespace
}  // namespace vost
