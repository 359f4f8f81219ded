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
    // A name only partly read was no whole name.
    if (status != llvm::demangle_success || !text || read != name.size()) return std::string();
    return text.get();
}

}  // namespace vost
