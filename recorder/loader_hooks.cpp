#include "recorder/loader_hooks.h"

#include <cstring>

namespace vost {

namespace {

struct Target {
    const char* name;
    HookKind kind;
    int arguments;
    bool returnsStatus;
};

constexpr Target kNtdllTargets[] = {
    {"LdrLoadDll", HookKind::ldrLoadDll, 4, true},
    {"LdrGetProcedureAddress", HookKind::ldrGetProcedureAddress, 4, true},
    {"LdrGetProcedureAddressForCaller", HookKind::ldrGetProcedureAddressForCaller, 6, true},
};
constexpr Target kKernelTargets[] = {
    {"LoadLibraryA", HookKind::loadLibraryA, 1, false},
    {"LoadLibraryW", HookKind::loadLibraryW, 1, false},
    {"LoadLibraryExA", HookKind::loadLibraryExA, 3, false},
    {"LoadLibraryExW", HookKind::loadLibraryExW, 3, false},
    {"GetProcAddress", HookKind::getProcAddress, 2, false},
    {"IsDebuggerPresent", HookKind::isDebuggerPresent, 0, false},
};

constexpr std::size_t kBlockSize = 0x1000;
constexpr std::uint64_t kFlagOffset = 0;   // the armed flag: 1 while the recorder is attached
constexpr std::uint64_t kFirstHook = 16;
constexpr std::size_t kHookSpace = 128;  // a slot and a trampoline, on either machine

void put32(std::vector<unsigned char>& code, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) code.push_back(static_cast<unsigned char>(value >> (8 * i)));
}
void put64(unsigned char* at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// The trampoline of `hook` at `code`, calling through the pointer at `slot`;
// fills in the hook's afterCall, trap, resume and frameBytes.
std::vector<unsigned char> trampoline(Hook& hook, std::uint64_t code, std::uint64_t slot, std::uint64_t flag,
                                      unsigned pointerSize) {
    std::vector<unsigned char> c;
    const unsigned n = unsigned(hook.arguments);
    if (hook.kind == HookKind::isDebuggerPresent) return {0x31, 0xC0, 0xC3};  // xor eax, eax; ret
    if (pointerSize == 4) {
        for (unsigned i = 0; i < n; ++i) c.insert(c.end(), {0xFF, 0x74, 0x24, static_cast<unsigned char>(4 * n)});
        c.insert(c.end(), {0xFF, 0x15});  // call [slot]
        put32(c, std::uint32_t(slot));
        hook.afterCall = code + c.size();
        c.insert(c.end(), {0x85, 0xC0});  // test eax, eax
        c.insert(c.end(), {static_cast<unsigned char>(hook.returnsStatus ? 0x7D : 0x75), 0x0A});  // jge/jnz done
        c.insert(c.end(), {0x80, 0x3D});  // cmp byte [flag], 0
        put32(c, std::uint32_t(flag));
        c.push_back(0x00);
        c.insert(c.end(), {0x74, 0x01});  // je done
        hook.trap = code + c.size();
        c.push_back(0xCC);
        hook.resume = code + c.size();
        c.insert(c.end(), {0xC2, static_cast<unsigned char>(4 * n), 0x00});  // ret 4n
        hook.frameBytes = 4 + 4 * n;
        return c;
    }
    // x64: the four register arguments go to the caller's home space, where
    // the recorder reads them; a frame of 0x28 (0x38 with stack arguments to
    // copy) keeps the stack aligned for the call.
    const unsigned char frame = n > 4 ? 0x38 : 0x28;
    c.insert(c.end(), {0x48, 0x89, 0x4C, 0x24, 0x08, 0x48, 0x89, 0x54, 0x24, 0x10,
                       0x4C, 0x89, 0x44, 0x24, 0x18, 0x4C, 0x89, 0x4C, 0x24, 0x20});
    c.insert(c.end(), {0x48, 0x83, 0xEC, frame});
    if (n > 4) {
        c.insert(c.end(), {0x48, 0x8B, 0x44, 0x24, static_cast<unsigned char>(frame + 0x28), 0x48, 0x89, 0x44, 0x24, 0x20});
        c.insert(c.end(), {0x48, 0x8B, 0x44, 0x24, static_cast<unsigned char>(frame + 0x30), 0x48, 0x89, 0x44, 0x24, 0x28});
    }
    c.insert(c.end(), {0xFF, 0x15});  // call [rip + slot]
    put32(c, std::uint32_t(slot - (code + c.size() + 4)));
    hook.afterCall = code + c.size();
    c.insert(c.end(), {0x48, 0x83, 0xC4, frame});
    if (hook.returnsStatus) c.insert(c.end(), {0x85, 0xC0});
    else c.insert(c.end(), {0x48, 0x85, 0xC0});
    c.insert(c.end(), {static_cast<unsigned char>(hook.returnsStatus ? 0x7D : 0x75), 0x0A});
    c.insert(c.end(), {0x80, 0x3D});  // cmp byte [rip + flag], 0
    put32(c, std::uint32_t(flag - (code + c.size() + 5)));
    c.push_back(0x00);
    c.insert(c.end(), {0x74, 0x01});
    hook.trap = code + c.size();
    c.push_back(0xCC);
    hook.resume = code + c.size();
    c.push_back(0xC3);
    hook.frameBytes = 8 + frame;
    return c;
}

// A block for trampolines above `base` and within reach of its 32-bit export
// RVAs; 0 when none can be had.
std::uint64_t allocateNear(HANDLE process, std::uint64_t base, std::uint32_t sizeOfImage, unsigned pointerSize) {
    std::uint64_t hint = (base + sizeOfImage + 0xFFFF) & ~std::uint64_t(0xFFFF);
    for (int attempt = 0; attempt < 4096; ++attempt, hint += 0x10000) {
        if (pointerSize == 4 && hint >= 0x100000000ull) break;
        void* block = VirtualAllocEx(process, reinterpret_cast<void*>(static_cast<std::uintptr_t>(hint)), kBlockSize,
                                     MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE);
        if (block) return reinterpret_cast<std::uintptr_t>(block);
    }
    // A 32-bit RVA reaches any address of a 32-bit process (the sum wraps).
    if (pointerSize == 4) {
        void* block = VirtualAllocEx(process, nullptr, kBlockSize, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE);
        return reinterpret_cast<std::uintptr_t>(block);
    }
    return 0;
}

std::uint32_t u32At(const std::vector<unsigned char>& bytes, std::size_t at) {
    std::uint32_t value = 0;
    if (at + 4 <= bytes.size()) std::memcpy(&value, &bytes[at], 4);
    return value;
}

}  // namespace

bool isLoaderModule(const std::string& name) {
    return name == "ntdll.dll" || name == "kernelbase.dll" || name == "kernel32.dll";
}

void LoaderHooks::install(const DebuggeeMemory& memory, std::uint64_t base, const MappedImage& image,
                          const std::string& moduleName, std::vector<std::string>& notes) {
    const bool ntdll = moduleName == "ntdll.dll";
    const Target* targets = ntdll ? kNtdllTargets : kKernelTargets;
    const std::size_t targetCount = ntdll ? std::size(kNtdllTargets) : std::size(kKernelTargets);
    if (!image.exportRva || image.exportSize < 40 || image.exportSize > (16u << 20)) return;

    // The export directory with its tables and names, read at once.
    const std::vector<unsigned char> exports = memory.readUpTo(base + image.exportRva, image.exportSize);
    if (exports.size() < 40) return;
    const std::uint32_t functionCount = u32At(exports, 20), nameCount = u32At(exports, 24);
    const std::uint32_t functions = u32At(exports, 28), names = u32At(exports, 32), ordinals = u32At(exports, 36);
    const auto inDirectory = [&](std::uint32_t rva, std::uint64_t size) {
        return rva >= image.exportRva && rva - image.exportRva + size <= exports.size();
    };
    if (!inDirectory(names, std::uint64_t(nameCount) * 4) || !inDirectory(ordinals, std::uint64_t(nameCount) * 2))
        return;

    struct Found {
        const Target* target;
        std::uint32_t rva;
        std::uint64_t entry;
    };
    std::vector<Found> found;
    for (std::uint32_t i = 0; i < nameCount; ++i) {
        const std::uint32_t nameRva = u32At(exports, names - image.exportRva + 4 * i);
        if (!inDirectory(nameRva, 1)) continue;
        const char* name = reinterpret_cast<const char*>(&exports[nameRva - image.exportRva]);
        const std::size_t room = exports.size() - (nameRva - image.exportRva);
        for (std::size_t t = 0; t < targetCount; ++t) {
            const std::size_t length = std::strlen(targets[t].name);
            if (room <= length || std::memcmp(name, targets[t].name, length + 1) != 0) continue;
            std::uint16_t ordinal = 0;
            std::memcpy(&ordinal, &exports[ordinals - image.exportRva + 2 * i], 2);
            if (ordinal >= functionCount) continue;
            const std::uint64_t entry = base + functions + 4ull * ordinal;
            std::uint32_t rva = 0;
            if (!memory.readU32(entry, rva) || rva == 0) continue;
            // A forwarder names the module that holds the function: hooked there.
            if (rva >= image.exportRva && rva < image.exportRva + image.exportSize) continue;
            found.push_back(Found{&targets[t], rva, entry});
        }
    }
    if (found.empty()) return;

    const unsigned pointerSize = memory.pointerSize();
    const std::uint64_t block = allocateNear(memory.process(), base, image.sizeOfImage, pointerSize);
    if (!block) {
        notes.push_back("no memory for the hooks of " + moduleName + ": its failed calls are not recorded");
        return;
    }
    std::vector<unsigned char> bytes(kBlockSize, 0xCC);
    bytes[kFlagOffset] = 1;
    std::vector<Hook*> placed;
    std::uint64_t at = kFirstHook;
    for (const Found& f : found) {
        Hook hook;
        hook.kind = f.target->kind;
        hook.arguments = f.target->arguments;
        hook.returnsStatus = f.target->returnsStatus;
        hook.original = base + f.rva;
        hook.exportEntry = f.entry;
        hook.originalRva = f.rva;
        const std::uint64_t slot = block + at;
        put64(&bytes[at], hook.original);
        const std::vector<unsigned char> code = trampoline(hook, slot + 8, slot, block + kFlagOffset, pointerSize);
        std::memcpy(&bytes[at + 8], code.data(), code.size());
        at += kHookSpace;
        hooks_.push_back(hook);
        placed.push_back(&hooks_.back());
    }
    if (!memory.write(block, bytes.data(), bytes.size())) {
        for (std::size_t i = 0; i < placed.size(); ++i) hooks_.pop_back();
        notes.push_back("the hooks of " + moduleName + " could not be written: its failed calls are not recorded");
        return;
    }
    DWORD old = 0;
    VirtualProtectEx(memory.process(), reinterpret_cast<void*>(static_cast<std::uintptr_t>(block)), kBlockSize,
                     PAGE_EXECUTE_READ, &old);
    FlushInstructionCache(memory.process(), reinterpret_cast<void*>(static_cast<std::uintptr_t>(block)), kBlockSize);
    blocks_.push_back(Block{block, kBlockSize});
    for (std::size_t i = 0; i < placed.size(); ++i) {
        Hook* hook = placed[i];
        const std::uint64_t start = block + kFirstHook + kHookSpace * i + 8;
        const std::uint32_t rva = std::uint32_t(start - base);  // wraps in a 32-bit process, as the loader's sum does
        if (!memory.writeProtected(hook->exportEntry, &rva, 4)) {
            notes.push_back("the export entry of a hook in " + moduleName + " could not be written");
            continue;
        }
        if (!hook->traps()) continue;
        traps_.emplace(hook->trap, hook);
        afterCalls_.emplace(hook->afterCall, hook);
    }
}

const Hook* LoaderHooks::atTrap(std::uint64_t address) const {
    const auto found = traps_.find(address);
    return found == traps_.end() ? nullptr : found->second;
}

bool LoaderHooks::inTrampolines(std::uint64_t address) const {
    for (const Block& b : blocks_)
        if (address >= b.address && address < b.address + b.size) return true;
    return false;
}

bool LoaderHooks::readCall(const DebuggeeMemory& memory, const Hook& hook, std::uint64_t sp, HookCall& call) const {
    return readCall(memory, hook, sp, call, nullptr, 0);
}

bool LoaderHooks::readCall(const DebuggeeMemory& memory, const Hook& hook, std::uint64_t sp, HookCall& call,
                           const std::vector<unsigned char>* stack, std::uint64_t stackAt) const {
    call = HookCall();
    call.hook = &hook;
    call.entrySp = sp;
    const unsigned size = memory.pointerSize();
    // From the stack already read where it reaches, else from the process.
    const auto pointerAt = [&](std::uint64_t address, std::uint64_t& value) {
        if (stack && address >= stackAt && address - stackAt + size <= stack->size()) {
            value = 0;
            std::memcpy(&value, stack->data() + (address - stackAt), size);
            return true;
        }
        return memory.readPointer(address, value);
    };
    if (!pointerAt(sp, call.returnAddress)) return false;
    for (int i = 0; i < hook.arguments && i < 6; ++i) {
        // x64: the first four in the home space the trampoline filled, the
        // rest where the caller put them.
        const std::uint64_t at = size == 4 ? sp + 4 + 4ull * i : sp + 8 + 8ull * i;
        if (!pointerAt(at, call.arguments[i])) return false;
    }
    return true;
}

bool LoaderHooks::findCall(const DebuggeeMemory& memory, std::uint64_t sp, std::uint64_t stackBase, HookCall& found,
                           const std::function<bool(const HookCall&)>& wanted) const {
    if (afterCalls_.empty() || sp == 0) return false;
    const unsigned size = memory.pointerSize();
    std::uint64_t end = stackBase > sp ? stackBase : sp + 0x10000;
    if (end - sp > 0x40000) end = sp + 0x40000;
    // Every read of another process is a round trip through the system (a
    // server request under Wine): the stack in one read where it can be, the
    // calls decoded from it.
    std::uint64_t piece = 0x2000;  // the calls lie a few frames up, most often
    for (std::uint64_t from = sp; from < end; from += piece, piece = 0x10000) {
        const std::vector<unsigned char> stack = memory.readUpTo(from, std::size_t(std::min(piece, end - from)));
        for (std::size_t at = 0; at + size <= stack.size(); at += size) {
            std::uint64_t value = 0;
            std::memcpy(&value, &stack[at], size);
            const auto hook = afterCalls_.find(value);
            if (hook == afterCalls_.end()) continue;
            HookCall call;
            if (readCall(memory, *hook->second, from + at + hook->second->frameBytes, call, &stack, from) &&
                wanted(call)) {
                found = call;
                return true;
            }
        }
        if (stack.size() < std::min(piece, end - from)) break;
    }
    return false;
}

void LoaderHooks::remove(const DebuggeeMemory& memory) {
    const unsigned char disarmed = 0;
    for (const Block& b : blocks_) memory.writeProtected(b.address + kFlagOffset, &disarmed, 1);
    for (const Hook& hook : hooks_) memory.writeProtected(hook.exportEntry, &hook.originalRva, 4);
}

}  // namespace vost
