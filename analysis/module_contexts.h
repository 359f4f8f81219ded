// Which activation contexts the loader applies to a PE module's imports: the
// process's (made from the program's manifest when the process starts, the
// system's default when the program has none) for every module, and a DLL's
// own (its resource-2 manifest) for that DLL's imports, asked first. The
// system's default answers behind them in any case (reference_search.h).
#pragma once

#include <cstdint>

#include "analysis/activation_context.h"
#include "analysis/byte_view.h"
#include "analysis/platform.h"

namespace vost {

// What the headers say about a PE image's manifests.
struct ManifestUse {
    bool present = false;      // the headers were read (readManifestUse's answer)
    bool dll = false;          // IMAGE_FILE_DLL in the COFF characteristics
    bool noIsolation = false;  // IMAGE_DLLCHARACTERISTICS_NO_ISOLATION: no manifest is looked up
    bool ownManifest = false;  // a DLL that looks manifests up holds manifest resource 2
};

// False when the headers lie outside the file (then no manifest is used).
// The resource directory is read only for a DLL that looks manifests up.
bool readManifestUse(const ByteView& image, std::uint64_t newHeader, ManifestUse& use);

// The process's context when the PE module at `path` is the program that
// starts the process: its own manifest's, else the system's default. A DLL
// scanned as a root has no program of its own: the default context stands.
const ActivationContext* processContextOf(AnalysisPlatform& platform, const char* path, ModuleBits bits,
                                          const ManifestUse& use);

// The module's own context: a DLL's resource-2 manifest; null for programs,
// for modules linked without isolation, and for DLLs without one. The
// loader looks for no other (no NAME.dll.2.manifest file beside it), so the
// platform is asked only when the DLL holds the resource.
const ActivationContext* ownContextOf(AnalysisPlatform& platform, const char* path, ModuleBits bits,
                                      const ManifestUse& use);

}  // namespace vost
