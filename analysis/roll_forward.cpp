#include "analysis/roll_forward.h"

#include <algorithm>

#include "analysis/text.h"

namespace vost {

namespace {
bool parseNumber(const std::string& text, std::uint32_t& out) {
    if (text.empty() || text.size() > 9 || (text.size() > 1 && text[0] == '0')) return false;
    out = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        out = out * 10 + std::uint32_t(c - '0');
    }
    return true;
}

bool numeric(const std::string& part) {
    if (part.empty()) return false;
    for (char c : part)
        if (c < '0' || c > '9') return false;
    return true;
}

int compareIdentifiers(const std::string& a, const std::string& b) {
    const bool an = numeric(a), bn = numeric(b);
    if (an && bn) {
        if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
        return a < b ? -1 : a > b ? 1 : 0;
    }
    if (an != bn) return an ? -1 : 1;  // numeric identifiers order before text ones
    return a < b ? -1 : a > b ? 1 : 0;
}

constexpr struct {
    RollForward value;
    const char* name;
} kRollForwardNames[] = {
    {RollForward::disable, "Disable"}, {RollForward::latestPatch, "LatestPatch"},
    {RollForward::minor, "Minor"},     {RollForward::latestMinor, "LatestMinor"},
    {RollForward::major, "Major"},     {RollForward::latestMajor, "LatestMajor"},
};
}  // namespace

std::string SemanticVersion::text() const {
    std::string out = std::to_string(major) + '.' + std::to_string(minor) + '.' + std::to_string(patch);
    if (!prerelease.empty()) out += '-' + prerelease;
    return out;
}

int SemanticVersion::compare(const SemanticVersion& other) const {
    if (major != other.major) return major < other.major ? -1 : 1;
    if (minor != other.minor) return minor < other.minor ? -1 : 1;
    if (patch != other.patch) return patch < other.patch ? -1 : 1;
    if (prerelease.empty() || other.prerelease.empty()) {
        if (prerelease.empty() == other.prerelease.empty()) return 0;
        return prerelease.empty() ? 1 : -1;
    }
    std::size_t a = 0, b = 0;
    for (;;) {
        const std::size_t aEnd = std::min(prerelease.find('.', a), prerelease.size());
        const std::size_t bEnd = std::min(other.prerelease.find('.', b), other.prerelease.size());
        const int order = compareIdentifiers(prerelease.substr(a, aEnd - a), other.prerelease.substr(b, bEnd - b));
        if (order) return order;
        const bool aDone = aEnd == prerelease.size(), bDone = bEnd == other.prerelease.size();
        if (aDone || bDone) return aDone == bDone ? 0 : aDone ? -1 : 1;
        a = aEnd + 1;
        b = bEnd + 1;
    }
}

bool SemanticVersion::parse(const std::string& text, SemanticVersion& out) {
    out = SemanticVersion();
    std::string core = text.substr(0, text.find('+'));
    const std::size_t dash = core.find('-');
    if (dash != std::string::npos) {
        out.prerelease = core.substr(dash + 1);
        core.resize(dash);
        if (out.prerelease.empty()) return false;
    }
    const std::size_t first = core.find('.');
    const std::size_t second = first == std::string::npos ? first : core.find('.', first + 1);
    if (second == std::string::npos || core.find('.', second + 1) != std::string::npos) return false;
    return parseNumber(core.substr(0, first), out.major) &&
           parseNumber(core.substr(first + 1, second - first - 1), out.minor) &&
           parseNumber(core.substr(second + 1), out.patch);
}

bool parseRollForward(const std::string& text, RollForward& out) {
    for (const auto& each : kRollForwardNames) {
        if (compareIgnoringCase(text.c_str(), each.name) == 0) {
            out = each.value;
            return true;
        }
    }
    return false;
}

const char* rollForwardName(RollForward value) {
    for (const auto& each : kRollForwardNames)
        if (each.value == value) return each.name;
    return "";
}

FrameworkReference FrameworkReference::of(const std::string& name, const SemanticVersion& version,
                                          RollForward rollForward) {
    FrameworkReference reference;
    reference.name = name;
    reference.version = version;
    switch (rollForward) {
    case RollForward::disable: reference.range = Range::exact; break;
    case RollForward::latestPatch: reference.range = Range::patch; break;
    case RollForward::minor: reference.range = Range::minor; break;
    case RollForward::latestMinor: reference.range = Range::minor, reference.highest = true; break;
    case RollForward::major: reference.range = Range::major; break;
    case RollForward::latestMajor: reference.range = Range::major, reference.highest = true; break;
    }
    return reference;
}

bool FrameworkReference::accepts(const SemanticVersion& candidate) const {
    if (candidate < version) return false;
    switch (range) {
    case Range::exact: return candidate == version;
    case Range::patch: return candidate.major == version.major && candidate.minor == version.minor;
    case Range::minor: return candidate.major == version.major;
    case Range::major: return true;
    }
    return false;
}

bool reconcile(const FrameworkReference& a, const FrameworkReference& b, FrameworkReference& out) {
    const FrameworkReference& lower = a.version < b.version ? a : b;
    const FrameworkReference& higher = a.version < b.version ? b : a;
    if (!lower.accepts(higher.version)) return false;
    out = higher;
    out.range = std::min(a.range, b.range);
    out.highest = a.highest || b.highest;
    return true;
}

bool pickFramework(const FrameworkReference& reference, const std::vector<SemanticVersion>& available,
                   SemanticVersion& out) {
    // A release asks for releases first; pre-releases only when none fits.
    for (const bool releasesOnly : {reference.version.release(), false}) {
        const SemanticVersion* chosen = nullptr;
        for (const SemanticVersion& candidate : available) {
            if ((releasesOnly && !candidate.release()) || !reference.accepts(candidate)) continue;
            if (!chosen || (reference.highest ? *chosen < candidate : candidate < *chosen)) chosen = &candidate;
        }
        if (!chosen) continue;
        out = *chosen;
        // The latest patch of the chosen major.minor, among releases.
        if (reference.range != FrameworkReference::Range::exact && out.release()) {
            for (const SemanticVersion& candidate : available)
                if (candidate.release() && candidate.major == out.major && candidate.minor == out.minor &&
                    out < candidate)
                    out = candidate;
        }
        return true;
    }
    return false;
}

}  // namespace vost
