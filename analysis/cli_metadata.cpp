#include "analysis/cli_metadata.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "analysis/image_map.h"
#include "analysis/pe_headers.h"
#include "analysis/read_budget.h"
#include "analysis/sha1.h"

namespace vost {

namespace {
constexpr int kClrDirectory = 14;
constexpr std::uint32_t kMetadataSignature = 0x424A5342;  // "BSJB"
// ECMA-335 names five streams; a few more appear in the wild. A hostile
// count ends the stream headers here.
constexpr std::uint32_t kMaxStreams = 64;
// A token holds a row number in 24 bits: the runtime refuses more rows.
constexpr std::uint32_t kMaxRows = 0x00FFFFFF;
// Public keys are a few hundred bytes; anything past this is no key.
constexpr std::uint32_t kMaxKeySize = 64 * 1024;
constexpr std::uint32_t kAssemblyRefFlagPublicKey = 0x0001;

// Table numbers read here.
constexpr int kModuleRefTable = 0x1A;
constexpr int kImplMapTable = 0x1C;
constexpr int kAssemblyTable = 0x20;
constexpr int kAssemblyRefTable = 0x23;
constexpr int kTableCount = 0x2D;  // tables 0x00 to 0x2C have a schema

// Coded indexes: the tables each can name, in tag order (0xFF: a tag no
// table uses), and the bits the tag takes.
enum Coded : std::uint8_t {
    TypeDefOrRef, HasConstant, HasCustomAttribute, HasFieldMarshal, HasDeclSecurity, MemberRefParent,
    HasSemantics, MethodDefOrRef, MemberForwarded, Implementation, CustomAttributeType, ResolutionScope,
    TypeOrMethodDef, kCodedCount
};
struct CodedKind {
    std::uint8_t tagBits;
    std::uint8_t count;
    std::uint8_t tables[22];
};
constexpr CodedKind kCoded[kCodedCount] = {
    {2, 3, {0x02, 0x01, 0x1B}},
    {2, 3, {0x04, 0x08, 0x17}},
    {5, 22, {0x06, 0x04, 0x01, 0x02, 0x08, 0x09, 0x0A, 0x00, 0x0E, 0x17, 0x14,
             0x11, 0x1A, 0x1B, 0x20, 0x23, 0x26, 0x27, 0x28, 0x2A, 0x2C, 0x2B}},
    {1, 2, {0x04, 0x08}},
    {2, 3, {0x02, 0x06, 0x20}},
    {3, 5, {0x02, 0x01, 0x1A, 0x06, 0x1B}},
    {1, 2, {0x14, 0x17}},
    {1, 2, {0x06, 0x0A}},
    {1, 2, {0x04, 0x06}},
    {2, 3, {0x26, 0x23, 0x27}},
    {3, 5, {0xFF, 0xFF, 0x06, 0x0A, 0xFF}},
    {2, 4, {0x00, 0x1A, 0x23, 0x01}},
    {1, 2, {0x02, 0x06}},
};

enum ColumnKind : std::uint8_t { kU16, kU32, kString, kGuid, kBlob, kTable, kCodedIndex };
struct Column {
    std::uint8_t kind;
    std::uint8_t arg;  // the table of kTable, the kind of kCodedIndex
};
constexpr Column H{kU16, 0}, W{kU32, 0}, S{kString, 0}, G{kGuid, 0}, B{kBlob, 0};
constexpr Column T(std::uint8_t table) { return Column{kTable, table}; }
constexpr Column C(Coded coded) { return Column{kCodedIndex, coded}; }

struct TableSchema {
    std::uint8_t count;
    Column columns[9];
};
// The columns of every table of ECMA-335 II.22, by table number.
constexpr TableSchema kSchemas[kTableCount] = {
    {5, {H, S, G, G, G}},                          // 0x00 Module
    {3, {C(ResolutionScope), S, S}},               // 0x01 TypeRef
    {6, {W, S, S, C(TypeDefOrRef), T(0x04), T(0x06)}},  // 0x02 TypeDef
    {1, {T(0x04)}},                                // 0x03 FieldPtr
    {3, {H, S, B}},                                // 0x04 Field
    {1, {T(0x06)}},                                // 0x05 MethodPtr
    {6, {W, H, H, S, B, T(0x08)}},                 // 0x06 MethodDef
    {1, {T(0x08)}},                                // 0x07 ParamPtr
    {3, {H, H, S}},                                // 0x08 Param
    {2, {T(0x02), C(TypeDefOrRef)}},               // 0x09 InterfaceImpl
    {3, {C(MemberRefParent), S, B}},               // 0x0A MemberRef
    {3, {H, C(HasConstant), B}},                   // 0x0B Constant (type byte and padding)
    {3, {C(HasCustomAttribute), C(CustomAttributeType), B}},  // 0x0C CustomAttribute
    {2, {C(HasFieldMarshal), B}},                  // 0x0D FieldMarshal
    {3, {H, C(HasDeclSecurity), B}},               // 0x0E DeclSecurity
    {3, {H, W, T(0x02)}},                          // 0x0F ClassLayout
    {2, {W, T(0x04)}},                             // 0x10 FieldLayout
    {1, {B}},                                      // 0x11 StandAloneSig
    {2, {T(0x02), T(0x14)}},                       // 0x12 EventMap
    {1, {T(0x14)}},                                // 0x13 EventPtr
    {3, {H, S, C(TypeDefOrRef)}},                  // 0x14 Event
    {2, {T(0x02), T(0x17)}},                       // 0x15 PropertyMap
    {1, {T(0x17)}},                                // 0x16 PropertyPtr
    {3, {H, S, B}},                                // 0x17 Property
    {3, {H, T(0x06), C(HasSemantics)}},            // 0x18 MethodSemantics
    {3, {T(0x02), C(MethodDefOrRef), C(MethodDefOrRef)}},  // 0x19 MethodImpl
    {1, {S}},                                      // 0x1A ModuleRef
    {1, {B}},                                      // 0x1B TypeSpec
    {4, {H, C(MemberForwarded), S, T(0x1A)}},      // 0x1C ImplMap
    {2, {W, T(0x04)}},                             // 0x1D FieldRVA
    {2, {W, W}},                                   // 0x1E EncLog
    {1, {W}},                                      // 0x1F EncMap
    {9, {W, H, H, H, H, W, B, S, S}},              // 0x20 Assembly
    {1, {W}},                                      // 0x21 AssemblyProcessor
    {3, {W, W, W}},                                // 0x22 AssemblyOS
    {9, {H, H, H, H, W, B, S, S, B}},              // 0x23 AssemblyRef
    {2, {W, T(0x23)}},                             // 0x24 AssemblyRefProcessor
    {4, {W, W, W, T(0x23)}},                       // 0x25 AssemblyRefOS
    {3, {W, S, B}},                                // 0x26 File
    {5, {W, W, S, S, C(Implementation)}},          // 0x27 ExportedType
    {4, {W, W, S, C(Implementation)}},             // 0x28 ManifestResource
    {2, {T(0x02), T(0x02)}},                       // 0x29 NestedClass
    {4, {H, H, C(TypeOrMethodDef), S}},            // 0x2A GenericParam
    {2, {C(MethodDefOrRef), B}},                   // 0x2B MethodSpec
    {2, {T(0x2A), C(TypeDefOrRef)}},               // 0x2C GenericParamConstraint
};

const char* tableName(int table) {
    switch (table) {
    case kModuleRefTable: return "ModuleRef";
    case kImplMapTable: return "ImplMap";
    case kAssemblyTable: return "Assembly";
    case kAssemblyRefTable: return "AssemblyRef";
    default: return "a table";
    }
}

std::string hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

// The metadata's streams and tables, as far as they can be read.
class Metadata {
public:
    Metadata(CliImage& out, ReadBudget& budget) : out_(out), budget_(budget) {}

