#include "recorder/debuggee_memory.h"

#include <cstring>

#include "platform/win32/wide_text.h"

namespace vost {

bool DebuggeeMemory::read(std::uint64_t address, void* buffer, std::size_t size) const {
    if (address == 0 || (pointerSize_ == 4 && address + size > 0x100000000ull)) return false;
    SIZE_T done = 0;
    return ReadProcessMemory(process_, reinterpret_cast<LPCVOID>(static_cast<std::uintptr_t>(address)), buffer, size,
                             &done) &&
           done == size;
}

std::vector<unsigned char> DebuggeeMemory::readUpTo(std::uint64_t address, std::size_t size) const {
    std::vector<unsigned char> bytes(size);
    if (read(address, bytes.data(), size)) return bytes;
    // Up to the end of the first page, then page by page.
    std::size_t kept = 0;
    while (kept < size) {
        const std::uint64_t at = address + kept;
        const std::size_t step = std::min<std::size_t>(size - kept, 0x1000 - (at & 0xFFF));
        if (!read(at, bytes.data() + kept, step)) break;
        kept += step;
    }
    bytes.resize(kept);
    return bytes;
}

bool DebuggeeMemory::write(std::uint64_t address, const void* buffer, std::size_t size) const {
    SIZE_T done = 0;
    return WriteProcessMemory(process_, reinterpret_cast<LPVOID>(static_cast<std::uintptr_t>(address)), buffer, size,
                              &done) &&
           done == size;
}

bool DebuggeeMemory::writeProtected(std::uint64_t address, const void* buffer, std::size_t size) const {
    void* at = reinterpret_cast<void*>(static_cast<std::uintptr_t>(address));
    DWORD old = 0;
    if (!VirtualProtectEx(process_, at, size, PAGE_READWRITE, &old)) return write(address, buffer, size);
    const bool written = write(address, buffer, size);
    DWORD ignored = 0;
    VirtualProtectEx(process_, at, size, old, &ignored);
    return written;
}

bool DebuggeeMemory::readPointer(std::uint64_t address, std::uint64_t& value) const {
    if (pointerSize_ == 4) {
        std::uint32_t small = 0;
        if (!read(address, &small, 4)) return false;
        value = small;
        return true;
    }
    return read(address, &value, 8);
}

bool DebuggeeMemory::readU32(std::uint64_t address, std::uint32_t& value) const { return read(address, &value, 4); }
bool DebuggeeMemory::readU16(std::uint64_t address, std::uint16_t& value) const { return read(address, &value, 2); }

std::string DebuggeeMemory::readAnsi(std::uint64_t address, std::size_t limit) const {
    const std::vector<unsigned char> bytes = readUpTo(address, limit);
    std::size_t length = 0;
    while (length < bytes.size() && bytes[length]) ++length;
    if (length == 0) return std::string();
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(bytes.data()), int(length),
                                               nullptr, 0);
    std::wstring wide(std::size_t(wideLength > 0 ? wideLength : 0), L'\0');
    if (wideLength > 0)
        MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(bytes.data()), int(length), &wide[0], wideLength);
    return utf8Text(wide);
}

std::string DebuggeeMemory::readWide(std::uint64_t address, std::size_t limit) const {
    const std::vector<unsigned char> bytes = readUpTo(address, limit * 2);
    std::wstring wide;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const wchar_t c = wchar_t(bytes[i] | (bytes[i + 1] << 8));
        if (!c) break;
        wide += c;
    }
    return utf8Text(wide);
}

std::string DebuggeeMemory::readCountedWide(std::uint64_t address) const {
    std::uint16_t length = 0;
    std::uint64_t buffer = 0;
    if (!readU16(address, length) || !readPointer(address + pointerSize_, buffer) || !buffer) return std::string();
    std::vector<unsigned char> bytes = readUpTo(buffer, length & ~1u);
    std::wstring wide;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) wide += wchar_t(bytes[i] | (bytes[i + 1] << 8));
    return utf8Text(wide);
}

std::string DebuggeeMemory::readCountedAnsi(std::uint64_t address) const {
    std::uint16_t length = 0;
    std::uint64_t buffer = 0;
    if (!readU16(address, length) || !readPointer(address + pointerSize_, buffer) || !buffer) return std::string();
    const std::vector<unsigned char> bytes = readUpTo(buffer, length);
    return std::string(bytes.begin(), bytes.end());
}

