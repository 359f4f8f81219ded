#include "tests/support/hostile_names.h"

namespace vost::test {

namespace {
// <seq-id> of substitution `index`: S_, S0_, ..., S9_, SA_, ... (base 36).
std::string substitution(int index) {
    if (index == 0) return "S_";
    std::string digits;
    for (int n = index - 1;; n /= 36) {
        digits.insert(digits.begin(), "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"[n % 36]);
        if (n < 36) break;
    }
    return "S" + digits + "_";
}

std::string repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

// a<T, T> at `level` (b at level 0); `count` numbers the substitution
// candidates as a reader meets them: "a", then T's own, then a<T, T>.
std::string itaniumLevel(int level, int& count, int& self) {
    if (level == 0) {
        self = count++;
        return "1b";
    }
    ++count;  // the template name a
    int inner = 0;
    const std::string t = itaniumLevel(level - 1, count, inner);
    self = count++;
    return "1aI" + t + substitution(inner) + "E";
}
}  // namespace

std::string msvcDoubling(int levels) {
    // In a's arguments, name 0 is "a" and name 1 the first argument.
    std::string t = "V?$b@H@@";
    for (int i = 0; i < levels; ++i) t = "V?$a@" + t + "V1@@@";
    return "?f@@YAX" + t + "@Z";
}

std::string itaniumDoubling(int levels) {
    int count = 0, self = 0;
    return "_Z1f" + itaniumLevel(levels, count, self);
}

std::vector<HostileName> hostileNames() {
    std::vector<HostileName> names;
    for (const int levels : {20, 30, 64}) {
        const std::string at = std::to_string(levels) + " levels";
        names.push_back({"Microsoft back-references, " + at, msvcDoubling(levels), false});
        names.push_back({"Itanium substitutions, " + at, itaniumDoubling(levels), false});
        // Nesting without doubling: read while the readers may go that deep.
        names.push_back({"Microsoft pointers, " + at, "?f@@YAX" + repeat("PA", levels) + "H@Z", levels < 64});
        names.push_back({"Itanium pointers, " + at, "_Z1f" + repeat("P", levels) + "i", levels < 64});
    }
    names.push_back({"Microsoft back-references, 6 levels", msvcDoubling(6), true});
    names.push_back({"Itanium substitutions, 8 levels", itaniumDoubling(8), true});
    // Past the length cap (4,096) none is read.
    for (const std::size_t length : {3000, 5000}) {
        const std::string plain(length, 'a');
        const std::string at = std::to_string(length) + " characters";
        names.push_back({"Microsoft plain name, " + at, "?" + plain + "@@3HA", length < 4000});
        names.push_back({"Itanium plain name, " + at, "_Z" + std::to_string(length) + plain + "v", length < 4000});
    }
    const std::string msvc = msvcDoubling(30), itanium = itaniumDoubling(30);
    names.push_back({"Microsoft back-references, 30 levels, truncated", msvc.substr(0, msvc.size() / 2), false});
    names.push_back({"Itanium substitutions, 30 levels, truncated", itanium.substr(0, itanium.size() / 2), false});
    return names;
}

PeImageLayout exportingNames(const std::string& module, const std::vector<std::string>& names) {
    PeImageLayout layout;
    layout.exports.emplace();
    layout.exports->moduleName = module;
    for (const std::string& name : names) layout.exports->entries.push_back(ExportEntry{{name}, 0x40010, ""});
    return layout;
}

PeImageLayout importingNames(const std::string& module, const std::vector<std::string>& names) {
    PeImageLayout layout;
    layout.imports = {module};
    layout.importFunctions.emplace_back();
    for (const std::string& name : names) layout.importFunctions[0].push_back(ImportThunk{name, 0, {}});
    return layout;
}

}  // namespace vost::test
