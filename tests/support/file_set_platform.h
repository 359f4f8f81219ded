// A page platform over an in-memory set of files, for scans whose input is
// hostile: every mapping and every version read works on a private copy of
// exactly the file's size, so a sanitizer sees any read past the end of a
// file, and version resources are parsed from the files' own bytes by the
// same reader the POSIX layer uses (once per file). The module search looks in the scan's
// folder, then in the extra folders, by file name with letter case ignored.
// Header only: users link vost_platform_common for the version reader.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "page/page_platform.h"
#include "platform/common/version_resource.h"
#include "tests/support/fake_platform.h"

namespace vost::test {

class FileSetPlatform : public PagePlatform {
public:
    // Files keyed by lower-cased path.
    using FileMap = std::map<std::string, Bytes>;

    void addFile(const std::string& path, Bytes bytes) {
        versions_.erase(asciiLowerCopy(path));
        files_[asciiLowerCopy(path)] = std::move(bytes);
    }
    // A set of files shared with other platforms (many scans over one large
    // set); a file added here with the same path hides the shared one.
    void shareFiles(std::shared_ptr<const FileMap> files) { shared_ = std::move(files); }
    const Bytes* file(const std::string& path) const {
        const std::string key = asciiLowerCopy(path);
        auto it = files_.find(key);
        if (it != files_.end()) return &it->second;
        if (!shared_) return nullptr;
        it = shared_->find(key);
        return it == shared_->end() ? nullptr : &it->second;
    }
    void addSearchFolder(const std::string& folder) { folders_.push_back(trimmed(folder)); }

    // Recorded calls.
    std::vector<std::string> messages;  // texts of the message boxes, in order
    int mapAttempts = 0;
    int openMappings = 0;     // views alive now
    int maxOpenMappings = 0;  // most views alive at one time
    int versionReads = 0;

    std::unique_ptr<MappedFile> mapFile(const char* path) override {
        ++mapAttempts;
        const Bytes* bytes = file(path);
        if (!bytes || bytes->empty()) return nullptr;
        auto mapped = std::make_unique<ExactCopy>(*bytes, &openMappings);
        if (openMappings > maxOpenMappings) maxOpenMappings = openMappings;
        return mapped;
    }

    std::string searchModule(const char* name, ModuleBits) override {
        std::string wanted = name;
        const std::size_t dot = wanted.find_last_of('.');
        const std::size_t separator = wanted.find_last_of("\\/");
        if (dot == std::string::npos || (separator != std::string::npos && dot < separator))
            wanted += ".DLL";
        std::vector<std::string> order;
        if (!searchFolder_.empty()) order.push_back(searchFolder_);
        order.insert(order.end(), folders_.begin(), folders_.end());
        for (const std::string& folder : order) {
            const std::string candidate = folder + "\\" + wanted;
            if (file(candidate)) return candidate;
        }
        return std::string();
    }

    // Each file's version is parsed once, from an exact-size copy; later
    // reads of the same path (the files never change) reuse the answer.
    bool readFixedVersion(const char* path, FixedFileVersion& out) override {
        ++versionReads;
        const std::string key = asciiLowerCopy(path);
        auto known = versions_.find(key);
        if (known == versions_.end()) {
            const Bytes* bytes = file(path);
            Version version;
            if (bytes && !bytes->empty()) {
                const ExactCopy copy(*bytes, nullptr);
                version.found = readFixedVersionFromImage(copy.bytes(), version.value);
            }
            known = versions_.emplace(key, version).first;
        }
        if (known->second.found) out = known->second.value;
        return known->second.found;
    }

    bool smallIconIndex(const char* path, int& index) override {
        if (!file(path)) return false;
        index = 3;
        return true;
    }

    void showError(WindowHandle, const char* text, const char*) override { messages.push_back(text); }

    void setSearchFolder(const char* folder) override { searchFolder_ = trimmed(folder); }

    // A time made from the file's size, so every found file has one.
    bool lastWriteTime(const char* path, FileTime& out) override {
        const Bytes* bytes = file(path);
        if (!bytes) return false;
        out = FileTime::fromValue(0x01D0000000000000ull + bytes->size());
        return true;
    }
    std::string formatShortDate(FileTime time) override { return "t" + std::to_string(time.value()); }
    ImageListHandle smallImageList(const char* path, int& icon) override {
        icon = 2;
        (void)path;
        return reinterpret_cast<ImageListHandle>(static_cast<std::uintptr_t>(0x1A6E));
    }
    CursorHandle showWaitCursor() override { return nullptr; }
    void restoreCursor(CursorHandle) override {}

private:
    class ExactCopy : public MappedFile {
    public:
        ExactCopy(const Bytes& bytes, int* open)
            : data_(new std::uint8_t[bytes.size()]), size_(bytes.size()), open_(open) {
            std::memcpy(data_.get(), bytes.data(), bytes.size());
            if (open_) ++*open_;
        }
        ~ExactCopy() override {
            if (open_) --*open_;
        }
        ByteView bytes() const override { return ByteView(data_.get(), size_); }

    private:
        std::unique_ptr<std::uint8_t[]> data_;
        std::size_t size_;
        int* open_;
    };

    static std::string trimmed(std::string folder) {
        while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
        return folder;
    }

    struct Version {
        bool found = false;
        FixedFileVersion value;
    };

    FileMap files_;
    std::shared_ptr<const FileMap> shared_;
    std::map<std::string, Version> versions_;  // by lower-cased path
    std::vector<std::string> folders_;
    std::string searchFolder_;
};

}  // namespace vost::test
