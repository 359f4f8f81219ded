// The export, import-function and delay-load readers straight on the
// fuzzer's bytes: the first four bytes choose the new-header offset, the rest
// is the image. Each reader must give the same record over the image in
// memory and over the same bytes read a block at a time, stay within its
// bounds, and every lookup must agree with the tables it was built from.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "analysis/module_functions.h"
#include "analysis/pe_delay_imports.h"
#include "analysis/pe_exports.h"
#include "analysis/pe_import_functions.h"
#include "analysis/image_map.h"
#include "fuzz/buffer_block_reader.h"

namespace {
using namespace vost;

void check(bool condition) {
    if (!condition) __builtin_trap();
}

std::string modulesText(const std::vector<ImportedModule>& modules, std::uint64_t size) {
    std::string text;
    std::uint64_t nameBytes = 0;
    for (const ImportedModule& m : modules) {
        check(m.functions.size() <= kMaxThunksPerModule);
        text += m.name + (m.cut ? "|cut" : "|") + (m.fromAddressTable ? "a" : "n");
        for (const ImportedFunction& f : m.functions) {
            text += ' ' + std::to_string(int(f.kind)) + ':' + std::to_string(f.ordinal) + ':' +
                    std::to_string(f.hint) + ':' + f.name;
            nameBytes += f.name.size();
        }
        text += '\n';
    }
    check(nameBytes <= size + 64 * 1024);
    return text;
}

std::string exportsText(const PeExports& ex, std::uint64_t size) {
    check(ex.addresses.size() <= kMaxExportAddresses);
    check(ex.text.size() <= size + 64 * 1024);
    std::string text = std::to_string(ex.present) + ' ' + std::to_string(ex.faults) + ' ' +
                       std::to_string(ex.ordinalBase) + ' ' + ex.moduleName + '\n';
    for (std::uint32_t a : ex.addresses) text += std::to_string(a) + ' ';
    for (const ExportName& n : ex.names) text += std::string(ex.nameOf(n)) + '@' + std::to_string(n.index) + ' ';
    for (const ExportForwarder& f : ex.forwarders)
        text += std::to_string(f.index) + '>' + ex.text.substr(f.textAt, f.textLength) + ' ';
    return text;
}

bool same(const ExportTarget& a, const ExportTarget& b) {
    return a.kind == b.kind && a.rva == b.rva && a.forwarder == b.forwarder;
}

// Lookups against the tables: a name answers as its first entry in table
// order; an ordinal as its address-table entry; the program's own imports
// are looked up as a loader would.
void checkLookups(const PeExports& ex, const std::vector<ImportedModule>& imports) {
    std::map<std::string_view, std::uint32_t> first;
    for (const ExportName& n : ex.names) first.emplace(ex.nameOf(n), n.index);
    for (const auto& [name, index] : first) check(same(ex.findByName(name), ex.atIndex(index)));
    // The loader's lookup: a hint naming an entry finds that entry; on a
    // sorted table the search finds what findByName finds; and whatever it
    // finds carries the name looked for.
    for (const ExportName& n : ex.names) {
        check(same(ex.findByNameAsLoader(ex.nameOf(n), std::int32_t(n.position)), ex.atIndex(n.index)));
        const ExportTarget searched = ex.findByNameAsLoader(ex.nameOf(n), -1);
        if (ex.namesSorted) check(same(searched, ex.findByName(ex.nameOf(n))));
    }
    for (std::uint32_t i = 0; i < ex.addresses.size() && i < 64; ++i) {
        const ExportTarget t = ex.findByOrdinal(ex.ordinalBase + i);
        check(same(t, ex.atIndex(i)));
        ForwarderTarget parsed;
        if (t.kind == ExportKind::Forwarder && parseForwarder(t.forwarder, parsed))
            check(parsed.module.size() + parsed.function.size() < t.forwarder.size());
    }
    check(ex.findByOrdinal(ex.ordinalBase - 1).kind == ExportKind::NotExported);
    // The shown rows: one per readable name plus one per unnamed nonzero
    // entry, each what its entry holds.
    const std::vector<ExportRow> rows = exportRows(ex);
    check(rows.size() <= ex.addresses.size() + ex.names.size());
    for (const ExportRow& row : rows) {
        const ExportTarget t = ex.atIndex(row.index);
        check(t.kind != ExportKind::NotExported || row.hint >= 0);
        check(row.forwarded == (t.kind == ExportKind::Forwarder) && row.forwarder == t.forwarder);
        check(row.hint < 0 || (row.name.data() >= ex.text.data() &&
                              row.name.data() + row.name.size() <= ex.text.data() + ex.text.size()));
    }
    for (const ImportedModule& m : imports)
        for (const ImportedFunction& f : m.functions) {
            if (f.kind == ImportKind::ByName) {
                const auto it = first.find(f.name);
                check(same(ex.findByName(f.name), it == first.end() ? ExportTarget{} : ex.atIndex(it->second)));
            } else if (f.kind == ImportKind::ByOrdinal) {
                ex.findByOrdinal(f.ordinal);
            }
        }
}

struct Read {
    std::string exports, imports, delay;
};

Read readAll(const ByteView& image, std::uint32_t newHeader, bool lookups) {
    const ImageMap map(image, newHeader);
    const PeExports ex = readPeExports(image, newHeader, map);
    const std::vector<ImportedModule> imports = readPeImportFunctions(image, newHeader, map);
    const std::vector<ImportedModule> delay = readPeDelayImports(image, newHeader, map);
    if (lookups) checkLookups(ex, imports);
    return Read{exportsText(ex, image.size()), modulesText(imports, image.size()), modulesText(delay, image.size())};
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::uint32_t newHeader = std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 |
                                    std::uint32_t(data[2]) << 16 | std::uint32_t(data[3]) << 24;
    // libFuzzer's buffer has the input's exact size, so any overrun is seen.
    const Read inMemory = readAll(ByteView(data + 4, size - 4), newHeader, true);
    fuzz::BufferBlockReader blocks(data + 4, size - 4);
    const Read byBlocks = readAll(blocks.view(), newHeader, false);
    check(inMemory.exports == byBlocks.exports && inMemory.imports == byBlocks.imports &&
          inMemory.delay == byBlocks.delay);
    return 0;
}
