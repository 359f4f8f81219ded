// Activation contexts against a Windows folder the test writes: its store of
// assembly folders and manifests, real programs of Wine's with their
// manifests, external and private manifests beside them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "analysis/assembly_store.h"
#include "analysis/reference_search.h"
#include "platform/posix/posix_platform.h"

namespace vost {
namespace {

namespace fs = std::filesystem;

const char* const kWine64 = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";

// Store selection: architecture, name (also shortened), token and language
// must match; the highest build.revision at or above the asked one within
// the asked major.minor wins.
TEST(AssemblyStore, SelectsAsTheLoaderDoes) {
    AssemblyStore store;
    for (const char* folder : {"amd64_microsoft.windows.common-controls_6595b64144ccf1df_6.0.2600.2982_none_deadbeef",
                               "amd64_microsoft.windows.common-controls_6595b64144ccf1df_6.0.19041.1110_none_60b5254171f9507e",
                               "amd64_microsoft.windows.common-controls_6595b64144ccf1df_6.1.0.0_none_1",
                               "amd64_microsoft.windows.common-controls_6595b64144ccf1df_5.82.19041.1110_none_2",
                               "x86_microsoft.windows.common-controls_6595b64144ccf1df_6.0.2600.2982_none_deadbeef",
                               "amd64_microsoft.windows.common-controls_6595b64144ccf1df_6.0.2600.9999_de-de_3",
                               "amd64_microsoft-windows-a..ence-infrastructure_31bf3856ad364e35_10.0.19041.1_none_4",
                               "manifests", "x86_noversion_ab_none_5", "garbage"})
        store.add(folder);
    EXPECT_EQ(7u, store.size());

    struct Case {
        const char* arch;
        const char* name;
        const char* token;
        const char* language;
        const char* version;
        const char* expected;  // the version chosen, or "" for none
    } cases[] = {
        {"amd64", "microsoft.windows.common-controls", "6595b64144ccf1df", "none", "6.0.0.0", "6.0.19041.1110"},
        {"amd64", "microsoft.windows.common-controls", "6595b64144ccf1df", "none", "6.0.19041.1111", ""},
        {"amd64", "microsoft.windows.common-controls", "6595b64144ccf1df", "none", "6.1", "6.1.0.0"},
        {"amd64", "microsoft.windows.common-controls", "6595b64144ccf1df", "none", "5.82.0.0", "5.82.19041.1110"},
        {"amd64", "microsoft.windows.common-controls", "6595b64144ccf1df", "de-de", "6.0.0.0", "6.0.2600.9999"},
        {"x86", "microsoft.windows.common-controls", "6595b64144ccf1df", "none", "6.0.0.0", "6.0.2600.2982"},
        {"arm64", "microsoft.windows.common-controls", "6595b64144ccf1df", "none", "6.0.0.0", ""},
        {"amd64", "microsoft.windows.common-controls", "0000000000000000", "none", "6.0.0.0", ""},
        {"amd64", "microsoft-windows-application-experience-infrastructure", "31bf3856ad364e35", "none", "10.0.0.0",
         "10.0.19041.1"},
        {"amd64", "microsoft-windows-ance-infrastructure", "31bf3856ad364e35", "none", "10.0.0.0", ""},
        {"amd64", "microsoft-windows-bence-infrastructure", "31bf3856ad364e35", "none", "10.0.0.0", ""},
    };
    for (const Case& c : cases) {
        AssemblyVersion version;
        ASSERT_TRUE(parseAssemblyVersion(c.version, version)) << c.version;
        StoreAssembly found;
        const bool selected = store.select(c.arch, c.name, c.token, c.language, version, found);
        EXPECT_EQ(c.expected, selected ? found.version.text() : std::string()) << c.arch << " " << c.name << " "
                                                                            << c.language << " " << c.version;
    }
    AssemblyVersion version;
    for (const char* bad : {"", "1..2", "1.2.3.4.5", "65536", "1.x", "-1", "1.2."})
        EXPECT_FALSE(parseAssemblyVersion(bad, version)) << bad;
    EXPECT_EQ("x86", storeArchitecture("*", false));
    EXPECT_EQ("amd64", storeArchitecture("", true));
    EXPECT_EQ("x86", storeArchitecture("X86", true));
    EXPECT_EQ("none", storeLanguage("*"));
    EXPECT_EQ("none", storeLanguage("neutral"));
    EXPECT_EQ("en-us", storeLanguage("en-US"));
}

class SideBySideTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::is_directory(kWine64)) GTEST_SKIP() << "Wine is not installed";
        char pattern[] = "/tmp/vost-sxs-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        root_ = pattern;
    }
    void TearDown() override {
        if (!root_.empty()) fs::remove_all(root_);
    }

    std::string write(const std::string& relative, const std::string& content = "MZ") const {
        const std::string full = root_ + "/" + relative;
        fs::create_directories(fs::path(full).parent_path());
        std::ofstream(full, std::ios::binary) << content;
        return full;
    }
    std::string copyWine(const char* name, const std::string& relative) const {
        const std::string full = root_ + "/" + relative;
        fs::create_directories(fs::path(full).parent_path());
        fs::copy_file(std::string(kWine64) + "/" + name, full);
        return full;
    }
    // An assembly folder of the store with one file, and its manifest when given.
    void assembly(const std::string& folder, const std::string& file, const std::string& manifest = "") const {
        write("win/WinSxS/" + folder + "/" + file);
        if (!manifest.empty()) write("win/WinSxS/Manifests/" + folder + ".manifest", manifest);
    }
    static std::string listing(const char* name, const char* version, const char* file) {
        return std::string("<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"
                           "<assemblyIdentity name=\"") + name +
               "\" version=\"" + version + "\" type=\"win32\"/><file name=\"" + file + "\"/></assembly>";
    }
    static std::string dependsOn(const std::string& identities) {
        return "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">" + identities +
               "</assembly>";
    }
    static std::string dependency(const char* name, const char* version, const char* token, bool optional = false) {
        return std::string("<dependency") + (optional ? " optional=\"yes\"" : "") +
               "><dependentAssembly><assemblyIdentity type=\"win32\" name=\"" + name + "\" version=\"" + version +
               "\" processorArchitecture=\"*\"" + (*token ? std::string(" publicKeyToken=\"") + token + "\"" : "") +
               "/></dependentAssembly></dependency>";
    }

    // Where `context` sends `name` ("" when it does not).
    static std::string target(const ActivationContext* context, const char* name) {
        Redirection redirection;
        return context && context->redirect(name, redirection) ? redirection.path : "";
    }

    std::string root_;
};

