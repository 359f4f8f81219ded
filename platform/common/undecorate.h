// C++ decorated names in readable form: Microsoft's ("?open@File@@QAE_NPBD@Z")
// and the Itanium ABI's of MinGW and clang ("_ZN4File4openEPKc").
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vost {

// Names longer than this are shown as they are: real decorated names stay
// far below it, and the demanglers' work grows with the length.
constexpr std::size_t kMaxDecoratedName = 2048;

// The readable form of `name`, or `name` itself when it is no decorated name
// or cannot be read.
std::string undecorateName(std::string_view name);

// The platform's reader of Microsoft names ("?..." only, at most
// kMaxDecoratedName bytes): the readable form, empty when it cannot read the
// name. Each platform layer defines it: the system's dbghelp.dll on Windows,
// LLVM's demangler elsewhere.
std::string undecorateMsvcName(const std::string& name);

}  // namespace vost
