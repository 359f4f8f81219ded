#include "page/caching_platform.h"

#include "platform/common/version_resource.h"

namespace vost {

namespace {
// A second view of a mapping that stays alive while any view of it does.
class SharedView : public MappedFile {
public:
    explicit SharedView(std::shared_ptr<MappedFile> file) : file_(std::move(file)) {}
    ByteView bytes() const override { return file_->bytes(); }

private:
    std::shared_ptr<MappedFile> file_;
};
}  // namespace

std::string& CachingPlatform::lookupKey(const char* text) {
    key_.assign(text ? text : "");  // reuses the key's storage: no allocation per lookup
    return key_;
}

std::unique_ptr<MappedFile> CachingPlatform::mapFile(const char* path) {
    if (lastFile_ && lastPath_ == path) {
        // Handed over: the scan of this file is the last use the cache expects.
        std::unique_ptr<MappedFile> view = std::make_unique<SharedView>(std::move(lastFile_));
        lastPath_.clear();
        return view;
    }
    return inner_->mapFile(path);
}

void CachingPlatform::setSearchFolder(const char* folder) {
    searchFolder_ = folder ? folder : "";
    inner_->setSearchFolder(folder);
}

std::string CachingPlatform::searchModule(const char* name, ModuleBits bits) {
    std::string& key = lookupKey(searchFolder_.c_str());
    key += '\0';
    key += bits == ModuleBits::bits64 ? '6' : '3';
    key += name;
    auto known = searches_.find(key);
    if (known == searches_.end()) known = searches_.emplace(key, inner_->searchModule(name, bits)).first;
    return known->second;
}

bool CachingPlatform::readFixedVersion(const char* path, FixedFileVersion& out) {
    const auto known = versions_.find(lookupKey(path));
    if (known != versions_.end()) {
        out = known->second.value;
        return known->second.ok;
    }
    Answer<FixedFileVersion> answer{false, {}};
#ifdef _WIN32
    // The Win32 layer reads versions through the system's version API.
    answer.ok = inner_->readFixedVersion(path, answer.value);
#else
    // The POSIX layer reads them from the mapped image, as done here.
    lastFile_ = inner_->mapFile(path);
    lastPath_ = path;
    answer.ok = lastFile_ && readFixedVersionFromImage(lastFile_->bytes(), answer.value);
#endif
    versions_.emplace(path, answer);
    out = answer.value;
    return answer.ok;
}

std::string CachingPlatform::formatShortDate(FileTime time) {
    auto known = dates_.find(time.value());
    if (known == dates_.end()) known = dates_.emplace(time.value(), inner_->formatShortDate(time)).first;
    return known->second;
}

bool CachingPlatform::smallIconIndex(const char* path, int& index) {
#ifdef _WIN32
    // The shell's icon lookup reads the file; ask it once per path.
    auto known = icons_.find(lookupKey(path));
    if (known == icons_.end()) {
        Answer<int> answer{false, 0};
        answer.ok = inner_->smallIconIndex(path, answer.value);
        known = icons_.emplace(key_, answer).first;
    }
    index = known->second.value;
    return known->second.ok;
#else
    // Answered from the name alone here: cheaper than any lookup.
    return inner_->smallIconIndex(path, index);
#endif
}

bool CachingPlatform::lastWriteTime(const char* path, FileTime& out) {
    auto known = times_.find(lookupKey(path));
    if (known == times_.end()) {
        Answer<FileTime> answer{false, {}};
        answer.ok = inner_->lastWriteTime(path, answer.value);
        known = times_.emplace(path, answer).first;
    }
    out = known->second.value;
    return known->second.ok;
}

}  // namespace vost