    bool readRoot(const ByteView& metadata);
    bool readTableHeader();

    // Reads `table`'s row `row` (0-based) into `cells`, one value per column.
    bool readRow(int table, std::uint32_t row, std::uint32_t (&cells)[9]);
    std::uint32_t rows(int table) const { return rows_[table]; }
    // The rows of `table` that lie inside the tables stream.
    std::uint32_t readableRows(int table) const { return readable_[table]; }

    bool text(std::uint32_t index, std::string& out);
    bool blob(std::uint32_t index, std::vector<std::uint8_t>& out);

    void problem(std::string text) {
        if (out_.problems.size() < 16) out_.problems.push_back(std::move(text));
    }

private:
    unsigned width(const Column& column) const;

    CliImage& out_;
    ReadBudget& budget_;
    ByteView tables_, strings_, blobs_;
    std::uint8_t heapSizes_ = 0;
    std::uint32_t rows_[64] = {};
    std::uint32_t readable_[kTableCount] = {};
    std::uint64_t start_[kTableCount] = {};
    unsigned rowSize_[kTableCount] = {};
};

bool Metadata::readRoot(const ByteView& metadata) {
    std::uint32_t signature = 0, length = 0;
    if (!metadata.readU32(0, signature) || signature != kMetadataSignature) {
        problem("no metadata signature");
        return false;
    }
    if (!metadata.readU32(12, length) || length > 255 + 4 || !metadata.contains(16, length)) {
        problem("unreadable metadata version");
        return false;
    }
    char version[260] = {};
    metadata.readBytes(16, length, version);
    version[std::min<std::uint32_t>(length, 259)] = '\0';
    out_.runtimeVersion = version;
    const std::uint64_t flagsAt = 16 + ((std::uint64_t(length) + 3) & ~std::uint64_t(3));
    std::uint16_t streams = 0;
    if (!metadata.readU16(flagsAt + 2, streams)) {
        problem("metadata root cut short");
        return false;
    }
    if (streams > kMaxStreams) {
        problem(std::to_string(streams) + " metadata streams");
        streams = kMaxStreams;
    }
    std::uint64_t at = flagsAt + 4;
    ByteView found[4];  // tables, #Strings, #Blob; first of each name wins
    bool seen[4] = {};
    for (std::uint16_t i = 0; i < streams; ++i) {
        std::uint32_t offset = 0, size = 0;
        char name[33] = {};
        if (!metadata.readU32(at, offset) || !metadata.readU32(at + 4, size) ||
            !metadata.readCString(at + 8, name, sizeof name)) {
            problem("stream headers cut short");
            break;
        }
        at += 8 + ((std::strlen(name) + 4) & ~std::size_t(3));
        const std::string stream = name;
        int slot = -1;
        if (stream == "#~" || stream == "#-") slot = 0;  // "#-" has the same schema, pointer tables in use
        else if (stream == "#Strings") slot = 1;
        else if (stream == "#Blob") slot = 2;
        if (slot < 0 || seen[slot]) continue;
        seen[slot] = true;
        if (!metadata.contains(offset, size)) {
            problem("stream " + stream + " runs past the metadata");
            size = offset < metadata.size() ? std::uint32_t(metadata.size() - offset) : 0;
        }
        found[slot] = metadata.slice(offset, size);
    }
    tables_ = found[0];
    strings_ = found[1];
    blobs_ = found[2];
    if (!seen[0]) problem("no tables stream");
    return seen[0];
}

unsigned Metadata::width(const Column& column) const {
    switch (column.kind) {
    case kU16: return 2;
    case kU32: return 4;
    case kString: return (heapSizes_ & 0x01) ? 4 : 2;
    case kGuid: return (heapSizes_ & 0x02) ? 4 : 2;
    case kBlob: return (heapSizes_ & 0x04) ? 4 : 2;
    case kTable: return rows_[column.arg] > 0xFFFF ? 4 : 2;
    case kCodedIndex: {
        const CodedKind& coded = kCoded[column.arg];
        std::uint32_t most = 0;
        for (std::uint8_t i = 0; i < coded.count; ++i)
            if (coded.tables[i] != 0xFF) most = std::max(most, rows_[coded.tables[i]]);
        return most < (std::uint32_t(1) << (16 - coded.tagBits)) ? 2 : 4;
    }
    }
    return 4;
}

bool Metadata::readTableHeader() {
    std::uint8_t heapSizes = 0;
    std::uint32_t validLow = 0, validHigh = 0;
    if (!tables_.readU8(6, heapSizes) || !tables_.readU32(8, validLow) || !tables_.readU32(12, validHigh)) {
        problem("tables stream cut short");
        return false;
    }
    heapSizes_ = heapSizes;
    const std::uint64_t valid = std::uint64_t(validHigh) << 32 | validLow;
    std::uint64_t at = 24;
    for (int table = 0; table < 64; ++table) {
        if (!(valid >> table & 1)) continue;
        if (!tables_.readU32(at, rows_[table])) {
            problem("table row counts cut short");
            return false;
        }
        at += 4;
        if (rows_[table] > kMaxRows) {
            problem("table " + hex(table) + " claims " + std::to_string(rows_[table]) + " rows");
            return false;
        }
    }
    // An extra word follows the counts when heap-size bit 0x40 says so.
    if (heapSizes_ & 0x40) at += 4;
    // Each table's rows follow the last's, in table order; a table with no
    // schema (0x2D and up) ends what can be located, and only comes after
    // every table read here.
    for (int table = 0; table < kTableCount; ++table) {
        unsigned size = 0;
        for (std::uint8_t c = 0; c < kSchemas[table].count; ++c) size += width(kSchemas[table].columns[c]);
        rowSize_[table] = size;
        start_[table] = at;
        const std::uint64_t bytes = std::uint64_t(size) * rows_[table];
        const std::uint64_t room = at < tables_.size() ? tables_.size() - at : 0;
        readable_[table] = bytes <= room ? rows_[table] : std::uint32_t(room / size);
        at += bytes;
    }
    return true;
}

bool Metadata::readRow(int table, std::uint32_t row, std::uint32_t (&cells)[9]) {
    const unsigned size = rowSize_[table];
    if (row >= readable_[table] || !budget_.spend(size)) return false;
    std::uint8_t bytes[36];
    if (!tables_.readBytes(start_[table] + std::uint64_t(row) * size, size, bytes)) return false;
    unsigned at = 0;
    for (std::uint8_t c = 0; c < kSchemas[table].count; ++c) {
        const unsigned w = width(kSchemas[table].columns[c]);
        std::uint32_t value = 0;
        for (unsigned b = 0; b < w; ++b) value |= std::uint32_t(bytes[at + b]) << (8 * b);
        cells[c] = value;
        at += w;
    }
    return true;
}

bool Metadata::text(std::uint32_t index, std::string& out) {
    out.clear();
    if (index == 0) return true;
    return readBoundedText(strings_, index, out, budget_);
}

bool Metadata::blob(std::uint32_t index, std::vector<std::uint8_t>& out) {
    out.clear();
    if (index == 0) return true;
    std::uint8_t lead = 0;
    if (!blobs_.readU8(index, lead)) return false;
    std::uint32_t length = 0;
    std::uint64_t data = index;
    if ((lead & 0x80) == 0) {
        length = lead;
        data += 1;
    } else if ((lead & 0xC0) == 0x80) {
        std::uint8_t next = 0;
        if (!blobs_.readU8(index + 1, next)) return false;
        length = std::uint32_t(lead & 0x3F) << 8 | next;
        data += 2;
    } else if ((lead & 0xE0) == 0xC0) {
        std::uint8_t rest[3];
        if (!blobs_.readBytes(index + 1, 3, rest)) return false;
        length = std::uint32_t(lead & 0x1F) << 24 | std::uint32_t(rest[0]) << 16 | std::uint32_t(rest[1]) << 8 | rest[2];
        data += 4;
    } else {
        return false;
    }
    if (length > kMaxKeySize || !blobs_.contains(data, length) || !budget_.spend(length)) return false;
    out.resize(length);
    return blobs_.readBytes(data, length, out.data());
}

std::string hexBytes(const std::uint8_t* bytes, std::size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

// Reads the name columns shared by Assembly and AssemblyRef: the four
// version parts, flags, key blob, name and culture at `first`.
bool readName(Metadata& metadata, const std::uint32_t* cells, bool wholeKey, AssemblyName& out) {
    for (int i = 0; i < 4; ++i) out.version.part[i] = std::uint16_t(cells[i]);
    out.flags = cells[4];
    if (!metadata.text(cells[6], out.name) || out.name.empty()) return false;
    if (!metadata.text(cells[7], out.culture)) return false;
    if (out.culture == "neutral") out.culture.clear();
    std::vector<std::uint8_t> key;
    if (!metadata.blob(cells[5], key)) {
        metadata.problem("unreadable public key of " + out.name);
    } else if (!key.empty()) {
        if (wholeKey || (out.flags & kAssemblyRefFlagPublicKey)) out.publicKeyToken = publicKeyToken(key.data(), key.size());
        else if (key.size() == 8) out.publicKeyToken = hexBytes(key.data(), key.size());
        else metadata.problem("a public key token of " + std::to_string(key.size()) + " bytes for " + out.name);
    }
    return true;
}

// The CLI header's metadata directory; false when the image has none.
bool readCliHeader(const ByteView& image, std::uint64_t newHeader, const ByteView& mapped, std::uint32_t& metadataRva,
                   std::uint32_t& metadataSize, std::uint32_t& flags, bool& present) {
    present = false;
    std::uint32_t count = 0, rva = 0, size = 0;
    const std::uint64_t entry = dataDirectoryEntry(optionalHeaderMagic(image, newHeader), kClrDirectory);
    if (!numberOfRvaAndSizes(image, newHeader, count) || count <= std::uint32_t(kClrDirectory) ||
        !image.readU32(newHeader + entry, rva) || !image.readU32(newHeader + entry + 4, size) || rva == 0 || size == 0)
        return false;
    present = true;
    std::uint32_t cb = 0;
    if (!mapped.readU32(rva, cb) || !mapped.readU32(rva + 8, metadataRva) || !mapped.readU32(rva + 12, metadataSize) ||
        !mapped.readU32(rva + 16, flags))
        return false;
    (void)cb;  // the loader does not check the header's own size; neither is it needed here
    return true;
}
}  // namespace

std::string AssemblyName::displayName() const {
    return name + ", Version=" + version.text() + ", Culture=" + (culture.empty() ? "neutral" : culture) +
           ", PublicKeyToken=" + (publicKeyToken.empty() ? "null" : publicKeyToken);
}

std::string publicKeyToken(const std::uint8_t* key, std::size_t size) {
    const std::array<std::uint8_t, 20> digest = sha1(key, size);
    std::uint8_t token[8];
    for (int i = 0; i < 8; ++i) token[i] = digest[19 - i];
    return hexBytes(token, 8);
}

bool hasCliHeader(const ByteView& image, std::uint64_t newHeader) {
    std::uint32_t count = 0, rva = 0, size = 0;
    const std::uint64_t entry = dataDirectoryEntry(optionalHeaderMagic(image, newHeader), kClrDirectory);
    return numberOfRvaAndSizes(image, newHeader, count) && count > std::uint32_t(kClrDirectory) &&
           image.readU32(newHeader + entry, rva) && image.readU32(newHeader + entry + 4, size) && rva != 0 && size != 0;
}

CliImage readCliMetadata(const ByteView& image, std::uint64_t newHeader) {
    if (!hasCliHeader(image, newHeader)) return CliImage();
    const ImageMap map(image, newHeader);
    return readCliMetadata(image, newHeader, map);
}

CliImage readCliMetadata(const ByteView& image, std::uint64_t newHeader, const ImageMap& map) {
    CliImage out;
    const ByteView mapped = map.view();
    std::uint32_t metadataRva = 0, metadataSize = 0;
    if (!readCliHeader(image, newHeader, mapped, metadataRva, metadataSize, out.flags, out.present)) {
        if (out.present) out.problems.push_back("CLI header outside the image");
        return out;
    }
    ByteView metadata = mapped.slice(metadataRva, metadataSize);
    if (metadata.size() == 0 && metadataSize != 0) {
        out.problems.push_back("metadata outside the image");
        if (metadataRva >= mapped.size()) return out;
        metadata = mapped.slice(metadataRva, mapped.size() - metadataRva);
    }
    // Every row, text and key read is charged against the file's size: the
    // tables of a hostile image may lie in zeros the loader makes, and
    // many rows may name one long text.
    ReadBudget budget(image.size());
    Metadata tables(out, budget);
    if (!tables.readRoot(metadata) || !tables.readTableHeader()) return out;

    for (int table : {kAssemblyTable, kAssemblyRefTable, kModuleRefTable, kImplMapTable})
        if (tables.readableRows(table) < tables.rows(table))
            tables.problem(std::string(tableName(table)) + " table runs past the tables stream");

    std::uint32_t cells[9];
    if (tables.rows(kAssemblyTable) > 0 && tables.readRow(kAssemblyTable, 0, cells)) {
        // The Assembly row starts with HashAlgId: its name columns sit one further.
        out.hasAssembly = readName(tables, cells + 1, true, out.assembly);
        if (!out.hasAssembly) tables.problem("unreadable assembly name");
    }

    const std::uint32_t references = tables.readableRows(kAssemblyRefTable);
    for (std::uint32_t row = 0; row < references; ++row) {
        if (out.references.size() == kMaxManagedReferences) {
            out.cut = true;
            break;
        }
        AssemblyName name;
        if (!tables.readRow(kAssemblyRefTable, row, cells)) break;
        if (readName(tables, cells, false, name)) out.references.push_back(std::move(name));
        else tables.problem("unreadable name of assembly reference " + std::to_string(row + 1));
    }

    // The ModuleRef rows that ImplMap rows name, each with its count.
    const std::uint32_t moduleRefs = tables.readableRows(kModuleRefTable);
    std::vector<std::uint32_t> calls(moduleRefs, 0);
    const std::uint32_t implMaps = tables.readableRows(kImplMapTable);
    std::uint32_t badScopes = 0;
    for (std::uint32_t row = 0; row < implMaps; ++row) {
        if (!tables.readRow(kImplMapTable, row, cells)) break;
        const std::uint32_t scope = cells[3];
        if (scope == 0 || scope > moduleRefs) ++badScopes;
        else ++calls[scope - 1];
    }
    if (badScopes) tables.problem(std::to_string(badScopes) + " P/Invoke rows name no module");
    for (std::uint32_t row = 0; row < moduleRefs; ++row) {
        if (calls[row] == 0) continue;
        if (out.pinvokes.size() == kMaxManagedReferences) {
            out.cut = true;
            break;
        }
        PInvokeModule module;
        module.functions = calls[row];
        if (!tables.readRow(kModuleRefTable, row, cells)) break;
        if (tables.text(cells[0], module.name) && !module.name.empty()) out.pinvokes.push_back(std::move(module));
        else tables.problem("unreadable name of module reference " + std::to_string(row + 1));
    }
    if (budget.spent()) tables.problem("metadata reads exceed the file's size");
    return out;
}

}  // namespace vost
