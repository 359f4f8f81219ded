#include "platform/common/label_collation.h"

#include <array>
#include <cstdint>

namespace vost {

namespace {

bool isMark(unsigned char c) { return c == '\'' || c == '-'; }
bool isUpper(unsigned char c) { return c >= 'A' && c <= 'Z'; }

// Primary weights: the position of each byte in the measured order, case
// folded; bytes of 0x80 and above follow the letters.
std::array<std::uint16_t, 256> buildWeights() {
    static const unsigned char kOrder[] =
        "\x01\x02\x03\x04\x05\x06\x07\x08\x0e\x0f\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c"
        "\x1d\x1e\x1f\x7f"
        " \t\n\v\f\r"
        "!\"#$%&()*,./:;?@[\\]^_`{|}~+<=>"
        "0123456789"
        "abcdefghijklmnopqrstuvwxyz";
    std::array<std::uint16_t, 256> weights{};
    std::uint16_t next = 1;
    for (const unsigned char* p = kOrder; *p; ++p) weights[*p] = next++;
    for (unsigned c = 'A'; c <= 'Z'; ++c) weights[c] = weights[c - 'A' + 'a'];
    for (unsigned c = 0x80; c < 256; ++c) weights[c] = next++;
    return weights;
}

const std::array<std::uint16_t, 256>& weights() {
    static const std::array<std::uint16_t, 256> table = buildWeights();
    return table;
}

int comparePrimary(const unsigned char* a, const unsigned char* b) {
    const auto& w = weights();
    for (;;) {
        while (isMark(*a)) ++a;
        while (isMark(*b)) ++b;
        if (!*a || !*b) return (*a ? 1 : 0) - (*b ? 1 : 0);
        if (w[*a] != w[*b]) return w[*a] < w[*b] ? -1 : 1;
        ++a;
        ++b;
    }
}

// Called only when the primary level is equal, so both texts hold the same
// characters apart from case and marks.
int compareCase(const unsigned char* a, const unsigned char* b) {
    for (;;) {
        while (isMark(*a)) ++a;
        while (isMark(*b)) ++b;
        if (!*a || !*b) return 0;
        if (isUpper(*a) != isUpper(*b)) return isUpper(*a) ? 1 : -1;
        ++a;
        ++b;
    }
}

int compareMarks(const unsigned char* a, const unsigned char* b) {
    const unsigned char* pa = a;
    const unsigned char* pb = b;
    for (;;) {
        while (*pa && !isMark(*pa)) ++pa;
        while (*pb && !isMark(*pb)) ++pb;
        if (!*pa || !*pb) return (*pa ? 1 : 0) - (*pb ? 1 : 0);
        const auto posA = pa - a, posB = pb - b;
        if (posA != posB) return posA < posB ? 1 : -1;
        if (*pa != *pb) return *pa == '\'' ? -1 : 1;
        ++pa;
        ++pb;
    }
}

}  // namespace

int compareTreeLabels(const char* a, const char* b) {
    const auto* ua = reinterpret_cast<const unsigned char*>(a);
    const auto* ub = reinterpret_cast<const unsigned char*>(b);
    if (int r = comparePrimary(ua, ub)) return r;
    if (int r = compareCase(ua, ub)) return r;
    return compareMarks(ua, ub);
}

}  // namespace vost
