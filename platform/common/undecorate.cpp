#include "platform/common/undecorate.h"

#include <optional>

#include "platform/common/itanium_names.h"
#include "platform/common/msvc_name_size.h"

namespace vost {

namespace {
// Readable names are text: a demangler that gives control characters read
// something that was no name.
bool printable(const std::string& text) {
    if (text.empty()) return false;
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

bool fits(const std::optional<std::size_t>& length) { return length && *length <= kMaxReadableName; }
}  // namespace

std::string undecorateName(std::string_view name) {
    if (name.size() < 2 || name.size() > kMaxDecoratedName || name.find('\0') != std::string_view::npos)
        return std::string(name);
    std::string readable;
    if (name[0] == '?') {
        if (fits(msvcReadableLength(name))) readable = undecorateMsvcName(std::string(name));
    } else if (name.substr(0, 2) == "_Z" || name.substr(0, 3) == "__Z") {
        // "__Z": a 32-bit symbol with its leading underscore kept.
        const std::string_view itanium = name[1] == '_' ? name.substr(1) : name;
        readable = undecorateItaniumName(itanium);
    }
    // The measure bounds the reading; a reader that wrote more read
    // something else, and is not believed.
    if (readable.size() > kMaxReadableName) return std::string(name);
    return printable(readable) ? readable : std::string(name);
}

}  // namespace vost
