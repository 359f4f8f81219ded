// The whole headless scan over the fuzzer's bytes: the input is a set of
// files separated by the marker "#VF#". The first is the selected file; each
// other one answers the module search for one referenced name, in the order
// the names are first searched, so the root's imports (and theirs) resolve to
// fuzzer-made files. Once those run out, a name resolves by its hash to one of
// the files (the root included, which makes cycles) or to nothing. The last
// file of a set, when it holds an API set schema (an ".apiset" section, or
// the schema itself), is the schema of both families, so contract names are
// mapped through it before the search. The final byte's low bit asks for
// delay-loaded modules too; the scanned tree is then checked as vostscan
// --check checks it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "analysis/api_set_schema.h"
#include "component/dependency_extension.h"
#include "page/clipboard_text.h"
#include "page/module_list.h"
#include "page/scan.h"
#include "platform/memory/memory_list.h"
#include "platform/memory/memory_tree.h"
#include "scanner/check_json.h"
#include "tests/support/file_set_platform.h"

namespace {

constexpr char kMarker[] = "#VF#";
constexpr std::size_t kMarkerLength = 4;
constexpr std::size_t kMaxFiles = 8;

class FuzzFileSet : public vost::test::FileSetPlatform {
public:
    std::vector<std::string> paths;  // paths[0] is the selected file

    // The schema read from `bytes` (kept), if any.
    void useSchema(const vost::test::Bytes& bytes) {
        schemaBytes_ = bytes;
        const vost::ByteView file(schemaBytes_.data(), schemaBytes_.size());
        vost::ByteView section;
        if (!vost::findApiSetSection(file, section)) section = file;
        hasSchema_ = vost::parseApiSetSchema(section, schema_);
    }
    const vost::ApiSetSchema* apiSetSchema(vost::ModuleBits) override { return hasSchema_ ? &schema_ : nullptr; }

    std::string searchModule(const char* name, vost::ModuleBits) override {
        const std::string key = vost::test::asciiLowerCopy(name);
        auto it = answers_.find(key);
        if (it == answers_.end()) {
            std::string path;
            if (next_ < paths.size()) {
                path = paths[next_++];
            } else {
                std::uint32_t hash = 2166136261u;
                for (unsigned char c : key) hash = (hash ^ c) * 16777619u;
                const std::size_t pick = hash % (paths.size() + 1);
                if (pick < paths.size()) path = paths[pick];
            }
            it = answers_.emplace(key, path).first;
        }
        return it->second;
    }

private:
    std::map<std::string, std::string> answers_;
    std::size_t next_ = 1;
    vost::test::Bytes schemaBytes_;
    vost::ApiSetSchema schema_;
    bool hasSchema_ = false;
};

std::vector<vost::test::Bytes> splitFiles(const std::uint8_t* data, std::size_t size) {
    // memchr for the marker's first byte: one call per candidate rather than
    // one comparison call per input byte, which the fuzzer's hooks make slow.
    std::vector<vost::test::Bytes> files(1);
    std::size_t start = 0;
    std::size_t i = 0;
    while (files.size() < kMaxFiles && i + kMarkerLength <= size) {
        const void* hit = std::memchr(data + i, kMarker[0], size - kMarkerLength + 1 - i);
        if (!hit) break;
        i = std::size_t(static_cast<const std::uint8_t*>(hit) - data);
        if (data[i + 1] == std::uint8_t(kMarker[1]) && data[i + 2] == std::uint8_t(kMarker[2]) &&
            data[i + 3] == std::uint8_t(kMarker[3])) {
            files.back().assign(data + start, data + i);
            files.emplace_back();
            i += kMarkerLength;
            start = i;
        } else {
            ++i;
        }
    }
    files.back().assign(data + start, data + size);
    return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vost;
    auto platform = std::make_shared<FuzzFileSet>();
    const std::vector<test::Bytes> files = splitFiles(data, size);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string path = i == 0 ? "C:\\Fuzz\\Subject.exe" : "c:\\fuzz\\m" + std::to_string(i) + ".dll";
        platform->paths.push_back(path);
        platform->addFile(path, files[i]);
    }
    if (files.size() > 1) platform->useSchema(files.back());

    DependencyExtension ext;
    auto tree = std::make_shared<MemoryTree>();
    auto list = std::make_shared<MemoryList>();
    ext.tree = tree;
    ext.list = list;
    ext.platform = platform;
    ext.selectedPath = platform->paths[0];
    ext.delayLoads = size > 0 && (data[size - 1] & 1);

    const int result = scanSelectedFile(ext);
    if (result != 0 && result != 1) __builtin_trap();
    // One file mapped at a time, and every view released.
    if (platform->openMappings != 0 || platform->maxOpenMappings > 1) __builtin_trap();
    // The root is always the first row; a root that could not be walked has no child.
    if (list->rowCount() < 1 || list->rowNode(0) != tree->itemNode(tree->rootItem())) __builtin_trap();
    if (result == 0 && tree->firstChild(tree->rootItem())) __builtin_trap();
    // Each module is examined once: no more maps than nodes.
    if (std::size_t(platform->mapAttempts) > ext.nodes->size()) __builtin_trap();

    // What the user can do with the result: sort by every column, copy the list.
    for (int column = 0; column < kColumnCount; ++column) sortModuleList(ext, column);
    const std::string text = clipboardText(*list, kColumnTitles);
    if (text.empty()) __builtin_trap();

    // The check of the tree: one file mapped at a time, findings bounded by
    // what the modules import, and the same findings from a fresh cache.
    CheckSettings settings;
    settings.delayLoads = ext.delayLoads;
    const auto findings = [&] {
        CheckCache cache;
        const ClosureCheck check = checkClosure(*tree, *platform, cache, "c:\\fuzz", settings, false);
        std::string all;
        for (const CheckedModule& m : check.modules) {
            if (m.check->findings.size() > std::size_t(m.check->modules) + m.check->functions) __builtin_trap();
            for (const Finding& f : m.check->findings)
                all += std::to_string(int(f.kind)) + f.module + '!' + f.function + std::to_string(f.ordinal) + f.reason + '\n';
        }
        return all;
    };
    platform->maxOpenMappings = 0;
    const std::string once = findings();
    if (platform->openMappings != 0 || platform->maxOpenMappings > 1) __builtin_trap();
    if (findings() != once) __builtin_trap();
    return 0;
}
