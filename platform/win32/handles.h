// Owners of the kernel handles the platform layer opens.
#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/wide_text.h"

namespace vost {

// A file or file-mapping handle, closed when the owner goes. Both kinds of
// failure value (INVALID_HANDLE_VALUE from CreateFileW, null from
// CreateFileMappingA) count as no handle.
class KernelHandle {
public:
    KernelHandle() = default;
    explicit KernelHandle(HANDLE handle) : handle_(handle) {}
    ~KernelHandle() { reset(); }
    KernelHandle(KernelHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    KernelHandle& operator=(KernelHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }
    KernelHandle(const KernelHandle&) = delete;
    KernelHandle& operator=(const KernelHandle&) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }

    void reset() {
        if (*this) CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

// Opens a file as every reader of this layer does: generic read, others may
// read too, existing files only, normal attributes.
// `path` is UTF-8 of any length; one that is no valid UTF-8 opens nothing.
inline KernelHandle openForReading(const char* path) {
    std::wstring wide;
    if (!path || !toSystemPath(path, wide)) return KernelHandle();
    return KernelHandle(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace vost
