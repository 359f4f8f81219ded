// The version-resource reader on built images: the resource found as the
// platform finds it, and hostile directories, blocks and truncations that
// must end in a clear "no version" without reading outside the file. Under
// Wine the well-formed variants are also handed to the platform's version API.
#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/common/version_resource.h"
#include "tests/support/image_builder.h"

namespace vost {
namespace {

using test::Bytes;
using test::putU16;
using test::putU32;

constexpr FixedFileVersion kVersion{0x00050001, 0x0A280000, 0x0006FFFF, 0xFFFF0001};
constexpr FixedFileVersion kOtherVersion{0x00010002, 0x00030004, 0x00050006, 0x00070008};

// A PE32 image with a version resource. The builder's .rsrc holds the type,
// name and language directories at 0, 24 and 48, the data entry at 72 and
// the VS_VERSIONINFO block at 88; the tests add their own from 256 on.
struct VersionImage {
    Bytes bytes;
    std::size_t rsrc = 0;   // file offset of the section
    std::uint32_t rva = 0;  // its RVA
    std::size_t block = 0;  // file offset of VS_VERSIONINFO

    explicit VersionImage(bool pe32plus = false) {
        test::PeImageLayout layout;
        layout.version = kVersion;
        layout.pe32plus = pe32plus;
        const test::PeImage image = test::buildPe(layout);
        bytes = image.bytes;
        block = image.versionOffset - 40;
        rsrc = block - 88;
        rva = test::getU32(bytes, rsrc + 72) - 88;
    }

    // Replaces the one language entry by a directory of `languages` (sorted
    // ids), each with its own copy of the block; languages[i] gets
    // versions[i].
    void setLanguages(const std::vector<std::uint16_t>& languages, const std::vector<FixedFileVersion>& versions) {
        const Bytes original(bytes.begin() + long(block), bytes.begin() + long(block) + 160);
        const std::size_t dir = 256;
        putU32(bytes, rsrc + 44, 0x80000000u | dir);  // the name entry now leads here
        putU16(bytes, rsrc + dir + 14, std::uint16_t(languages.size()));
        std::size_t next = dir + 16 + 8 * languages.size();
        for (std::size_t i = 0; i < languages.size(); ++i) {
            const std::size_t entry = next, copy = next + 16;
            putU32(bytes, rsrc + dir + 16 + 8 * i, languages[i]);
            putU32(bytes, rsrc + dir + 20 + 8 * i, std::uint32_t(entry));
            putU32(bytes, rsrc + entry, rva + std::uint32_t(copy));
            putU32(bytes, rsrc + entry + 4, 160);
            test::putBytes(bytes, rsrc + copy, original.data(), original.size());
            putU32(bytes, rsrc + copy + 48, versions[i].fileVersionMS);
            putU32(bytes, rsrc + copy + 52, versions[i].fileVersionLS);
            putU32(bytes, rsrc + copy + 56, versions[i].productVersionMS);
            putU32(bytes, rsrc + copy + 60, versions[i].productVersionLS);
            next = copy + 160;
        }
        // Grow the section (the last in the file) to hold what was added.
        ASSERT_LE(next, 1024u) << "too many languages for the test image";
        const std::size_t header = findSectionHeader();
        putU32(bytes, header + 8, 1024);
        putU32(bytes, header + 16, 1024);
        bytes.resize(rsrc + 1024, 0);
    }

