// Manifests as the loader reads them: Wine's programs' own, and hostile or
// odd texts, each of which must give a clear outcome under the reader's limits.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "analysis/manifest_reader.h"
#include "analysis/manifest_resource.h"

namespace vost {
namespace {

namespace fs = std::filesystem;

const char* const kCommonControls =
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"
    "<assemblyIdentity name=\"Test.App\" version=\"1.0.0.0\" type=\"win32\"/>"
    "<dependency><dependentAssembly><assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
    "version=\"6.0.0.0\" processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>"
    "</dependentAssembly></dependency></assembly>";

std::string repeat(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) all += text;
    return all;
}

std::string utf16le(const std::string& ascii) {
    std::string wide = "\xFF\xFE";
    for (char c : ascii) wide += std::string(1, c) + '\0';
    return wide;
}

struct ReaderCase {
    const char* what;
    std::string text;
    bool ok;
    std::size_t dependencies;
    std::size_t files;
};

TEST(ManifestReader, ReadsWhatTheLoaderNeedsAndRefusesTheRestWhole) {
    const std::string deep = "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\">" + repeat("<a>", 200) +
                             repeat("</a>", 200) + "</assembly>";
    const std::string laughs =
        "<?xml version=\"1.0\"?><!DOCTYPE assembly [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]>"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\"><file name=\"&b;\"/></assembly>";
    const std::string external =
        "<!DOCTYPE assembly [<!ENTITY x SYSTEM \"/etc/passwd\">]><assembly><file name=\"&x;\"/></assembly>";
    const std::string policy =
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\"><assemblyIdentity type=\"win32-policy\" "
        "name=\"policy.9.0.Microsoft.VC90.CRT\" version=\"9.0.30729.6161\"/><dependency><dependentAssembly>"
        "<assemblyIdentity type=\"win32\" name=\"Microsoft.VC90.CRT\" publicKeyToken=\"1fc8b3b9a1e18e3b\"/>"
        "<bindingRedirect oldVersion=\"9.0.20718.0-9.0.21022.8\" newVersion=\"9.0.30729.6161\"/>"
        "</dependentAssembly></dependency></assembly>";
    const ReaderCase cases[] = {
        {"common controls", kCommonControls, true, 1, 0},
        {"prefixed asm.v1 and asm.v3 beside it",
         "<asmv1:assembly xmlns:asmv1=\"urn:schemas-microsoft-com:asm.v1\" "
         "xmlns:asmv3=\"urn:schemas-microsoft-com:asm.v3\"><asmv1:file name=\"a.dll\"/>"
         "<asmv3:application/><asmv1:file name=\"b.dll\"/></asmv1:assembly>",
         true, 0, 2},
        {"elements of another namespace are not the loader's",
         "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" xmlns:o=\"urn:other\"><o:file name=\"x.dll\"/>"
         "</assembly>",
         true, 0, 0},
        {"a nested file is no file of the assembly",
         "<assembly><dependency><file name=\"x.dll\"/></dependency></assembly>", true, 0, 0},
        {"optional dependency",
         "<assembly><dependency optional=\"yes\"><dependentAssembly><assemblyIdentity name=\"A\"/>"
         "</dependentAssembly></dependency></assembly>",
         true, 1, 0},
        {"publisher policy", policy, true, 1, 0},
        {"UTF-16 with a byte order mark and padding", utf16le(kCommonControls) + std::string(4, '\0'), true, 1, 0},
        {"Latin-1 declared", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><assembly><file name=\"\xE9.dll\"/>"
         "</assembly>", true, 0, 1},
        {"resource padding", std::string(kCommonControls) + "\r\n" + std::string(3, '\0'), true, 1, 0},
        {"truncated", std::string(kCommonControls).substr(0, 150), false, 0, 0},
        {"not XML", "MZ\x90\x00", false, 0, 0},
        {"empty", std::string(8, '\0'), false, 0, 0},
        {"root is no assembly", "<application/>", false, 0, 0},
        {"unknown encoding", "<?xml version=\"1.0\" encoding=\"x-vost-none\"?><assembly/>", false, 0, 0},
        {"UTF-8 declared, invalid bytes", "<assembly><file name=\"\xC3\x28\"/></assembly>", false, 0, 0},
        {"nested past the depth limit", deep, false, 0, 0},
        {"attribute past the limit", "<assembly><file name=\"" + std::string(kManifestMaxAttribute + 1, 'a') +
                                         ".dll\"/></assembly>", false, 0, 0},
        {"entity expansion", laughs, false, 0, 0},
        {"external entity", external, false, 0, 0},
        {"larger than the limit", "<assembly>" + std::string(kManifestMaxBytes, ' ') + "</assembly>", false, 0, 0},
    };
    for (const ReaderCase& c : cases) {
        Manifest manifest;
        std::string error;
        EXPECT_EQ(c.ok, readManifest(c.text.data(), c.text.size(), manifest, error)) << c.what << ": " << error;
        EXPECT_EQ(c.ok, error.empty()) << c.what;
        EXPECT_EQ(c.dependencies, manifest.dependencies.size()) << c.what;
        EXPECT_EQ(c.files, manifest.files.size()) << c.what;
    }
}

// The root and the text as the loader checks them for a program's, a DLL's
// or a private assembly's manifest: refused, as Wine's loader refuses them,
// without the asm.v1 namespace or manifestVersion="1.0"; accepted, as it
// accepts them, with an asmv1: prefix, as UTF-16 with a byte order mark that
// declares UTF-8, after white space, and with optional="Yes".
TEST(ManifestReader, AcceptsAndRefusesTheRootsAndTextsTheLoaderDoes) {
    const std::string body = "<dependency optional=\"Yes\"><dependentAssembly><assemblyIdentity name=\"A\"/>"
                             "</dependentAssembly></dependency></assembly>";
    const std::string v1 = "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">" + body;
    const std::string declared = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n" + v1;
    const struct {
        const char* what;
        std::string text;
        bool ok;
    } cases[] = {
        {"asm.v1 with manifestVersion 1.0", v1, true},
        {"an asmv1: prefix",
         "<asmv1:assembly xmlns:asmv1=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"
         "<asmv1:dependency/></asmv1:assembly>",
         true},
        {"UTF-16 with a byte order mark, declared UTF-8", utf16le(declared), true},
        {"white space before the declaration", " \r\n\t" + declared, true},
        {"no namespace", "<assembly manifestVersion=\"1.0\">" + body, false},
        {"the asm.v3 namespace", "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v3\" manifestVersion=\"1.0\">" + body,
         false},
        {"no manifestVersion", "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\">" + body, false},
        {"manifestVersion 2.0", "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"2.0\">" + body,
         false},
    };
    for (const auto& c : cases) {
        Manifest manifest;
        std::string error;
        EXPECT_EQ(c.ok, readManifest(c.text.data(), c.text.size(), manifest, error, true)) << c.what << ": " << error;
        if (c.ok && !manifest.dependencies.empty()) { EXPECT_TRUE(manifest.dependencies[0].optional) << c.what; }
    }
    // The store's own manifests (Windows writes them in asm.v3) are read
    // whatever the root's namespace.
    Manifest manifest;
    std::string error;
    const std::string store = "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v3\" manifestVersion=\"1.0\">" + body;
    EXPECT_TRUE(readManifest(store.data(), store.size(), manifest, error)) << error;
}

TEST(ManifestReader, KeepsIdentitiesOptionalityAndRedirects) {
    Manifest manifest;
    std::string error;
    const std::string text =
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\"><assemblyIdentity name=\"Policy\" "
        "type=\"win32-policy\"/><dependency optional=\"yes\"><dependentAssembly><assemblyIdentity name=\"A\" "
        "version=\"1.0.0.0\" publicKeyToken=\"ab\" processorArchitecture=\"x86\" language=\"de-de\"/>"
        "<bindingRedirect oldVersion=\"1.0.0.0-1.0.9.9\" newVersion=\"1.0.10.0\"/></dependentAssembly>"
        "</dependency><dependency><dependentAssembly><assemblyIdentity name=\"B\"/></dependentAssembly>"
        "</dependency></assembly>";
    ASSERT_TRUE(readManifest(text.data(), text.size(), manifest, error)) << error;
    EXPECT_EQ("Policy,type=\"win32-policy\"", manifest.identity.text());
    ASSERT_EQ(2u, manifest.dependencies.size());
    EXPECT_EQ("A,processorArchitecture=\"x86\",publicKeyToken=\"ab\",language=\"de-de\",version=\"1.0.0.0\"",
              manifest.dependencies[0].assembly.text());
    EXPECT_TRUE(manifest.dependencies[0].optional);
    EXPECT_FALSE(manifest.dependencies[1].optional);
    ASSERT_EQ(1u, manifest.redirects.size());
    EXPECT_EQ("A", manifest.redirects[0].assembly.name);
    EXPECT_EQ("1.0.0.0-1.0.9.9", manifest.redirects[0].oldVersion);
    EXPECT_EQ("1.0.10.0", manifest.redirects[0].newVersion);
}

// Every program of Wine's that embeds a manifest: resource 1 found and read,
// most asking for Common Controls 6.0 for any architecture; no program holds
// a DLL's resource 2.
TEST(ManifestReader, ReadsTheManifestsOfWinesModules) {
    for (const char* folder : {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/i386-linux-gnu/wine/i386-windows"}) {
        if (!fs::is_directory(folder)) GTEST_SKIP() << "Wine is not installed";
        int embedded = 0, commonControls = 0;
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().extension() != ".exe") continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
            ByteView resource;
            const ByteView image(bytes.data(), bytes.size());
            EXPECT_FALSE(findManifestResource(image, kModuleManifestId, resource)) << entry.path();
            if (!findManifestResource(image, kProcessManifestId, resource)) continue;
            ++embedded;
            std::string text(std::size_t(resource.size()), '\0');
            ASSERT_TRUE(resource.readBytes(0, resource.size(), &text[0]));
            Manifest manifest;
            std::string error;
            EXPECT_TRUE(readManifest(text.data(), text.size(), manifest, error)) << entry.path() << ": " << error;
            for (const ManifestDependency& dependency : manifest.dependencies)
                if (dependency.assembly.name == "Microsoft.Windows.Common-Controls" &&
                    dependency.assembly.version == "6.0.0.0" && dependency.assembly.processorArchitecture == "*")
                    ++commonControls;
        }
        EXPECT_GE(embedded, 20) << folder;
        EXPECT_GE(commonControls, embedded - 2) << folder;
    }
}

