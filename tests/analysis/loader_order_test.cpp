// The loader's order for one reference (the module's own activation context,
// the process's, the known DLLs, then the search), which contexts the scan
// hands each module, how each child records where it came from, and what the
// import check says of a context that could not be built whole.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "analysis/import_check.h"
#include "analysis/reference_search.h"
#include "tests/support/test_scan.h"

namespace vost {
namespace {

using test::asciiLowerCopy;
using test::Bytes;

// A context that sends the names it lists to fixed files.
class ListedContext : public ActivationContext {
public:
    ListedContext(std::string assembly, std::map<std::string, std::string> files)
        : assembly_(std::move(assembly)), files_(std::move(files)) {}
    bool redirect(const char* name, Redirection& out) const override {
        const auto found = files_.find(asciiLowerCopy(name));
        if (found == files_.end()) return false;
        out.path = found->second;
        out.assembly = AssemblyIdentity{assembly_, "x86", "6595b64144ccf1df", "6.0.2600.2982", "", "win32"};
        return true;
    }

private:
    std::string assembly_;
    std::map<std::string, std::string> files_;
};

// The fake platform with contexts per file and role, a default context and
// a known-DLL set; it records which contexts were asked for.
class LoaderPlatform : public test::FakePlatform {
public:
    std::map<std::string, const ActivationContext*> programContexts, dllContexts;  // by lower-cased path
    const ActivationContext* fallback = nullptr;
    std::map<std::string, std::string> known;  // lower-cased name -> path
    std::vector<std::string> asked;            // "process path" / "module path"

