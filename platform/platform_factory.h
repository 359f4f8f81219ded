// Creates the platform layer of this build: Win32 calls on Windows, POSIX
// calls elsewhere. Each scan gets its own object.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "page/page_platform.h"

namespace vost {

struct PlatformOptions {
    // Folders that stand for the platform's system folders, searched in order
    // after the scan's folder: for modules referenced by 32-bit (and 16-bit)
    // modules, and for those referenced by 64-bit ones. The first of a family
    // that holds apisetschema.dll gives that family's API set schema. A
    // relative folder is taken from the current directory when the platform
    // is made. Used by the POSIX layer; the Win32 layer searches the real
    // system folders.
    std::vector<std::string> searchFolders;
    std::vector<std::string> searchFolders64;

    // A Windows folder (a Wine prefix's drive_c/windows, a mounted C:\Windows)
    // standing for the system the scanned programs run on: its System32 and
    // SysWOW64 (then `system` and the folder itself) are the system folders,
    // searched after `searchFolders`; its side-by-side store, its API set
    // schema and its known DLLs apply. Used by the POSIX layer; empty: none.
    std::string windowsFolder;

    // The .NET (5 and later) root that managed programs' shared frameworks
    // are looked for in, for both families (its shared\NAME\VERSION
    // folders). Used by the POSIX layer; empty: beside the Windows folder
    // (its drive's "Program Files\dotnet", "Program Files (x86)\dotnet" for
    // 32-bit processes on 64-bit Windows), or none without one.
    std::string dotnetRoot;

    // When set, error messages go here instead of a modal message box (the
    // headless scanner records them; the page shows real boxes).
    std::function<void(const char* text, const char* caption)> messageSink;
};

std::unique_ptr<PagePlatform> createPlatform(const PlatformOptions& options);

}  // namespace vost
