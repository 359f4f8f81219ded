// The recorder's hooks on the loader's entry points. For each of LoadLibraryA,
// LoadLibraryW, LoadLibraryExA, LoadLibraryExW and GetProcAddress (of
// kernelbase.dll and kernel32.dll) and LdrLoadDll, LdrGetProcedureAddress and
// LdrGetProcedureAddressForCaller (of ntdll.dll), a small trampoline is
// written into the debuggee near the module, and the module's export entry is
// pointed at it before any other module binds to it. The trampoline calls
// the original and returns its result; only when the call failed does it
// stop on a breakpoint (int3), so a program making many successful calls
// runs at nearly its own speed, and the recorder sees every failure with the
// caller's return address and the arguments on the stack. IsDebuggerPresent
// is pointed at a function that answers FALSE (the process's own flag stays
// set: Wine reports exceptions to a debugger only while it is).
//
// While a hooked call runs, its trampoline's return address lies on the
// thread's stack at a known distance below the caller's: a module loaded
// during the call is told apart by that frame (who asked, and for what).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "recorder/debuggee_memory.h"

namespace vost {

enum class HookKind {
    loadLibraryA,
    loadLibraryW,
    loadLibraryExA,
    loadLibraryExW,
    getProcAddress,
    ldrLoadDll,
    ldrGetProcedureAddress,
    ldrGetProcedureAddressForCaller,
    isDebuggerPresent,  // answers FALSE: a program that checks behaves as it would alone
};

struct Hook {
    HookKind kind = HookKind::loadLibraryA;
    int arguments = 0;
    bool returnsStatus = false;  // an NTSTATUS (fails when negative), else a pointer (fails when null)
    std::uint64_t original = 0;
    std::uint64_t exportEntry = 0;  // the export address table's entry
    std::uint32_t originalRva = 0;
    std::uint64_t afterCall = 0;  // the trampoline's return address from the original
    std::uint64_t trap = 0;       // its int3
    std::uint64_t resume = 0;     // its return to the caller
    unsigned frameBytes = 0;      // from the after-call slot to the caller's return address

    bool loads() const { return kind <= HookKind::loadLibraryExW || kind == HookKind::ldrLoadDll; }
    bool traps() const { return kind != HookKind::isDebuggerPresent; }
};

// A hooked call: its hook, the stack pointer on entry (where the caller's
// return address lies) and that address, and its arguments.
struct HookCall {
    const Hook* hook = nullptr;
    std::uint64_t entrySp = 0;
    std::uint64_t returnAddress = 0;
    std::uint64_t arguments[6] = {};
};

class LoaderHooks {
public:
    // Hooks the entry points that `moduleName` (lower case: ntdll.dll,
    // kernelbase.dll or kernel32.dll) exports itself (forwarders are left to
    // the module they name). Notes what could not be done.
    void install(const DebuggeeMemory& memory, std::uint64_t base, const MappedImage& image,
                 const std::string& moduleName, std::vector<std::string>& notes);

    const Hook* atTrap(std::uint64_t address) const;
    bool inTrampolines(std::uint64_t address) const;
    bool empty() const { return hooks_.empty(); }

    // The call a trap stopped in: the stack pointer is the entry's again.
    bool readCall(const DebuggeeMemory& memory, const Hook& hook, std::uint64_t sp, HookCall& call) const;
    // The innermost hooked call under way on the stack from `sp` up to
    // `stackBase` (at most 256 KiB, read a piece at a time) that `wanted`
    // accepts; false when there is none.
    bool findCall(const DebuggeeMemory& memory, std::uint64_t sp, std::uint64_t stackBase, HookCall& found,
                  const std::function<bool(const HookCall&)>& wanted) const;

    // Disarms every trap and points the export entries back at the
    // originals, for a debuggee that goes on without the recorder.
    void remove(const DebuggeeMemory& memory);

private:
    // readCall from `stack` (read from `stackAt` on) where it reaches.
    bool readCall(const DebuggeeMemory& memory, const Hook& hook, std::uint64_t sp, HookCall& call,
                  const std::vector<unsigned char>* stack, std::uint64_t stackAt) const;

    struct Block {
        std::uint64_t address = 0;
        std::uint64_t size = 0;
    };
    std::vector<Block> blocks_;
    std::deque<Hook> hooks_;
    std::map<std::uint64_t, const Hook*> traps_;
    std::map<std::uint64_t, const Hook*> afterCalls_;
};

// Whether `name` (lower case) is one of the system's loader modules, whose
// calls are not the program's own: ntdll.dll, kernelbase.dll, kernel32.dll.
bool isLoaderModule(const std::string& name);

}  // namespace vost
