#include "analysis/pe_import_functions.h"

#include <cstring>

#include "analysis/pe_headers.h"
#include "analysis/read_budget.h"
#include "analysis/scan_module.h"
#include "analysis/image_map.h"
#include "analysis/module_facts.h"

namespace vost {

bool readModuleName(const ByteView& mapped, std::uint64_t rva, char* out, std::size_t capacity) {
    if (!mapped.readCString(rva, out, capacity)) return false;
    // The loader drops trailing spaces; then the file name loses its trailing
    // dots and spaces, except the dot that says "no extension" to the search.
    std::size_t length = std::strlen(out);
    while (length > 0 && out[length - 1] == ' ') --length;
    if (std::memchr(out, '.', length)) {
        std::size_t end = length;
        while (end > 0 && (out[end - 1] == '.' || out[end - 1] == ' ')) --end;
        length = std::memchr(out, '.', end) ? end : end + 1;
    }
    out[length] = '\0';
    return length > 0;
}

void readImportThunks(const ImageMap& map, std::uint32_t rva, bool wide,
                      std::uint64_t addressBias, ReadBudget& budget, ImportedModule& module) {
    const ByteView list = map.at(rva);
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
            // The hint, then the name.
            const ByteView entry = map.at(value - addressBias);
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
    const ImageMap map(image, newHeader);
    return readPeImportFunctions(image, newHeader, map);
}

std::vector<ImportedModule> readPeImportFunctions(const ByteView& image, std::uint64_t newHeader,
                                                  const ImageMap& map) {
    // The descriptor walk and its end tests are the import walker's, so that
    // the modules here are its children, one for one.
    return readPeReferences(image, newHeader, map, true).imports;
}

}  // namespace vost
