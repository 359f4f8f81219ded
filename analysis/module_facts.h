// What one module file gives every reader of a scan, read in one pass over
// one mapping: the header reader's verdict, the version, the references the
// walkers follow, the managed metadata, and what the check and the Functions
// lists match (imports with their functions, exports). The file is let go
// before the facts are used, so a closure of thousands of modules never holds
// more than one file open; a ModuleCache keeps the facts of each file for the
// run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/byte_view.h"
#include "analysis/module_contexts.h"
#include "analysis/pe_exports.h"
#include "analysis/pe_import_functions.h"
#include "analysis/platform.h"

namespace vost {

class ImageMap;
struct CliImage;

// A PE image's references as the import walker takes them: the descriptors
// of the import directory and of the delay-load directory, each module once
// per descriptor, names read as the loader reads them.
struct PeReferences {
    bool importsWalked = false;  // an import descriptor passed the end tests
    bool cut = false;            // the import directory named more than kMaxReferencesPerModule modules
    std::vector<ImportedModule> imports;
    std::vector<ImportedModule> delayImports;
};

// With `functions`, each module's functions too (its thunks), else only the
// modules' names.
PeReferences readPeReferences(const ByteView& image, std::uint64_t newHeader, const ImageMap& map, bool functions);

// The modules an NE module references, as the walker takes them: the
// imported-names table's strings that the module-reference table points
// at, in table order, under the file names the loader looks for.
struct NeReferences {
    std::vector<std::string> files;
    bool cut = false;  // more than kMaxReferencesPerModule
};
NeReferences readNeReferences(const ByteView& image, std::uint64_t newHeader);

struct ModuleFacts {
    // What the header reader makes of the file.
    enum class Format : std::uint8_t {
        unreadable,    // not opened, or empty
        notMz,         // no "MZ" (the "not a Valid File" message)
        badNewHeader,  // e_lfanew or the signature past the end ("invalid .EXE")
        neither,       // a signature of neither kind
        pe,
        ne,
    };
    Format format = Format::unreadable;
    std::uint64_t newHeader = 0;
    bool image = false;  // a PE image: format pe
    bool ne = false;     // an NE module: format ne

    bool hasVersion = false;  // the version resource's fixed information
    FixedFileVersion version;

    std::uint16_t machine = 0;  // a PE image's COFF machine
    ModuleBits bits = ModuleBits::bits32;
    ManifestUse manifests;   // decides the module's own activation context
    PeReferences references;
    std::shared_ptr<const CliImage> cli;  // a managed image's metadata; null for native ones

    // A PE image's export table, or an NE module's entry table and names.
    PeExports exports;

    // An NE module's references, and what its relocation records import.
    NeReferences neReferences;
    std::vector<ImportedModule> neImports;

    // About how many bytes the facts take, for a cache's bound.
    std::size_t footprint() const;
};

// Reads everything above from the file at `path` in one mapping. Without
// `functions` the thunks of the imports are not read (a scan that checks
// nothing needs only the modules' names). The version is the platform's
// reading of the same bytes (AnalysisPlatform::readFixedVersionOf), not read
// without `version`.
ModuleFacts readModuleFacts(AnalysisPlatform& platform, const char* path, bool functions, bool version = true);
// The same from bytes in hand (`path` names them for the platform).
ModuleFacts readModuleFacts(AnalysisPlatform& platform, const char* path, const ByteView& image, bool functions,
                            bool version = true);

}  // namespace vost
