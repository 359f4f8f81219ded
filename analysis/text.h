// Case handling as the C runtime does it in the "C" locale (_strupr, _strlwr,
// _stricmp): only the ASCII letters change case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace vost {

inline char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
inline char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

inline void upperInPlace(char* s) { for (; *s; ++s) *s = asciiUpper(*s); }
inline void lowerInPlace(char* s) { for (; *s; ++s) *s = asciiLower(*s); }

// ASCII lower case of a whole text.
inline std::string lowerAscii(std::string text) {
    for (char& c : text) c = asciiLower(c);
    return text;
}

// _stricmp: folds each character to lower case and compares by code.
inline int compareIgnoringCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const int ca = static_cast<unsigned char>(asciiLower(*a));
        const int cb = static_cast<unsigned char>(asciiLower(*b));
        if (ca != cb || ca == 0) return ca - cb;
    }
}

// Copies `src` into `dst` (capacity bytes with the terminator), cutting what
// does not fit. Returns false when it had to cut.
inline bool copyBounded(char* dst, std::size_t capacity, const char* src) {
    if (capacity == 0) return false;
    const void* end = std::memchr(src, 0, capacity);
    const std::size_t length = end ? static_cast<const char*>(end) - src : capacity - 1;
    std::memcpy(dst, src, length);
    dst[length] = '\0';
    return end != nullptr;
}

// Appends `src` to the text in `dst`, cutting what does not fit.
inline bool appendBounded(char* dst, std::size_t capacity, const char* src) {
    const void* end = std::memchr(dst, 0, capacity);
    if (!end) return false;
    const std::size_t used = static_cast<const char*>(end) - dst;
    return copyBounded(dst + used, capacity - used, src);
}

// Appends the UTF-8 form of the code point `code` (at most U+10FFFF).
inline void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | code >> 6);
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | code >> 12);
        out += char(0x80 | (code >> 6 & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | code >> 18);
        out += char(0x80 | (code >> 12 & 0x3F));
        out += char(0x80 | (code >> 6 & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

}  // namespace vost
