#include "analysis/pe_exports.h"

#include <algorithm>

#include "analysis/pe_headers.h"
#include "analysis/read_budget.h"
#include "analysis/image_map.h"

namespace vost {

namespace {
constexpr std::uint64_t kExportDirectoryLength = 40;

// `count` entries of `width` bytes from the start of `view`, fetched in one
// read; empty when they do not all lie inside it.
std::vector<std::uint8_t> readTable(const ByteView& view, std::uint64_t count, std::uint64_t width) {
    std::vector<std::uint8_t> bytes;
    if (count == 0 || !view.contains(0, count * width)) return bytes;
    bytes.resize(std::size_t(count * width));
    if (!view.readBytes(0, count * width, bytes.data())) bytes.clear();
    return bytes;
}

std::uint32_t u32At(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}
std::uint16_t u16At(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::uint16_t(b[at] | b[at + 1] << 8);
}
}  // namespace

PeExports readPeExports(const ByteView& image, std::uint64_t newHeader) {
    const ImageMap map(image, newHeader);
    return readPeExports(image, newHeader, map);
}

PeExports readPeExports(const ByteView& image, std::uint64_t newHeader, const ImageMap& map) {
    PeExports ex;
    // The loader looks only at the directories NumberOfRvaAndSizes counts.
    std::uint32_t directoryCount = 0;
    if (!numberOfRvaAndSizes(image, newHeader, directoryCount) || directoryCount <= kExportDirectory)
        return ex;
    const std::uint64_t entry =
        newHeader + dataDirectoryEntry(optionalHeaderMagic(image, newHeader), kExportDirectory);
    if (!image.readU32(entry, ex.directoryRva) || !image.readU32(entry + 4, ex.directorySize) ||
        ex.directoryRva == 0)
        return ex;
    const ByteView directory = map.at(ex.directoryRva);
    std::uint32_t nameRva, functionsRva, namesRva, ordinalsRva;
    if (!directory.contains(0, kExportDirectoryLength) || !directory.readU32(12, nameRva) ||
        !directory.readU32(16, ex.ordinalBase) || !directory.readU32(20, ex.declaredFunctions) ||
        !directory.readU32(24, ex.declaredNames) || !directory.readU32(28, functionsRva) ||
        !directory.readU32(32, namesRva) || !directory.readU32(36, ordinalsRva))
        return ex;
    ex.present = true;

    ReadBudget budget(image.size());
    std::string scratch;
    if (readBoundedText(map.at(nameRva), 0, scratch, budget)) ex.moduleName = scratch;

    // The address table: cut at the end of the image, and at the
    // last index a 16-bit ordinal can reach.
    std::uint64_t functionCount = std::min<std::uint64_t>(ex.declaredFunctions, kMaxExportAddresses);
    const ByteView functionTable = map.at(functionsRva);
    functionCount = std::min<std::uint64_t>(functionCount, functionTable.size() / 4);
    if (functionCount < ex.declaredFunctions) ex.faults |= PeExports::kAddressTableCut;
    if (!budget.spend(functionCount * 4)) {
        ex.faults |= PeExports::kBudgetSpent;
        return ex;
    }
    const std::vector<std::uint8_t> functionBytes = readTable(functionTable, functionCount, 4);
    ex.addresses.resize(functionBytes.size() / 4);
    for (std::size_t i = 0; i < ex.addresses.size(); ++i) ex.addresses[i] = u32At(functionBytes, 4 * i);

    // Forwarders: addresses inside the directory's own range.
    const std::uint64_t rangeEnd = std::uint64_t(ex.directoryRva) + ex.directorySize;
    for (std::uint32_t i = 0; i < ex.addresses.size(); ++i) {
        const std::uint32_t address = ex.addresses[i];
        if (address < ex.directoryRva || address >= rangeEnd) continue;
        ExportForwarder forwarder{i, std::uint32_t(ex.text.size()), 0};
        if (readBoundedText(map.at(address), 0, scratch, budget) && !scratch.empty()) {
            forwarder.textLength = std::uint32_t(scratch.size());
            ex.text += scratch;
        } else {
            ex.faults |= budget.spent() ? PeExports::kBudgetSpent : PeExports::kForwarderUnreadable;
        }
        ex.forwarders.push_back(forwarder);
    }

    // Names and their ordinal-table entries, side by side.
    const ByteView nameTable = map.at(namesRva);
    const ByteView ordinalTable = map.at(ordinalsRva);
    std::uint64_t nameCount = ex.declaredNames;
    nameCount = std::min<std::uint64_t>(nameCount, nameTable.size() / 4);
    nameCount = std::min<std::uint64_t>(nameCount, ordinalTable.size() / 2);
    if (nameCount < ex.declaredNames) ex.faults |= PeExports::kNameTableCut;
    if (!budget.spend(nameCount * 6)) {
        ex.faults |= PeExports::kBudgetSpent;
        return ex;
    }
    const std::vector<std::uint8_t> namePointers = readTable(nameTable, nameCount, 4);
    const std::vector<std::uint8_t> ordinals = readTable(ordinalTable, nameCount, 2);
    const std::size_t readable = std::min(namePointers.size() / 4, ordinals.size() / 2);
    ex.names.reserve(readable);
    for (std::size_t i = 0; i < readable; ++i) {
        const std::uint32_t index = u16At(ordinals, 2 * i);
        if (index >= ex.addresses.size()) ex.faults |= PeExports::kOrdinalOutOfRange;
        if (!readBoundedText(map.at(u32At(namePointers, 4 * i)), 0, scratch, budget)) {
            if (budget.spent()) {
                ex.faults |= PeExports::kBudgetSpent;
                break;
            }
            ex.faults |= PeExports::kNameUnreadable;
            continue;
        }
        ex.names.push_back(
            ExportName{std::uint32_t(ex.text.size()), std::uint32_t(scratch.size()), index, std::uint32_t(i)});
        ex.text += scratch;
    }

    // One pass tells whether the loader's binary search works on this table;
    // only a table out of order pays for a sorted copy.
    for (std::size_t i = 1; i < ex.names.size() && ex.namesSorted; ++i)
        ex.namesSorted = !(ex.nameOf(ex.names[i]) < ex.nameOf(ex.names[i - 1]));
    if (!ex.namesSorted) {
        ex.sortedNames.resize(ex.names.size());
        for (std::uint32_t i = 0; i < ex.sortedNames.size(); ++i) ex.sortedNames[i] = i;
        std::stable_sort(ex.sortedNames.begin(), ex.sortedNames.end(), [&ex](std::uint32_t a, std::uint32_t b) {
            return ex.nameOf(ex.names[a]) < ex.nameOf(ex.names[b]);
        });
    }
    return ex;
}

ExportTarget PeExports::atIndex(std::uint32_t index) const {
    ExportTarget target;
    if (index >= addresses.size() || addresses[index] == 0) return target;
    target.rva = addresses[index];
    target.index = index;
    if (target.rva >= directoryRva && target.rva < std::uint64_t(directoryRva) + directorySize) {
        target.kind = ExportKind::Forwarder;
        auto it = std::lower_bound(forwarders.begin(), forwarders.end(), index,
                                   [](const ExportForwarder& f, std::uint32_t i) { return f.index < i; });
        if (it != forwarders.end() && it->index == index)
            target.forwarder = std::string_view(text).substr(it->textAt, it->textLength);
        return target;
    }
    target.kind = ExportKind::Address;
    return target;
}

ExportTarget PeExports::findByOrdinal(std::uint32_t ordinal) const {
    return atIndex(ordinal - ordinalBase);  // wraps past the table for an ordinal below the base
}

ExportTarget PeExports::findByName(std::string_view name) const {
    const std::size_t count = names.size();
    auto entry = [this](std::size_t k) -> const ExportName& {
        return namesSorted ? names[k] : names[sortedNames[k]];
    };
    std::size_t low = 0, high = count;  // lower bound of `name`
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (nameOf(entry(middle)) < name)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == count || nameOf(entry(low)) != name) return ExportTarget{};
    return atIndex(entry(low).index);
}

