// Writes builder-made seed images (PE and NE, sound and damaged) into a folder.
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/api_set_builder.h"
#include "tests/support/icon_images.h"
#include "tests/support/image_builder.h"

namespace {
void write(const std::string& dir, const std::string& name, const vost::test::Bytes& bytes) {
    std::ofstream(dir + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
}  // namespace

int main(int argc, char** argv) {
    using namespace vost::test;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];

    PeImageLayout pe;
    pe.imports = {"KERNEL32.dll", "USER32.dll", "msvcrt.dll"};
    write(dir, "builder-pe.dll", buildPe(pe).bytes);
    pe.namesInOwnSection = true;
    pe.version = vost::FixedFileVersion{0x00050001, 0x0A280000, 0x00050001, 0x0A280000};
    write(dir, "builder-pe-split-version.dll", buildPe(pe).bytes);
    pe.overlappingSection = true;
    pe.nameInNoSection = 1;
    write(dir, "builder-pe-overlap.dll", buildPe(pe).bytes);
    PeImageLayout odd;
    odd.imports = {"A.dll", "B.dll"};
    odd.unterminatedLastName = true;
    write(dir, "builder-pe-unterminated.dll", buildPe(odd).bytes);
    odd.unterminatedLastName = false;
    odd.pe32plus = true;
    write(dir, "builder-pe32plus.dll", buildPe(odd).bytes);

    NeImageLayout ne;
    ne.names = {"KERNEL", "GetVersion", "USER", "GDI", "SYSTEM", "KEYBOARD", "kernel"};
    ne.reference({0, 2, 3, 4, 5, 6, 2});
    write(dir, "builder-ne.exe", buildNe(ne).bytes);
    NeImageLayout raw;
    raw.rawNamesTable = Bytes{0, 4, 'U', 'S', 'E', 'R', 200, 'x', 0};
    raw.refOffsets = {1, 6};
    write(dir, "builder-ne-long-length.exe", buildNe(raw).bytes);

    // Files with icons, for the icon-reading check.
    write(dir, "builder-icons-pe.exe", buildIconPe().bytes);
    write(dir, "builder-icons-pe32plus.exe", buildIconPe(true).bytes);
    write(dir, "builder-icons-ne.exe", buildIconNe().bytes);
    write(dir, "builder-icons.ico", buildIconFile());

    // A file set for fuzz_scan (files joined by "#VF#"): a root importing two
    // modules, one of which imports the root back and an NE module.
    PeImageLayout root;
    root.imports = {"first.dll", "second.dll"};
    root.version = vost::FixedFileVersion{0x00010002, 0x00030004, 0x00010002, 0x00030004};
    PeImageLayout first;
    first.imports = {"ROOT.EXE", "third"};
    Bytes bundle = buildPe(root).bytes;
    for (const Bytes& part : {buildPe(first).bytes, buildPe(odd).bytes, buildNe(ne).bytes}) {
        const Bytes marker = bytesOf("#VF#");
        bundle.insert(bundle.end(), marker.begin(), marker.end());
        bundle.insert(bundle.end(), part.begin(), part.end());
    }
    write(dir, "bundle-builder.bin", bundle);

    // A file set whose last file is an API set schema: the root imports
    // contracts (hosted, without host, unknown) and the host itself.
    ApiSetSchemaLayout schema;
    schema.entries = {{"api-ms-win-core-synch-l1-2-1", {{"", "kernelbase.dll"}, {"kernel32.dll", "other.dll"}}},
                      {"api-ms-win-gone-l1-1-0", {{"", ""}}}};
    PeImageLayout contracts;
    contracts.imports = {"api-ms-win-core-synch-l1-2-0.dll", "API-MS-WIN-GONE-L1-1-0", "ext-ms-unknown-l1-1-0.dll",
                         "kernelbase.dll"};
    PeImageLayout host;
    host.imports = {"api-ms-win-core-synch-l1-1-0.dll"};
    Bytes set = buildPe(contracts).bytes;
    for (const Bytes& part : {buildPe(host).bytes, buildApiSetPe(buildApiSetSchema(schema).bytes, false).bytes}) {
        const Bytes marker = bytesOf("#VF#");
        set.insert(set.end(), marker.begin(), marker.end());
        set.insert(set.end(), part.begin(), part.end());
    }
    write(dir, "bundle-contracts.bin", set);

    // A file set for the check: a root importing by name and by ordinal from
    // a library whose exports forward to a third file, to itself in a loop
    // and to a module that is not there, and delay-loading a fourth module;
    // the final byte (odd) asks for delay-loaded modules.
    PeImageLayout program;
    program.imports = {"lib.dll"};
    program.importFunctions = {{ImportThunk{"f", 0, std::nullopt}, ImportThunk{"Fwd", 1, std::nullopt},
                                ImportThunk{"", 0, std::uint16_t(3)}, ImportThunk{"Loop", 0, std::nullopt},
                                ImportThunk{"Gone", 0, std::nullopt}}};
    program.delayImports = {{"late.dll", {ImportThunk{"d", 0, std::nullopt}}}};
    PeImageLayout lib;
    lib.exports.emplace();
    lib.exports->entries = {ExportEntry{{"f"}, 0x40010, ""}, ExportEntry{{"Fwd"}, 0, "other.Target"},
                            ExportEntry{{}, 0, "other.#1"}, ExportEntry{{"Loop"}, 0, "lib.Loop"},
                            ExportEntry{{"Gone"}, 0, "gone.Any"}};
    PeImageLayout other;
    other.exports.emplace();
    other.exports->entries = {ExportEntry{{"Target"}, 0x40010, ""}};
    Bytes checkBundle = buildPe(program).bytes;
    for (const Bytes& part : {buildPe(lib).bytes, buildPe(other).bytes, buildPe(lib).bytes}) {
        const Bytes marker = bytesOf("#VF#");
        checkBundle.insert(checkBundle.end(), marker.begin(), marker.end());
        checkBundle.insert(checkBundle.end(), part.begin(), part.end());
    }
    checkBundle.push_back(1);
    write(dir, "bundle-check.bin", checkBundle);
    return 0;
}