// A real program and its manifest, damaged: every truncation of the file
// (the resource lookup stays inside what is left, and finds the same bytes
// once they are all there), every truncation of the text (refused until its
// root element is closed) and a flipped bit in each byte of the text. Under
// the sanitize build any read outside a buffer shows.
TEST(ManifestReader, DamagedCopiesOfARealManifestGiveAnAnswer) {
    const std::string program = std::string("/usr/lib/i386-linux-gnu/wine/i386-windows/notepad.exe");
    if (!fs::exists(program)) GTEST_SKIP() << "Wine is not installed";
    std::ifstream in(program, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    ByteView whole;
    ASSERT_TRUE(findManifestResource(ByteView(bytes.data(), bytes.size()), kProcessManifestId, whole));
    const std::uint64_t end = whole.start() + whole.size();
    for (std::size_t length = 0; length <= bytes.size(); ++length) {
        ByteView resource;
        const bool found = findManifestResource(ByteView(bytes.data(), length), kProcessManifestId, resource);
        if (found) { EXPECT_LE(resource.start() + resource.size(), length); }
        if (length >= end) { EXPECT_TRUE(found && resource.start() == whole.start() && resource.size() == whole.size()); }
    }

    std::string text(std::size_t(whole.size()), '\0');
    ASSERT_TRUE(whole.readBytes(0, whole.size(), &text[0]));
    const std::size_t closed = text.find("</assembly>") + std::strlen("</assembly>");
    Manifest manifest;
    std::string error;
    for (std::size_t length = 0; length <= text.size(); ++length) {
        const std::vector<char> cut(text.begin(), text.begin() + std::ptrdiff_t(length));
        EXPECT_EQ(length >= closed, readManifest(cut.data(), cut.size(), manifest, error)) << length << ": " << error;
    }
    for (std::size_t at = 0; at < text.size(); ++at) {
        std::vector<char> flipped(text.begin(), text.end());
        flipped[at] = char(flipped[at] ^ (1 << (at % 8)));
        readManifest(flipped.data(), flipped.size(), manifest, error);
        EXPECT_LE(manifest.dependencies.size(), 1u) << at;
    }
}

}  // namespace
}  // namespace vost
