// Reading a debugged process's memory: bounded reads of its texts, of the
// headers of an image it has mapped, and of its loader's module list. Every
// read is a ReadProcessMemory of a size known beforehand; what the debuggee
// holds is never trusted to be well formed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vost {

class DebuggeeMemory {
public:
    // `pointerSize` is the debuggee's (4 or 8).
    DebuggeeMemory(HANDLE process, unsigned pointerSize) : process_(process), pointerSize_(pointerSize) {}

    unsigned pointerSize() const { return pointerSize_; }
    HANDLE process() const { return process_; }

    bool read(std::uint64_t address, void* buffer, std::size_t size) const;
    // As many bytes as can be read from `address`, up to `size` (a read that
    // runs into an unreadable page keeps what came before it).
    std::vector<unsigned char> readUpTo(std::uint64_t address, std::size_t size) const;
    bool write(std::uint64_t address, const void* buffer, std::size_t size) const;
    // A write through read-only protection (an export table), put back after.
    bool writeProtected(std::uint64_t address, const void* buffer, std::size_t size) const;

    bool readPointer(std::uint64_t address, std::uint64_t& value) const;
    bool readU32(std::uint64_t address, std::uint32_t& value) const;
    bool readU16(std::uint64_t address, std::uint16_t& value) const;

    // A zero-terminated text of at most `limit` characters, UTF-8 (an ANSI
    // one read in the system's code page); empty when nothing can be read.
    std::string readAnsi(std::uint64_t address, std::size_t limit = 1024) const;
    std::string readWide(std::uint64_t address, std::size_t limit = 1024) const;
    // A UNICODE_STRING or ANSI_STRING at `address` (its length, its buffer).
    std::string readCountedWide(std::uint64_t address) const;
    std::string readCountedAnsi(std::uint64_t address) const;

private:
    HANDLE process_;
    unsigned pointerSize_;
};

// What the headers of an image mapped at `base` say.
struct MappedImage {
    std::uint32_t sizeOfImage = 0;
    std::uint16_t machine = 0;
    std::uint32_t exportRva = 0;
    std::uint32_t exportSize = 0;
    bool ok = false;

    int bits() const { return machine == 0x8664 || machine == 0xAA64 ? 64 : 32; }
};
MappedImage readMappedImage(const DebuggeeMemory& memory, std::uint64_t base);

// The loader's data (PEB->Ldr) of the debuggee whose process environment
// block is at `peb`; 0 while the loader has none.
std::uint64_t loaderData(const DebuggeeMemory& memory, std::uint64_t peb);

// The loader's entry of the module at `base`: its full path and size.
struct LoaderEntry {
    std::string path;
    std::uint32_t sizeOfImage = 0;
};
// Walks the loader's list (`ldr`, see loaderData) from its newest entry, at
// most `limit` entries; false when it has no module at `base`.
bool findLoaderEntry(const DebuggeeMemory& memory, std::uint64_t ldr, std::uint64_t base, LoaderEntry& found,
                     std::size_t limit = 4096);

// The path of the file behind `file` (a handle the debug event gave),
// without the "\\?\" prefix; empty when it cannot be told.
std::string pathOfFileHandle(HANDLE file);

}  // namespace vost
