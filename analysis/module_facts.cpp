#include "analysis/module_facts.h"

#include "analysis/cli_metadata.h"
#include "analysis/image_map.h"
#include "analysis/ne_functions.h"
#include "analysis/pe_headers.h"

namespace vost {

namespace {
constexpr std::uint16_t kMzSignature = 0x5A4D;      // "MZ"
constexpr std::uint16_t kNeSignature = 0x454E;      // "NE"
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint64_t kNewHeaderOffsetField = 60;

std::size_t modulesFootprint(const std::vector<ImportedModule>& modules) {
    std::size_t bytes = modules.capacity() * sizeof(ImportedModule);
    for (const ImportedModule& m : modules) {
        bytes += m.name.capacity() + m.functions.capacity() * sizeof(ImportedFunction);
        for (const ImportedFunction& f : m.functions) bytes += f.name.capacity();
    }
    return bytes;
}

// The format, as the header reader tells it: every byte read is bounded by
// the file, so a new-header offset (or a signature) past its end is the
// "invalid .EXE" case.
ModuleFacts::Format formatOf(const ByteView& image, std::uint64_t& newHeader) {
    std::uint16_t mz = 0, ne = 0;
    std::uint32_t field = 0, pe = 0;
    if (!image.readU16(0, mz) || mz != kMzSignature) return ModuleFacts::Format::notMz;
    if (!image.readU32(kNewHeaderOffsetField, field) || !image.readU16(field, ne)) return ModuleFacts::Format::badNewHeader;
    newHeader = field;
    if (ne == kNeSignature) return ModuleFacts::Format::ne;
    if (!image.readU32(newHeader, pe)) return ModuleFacts::Format::badNewHeader;
    return pe == kPeSignature ? ModuleFacts::Format::pe : ModuleFacts::Format::neither;
}
}  // namespace

std::size_t ModuleFacts::footprint() const {
    std::size_t bytes = sizeof *this + exports.text.capacity() + exports.moduleName.capacity() +
                        exports.addresses.capacity() * sizeof(std::uint32_t) +
                        exports.names.capacity() * sizeof(ExportName) +
                        exports.forwarders.capacity() * sizeof(ExportForwarder) +
                        exports.sortedNames.capacity() * sizeof(std::uint32_t) + modulesFootprint(references.imports) +
                        modulesFootprint(references.delayImports) + modulesFootprint(neImports);
    for (const std::string& file : neReferences.files) bytes += sizeof file + file.capacity();
    if (cli) {
        bytes += sizeof *cli + cli->runtimeVersion.capacity();
        for (const AssemblyName& name : cli->references) bytes += sizeof name + name.name.capacity() + 32;
        for (const PInvokeModule& module : cli->pinvokes) bytes += sizeof module + module.name.capacity();
    }
    return bytes;
}

ModuleFacts readModuleFacts(AnalysisPlatform& platform, const char* path, bool functions, bool version) {
    // The mapping releases the view and the file on every path out.
    const std::unique_ptr<MappedFile> file = platform.mapFile(path);
    if (!file) return ModuleFacts{};
    return readModuleFacts(platform, path, file->bytes(), functions, version);
}

ModuleFacts readModuleFacts(AnalysisPlatform& platform, const char* path, const ByteView& image, bool functions,
                            bool version) {
    ModuleFacts facts;
    if (version) facts.hasVersion = platform.readFixedVersionOf(path, image, facts.version);
    facts.format = formatOf(image, facts.newHeader);
    const std::uint64_t newHeader = facts.newHeader;
    if (facts.format == ModuleFacts::Format::ne) {
        facts.ne = true;
        facts.neReferences = readNeReferences(image, newHeader);
        if (functions) {
            facts.exports = readNeExports(image, newHeader);
            facts.neImports = readNeImports(image, newHeader);
        }
        return facts;
    }
    if (facts.format != ModuleFacts::Format::pe) return facts;

    facts.image = true;
    // A PE32+ module's references are 64-bit modules; every other PE
    // file's, like an NE file's, are 32-bit (or 16-bit) ones.
    facts.machine = coffMachine(image, newHeader);
    facts.bits = isPe32Plus(image, newHeader) ? ModuleBits::bits64 : ModuleBits::bits32;
    readManifestUse(image, newHeader, facts.manifests);
    const ImageMap map(image, newHeader);
    facts.references = readPeReferences(image, newHeader, map, functions);
    CliImage cli = readCliMetadata(image, newHeader, map);
    if (cli.present) facts.cli = std::make_shared<const CliImage>(std::move(cli));
    if (functions) facts.exports = readPeExports(image, newHeader, map);
    return facts;
}

}  // namespace vost