TEST_F(SideBySideTest, ContextsSendListedNamesToTheirAssemblies) {
    const std::string cc = "microsoft.windows.common-controls_6595b64144ccf1df_";
    assembly("amd64_" + cc + "6.0.2600.2982_none_deadbeef", "comctl32.dll",
             listing("Microsoft.Windows.Common-Controls", "6.0.2600.2982", "comctl32.dll"));
    assembly("amd64_" + cc + "6.0.2600.3000_none_a1", "comctl32.dll",
             listing("Microsoft.Windows.Common-Controls", "6.0.2600.3000", "comctl32.dll"));
    assembly("amd64_" + cc + "6.1.0.0_none_b2", "comctl32.dll");
    assembly("x86_" + cc + "6.0.2600.2982_none_deadbeef", "comctl32.dll",
             listing("Microsoft.Windows.Common-Controls", "6.0.2600.2982", "comctl32.dll"));
    assembly("amd64_" + cc + "5.82.19041.1110_none_c3", "comctl32.dll");
    // A publisher policy sends 1.0 requests to 2.0.
    assembly("amd64_vost.test_0123456789abcdef_1.0.0.0_none_d4", "old.dll", listing("Vost.Test", "1.0.0.0", "old.dll"));
    assembly("amd64_vost.test_0123456789abcdef_2.0.0.0_none_e5", "new.dll", listing("Vost.Test", "2.0.0.0", "new.dll"));
    write("win/WinSxS/amd64_policy.1.0.vost.test_0123456789abcdef_2.0.0.0_none_f6/x.policy");
    write("win/WinSxS/Manifests/amd64_policy.1.0.vost.test_0123456789abcdef_2.0.0.0_none_f6.manifest",
          "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\"><assemblyIdentity type=\"win32-policy\" "
          "name=\"policy.1.0.Vost.Test\" version=\"2.0.0.0\"/><dependency><dependentAssembly><assemblyIdentity "
          "name=\"Vost.Test\" publicKeyToken=\"0123456789abcdef\"/><bindingRedirect "
          "oldVersion=\"1.0.0.0-1.0.65535.65535\" newVersion=\"2.0.0.0\"/></dependentAssembly></dependency>"
          "</assembly>");
    // A shortened folder whose manifest is delta-compressed: its files stand.
    assembly("amd64_microsoft-windows-a..ence-infrastructure_31bf3856ad364e35_10.0.19041.1_none_a7", "appinfra.dll",
             std::string("DCM\x01PA30\x00\x01", 10));
    write("win/System32/comctl32.dll");

    // Wine's notepad asks for Common Controls 6.0 for any architecture.
    const std::string notepad = copyWine("notepad.exe", "app/notepad.exe");
    const std::string other = copyWine("cmd.exe", "app/other.exe");
    write("app/other.exe.manifest",
          dependsOn(dependency("Vost.Test", "1.0.0.0", "0123456789abcdef") +
                    dependency("Microsoft-Windows-Application-Experience-Infrastructure", "10.0.0.0",
                               "31bf3856ad364e35") +
                    dependency("Private.Lib", "1.2.3.4", "") + dependency("Missing.Assembly", "1.0.0.0", "ab") +
                    dependency("Missing.Optional", "1.0.0.0", "ab", true) +
                    dependency("../Outside", "1.0.0.0", "") +
                    "<dependency><dependentAssembly><assemblyIdentity type=\"win32\" name=\"Lang.Lib\" "
                    "version=\"1.0.0.0\" language=\"de-DE\"/></dependentAssembly></dependency>"));
    // With a language, the culture's folder is probed first.
    write("app/Lang.Lib.manifest", listing("Lang.Lib", "1.0.0.0", "neutral.dll"));
    write("app/neutral.dll");
    write("app/de-DE/Lang.Lib/Lang.Lib.manifest", listing("Lang.Lib", "1.0.0.0", "german.dll"));
    const std::string german = write("app/de-DE/Lang.Lib/german.dll");
    // Names never reach outside the program's folder.
    write("Outside.manifest", listing("../Outside", "1.0.0.0", "out.dll"));
    write("out.dll");
    write("app/Private.Lib/Private.Lib.manifest", listing("Private.Lib", "1.2.3.4", "Priv.dll"));
    const std::string priv = write("app/Private.Lib/priv.dll");
    const std::string bad = copyWine("cmd.exe", "app/bad.exe");
    write("app/bad.exe.manifest", "<assembly><file name=\"comctl32.dll\"/>");
    const std::string plain = copyWine("cmd.exe", "app/plain.exe");

    PlatformOptions options;
    options.windowsFolder = root_ + "/win";
    auto platform = createPlatform(options);
    const std::string sxs = root_ + "/win/WinSxS/";

    const ActivationContext* notepad64 = platform->activationContext(notepad.c_str(), ModuleBits::bits64, ManifestRole::process);
    ASSERT_NE(nullptr, notepad64);
    EXPECT_TRUE(notepad64->problems.empty());
    EXPECT_EQ(sxs + "amd64_" + cc + "6.0.2600.3000_none_a1/comctl32.dll", target(notepad64, "COMCTL32.DLL"));
    Redirection redirection;
    ASSERT_TRUE(notepad64->redirect("comctl32.dll", redirection));
    EXPECT_EQ("6.0.2600.3000", redirection.assembly.version);
    EXPECT_EQ("amd64", redirection.assembly.processorArchitecture);
    EXPECT_EQ("", target(notepad64, "kernel32.dll"));
    EXPECT_EQ(notepad64, platform->activationContext(notepad.c_str(), ModuleBits::bits64, ManifestRole::process));
    EXPECT_EQ(sxs + "x86_" + cc + "6.0.2600.2982_none_deadbeef/comctl32.dll",
              target(platform->activationContext(notepad.c_str(), ModuleBits::bits32, ManifestRole::process),
                     "comctl32.dll"));
    // A program's manifest is no DLL's own.
    EXPECT_EQ(nullptr, platform->activationContext(notepad.c_str(), ModuleBits::bits64, ManifestRole::module));

    const ActivationContext* external = platform->activationContext(other.c_str(), ModuleBits::bits64, ManifestRole::process);
    ASSERT_NE(nullptr, external);
    EXPECT_EQ(sxs + "amd64_vost.test_0123456789abcdef_2.0.0.0_none_e5/new.dll", target(external, "new.dll"));
    EXPECT_EQ("", target(external, "old.dll"));
    EXPECT_EQ(sxs + "amd64_microsoft-windows-a..ence-infrastructure_31bf3856ad364e35_10.0.19041.1_none_a7/appinfra.dll",
              target(external, "appinfra.dll"));
    EXPECT_EQ(priv, target(external, "priv.dll"));
    EXPECT_EQ(german, target(external, "german.dll"));
    EXPECT_EQ("", target(external, "neutral.dll"));
    EXPECT_EQ("", target(external, "out.dll"));
    ASSERT_EQ(2u, external->problems.size());
    EXPECT_EQ(ContextProblem::Kind::missingAssembly, external->problems[0].kind);
    EXPECT_EQ("Missing.Assembly", external->problems[0].assembly.name);
    EXPECT_EQ("../Outside", external->problems[1].assembly.name);

    const ActivationContext* broken = platform->activationContext(bad.c_str(), ModuleBits::bits64, ManifestRole::process);
    ASSERT_NE(nullptr, broken);
    EXPECT_EQ("", target(broken, "comctl32.dll"));
    ASSERT_EQ(1u, broken->problems.size());
    EXPECT_EQ(ContextProblem::Kind::badManifest, broken->problems[0].kind);

    EXPECT_EQ(nullptr, platform->activationContext(plain.c_str(), ModuleBits::bits64, ManifestRole::process));
    // Without a manifest, 64-bit processes get the store's 5.82; the store
    // has none for x86.
    EXPECT_EQ(sxs + "amd64_" + cc + "5.82.19041.1110_none_c3/comctl32.dll",
              target(platform->defaultContext(ModuleBits::bits64), "comctl32.dll"));
    EXPECT_EQ(nullptr, platform->defaultContext(ModuleBits::bits32));

    // Without a Windows folder there are no contexts at all.
    auto without = createPlatform(PlatformOptions{});
    EXPECT_EQ(nullptr, without->activationContext(notepad.c_str(), ModuleBits::bits64, ManifestRole::process));
    EXPECT_EQ(nullptr, without->defaultContext(ModuleBits::bits64));
}

