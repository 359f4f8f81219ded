// C++ decorated names in readable form: Microsoft's ("?open@File@@QAE_NPBD@Z")
// and the Itanium ABI's of MinGW and clang ("_ZN4File4openEPKc").
//
// A readable form grows with a name's nesting, not with its length: a name
// that names an inner type twice at each level, through a back-reference
// (Microsoft) or a substitution (Itanium), doubles its reading per level, so
// 300 bytes can stand for gigabytes. Every name is therefore measured first
// (platform/common/msvc_name_size.h, itanium_names.h), by the same code
// in every build, and only one whose reading fits kMaxReadableName is
// handed to a reader; the others are shown as they are.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vost {

// The longest readable form made, as measured (the measure is an upper
// bound: on the exports of Wine's C++ runtimes, libstdc++ and LLVM 14 it is
// at most 4 times the reading of a name over 500 characters, 2.2 times on
// average). Every one of those 54,000 names measures within it; the
// longest reading among them has 4,272 characters.
constexpr std::size_t kMaxReadableName = 8192;

// Decorated names longer than this are shown as they are without being
// measured. Microsoft's compilers replace a decorated name longer than
// 4,096 bytes by its hash (??@...@), and the longest Itanium name among the
// 44,000 exports of Debian's libstdc++, LLVM 14 and LLVM 15 has 604 bytes.
// It is not what bounds the work: the measure is linear in the length and
// needs at most 1 MiB for its tree.
constexpr std::size_t kMaxDecoratedName = 4096;

// Nesting the readers may enter: productions of the grammar open at once
// while parsing (a recursive reader spends a few frames on each), and nodes
// on one path of the printed tree. Real names need at most 32 of each (the
// same 54,000 names); names are read on threads with small stacks (the
// page's worker has 256 KiB), and a name at the limits takes under 64 KiB.
constexpr unsigned kMaxNameNesting = 64;
constexpr unsigned kMaxReadableDepth = 128;

// Thrown by the readers when a name passes a limit; where the name is read it
// is caught and the name left raw.
struct NameRefused {};

// One level of nesting entered while reading a name, left when it goes out
// of scope; the name is refused past kMaxNameNesting.
class NestingLevel {
public:
    explicit NestingLevel(unsigned& nesting) : nesting_(nesting) {
        if (++nesting_ > kMaxNameNesting) throw NameRefused{};
    }
    ~NestingLevel() { --nesting_; }
    NestingLevel(const NestingLevel&) = delete;
    NestingLevel& operator=(const NestingLevel&) = delete;

private:
    unsigned& nesting_;
};

// The readable form of `name`, or `name` itself when it is no decorated name,
// cannot be read, or would read longer than kMaxReadableName.
std::string undecorateName(std::string_view name);

// The platform's reader of Microsoft names ("?..." only, already measured):
// the readable form, empty when it cannot read the name. Each platform layer
// defines it: the system's dbghelp.dll on Windows, LLVM's demangler
// elsewhere.
std::string undecorateMsvcName(const std::string& name);

}  // namespace vost
