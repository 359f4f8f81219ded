// What the module analysis needs from the platform, as one small interface.
//
// The analysis includes no system header. Texts are UTF-8 of any length. The
// Win32 layer implements this over ReadFile, its own search of the folder
// order, the version API, SHGetFileInfoW and MessageBoxW; the POSIX layer over pread, a cached case-insensitive directory
// search and its own version-resource parser. Tree insertion is separate
// (module_tree.h) because the same platform may feed a real tree control or an
// in-memory one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/byte_view.h"

namespace vost {

// Module names as import tables give them: 260 bytes with the terminator,
// as the loader's limit for a name. Paths have no such limit.
constexpr std::size_t kPathCapacity = 260;

// The two families of modules that Windows keeps apart: 64-bit images
// (PE32+) and all others (PE32, and the 16-bit NE modules that live beside
// them). On 64-bit Windows each family has its own system folder, and a
// module is looked for among modules of its importer's family.
enum class ModuleBits : std::uint8_t { bits32, bits64 };

// An opaque window handle (HWND on Windows); null means "no owner".
using WindowHandle = void*;

struct ApiSetSchema;
class ActivationContext;
enum class ManifestRole : std::uint8_t;

// A read-only view of a whole file: mapped, or read on demand. Destroying it
// unmaps the view and closes every handle that was obtained for it.
class MappedFile {
public:
    virtual ~MappedFile() = default;
    virtual ByteView bytes() const = 0;
};

// The four 32-bit halves of VS_FIXEDFILEINFO that the version texts use.
struct FixedFileVersion {
    std::uint32_t fileVersionMS = 0;
    std::uint32_t fileVersionLS = 0;
    std::uint32_t productVersionMS = 0;
    std::uint32_t productVersionLS = 0;
};

// Where the runtimes of managed programs keep what they load, on the system
// the scanned program runs on.
struct RuntimeFolders {
    // The Windows folder: the global assembly caches of .NET Framework lie
    // below it (Microsoft.NET\assembly, assembly). Empty when there is none.
    std::string windows;
    // The .NET (5 and later) root of 32-bit and of 64-bit processes: its
    // shared\NAME\VERSION folders hold the shared frameworks. Empty when none.
    std::string dotnet32, dotnet64;
    // 64-bit Windows: a program built for any CPU runs as a 64-bit process.
    bool windows64 = false;
};

class AnalysisPlatform {
public:
    virtual ~AnalysisPlatform() = default;

    // Opens and maps `path` read-only (others may read too). Null when the
    // file cannot be opened or mapped, including an empty file.
    virtual std::unique_ptr<MappedFile> mapFile(const char* path) = 0;

    // The file search for a module referenced by a module of family `bits`,
    // as SearchPath(NULL, name, ".DLL"): the platform's search order with the
    // scan's folder standing as the current directory and the system folder
    // of that family, ".DLL" appended only when `name` has no extension.
    // Returns the path found, of any length; empty when nothing was found.
    virtual std::string searchModule(const char* name, ModuleBits bits) = 0;

    // The API set schema with which the loader of a module of family `bits`
    // maps contract names ("api-...", "ext-...") to the modules that host
    // them; null when the platform has none, and such names are then
    // searched as files. Read at most once per platform object and kept for
    // its life.
    virtual const ApiSetSchema* apiSetSchema(ModuleBits bits) {
        (void)bits;
        return nullptr;
    }

    // The activation context the loader builds for the PE module at `path`
    // (of family `bits`, whose architecture decides the assemblies taken)
    // from its manifest of `role`; null when it has none. Callers leave out
    // modules linked with IMAGE_DLLCHARACTERISTICS_NO_ISOLATION. Built at
    // most once per file, role and family per platform object, and kept for
    // the object's life.
    virtual const ActivationContext* activationContext(const char* path, ModuleBits bits, ManifestRole role) {
        (void)path;
        (void)bits;
        (void)role;
        return nullptr;
    }

    // The system's default context of a process of `bits`: in force alone
    // when its program has no manifest, and behind the program's context for
    // every name that context does not list (real Windows still sends
    // comctl32.dll to the store's 5.82 copy through it); null where there is
    // none.
    virtual const ActivationContext* defaultContext(ModuleBits bits) {
        (void)bits;
        return nullptr;
    }

    // Whether `name` (a plain file name, ".dll" appended when it has no
    // extension) is one of the system's known DLLs for modules of `bits`,
    // which the loader takes from that family's system folder whatever the
    // search order says. Answers as searchModule does: the path, empty when
    // it is no known DLL.
    virtual std::string knownDll(const char* name, ModuleBits bits) {
        (void)name;
        (void)bits;
        return std::string();
    }

    // Managed programs: the runtimes' folders (none by default).
    virtual RuntimeFolders runtimeFolders() { return RuntimeFolders(); }

    // The file (with `folder`, the folder) at `relative` below `base`, each
    // '/'-separated part of `relative` matched as the platform matches file
    // names (letter case ignored); its path as searchModule gives paths,
    // empty when there is none.
    virtual std::string findEntry(const std::string& base, const std::string& relative, bool folder = false) {
        (void)base;
        (void)relative;
        (void)folder;
        return std::string();
    }

    // The names of the folders directly inside `folder` (a path findEntry
    // gave), in no particular order; empty when none or unreadable.
    virtual std::vector<std::string> folderNames(const std::string& folder) {
        (void)folder;
        return {};
    }

    // Whether file names on this platform ignore letter case. Found paths are
    // then shown lower-cased, one spelling per file; where case matters they
    // keep the spelling the search found, which names the file on disk.
    virtual bool pathsIgnoreCase() const { return true; }

    // The fixed file information of the file's version resource (RT_VERSION,
    // the root block). False when the file has none or it cannot be read;
    // never throws.
    virtual bool readFixedVersion(const char* path, FixedFileVersion& out) = 0;
    // The same, for a file whose bytes the caller has read already: a layer
    // that reads version resources itself takes them from `image` rather
    // than reading the file again.
    virtual bool readFixedVersionOf(const char* path, const ByteView& image, FixedFileVersion& out) {
        (void)image;
        return readFixedVersion(path, out);
    }

    // The file's index in the shell's small system image list; false on failure.
    virtual bool smallIconIndex(const char* path, int& index) = 0;

    // A modal error message box (MB_ICONERROR, an OK button). Owner may be null.
    virtual void showError(WindowHandle owner, const char* text, const char* caption) = 0;
};

}  // namespace vost
