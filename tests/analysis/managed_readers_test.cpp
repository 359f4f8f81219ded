// The readers of managed programs: the metadata reader against monodis on
// every assembly Debian's mono packages ship and on the programs mcs builds
// here (tests/managed_programs), hostile metadata, SHA-1, the configuration
// readers and the roll-forward rules. Native only; skipped without mono.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "analysis/cli_metadata.h"
#include "analysis/json_reader.h"
#include "analysis/managed_process.h"
#include "analysis/pe_headers.h"
#include "analysis/roll_forward.h"
#include "analysis/sha1.h"
#include "analysis/xml_reader.h"

namespace vost {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

CliImage readBytes(const Bytes& bytes) {
    const ByteView image(bytes.data(), bytes.size());
    std::uint64_t newHeader = 0;
    return findPeSignature(image, newHeader) ? readCliMetadata(image, newHeader) : CliImage();
}

std::string hex(const Bytes& bytes) {
    std::string text;
    char digits[3];
    for (std::uint8_t b : bytes) std::snprintf(digits, sizeof digits, "%02x", b), text += digits;
    return text;
}

// What monodis says of one file.
struct Monodis {
    std::string name, version;
    Bytes publicKey;
    std::vector<std::string> references;  // "Name Version token-or-key-hex flags"
    std::set<std::string> pinvokes;       // modules the ImplMap rows name
};

// One shell run of monodis over all files: --assembly, --assemblyref and
// --implmap of each, parsed by file.
std::map<std::string, Monodis> monodis(const std::vector<fs::path>& files) {
    std::string script;
    for (const fs::path& file : files)
        for (const char* option : {"--assembly", "--assemblyref", "--implmap"})
            script += "echo '@@ " + file.string() + "'; monodis " + option + " '" + file.string() + "' 2>/dev/null; ";
    std::map<std::string, Monodis> all;
    FILE* pipe = popen(script.c_str(), "r");
    if (!pipe) return all;
    Monodis* current = nullptr;
    Bytes* dump = nullptr;  // where hex lines go: the assembly's key, a reference's key or token
    struct Reference {
        std::string name, version, flags;
        Bytes key;
    };
    std::vector<Reference> references;
    const auto finish = [&] {
        if (current)
            for (const Reference& r : references)
                current->references.push_back(r.name + " " + r.version + " flags" + r.flags + " key:" + hex(r.key));
        references.clear();
    };
    char buffer[4096];
    while (fgets(buffer, sizeof buffer, pipe)) {
        std::string line = buffer;
        while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
        const auto after = [&](std::size_t at) { return line.substr(line.find_first_not_of(' ', at)); };
        if (line.rfind("@@ ", 0) == 0) {
            finish();
            current = &all[line.substr(3)];
            dump = nullptr;
        } else if (!current) {
            continue;
        } else if (line.rfind("Name:", 0) == 0) {
            current->name = after(5);
        } else if (line.rfind("Version:", 0) == 0) {
            current->version = after(8);
        } else if (line.rfind("PublicKey:", 0) == 0) {
            dump = &current->publicKey;
        } else if (line.find(": Version=") != std::string::npos) {
            references.push_back(Reference{"", line.substr(line.find('=') + 1), "", {}});
            dump = nullptr;
        } else if (line.rfind("\tName=", 0) == 0 && !references.empty()) {
            references.back().name = line.substr(6);
        } else if (line.rfind("\tFlags=", 0) == 0 && !references.empty()) {
            references.back().flags = line.substr(7);
        } else if (line == "\tPublic Key:" && !references.empty()) {
            dump = &references.back().key;
        } else if (line.rfind("0x", 0) == 0 && line.find(": ") == 10) {
            std::istringstream bytes(line.substr(12));
            std::string byte;
            while (dump && bytes >> byte) dump->push_back(std::uint8_t(std::stoul(byte, nullptr, 16)));
        } else if (line.size() > 2 && line.back() == ')' && line.find(": ") != std::string::npos) {
            // ImplMap: "N: signature flags (importName module)".
            const std::size_t open = line.rfind('(');
            const std::size_t space = line.find(' ', open);
            if (open != std::string::npos && space != std::string::npos)
                current->pinvokes.insert(line.substr(space + 1, line.size() - space - 2));
        } else if (line != "\tDump:") {
            dump = nullptr;  // "Culture:", hash values, anything else
        }
    }
    finish();
    pclose(pipe);
    return all;
}

std::vector<fs::path> managedFiles() {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator("/usr/lib/mono/gac", error))
        if (entry.is_regular_file() && entry.path().extension() == ".dll") files.push_back(entry.path());
    for (const auto& entry : fs::directory_iterator("/usr/lib/mono/4.5", error))
        if (entry.is_regular_file() && !entry.is_symlink() &&
            (entry.path().extension() == ".exe" || entry.path().extension() == ".dll"))
            files.push_back(entry.path());
    const fs::path programs = VOST_MANAGED_PROGRAMS;
    for (const char* file : {"app.exe", "app2.exe", "app.dll", "Lib.dll", "v0/Strong.dll", "v1/Strong.dll"})
        if (fs::exists(programs / file)) files.push_back(programs / file);
    std::sort(files.begin(), files.end());
    return files;
}

