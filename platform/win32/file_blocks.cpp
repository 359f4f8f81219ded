#include "platform/win32/file_blocks.h"

namespace vost {

std::unique_ptr<FileBlocks> FileBlocks::open(const char* path) {
    KernelHandle file = openForReading(path);
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return nullptr;
    return std::unique_ptr<FileBlocks>(new FileBlocks(std::move(file), std::uint64_t(size.QuadPart)));
}

bool FileBlocks::readRaw(std::uint64_t offset, std::size_t length, void* out) {
    auto* target = static_cast<std::uint8_t*>(out);
    while (length) {
        // The offset goes with each read, so no file pointer is shared.
        OVERLAPPED at = {};
        at.Offset = DWORD(offset);
        at.OffsetHigh = DWORD(offset >> 32);
        const DWORD piece = length > 0x40000000 ? 0x40000000 : DWORD(length);
        DWORD got = 0;
        if (!ReadFile(file_.get(), target, piece, &got, &at) || got == 0) return false;
        target += got;
        offset += got;
        length -= got;
    }
    return true;
}

}  // namespace vost
