// A platform for one page's scan, or for a run of scans one after another:
// each module search (per scan folder), the version, the icon and the
// last-write time of each file are asked once per run, each date text is
// formatted once, and the file whose
// version was just read stays mapped for the scan of the same file that
// usually follows (the root, and each examined module).
//
// One run sees each file as it was when first read; a file changed by
// someone else during the run keeps its first version and time.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "page/page_platform.h"

namespace vost {

class CachingPlatform : public PagePlatform {
public:
    explicit CachingPlatform(std::shared_ptr<PagePlatform> inner) : inner_(std::move(inner)) {}

    std::unique_ptr<MappedFile> mapFile(const char* path) override;
    std::string searchModule(const char* name, ModuleBits bits) override;
    const ApiSetSchema* apiSetSchema(ModuleBits bits) override { return inner_->apiSetSchema(bits); }
    // Contexts and the known-DLL set are kept by the inner platform already.
    const ActivationContext* activationContext(const char* path, ModuleBits bits, ManifestRole role) override {
        return inner_->activationContext(path, bits, role);
    }
    const ActivationContext* defaultContext(ModuleBits bits) override { return inner_->defaultContext(bits); }
    std::string knownDll(const char* name, ModuleBits bits) override { return inner_->knownDll(name, bits); }
    // The managed runtimes' lookups are kept by the process that asks them.
    RuntimeFolders runtimeFolders() override { return inner_->runtimeFolders(); }
    std::string findEntry(const std::string& base, const std::string& relative, bool folder) override {
        return inner_->findEntry(base, relative, folder);
    }
    std::vector<std::string> folderNames(const std::string& folder) override { return inner_->folderNames(folder); }
    bool pathsIgnoreCase() const override { return inner_->pathsIgnoreCase(); }
    bool readFixedVersion(const char* path, FixedFileVersion& out) override;
    // Read from bytes in hand: nothing to keep.
    bool readFixedVersionOf(const char* path, const ByteView& image, FixedFileVersion& out) override {
        return inner_->readFixedVersionOf(path, image, out);
    }
    bool smallIconIndex(const char* path, int& index) override;
    void showError(WindowHandle owner, const char* text, const char* caption) override {
        inner_->showError(owner, text, caption);
    }
    void setSearchFolder(const char* folder) override;
    void toTruePath(std::string& path) override { inner_->toTruePath(path); }
    bool lastWriteTime(const char* path, FileTime& out) override;
    std::string formatShortDate(FileTime time) override;
    ImageListHandle smallImageList(const char* path, int& icon) override {
        return inner_->smallImageList(path, icon);
    }
    CursorHandle showWaitCursor() override { return inner_->showWaitCursor(); }
    void restoreCursor(CursorHandle previous) override { inner_->restoreCursor(previous); }

private:
    template <typename T>
    struct Answer {
        bool ok;
        T value;
    };

    // The text to look up, in storage kept across lookups.
    std::string& lookupKey(const char* text);

    std::shared_ptr<PagePlatform> inner_;
    std::string key_;
    std::unordered_map<std::string, Answer<FixedFileVersion>> versions_;
    std::unordered_map<std::string, Answer<FileTime>> times_;
    std::unordered_map<std::string, Answer<int>> icons_;
    std::unordered_map<std::uint64_t, std::string> dates_;  // by file time
    std::string searchFolder_;
    std::unordered_map<std::string, std::string> searches_;  // by folder, a zero byte, the family and the name
    std::string lastPath_;
    std::shared_ptr<MappedFile> lastFile_;
};

}  // namespace vost