// A private assembly is taken only when its manifest is the one asked for:
// same name and version (and token where the reference gives one); another
// processorArchitecture does not matter. Otherwise it is missing.
TEST_F(SideBySideTest, PrivateAssembliesMatchTheWholeIdentity) {
    write("app/Vost.Private.manifest",
          "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"><assemblyIdentity "
          "type=\"win32\" name=\"Vost.Private\" version=\"1.0.0.0\" processorArchitecture=\"x86\"/>"
          "<file name=\"vostpriv.dll\"/></assembly>");
    const std::string dll = write("app/vostpriv.dll");
    const std::string program = copyWine("cmd.exe", "app/app.exe");
    PlatformOptions options;
    options.windowsFolder = root_ + "/win";
    fs::create_directories(options.windowsFolder);
    const struct {
        const char* version;
        const char* token;
        bool taken;
    } cases[] = {{"1.0.0.0", "", true}, {"2.0.0.0", "", false}, {"1.0.0.1", "", false}, {"1.0.0.0", "ab", false}};
    for (const auto& c : cases) {
        write("app/app.exe.manifest", dependsOn(dependency("Vost.Private", c.version, c.token)));
        auto platform = createPlatform(options);
        const ActivationContext* context =
            platform->activationContext(program.c_str(), ModuleBits::bits64, ManifestRole::process);
        ASSERT_NE(nullptr, context);
        EXPECT_EQ(c.taken ? dll : "", target(context, "vostpriv.dll")) << c.version << " " << c.token;
        EXPECT_EQ(c.taken ? 0u : 1u, context->problems.size()) << c.version << " " << c.token;
    }
}