TEST(CliMetadata, EveryMonoAssemblyAndBuiltProgramReadsAsMonodisReadsIt) {
    const std::vector<fs::path> files = managedFiles();
    if (files.size() < 100) GTEST_SKIP() << "mono's assemblies are not installed";
    const std::map<std::string, Monodis> expected = monodis(files);
    ASSERT_EQ(expected.size(), files.size());
    std::size_t references = 0, pinvokes = 0, tokens = 0;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        const Monodis& want = expected.at(file.string());
        const CliImage cli = readBytes(readFile(file));
        ASSERT_TRUE(cli.present);
        EXPECT_TRUE(cli.problems.empty()) << cli.problems.front();
        EXPECT_EQ(cli.runtimeVersion, file.filename() == "app2.exe" ? "v2.0.50727" : "v4.0.30319");
        ASSERT_TRUE(cli.hasAssembly);
        EXPECT_EQ(cli.assembly.name, want.name);
        EXPECT_EQ(cli.assembly.version.text(), want.version);
        // A strong name's token: SHA-1 of the key monodis dumps; in the
        // cache, the token mono's folder is named by.
        if (!want.publicKey.empty()) {
            EXPECT_EQ(cli.assembly.publicKeyToken, publicKeyToken(want.publicKey.data(), want.publicKey.size()));
            const std::string folder = file.parent_path().filename().string();
            if (folder.find("__") != std::string::npos) {
                EXPECT_EQ(cli.assembly.publicKeyToken, folder.substr(folder.rfind('_') + 1));
                ++tokens;
            }
        }
        // A reference carries a token, or a whole key (flag 1) whose token
        // is the SHA-1 of what monodis dumps.
        std::vector<std::string> ours, theirs;
        for (const AssemblyName& name : cli.references) {
            char flags[16];
            std::snprintf(flags, sizeof flags, "0x%08x", name.flags);
            ours.push_back(name.name + " " + name.version.text() + " flags" + flags + " key:" + name.publicKeyToken);
        }
        for (std::string each : want.references) {
            const std::size_t key = each.find(" key:") + 5;
            if (each.find("flags0x00000001") != std::string::npos) {
                Bytes bytes;
                for (std::size_t i = key; i + 1 < each.size(); i += 2)
                    bytes.push_back(std::uint8_t(std::stoul(each.substr(i, 2), nullptr, 16)));
                each = each.substr(0, key) + publicKeyToken(bytes.data(), bytes.size());
            }
            theirs.push_back(each);
        }
        EXPECT_EQ(ours, theirs);
        std::set<std::string> called;
        for (const PInvokeModule& module : cli.pinvokes) called.insert(module.name);
        EXPECT_EQ(called, want.pinvokes);
        references += ours.size();
        pinvokes += called.size();
    }
    // The sweep saw what it is meant to see.
    EXPECT_GT(references, 400u);
    EXPECT_GT(pinvokes, 40u);
    EXPECT_GT(tokens, 100u);
}

