// Managed programs through vostscan: what the page would say loads for the
// programs mcs builds here (tests/managed_programs) against what Debian's
// mono loads, case by case, where mono departs from .NET Framework's
// documented rules said in each case; P/Invoke modules by Windows' search;
// and .NET 5+ layouts (app host, runtimeconfig.json, deps.json, a dotnet
// root with several framework versions) against the host's documented rules.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "tests/scanner/scanner_fixture.h"
#include "tests/shell/json_value.h"

namespace vost::test {
namespace {

namespace fs = std::filesystem;
const fs::path kPrograms = VOST_MANAGED_PROGRAMS;

bool programsBuilt() { return fs::exists(kPrograms / "app.exe") && fs::exists("/usr/bin/mono"); }

std::string real(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? resolved : path;
}

// The item of `parent`'s children whose module (or assembly) name begins
// with `name`; null when none.
const JsonValue* child(const JsonValue& parent, const std::string& name) {
    const auto lower = [](std::string text) {
        for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    for (const JsonValue& item : parent["children"].items)
        if (lower(item["module"].text).rfind(lower(name), 0) == 0 || item["assemblyName"].text.rfind(name + ",", 0) == 0)
            return &item;
    return nullptr;
}

// The findings of the checked module `module` (upper case), as "kind what (reason)".
std::vector<std::string> findingsOf(const JsonValue& scan, const std::string& module) {
    std::vector<std::string> lines;
    for (const JsonValue& m : scan["check"]["modules"].items) {
        if (m["module"].text != module) continue;
        for (const JsonValue& f : m["findings"].items) {
            const std::string what = f["assembly"].kind == JsonValue::string ? f["assembly"].text : f["module"].text;
            lines.push_back(f["kind"].text + " " + what + " (" + f["reason"].text + ")");
        }
    }
    return lines;
}

JsonValue scan(const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"--check", "--json", "-j1"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const ScannerRun run = runVostscan(all);
    return parseJson(run.out);
}

// Where an assembly reference ends up: "fails" (with the check's kind for
// VOST), "cache" for a global assembly cache, else the file's path below
// the program's folder.
std::string placeOf(const std::string& path, const fs::path& folder) {
    if (path.find("/Microsoft.NET/assembly/") != std::string::npos || path.find("/lib/mono/gac/") != std::string::npos ||
        path.rfind("/usr/lib/mono/", 0) == 0)
        return "cache";
    const std::string base = real(folder.string()) + "/";
    const std::string resolved = real(path);
    return resolved.rfind(base, 0) == 0 ? resolved.substr(base.size()) : resolved;
}

// What mono loads for each of App's references: the program says whether
// each use succeeded, mono's log (MONO_LOG_MASK=asm) where it found each.
std::map<std::string, std::string> monoLoads(const fs::path& folder, const std::string& program, bool strongCached) {
    const std::string cache = strongCached ? "MONO_GAC_PREFIX='" + (kPrograms / "gac").string() + "' " : "";
    const std::string command = "cd '" + folder.string() + "' && " + cache +
                                "MONO_LOG_MASK=asm MONO_LOG_LEVEL=info mono " + program + " 2>&1";
    std::map<std::string, std::string> placed, outcome;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[8192];
    while (pipe && fgets(buffer, sizeof buffer, pipe)) {
        std::string line = buffer;
        line.pop_back();
        // "Mono: Image addref NAME[0x...] (asmctx DEFAULT) -> PATH[0x...]: N"
        const std::size_t addref = line.find("Image addref ");
        if (addref != std::string::npos) {
            const std::string name = line.substr(addref + 13, line.find('[', addref) - addref - 13);
            const std::size_t arrow = line.find("-> ");
            placed[name] = placeOf(line.substr(arrow + 3, line.rfind('[') - arrow - 3), folder);
            continue;
        }
        // App's own line per reference: "NAME FullName" or "NAME ExceptionType".
        const std::size_t space = line.find(' ');
        const std::string name = line.substr(0, space);
        if (line.rfind("Mono:", 0) == 0 || space == std::string::npos) continue;
        if (name == "Strong" || name == "Lib" || name == "Gone" || name == "System.Xml")
            outcome[name] = line.find("Exception") != std::string::npos ? "fails" : placed[name];
    }
    if (pipe) pclose(pipe);
    return outcome;
}

std::string vostPlace(const JsonValue& result, const JsonValue& root, const std::string& name, const fs::path& folder) {
    for (const std::string& finding : findingsOf(result, root["module"].text))
        if (finding.find(" " + name + ", Version=") != std::string::npos)
            return "fails:" + finding.substr(0, finding.find(' '));
    const JsonValue* item = child(root, name);
    return item ? placeOf((*item)["path"].text, folder) : "absent";
}

TEST(ManagedPrograms, FrameworkBindingAgreesWithMonoButWhereMonoDepartsFromTheRules) {
    if (!programsBuilt()) GTEST_SKIP() << "mono or the managed test programs are missing";
    struct Case {
        const char* folder;
        const char* program;
        std::map<std::string, std::string> vost, mono;  // by reference: where it loads from, or why not
        const char* departure;                          // where mono departs from the documented rules
    };
    const std::map<std::string, std::string> beside = {
        {"Strong", "Strong.dll"}, {"Lib", "Lib.dll"}, {"Gone", "fails:assembly-not-found"}, {"System.Xml", "cache"}};
    auto monoBeside = beside;
    monoBeside["Gone"] = "fails";
    const auto with = [](std::map<std::string, std::string> places, const std::string& name, const std::string& place) {
        places[name] = place;
        return places;
    };
    const Case cases[] = {
        {"private", "app.exe", beside, monoBeside, ""},
        {"privatepath", "app.exe", with(with(beside, "Strong", "lib/Strong.dll"), "Lib", "bin/Lib.dll"),
         with(with(monoBeside, "Strong", "lib/Strong.dll"), "Lib", "bin/Lib.dll"), ""},
        {"redirect", "app.exe", beside, monoBeside, ""},
        {"cache", "app.exe", with(beside, "Strong", "cache"), with(monoBeside, "Strong", "cache"), ""},
        {"v2config", "app2.exe", beside, monoBeside, ""},
        {"wrongversion", "app.exe", with(beside, "Strong", "fails:other-assembly"), monoBeside,
         "mono takes a strong-named assembly of another version from the application's folder"},
        {"cacheandfolder", "app.exe", with(beside, "Strong", "cache"), monoBeside,
         "mono prefers the application folder's copy to the cache's"},
        {"v2program", "app2.exe", with(beside, "System.Xml", "fails:assembly-not-found"), monoBeside,
         "mono runs a 2.0 program on its 4.0 runtime; the 2.0 runtime, not installed here, has no System.Xml 4.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        const fs::path folder = kPrograms / c.folder;
        // Strong is in the global assembly cache for the two cases of its cache.
        const bool cached = c.vost.at("Strong") == "cache";
        const fs::path windows = kPrograms / (cached ? "windows-strong" : "windows");
        const JsonValue result = scan({"--windows", windows.string(), (folder / c.program).string()});
        const JsonValue& root = result["tree"];
        for (const auto& [name, want] : c.vost) EXPECT_EQ(vostPlace(result, root, name, folder), want) << name;
        const std::map<std::string, std::string> mono = monoLoads(folder, c.program, cached);
        EXPECT_EQ(mono, c.mono) << c.departure;
        // The same files, where both found one in the cache (the Windows
        // folder's cache is links to mono's).
        for (const auto& [name, place] : mono) {
            const JsonValue* item = child(root, name);
            if (place == "cache" && c.vost.at(name) == "cache" && item) {
                EXPECT_NE(real((*item)["path"].text).find("/mono/"), std::string::npos) << name;
            }
        }
        // A program of a runtime the Windows folder lacks cannot start.
        const bool twoOnly = std::string(c.folder) == "v2program";
        const std::vector<std::string> findings = findingsOf(result, root["module"].text);
        EXPECT_EQ(std::count(findings.begin(), findings.end(),
                             "framework-not-found .NET Framework 2.0 (v2.0.50727) (found v4.0.30319)"),
                  twoOnly ? 1 : 0);
        // Every reference that binds is marked as managed in the JSON.
        const JsonValue& lib = *child(root, "Lib");
        EXPECT_EQ(lib["managed"].integer, 1);
        EXPECT_EQ(lib["reference"].text, "assembly");
    }
}

// P/Invoke modules, by Windows' rules (mono, on Linux, loads no Windows
// module): the calling assembly's own folder, then the loader's search.
TEST(ManagedPrograms, PInvokeModulesAreFoundAsTheRuntimeLooksForThem) {
    if (!programsBuilt()) GTEST_SKIP() << "mono or the managed test programs are missing";
    for (const char* folder : {"private", "privatepath"}) {
        SCOPED_TRACE(folder);
        const fs::path program = kPrograms / folder / "app.exe";
        const JsonValue result = scan({"--windows", (kPrograms / "windows").string(), program.string()});
        const JsonValue& lib = *child(result["tree"], "Lib");
        const std::string libFolder = fs::path(lib["path"].text).parent_path().string();
        // vostnative.dll lies beside Lib.dll (in bin/ for privatepath), where
        // the loader's own search would not look.
        const JsonValue& native = *child(lib, "vostnative");
        EXPECT_EQ(native["path"].text, libFolder + "/vostnative.dll");
        EXPECT_EQ(native["reference"].text, "pinvoke");
        EXPECT_EQ(real((*child(lib, "kernel32.dll"))["path"].text),
                  real((kPrograms / "windows/system32/kernel32.dll").string()));
        EXPECT_EQ(findingsOf(result, "LIB.DLL"), std::vector<std::string>({"not-found VOSTMISSING.DLL ()"}));
    }
}

// .NET 5+: the files of an app host's layout written per case, the
// framework versions of a dotnet root made as folders.
class CoreLayout {
public:
    explicit CoreLayout(const std::vector<std::string>& versions) {
        folder_.makeFolder("app");
        folder_.makeFolder("app/runtimes");
        folder_.makeFolder("app/runtimes/win-x86");
        folder_.makeFolder("app/runtimes/win-x86/native");
        copy(kPrograms / "vosthost.exe", "app/app.exe");
        copy(kPrograms / "app.dll", "app/app.dll");
        copy(kPrograms / "Lib.dll", "app/Lib.dll");
        copy(kPrograms / "v1/Strong.dll", "app/Strong.dll");
        copy(kPrograms / "vostnative.dll", "app/runtimes/win-x86/native/vostnative.dll");
        for (const std::string& version : versions) addFramework("Microsoft.NETCore.App", version, "");
    }
    void addFramework(const std::string& name, const std::string& version, const std::string& runtimeConfig) {
        const std::string path = "dotnet/shared/" + name + "/" + version;
        fs::create_directories(folder_ / path);
        if (name == "Microsoft.NETCore.App")
            for (const char* file : {"mscorlib.dll", "System.Xml.dll"})
                fs::create_symlink(std::string("/usr/lib/mono/4.5/") + file, folder_ / (path + "/" + file));
        if (!runtimeConfig.empty()) text(path + "/" + name + ".runtimeconfig.json", runtimeConfig);
    }
    void text(const std::string& relative, const std::string& content) const {
        std::ofstream(folder_ / relative) << content;
    }
    void copy(const fs::path& from, const std::string& to) const {
        fs::copy_file(from, folder_ / to, fs::copy_options::overwrite_existing);
    }
    void remove(const std::string& relative) const { fs::remove(folder_ / relative); }
    std::string operator/(const std::string& relative) const { return folder_ / relative; }

private:
    DiskFolder folder_;
};

std::string runtimeConfig(const std::string& framework, const std::string& version, const std::string& extra = "") {
    return R"({"runtimeOptions": {"tfm": "net8.0", )" + extra + R"("framework": {"name": ")" + framework +
           R"(", "version": ")" + version + R"("}}})";
}