// The system's default context answers behind the program's: a program
// whose manifest names no Common Controls (the UAC-only one linkers write)
// gets the store's 5.82, as one without a manifest does.
TEST_F(SideBySideTest, TheDefaultContextAnswersBehindTheProgramsContext) {
    const std::string cc = "amd64_microsoft.windows.common-controls_6595b64144ccf1df_";
    assembly(cc + "5.82.19041.1110_none_c3", "comctl32.dll");
    write("win/System32/comctl32.dll");
    const std::string program = copyWine("cmd.exe", "app/app.exe");
    write("app/app.exe.manifest",
          dependsOn("<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security><requestedPrivileges>"
                    "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/></requestedPrivileges>"
                    "</security></trustInfo>"));
    PlatformOptions options;
    options.windowsFolder = root_ + "/win";
    auto platform = createPlatform(options);
    Referrer referrer;
    referrer.bits = ModuleBits::bits64;
    referrer.path = program.c_str();
    referrer.process = platform->activationContext(program.c_str(), ModuleBits::bits64, ManifestRole::process);
    ASSERT_NE(nullptr, referrer.process);
    SearchOutcome outcome;
    const std::string path = searchReference(*platform, referrer, "comctl32.dll", &outcome);
    EXPECT_EQ(root_ + "/win/WinSxS/" + cc + "5.82.19041.1110_none_c3/comctl32.dll", path);
    EXPECT_EQ(FoundBy::sideBySide, outcome.how);
}

