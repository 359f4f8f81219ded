// Modules the loader takes from side-by-side assemblies, on the page: for
// the programs with manifests built here (tests/sxs_programs) and Wine's
// programs that carry one, each module under the program, and under a DLL
// with a manifest of its own, is shown from the file the loader loads
// (sxs_probe.exe of tests/windows asks it), as vostscan.exe shows it, and
// vostscan's JSON says which came from an assembly.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "analysis/text.h"
#include "tests/shell/scanner_compare.h"
#include "tests/shell/shell_host.h"
#include "tests/shell/page_host_fixture.h"
#include "tests/windows/sxs_probe_client.h"
#include "tests/windows/temp_folder.h"

namespace vost::test {
namespace {

std::string fullPath(const std::string& path) {
    char full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length && length < MAX_PATH ? std::string(full) : path;
}

std::string windowsTests() { return fullPath(programFolder() + "..\\windows"); }

// The 32-bit build's tests/windows beside the 64-bit one (VOST_PEER_TESTS):
// its probe answers for 32-bit programs, which the 64-bit page shows too.
std::string peerTests() {
#ifdef VOST_PEER_TESTS
    std::string peer = "Z:" VOST_PEER_TESTS;
    for (char& c : peer)
        if (c == '/') c = '\\';
    return peer;
#else
    return std::string();
#endif
}

// A 32-bit probe on 64-bit Windows names SysWOW64 System32; the page names
// the true folder.
std::string trueSystemPath(std::string path) {
    char wow64[MAX_PATH] = {};
    const std::string system = lowerAscii(systemFolder());
    if (GetSystemWow64DirectoryA(wow64, MAX_PATH) && path.rfind(system + "\\", 0) == 0)
        path = lowerAscii(wow64) + path.substr(system.size());
    return path;
}

// The files the loader loads for `names` (lower-cased; "" when not loaded):
// under the context of `module`'s manifest `resource`, or, with resource 0,
// as the imports of the DLL `module` loaded without a context of ours.
std::map<std::string, std::string> loaderFiles(const std::string& probe, const std::string& module, int resource,
                                               const std::vector<std::string>& names) {
    std::map<std::string, std::string> files;
    const std::string folder = module.substr(0, module.find_last_of('\\'));
    const std::string arguments = "\"" + module + "\" " + std::to_string(resource);
    for (const auto& [name, path] : runSxsProbe(probe, folder, arguments, names))
        files[lowerAscii(name)] = probe == peerTests() ? trueSystemPath(lowerAscii(path)) : lowerAscii(path);
    return files;
}

// `item`'s children, or its whole subtree with `deep`.
void collect(const JsonValue& item, bool deep, std::vector<const JsonValue*>& out) {
    for (const JsonValue& child : item["children"].items) {
        out.push_back(&child);
        if (deep) collect(child, deep, out);
    }
}

// The JSON item of the module `name` among `parent`'s children; null when none.
const JsonValue* childNamed(const JsonValue& parent, const std::string& name) {
    for (const JsonValue& child : parent["children"].items)
        if (compareIgnoringCase(child["module"].text.c_str(), name.c_str()) == 0) return &child;
    return nullptr;
}

class SideBySidePage : public PageHostTest {};

TEST_F(SideBySidePage, EveryModuleIsTheFileTheLoaderLoads) {
    struct Case {
        std::string file;        // the scanned program
        std::string under;       // the DLL whose imports are compared; "" for every module under the program
        int resource;            // the probe's: 1 the program's context, 0 the DLL loaded as the loader loads it
        int fromAssemblies;      // how many of those an assembly sends elsewhere (at least, for Wine's)
        bool wineTakesManifest;  // the loader differs on purpose (below)
        std::string probe;       // the folder of the probe of the program's bitness
    };
    const std::string built = windowsTests() + "\\sxs_programs\\";
    std::vector<Case> cases = {
        {built + "cc6\\app.exe", "", 1, 1, false, windowsTests()},
        {built + "vc90\\app.exe", "", 1, 1, false, windowsTests()},
        {built + "gdiplus\\app.exe", "", 1, 1, false, windowsTests()},
        {built + "external\\app.exe", "", 1, 1, false, windowsTests()},
        {built + "private\\app.exe", "", 1, 1, false, windowsTests()},
        {built + "missing\\app.exe", "", 1, 0, false, windowsTests()},
        {built + "hostile\\app.exe", "", 1, 0, false, windowsTests()},
        {built + "owndll\\host.exe", "owndll.dll", 0, 1, false, windowsTests()},
        // A DLL linked with NO_ISOLATION gets no manifest lookup on Windows;
        // Wine's loader still reads its manifest.
        {built + "noiso\\host.exe", "noiso.dll", 0, 0, true, windowsTests()},
    };
    for (const char* program : {"notepad.exe", "winecfg.exe", "taskmgr.exe", "winefile.exe"})
        cases.push_back({systemFolder() + "\\" + program, "", 1, 1, false, windowsTests()});
    // The 64-bit page on 32-bit programs: the store's x86 assemblies.
    char wow64[MAX_PATH] = {};
    if (!peerTests().empty() && GetSystemWow64DirectoryA(wow64, MAX_PATH)) {
        cases.push_back({peerTests() + "\\sxs_programs\\cc6\\app.exe", "", 1, 1, false, peerTests()});
        cases.push_back({peerTests() + "\\sxs_programs\\owndll\\host.exe", "owndll.dll", 0, 1, false, peerTests()});
        cases.push_back({std::string(wow64) + "\\notepad.exe", "", 1, 1, false, peerTests()});
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        OpenedPage opened = openPage(c.file);
        ASSERT_NE(opened.page, nullptr);
        expectPageMatchesScanner(opened, c.file);  // every label and row, the page's against vostscan's

        const JsonValue scanned = scannerOutput(c.file);
        const JsonValue* parent = &scanned["tree"];
        std::string module = c.file;
        if (!c.under.empty()) {
            parent = childNamed(*parent, c.under);
            ASSERT_NE(parent, nullptr) << c.under;
            module = c.file.substr(0, c.file.find_last_of('\\') + 1) + c.under;
        }
        // Under the program's context every module of the closure loads its
        // imports; a DLL's own context serves its own imports only.
        std::vector<const JsonValue*> items;
        collect(*parent, c.under.empty(), items);
        std::vector<std::string> names;
        for (const JsonValue* child : items) names.push_back((*child)["module"].text);
        std::map<std::string, std::string> loaded = loaderFiles(c.probe, module, c.resource, names);
        int fromAssemblies = 0;
        for (const JsonValue* item : items) {
            const JsonValue& child = *item;
            const std::string name = lowerAscii(child["module"].text);
            const std::string& file = loaded[name];
            if (child["foundBy"].text == "sideBySide") {
                ++fromAssemblies;
                EXPECT_NE(child["assembly"].text, "") << name;
            }
            // The loader's own modules without a file, and names it cannot
            // load here, have nothing to compare.
            if (file.empty() || GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
            if (c.wineTakesManifest && file.find("\\winsxs\\") != std::string::npos) {
                EXPECT_EQ(child["foundBy"].text, "search") << name;
                continue;
            }
            EXPECT_EQ(child["path"].text, file) << name;
        }
        if (c.file.find("\\sxs_programs\\") != std::string::npos) {
            EXPECT_EQ(fromAssemblies, c.fromAssemblies);
        } else {
            EXPECT_GE(fromAssemblies, c.fromAssemblies);
        }
    }
}

}  // namespace
}  // namespace vost::test
