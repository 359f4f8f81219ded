// The icon-reading check against the platform's own icon reader: a file the
// check lets through never makes the platform fault, sound files keep their
// own icons, and damaged ones get their type's icon without a fault.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "analysis/icon_resources.h"
#include "platform/win32/fault_guard.h"
#include "platform/win32/file_blocks.h"
#include "platform/win32/win32_platform.h"
#include "tests/support/corrupted_files.h"
#include "tests/support/icon_images.h"
#include "tests/windows/icons_from_files.h"
#include "tests/windows/temp_folder.h"

namespace vost {
namespace {

using test::Bytes;
using test::TempFolder;

std::string asText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

bool checkFile(const std::string& path) {
    const std::unique_ptr<FileBlocks> file = FileBlocks::open(path.c_str());
    return file && iconReadStaysInFile(file->view());
}

// The platform's reader, as the shell's icon cache calls it: the first icon
// at one size. Plain data only: a fault abandons the call.
struct Extraction {
    const char* path;
    int size;
    UINT count;
    HICON icon;
};

void extract(void* argument) {
    Extraction& e = *static_cast<Extraction*>(argument);
    e.count = PrivateExtractIconsA(e.path, 0, e.size, e.size, &e.icon, nullptr, 1, 0);
}

// True when the platform read the file's icon at both sizes without a fault.
bool platformReadsWithoutFault(const std::string& path, bool* gotIcon = nullptr) {
    bool icons = true;
    for (int size : {16, 32}) {
        Extraction e{path.c_str(), size, 0, nullptr};
        if (!runGuarded(&extract, &e)) return false;
        icons = icons && e.count == 1 && e.icon;
        if (e.icon) DestroyIcon(e.icon);
    }
    if (gotIcon) *gotIcon = icons;
    return true;
}

std::vector<std::pair<std::string, Bytes>> builderImages() {
    return {{"image.exe", test::buildIconPe().bytes},
            {"image64.exe", test::buildIconPe(true).bytes},
            {"image16.exe", test::buildIconNe().bytes},
            {"image.ico", test::buildIconFile()}};
}

TEST(IconCheck, BuilderImagesAreInPlaceAndShowTheirOwnIcons) {
    TempFolder folder;
    test::IconsFromFiles fromFiles;
    Win32Platform platform{PlatformOptions{}};
    const int programType = test::shellTypeIcon(".exe");
    for (const auto& [name, bytes] : builderImages()) {
        SCOPED_TRACE(name);
        const std::string path = folder.write(name, asText(bytes));
        EXPECT_TRUE(checkFile(path));
        bool gotIcon = false;
        EXPECT_TRUE(platformReadsWithoutFault(path, &gotIcon));
        EXPECT_TRUE(gotIcon);
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0) {
            int icon = -1;
            ASSERT_TRUE(platform.smallIconIndex(path.c_str(), icon));
            EXPECT_EQ(icon, test::shellSmallIcon(path));
            EXPECT_NE(icon, programType);  // the file's own icon
        }
    }
}

TEST(IconCheck, DamagedProgramsGetTheirTypesIconWithoutAFault) {
    TempFolder folder;
    test::IconsFromFiles fromFiles;
    Win32Platform platform{PlatformOptions{}};
    const int programType = test::shellTypeIcon(".exe");
    test::IconPe pe = test::buildIconPe();
    test::putU32(pe.bytes, pe.root + 16 + 8 + 4, 0x80000000u | 0x7FFFF000u);  // group directory far outside
    const std::string path = folder.write("damaged.exe", asText(pe.bytes));
    EXPECT_FALSE(checkFile(path));
    int icon = -1;
    ASSERT_TRUE(platform.smallIconIndex(path.c_str(), icon));
    EXPECT_EQ(icon, programType);
    EXPECT_FALSE(platformReadsWithoutFault(path));  // what the check keeps the shell from
}

// Damaged copies of the builder's images and of the prefix's programs with
// icons. Every copy the check lets through is read by the platform without a
// fault; of those it holds back, the platform faults on some.
TEST(IconCheck, FilesTheCheckLetsThroughNeverFaultThePlatformsReader) {
    TempFolder folder;
    std::vector<std::pair<std::string, Bytes>> sources = builderImages();
    for (const char* name : {"notepad.exe", "winemine.exe", "iexplore.exe", "msiexec.exe"}) {
        const std::string text = test::readWholeFile(test::systemFolder() + "\\" + name);
        if (!text.empty()) sources.emplace_back(name, Bytes(text.begin(), text.end()));
    }
    int copies = 0, accepted = 0, acceptedFaults = 0, heldBack = 0, heldBackFaults = 0;
    std::uint32_t seed = 14;
    for (const auto& [name, bytes] : sources) {
        const std::string extension = name.substr(name.rfind('.'));
        for (const test::DamagedCopy& copy : test::damagedCopies(bytes, 40, seed++)) {
            const std::string path = folder.write("copy" + std::to_string(copies++) + extension, asText(copy.bytes));
            const bool inPlace = checkFile(path);
            const bool clean = platformReadsWithoutFault(path);
            (inPlace ? accepted : heldBack)++;
            if (!clean) (inPlace ? acceptedFaults : heldBackFaults)++;
            EXPECT_TRUE(clean || !inPlace) << name << " " << copy.label;
            DeleteFileA(path.c_str());
        }
    }
    std::printf("%d damaged copies: %d let through (%d faults), %d held back (%d of them fault the platform)\n",
                copies, accepted, acceptedFaults, heldBack, heldBackFaults);
    EXPECT_GT(accepted, 0);
    EXPECT_GT(heldBackFaults, 0);
}

}  // namespace
}  // namespace vost
