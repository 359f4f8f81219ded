// Images made to cost the walkers work out of all proportion: section tables
// of every shape, checked against the one-RVA lookup, the largest section
// table under megabytes of descriptors, and references by the thousand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "analysis/scan_module.h"
#include "tests/support/image_builder.h"
#include "tests/support/test_scan.h"

namespace vost {
namespace {

using test::Bytes;

constexpr std::uint32_t kNewHeader = 0x80;
constexpr std::uint32_t kOptionalSize = 224;
constexpr std::uint32_t kSectionTable = kNewHeader + 24 + kOptionalSize;
constexpr std::uint32_t kDirectoryRva = 0x1000;

struct Section {
    std::uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
};

std::uint32_t sectorAfter(std::uint32_t offset) { return (offset + 0x1FF) & ~0x1FFu; }

// A PE image: the import directory at kDirectoryRva in section
// `directorySection`, which maps it to `descriptorsAt` (moved up to its
// 512-byte sector, where the loader reads from); descriptors naming
// `nameRvas`; then, from the next sector, `tail` bytes.
Bytes buildImage(std::vector<Section> sections, std::uint32_t descriptorsAt,
                 const std::vector<std::uint32_t>& nameRvas, const Bytes& tail, std::size_t directorySection = 0) {
    descriptorsAt = sectorAfter(descriptorsAt);
    Bytes b(descriptorsAt, 0);
    test::putText(b, 0, "MZ");
    test::putU32(b, test::kLfanewField, kNewHeader);
    test::putText(b, kNewHeader, std::string("PE\0\0", 4));
    test::putU16(b, kNewHeader + 6, std::uint16_t(sections.size()));
    test::putU16(b, kNewHeader + 20, std::uint16_t(kOptionalSize));
    test::putU32(b, kNewHeader + 128, kDirectoryRva);
    const std::uint32_t directorySize = std::uint32_t(20 * (nameRvas.size() + 1));
    sections[directorySection] = Section{directorySize, kDirectoryRva, directorySize, descriptorsAt};
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const std::size_t h = kSectionTable + 40 * i;
        test::putU32(b, h + 8, sections[i].virtualSize);
        test::putU32(b, h + 12, sections[i].virtualAddress);
        test::putU32(b, h + 16, sections[i].rawSize);
        test::putU32(b, h + 20, sections[i].rawPointer);
    }
    for (std::size_t i = 0; i < nameRvas.size(); ++i) {
        const std::size_t d = descriptorsAt + 20 * i;
        test::putU32(b, d + 0, 1);
        test::putU32(b, d + 12, nameRvas[i]);
        test::putU32(b, d + 16, 1);
    }
    test::putU32(b, descriptorsAt + 20 * nameRvas.size() + 16, 0);  // the terminator
    b.resize(sectorAfter(std::uint32_t(b.size())));
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

std::vector<std::string> walkedNames(const Bytes& bytes, int& result, bool* cut = nullptr) {
    test::TestScan scan;
    ModuleNode& root = scan.root("c:\\app\\subject.dll");
    result = walkPeImports(scan.ctx, root, ByteView(bytes.data(), bytes.size()), kNewHeader);
    if (cut) *cut = root.referencesCut;
    return scan.referencedNames();
}

// The byte the loader maps at `rva`, by its rules taken one by one: the last
// section whose copied pages hold it, else the headers' page, else zero;
// nothing past the end of the image.
std::optional<std::uint8_t> loaderByte(const std::vector<Section>& sections, const Bytes& file, std::uint64_t rva) {
    const auto page = [](std::uint64_t n) { return (n + 0xFFF) & ~std::uint64_t(0xFFF); };
    const auto fileByte = [&](std::uint64_t at) { return at < file.size() ? file[at] : std::uint8_t(0); };
    std::uint64_t imageEnd = page(std::min<std::uint64_t>(kSectionTable + 40 * sections.size(), file.size()));
    std::optional<std::uint8_t> found;
    for (const Section& s : sections) {
        const std::uint64_t size = page(s.virtualSize ? s.virtualSize : s.rawSize);
        const std::uint64_t length = std::min<std::uint64_t>(((s.rawSize + (s.rawPointer & 0x1FF)) + 0x1FF) & ~0x1FFull, size);
        if (s.rawPointer == 0 || length == 0) continue;
        const std::uint64_t end = std::min<std::uint64_t>(s.virtualAddress + page(length), std::uint64_t(1) << 32);
        imageEnd = std::max(imageEnd, end);
        if (rva >= s.virtualAddress && rva < end)
            found = rva - s.virtualAddress < length ? fileByte((s.rawPointer & ~0x1FFu) + rva - s.virtualAddress) : 0;
    }
    if (rva >= imageEnd) return std::nullopt;
    if (found) return found;
    const std::uint64_t headers = std::min<std::uint64_t>(kSectionTable + 40 * sections.size(), file.size());
    return rva < headers ? file[rva] : 0;
}

// Random section tables, small and large (overlapping, empty, wrapping past
// 4 GiB, mapping outside the file) and names at random RVAs: the walk finds
// exactly the names that the loader's bytes, taken one by one, spell.
TEST(HostilePe, WalkResolvesNamesAsTheLoaderMapsThem) {
    std::mt19937 random(20261207);
    auto pick = [&](std::uint32_t low, std::uint32_t high) {
        return std::uniform_int_distribution<std::uint32_t>(low, high)(random);
    };
    for (int round = 0; round < 300; ++round) {
        std::vector<Section> sections(pick(1, 3) == 1 ? pick(33, 90) : pick(1, 12));  // small and large tables
        for (Section& s : sections) {
            s.virtualAddress = pick(0, 5) == 0 ? pick(0xFFFFF000u, 0xFFFFFFFFu) : pick(0, 0x3000);
            s.virtualSize = pick(0, 4) == 0 ? 0 : pick(1, 0x1800);
            s.rawSize = pick(0, 0x1800);
            s.rawPointer = pick(0, 0x1400);
        }
        const std::uint32_t descriptorsAt = kSectionTable + 40 * std::uint32_t(sections.size()) + 16;
        std::vector<std::uint32_t> rvas(pick(1, 20));
        for (std::uint32_t& rva : rvas) rva = pick(0, 5) == 0 ? pick(0xFFFFF000u, 0xFFFFFFFFu) : pick(1, 0x4000);
        // Text at every offset: runs of one letter, each ending in a zero.
        Bytes tail(0x1000);
        for (std::size_t i = 0; i < tail.size(); ++i) tail[i] = i % 7 == 6 ? 0 : std::uint8_t('a' + (i / 7) % 26);
        // The directory's section comes last, so no other overwrites it.
        const Bytes image = buildImage(sections, descriptorsAt, rvas, tail, sections.size() - 1);
        const std::uint32_t directorySize = std::uint32_t(20 * (rvas.size() + 1));
        sections.back() = Section{directorySize, kDirectoryRva, directorySize, sectorAfter(descriptorsAt)};

        std::vector<std::string> expected;
        for (std::uint32_t rva : rvas) {
            std::string name;
            std::optional<std::uint8_t> c;
            for (std::uint64_t at = rva; name.size() < kPathCapacity && (c = loaderByte(sections, image, at)) && *c; ++at)
                name.push_back(char(*c));
            if (!c || *c || name.empty()) continue;  // past the image, too long, or empty
            if (name.size() < kPathCapacity) expected.push_back(name);
        }
        int result = 0;
        EXPECT_EQ(walkedNames(image, result), expected) << "round " << round;
        EXPECT_EQ(result, 1);
    }
}

// 65535 sections that hold none of the names, under 200000 descriptors:
// every descriptor is walked, none names a module, and the walk ends (a
// lookup that read the whole table for each name would take minutes).
TEST(HostilePe, LargestSectionTableUnderManyDescriptors) {
    std::vector<Section> sections(65535, Section{0x10, 0x20000000, 0x10, 0});
    const std::uint32_t descriptorsAt = kSectionTable + 40 * 65535;
    const std::vector<std::uint32_t> rvas(200000, test::kRvaInNoSection);
    int result = 0;
    EXPECT_TRUE(walkedNames(buildImage(sections, descriptorsAt, rvas, {}), result).empty());
    EXPECT_EQ(result, 1);
}

// Thousands of descriptors naming one module: the walk hands on the first
// kMaxReferencesPerModule of them and stops there, and marks the module as
// cut only when a later descriptor still names one.
TEST(HostilePe, ReferencesStopAtTheBound) {
    struct Case {
        std::uint32_t named, unnamedAfter;
        bool cut;
    };
    for (const Case& c : {Case{kMaxReferencesPerModule + 2000, 0, true}, Case{kMaxReferencesPerModule, 0, false},
                          Case{kMaxReferencesPerModule, 500, false}, Case{kMaxReferencesPerModule + 1, 0, true}}) {
        SCOPED_TRACE(c.named);
        const std::uint32_t count = c.named + c.unnamedAfter;
        const std::uint32_t descriptorsAt = kSectionTable + 2 * 40;
        const std::uint32_t namesAt = sectorAfter(sectorAfter(descriptorsAt) + 20 * (count + 1));
        std::vector<Section> sections{Section{}, Section{0x100, 0x80000, 0x100, namesAt}};
        std::vector<std::uint32_t> rvas(c.named, 0x80000);
        rvas.resize(count, test::kRvaInNoSection);
        int result = 0;
        bool cut = false;
        const Bytes name = test::bytesOf(std::string("a.dll\0", 6));
        const std::vector<std::string> names =
            walkedNames(buildImage(sections, descriptorsAt, rvas, name), result, &cut);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(names, std::vector<std::string>(kMaxReferencesPerModule, "a.dll"));
        EXPECT_EQ(cut, c.cut);
    }
}

// An NE file referencing more modules than the bound: the first
// kMaxReferencesPerModule in table order become children.
TEST(HostileNe, ReferencesStopAtTheBound) {
    for (int extra : {500, 0}) {
        test::NeImageLayout layout;
        std::vector<std::size_t> all;
        const char* digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
        for (int i = 0; i < kMaxReferencesPerModule + extra; ++i) {
            layout.names.push_back(std::string{'M', digits[i / 1296], digits[i / 36 % 36], digits[i % 36]});
            all.push_back(std::size_t(i));
        }
        layout.reference(all);
        const test::NeImage image = test::buildNe(layout);
        test::TestScan scan;
        ModuleNode& root = scan.root("c:\\app\\subject.exe");
        const ByteView view(image.bytes.data(), image.bytes.size());
        EXPECT_EQ(walkNeModuleRefs(scan.ctx, root, view, image.newHeader), 1);
        const std::vector<std::string> names = scan.referencedNames();
        ASSERT_EQ(names.size(), std::size_t(kMaxReferencesPerModule));
        EXPECT_EQ(names.front(), "M000.DLL");
        EXPECT_EQ(names.back(), layout.names[kMaxReferencesPerModule - 1] + ".DLL");
        EXPECT_EQ(root.referencesCut, extra > 0);
    }
}

}  // namespace
}  // namespace vost
