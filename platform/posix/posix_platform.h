// The platform layer on POSIX systems: files read a block at a time, the module search
// over configured folders with case-insensitive names, version resources read
// from the file's own bytes, the en-US short date and placeholders for the
// shell's icons and cursors. Given a Windows folder, also what the loader of
// that Windows would do: its system folders, activation contexts from
// manifests and its side-by-side store, and its known DLLs.
//
// One object serves one scan and is used from one thread at a time; its
// directory cache lives as long as the object.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_set>
#include <unordered_map>
#include <vector>

#include "analysis/api_set_schema.h"
#include "platform/platform_factory.h"
#include "platform/posix/folder_cache.h"
#include "platform/posix/side_by_side.h"
#include "platform/posix/windows_store.h"

namespace vost {

class PosixPlatform : public PagePlatform {
public:
    explicit PosixPlatform(const PlatformOptions& options);

    std::unique_ptr<MappedFile> mapFile(const char* path) override;
    std::string searchModule(const char* name, ModuleBits bits) override;
    const ApiSetSchema* apiSetSchema(ModuleBits bits) override;
    const ActivationContext* activationContext(const char* path, ModuleBits bits, ManifestRole role) override;
    const ActivationContext* defaultContext(ModuleBits bits) override;
    std::string knownDll(const char* name, ModuleBits bits) override;
    RuntimeFolders runtimeFolders() override { return runtimeFolders_; }
    std::string findEntry(const std::string& base, const std::string& relative, bool folder) override;
    std::vector<std::string> folderNames(const std::string& folder) override;
    bool pathsIgnoreCase() const override { return false; }
    bool readFixedVersion(const char* path, FixedFileVersion& out) override;
    bool readFixedVersionOf(const char* path, const ByteView& image, FixedFileVersion& out) override;
    bool smallIconIndex(const char* path, int& index) override;
    void showError(WindowHandle owner, const char* text, const char* caption) override;

    void setSearchFolder(const char* folder) override;
    bool lastWriteTime(const char* path, FileTime& out) override;
    std::string formatShortDate(FileTime time) override;
    ImageListHandle smallImageList(const char* path, int& icon) override;
    CursorHandle showWaitCursor() override;
    void restoreCursor(CursorHandle previous) override;

private:
    // Opens `path` read-only, retrying with the on-disk case of each
    // component when the exact path does not exist. -1 on failure.
    int openExisting(const char* path);
    // The real path of an existing folder (case folded as needed), made
    // absolute from the process's current directory when it is relative; the
    // absolute text when it can't be resolved.
    std::string realFolder(const std::string& folder);
    // The real path of the file `relative` under `folder`, when it is one.
    bool findIn(const std::string& folder, const std::string& relative, std::string& found);

    // The system folders of a Windows folder, after the configured ones.
    void addWindowsFolder(const std::string& folder);
    // The runtimes' folders: the Windows folder's and the dotnet roots.
    void setRuntimeFolders(const PlatformOptions& options);
    ContextFiles contextFiles();

    const std::vector<std::string>& foldersOf(ModuleBits bits) const {
        return bits == ModuleBits::bits64 ? searchFolders64_ : searchFolders_;
    }

    std::vector<std::string> searchFolders_;
    std::vector<std::string> searchFolders64_;
    ApiSetSchemaCache apiSetSchemas_;
    std::string scanFolder_;
    std::function<void(const char* text, const char* caption)> messageSink_;
    FolderCache cache_;
    std::unordered_map<std::string, FileTime> openedTimes_;  // by path as opened
    std::unordered_map<std::string, std::string> realFolders_;

    // With a Windows folder: its store (shared by the run), the system folder
    // of each family, its known DLLs, and the contexts built so far.
    std::shared_ptr<const WindowsStore> store_;
    std::string systemFolder_, systemFolder64_;
    std::unordered_set<std::string> knownDlls_;
    RuntimeFolders runtimeFolders_;
    std::map<std::tuple<std::string, ModuleBits, ManifestRole>, std::unique_ptr<ActivationContext>> contexts_;
    std::map<ModuleBits, std::unique_ptr<ActivationContext>> defaultContexts_;
};

// The index that smallIconIndex gives for a path: 1 for .exe, 2 for .dll,
// 3 for .drv, 4 for .fon, 0 for anything else (letter case ignored).
int iconIndexForPath(const char* path);

}  // namespace vost