// Offsets in a well-formed file, found the simple way (its metadata lies in
// one section; the root is the only "BSJB").
struct Layout {
    std::size_t root = 0, streamCount = 0, tables = 0, tablesSize = 0, strings = 0, cliHeader = 0;
};

Layout layoutOf(const Bytes& bytes) {
    Layout layout;
    const std::string text(bytes.begin(), bytes.end());
    layout.root = text.find("BSJB");
    const std::uint32_t length = bytes[layout.root + 12] | bytes[layout.root + 13] << 8;
    layout.streamCount = layout.root + 16 + length + 2;
    const auto u32 = [&](std::size_t at) {
        return std::uint32_t(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24);
    };
    std::size_t at = layout.streamCount + 2;
    for (int i = 0; i < bytes[layout.streamCount]; ++i) {
        const std::string name(reinterpret_cast<const char*>(&bytes[at + 8]));
        if (name == "#~") layout.tables = at;
        if (name == "#Strings") layout.strings = at;
        at += 8 + ((name.size() + 4) & ~std::size_t(3));
    }
    layout.tablesSize = layout.tables + 4;
    layout.tables = layout.root + u32(layout.tables);
    return layout;
}

TEST(CliMetadata, HostileMetadataGivesAClearProblemNeverAReadOutside) {
    const Bytes good = readFile(fs::path(VOST_MANAGED_PROGRAMS) / "app.exe");
    if (good.empty()) GTEST_SKIP() << "the managed test programs were not built";
    const CliImage sound = readBytes(good);
    ASSERT_EQ(sound.references.size(), 5u);
    const Layout at = layoutOf(good);
    // The row counts follow the 24-byte header: Module, TypeRef, TypeDef,
    // then the rest of the tables present; AssemblyRef's is the last here.
    std::size_t counts = at.tables + 24, assemblyRef = counts;
    for (int table = 0; table < 64; ++table)
        if (good[at.tables + 8 + table / 8] >> (table % 8) & 1) {
            if (table == 0x23) assemblyRef = counts;
            counts += 4;
        }
    const auto set32 = [](Bytes& bytes, std::size_t offset, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes[offset + i] = std::uint8_t(value >> (8 * i));
    };
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        const char* problem;  // a part of the first problem
        std::size_t references;
    };
    const Case cases[] = {
        {"no signature", [&](Bytes& b) { b[at.root] = 'X'; }, "no metadata signature", 0},
        {"65535 streams", [&](Bytes& b) { b[at.streamCount] = b[at.streamCount + 1] = 0xFF; }, "65535 metadata streams", 5},
        {"tables stream of 20 bytes", [&](Bytes& b) { set32(b, at.tablesSize, 20); }, "row counts cut short", 0},
        {"16 million AssemblyRef rows", [&](Bytes& b) { set32(b, assemblyRef, 0x00FFFFFF); },
         "AssemblyRef table runs past the tables stream", 5},
        {"more rows than a token holds", [&](Bytes& b) { set32(b, assemblyRef, 0x01000000); }, "claims 16777216 rows", 0},
        {"every heap index 4 bytes", [&](Bytes& b) { b[at.tables + 6] = 0x07; }, "runs past the tables stream", 0},
        {"string heap past the metadata", [&](Bytes& b) { set32(b, at.strings, 0x7FFFFFF0); }, "#Strings runs past", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = good;
        c.damage(bytes);
        const CliImage cli = readBytes(bytes);
        ASSERT_FALSE(cli.problems.empty());
        EXPECT_NE(cli.problems.front().find(c.problem), std::string::npos) << cli.problems.front();
        EXPECT_LE(cli.references.size(), c.references);
    }
    // Every truncation: bounded reads, no fault (ASan watches the buffer).
    for (std::size_t size = 0; size < good.size(); ++size) {
        const Bytes cut(good.begin(), good.begin() + std::ptrdiff_t(size));
        const CliImage cli = readBytes(cut);
        EXPECT_LE(cli.references.size(), sound.references.size());
    }
}

