// Which installed shared framework (.NET 5 and later, .NET Core) the host
// picks for a framework reference: semantic versions and the documented
// roll-forward settings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vost {

// A semantic version: MAJOR.MINOR.PATCH, then an optional pre-release part
// after '-' (build metadata after '+' is ignored).
struct SemanticVersion {
    std::uint32_t major = 0, minor = 0, patch = 0;
    std::string prerelease;  // empty for a release

    bool release() const { return prerelease.empty(); }
    std::string text() const;
    // Semantic-version order: a pre-release before its release, pre-release
    // identifiers compared numerically or by text, part by part.
    int compare(const SemanticVersion& other) const;
    bool operator<(const SemanticVersion& other) const { return compare(other) < 0; }
    bool operator==(const SemanticVersion& other) const { return compare(other) == 0; }
    static bool parse(const std::string& text, SemanticVersion& out);
};

// The runtimeconfig.json's rollForward values.
enum class RollForward : std::uint8_t { disable, latestPatch, minor, latestMinor, major, latestMajor };

// Parses a rollForward value (letter case ignored); false for anything else.
bool parseRollForward(const std::string& text, RollForward& out);
// "Disable", "LatestPatch", "Minor", "LatestMinor", "Major", "LatestMajor".
const char* rollForwardName(RollForward value);

// A framework reference as the host keeps it: the lowest version, the range
// of versions it accepts (exact, same major.minor, same major, any higher)
// and whether the highest of them is taken rather than the closest.
struct FrameworkReference {
    std::string name;
    SemanticVersion version;
    enum class Range : std::uint8_t { exact, patch, minor, major } range = Range::minor;
    bool highest = false;

    static FrameworkReference of(const std::string& name, const SemanticVersion& version, RollForward rollForward);
    // Whether `candidate` lies in the range this reference accepts.
    bool accepts(const SemanticVersion& candidate) const;
};

// Merges two references to one framework as the host does: the higher
// version, which the lower reference must accept, the narrower range, and
// the highest version when either asks for it. False when the lower one does
// not accept the higher version.
bool reconcile(const FrameworkReference& a, const FrameworkReference& b, FrameworkReference& out);

// The installed version `reference` resolves to among `available`: release
// versions first (a pre-release only when no release fits, or when a
// pre-release is asked for), the closest or the highest in range, then the
// latest patch of that major.minor unless the range is exact or the choice
// a pre-release. False when none fits.
bool pickFramework(const FrameworkReference& reference, const std::vector<SemanticVersion>& available,
                   SemanticVersion& out);

}  // namespace vost
