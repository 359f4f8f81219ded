#include "analysis/pe_import_functions.h"

#include "analysis/pe_headers.h"
#include "analysis/read_budget.h"
#include "analysis/scan_module.h"
#include "analysis/section_index.h"

namespace vost {

namespace {
constexpr std::uint64_t kDescriptorSize = 20;
}  // namespace

void readImportThunks(const ByteView& image, const SectionIndex& sections, std::uint32_t rva, bool wide,
                      std::uint64_t addressBias, ReadBudget& budget, ImportedModule& module) {
    const ByteView list = sections.view(image, rva);
    const std::uint64_t width = wide ? 8 : 4;
    const std::uint64_t ordinalFlag = wide ? std::uint64_t(1) << 63 : std::uint64_t(1) << 31;
    std::string name;
    for (std::uint64_t i = 0;; ++i) {
        if (i == kMaxThunksPerModule) {
            module.cut = true;
            return;
        }
        std::uint64_t value = 0;
        std::uint32_t low = 0, high = 0;
        if (!list.readU32(i * width, low) || (wide && !list.readU32(i * width + 4, high)) ||
            !budget.spend(width)) {
            module.cut = true;
            return;
        }
        value = std::uint64_t(high) << 32 | low;
        if (value == 0) return;

        ImportedFunction function;
        if (value & ordinalFlag) {
            function.kind = ImportKind::ByOrdinal;
            function.ordinal = std::uint16_t(value);
        } else if (value >= addressBias && value - addressBias <= 0xFFFFFFFFu) {
            // The hint, then the name, both inside the section the RVA lies in.
            const ByteView entry = sections.view(image, std::uint32_t(value - addressBias));
            std::uint16_t hint = 0;
            if (entry.readU16(0, hint) && budget.spend(2) && readBoundedText(entry, 2, name, budget)) {
                function.kind = ImportKind::ByName;
                function.hint = hint;
                function.name = name;
            }
        }
        if (budget.spent()) {
            module.cut = true;
            return;
        }
        module.functions.push_back(std::move(function));
    }
}

std::vector<ImportedModule> readPeImportFunctions(const ByteView& image, std::uint64_t newHeader) {
    const SectionIndex sections(image, newHeader);
    return readPeImportFunctions(image, newHeader, sections);
}

std::vector<ImportedModule> readPeImportFunctions(const ByteView& image, std::uint64_t newHeader,
                                                  const SectionIndex& sections) {
    // The descriptor walk and its end tests are the import walker's, so that
    // the modules here are its children, one for one.
    std::vector<ImportedModule> modules;
    const std::uint16_t magic = optionalHeaderMagic(image, newHeader);
    std::uint32_t directoryRva = 0;
    if (!image.readU32(newHeader + dataDirectoryEntry(magic, kImportDirectory), directoryRva) ||
        directoryRva == 0)
        return modules;
    const std::uint32_t firstDescriptor = sections.fileOffset(directoryRva);
    if (firstDescriptor == kNoFileOffset) return modules;

    ReadBudget budget(image.size());
    int children = 0;
    for (std::uint64_t at = firstDescriptor; children < kMaxReferencesPerModule; at += kDescriptorSize) {
        std::uint32_t originalFirstThunk, timeDateStamp, nameRva, firstThunk;
        if (!image.contains(at, kDescriptorSize) || !image.readU32(at + 0, originalFirstThunk) ||
            !image.readU32(at + 4, timeDateStamp) || !image.readU32(at + 12, nameRva) ||
            !image.readU32(at + 16, firstThunk))
            break;
        if (timeDateStamp == 0 && nameRva == 0) break;
        if (originalFirstThunk == 0 && firstThunk == 0) break;

        const std::uint32_t nameOffset = sections.fileOffset(nameRva);
        char name[kPathCapacity];
        if (nameOffset == kNoFileOffset || !image.readCString(nameOffset, name, sizeof name) ||
            name[0] == '\0')
            continue;
        ++children;
        ImportedModule module;
        module.name = name;
        module.fromAddressTable = originalFirstThunk == 0;
        readImportThunks(image, sections, originalFirstThunk ? originalFirstThunk : firstThunk,
                         magic == kPe32PlusMagic, 0, budget, module);
        modules.push_back(std::move(module));
    }
    return modules;
}

}  // namespace vost
