// A file read a block at a time with ReadFile: the bounded reader's view of
// a file without a mapping. A file that shrinks while it is read, or a read
// the system cannot serve, gives a failed read where a mapped view would
// fault.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/common/block_reader.h"
#include "platform/win32/handles.h"

namespace vost {

class FileBlocks : public BlockReader {
public:
    // Null when `path` cannot be opened for reading or its size read.
    static std::unique_ptr<FileBlocks> open(const char* path);
    // The open file's last-write time; false when it cannot be asked.
    bool lastWriteTime(FILETIME& out) const { return GetFileTime(file_.get(), nullptr, nullptr, &out) != 0; }

private:
    FileBlocks(KernelHandle file, std::uint64_t size) : BlockReader(size), file_(std::move(file)) {}
    bool readRaw(std::uint64_t offset, std::size_t length, void* out) override;

    KernelHandle file_;
};

}  // namespace vost