// The system folders of a Windows folder: SysWOW64 for 32-bit modules
// (System32 where there is none), System32 for 64-bit ones, then `system`
// and the folder itself.
TEST_F(SideBySideTest, SystemFoldersComeFromTheWindowsFolder) {
    const std::string wow = write("win/SysWOW64/only32.dll");
    const std::string sys = write("win/system32/only64.dll");
    const std::string legacy = write("win/SYSTEM/old.dll");
    const std::string top = write("win/top.dll");
    const std::string noWow = write("nowow/System32/only64.dll");
    PlatformOptions options;
    options.windowsFolder = root_ + "/win";
    auto platform = createPlatform(options);
    options.windowsFolder = root_ + "/nowow";
    auto without = createPlatform(options);
    const auto search = [](PagePlatform& p, const char* name, ModuleBits bits) {
        return p.searchModule(name, bits);
    };
    EXPECT_EQ(wow, search(*platform, "only32.dll", ModuleBits::bits32));
    EXPECT_EQ("", search(*platform, "only64.dll", ModuleBits::bits32));
    EXPECT_EQ(sys, search(*platform, "ONLY64", ModuleBits::bits64));
    EXPECT_EQ(legacy, search(*platform, "old.dll", ModuleBits::bits32));
    EXPECT_EQ(top, search(*platform, "top.dll", ModuleBits::bits64));
    EXPECT_EQ(noWow, search(*without, "only64.dll", ModuleBits::bits32));
}

}  // namespace
}  // namespace vost
