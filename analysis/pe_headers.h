// The few facts of a PE file's COFF and optional headers that the readers
// need: the machine, the layout of the optional header (PE32 or PE32+), the
// image base and where each data directory's entry lies. Every value is read
// through the bounded reader; a header cut by the end of the file gives no
// answer rather than a guess.
#pragma once

#include <cstdint>

#include "analysis/byte_view.h"

namespace vost {

// The offset of the "PE\0\0" signature of a PE image: "MZ" at the start and
// the signature where the new-header field points. False for anything else
// (an NE file, a file cut short, no executable at all).
inline bool findPeSignature(const ByteView& image, std::uint64_t& newHeader) {
    std::uint16_t mz = 0;
    std::uint32_t field = 0, signature = 0;
    if (!image.readU16(0, mz) || mz != 0x5A4D || !image.readU32(60, field) || !image.readU32(field, signature) ||
        signature != 0x00004550)
        return false;
    newHeader = field;
    return true;
}

// The new header of an NE module ("MZ", then "NE" where e_lfanew points).
inline bool findNeSignature(const ByteView& image, std::uint64_t& newHeader) {
    std::uint16_t mz = 0, signature = 0;
    std::uint32_t field = 0;
    if (!image.readU16(0, mz) || mz != 0x5A4D || !image.readU32(60, field) || !image.readU16(field, signature) ||
        signature != 0x454E)
        return false;
    newHeader = field;
    return true;
}

// Optional-header magics.
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;

// COFF machine values the tool meets most.
constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kMachineArm64 = 0xAA64;

// Data directories by index.
constexpr int kExportDirectory = 0;
constexpr int kImportDirectory = 1;
constexpr int kResourceDirectory = 2;
constexpr int kDelayImportDirectory = 13;

// Offsets from the "PE\0\0" signature.
constexpr std::uint64_t kCoffMachineField = 4;
constexpr std::uint64_t kOptionalHeaderStart = 24;

// The optional header's magic (0 when it lies outside the file).
inline std::uint16_t optionalHeaderMagic(const ByteView& image, std::uint64_t newHeader) {
    std::uint16_t magic = 0;
    return image.readU16(newHeader + kOptionalHeaderStart, magic) ? magic : 0;
}

inline bool isPe32Plus(const ByteView& image, std::uint64_t newHeader) {
    return optionalHeaderMagic(image, newHeader) == kPe32PlusMagic;
}

// The COFF header's Machine (0 when it lies outside the file).
inline std::uint16_t coffMachine(const ByteView& image, std::uint64_t newHeader) {
    std::uint16_t machine = 0;
    return image.readU16(newHeader + kCoffMachineField, machine) ? machine : 0;
}

// Offset from the signature of data directory `index`'s entry (RVA, then
// size): the 64-bit layout when the magic is PE32+, else the 32-bit one,
// whatever the magic says otherwise. NumberOfRvaAndSizes is not consulted
// here; readers that follow the loader check it themselves.
inline std::uint64_t dataDirectoryEntry(std::uint16_t magic, int index) {
    const std::uint64_t directories = magic == kPe32PlusMagic ? 112 : 96;
    return kOptionalHeaderStart + directories + 8 * std::uint64_t(index);
}

// NumberOfRvaAndSizes of either layout; false when it lies outside the file.
inline bool numberOfRvaAndSizes(const ByteView& image, std::uint64_t newHeader, std::uint32_t& count) {
    const std::uint64_t field = optionalHeaderMagic(image, newHeader) == kPe32PlusMagic ? 108 : 92;
    return image.readU32(newHeader + kOptionalHeaderStart + field, count);
}

// ImageBase: 32 bits at optional-header offset 28 in PE32, 64 bits at 24 in
// PE32+. False when it lies outside the file.
inline bool imageBase(const ByteView& image, std::uint64_t newHeader, std::uint64_t& base) {
    const std::uint64_t optional = newHeader + kOptionalHeaderStart;
    if (optionalHeaderMagic(image, newHeader) == kPe32PlusMagic) {
        std::uint32_t low = 0, high = 0;
        if (!image.readU32(optional + 24, low) || !image.readU32(optional + 28, high)) return false;
        base = (std::uint64_t(high) << 32) | low;
        return true;
    }
    std::uint32_t base32 = 0;
    if (!image.readU32(optional + 28, base32)) return false;
    base = base32;
    return true;
}

}  // namespace vost
