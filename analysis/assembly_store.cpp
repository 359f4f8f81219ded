#include "analysis/assembly_store.h"

#include <algorithm>

namespace vost {

namespace {
std::string key(const std::string& arch, const std::string& token) { return arch + '_' + token; }
}  // namespace

bool AssemblyVersion::operator<(const AssemblyVersion& other) const {
    return std::lexicographical_compare(part, part + 4, other.part, other.part + 4);
}

bool AssemblyVersion::operator==(const AssemblyVersion& other) const {
    return std::equal(part, part + 4, other.part);
}

std::string AssemblyVersion::text() const {
    return std::to_string(part[0]) + '.' + std::to_string(part[1]) + '.' + std::to_string(part[2]) + '.' +
           std::to_string(part[3]);
}

bool parseAssemblyVersion(const std::string& text, AssemblyVersion& version) {
    version = AssemblyVersion();
    int index = 0;
    std::uint32_t value = 0;
    bool digits = false;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : '.';
        if (c >= '0' && c <= '9') {
            value = value * 10 + std::uint32_t(c - '0');
            if (value > 0xFFFF) return false;
            digits = true;
        } else if (c == '.' && digits && index < 4) {
            version.part[index++] = std::uint16_t(value);
            value = 0;
            digits = false;
        } else {
            return false;
        }
    }
    return index > 0;
}

bool parseStoreFolder(const std::string& folder, StoreAssembly& out) {
    // The name may hold '_' itself: the architecture is the first part, the
    // other four fields the last four.
    const std::string lower = lowerAscii(folder);
    std::size_t cuts[5];
    std::size_t end = lower.size();
    for (int i = 4; i >= 1; --i) {
        const std::size_t cut = end == 0 ? std::string::npos : lower.rfind('_', end - 1);
        if (cut == std::string::npos) return false;
        cuts[i] = cut;
        end = cut;
    }
    cuts[0] = lower.find('_');
    if (cuts[0] == std::string::npos || cuts[0] >= cuts[1]) return false;
    out.folder = folder;
    out.arch = lower.substr(0, cuts[0]);
    out.name = lower.substr(cuts[0] + 1, cuts[1] - cuts[0] - 1);
    out.token = lower.substr(cuts[1] + 1, cuts[2] - cuts[1] - 1);
    out.language = lower.substr(cuts[3] + 1, cuts[4] - cuts[3] - 1);
    return !out.arch.empty() && !out.name.empty() && !out.token.empty() &&
           parseAssemblyVersion(lower.substr(cuts[2] + 1, cuts[3] - cuts[2] - 1), out.version);
}

bool storeNameMatches(const std::string& stored, const std::string& name) {
    const std::size_t dots = stored.find("..");
    if (dots == std::string::npos) return stored == name;
    const std::size_t tail = stored.size() - dots - 2;
    return name.size() >= dots + tail && name.compare(0, dots, stored, 0, dots) == 0 &&
           name.compare(name.size() - tail, tail, stored, dots + 2, tail) == 0;
}

std::string storeArchitecture(const std::string& requested, bool importer64) {
    if (requested.empty() || requested == "*") return importer64 ? "amd64" : "x86";
    return lowerAscii(requested);
}

std::string storeLanguage(const std::string& requested) {
    const std::string lower = lowerAscii(requested);
    return lower.empty() || lower == "*" || lower == "neutral" ? "none" : lower;
}

void AssemblyStore::add(std::string_view folder) {
    // The key from the first part and the fourth-last, without parsing the
    // rest: most folders are never asked for.
    const std::size_t arch = folder.find('_');
    std::size_t end = folder.size(), cut = std::string_view::npos;
    for (int i = 0; i < 4; ++i) {
        cut = end == 0 ? std::string_view::npos : folder.rfind('_', end - 1);
        if (cut == std::string_view::npos) return;
        end = cut;
    }
    const std::size_t tokenEnd = folder.find('_', cut + 1);
    if (arch == std::string_view::npos || arch >= cut || tokenEnd == std::string_view::npos) return;
    key_.assign(folder.substr(0, arch + 1));
    key_.append(folder.substr(cut + 1, tokenEnd - cut - 1));
    for (char& c : key_) c = asciiLower(c);
    byPublisher_[key_].push_back(std::uint32_t(starts_.size()));
    starts_.push_back(names_.size());
    names_.append(folder);
}

std::string_view AssemblyStore::folder(std::uint32_t index) const {
    const std::size_t start = starts_[index];
    const std::size_t end = index + 1 < starts_.size() ? starts_[index + 1] : names_.size();
    return std::string_view(names_).substr(start, end - start);
}

std::vector<StoreAssembly> AssemblyStore::candidates(const std::string& arch, const std::string& name,
                                                     const std::string& token) const {
    std::vector<StoreAssembly> found;
    const auto publisher = byPublisher_.find(key(arch, token));
    if (publisher == byPublisher_.end()) return found;
    for (std::uint32_t index : publisher->second) {
        StoreAssembly assembly;
        if (parseStoreFolder(std::string(folder(index)), assembly) && storeNameMatches(assembly.name, name))
            found.push_back(std::move(assembly));
    }
    return found;
}

bool AssemblyStore::select(const std::string& arch, const std::string& name, const std::string& token,
                           const std::string& language, const AssemblyVersion& version, StoreAssembly& found) const {
    const StoreAssembly* best = nullptr;
    const std::vector<StoreAssembly> all = candidates(arch, name, token);
    for (const StoreAssembly& assembly : all) {
        const AssemblyVersion& v = assembly.version;
        if (assembly.language != language || v.part[0] != version.part[0] || v.part[1] != version.part[1] ||
            v < version)
            continue;
        // A shortened name that also matches a longer one: the full name wins
        // on equal versions, as it says more.
        if (!best || best->version < v ||
            (best->version == v && best->name.find("..") != std::string::npos &&
             assembly.name.find("..") == std::string::npos))
            best = &assembly;
    }
    if (best) found = *best;
    return best != nullptr;
}

}  // namespace vost