const char* const kDeps = R"({
  "runtimeTarget": {"name": ".NETCoreApp,Version=v8.0"},
  "targets": {".NETCoreApp,Version=v8.0": {
    "app/1.0.0": {"dependencies": {"Lib": "1.0.0"}, "runtime": {"app.dll": {}}},
    "Lib/1.0.0": {"runtime": {"lib/net8.0/Lib.dll": {"assemblyVersion": "0.0.0.0"}}},
    "Strong/1.0.0": {"runtime": {"lib/net8.0/Strong.dll": {"assemblyVersion": "1.0.0.0"}}},
    "Native/1.0.0": {"runtimeTargets": {
      "runtimes/win-x64/native/vostnative.dll": {"rid": "win-x64", "assetType": "native"},
      "runtimes/win-x86/native/vostnative.dll": {"rid": "win-x86", "assetType": "native"}}}
  }},
  "libraries": {"app/1.0.0": {"type": "project"}}
})";

TEST(ManagedPrograms, DotnetLayoutsBindByTheHostsDocumentedRules) {
    if (!programsBuilt()) GTEST_SKIP() << "mono or the managed test programs are missing";
    struct Case {
        const char* what;
        std::function<void(CoreLayout&)> lay;
        std::map<std::string, std::string> places;  // below the layout, or "fails:KIND"
        std::vector<std::string> findings;          // of APP.DLL, as "kind what (reason)"
        bool throughWindowsFolder = false;          // the dotnet root beside --windows
    };
    const std::string notInApp = "(not among the application's assemblies nor in Microsoft.NETCore.App 8.0.11)";
    const Case cases[] = {
        {"the latest patch of the asked minor",
         [](CoreLayout& l) { l.text("app/app.runtimeconfig.json", runtimeConfig("Microsoft.NETCore.App", "8.0.0")); },
         {{"mscorlib", "dotnet/shared/Microsoft.NETCore.App/8.0.11/mscorlib.dll"}, {"Strong", "app/Strong.dll"},
          {"Lib", "app/Lib.dll"}, {"Gone", "fails:assembly-not-found"},
          {"vostnative", "app/runtimes/win-x86/native/vostnative.dll"}},
         {"assembly-not-found Gone, Version=0.0.0.0, Culture=neutral, PublicKeyToken=null " + notInApp}},
        {"no framework of the asked major",
         [](CoreLayout& l) { l.text("app/app.runtimeconfig.json", runtimeConfig("Microsoft.NETCore.App", "7.0.0")); },
         {{"mscorlib", "fails:assembly-not-found"}, {"Lib", "app/Lib.dll"}},
         {"framework-not-found Microsoft.NETCore.App 7.0.0 (found 6.0.36, 8.0.1, 8.0.11)"}},
        {"rolled to the next major",
         [](CoreLayout& l) {
             l.text("app/app.runtimeconfig.json", runtimeConfig("Microsoft.NETCore.App", "7.0.0", "\"rollForward\": \"Major\", "));
         },
         {{"mscorlib", "dotnet/shared/Microsoft.NETCore.App/8.0.11/mscorlib.dll"}}, {}},
        {"a deps.json lists what is loaded: without one, every assembly of the folder, no native asset",
         [](CoreLayout& l) {
             l.text("app/app.runtimeconfig.json", runtimeConfig("Microsoft.NETCore.App", "8.0.0"));
             l.remove("app/app.deps.json");
         },
         {{"Lib", "app/Lib.dll"}, {"vostnative", "fails:not-found"}}, {}},
        {"listed but missing",
         [](CoreLayout& l) {
             l.text("app/app.runtimeconfig.json", runtimeConfig("Microsoft.NETCore.App", "8.0.0"));
             l.remove("app/Strong.dll");
         },
         {{"Strong", "fails:assembly-not-found"}}, {}},
        {"a lower version than asked",
         [](CoreLayout& l) {
             l.text("app/app.runtimeconfig.json", runtimeConfig("Microsoft.NETCore.App", "8.0.0"));
             l.copy(kPrograms / "v0/Strong.dll", "app/Strong.dll");
         },
         {{"Strong", "fails:other-assembly"}}, {}},
        {"a framework on a framework",
         [](CoreLayout& l) {
             l.text("app/app.runtimeconfig.json", runtimeConfig("Microsoft.AspNetCore.App", "8.0.0"));
             l.addFramework("Microsoft.AspNetCore.App", "8.0.1", runtimeConfig("Microsoft.NETCore.App", "8.0.1"));
         },
         {{"mscorlib", "dotnet/shared/Microsoft.NETCore.App/8.0.11/mscorlib.dll"}}, {}},
        {"the dotnet root beside the Windows folder (32-bit process on 64-bit Windows)",
         [](CoreLayout& l) { l.text("app/app.runtimeconfig.json", runtimeConfig("Microsoft.NETCore.App", "6.0.0")); },
         {{"mscorlib", "Program Files (x86)/dotnet/shared/Microsoft.NETCore.App/6.0.36/mscorlib.dll"}}, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CoreLayout layout({"6.0.36", "8.0.1", "8.0.11"});
        layout.text("app/app.deps.json", kDeps);
        c.lay(layout);
        std::vector<std::string> arguments = {"--dotnet-root", layout / "dotnet"};
        if (c.throughWindowsFolder) {
            fs::create_directories(layout / "windows/syswow64");
            fs::create_directories(layout / "Program Files (x86)");
            fs::rename(layout / "dotnet", layout / "Program Files (x86)/dotnet");
            arguments = {"--windows", layout / "windows"};
        }
        arguments.push_back(layout / "app/app.exe");
        const JsonValue result = scan(arguments);
        const JsonValue* app = child(result["tree"], "app.dll");
        ASSERT_NE(app, nullptr);
        EXPECT_EQ((*app)["reference"].text, "appAssembly");
        const JsonValue* lib = child(*app, "Lib");
        for (const auto& [name, want] : c.places) {
            const JsonValue* item = name == "vostnative" ? (lib ? child(*lib, name) : nullptr) : child(*app, name);
            ASSERT_NE(item, nullptr) << name;
            std::string place = (*item)["path"].text;
            const std::string base = real(layout / "") + "/";
            if (place == "file not found" || place.empty()) {
                const auto findings = findingsOf(result, name == "vostnative" ? "LIB.DLL" : "APP.DLL");
                place = "fails:?";
                for (const std::string& f : findings)
                    if (f.find(name == "vostnative" ? "VOSTNATIVE" : name + ", ") != std::string::npos)
                        place = "fails:" + f.substr(0, f.find(' '));
            } else {
                const std::string resolved = fs::path(place).lexically_normal().string();
                place = resolved.rfind(base, 0) == 0 ? resolved.substr(base.size()) : resolved;
            }
            if (want == "fails:other-assembly" && place == "app/Strong.dll") {
                const auto findings = findingsOf(result, "APP.DLL");
                place = std::any_of(findings.begin(), findings.end(), [](const std::string& f) {
                            return f.rfind("other-assembly Strong, Version=1.0.0.0", 0) == 0 &&
                                   f.find("found Strong, Version=0.5.0.0") != std::string::npos;
                        })
                            ? "fails:other-assembly"
                            : place;
            }
            EXPECT_EQ(place, want) << name;
        }
        for (const std::string& finding : c.findings) {
            const auto findings = findingsOf(result, "APP.DLL");
            EXPECT_NE(std::find(findings.begin(), findings.end(), finding), findings.end()) << finding;
        }
    }
}

}  // namespace
}  // namespace vost::test
