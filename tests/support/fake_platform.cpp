#include "tests/support/fake_platform.h"

#include <cstring>

namespace vost::test {

std::string asciiLowerCopy(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

namespace {

// A private copy of the bytes in a buffer of exactly the file's size, so a
// sanitizer sees any read past the end of the "file".
class FakeMappedFile : public MappedFile {
public:
    FakeMappedFile(const Bytes& bytes, int& open)
        : data_(new std::uint8_t[bytes.size()]), size_(bytes.size()), open_(open) {
        std::memcpy(data_.get(), bytes.data(), bytes.size());
        ++open_;
    }
    ~FakeMappedFile() override { --open_; }
    ByteView bytes() const override { return ByteView(data_.get(), size_); }

private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_;
    int& open_;
};

bool hasExtension(const std::string& name) {
    const std::size_t dot = name.find_last_of('.');
    const std::size_t separator = name.find_last_of("\\/");
    return dot != std::string::npos && (separator == std::string::npos || dot > separator);
}

bool isAbsolute(const std::string& name) {
    return (name.size() > 1 && name[1] == ':') || (!name.empty() && (name[0] == '\\' || name[0] == '/'));
}

}  // namespace

void FakePlatform::addFile(const std::string& path, Bytes bytes) {
    files_[asciiLowerCopy(path)] = File{path, std::move(bytes)};
}

void FakePlatform::removeFile(const std::string& path) { files_.erase(asciiLowerCopy(path)); }

bool FakePlatform::hasFile(const std::string& path) const {
    return files_.count(asciiLowerCopy(path)) != 0;
}

void FakePlatform::setSearchResult(const std::string& name, std::uint32_t result, const std::string& path) {
    searchResults_[asciiLowerCopy(name)] = SearchResult{result, path};
}

void FakePlatform::setApiSetSchema(ModuleBits bits, Bytes section) {
    Schema& schema = schemas_[bits == ModuleBits::bits64 ? 1 : 0];
    schema.section = std::move(section);
    schema.ok = parseApiSetSchema(ByteView(schema.section.data(), schema.section.size()), schema.parsed);
}

const ApiSetSchema* FakePlatform::apiSetSchema(ModuleBits bits) {
    const Schema& schema = schemas_[bits == ModuleBits::bits64 ? 1 : 0];
    return schema.ok ? &schema.parsed : nullptr;
}

void FakePlatform::setVersion(const std::string& path, FixedFileVersion version) {
    versions_[asciiLowerCopy(path)] = version;
}

std::unique_ptr<MappedFile> FakePlatform::mapFile(const char* path) {
    const std::string key = asciiLowerCopy(path);
    const auto it = files_.find(key);
    if (it == files_.end() || locked_.count(key) || it->second.bytes.empty()) return nullptr;
    auto file = std::make_unique<FakeMappedFile>(it->second.bytes, openMappings);
    if (openMappings > maxOpenMappings) maxOpenMappings = openMappings;
    mapped.push_back(path);
    return file;
}

std::string FakePlatform::searchModule(const char* name, ModuleBits bits) {
    searches.push_back(name);
    searchBits.push_back(bits);
    const auto preset = searchResults_.find(asciiLowerCopy(name));
    if (preset != searchResults_.end()) return preset->second.result ? preset->second.path : std::string();
    std::string file = name;
    if (!hasExtension(file)) file += ".DLL";
    if (isAbsolute(file)) return hasFile(file) ? file : std::string();
    const bool wide = bits == ModuleBits::bits64 && !folders64_.empty();
    for (const std::string& folder : wide ? folders64_ : folders_) {
        const std::string candidate = folder + "\\" + file;
        if (hasFile(candidate)) return candidate;
    }
    return std::string();
}

bool FakePlatform::readFixedVersion(const char* path, FixedFileVersion& out) {
    versionReads.push_back(path);
    const auto it = versions_.find(asciiLowerCopy(path));
    if (it == versions_.end() || !hasFile(path)) return false;
    out = it->second;
    return true;
}

bool FakePlatform::smallIconIndex(const char* path, int& index) {
    iconLookups.push_back(path);
    const auto it = icons_.find(asciiLowerCopy(path));
    if (it != icons_.end()) {
        index = it->second;
        return true;
    }
    if (!defaultIcon) return false;
    index = *defaultIcon;
    return true;
}

void FakePlatform::showError(WindowHandle owner, const char* text, const char* caption) {
    messages.push_back(Message{owner, text, caption});
}

}  // namespace vost::test