ExportTarget PeExports::findByNameAsLoader(std::string_view name, std::int32_t hint) const {
    // `names` is in table order, so the hint's entry (when it was readable)
    // is found by its position.
    if (hint >= 0) {
        const auto it = std::lower_bound(names.begin(), names.end(), std::uint32_t(hint),
                                         [](const ExportName& n, std::uint32_t p) { return n.position < p; });
        if (it != names.end() && it->position == std::uint32_t(hint) && nameOf(*it) == name)
            return atIndex(it->index);
    }
    if (namesSorted) return findByName(name);
    // The loader's search over a table out of order: the same halving steps,
    // the same possible misses. Equal names stop it at whichever it meets.
    std::int64_t low = 0, high = std::int64_t(names.size()) - 1;
    while (low <= high) {
        const std::int64_t middle = (low + high) / 2;
        const std::string_view candidate = nameOf(names[std::size_t(middle)]);
        if (candidate == name) return atIndex(names[std::size_t(middle)].index);
        if (candidate < name)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return ExportTarget{};
}

bool parseForwarder(std::string_view text, ForwarderTarget& out) {
    out = ForwarderTarget{};
    const std::size_t dot = text.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == text.size()) return false;
    out.module = text.substr(0, dot);
    const std::string_view function = text.substr(dot + 1);
    if (function[0] != '#') {
        out.function = function;
        return true;
    }
    const std::string_view digits = function.substr(1);
    if (digits.empty() || digits.size() > 5) return false;
    std::uint32_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + std::uint32_t(c - '0');
    }
    if (value > 0xFFFF) return false;
    out.byOrdinal = true;
    out.ordinal = std::uint16_t(value);
    return true;
}

}  // namespace vost
