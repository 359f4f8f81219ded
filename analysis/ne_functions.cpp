#include "analysis/ne_functions.h"

#include <string>
#include <unordered_set>

#include "analysis/read_budget.h"
#include "analysis/text.h"

namespace vost {

namespace {
// Fields of the NE header, from its signature.
constexpr std::uint64_t kEntryTable = 0x04;        // WORD, relative
constexpr std::uint64_t kEntryTableLength = 0x06;  // WORD
constexpr std::uint64_t kSegmentCount = 0x1C;
constexpr std::uint64_t kModuleRefCount = 0x1E;
constexpr std::uint64_t kNonResidentLength = 0x20;
constexpr std::uint64_t kSegmentTable = 0x22;
constexpr std::uint64_t kResidentNames = 0x26;
constexpr std::uint64_t kModuleRefTable = 0x28;
constexpr std::uint64_t kImportedNames = 0x2A;
constexpr std::uint64_t kNonResidentNames = 0x2C;  // DWORD, from the file's start
constexpr std::uint64_t kAlignmentShift = 0x32;

constexpr std::uint8_t kUnusedBundle = 0x00;
constexpr std::uint8_t kMovableBundle = 0xFF;
constexpr std::uint16_t kSegmentHasRelocations = 0x0100;
constexpr std::uint8_t kRelocationTargetMask = 0x03;
constexpr std::uint8_t kImportedOrdinal = 1;
constexpr std::uint8_t kImportedName = 2;
constexpr std::uint32_t kMaxOrdinal = 0xFFFF;

// A length-prefixed string of a names table.
bool readPascalString(const ByteView& image, std::uint64_t at, std::string& out) {
    std::uint8_t length = 0;
    if (!image.readU8(at, length)) return false;
    out.resize(length);
    return image.readBytes(at + 1, length, out.data());
}

// The strings of a names table from `at` until its zero byte, `end` or the
// file's end, each with the ordinal after it; the first (the module's name
// or description, ordinal 0) is given to `first` instead.
template <typename Visit>
void readNamesTable(const ByteView& image, std::uint64_t at, std::uint64_t end, ReadBudget& budget,
                    std::string* first, Visit&& visit) {
    std::string name;
    for (bool isFirst = true; at < end; isFirst = false) {
        std::uint8_t length = 0;
        std::uint16_t ordinal = 0;
        if (!image.readU8(at, length) || length == 0 || !budget.spend(3u + length)) return;
        if (!readPascalString(image, at, name) || !image.readU16(at + 1 + length, ordinal)) return;
        at += 3u + length;
        if (isFirst) {
            if (first) *first = name;
        } else {
            visit(name, ordinal);
        }
    }
}
}  // namespace

std::string neModuleFileName(std::string_view module) {
    std::string file(module);
    if (module == "KERNEL") return "KRNL386.EXE";
    if (module == "USER" || module == "GDI") return file + ".EXE";
    if (module == "SYSTEM") return file + ".DRV";
    return file + ".DLL";
}

PeExports readNeExports(const ByteView& image, std::uint64_t newHeader) {
    PeExports exports;
    exports.neEntries = true;
    exports.ordinalBase = 1;
    ReadBudget budget(image.size());

    std::uint16_t entryTable = 0, entryLength = 0;
    if (image.readU16(newHeader + kEntryTable, entryTable) && image.readU16(newHeader + kEntryTableLength, entryLength)) {
        // Bundles run to a zero count, the table's declared end (the file's
        // end when it declares none) or the last ordinal there can be.
        std::uint64_t at = newHeader + entryTable;
        const std::uint64_t end = entryLength ? at + entryLength : image.size();
        std::uint32_t ordinal = 1;
        while (at + 2 <= end && ordinal <= kMaxOrdinal) {
            std::uint8_t count = 0, segment = 0;
            if (!image.readU8(at, count) || count == 0 || !image.readU8(at + 1, segment)) break;
            at += 2;
            if (segment == kUnusedBundle) {
                ordinal += count;
                continue;
            }
            const std::uint64_t size = segment == kMovableBundle ? 6 : 3;
            for (std::uint8_t i = 0; i < count && ordinal <= kMaxOrdinal; ++i, ++ordinal, at += size) {
                std::uint8_t entrySegment = segment;
                std::uint16_t offset = 0;
                if (at + size > end || !budget.spend(size)) break;
                const bool read = segment == kMovableBundle
                                      ? image.readU8(at + 3, entrySegment) && image.readU16(at + 4, offset)
                                      : image.readU16(at + 1, offset);
                if (!read) break;
                if (entrySegment == 0) continue;  // a movable entry of no segment
                exports.addresses.resize(ordinal, 0);
                exports.addresses[ordinal - 1] = std::uint32_t(entrySegment) << 16 | offset;
            }
        }
    }

    const auto addName = [&](const std::string& name, std::uint16_t ordinal) {
        if (ordinal == 0) return;
        exports.names.push_back(ExportName{std::uint32_t(exports.text.size()), std::uint32_t(name.size()),
                                           std::uint32_t(ordinal - 1), std::uint32_t(exports.names.size())});
        exports.text += name;
    };
    std::uint16_t resident = 0, moduleRefs = 0, nonResidentLength = 0;
    std::uint32_t nonResident = 0;
    if (image.readU16(newHeader + kResidentNames, resident) && image.readU16(newHeader + kModuleRefTable, moduleRefs)) {
        // The module-reference table follows the resident names.
        const std::uint64_t end = moduleRefs > resident ? newHeader + moduleRefs : image.size();
        readNamesTable(image, newHeader + resident, end, budget, &exports.moduleName, addName);
    }
    if (image.readU32(newHeader + kNonResidentNames, nonResident) &&
        image.readU16(newHeader + kNonResidentLength, nonResidentLength) && nonResident != 0)
        readNamesTable(image, nonResident, std::uint64_t(nonResident) + nonResidentLength, budget, nullptr, addName);

    if (budget.spent()) exports.faults |= PeExports::kBudgetSpent;
    exports.declaredFunctions = std::uint32_t(exports.addresses.size());
    exports.declaredNames = std::uint32_t(exports.names.size());
    exports.present = !exports.addresses.empty() || !exports.names.empty();
    return exports;
}

std::vector<ImportedModule> readNeImports(const ByteView& image, std::uint64_t newHeader) {
    std::vector<ImportedModule> modules;
    std::uint16_t segments = 0, segmentTable = 0, moduleCount = 0, moduleTable = 0, namesTable = 0, shift = 0;
    if (!image.readU16(newHeader + kSegmentCount, segments) || !image.readU16(newHeader + kSegmentTable, segmentTable) ||
        !image.readU16(newHeader + kModuleRefCount, moduleCount) ||
        !image.readU16(newHeader + kModuleRefTable, moduleTable) ||
        !image.readU16(newHeader + kImportedNames, namesTable) || !image.readU16(newHeader + kAlignmentShift, shift))
        return modules;
    if (shift == 0) shift = 9;  // the loader's default sector of 512 bytes
    if (shift > 16) return modules;

    // Each referenced module once, by the file name the walker gives it;
    // index i of the module-reference table is module number i + 1.
    std::vector<int> moduleOf(moduleCount, -1);
    std::string name;
    for (std::uint16_t i = 0; i < moduleCount; ++i) {
        std::uint16_t offset = 0;
        if (!image.readU16(newHeader + moduleTable + 2u * i, offset)) break;
        // Names the walker passes over (empty, or longer than its 99 bytes)
        // have no child to list functions under.
        if (!readPascalString(image, newHeader + namesTable + offset, name) || name.empty() || name.size() > 99) continue;
        const std::string file = neModuleFileName(name);
        int index = -1;
        for (std::size_t m = 0; m < modules.size(); ++m)
            if (modules[m].name == file) index = int(m);
        if (index < 0) {
            index = int(modules.size());
            modules.push_back(ImportedModule{file, {}, false, false});
        }
        moduleOf[i] = index;
    }

    std::vector<std::unordered_set<std::string>> given(modules.size());
    // Several segments may share one relocation table: every record read is
    // charged against the file's size.
    ReadBudget budget(image.size());
    for (std::uint16_t s = 0; s < segments; ++s) {
        std::uint16_t sector = 0, length = 0, flags = 0;
        const std::uint64_t entry = newHeader + segmentTable + 8u * s;
        if (!image.readU16(entry, sector) || !image.readU16(entry + 2, length) || !image.readU16(entry + 4, flags))
            break;
        if (sector == 0 || !(flags & kSegmentHasRelocations)) continue;
        const std::uint64_t relocations = (std::uint64_t(sector) << shift) + (length ? length : 0x10000);
        std::uint16_t count = 0;
        if (!image.readU16(relocations, count)) continue;
        for (std::uint16_t r = 0; r < count; ++r) {
            const std::uint64_t at = relocations + 2 + 8u * r;
            std::uint8_t type = 0;
            std::uint16_t module = 0, target = 0;
            if (!budget.spend(8) || !image.readU8(at + 1, type) || !image.readU16(at + 4, module) ||
                !image.readU16(at + 6, target))
                break;
            type &= kRelocationTargetMask;
            if ((type != kImportedOrdinal && type != kImportedName) || module == 0 || module > moduleCount ||
                moduleOf[module - 1] < 0)
                continue;
            ImportedFunction function;
            if (type == kImportedOrdinal) {
                function.kind = ImportKind::ByOrdinal;
                function.ordinal = target;
            } else if (readPascalString(image, newHeader + namesTable + target, function.name) &&
                       !function.name.empty()) {
                function.kind = ImportKind::ByName;
            }
            const int m = moduleOf[module - 1];
            const std::string key = function.kind == ImportKind::ByName ? function.name
                                    : function.kind == ImportKind::ByOrdinal
                                        ? "#" + std::to_string(function.ordinal)
                                        : std::string("?");
            if (given[std::size_t(m)].insert(key).second) modules[std::size_t(m)].functions.push_back(std::move(function));
        }
        if (budget.spent()) {
            for (ImportedModule& m : modules) m.cut = true;
            break;
        }
    }
    return modules;
}

ExportTarget findNeName(const PeExports& exports, std::string_view name) {
    for (const ExportName& entry : exports.names) {
        const std::string_view known = exports.nameOf(entry);
        if (known.size() != name.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i) same = asciiUpper(known[i]) == asciiUpper(name[i]);
        if (same) return exports.atIndex(entry.index);
    }
    return ExportTarget{};
}

}  // namespace vost
