#include "analysis/pe_delay_imports.h"

#include "analysis/pe_headers.h"
#include "analysis/read_budget.h"
#include "analysis/scan_module.h"
#include "analysis/image_map.h"

namespace vost {

namespace {
constexpr std::uint64_t kDescriptorSize = 32;
constexpr std::uint32_t kRvaBased = 1;

// `field` as an RVA: itself in the RVA form, reduced by the image base in the
// old one. False when the address lies below the base or 4 GiB past it.
bool toRva(std::uint32_t field, std::uint64_t bias, std::uint32_t& rva) {
    if (field < bias || field - bias > 0xFFFFFFFFu) return false;
    rva = std::uint32_t(field - bias);
    return true;
}
}  // namespace

std::vector<ImportedModule> readPeDelayImports(const ByteView& image, std::uint64_t newHeader) {
    const ImageMap map(image, newHeader);
    return readPeDelayImports(image, newHeader, map);
}

std::vector<ImportedModule> readPeDelayImports(const ByteView& image, std::uint64_t newHeader,
                                               const ImageMap& map, bool withFunctions) {
    std::vector<ImportedModule> modules;
    std::uint32_t directoryCount = 0, directoryRva = 0;
    std::uint64_t base = 0;
    if (!numberOfRvaAndSizes(image, newHeader, directoryCount) || directoryCount <= kDelayImportDirectory)
        return modules;
    const std::uint16_t magic = optionalHeaderMagic(image, newHeader);
    if (!image.readU32(newHeader + dataDirectoryEntry(magic, kDelayImportDirectory), directoryRva) ||
        directoryRva == 0 || !imageBase(image, newHeader, base))
        return modules;

    // Descriptors run until the terminating one or the end of the image; the
    // same file bytes may be mapped at many places, so each is charged
    // against the file's size.
    const ByteView mapped = map.view();
    const ByteView descriptors = map.at(directoryRva);
    ReadBudget descriptorBudget(image.size()), budget(image.size());
    int children = 0;
    for (std::uint64_t at = 0; children < kMaxReferencesPerModule && descriptorBudget.spend(kDescriptorSize);
         at += kDescriptorSize) {
        std::uint32_t attributes, nameField, nameTableField;
        if (!descriptors.contains(at, kDescriptorSize) || !descriptors.readU32(at, attributes) ||
            !descriptors.readU32(at + 4, nameField) || !descriptors.readU32(at + 16, nameTableField))
            break;
        if (nameField == 0) break;
        const std::uint64_t bias = (attributes & kRvaBased) ? 0 : base;

        std::uint32_t nameRva = 0;
        char name[kPathCapacity];
        if (!toRva(nameField, bias, nameRva) || !readModuleName(mapped, nameRva, name, sizeof name)) continue;
        ++children;
        ImportedModule module;
        module.name = name;
        std::uint32_t nameTable = 0;
        if (!withFunctions) {
            modules.push_back(std::move(module));
            continue;
        }
        if (nameTableField != 0 && toRva(nameTableField, bias, nameTable))
            readImportThunks(map, nameTable, magic == kPe32PlusMagic, bias, budget, module);
        else
            module.cut = true;
        modules.push_back(std::move(module));
    }
    return modules;
}

}  // namespace vost
