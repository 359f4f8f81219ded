// Microsoft decorated names through LLVM's demangler (libLLVMDemangle), the
// maintained reader of them that Debian ships.
#include <llvm/Demangle/Demangle.h>

#include <cstdlib>
#include <memory>

#include "platform/common/undecorate.h"

namespace vost {

std::string undecorateMsvcName(const std::string& name) {
    if (name.empty() || name[0] != '?' || name.size() > kMaxDecoratedName) return std::string();
    int status = 0;
    std::size_t read = 0;
    const std::unique_ptr<char, void (*)(void*)> text(
        llvm::microsoftDemangle(name.c_str(), &read, nullptr, nullptr, &status), std::free);
    if (status != llvm::demangle_success || !text) return std::string();
    // A name only partly read was no whole name; but the reader does not
    // count the '@' that closes the class a virtual table is for
    // ("??_8...7B?$basic_istream@...@1@@" reads to its last character).
    const bool tableFor = name.compare(0, 4, "??_7") == 0 || name.compare(0, 4, "??_8") == 0;
    if (read != name.size() && !(tableFor && read + 1 == name.size() && name.back() == '@')) return std::string();
    return text.get();
}

}  // namespace vost
