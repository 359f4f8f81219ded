// The icon-reading check: sound files with icons are in place, each way the
// platform's walk can leave a damaged file is caught, and on real files a
// truncation is in place exactly when it keeps every byte the walk reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/icon_resources.h"
#include "tests/support/icon_images.h"

namespace vost {
namespace {

using test::Bytes;
using test::putU16;
using test::putU32;

IconReadCheck check(const Bytes& bytes) { return checkIconRead(ByteView(bytes.data(), bytes.size())); }
bool inFile(const Bytes& bytes) { return check(bytes).inFile; }

TEST(IconResources, SoundFilesAndFilesWithoutIconsAreInPlace) {
    const Bytes pe = test::buildIconPe().bytes;
    const Bytes pe64 = test::buildIconPe(true).bytes;
    const Bytes ne = test::buildIconNe().bytes;
    const Bytes ico = test::buildIconFile();
    for (const Bytes* file : {&pe, &pe64, &ne, &ico}) {
        const IconReadCheck result = check(*file);
        EXPECT_TRUE(result.inFile);
        // The walk reads up to the end of the last image, and needs that byte.
        ASSERT_LE(result.extent, file->size());
        EXPECT_FALSE(inFile(Bytes(file->begin(), file->begin() + std::ptrdiff_t(result.extent - 1))));
    }
    EXPECT_TRUE(inFile(Bytes{}));                                  // never mapped
    EXPECT_TRUE(inFile(test::bytesOf("plain words, no program")));  // no icon file
    EXPECT_TRUE(inFile(test::buildPe(test::PeImageLayout{}).bytes));  // no resources
    Bytes noSignature = pe;
    putU32(noSignature, 0x80, 0x12345678);
    EXPECT_TRUE(inFile(noSignature));
    Bytes headerPastEnd = pe;
    putU32(headerPastEnd, test::kLfanewField, std::uint32_t(pe.size()));
    EXPECT_TRUE(inFile(headerPastEnd));  // the platform stops at e_lfanew >= size
}

TEST(IconResources, WhereTheWalkStopsSafelyTheFileIsInPlace) {
    const test::IconPe pe = test::buildIconPe();
    Bytes noGroup = pe.bytes;
    putU16(noGroup, pe.root + 16 + 8, 15);  // RT_GROUP_ICON renamed
    EXPECT_TRUE(inFile(noGroup));
    Bytes emptyGroup = pe.bytes;
    putU16(emptyGroup, pe.group + 4, 0);  // no entries: the platform looks for id 0, finds none
    EXPECT_TRUE(inFile(emptyGroup));
    Bytes iconInNoSection = pe.bytes;
    putU32(iconInNoSection, pe.iconEntries[0], 0x7FFF0000);
    EXPECT_TRUE(inFile(iconInNoSection));
    Bytes directoryLeftOut = pe.bytes;
    putU32(directoryLeftOut, pe.resourceEntry - 4 - 16, 2);  // NumberOfRvaAndSizes
    EXPECT_TRUE(inFile(directoryLeftOut));
    const test::IconNe ne = test::buildIconNe();
    Bytes noIcons = ne.bytes;
    putU16(noIcons, ne.iconType, 0x8005);
    EXPECT_TRUE(inFile(noIcons));
    Bytes shortTable = ne.bytes;  // 8 bytes or less: taken for an icon file whose "MZ" ends it
    putU16(shortTable, ne.newHeader + 0x26, std::uint16_t(ne.table - ne.newHeader + 8));
    EXPECT_TRUE(inFile(shortTable));
}

TEST(IconResources, EachReadPastTheEndIsCaught) {
    const test::IconPe pe = test::buildIconPe();
    const auto size = std::uint32_t(pe.bytes.size());
    std::vector<std::pair<const char*, Bytes>> damaged;
    auto damage = [&](const char* what, const Bytes& base, auto change) {
        Bytes copy = base;
        change(copy);
        damaged.emplace_back(what, std::move(copy));
    };
    damage("resource section raw data past the end", pe.bytes,
           [&](Bytes& b) { putU32(b, pe.sectionHeader + 20, size); });
    damage("section table runs off the end before a match", pe.bytes, [&](Bytes& b) {
        putU16(b, pe.newHeader + 6, 0xFFFF);
        putU32(b, pe.sectionHeader + 12, 0x2000);  // the first section no longer holds it
    });
    damage("group directory past the end", pe.bytes,
           [&](Bytes& b) { putU32(b, pe.root + 16 + 8 + 4, 0x80000000u | size); });
    damage("group data past the end", pe.bytes,
           [&](Bytes& b) { putU32(b, pe.sectionHeader + 16, 0x10000000); putU32(b, pe.groupEntry, 0x1000 + size); });
    damage("group entries past the end", pe.bytes, [&](Bytes& b) { putU16(b, pe.group + 4, 0xFFFF); });
    damage("icon size past the end", pe.bytes, [&](Bytes& b) { putU32(b, pe.iconEntries[1] + 4, size); });
    damage("icon data beyond the raw bytes", pe.bytes, [&](Bytes& b) {
        putU32(b, pe.sectionHeader + 16, 0x10000000);
        putU32(b, pe.iconEntries[0], 0x1000 + size);
    });
    damage("signature cut by the end", pe.bytes, [&](Bytes& b) {
        putU32(b, test::kLfanewField, size - 2);
    });
    damage("cut inside the second image", pe.bytes, [&](Bytes& b) { b.resize(check(b).extent - 100); });

    const test::IconNe ne = test::buildIconNe();
    damage("NE type records without terminator", ne.bytes, [&](Bytes& b) {
        putU16(b, ne.groupType, 0x8007);   // neither type is found, so the walk goes on
        putU16(b, ne.iconType, 0x8008);
        b.resize(ne.iconType + 8 + 12 * 2);  // ... up to the end of the file
    });
    damage("NE icon length past the end", ne.bytes,
           [&](Bytes& b) { putU16(b, ne.iconType + 8 + 12 + 2, 0x4000); });
    damage("NE group past the end", ne.bytes, [&](Bytes& b) { putU16(b, ne.groupType + 8, 0xF000); });
    damage("NE shift that carries past 32 bits", ne.bytes, [&](Bytes& b) { putU16(b, ne.table, 20); });
    damage("NE table behind the names (negative length)", ne.bytes, [&](Bytes& b) {
        putU16(b, ne.newHeader + 0x24, 0xFFF0);
    });

    const Bytes ico = test::buildIconFile();
    damage("icon file image past the end", ico, [&](Bytes& b) { putU32(b, 6 + 16 + 12, 0xFFFFFF00u); });
    damage("icon file entries past the end", ico, [&](Bytes& b) { putU16(b, 4, 4000); });

    for (const auto& [what, bytes] : damaged) EXPECT_FALSE(inFile(bytes)) << what;
}

// 65535 section headers with the real one last, and a group of `icons`
// icons whose images lie in no section: each icon's lookup looks through
// every header.
Bytes manySectionsAndIcons(std::uint32_t iconCount) {
    test::IconPe pe = test::buildIconPe();
    Bytes& b = pe.bytes;
    const std::uint32_t header = std::uint32_t(b.size());
    const std::uint32_t kCount = 0xFFFF;
    std::vector<std::uint8_t> rsrc(b.begin() + pe.sectionHeader, b.begin() + pe.sectionHeader + 40);
    b.resize(header + 40 * kCount, 0);
    test::putBytes(b, header + 40 * (kCount - 1), rsrc.data(), rsrc.size());
    putU32(b, header + 40 * (kCount - 1) + 16, 0x10000000);  // raw bytes reach the end of the file
    putU16(b, pe.newHeader + 6, std::uint16_t(kCount));
    putU16(b, pe.newHeader + 20, std::uint16_t(header - (pe.newHeader + 24)));

    const std::uint32_t group = std::uint32_t(b.size());
    putU16(b, group + 2, 1);
    putU16(b, group + 4, std::uint16_t(iconCount));
    for (std::uint32_t i = 0; i < iconCount; ++i) putU16(b, group + 6 + 14 * i + 12, std::uint16_t(i + 1));
    putU32(b, pe.groupEntry, 0x1000 + group - 0x200);
    const std::uint32_t data = std::uint32_t(b.size());
    putU32(b, data, 0x7FFF0000);
    putU32(b, data + 4, 8);
    const std::uint32_t language = data + 16;
    putU16(b, language + 14, 1);
    putU32(b, language + 20, data - pe.root);
    const std::uint32_t icons = language + 24;
    putU16(b, icons + 14, std::uint16_t(iconCount));
    for (std::uint32_t i = 0; i < iconCount; ++i) {
        putU32(b, icons + 16 + 8 * i, i + 1);
        putU32(b, icons + 20 + 8 * i, 0x80000000u | (language - pe.root));
    }
    putU32(b, pe.root + 20, 0x80000000u | (icons - pe.root));
    return b;
}

TEST(IconResources, WorkStaysBoundedOnHostileCounts) {
    // A few icons: the platform skips each image that lies in no section.
    EXPECT_TRUE(inFile(manySectionsAndIcons(16)));
    // 32767 of them would take two billion header reads: capped, and taken
    // as out of place.
    EXPECT_FALSE(inFile(manySectionsAndIcons(0x7FFF)));
}

#ifndef _WIN32
namespace fs = std::filesystem;

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Bytes bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    return bytes;
}

std::vector<fs::path> filesIn(const char* dir) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(IconResourcesRealFiles, EveryWineFileIsInPlace) {
    std::size_t seen = 0;
    for (const char* dir : {"/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows",
                            "/usr/share/wine/fonts"})
        for (const fs::path& file : filesIn(dir)) {
            EXPECT_TRUE(inFile(readFile(file))) << file;
            ++seen;
        }
    if (seen == 0) GTEST_SKIP() << "Wine's files are not installed";
}

// A cut changes no value the walk reads, only whether it still lies inside:
// the cut file is in place exactly when it is empty, when it ends at or
// before e_lfanew (the platform stops there), or when it keeps the whole
// extent the walk reads of the full file.
TEST(IconResourcesRealFiles, TruncationsAreInPlaceExactlyWhenTheyKeepWhatIsRead) {
    const char* const dir = "/usr/lib/i386-linux-gnu/wine/i386-windows/";
    int tried = 0;
    for (const char* name : {"notepad.exe", "winemine.exe", "cmd.exe", "taskmgr.exe", "comdlg32.dll"}) {
        const fs::path path = fs::path(dir) / name;
        if (!fs::exists(path)) continue;
        ++tried;
        const Bytes full = readFile(path);
        const IconReadCheck whole = check(full);
        ASSERT_TRUE(whole.inFile) << name;
        const std::uint32_t newHeader = test::getU32(full, test::kLfanewField);
        std::vector<std::uint64_t> lengths;
        for (std::uint64_t cut = 0; cut < 0x400 && cut < full.size(); ++cut) lengths.push_back(cut);
        for (std::uint64_t cut = whole.extent - std::min<std::uint64_t>(whole.extent, 64);
             cut < whole.extent + 64 && cut < full.size(); ++cut)
            lengths.push_back(cut);
        for (std::uint64_t cut = 0x400; cut < full.size(); cut += 997) lengths.push_back(cut);
        for (std::uint64_t cut : lengths) {
            const Bytes part(full.begin(), full.begin() + std::ptrdiff_t(cut));
            const bool expected = cut == 0 || (cut >= 0x40 && cut <= newHeader) || cut >= whole.extent;
            EXPECT_EQ(inFile(part), expected) << name << " cut at " << cut << " of extent " << whole.extent;
        }
    }
    if (tried == 0) GTEST_SKIP() << "Wine's programs are not installed";
}
#endif

}  // namespace
}  // namespace vost