    std::size_t findSectionHeader() const {
        const std::uint32_t nt = test::getU32(bytes, 0x3C);
        const std::uint16_t optionalSize = std::uint16_t(bytes[nt + 20] | (bytes[nt + 21] << 8));
        return nt + 24 + optionalSize;  // .rsrc is the only section
    }
};

bool read(const Bytes& bytes, FixedFileVersion& out) {
    return readFixedVersionFromImage(ByteView(bytes.data(), bytes.size()), out);
}

bool sameVersion(const FixedFileVersion& a, const FixedFileVersion& b) {
    return a.fileVersionMS == b.fileVersionMS && a.fileVersionLS == b.fileVersionLS &&
           a.productVersionMS == b.productVersionMS && a.productVersionLS == b.productVersionLS;
}

#ifdef _WIN32
// What GetFileVersionInfoA and VerQueryValueA("\\") give for the same bytes.
bool apiVersion(const Bytes& bytes, FixedFileVersion& out) {
    char folder[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, "ver", 0, path);
    if (FILE* f = std::fopen(path, "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    bool ok = false;
    DWORD handle = 0;
    // The size the API asks for can be absurd (an NE resource of fewer than
    // 52 bytes); the allocation then fails, which means no version.
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size > 0 && size < 0x1000000) {
        std::vector<char> data(size);
        VS_FIXEDFILEINFO* info = nullptr;
        UINT length = 0;
        if (GetFileVersionInfoA(path, 0, size, data.data()) &&
            VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) &&
            info->dwSignature == 0xFEEF04BD) {
            out = FixedFileVersion{info->dwFileVersionMS, info->dwFileVersionLS, info->dwProductVersionMS,
                                   info->dwProductVersionLS};
            ok = true;
        }
    }
    DeleteFileA(path);
    return ok;
}
#endif

// The reader's answer, checked against the platform's under Wine.
void expectVersion(const Bytes& bytes, const FixedFileVersion* expected) {
    FixedFileVersion got;
    const bool found = read(bytes, got);
    ASSERT_EQ(expected != nullptr, found);
    if (expected) {
        EXPECT_TRUE(sameVersion(*expected, got));
    }
#ifdef _WIN32
    FixedFileVersion api;
    const bool apiFound = apiVersion(bytes, api);
    EXPECT_EQ(found, apiFound) << "the version API disagrees";
    if (found && apiFound) {
        EXPECT_TRUE(sameVersion(got, api));
    }
#endif
}

TEST(VersionResource, ReadsTheFixedInformationOfPe32AndPe32Plus) {
    for (bool pe32plus : {false, true}) {
        SCOPED_TRACE(pe32plus ? "PE32+" : "PE32");
        expectVersion(VersionImage(pe32plus).bytes, &kVersion);
    }
}

TEST(VersionResource, PicksTheLanguageAsThePlatformDoes) {
    struct Case {
        std::vector<std::uint16_t> languages;
        int chosen;
    };
    // Neutral first, then en-US, then English, else the first entry.
    const Case cases[] = {{{0x0000, 0x0409}, 0}, {{0x0407, 0x0409}, 1}, {{0x0009, 0x0407}, 0},
                          {{0x0407, 0x0809}, 0}, {{0x0009, 0x0409}, 1}, {{0x0407}, 0}};
    for (const Case& c : cases) {
        VersionImage image;
        std::vector<FixedFileVersion> versions;
        for (std::size_t i = 0; i < c.languages.size(); ++i) versions.push_back(i == 0 ? kOtherVersion : kVersion);
        image.setLanguages(c.languages, versions);
        SCOPED_TRACE(c.languages.size() > 1 ? c.languages[1] : c.languages[0]);
        expectVersion(image.bytes, &versions[std::size_t(c.chosen)]);
    }
}

TEST(VersionResource, BlockVariantsThePlatformAcceptsOrRefuses) {
    VersionImage base;
    const std::size_t block = base.block;
    {
        SCOPED_TRACE("16-bit block: ANSI key, fixed information at 20");
        VersionImage image;
        Bytes& b = image.bytes;
        const Bytes fixed(b.begin() + long(block) + 40, b.begin() + long(block) + 92);
        test::putText(b, block + 4, std::string("VS_VERSION_INFO\0", 16));
        test::putBytes(b, block + 20, fixed.data(), fixed.size());
        expectVersion(b, &kVersion);
    }
    {
        SCOPED_TRACE("wrong signature");
        VersionImage image;
        putU32(image.bytes, block + 40, 0xFEEF04BE);
        expectVersion(image.bytes, nullptr);
    }
    {
        SCOPED_TRACE("text root (wType 1)");
        VersionImage image;
        putU16(image.bytes, block + 4, 1);
        expectVersion(image.bytes, nullptr);
    }
    {
        SCOPED_TRACE("wLength ends before the value");
        VersionImage image;
        putU16(image.bytes, block, 40);
        expectVersion(image.bytes, nullptr);
    }
    {
        SCOPED_TRACE("no version resource");
        expectVersion(test::buildPe(test::PeImageLayout{}).bytes, nullptr);
    }
}

// Hostile inputs below are never handed to the platform's API, which does
// not bound its reads.

TEST(VersionResource, TruncatedFilesGiveNoVersionUntilTheFixedInformationIsWhole) {
    const VersionImage image;
    const std::size_t needed = image.block + 40 + 24;  // up to dwProductVersionLS
    for (std::size_t size = 0; size <= image.bytes.size(); ++size) {
        const Bytes cut(image.bytes.begin(), image.bytes.begin() + long(size));
        FixedFileVersion got;
        ASSERT_EQ(size >= needed, read(cut, got)) << "cut at " << size;
    }
}

TEST(VersionResource, HostileDirectoriesEndWithoutAVersion) {
    struct Fault {
        const char* what;
        void (*apply)(VersionImage&);
    };
    const Fault faults[] = {
        {"every level points back at the root",
         [](VersionImage& i) {
             putU16(i.bytes, i.rsrc + 14, 2);
             putU32(i.bytes, i.rsrc + 16, 1);
             putU32(i.bytes, i.rsrc + 20, 0x80000000u);
             putU32(i.bytes, i.rsrc + 24, 16);
             putU32(i.bytes, i.rsrc + 28, 0x80000000u);
         }},
        {"language entry is a directory", [](VersionImage& i) { putU32(i.bytes, i.rsrc + 68, 0x80000000u | 48); }},
        {"type entry is a data entry", [](VersionImage& i) { putU32(i.bytes, i.rsrc + 20, 24); }},
        {"entry counts far beyond the file", [](VersionImage& i) {
             putU16(i.bytes, i.rsrc + 12, 0xFFFF);
             putU16(i.bytes, i.rsrc + 14, 0xFFFF);
         }},
        {"directory offset beyond the file",
         [](VersionImage& i) { putU32(i.bytes, i.rsrc + 20, 0x80000000u | 0x7FFFFFF0u); }},
        {"data RVA in no section", [](VersionImage& i) { putU32(i.bytes, i.rsrc + 72, 0x7FFF0000); }},
        {"resource directory smaller than a header",
         [](VersionImage& i) {
             const std::uint32_t nt = test::getU32(i.bytes, 0x3C);
             putU32(i.bytes, nt + 24 + 96 + 20, 15);
         }},
        {"too few data directories",
         [](VersionImage& i) {
             const std::uint32_t nt = test::getU32(i.bytes, 0x3C);
             putU32(i.bytes, nt + 24 + 92, 2);
         }},
        {"key without terminator up to the end of the resource",
         [](VersionImage& i) {
             putU32(i.bytes, i.rsrc + 76, 36);  // the resource ends before the key's terminator
         }},
        {"unknown optional header", [](VersionImage& i) {
             const std::uint32_t nt = test::getU32(i.bytes, 0x3C);
             putU16(i.bytes, nt + 24, 0x107);
         }},
    };
    for (const Fault& fault : faults) {
        VersionImage image;
        fault.apply(image);
        FixedFileVersion got;
        EXPECT_FALSE(read(image.bytes, got)) << fault.what;
    }
}

TEST(VersionResource, AResourceSizeBeyondTheSectionIsClipped) {
    VersionImage image;
    putU32(image.bytes, image.rsrc + 76, 0xFFFFFFFF);
    FixedFileVersion got;
    ASSERT_TRUE(read(image.bytes, got));
    EXPECT_TRUE(sameVersion(kVersion, got));
}

// An NE image with a resource table holding RT_VERSION / 1 at file offset
// 0x100 (alignment shift 4), its 16-bit block `length` bytes long.
Bytes neImage(std::uint16_t lengthUnits, std::uint16_t typeId = 0x8010) {
    Bytes b(0x100, 0);
    test::putText(b, 0, "MZ");
    putU32(b, 0x3C, 0x40);
    test::putText(b, 0x40, "NE");
    putU16(b, 0x40 + 0x24, 0x40);  // resource table at 0x80
    putU16(b, 0x40 + 0x26, 0x40 + 24);
    putU16(b, 0x80, 4);  // shift
    putU16(b, 0x82, typeId);
    putU16(b, 0x84, 1);
    putU16(b, 0x8A, 0x100 >> 4);  // offset
    putU16(b, 0x8C, lengthUnits);
    putU16(b, 0x90, 0x8001);  // id
    putU16(b, 0x96, 0);       // end of types
    const std::size_t block = 0x100;
    putU16(b, block, std::uint16_t(lengthUnits << 4));
    putU16(b, block + 2, 52);
    test::putText(b, block + 4, std::string("VS_VERSION_INFO\0", 16));
    putU32(b, block + 20, 0xFEEF04BD);
    putU32(b, block + 24, 0x00010000);
    putU32(b, block + 28, kVersion.fileVersionMS);
    putU32(b, block + 32, kVersion.fileVersionLS);
    putU32(b, block + 36, kVersion.productVersionMS);
    putU32(b, block + 40, kVersion.productVersionLS);
    b.resize(block + 0x60, 0);
    return b;
}

TEST(VersionResource, ReadsNeVersionResources) {
    expectVersion(neImage(6), &kVersion);
    // The version API reads min(length, (length - 52) * 4) bytes: 64 bytes
    // leave 48 readable, enough; 52 bytes or fewer leave none.
    expectVersion(neImage(4), &kVersion);
    expectVersion(neImage(3), nullptr);
    expectVersion(neImage(6, 0x8003), nullptr);
}

TEST(VersionResource, HostileNeResourceTablesEndWithoutAVersion) {
    {
        Bytes b = neImage(6);
        putU16(b, 0x84, 0xFFFF);  // name records past the table, none of them id 1
        putU16(b, 0x90, 0x8002);
        FixedFileVersion got;
        EXPECT_FALSE(read(b, got));
    }
    {
        Bytes b = neImage(6, 0x8003);
        putU16(b, 0x96, 0x8010);  // no end of types inside the table
        FixedFileVersion got;
        EXPECT_FALSE(read(b, got));
    }
    {
        Bytes b = neImage(6);
        putU16(b, 0x40 + 0x26, 0x3F);  // resident names before the resource table
        FixedFileVersion got;
        EXPECT_FALSE(read(b, got));
    }
    {
        Bytes b = neImage(6);
        putU16(b, 0x80, 40);  // shift beyond 32 bits
        FixedFileVersion got;
        EXPECT_FALSE(read(b, got));
    }
    {
        Bytes b = neImage(6);
        putU16(b, 0x8A, 0xFFFF);  // block beyond the file
        FixedFileVersion got;
        EXPECT_FALSE(read(b, got));
    }
}

}  // namespace
}  // namespace vost
