// The page's platform over the Win32 API: file reading, the module search,
// version resources, the shell's small icons, message boxes, file times,
// short dates and the wait cursor.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "analysis/api_set_schema.h"
#include "platform/platform_factory.h"
#include "platform/win32/activation_contexts.h"
#include "platform/win32/folder_listing.h"
#include "platform/win32/known_dlls.h"
#include "platform/win32/type_icons.h"

namespace vost {

class Win32Platform : public PagePlatform {
public:
    explicit Win32Platform(PlatformOptions options);

    std::unique_ptr<MappedFile> mapFile(const char* path) override;
    std::string searchModule(const char* name, ModuleBits bits) override;
    const ApiSetSchema* apiSetSchema(ModuleBits bits) override;
    const ActivationContext* activationContext(const char* path, ModuleBits bits, ManifestRole role) override;
    const ActivationContext* defaultContext(ModuleBits bits) override;
    std::string knownDll(const char* name, ModuleBits bits) override;
    RuntimeFolders runtimeFolders() override;
    std::string findEntry(const std::string& base, const std::string& relative, bool folder) override;
    std::vector<std::string> folderNames(const std::string& folder) override;
    bool readFixedVersion(const char* path, FixedFileVersion& out) override;
    bool readFixedVersionOf(const char* path, const ByteView& image, FixedFileVersion& out) override;
    bool smallIconIndex(const char* path, int& index) override;
    void showError(WindowHandle owner, const char* text, const char* caption) override;

    void setSearchFolder(const char* folder) override;
    void toTruePath(std::string& path) override;
    bool lastWriteTime(const char* path, FileTime& out) override;
    std::string formatShortDate(FileTime time) override;
    ImageListHandle smallImageList(const char* path, int& icon) override;
    CursorHandle showWaitCursor() override;
    void restoreCursor(CursorHandle previous) override;

private:
    // The name under which this process opens the file whose true path is
    // `path`, its last component spelled as on disk.
    std::string reach(const char* path);
    // The shell's small image list (0 on failure) and the icon index of `path`.
    std::uintptr_t smallIcon(const char* path, int& index);

    PlatformOptions options_;
    TypeIcons typeIcons_;
    // The last-write time of each file this platform opened to read, by path
    // as asked (the scan's view of the file).
    std::unordered_map<std::string, FileTime> openedTimes_;
    std::string searchFolder_;
    bool hasSearchFolder_ = false;
    // File names spelled as on disk before they reach the system: see
    // folder_listing.h. Mapping, versions, times and icons take the paths
    // the scan keeps lower-cased.
    FolderListings listings_;
    ApiSetSchemaCache apiSetSchemas_;
    SystemContexts contexts_;
    KnownDlls knownDlls_;
};

// Reads the fixed file information of `path` through GetFileVersionInfoA and
// VerQueryValueA, with faults inside those calls caught. False when the file
// has no version resource, it cannot be read, the answer does not lie inside
// the loaded data, or a fault was raised.
bool readFixedVersionInfo(const char* path, FixedFileVersion& out);

}  // namespace vost
