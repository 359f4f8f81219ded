// Damaged copies of real executables through the whole scan: every
// truncation length and bit flips over every structure the readers use, each
// scanned as the selected file of a page over in-memory controls, with its
// references resolving to intact files. Every scan must end with a documented
// outcome; running under ASan (the files are mapped as exact-size copies)
// shows any read outside a file.
//
// Two depths: the "Full" suite truncates at every length and flips every bit
// of those structures (native build, labelled slow); the "Sampled" suite runs
// in the sanitize build and takes every length in the first KiB and within 16
// bytes of each structure's start and end plus every 509th length beyond, and
// one bit of each structure byte, its position cycling with the offset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "analysis/scan_module.h"
#include "component/dependency_extension.h"
#include "page/scan.h"
#include "platform/common/version_resource.h"
#include "platform/memory/memory_list.h"
#include "platform/memory/memory_tree.h"
#include "tests/support/file_set_platform.h"
#include "tests/support/image_builder.h"

namespace vost::test {
namespace {

const char* const kPeFolder = "/usr/lib/i386-linux-gnu/wine/i386-windows/";
const char* const kFontFolder = "/usr/share/wine/fonts/";

// Small Wine PE files of every kind the shell might be asked about.
const char* const kPeFiles[] = {
    "cng.sys",      "comm.drv16",    "cryptdll.dll", "icmp.dll",       "imm.dll16",
    "irprops.cpl",  "lz32.dll",      "mouse.drv16",  "msimsg.dll",     "ole2thk.dll16",
    "stdole32.tlb", "activeds.tlb",  "vcruntime140_1.dll", "winnls32.dll", "control.exe",
    "cryptsp.dll",  "ctl3d32.dll",   "expand.exe",   "hostname.exe",   "icinfo.exe",
    "ifsmgr.vxd",   "lodctr.exe",    "vnetbios.vxd", "wing32.dll",     "winnls.dll16",
    "winver.exe",   "wow32.dll",     "write.exe",    "msg711.acm",     "msisys.ocx"};
// NE fonts.
const char* const kFontFiles[] = {
    "coure.fon",   "couree.fon",   "coureg.fon", "courer.fon",  "couret.fon",
    "cvgasys.fon", "hvgasys.fon",  "jsmalle.fon", "jvgafix.fon", "jvgasys.fon",
    "smalle.fon",  "smallee.fon",  "sserife.fon", "sseriff.fon", "ssee874.fon",
    "svgasys.fon", "vgafix.fon",   "vgasys.fon",  "vgas1255.fon", "vgasyse.fon"};

// The folder intact modules are found in, and the selected file's own.
const char* const kSystemFolder = "c:\\windows\\system32";
const char* const kSubjectFolder = "c:\\subject\\";

struct Sample {
    std::string name;
    Bytes bytes;
    std::vector<bool> structure;   // bytes the readers interpret
    std::vector<std::uint64_t> edges;  // starts and ends of those structures
};

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Marks [offset, offset + length) (clipped to the file) as structure.
void mark(Sample& s, std::uint64_t offset, std::uint64_t length) {
    if (offset >= s.bytes.size()) return;
    const std::uint64_t end = std::min<std::uint64_t>(s.bytes.size(), offset + length);
    for (std::uint64_t i = offset; i < end; ++i) s.structure[i] = true;
    s.edges.push_back(offset);
    s.edges.push_back(end);
}

// The structures of an intact file, found as the readers find them: the DOS
// header, the PE headers, section table, import descriptors and names, or the
// NE header, module-reference, imported-names and resource tables; and the
// start of the version block.
void findStructures(Sample& s) {
    const ByteView image(s.bytes.data(), s.bytes.size());
    s.structure.assign(s.bytes.size(), false);
    mark(s, 0, 64);
    std::uint32_t nh = 0;
    std::uint16_t ne = 0;
    if (!image.readU32(0x3C, nh)) return;
    if (image.readU16(nh, ne) && ne == 0x454E) {
        std::uint16_t entries = 0, resources = 0, modules = 0, moduleTable = 0, names = 0;
        image.readU16(nh + 4, entries);
        image.readU16(nh + 0x24, resources);
        image.readU16(nh + 30, modules);
        image.readU16(nh + 40, moduleTable);
        image.readU16(nh + 42, names);
        mark(s, nh, 64);
        mark(s, nh + moduleTable, 2u * modules);
        if (entries > names) mark(s, nh + names, std::min(512, entries - names));
        mark(s, nh + resources, 256);
    } else {
        std::uint16_t sections = 0, optional = 0;
        std::uint32_t importRva = 0;
        image.readU16(nh + 6, sections);
        image.readU16(nh + 20, optional);
        image.readU32(nh + 128, importRva);
        mark(s, nh, 24u + optional);
        mark(s, nh + 24u + optional, 40u * sections);
        const std::uint32_t first = rvaToFileOffset(image, nh, importRva);
        if (importRva != 0 && first != 0xFFFFFFFFu) {
            std::uint64_t d = first;
            for (;; d += 20) {
                std::uint32_t thunk = 0, stamp = 0, name = 0, firstThunk = 0;
                if (!image.readU32(d, thunk) || !image.readU32(d + 4, stamp) ||
                    !image.readU32(d + 12, name) || !image.readU32(d + 16, firstThunk))
                    break;
                if ((stamp == 0 && name == 0) || (thunk == 0 && firstThunk == 0)) break;
                const std::uint32_t at = rvaToFileOffset(image, nh, name);
                std::uint64_t end = at;
                while (end < s.bytes.size() && s.bytes[end] != 0) ++end;
                if (at != 0xFFFFFFFFu) mark(s, at, end + 1 - at);
            }
            mark(s, first, d + 20 - first);
        }
    }
    ByteView version;
    if (findVersionResource(image, version)) mark(s, version.start() - image.start(), 96);
}

// Stand-ins for the system modules the samples reference (the real ones are
// megabytes each): builder images that reference each other, so the closure
// has depth and a cycle.
void addStandIns(FileSetPlatform::FileMap& files) {
    auto pe = [&](const std::string& name, std::vector<std::string> imports) {
        PeImageLayout layout;
        layout.imports = std::move(imports);
        layout.version = FixedFileVersion{0x000A0000, 0x47BA0000, 0x000A0000, 0x47BA0000};
        files[asciiLowerCopy(std::string(kSystemFolder) + "\\" + name)] = buildPe(layout).bytes;
    };
    pe("ntdll.dll", {});
    pe("kernelbase.dll", {"ntdll.dll"});
    pe("kernel32.dll", {"kernelbase.dll", "ntdll.dll"});
    pe("ucrtbase.dll", {"kernel32.dll", "ntdll.dll"});
    pe("advapi32.dll", {"kernel32.dll", "ntdll.dll", "ucrtbase.dll"});
    pe("user32.dll", {"gdi32.dll", "kernel32.dll", "ntdll.dll"});
    pe("gdi32.dll", {"user32.dll", "kernel32.dll"});
    pe("shell32.dll", {"user32.dll", "advapi32.dll"});
    NeImageLayout ne;
    ne.names = {"KERNEL", "USER"};
    ne.reference({0, 1});
    files[asciiLowerCopy(std::string(kSystemFolder) + "\\krnl386.exe")] = buildNe(NeImageLayout{}).bytes;
    files[asciiLowerCopy(std::string(kSystemFolder) + "\\user.exe")] = buildNe(ne).bytes;
}

struct Corpus {
    std::vector<Sample> samples;
    std::shared_ptr<FileSetPlatform::FileMap> files = std::make_shared<FileSetPlatform::FileMap>();
};

const Corpus& corpus() {
    static const Corpus loaded = [] {
        Corpus c;
        auto add = [&](const std::string& folder, const char* name) {
            Sample s{name, readFile(folder + name), {}, {}};
            if (s.bytes.empty()) return;
            findStructures(s);
            (*c.files)[asciiLowerCopy(std::string(kSystemFolder) + "\\" + name)] = s.bytes;
            c.samples.push_back(std::move(s));
        };
        for (const char* name : kPeFiles) add(kPeFolder, name);
        for (const char* name : kFontFiles) add(kFontFolder, name);
        addStandIns(*c.files);
        return c;
    }();
    return loaded;
}

const std::set<std::string>& documentedMessages() {
    static const std::set<std::string> texts{kNotValidFileText, kInvalidExeText, kNeitherPeNorNeText};
    return texts;
}

// Counts over a whole sweep, to show what it covered.
struct Tally {
    int scans = 0;
    int walked = 0;      // result 1
    int withMessage = 0;
    std::set<int> childCounts;
};

// Scans `bytes` as the selected file and checks the outcome.
void scanDamaged(const Sample& sample, Bytes bytes, const std::string& what, Tally& tally) {
    SCOPED_TRACE(sample.name + " " + what);
    auto platform = std::make_shared<FileSetPlatform>();
    platform->shareFiles(corpus().files);
    platform->addSearchFolder(kSystemFolder);
    const std::string subject = std::string(kSubjectFolder) + sample.name;
    platform->addFile(subject, std::move(bytes));

    DependencyExtension ext;
    auto tree = std::make_shared<MemoryTree>();
    auto list = std::make_shared<MemoryList>();
    ext.tree = tree;
    ext.list = list;
    ext.platform = platform;
    ext.selectedPath = subject;

    const int result = scanSelectedFile(ext);
    ++tally.scans;

    ASSERT_TRUE(result == 0 || result == 1) << result;
    for (const std::string& text : platform->messages) ASSERT_EQ(documentedMessages().count(text), 1u) << text;
    // The work is bounded: each view is released, one file is mapped at a
    // time, and no module is examined more often than nodes exist.
    ASSERT_EQ(platform->openMappings, 0);
    ASSERT_LE(platform->maxOpenMappings, 1);
    ASSERT_LE(std::size_t(platform->mapAttempts), ext.nodes->size());
    ASSERT_LE(std::size_t(list->rowCount()), ext.nodes->size());

    const TreeItem root = tree->rootItem();
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(list->rowNode(0), tree->itemNode(root));
    if (!platform->messages.empty()) ++tally.withMessage;
    if (result == 0) {
        // Not walked: no child, no expand button, the root's row alone, and
        // at most the root's own message.
        ASSERT_EQ(tree->firstChild(root), nullptr);
        ASSERT_EQ(tree->itemHasChildren(root), 0);
        ASSERT_EQ(list->rowCount(), 1);
        ASSERT_LE(platform->messages.size(), 1u);
        tally.childCounts.insert(0);
        return;
    }
    ++tally.walked;
    // Walked: every child was resolved, to a file of the set or to the
    // not-found text, and labelled with its name.
    int children = 0;
    for (TreeItem child = tree->firstChild(root); child; child = tree->nextSibling(child)) {
        const ModuleNode* node = tree->itemNode(child);
        ASSERT_NE(node, nullptr);
        ++children;
        const std::string path = node->fullPath;
        ASSERT_TRUE(path == asciiLowerCopy(kFileNotFoundText) || platform->file(path) != nullptr) << path;
        std::string name = node->moduleName;
        for (char& c : name)
            if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        const std::string label = tree->itemLabel(child);
        ASSERT_EQ(label.compare(0, name.size() + 2, name + " ("), 0) << label;
    }
    tally.childCounts.insert(children);
}

Bytes truncated(const Sample& s, std::size_t length) {
    return Bytes(s.bytes.begin(), s.bytes.begin() + std::ptrdiff_t(length));
}

Bytes flipped(const Sample& s, std::size_t offset, int bit) {
    Bytes b = s.bytes;
    b[offset] = std::uint8_t(b[offset] ^ (1u << bit));
    return b;
}

class Corruption : public ::testing::TestWithParam<std::size_t> {
protected:
    void SetUp() override {
        if (GetParam() >= corpus().samples.size()) GTEST_SKIP() << "Wine's files are not installed";
    }
    const Sample& sample() const { return corpus().samples[GetParam()]; }
    void report(const char* sweep, const Tally& t) const {
        std::printf("%s %s: %d scans, %d walked, %d with a message, %zu distinct child counts\n",
                    sample().name.c_str(), sweep, t.scans, t.walked, t.withMessage, t.childCounts.size());
    }
};

// The sampled lengths: the first KiB, around every structure edge, and a
// stride through the rest.
std::vector<std::size_t> sampledLengths(const Sample& s) {
    std::set<std::size_t> lengths;
    for (std::size_t n = 0; n <= 1024 && n <= s.bytes.size(); ++n) lengths.insert(n);
    for (std::uint64_t edge : s.edges)
        for (std::int64_t d = -16; d <= 16; ++d) {
            const std::int64_t n = std::int64_t(edge) + d;
            if (n >= 0 && std::uint64_t(n) <= s.bytes.size()) lengths.insert(std::size_t(n));
        }
    for (std::size_t n = 0; n < s.bytes.size(); n += 509) lengths.insert(n);
    return std::vector<std::size_t>(lengths.begin(), lengths.end());
}

using CorruptionSampled = Corruption;
using CorruptionFull = Corruption;

TEST_P(CorruptionSampled, Truncation) {
    Tally tally;
    for (std::size_t length : sampledLengths(sample())) {
        scanDamaged(sample(), truncated(sample(), length), "cut at " + std::to_string(length), tally);
        if (HasFatalFailure()) return;
    }
    report("sampled truncation", tally);
}

TEST_P(CorruptionSampled, BitFlips) {
    Tally tally;
    const Sample& s = sample();
    for (std::size_t i = 0; i < s.bytes.size(); ++i) {
        if (!s.structure[i]) continue;
        const int bit = int(i % 8);
        scanDamaged(s, flipped(s, i, bit), "bit " + std::to_string(bit) + " of " + std::to_string(i), tally);
        if (HasFatalFailure()) return;
    }
    report("sampled bit flips", tally);
}

TEST_P(CorruptionFull, EveryTruncation) {
    Tally tally;
    for (std::size_t length = 0; length < sample().bytes.size(); ++length) {
        scanDamaged(sample(), truncated(sample(), length), "cut at " + std::to_string(length), tally);
        if (HasFatalFailure()) return;
    }
    report("every truncation", tally);
}

TEST_P(CorruptionFull, EveryStructureBitFlip) {
    Tally tally;
    const Sample& s = sample();
    for (std::size_t i = 0; i < s.bytes.size(); ++i) {
        if (!s.structure[i]) continue;
        for (int bit = 0; bit < 8; ++bit) {
            scanDamaged(s, flipped(s, i, bit), "bit " + std::to_string(bit) + " of " + std::to_string(i), tally);
            if (HasFatalFailure()) return;
        }
    }
    report("every structure bit flip", tally);
}

// The intact files themselves: the baseline the damaged copies start from.
TEST(CorruptionCorpus, IntactFilesScanCleanly) {
    if (corpus().samples.empty()) GTEST_SKIP() << "Wine's files are not installed";
    EXPECT_EQ(corpus().samples.size(), std::size(kPeFiles) + std::size(kFontFiles));
    int walked = 0;
    for (const Sample& s : corpus().samples) {
        Tally tally;
        scanDamaged(s, s.bytes, "intact", tally);
        walked += tally.walked;
        EXPECT_FALSE(s.edges.empty());
    }
    // Most of the samples reference modules (the rest import nothing).
    EXPECT_GT(walked, 35);
}

std::string sampleName(const ::testing::TestParamInfo<std::size_t>& info) {
    std::string name = info.param < corpus().samples.size() ? corpus().samples[info.param].name
                                                            : "missing" + std::to_string(info.param);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

constexpr std::size_t kSampleCount = std::size(kPeFiles) + std::size(kFontFiles);
INSTANTIATE_TEST_SUITE_P(Wine, CorruptionSampled, ::testing::Range<std::size_t>(0, kSampleCount), sampleName);
INSTANTIATE_TEST_SUITE_P(Wine, CorruptionFull, ::testing::Range<std::size_t>(0, kSampleCount), sampleName);

}  // namespace
}  // namespace vost::test