    const ActivationContext* activationContext(const char* path, ModuleBits, ManifestRole role) override {
        const bool process = role == ManifestRole::process;
        asked.push_back((process ? "process " : "module ") + asciiLowerCopy(path));
        const auto& table = process ? programContexts : dllContexts;
        const auto found = table.find(asciiLowerCopy(path));
        return found == table.end() ? nullptr : found->second;
    }
    const ActivationContext* defaultContext(ModuleBits) override { return fallback; }
    std::string knownDll(const char* name, ModuleBits) override {
        const auto found = known.find(asciiLowerCopy(name));
        return found == known.end() ? std::string() : found->second;
    }
};

const ListedContext kOwn("Own.Assembly", {{"comctl32.dll", "c:\\sxs\\own\\comctl32.dll"}});
const ListedContext kProcess("Microsoft.Windows.Common-Controls",
                             {{"comctl32.dll", "c:\\sxs\\cc6\\comctl32.dll"}, {"gdiplus.dll", "c:\\sxs\\gdi\\gdiplus.dll"}});

TEST(LoaderOrder, ContextsThenKnownDllsThenTheSearch) {
    LoaderPlatform platform;
    platform.addSearchFolder("c:\\app");
    for (const char* file : {"c:\\app\\comctl32.dll", "c:\\app\\gdiplus.dll", "c:\\app\\kernel32.dll",
                             "c:\\app\\other.dll", "c:\\app\\sub\\comctl32.dll"})
        platform.addFile(file, test::bytesOf("MZ"));
    platform.known = {{"kernel32.dll", "c:\\windows\\system32\\kernel32.dll"},
                      {"gdiplus.dll", "c:\\windows\\system32\\gdiplus.dll"}};

    struct Case {
        const char* name;
        bool pe;
        const ActivationContext* own;
        const ActivationContext* process;
        const char* path;
        FoundBy how;
    };
    const Case cases[] = {
        {"COMCTL32.DLL", true, &kOwn, &kProcess, "c:\\sxs\\own\\comctl32.dll", FoundBy::sideBySide},
        {"comctl32.dll", true, nullptr, &kProcess, "c:\\sxs\\cc6\\comctl32.dll", FoundBy::sideBySide},
        // A context beats the known DLLs, which beat the program's folder.
        {"gdiplus.dll", true, &kOwn, &kProcess, "c:\\sxs\\gdi\\gdiplus.dll", FoundBy::sideBySide},
        {"gdiplus.dll", true, nullptr, nullptr, "c:\\windows\\system32\\gdiplus.dll", FoundBy::knownDll},
        {"kernel32.dll", true, &kOwn, &kProcess, "c:\\windows\\system32\\kernel32.dll", FoundBy::knownDll},
        {"other.dll", true, &kOwn, &kProcess, "c:\\app\\other.dll", FoundBy::search},
        {"gone.dll", true, &kOwn, &kProcess, "", FoundBy::notFound},
        // The 16-bit loader and names with a folder of their own know neither.
        {"comctl32.dll", false, &kOwn, &kProcess, "c:\\app\\comctl32.dll", FoundBy::search},
        {"kernel32.dll", false, nullptr, nullptr, "c:\\app\\kernel32.dll", FoundBy::search},
        {"sub\\comctl32.dll", true, &kOwn, &kProcess, "c:\\app\\sub\\comctl32.dll", FoundBy::search},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SearchOutcome outcome;
        const Referrer referrer{ModuleBits::bits32, "c:\\app\\app.exe", c.pe, c.own, c.process};
        EXPECT_EQ(asciiLowerCopy(searchReference(platform, referrer, c.name, &outcome)), c.path);
        EXPECT_EQ(outcome.how, c.how);
        EXPECT_EQ(outcome.assembly.name.empty(), c.how != FoundBy::sideBySide);
    }
}

// A PE image importing `imports`, as a program or a DLL, with or without
// isolation.
// A DLL holds a manifest resource 2 (its own context's) unless told.
Bytes image(std::vector<std::string> imports, bool dll, bool noIsolation = false, bool manifest = true) {
    test::PeImageLayout layout;
    layout.imports = std::move(imports);
    if (dll && manifest) layout.manifest = "<assembly/>";  // the platform's contexts stand for what it says
    layout.importFunctions.assign(layout.imports.size(), {test::ImportThunk{"f", 0, std::nullopt}});
    test::PeImage built = test::buildPe(layout);
    test::putU16(built.bytes, built.newHeader + 22, dll ? 0x2102 : 0x0102);
    test::putU16(built.bytes, built.newHeader + 24 + 70, noIsolation ? 0x0200 : 0);
    return built.bytes;
}

TEST(LoaderOrder, TheProgramsContextReachesEveryModuleAndADllsOwnOnlyItsImports) {
    LoaderPlatform platform;
    test::RecordingTree tree;
    NodeStore nodes;
    ScanContext ctx{platform, nodes};
    platform.addSearchFolder("c:\\app");
    platform.addFile("c:\\app\\app.exe", image({"mid.dll", "bare.dll", "plain.dll"}, false));
    platform.addFile("c:\\app\\mid.dll", image({"comctl32.dll"}, true));
    platform.addFile("c:\\app\\bare.dll", image({"comctl32.dll"}, true, true));
    platform.addFile("c:\\app\\plain.dll", image({"comctl32.dll"}, true, false, false));
    platform.programContexts["c:\\app\\app.exe"] = &kProcess;
    platform.dllContexts["c:\\app\\mid.dll"] = &kOwn;
    platform.dllContexts["c:\\app\\bare.dll"] = &kOwn;   // never asked: linked without isolation
    platform.dllContexts["c:\\app\\plain.dll"] = &kOwn;  // never asked: it holds no manifest resource

    ModuleNode* root = nodes.create(platform, "c:\\app\\app.exe", "APP.EXE", nullptr, 1);
    root->treeWindow = &tree;
    root->treeItem = tree.insertSorted(nullptr, "APP.EXE", nullptr, root);
    ASSERT_TRUE(scanModule(ctx, *root));
    std::map<std::string, ModuleNode*> children;
    for (TreeItem item : tree.children(root->treeItem)) children[tree.item(item).node->moduleName] = tree.item(item).node;
    for (auto& [name, node] : children) ASSERT_TRUE(scanModule(ctx, *node)) << name;

    EXPECT_EQ(root->processContext, &kProcess);
    EXPECT_EQ(root->ownContext, nullptr);
    EXPECT_EQ(children["mid.dll"]->ownContext, &kOwn);
    EXPECT_EQ(children["bare.dll"]->ownContext, nullptr);
    EXPECT_EQ(platform.asked, (std::vector<std::string>{"process c:\\app\\app.exe", "module c:\\app\\mid.dll"}));
    // mid.dll's own context answers for its import; bare.dll's and
    // plain.dll's fall to the program's, which their parent passed down.
    const auto only = [&](ModuleNode* parent) { return tree.item(tree.children(parent->treeItem).at(0)).node; };
    EXPECT_EQ(only(children["mid.dll"])->fullPath, "c:\\sxs\\own\\comctl32.dll");
    EXPECT_EQ(only(children["mid.dll"])->assembly,
              "Own.Assembly,processorArchitecture=\"x86\",publicKeyToken=\"6595b64144ccf1df\",type=\"win32\","
              "version=\"6.0.2600.2982\"");
    EXPECT_EQ(only(children["bare.dll"])->fullPath, "c:\\sxs\\cc6\\comctl32.dll");
    EXPECT_EQ(only(children["bare.dll"])->foundBy, FoundBy::sideBySide);
    EXPECT_EQ(only(children["plain.dll"])->fullPath, "c:\\sxs\\cc6\\comctl32.dll");
    EXPECT_EQ(children["mid.dll"]->foundBy, FoundBy::search);

    // A DLL scanned as the root has no program: the default context stands.
    platform.fallback = &kOwn;
    ModuleNode* dllRoot = nodes.create(platform, "c:\\app\\mid.dll", "MID.DLL", nullptr, 1);
    dllRoot->treeWindow = &tree;
    dllRoot->treeItem = tree.insertSorted(nullptr, "MID.DLL", nullptr, dllRoot);
    scanModule(ctx, *dllRoot);
    EXPECT_EQ(dllRoot->processContext, &kOwn);
}

// What kept a context from being built whole is a finding of the module whose
// manifest it is: the program for the process's context, a DLL for its own.
TEST(LoaderOrder, TheCheckNamesWhatAContextLacks) {
    LoaderPlatform platform;
    platform.addSearchFolder("c:\\app");
    platform.addFile("c:\\app\\app.exe", image({"mid.dll"}, false));
    platform.addFile("c:\\app\\mid.dll", [] {
        test::PeImageLayout layout;
        layout.exports.emplace();
        layout.exports->entries.push_back(test::ExportEntry{{"f"}, 0x40010, ""});
        layout.manifest = "<assembly/>";  // what the platform makes of it is the context below
        return test::buildPe(layout).bytes;
    }());
    ListedContext process("Microsoft.Windows.Common-Controls", {});
    process.problems.push_back(ContextProblem{ContextProblem::Kind::missingAssembly,
                                              AssemblyIdentity{"Microsoft.VC90.CRT", "x86", "1fc8b3b9a1e18e3b", "9.0.21022.8", "", "win32"},
                                              "not in the store or the program's folder"});
    ListedContext own("Own.Assembly", {});
    own.problems.push_back(ContextProblem{ContextProblem::Kind::badManifest, {}, "not well-formed (line 3)"});
    platform.programContexts["c:\\app\\app.exe"] = &process;
    platform.dllContexts["c:\\app\\mid.dll"] = &own;

    ExportCache exports(platform);
    CheckSettings settings;
    settings.processContext = &process;
    const ModuleCheck app = checkModuleImports(platform, exports, "c:\\app\\app.exe", settings);
    ASSERT_EQ(app.findings.size(), 1u);
    EXPECT_EQ(app.findings[0].kind, FindingKind::missingAssembly);
    EXPECT_EQ(app.findings[0].module, process.problems[0].assembly.text());
    const ModuleCheck mid = checkModuleImports(platform, exports, "c:\\app\\mid.dll", settings);
    ASSERT_EQ(mid.findings.size(), 1u);
    EXPECT_EQ(mid.findings[0].kind, FindingKind::badManifest);
    EXPECT_EQ(mid.findings[0].reason, "not well-formed (line 3)");
}

}  // namespace
}  // namespace vost