TEST(Sha1, KnownDigestsAndTheStandardKeysToken) {
    const auto digest = [](const std::string& text) {
        const auto bytes = sha1(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        return hex(Bytes(bytes.begin(), bytes.end()));
    };
    EXPECT_EQ(digest(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(digest("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(digest(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    // The ECMA standard key, whose token every framework core library carries.
    const Bytes ecma = {0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(publicKeyToken(ecma.data(), ecma.size()), "b77a5c561934e089");
}

TEST(ConfigurationReaders, BindingSettingsAndRefusedDocuments) {
    const std::string binding = R"(<?xml version="1.0" encoding="utf-8"?>
<!-- comment --><configuration><startup><supportedRuntime version="v4.0" sku=".NETFramework"/></startup>
<runtime><asm:assemblyBinding xmlns:asm="urn:schemas-microsoft-com:asm.v1">
 <asm:probing privatePath="bin; ..\up;lib\sub;C:\abs"/>
 <asm:dependentAssembly><asm:assemblyIdentity name="A" publicKeyToken="0123456789abcdef" culture="neutral"/>
  <asm:bindingRedirect oldVersion="1.0.0.0-1.5.0.0" newVersion="2.0.0.0"/>
  <asm:codeBase version="2.0.0.0" href="libs/A&amp;B.dll"/></asm:dependentAssembly>
</asm:assemblyBinding>
<assemblyBinding><probing privatePath="ignored"/></assemblyBinding></runtime></configuration>)";
    AppConfig config;
    std::string error;
    ASSERT_TRUE(parseAppConfig(binding, config, error)) << error;
    EXPECT_EQ(config.supportedRuntimes, std::vector<std::string>({"v4.0"}));
    EXPECT_EQ(config.privatePaths, std::vector<std::string>({"bin", "lib/sub"}));  // never outside the base
    ASSERT_EQ(config.redirects.size(), 1u);
    EXPECT_EQ(config.redirects[0].high.text(), "1.5.0.0");
    EXPECT_EQ(config.redirects[0].target.text(), "2.0.0.0");
    ASSERT_EQ(config.codeBases.size(), 1u);
    EXPECT_EQ(config.codeBases[0].href, "libs/A&B.dll");

    // UTF-16 with its byte order mark reads as UTF-8 does.
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("<configuration/>")) utf16 += c, utf16 += '\0';
    EXPECT_TRUE(parseAppConfig(utf16, config, error)) << error;

    struct Refused {
        std::string document;
        const char* why;
    };
    std::string deep;
    for (int i = 0; i < 65; ++i) deep += "<a>";
    for (int i = 0; i < 65; ++i) deep += "</a>";
    const Refused refused[] = {
        {"<!DOCTYPE x [<!ENTITY e \"boom\">]><configuration>&e;</configuration>", "a document type declaration"},
        {"<configuration a=\"&e;\"/>", "an entity reference"},
        {"<configuration a=\"" + std::string(5000, 'x') + "\"/>", "an attribute value over 4 KiB"},
        {deep, "more than 64 nested elements"},
        {"<configuration>" + std::string(kMaxXmlSize, ' ') + "</configuration>", "larger than 1 MiB"},
        {"<configuration><runtime></configuration>", "malformed XML"},
        {"<a/><b/>", "a second root element"},
    };
    for (const Refused& r : refused) {
        EXPECT_FALSE(parseAppConfig(r.document, config, error)) << r.why;
        EXPECT_EQ(error, r.why);
    }

    JsonNode json;
    ASSERT_TRUE(readJson("\xEF\xBB\xBF{/* c */ \"a\": [1, \"\\u00e9\\ud83d\\ude00\", true,], // x\n}", json, error)) << error;
    EXPECT_EQ(json.get("a")->items[1].text, "\xC3\xA9\xF0\x9F\x98\x80");
    for (const std::string& bad : {std::string(65, '[') + std::string(65, ']'), std::string("{\"a\" 1}"),
                                   std::string("\"\\ud800\""), std::string("[1] 2"), std::string(kMaxJsonSize + 1, ' ')})
        EXPECT_FALSE(readJson(bad, json, error)) << bad.substr(0, 20);
}

// The host's documented roll-forward rules (framework-version-resolution.md).
TEST(RollForward, DocumentedFrameworkSelection) {
    struct Case {
        const char* wanted;
        const char* rollForward;
        std::vector<const char*> installed;
        const char* chosen;  // "" when none fits
    };
    const Case cases[] = {
        {"8.0.0", "Minor", {"6.0.36", "8.0.1", "8.0.11", "8.1.0"}, "8.0.11"},  // latest patch of the asked minor
        {"8.0.0", "Minor", {"6.0.36", "8.1.2", "8.1.5", "8.3.0"}, "8.1.5"},    // lowest higher minor, its latest patch
        {"7.0.0", "Minor", {"6.0.36", "8.0.11"}, ""},
        {"7.0.0", "Major", {"6.0.36", "8.0.11", "9.0.0"}, "8.0.11"},
        {"7.0.0", "LatestMajor", {"6.0.36", "8.0.11", "9.0.0"}, "9.0.0"},
        {"8.0.0", "LatestMinor", {"8.0.11", "8.2.3", "9.0.0"}, "8.2.3"},
        {"8.0.0", "LatestPatch", {"8.0.1", "8.1.0"}, "8.0.1"},
        {"8.0.0", "LatestPatch", {"8.1.0"}, ""},
        {"8.0.1", "Disable", {"8.0.1", "8.0.11"}, "8.0.1"},
        {"8.0.0", "Disable", {"8.0.1"}, ""},
        {"8.0.5", "Minor", {"8.0.1"}, ""},                                     // never down
        {"9.0.0", "Minor", {"9.0.0-rc.1"}, ""},                                // a pre-release orders before its release
        {"9.0.0-rc.1", "Minor", {"9.0.0"}, "9.0.0"},
        {"8.0.0", "Minor", {"8.0.1-preview.1", "8.1.0"}, "8.1.0"},             // releases first
        {"8.0.0", "Minor", {"8.0.1-preview.1", "8.0.1-preview.2"}, "8.0.1-preview.1"},  // closest, no patch roll
        {"9.0.0-preview.2", "Minor", {"9.0.0-preview.10", "9.0.0-preview.3"}, "9.0.0-preview.3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.wanted) + " " + c.rollForward);
        SemanticVersion wanted, chosen;
        RollForward rollForward;
        ASSERT_TRUE(SemanticVersion::parse(c.wanted, wanted));
        ASSERT_TRUE(parseRollForward(c.rollForward, rollForward));
        std::vector<SemanticVersion> installed;
        for (const char* each : c.installed) {
            installed.emplace_back();
            ASSERT_TRUE(SemanticVersion::parse(each, installed.back()));
        }
        const bool found = pickFramework(FrameworkReference::of("F", wanted, rollForward), installed, chosen);
        EXPECT_EQ(found ? chosen.text() : "", c.chosen);
    }
    // Two references to one framework: the higher version, the narrower
    // range, the highest flag of either; refused when the lower one does not
    // reach the higher.
    SemanticVersion v21, v22, v30;
    SemanticVersion::parse("2.1.0", v21), SemanticVersion::parse("2.2.0", v22), SemanticVersion::parse("3.0.0", v30);
    FrameworkReference merged;
    ASSERT_TRUE(reconcile(FrameworkReference::of("F", v21, RollForward::minor),
                          FrameworkReference::of("F", v22, RollForward::major), merged));
    EXPECT_EQ(merged.version.text(), "2.2.0");
    EXPECT_EQ(merged.range, FrameworkReference::Range::minor);
    EXPECT_FALSE(reconcile(FrameworkReference::of("F", v21, RollForward::minor),
                           FrameworkReference::of("F", v30, RollForward::minor), merged));
    ASSERT_TRUE(reconcile(FrameworkReference::of("F", v21, RollForward::latestMajor),
                          FrameworkReference::of("F", v30, RollForward::minor), merged));
    EXPECT_TRUE(merged.highest);
}

}  // namespace
}  // namespace vost
