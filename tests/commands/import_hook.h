// Replaces one imported function of the test program (or of `module`, a DLL
// it loaded) for the life of the object, by patching its import address
// table. The page's code is linked into the test program, so its calls of
// that function come here.
#pragma once

#include <windows.h>

namespace vost::test {

class ImportHook {
public:
    ImportHook(const char* library, const char* function, void* replacement, HMODULE module = nullptr);
    ~ImportHook();
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    bool installed() const { return slot_ != nullptr; }
    void* original() const { return original_; }

private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};

}  // namespace vost::test
