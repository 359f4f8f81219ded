#include "tests/support/image_builder.h"

#include <algorithm>
#include <cstring>

namespace vost::test {

void putBytes(Bytes& b, std::size_t offset, const void* data, std::size_t length) {
    if (b.size() < offset + length) b.resize(offset + length);
    if (length) std::memcpy(b.data() + offset, data, length);
}
void putU8(Bytes& b, std::size_t offset, std::uint8_t value) { putBytes(b, offset, &value, 1); }
void putU16(Bytes& b, std::size_t offset, std::uint16_t value) {
    const std::uint8_t raw[2] = {std::uint8_t(value), std::uint8_t(value >> 8)};
    putBytes(b, offset, raw, 2);
}
void putU32(Bytes& b, std::size_t offset, std::uint32_t value) {
    const std::uint8_t raw[4] = {std::uint8_t(value), std::uint8_t(value >> 8),
                                 std::uint8_t(value >> 16), std::uint8_t(value >> 24)};
    putBytes(b, offset, raw, 4);
}
void putText(Bytes& b, std::size_t offset, const std::string& text) {
    putBytes(b, offset, text.data(), text.size());
}
std::uint32_t getU32(const Bytes& b, std::size_t offset) {
    return std::uint32_t(b.at(offset)) | std::uint32_t(b.at(offset + 1)) << 8 |
           std::uint32_t(b.at(offset + 2)) << 16 | std::uint32_t(b.at(offset + 3)) << 24;
}
Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

namespace {

constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;

std::uint32_t alignUp(std::uint32_t value, std::uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// MZ header with a short DOS stub; e_lfanew at 0x3C.
Bytes dosStub(std::uint32_t lfanew) {
    Bytes b(kDefaultNewHeader, 0);
    putText(b, 0, "MZ");
    putU16(b, 2, 0x90);    // bytes on last page
    putU16(b, 4, 3);       // pages
    putU16(b, 8, 4);       // header paragraphs
    putU16(b, 12, 0xFFFF); // max alloc
    putU16(b, 16, 0xB8);   // sp
    putU16(b, 24, 0x40);   // relocation table
    putU32(b, kLfanewField, lfanew);
    // mov dx,msg; mov ah,9; int 21h; mov ax,4C01h; int 21h
    const std::uint8_t code[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09, 0xCD,
                                 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
    putBytes(b, 0x40, code, sizeof code);
    putText(b, 0x4E, "test image$");
    return b;
}

struct Section {
    std::string name;
    Bytes content;
    std::uint32_t va = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawPointer = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t characteristics = 0x40000040;  // initialised data, readable
};

Section named(const char* name) {
    Section s;
    s.name = name;
    return s;
}

void putWideKey(Bytes& b, std::size_t at, const char* key) {
    for (std::size_t i = 0; i == 0 || key[i - 1]; ++i) putU16(b, at + 2 * i, std::uint8_t(key[i]));
}

// A VS_VERSION_INFO blob: the fixed information (its offset in `fixedInfoAt`)
// and a VarFileInfo translation.
constexpr std::uint32_t kVersionInfoLength = 40 + 52 + 68;

Bytes versionBlob(const FixedFileVersion& v, std::uint32_t& fixedInfoAt) {
    Bytes b;
    putU16(b, 0, std::uint16_t(kVersionInfoLength));
    putU16(b, 2, 52);  // wValueLength: sizeof VS_FIXEDFILEINFO
    putU16(b, 4, 0);   // binary
    putWideKey(b, 6, "VS_VERSION_INFO");
    fixedInfoAt = 40;  // 6 + 32 bytes of key, padded to 4
    const std::uint32_t f = fixedInfoAt;
    putU32(b, f + 0, 0xFEEF04BD);
    putU32(b, f + 4, 0x00010000);
    putU32(b, f + 8, v.fileVersionMS);
    putU32(b, f + 12, v.fileVersionLS);
    putU32(b, f + 16, v.productVersionMS);
    putU32(b, f + 20, v.productVersionLS);
    putU32(b, f + 24, 0x3F);       // flags mask
    putU32(b, f + 32, 0x00040004); // VOS_NT_WINDOWS32
    putU32(b, f + 36, 2);          // VFT_DLL
    putU32(b, f + 48, 0);
    const std::uint32_t var = f + 52;  // VarFileInfo { Translation 0x0409, 1200 }
    putU16(b, var + 0, 68);
    putU16(b, var + 4, 1);
    putWideKey(b, var + 6, "VarFileInfo");
    putU16(b, var + 32, 36);
    putU16(b, var + 34, 4);
    putWideKey(b, var + 38, "Translation");
    putU16(b, var + 64, 0x0409);
    putU16(b, var + 66, 1200);
    return b;
}

// The .rsrc section of `layout` at `rva`: its version resource (type 16, id
// 1) and its manifest (type 24), each under language 0x409; where the fixed
// version information lands goes to `fixedInfoAt`.
Bytes resourceSection(const PeImageLayout& layout, std::uint32_t rva, std::uint32_t& fixedInfoAt) {
    struct Resource {
        std::uint32_t type, id;
        Bytes data;
    };
    std::vector<Resource> resources;
    std::uint32_t fixedInBlob = 0;
    if (layout.version) resources.push_back({16, 1, versionBlob(*layout.version, fixedInBlob)});
    if (layout.manifest)
        resources.push_back({24, layout.manifestId, Bytes(layout.manifest->begin(), layout.manifest->end())});
    Bytes b;
    auto directory = [&](std::size_t at, std::size_t entries) { putU16(b, at + 14, std::uint16_t(entries)); };
    directory(0, resources.size());
    std::uint32_t at = std::uint32_t(16 + 8 * resources.size());
    std::uint32_t dataAt = at + std::uint32_t(64 * resources.size());  // two directories and a data entry each
    for (std::size_t i = 0; i < resources.size(); ++i, at += 64) {
        const Resource& r = resources[i];
        putU32(b, 16 + 8 * i, r.type);
        putU32(b, 20 + 8 * i, 0x80000000u | at);
        directory(at, 1);
        putU32(b, at + 16, r.id);
        putU32(b, at + 20, 0x80000000u | (at + 24));
        directory(at + 24, 1);
        putU32(b, at + 40, 0x409);
        putU32(b, at + 44, at + 48);
        putU32(b, at + 48, rva + dataAt);
        putU32(b, at + 52, std::uint32_t(r.data.size()));
        if (r.type == 16) fixedInfoAt = dataAt + fixedInBlob;
        if (b.size() < dataAt) b.resize(dataAt, 0);
        b.insert(b.begin() + dataAt, r.data.begin(), r.data.end());
        dataAt = alignUp(std::uint32_t(b.size()), 4);
    }
    b.resize(std::max<std::size_t>(b.size(), dataAt), 0);
    return b;
}


void putThunk(Bytes& b, std::size_t at, std::uint64_t value, bool wide) {
    putU32(b, at, std::uint32_t(value));
    if (wide) putU32(b, at + 4, std::uint32_t(value >> 32));
}

std::uint64_t ordinalThunk(std::uint16_t ordinal, bool wide) {
    return (wide ? std::uint64_t(1) << 63 : std::uint64_t(1) << 31) | ordinal;
}

// A hint/name entry: the hint, the name and its terminator, padded to 2 bytes.
std::uint32_t hintNameSize(const std::string& name) { return alignUp(std::uint32_t(2 + name.size() + 1), 2); }

// .edata for `layout` at `va`: the directory, the address table, the name
// pointer and ordinal tables, then the module name, the names and the
// forwarder texts.
Bytes exportSection(const ExportLayout& layout, std::uint32_t va) {
    struct Named {
        std::string name;
        std::uint16_t index;
    };
    std::vector<Named> named;
    for (std::size_t i = 0; i < layout.entries.size(); ++i)
        for (const std::string& name : layout.entries[i].names) named.push_back(Named{name, std::uint16_t(i)});
    if (!layout.keepNameOrder)
        std::stable_sort(named.begin(), named.end(), [](const Named& a, const Named& b) { return a.name < b.name; });
    const std::uint32_t m = std::uint32_t(layout.entries.size());
    const std::uint32_t k = std::uint32_t(named.size());
    const std::uint32_t functions = 40, pointers = functions + 4 * m, ordinals = pointers + 4 * k;
    std::uint32_t text = alignUp(ordinals + 2 * k, 4);
    Bytes b(text, 0);
    auto addText = [&](const std::string& value) {
        const std::uint32_t at = text;
        putText(b, at, value);
        putU8(b, at + value.size(), 0);
        text += std::uint32_t(value.size() + 1);
        return va + at;
    };
    putU32(b, 12, addText(layout.moduleName));
    putU32(b, 16, layout.ordinalBase);
    putU32(b, 20, m);
    putU32(b, 24, k);
    putU32(b, 28, va + functions);
    putU32(b, 32, va + pointers);
    putU32(b, 36, va + ordinals);
    for (std::uint32_t i = 0; i < k; ++i) {
        putU32(b, pointers + 4 * i, addText(named[i].name));
        putU16(b, ordinals + 2 * i, named[i].index);
    }
    for (std::uint32_t i = 0; i < m; ++i) {
        const ExportEntry& e = layout.entries[i];
        putU32(b, functions + 4 * i, e.forwarder.empty() ? e.rva : addText(e.forwarder));
    }
    return b;
}

// .didat for `imports` at `va`: the descriptors, then for each module a
// handle slot, its address table and its name table, then the hint/name
// entries and the module names.
Bytes delaySection(const std::vector<DelayImport>& imports, std::uint32_t va, bool wide, bool virtualAddresses,
                   std::uint32_t imageBase) {
    const std::uint32_t width = wide ? 8 : 4;
    const std::uint32_t bias = virtualAddresses ? imageBase : 0;
    std::uint32_t at = std::uint32_t(32 * (imports.size() + 1));
    std::vector<std::uint32_t> tablesAt;
    for (const DelayImport& d : imports) {
        tablesAt.push_back(at);
        at += 8 + 2 * width * std::uint32_t(d.functions.size() + 1);
    }
    Bytes b(at, 0);
    for (std::size_t i = 0; i < imports.size(); ++i) {
        const DelayImport& d = imports[i];
        const std::uint32_t handle = tablesAt[i], iat = handle + 8;
        const std::uint32_t names = iat + width * std::uint32_t(d.functions.size() + 1);
        const std::size_t descriptor = 32 * i;
        putU32(b, descriptor + 0, virtualAddresses ? 0 : 1);
        putU32(b, descriptor + 8, bias + va + handle);
        putU32(b, descriptor + 12, bias + va + iat);
        putU32(b, descriptor + 16, bias + va + names);
        for (std::size_t j = 0; j < d.functions.size(); ++j) {
            const ImportThunk& f = d.functions[j];
            std::uint64_t value;
            if (f.ordinal) {
                value = ordinalThunk(*f.ordinal, wide);
            } else {
                const std::uint32_t entry = std::uint32_t(b.size());
                putU16(b, entry, f.hint);
                putText(b, entry + 2, f.name);
                b.resize(entry + hintNameSize(f.name), 0);
                value = bias + va + entry;
            }
            putThunk(b, iat + width * j, value, wide);
            putThunk(b, names + width * j, value, wide);
        }
    }
    for (std::size_t i = 0; i < imports.size(); ++i) {
        const std::uint32_t name = std::uint32_t(b.size());
        putText(b, name, imports[i].module);
        b.push_back(0);
        putU32(b, 32 * i + 4, bias + va + name);
    }
    return b;
}

}  // namespace

PeImage buildPe(const PeImageLayout& layout) {
    const std::size_t n = layout.imports.size();
    const bool hasDirectory = n > 0 || layout.emptyImportTable;

    // Name strings, each zero-terminated except a deliberately unterminated last one.
    Bytes names;
    std::vector<std::uint32_t> nameAt;
    for (std::size_t i = 0; i < n; ++i) {
        nameAt.push_back(std::uint32_t(names.size()));
        putText(names, names.size(), layout.imports[i]);
        if (!(layout.unterminatedLastName && i + 1 == n)) names.push_back(0);
    }
    const std::uint32_t descriptorCount = std::uint32_t(n + (layout.noTerminatorDescriptor ? 0 : 1));
    const std::uint32_t thunksAt = descriptorCount * 20;

    // With functions given, each import's name table and address table, then
    // all hint/name entries; else a fixed 16-byte slot per import.
    const bool realThunks = !layout.importFunctions.empty();
    const std::uint32_t width = layout.pe32plus ? 8 : 4;
    const std::vector<ImportThunk> noFunctions;
    auto functionsOf = [&](std::size_t i) -> const std::vector<ImportThunk>& {
        return i < layout.importFunctions.size() ? layout.importFunctions[i] : noFunctions;
    };
    std::uint32_t thunkArea = std::uint32_t(n) * 16;
    std::vector<std::uint32_t> nameTableAt(n), addressTableAt(n);
    std::vector<std::vector<std::uint32_t>> hintNameAt(n);
    if (realThunks) {
        std::uint32_t at = thunksAt;
        for (std::size_t i = 0; i < n; ++i) {
            nameTableAt[i] = at;
            at += width * std::uint32_t(functionsOf(i).size() + 1);
            addressTableAt[i] = at;
            at += width * std::uint32_t(functionsOf(i).size() + 1);
        }
        for (std::size_t i = 0; i < n; ++i)
            for (const ImportThunk& f : functionsOf(i)) {
                hintNameAt[i].push_back(at);
                if (!f.ordinal) at += hintNameSize(f.name);
            }
        thunkArea = at - thunksAt;
    }
    const std::uint32_t namesInIdataAt = thunksAt + thunkArea;

    // Section order in the file and in the table: [shadow], [.edata],
    // [.didat], .rsrc, .idata, [.rdata].
    std::vector<Section> sections;
    std::uint32_t fixedInfoAt = 0;  // in .rsrc
    int rsrc = -1, idata = -1, rdata = -1, edata = -1, didat = -1;
    constexpr std::uint32_t kImageBase = 0x10000000;
    if (layout.exports) { edata = int(sections.size()); sections.push_back(named(".edata")); }
    if (!layout.delayImports.empty()) { didat = int(sections.size()); sections.push_back(named(".didat")); }
    if (layout.version || layout.manifest) { rsrc = int(sections.size()); sections.push_back(named(".rsrc")); }
    if (hasDirectory) {
        idata = int(sections.size());
        sections.push_back(named(".idata"));
        if (layout.namesInOwnSection) { rdata = int(sections.size()); sections.push_back(named(".rdata")); }
    }
    std::uint32_t va = kSectionAlignment;
    auto sizeOf = [&](int index) -> std::uint32_t {
        if (index == rsrc) return std::uint32_t(resourceSection(layout, 0, fixedInfoAt).size());
        if (index == edata) return std::uint32_t(exportSection(*layout.exports, 0).size());
        if (index == didat)
            return std::uint32_t(delaySection(layout.delayImports, 0, layout.pe32plus,
                                              layout.delayVirtualAddresses, kImageBase).size());
        if (index == idata) return namesInIdataAt + (rdata < 0 ? std::uint32_t(names.size()) : 0);
        return std::uint32_t(names.size());
    };
    for (int i = 0; i < int(sections.size()); ++i) {
        sections[i].va = va;
        sections[i].virtualSize = sizeOf(i);
        va += alignUp(std::max<std::uint32_t>(sections[i].virtualSize, 1), kSectionAlignment);
    }
    const std::uint32_t sizeOfImage = va;

    // Contents, now that every RVA is known.
    PeImage image;
    if (rsrc >= 0) sections[rsrc].content = resourceSection(layout, sections[rsrc].va, fixedInfoAt);
    if (idata >= 0) {
        Section& s = sections[idata];
        const std::uint32_t namesRva = rdata >= 0 ? sections[rdata].va : s.va + namesInIdataAt;
        s.content.assign(sizeOf(idata), 0);
        for (std::size_t i = 0; i < n && realThunks; ++i) {
            const std::uint32_t d = std::uint32_t(20 * i);
            putU32(s.content, d + 0, layout.importAddressTableOnly ? 0 : s.va + nameTableAt[i]);
            putU32(s.content, d + 12, int(i) == layout.nameInNoSection ? kRvaInNoSection
                                                                      : namesRva + nameAt[i]);
            putU32(s.content, d + 16, s.va + addressTableAt[i]);
            const std::vector<ImportThunk>& functions = functionsOf(i);
            for (std::size_t j = 0; j < functions.size(); ++j) {
                const ImportThunk& f = functions[j];
                std::uint64_t value = ordinalThunk(f.ordinal ? *f.ordinal : 0, layout.pe32plus);
                if (!f.ordinal) {
                    putU16(s.content, hintNameAt[i][j], f.hint);
                    putText(s.content, hintNameAt[i][j] + 2, f.name);
                    value = s.va + hintNameAt[i][j];
                }
                if (!layout.importAddressTableOnly)
                    putThunk(s.content, nameTableAt[i] + width * j, value, layout.pe32plus);
                putThunk(s.content, addressTableAt[i] + width * j, value, layout.pe32plus);
            }
        }
        for (std::size_t i = 0; i < n && !realThunks; ++i) {
            const std::uint32_t d = std::uint32_t(20 * i);
            const std::uint32_t lookup = thunksAt + std::uint32_t(16 * i);  // ILT, then IAT
            putU32(s.content, d + 0, s.va + lookup);
            putU32(s.content, d + 12, int(i) == layout.nameInNoSection ? kRvaInNoSection
                                                                      : namesRva + nameAt[i]);
            putU32(s.content, d + 16, s.va + lookup + 8);
            putU32(s.content, lookup, 0x80000001u);      // ordinal 1
            putU32(s.content, lookup + 8, 0x80000001u);
        }
        if (rdata >= 0)
            sections[rdata].content = names;
        else
            putBytes(s.content, namesInIdataAt, names.data(), names.size());
        if (layout.importSectionVirtualSize0) s.virtualSize = 0;
    }
    if (edata >= 0) sections[edata].content = exportSection(*layout.exports, sections[edata].va);
    if (didat >= 0)
        sections[didat].content = delaySection(layout.delayImports, sections[didat].va, layout.pe32plus,
                                               layout.delayVirtualAddresses, kImageBase);
    if (layout.overlappingSection && idata >= 0) {
        // A first section over the same RVAs as the one holding the names,
        // with the names lower-cased: whichever section is found first decides.
        const int target = rdata >= 0 ? rdata : idata;
        Section shadow = sections[target];
        shadow.name = ".shadow";
        const std::size_t from = rdata >= 0 ? 0 : namesInIdataAt;
        for (std::size_t i = from; i < shadow.content.size(); ++i) {
            std::uint8_t& c = shadow.content[i];
            if (c >= 'A' && c <= 'Z') c = std::uint8_t(c - 'A' + 'a');
        }
        sections.insert(sections.begin(), shadow);
        if (rsrc >= 0) ++rsrc;
        if (edata >= 0) ++edata;
        if (didat >= 0) ++didat;
        ++idata;
        if (rdata >= 0) ++rdata;
    }

    // Headers.
    const std::uint32_t newHeader = kDefaultNewHeader;
    const std::uint16_t optionalSize = layout.pe32plus ? 240 : 224;
    const std::uint32_t sectionTable = newHeader + 24 + optionalSize;
    const std::uint32_t sizeOfHeaders =
        alignUp(sectionTable + 40 * std::uint32_t(sections.size()), kFileAlignment);
    std::uint32_t raw = sizeOfHeaders;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        Section& s = sections[i];
        s.rawPointer = raw;
        const bool last = i + 1 == sections.size();
        s.rawSize = (last && layout.unterminatedLastName) ? std::uint32_t(s.content.size())
                                                        : alignUp(std::uint32_t(s.content.size()), kFileAlignment);
        raw += s.rawSize;
    }

    Bytes b = dosStub(layout.lfanew ? *layout.lfanew : newHeader);
    putText(b, newHeader, std::string("PE\0\0", 4));
    putU16(b, newHeader + 4, layout.pe32plus ? 0x8664 : 0x014C);
    putU16(b, newHeader + 6, std::uint16_t(sections.size()));
    putU16(b, newHeader + 20, optionalSize);
    putU16(b, newHeader + 22, layout.pe32plus ? 0x2022 : 0x2102);  // DLL, executable image
    const std::uint32_t o = newHeader + 24;
    putU16(b, o + 0, layout.pe32plus ? 0x20B : 0x10B);
    putU8(b, o + 2, 2);
    putU32(b, o + 8, raw - sizeOfHeaders);  // initialised data
    if (layout.pe32plus) {
        putU32(b, o + 24, 0x10000000);  // image base, low half
    } else {
        putU32(b, o + 28, 0x10000000);
    }
    putU32(b, o + 32, kSectionAlignment);
    putU32(b, o + 36, kFileAlignment);
    putU16(b, o + 40, 4);  // OS version
    putU16(b, o + 48, 4);  // subsystem version
    putU32(b, o + 56, sizeOfImage);
    putU32(b, o + 60, sizeOfHeaders);
    putU16(b, o + 68, 2);  // GUI
    if (layout.pe32plus) {  // stack and heap reserve/commit are 64-bit here
        putU32(b, o + 72, 0x100000);
        putU32(b, o + 80, 0x1000);
        putU32(b, o + 88, 0x100000);
        putU32(b, o + 96, 0x1000);
        putU32(b, o + 108, 16);  // NumberOfRvaAndSizes
    } else {
        putU32(b, o + 72, 0x100000);
        putU32(b, o + 76, 0x1000);
        putU32(b, o + 80, 0x100000);
        putU32(b, o + 84, 0x1000);
        putU32(b, o + 92, 16);
    }
    const std::uint32_t directories = o + (layout.pe32plus ? 112 : 96);
    if (idata >= 0) {
        putU32(b, directories + 8, sections[idata].va);
        putU32(b, directories + 12, descriptorCount * 20);
    }
    if (edata >= 0) {
        putU32(b, directories + 0, sections[edata].va);
        putU32(b, directories + 4, sections[edata].virtualSize);
    }
    if (didat >= 0) {
        putU32(b, directories + 8 * 13, sections[didat].va);
        putU32(b, directories + 8 * 13 + 4, 32 * std::uint32_t(layout.delayImports.size() + 1));
    }
    if (rsrc >= 0) {
        putU32(b, directories + 16, sections[rsrc].va);
        putU32(b, directories + 20, sections[rsrc].virtualSize);
    }
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const Section& s = sections[i];
        const std::uint32_t h = sectionTable + 40 * std::uint32_t(i);
        putText(b, h, s.name.substr(0, 8));
        putU32(b, h + 8, s.virtualSize);
        putU32(b, h + 12, s.va);
        putU32(b, h + 16, s.rawSize);
        putU32(b, h + 20, s.rawPointer);
        putU32(b, h + 36, s.characteristics);
    }
    b.resize(sizeOfHeaders, 0);
    for (const Section& s : sections) {
        Bytes padded = s.content;
        padded.resize(s.rawSize, 0);
        putBytes(b, s.rawPointer, padded.data(), padded.size());
    }

