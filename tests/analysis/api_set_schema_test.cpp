// The API set schema reader: the lookup on built schemas, damaged and hostile
// schemas, the section in PE32 and PE32+ files, and Wine's own schema.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/api_set_schema.h"
#include "tests/support/api_set_builder.h"

namespace vost {
namespace {

using test::ApiSetSchemaImage;
using test::ApiSetSchemaLayout;
using test::Bytes;
using test::putU16;
using test::putU32;

struct Resolution {
    ApiSetResult result;
    std::string host;
};
bool operator==(const Resolution& a, const Resolution& b) { return a.result == b.result && a.host == b.host; }
std::ostream& operator<<(std::ostream& out, const Resolution& r) {
    return out << int(r.result) << " '" << r.host << "'";
}
const Resolution kNotHosted{ApiSetResult::notHosted, ""};
const Resolution kAbsent{ApiSetResult::absent, ""};
Resolution hosted(const char* host) { return {ApiSetResult::hosted, host}; }

Resolution resolve(const ApiSetSchema& schema, const char* name, const char* importer = nullptr,
                   std::size_t capacity = kPathCapacity) {
    std::vector<char> host(capacity + 1, 'X');
    const ApiSetResult result = resolveApiSet(schema, name, importer, host.data(), capacity);
    EXPECT_TRUE(capacity == 0 || std::find(host.begin(), host.end() - 1, '\0') != host.end() - 1);
    return {result, capacity ? std::string(host.data()) : std::string()};
}

// Two contracts whose part before the last hyphen differs only in its last
// character, importer-specific hosts (one of them empty), an empty default
// host and a contract without values.
ApiSetSchemaLayout sampleLayout() {
    ApiSetSchemaLayout layout;
    layout.entries = {
        {"api-ms-win-core-foo-l1-1-0", {{"", "kernelbase.dll"}}},
        {"api-ms-win-core-foo-l1-2-0", {{"", "foo2.dll"}}},
        {"ext-ms-win-shell-l1-1-0",
         {{"", "shell32.dll"}, {"kernel32.dll", "kernelbase.dll"}, {"user32.dll", ""}}},
        {"api-ms-win-empty-l1-1-0", {{"", ""}}},
        {"api-ms-win-novalue-l1-1-0", {}},
    };
    return layout;
}

ApiSetSchema parsed(const Bytes& bytes) {
    ApiSetSchema schema;
    EXPECT_TRUE(parseApiSetSchema(ByteView(bytes.data(), bytes.size()), schema));
    return schema;
}

// Every name the sample answers for, good or not, with and without ".dll".
const char* const kProbes[] = {"api-ms-win-core-foo-l1-1-0",  "API-MS-WIN-CORE-FOO-L1-2-0.DLL",
                               "ext-ms-win-shell-l1-1-0.dll", "api-ms-win-empty-l1-1-0",
                               "api-ms-win-novalue-l1-1-0",   "api-ms-win-core-foo-l1-3-0"};

TEST(ApiSetSchemaTest, OnlyApiAndExtPrefixesAreContracts) {
    for (const char* name : {"api-", "API-ms-win-x", "Ext-ms-win-x.dll", "eXT-"}) EXPECT_TRUE(isApiSetName(name)) << name;
    for (const char* name : {"", "api", "ext", "apix-ms", "api_ms-win", "kernel32.dll", "xapi-ms"})
        EXPECT_FALSE(isApiSetName(name)) << name;
    EXPECT_FALSE(isApiSetName(nullptr));

    // Not a contract: the host is emptied and the schema never consulted, even
    // a schema that holds nothing.
    char host[8] = "junk";
    EXPECT_EQ(resolveApiSet(ApiSetSchema(), "kernel32.dll", nullptr, host, sizeof host),
              ApiSetResult::notAContract);
    EXPECT_STREQ(host, "");
    EXPECT_EQ(resolve(ApiSetSchema(), "api-ms-win-core-foo-l1-1-0"), kAbsent);
}

TEST(ApiSetSchemaTest, ResolvesByThePartBeforeTheLastHyphen) {
    // The same answers whether the hash table follows the strings, lies far
    // from them, or comes before the entries.
    for (int placement = 0; placement < 3; ++placement) {
        ApiSetSchemaLayout layout = sampleLayout();
        layout.hashTableGap = placement == 1 ? 4096 : 0;
        layout.hashTableFirst = placement == 2;
        const ApiSetSchemaImage image = test::buildApiSetSchema(layout);
        const ApiSetSchema schema = parsed(image.bytes);
        EXPECT_EQ(schema.version, 6u);
        EXPECT_EQ(schema.count, 5u);
        EXPECT_EQ(schema.hashOffset, image.hashOffset);

        EXPECT_EQ(resolve(schema, "api-ms-win-core-foo-l1-1-0"), hosted("kernelbase.dll"));
        EXPECT_EQ(resolve(schema, "API-MS-WIN-CORE-FOO-L1-1-0.DLL"), hosted("kernelbase.dll"));
        // "...-l1-1" and "...-l1-2" are different hashed parts: each name
        // finds its own entry, and the digits after the last hyphen are not
        // looked at (a -l1-1-5 import is served by the schema's -l1-1-0).
        EXPECT_EQ(resolve(schema, "api-ms-win-core-foo-l1-2-0.dll"), hosted("foo2.dll"));
        EXPECT_EQ(resolve(schema, "api-ms-win-core-foo-l1-1-5"), hosted("kernelbase.dll"));
        // A name the schema does not have is left to the file search.
        EXPECT_EQ(resolve(schema, "api-ms-win-core-foo-l1-3-0"), kAbsent);
        EXPECT_EQ(resolve(schema, "api-ms-win-core-foo-l1"), kAbsent);
        EXPECT_EQ(resolve(schema, "api-ms-win-core-foo-l1-1-0x-1"), kAbsent);

        // Importer-specific hosts: the importer's file name, case ignored, a
        // folder in front of it dropped; any other importer gets the default.
        EXPECT_EQ(resolve(schema, "ext-ms-win-shell-l1-1-0.dll"), hosted("shell32.dll"));
        EXPECT_EQ(resolve(schema, "ext-ms-win-shell-l1-1-0", "KERNEL32.DLL"), hosted("kernelbase.dll"));
        EXPECT_EQ(resolve(schema, "ext-ms-win-shell-l1-1-0", "C:\\windows\\system32\\kernel32.dll"),
                  hosted("kernelbase.dll"));
        EXPECT_EQ(resolve(schema, "ext-ms-win-shell-l1-1-0", "kernel32"), hosted("shell32.dll"));
        EXPECT_EQ(resolve(schema, "ext-ms-win-shell-l1-1-0", "gdi32.dll"), hosted("shell32.dll"));
        EXPECT_EQ(resolve(schema, "ext-ms-win-shell-l1-1-0", ""), hosted("shell32.dll"));
        EXPECT_EQ(resolve(schema, "ext-ms-win-shell-l1-1-0", "user32.dll"), kNotHosted);

        EXPECT_EQ(resolve(schema, "api-ms-win-empty-l1-1-0"), kNotHosted);
        EXPECT_EQ(resolve(schema, "api-ms-win-novalue-l1-1-0"), kNotHosted);
        // A host that does not fit the caller's buffer is not handed out cut.
        EXPECT_EQ(resolve(schema, "api-ms-win-core-foo-l1-1-0", nullptr, 14), kNotHosted);
        EXPECT_EQ(resolve(schema, "api-ms-win-core-foo-l1-1-0", nullptr, 15), hosted("kernelbase.dll"));
        // Only ASCII matches.
        EXPECT_EQ(resolve(schema, "api-ms-win-core-f\xC3\xB6o-l1-1-0"), kAbsent);
    }
}

TEST(ApiSetSchemaTest, AHashSharedByTwoContractsServesTheOneTheSearchMeetsFirst) {
    // With factor 1 the hash is the sum of the characters: "api-ab-l1" and
    // "api-ba-l1" collide. The search stops at the first record of that hash
    // (the loader's midpoint: record 0 of 2) and the name check refuses it
    // for the other contract rather than looking on.
    ApiSetSchemaLayout layout;
    layout.hashFactor = 1;
    layout.entries = {{"api-ab-l1-1-0", {{"", "ab.dll"}}}, {"api-ba-l1-1-0", {{"", "ba.dll"}}}};
    const ApiSetSchemaImage image = test::buildApiSetSchema(layout);
    ASSERT_EQ(test::getU32(image.bytes, image.hashRecord(0)), test::getU32(image.bytes, image.hashRecord(1)));
    const ApiSetSchema schema = parsed(image.bytes);
    EXPECT_EQ(resolve(schema, "api-ab-l1-1-0"), hosted("ab.dll"));
    EXPECT_EQ(resolve(schema, "api-ba-l1-1-0"), kAbsent);
}

TEST(ApiSetSchemaTest, HostileHeadersAreRefused) {
    const Bytes good = test::buildApiSetSchema(sampleLayout()).bytes;
    const auto refused = [](Bytes bytes) {
        ApiSetSchema schema;
        schema.count = 99;
        const bool ok = parseApiSetSchema(ByteView(bytes.data(), bytes.size()), schema);
        return !ok && schema.count == 0 && schema.section.size() == 0;
    };
    for (std::uint32_t version : {0u, 2u, 3u, 4u, 5u, 7u}) {
        Bytes b = good;
        putU32(b, 0, version);
        EXPECT_TRUE(refused(b)) << "version " << version;
    }
    EXPECT_TRUE(refused(Bytes(good.begin(), good.begin() + 27)));
    EXPECT_TRUE(refused(Bytes()));
    struct Field {
        std::size_t offset;
        std::uint32_t value;
    };
    const std::uint32_t size = std::uint32_t(good.size());
    for (const Field& f : {Field{12, 0x7FFFFFFF}, Field{12, size / 8}, Field{12, 0x80000000},
                           Field{16, size}, Field{16, 0xFFFFFFF0}, Field{20, size - 8},
                           Field{20, 0xFFFFFFF8}}) {
        Bytes b = good;
        putU32(b, f.offset, f.value);
        EXPECT_TRUE(refused(b)) << "field " << f.offset << " = " << f.value;
    }
    // An empty schema is a schema: it knows no contract.
    Bytes empty = good;
    putU32(empty, 12, 0);
    ApiSetSchema schema = parsed(empty);
    EXPECT_EQ(resolve(schema, "api-ms-win-core-foo-l1-1-0"), kAbsent);
}

// An entry that cannot be read or checked is as good as absent (the name is
// searched as a file); a contract found whose values cannot be read has no
// host.
TEST(ApiSetSchemaTest, DamagedRecordsGiveNotHostedOrAbsentAndReadNothingOutside) {
    const ApiSetSchemaImage image = test::buildApiSetSchema(sampleLayout());
    const std::uint32_t size = std::uint32_t(image.bytes.size());
    struct Damage {
        const char* what;
        std::uint32_t offset, value;
        const char* name;
        const char* importer;
        Resolution expected;
    };
    const std::uint32_t foo = image.entry(0), shell = image.entry(2);
    const std::uint32_t fooHost = image.value(0, 0) + 12;
    std::uint32_t fooHashRecord = 0;
    for (std::size_t i = 0; i < 5; ++i)
        if (test::getU32(image.bytes, image.hashRecord(i) + 4) == 0) fooHashRecord = image.hashRecord(i);
    const Damage damages[] = {
        {"name offset past the end", foo + 4, size - 2, "api-ms-win-core-foo-l1-1-0", nullptr, kAbsent},
        {"name offset wrapping", foo + 4, 0xFFFFFFFE, "api-ms-win-core-foo-l1-1-0", nullptr, kAbsent},
        {"odd hashed length", foo + 12, 49, "api-ms-win-core-foo-l1-1-0", nullptr, kAbsent},
        {"values past the end", foo + 16, size - 10, "api-ms-win-core-foo-l1-1-0", nullptr, kNotHosted},
        {"value count past the end", shell + 20, 0x10000000, "ext-ms-win-shell-l1-1-0", nullptr, kNotHosted},
        {"host past the end", fooHost, size - 4, "api-ms-win-core-foo-l1-1-0", nullptr, kNotHosted},
        {"host length wrapping", fooHost + 4, 0xFFFFFFFE, "api-ms-win-core-foo-l1-1-0", nullptr, kNotHosted},
        {"odd host length", fooHost + 4, 27, "api-ms-win-core-foo-l1-1-0", nullptr, kNotHosted},
        {"host longer than a path", fooHost + 4, 2 * 260, "api-ms-win-core-foo-l1-1-0", nullptr, kNotHosted},
        {"odd importer name length", image.value(2, 1) + 8, 23, "ext-ms-win-shell-l1-1-0", "kernel32.dll",
         hosted("shell32.dll")},
        // The importer's own value cannot be told from the default then.
        {"importer name past the end", image.value(2, 1) + 4, size - 4, "ext-ms-win-shell-l1-1-0",
         "kernel32.dll", kNotHosted},
        {"other importer's name past the end", image.value(2, 1) + 4, size - 4, "ext-ms-win-shell-l1-1-0",
         "gdi32.dll", hosted("shell32.dll")},
        {"hash record index past the count", fooHashRecord + 4, 5, "api-ms-win-core-foo-l1-1-0", nullptr,
         kAbsent},
        {"hash record of another contract", fooHashRecord + 4, 1, "api-ms-win-core-foo-l1-1-0", nullptr,
         kAbsent},
    };
    for (const Damage& d : damages) {
        Bytes b = image.bytes;
        putU32(b, d.offset, d.value);
        EXPECT_EQ(resolve(parsed(b), d.name, d.importer), d.expected) << d.what;
    }

    // Non-ASCII code units: in a stored name nothing matches it; in a host
    // the contract is not hosted.
    Bytes b = image.bytes;
    putU16(b, test::getU32(b, foo + 4) + 2, 0x00F6);
    EXPECT_EQ(resolve(parsed(b), "api-ms-win-core-foo-l1-1-0"), kAbsent);
    b = image.bytes;
    putU16(b, test::getU32(b, fooHost), 0x212A);  // KELVIN SIGN, which folds to 'k' in Unicode
    EXPECT_EQ(resolve(parsed(b), "api-ms-win-core-foo-l1-1-0"), kNotHosted);
}

TEST(ApiSetSchemaTest, UnsortedOrCutSchemasNeverGiveAWrongHost) {
    // The hash table first, so that a cut leaves the tables whole and takes
    // values and strings away.
    ApiSetSchemaLayout layout = sampleLayout();
    layout.hashTableFirst = true;
    const ApiSetSchemaImage image = test::buildApiSetSchema(layout);
    const ApiSetSchema sound = parsed(image.bytes);

    // The hash table reversed: the search still ends within its bound, and a
    // contract is found with its own host or not at all.
    Bytes reversed = image.bytes;
    for (std::size_t i = 0; i < 5; ++i) {
        putU32(reversed, image.hashRecord(i), test::getU32(image.bytes, image.hashRecord(4 - i)));
        putU32(reversed, image.hashRecord(i) + 4, test::getU32(image.bytes, image.hashRecord(4 - i) + 4));
    }
    const ApiSetSchema unsorted = parsed(reversed);
    int lost = 0;
    for (const char* probe : kProbes) {
        const Resolution now = resolve(unsorted, probe);
        if (!(now == resolve(sound, probe))) {
            EXPECT_TRUE(now == kNotHosted || now == kAbsent) << probe << " " << now;
            ++lost;
        }
    }
    EXPECT_GT(lost, 0);

    // Every cut of the schema, in a buffer of exactly that size: refused, or
    // answering as the whole schema does, or not hosted.
    int parsedCuts = 0;
    for (std::size_t cut = 0; cut < image.bytes.size(); ++cut) {
        const Bytes part(image.bytes.begin(), image.bytes.begin() + cut);
        ApiSetSchema schema;
        if (!parseApiSetSchema(ByteView(part.data(), part.size()), schema)) continue;
        ++parsedCuts;
        for (const char* probe : kProbes) {
            const Resolution now = resolve(schema, probe, "kernel32.dll");
            if (!(now == kNotHosted) && !(now == kAbsent)) {
                EXPECT_EQ(now, resolve(sound, probe, "kernel32.dll")) << cut;
            }
        }
    }
    EXPECT_GT(parsedCuts, 100);
}

TEST(ApiSetSchemaTest, EnumeratesEveryReadableContractInTableOrder) {
    const ApiSetSchemaImage image = test::buildApiSetSchema(sampleLayout());
    std::vector<std::string> names;
    forEachApiSetContract(parsed(image.bytes), [&](const char* name) { names.push_back(name); });
    EXPECT_EQ(names, (std::vector<std::string>{"api-ms-win-core-foo-l1-1-0", "api-ms-win-core-foo-l1-2-0",
                                               "ext-ms-win-shell-l1-1-0", "api-ms-win-empty-l1-1-0",
                                               "api-ms-win-novalue-l1-1-0"}));
    Bytes b = image.bytes;
    putU32(b, image.entry(1) + 8, 0xFFFFFFF0);  // the second name runs out of the section
    names.clear();
    forEachApiSetContract(parsed(b), [&](const char* name) { names.push_back(name); });
    EXPECT_EQ(names.size(), 4u);
    EXPECT_EQ(names[1], "ext-ms-win-shell-l1-1-0");
}

TEST(ApiSetSchemaTest, FindsTheSectionInPe32AndPe32PlusFiles) {
    const Bytes schemaBytes = test::buildApiSetSchema(sampleLayout()).bytes;
    for (bool pe32plus : {false, true}) {
        const test::ApiSetPe pe = test::buildApiSetPe(schemaBytes, pe32plus);
        const ByteView file(pe.bytes.data(), pe.bytes.size());
        ByteView section;
        ASSERT_TRUE(findApiSetSection(file, section)) << pe32plus;
        EXPECT_EQ(section.start(), pe.sectionOffset);
        EXPECT_EQ(section.size(), schemaBytes.size());  // VirtualSize, below the raw size
        ApiSetSchema schema;
        ASSERT_TRUE(parseApiSetSchema(section, schema));
        EXPECT_EQ(resolve(schema, "api-ms-win-core-foo-l1-2-0.dll"), hosted("foo2.dll"));

        const auto found = [](const Bytes& bytes) {
            ByteView s;
            return findApiSetSection(ByteView(bytes.data(), bytes.size()), s);
        };
        Bytes b = pe.bytes;
        putU32(b, pe.sectionHeader + 8, 0x100);  // a smaller VirtualSize cuts the section
        ByteView cut;
        ASSERT_TRUE(findApiSetSection(ByteView(b.data(), b.size()), cut));
        EXPECT_EQ(cut.size(), 0x100u);
        b = pe.bytes;
        b.resize(pe.sectionOffset + schemaBytes.size() - 1);  // raw data past the end
        EXPECT_FALSE(found(b));
        b = pe.bytes;
        b[pe.sectionHeader + 1] = 'A';  // ".Apiset" is another section
        EXPECT_FALSE(found(b));
        b = pe.bytes;
        putU32(b, pe.sectionHeader + 20, 0xFFFFFF00);  // raw pointer wrapping
        EXPECT_FALSE(found(b));
        b = pe.bytes;
        putU16(b, 0x80 + 20, 0xFFFF);  // the table starts past the end
        EXPECT_FALSE(found(b));
        b = pe.bytes;
        b[0x81] = 'X';  // no PE signature
        EXPECT_FALSE(found(b));
        b = pe.bytes;
        putU32(b, 0x3C, 0xFFFFFFFF);
        EXPECT_FALSE(found(b));
    }
}

#ifndef _WIN32
// Wine's schema, both builds. The expected hosts were read from the section
// with pefile, entry by entry, not with this reader.
TEST(ApiSetSchemaTest, WineSchemaResolvesAsWineDoes) {
    const char* const files[] = {"/usr/lib/i386-linux-gnu/wine/i386-windows/apisetschema.dll",
                                 "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/apisetschema.dll"};
    int seen = 0;
    for (const char* path : files) {
        std::ifstream in(path, std::ios::binary);
        if (!in) continue;
        ++seen;
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ByteView section;
        ASSERT_TRUE(findApiSetSection(ByteView(bytes.data(), bytes.size()), section)) << path;
        EXPECT_EQ(section.start(), 0x1000u);
        EXPECT_EQ(section.size(), 0xF160u);
        ApiSetSchema schema;
        ASSERT_TRUE(parseApiSetSchema(section, schema)) << path;
        EXPECT_EQ(schema.version, 6u);
        EXPECT_EQ(schema.count, 504u);
        EXPECT_EQ(schema.hashFactor, 31u);

        // -l1-2-0 is served by the schema's -l1-2-1, -l1-1-0 of winrt-string by -l1-1-1.
        EXPECT_EQ(resolve(schema, "api-ms-win-core-synch-l1-2-0.dll"), hosted("kernelbase.dll"));
        EXPECT_EQ(resolve(schema, "api-ms-win-core-synch-l1-1-0"), hosted("kernelbase.dll"));
        EXPECT_EQ(resolve(schema, "API-MS-WIN-CORE-SYNCH-ANSI-L1-1-0.DLL"), hosted("kernel32.dll"));
        EXPECT_EQ(resolve(schema, "api-ms-win-core-winrt-string-l1-1-0.dll"), hosted("combase.dll"));
        EXPECT_EQ(resolve(schema, "api-ms-win-crt-runtime-l1-1-0.dll"), hosted("ucrtbase.dll"));
        EXPECT_EQ(resolve(schema, "ext-ms-win-gdi-dc-l1-2-0.dll", "user32.dll"), hosted("gdi32.dll"));
        EXPECT_EQ(resolve(schema, "api-ms-win-shell-shellfolders-l1-1-0"), hosted("shell32.dll"));
        EXPECT_EQ(resolve(schema, "api-ms-win-base-bootconfig-l1-1-0"), hosted("advapi32.dll"));
        EXPECT_EQ(resolve(schema, "api-ms-win-deprecated-apis-legacy-l1-2-0.dll"), kNotHosted);
        EXPECT_EQ(resolve(schema, "api-ms-win-core-nonexistent-l1-1-0.dll"), kAbsent);

        // Every contract is readable and found through the hash table; three
        // have an empty host in Wine's schema.
        int contracts = 0, notHosted = 0;
        forEachApiSetContract(schema, [&](const char* name) {
            ++contracts;
            const Resolution r = resolve(schema, name);
            EXPECT_TRUE(r.result == ApiSetResult::hosted || r.result == ApiSetResult::notHosted) << name;
            if (r.result == ApiSetResult::notHosted) ++notHosted;
        });
        EXPECT_EQ(contracts, 504);
        EXPECT_EQ(notHosted, 3);
    }
    if (seen == 0) GTEST_SKIP() << "Wine's apisetschema.dll is not installed";
}
#endif

}  // namespace
}  // namespace vost