MappedImage readMappedImage(const DebuggeeMemory& memory, std::uint64_t base) {
    MappedImage image;
    unsigned char headers[0x400];
    const std::vector<unsigned char> bytes = memory.readUpTo(base, sizeof headers);
    if (bytes.size() < 0x40) return image;
    std::memcpy(headers, bytes.data(), bytes.size());
    std::uint32_t nt = 0;
    std::memcpy(&nt, headers + 0x3C, 4);
    if (headers[0] != 'M' || headers[1] != 'Z' || nt > bytes.size() || bytes.size() - nt < 0x18 + 64)
        return image;
    if (std::memcmp(headers + nt, "PE\0\0", 4) != 0) return image;
    std::memcpy(&image.machine, headers + nt + 4, 2);
    std::uint16_t magic = 0;
    std::memcpy(&magic, headers + nt + 0x18, 2);
    const std::uint32_t optional = nt + 0x18;
    std::memcpy(&image.sizeOfImage, headers + optional + 56, 4);
    const std::uint32_t directories = optional + (magic == 0x20B ? 112 : 96);
    if (directories + 8 <= bytes.size()) {
        std::memcpy(&image.exportRva, headers + directories, 4);
        std::memcpy(&image.exportSize, headers + directories + 4, 4);
    }
    image.ok = true;
    return image;
}

std::uint64_t loaderData(const DebuggeeMemory& memory, std::uint64_t peb) {
    std::uint64_t ldr = 0;
    if (peb) memory.readPointer(peb + (memory.pointerSize() == 8 ? 0x18 : 0x0C), ldr);
    return ldr;
}

bool findLoaderEntry(const DebuggeeMemory& memory, std::uint64_t ldr, std::uint64_t base, LoaderEntry& found,
                     std::size_t limit) {
    if (!ldr) return false;
    const bool wide = memory.pointerSize() == 8;
    const std::uint64_t head = ldr + (wide ? 0x10 : 0x0C);
    // The newest modules are at the tail: walk backwards through Blink, an
    // entry (links, base, size, name) in one read.
    const std::size_t entrySize = wide ? 0x58 : 0x2C;
    const std::size_t baseAt = wide ? 0x30 : 0x18, sizeAt = wide ? 0x40 : 0x20, nameAt = wide ? 0x48 : 0x24;
    std::uint64_t entry = 0;
    if (!memory.readPointer(head + memory.pointerSize(), entry)) return false;
    unsigned char bytes[0x58];
    const auto pointer = [&](std::size_t at) {
        std::uint64_t value = 0;
        std::memcpy(&value, bytes + at, memory.pointerSize());
        return value;
    };
    for (std::size_t steps = 0; entry && entry != head && steps < limit; ++steps) {
        if (!memory.read(entry, bytes, entrySize)) return false;
        if (pointer(baseAt) == base) {
            std::uint16_t length = 0;
            std::memcpy(&length, bytes + nameAt, 2);
            std::memcpy(&found.sizeOfImage, bytes + sizeAt, 4);
            const std::vector<unsigned char> name = memory.readUpTo(pointer(nameAt + memory.pointerSize()), length & ~1u);
            std::wstring text;
            for (std::size_t i = 0; i + 1 < name.size(); i += 2) text += wchar_t(name[i] | (name[i + 1] << 8));
            found.path = utf8Text(text);
            return !found.path.empty();
        }
        entry = pointer(memory.pointerSize());  // Blink
    }
    return false;
}

std::string pathOfFileHandle(HANDLE file) {
    if (!file || file == INVALID_HANDLE_VALUE) return std::string();
    std::wstring buffer(512, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = GetFinalPathNameByHandleW(file, &buffer[0], DWORD(buffer.size()), 0);
        if (length == 0) return std::string();
        if (length < buffer.size()) {
            buffer.resize(length);
            if (buffer.compare(0, 8, L"\\\\?\\UNC\\") == 0) buffer = L"\\\\" + buffer.substr(8);
            else if (buffer.compare(0, 4, L"\\\\?\\") == 0) buffer = buffer.substr(4);
            return utf8Text(buffer);
        }
        buffer.assign(length + 1, L'\0');
    }
    return std::string();
}

}  // namespace vost