    image.newHeader = newHeader;
    image.sectionTable = sectionTable;
    image.sectionCount = std::uint32_t(sections.size());
    if (idata >= 0) {
        image.firstDescriptor = sections[idata].rawPointer;
        const std::uint32_t namesBase =
            rdata >= 0 ? sections[rdata].rawPointer : sections[idata].rawPointer + namesInIdataAt;
        for (std::uint32_t at : nameAt) image.nameOffsets.push_back(namesBase + at);
    }
    if (layout.version) image.versionOffset = sections[rsrc].rawPointer + fixedInfoAt;
    if (edata >= 0) image.exportDirectory = sections[edata].rawPointer;
    if (didat >= 0) image.delayDirectory = sections[didat].rawPointer;
    for (const Section& s : sections)
        image.sections.push_back(PeImage::Placed{s.name, s.va, s.virtualSize, s.rawPointer, s.rawSize});
    if (layout.truncateAt >= 0 && std::size_t(layout.truncateAt) < b.size()) b.resize(std::size_t(layout.truncateAt));
    image.bytes = std::move(b);
    return image;
}

std::uint32_t PeImage::fileOffsetOf(std::uint32_t rva) const {
    for (const Placed& s : sections)
        if (rva >= s.va && rva - s.va < std::min(s.virtualSize, s.rawSize)) return s.rawPointer + (rva - s.va);
    return 0;
}

std::uint16_t NeImageLayout::offsetOf(std::size_t index) const {
    std::size_t offset = 1;
    for (std::size_t i = 0; i < index && i < names.size(); ++i) offset += 1 + names[i].size();
    return std::uint16_t(offset);
}

void NeImageLayout::reference(const std::vector<std::size_t>& indices) {
    refOffsets.clear();
    for (std::size_t i : indices) refOffsets.push_back(offsetOf(i));
}

NeImage buildNe(const NeImageLayout& layout) {
    Bytes table;
    if (layout.rawNamesTable) {
        table = *layout.rawNamesTable;
    } else {
        table.push_back(0);
        for (const std::string& name : layout.names) {
            table.push_back(std::uint8_t(name.size()));
            putText(table, table.size(), name);
        }
    }
    const std::uint32_t newHeader = kDefaultNewHeader;
    Bytes b = dosStub(layout.lfanew ? *layout.lfanew : newHeader);

    // Relative to the NE header: the header, the resident-names table, the
    // module-reference table, the imported-names table, the entry table.
    const std::string moduleName = "TESTMOD";
    const std::uint16_t residentNames = 64;
    const std::uint16_t refTable = std::uint16_t(residentNames + 1 + moduleName.size() + 3);
    const std::uint16_t namesTable = std::uint16_t(refTable + 2 * layout.refOffsets.size());
    const std::uint16_t entryTable = std::uint16_t(namesTable + table.size());
    const std::uint16_t entryField =
        layout.entryTableDelta ? std::uint16_t(namesTable + *layout.entryTableDelta) : entryTable;

    const std::uint32_t h = newHeader;
    putText(b, h, "NE");
    putU8(b, h + 2, 5);
    putU8(b, h + 3, 10);
    putU16(b, h + 4, entryField);
    putU16(b, h + 6, 2);          // entry table length
    putU16(b, h + 12, 0x8000);    // library module
    putU16(b, h + 30, layout.moduleCount ? *layout.moduleCount : std::uint16_t(layout.refOffsets.size()));
    putU16(b, h + 34, residentNames);  // no segments
    putU16(b, h + 36, residentNames);  // no resources
    putU16(b, h + 38, residentNames);
    putU16(b, h + 40, refTable);
    putU16(b, h + 42, namesTable);
    putU16(b, h + 50, 4);  // alignment shift
    putU8(b, h + 54, 2);   // Windows

    putU8(b, h + residentNames, std::uint8_t(moduleName.size()));
    putText(b, h + residentNames + 1, moduleName);
    putU16(b, h + residentNames + 1 + moduleName.size(), 0);
    putU8(b, h + residentNames + 3 + moduleName.size(), 0);
    for (std::size_t i = 0; i < layout.refOffsets.size(); ++i)
        putU16(b, h + refTable + 2 * i, layout.refOffsets[i]);
    putBytes(b, h + namesTable, table.data(), table.size());
    // The entry table: a bundle per run of entries of one kind, unused
    // bundles over the gaps.
    Bytes entryBytes;
    std::uint16_t next = 1;
    for (std::size_t i = 0; i < layout.entries.size();) {
        const NeEntrySpec& first = layout.entries[i];
        for (; next < first.ordinal; next = std::uint16_t(next + std::min(255, first.ordinal - next)))
            entryBytes.insert(entryBytes.end(), {std::uint8_t(std::min(255, first.ordinal - next)), 0});
        std::size_t end = i;
        while (end < layout.entries.size() && end - i < 255 && layout.entries[end].segment == first.segment &&
               layout.entries[end].ordinal == first.ordinal + (end - i))
            ++end;
        entryBytes.insert(entryBytes.end(), {std::uint8_t(end - i), first.segment});
        next = std::uint16_t(layout.entries[end - 1].ordinal + 1);
        for (; i < end; ++i) {
            const NeEntrySpec& e = layout.entries[i];
            const std::uint8_t offsetLow = std::uint8_t(e.offset), offsetHigh = std::uint8_t(e.offset >> 8);
            if (e.segment == 0xFF)
                entryBytes.insert(entryBytes.end(), {1, 0xCD, 0x3F, e.movableSegment, offsetLow, offsetHigh});
            else
                entryBytes.insert(entryBytes.end(), {1, offsetLow, offsetHigh});
        }
    }
    entryBytes.push_back(0);
    putBytes(b, h + entryTable, entryBytes.data(), entryBytes.size());
    putU16(b, h + 6, std::uint16_t(entryBytes.size() + 1));
    // Names of entry points: the resident ones after the module's name
    // (written again: the table grew), the others after the description.
    const auto namesTableOf = [&](bool resident) {
        Bytes names;
        names.push_back(std::uint8_t(moduleName.size()));
        putText(names, 1, moduleName);
        names.insert(names.end(), {0, 0});
        for (const NeEntrySpec& e : layout.entries) {
            if (e.name.empty() || e.resident != resident) continue;
            names.push_back(std::uint8_t(e.name.size()));
            putText(names, names.size(), e.name);
            names.insert(names.end(), {std::uint8_t(e.ordinal), std::uint8_t(e.ordinal >> 8)});
        }
        names.push_back(0);
        return names;
    };
    const std::uint32_t nonResident = h + entryTable + std::uint32_t(entryBytes.size()) + 1;
    const Bytes nonResidentNames = namesTableOf(false);
    putU32(b, h + 44, nonResident);
    putBytes(b, nonResident, nonResidentNames.data(), nonResidentNames.size());
    putU16(b, h + 32, std::uint16_t(nonResidentNames.size()));
    if (!layout.entries.empty()) {
        // The resident names move to the end, where they have room.
        const Bytes residentTable = namesTableOf(true);
        const std::uint32_t at = std::uint32_t(b.size());
        putBytes(b, at, residentTable.data(), residentTable.size());
        putU16(b, h + 38, std::uint16_t(at - h));
        putU16(b, h + 36, std::uint16_t(at - h));  // no resources: the table ends where the names start
    }
    if (!layout.relocations.empty()) {
        // One code segment of 16 bytes at a 16-byte sector, its relocation
        // records after it; the segment table after everything else.
        const std::uint32_t segmentTable = std::uint32_t(b.size());
        const std::uint32_t data = (segmentTable + 8 + 15) & ~15u;
        putU16(b, h + 28, 1);
        putU16(b, h + 34, std::uint16_t(segmentTable - h));
        putU16(b, segmentTable, std::uint16_t(data >> 4));
        putU16(b, segmentTable + 2, 16);
        putU16(b, segmentTable + 4, 0x0100);  // has relocations
        putU16(b, segmentTable + 6, 16);
        putBytes(b, data, std::vector<std::uint8_t>(16, 0x90).data(), 16);
        const std::uint32_t records = data + 16;
        putU16(b, records, std::uint16_t(layout.relocations.size()));
        for (std::size_t i = 0; i < layout.relocations.size(); ++i) {
            const NeRelocationSpec& r = layout.relocations[i];
            const std::uint32_t at = records + 2 + std::uint32_t(8 * i);
            putU8(b, at, 3);  // a far pointer
            putU8(b, at + 1, r.nameIndex ? 2 : 1);
            putU16(b, at + 2, std::uint16_t(2 * (i % 8)));
            putU16(b, at + 4, r.module);
            putU16(b, at + 6, r.nameIndex ? layout.offsetOf(*r.nameIndex) : r.ordinal);
        }
    }

    NeImage image;
    image.newHeader = newHeader;
    image.namesTable = h + namesTable;
    image.refTable = h + refTable;
    if (layout.truncateAt >= 0 && std::size_t(layout.truncateAt) < b.size()) b.resize(std::size_t(layout.truncateAt));
    image.bytes = std::move(b);
    return image;
}

}  // namespace vost::test
