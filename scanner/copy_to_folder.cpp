#include "scanner/copy_to_folder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_set>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>

#include "platform/win32/wide_text.h"
#else
#include <unistd.h>
#endif

#include "analysis/scan_module.h"
#include "analysis/text.h"
#include "page/module_list.h"
#include "page/scan.h"

namespace vost {

namespace {
#ifdef _WIN32
constexpr char kSeparator = '\\';
// `path` is UTF-8 of any length; one that is not valid UTF-8 is refused.
int createNew(const std::string& path) {
    std::wstring wide;
    if (!toSystemPath(path, wide)) {
        errno = EINVAL;
        return -1;
    }
    return _wopen(wide.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int writeSome(int fd, const void* data, std::size_t size) {
    return _write(fd, data, static_cast<unsigned>(size > 0x40000000 ? 0x40000000 : size));
}
int closeFile(int fd) { return _close(fd); }
#else
constexpr char kSeparator = '/';
int createNew(const std::string& path) {
    return open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
}
int writeSome(int fd, const void* data, std::size_t size) {
    return static_cast<int>(write(fd, data, size > 0x40000000 ? 0x40000000 : size));
}
int closeFile(int fd) { return close(fd); }
#endif

constexpr int kMaxAttempts = 10000;
constexpr std::size_t kCopyPiece = 1 << 20;

bool writeBuffer(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const int written = writeSome(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Writes every byte of `bytes`, read through the view a piece at a time. A
// file that can no longer be read to its end fails the copy (EIO).
bool writeAll(int fd, const ByteView& bytes) {
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kCopyPiece]);
    for (std::uint64_t offset = 0; offset < bytes.size();) {
        const std::uint64_t left = bytes.size() - offset;
        const std::size_t piece = left < kCopyPiece ? std::size_t(left) : kCopyPiece;
        if (!bytes.readBytes(offset, piece, buffer.get())) {
            errno = EIO;
            return false;
        }
        if (!writeBuffer(fd, buffer.get(), piece)) return false;
        offset += piece;
    }
    return true;
}

// Writes `bytes` to a new file in `folder` under the first free candidate of
// `name`; the chosen path in `target`. False on an error other than a taken name.
bool writeNewCopy(const std::string& folder, const std::string& name, const ByteView& bytes,
                  std::string& target, std::string& error) {
    std::string base = folder;
    if (!base.empty() && base.back() != kSeparator && base.back() != '/') base += kSeparator;
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
        target = base + copyCandidateName(name, attempt);
        const int fd = createNew(target);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            error = std::strerror(errno);
            return false;
        }
        const bool written = writeAll(fd, bytes);
        const bool closed = closeFile(fd) == 0;
        if (written && closed) return true;
        error = std::strerror(errno);
        std::remove(target.c_str());  // no half-written copy stays behind
        return false;
    }
    error = "every candidate name is taken";
    return false;
}
}  // namespace

std::string copyCandidateName(const std::string& name, int attempt) {
    if (attempt <= 1) return name;
    if (attempt == 2) return "Copy of " + name;
    return "Copy (" + std::to_string(attempt - 1) + ") of " + name;
}

bool copyListedModules(ListControl& list, PagePlatform& platform, const std::string& folder,
                       std::ostream& err) {
    bool ok = true;
    // Several rows may list one file (contracts of the API set schema carry
    // their host's path): it is copied once. Every module that was not found
    // gets its own line, though all of them share the one not-found text.
    std::unordered_set<std::string> copied;
    for (int row = 0; row < list.rowCount(); ++row) {
        const ModuleNode* node = list.rowNode(row);
        const std::string path = list.cellText(row, kPathColumn);
        if (node && !node->found) {
            err << "vostscan: not copied: " << list.cellText(row, kModuleColumn) << " (module not found)\n";
            continue;
        }
        if (path.empty() || !copied.insert(path).second) continue;
        const std::unique_ptr<MappedFile> file = platform.mapFile(path.c_str());
        if (!file) {
            err << "vostscan: not copied: " << path << " (cannot be read)\n";
            ok = false;
            continue;
        }
        std::string target, error;
        if (!writeNewCopy(folder, fileNameOfPath(path.c_str()), file->bytes(), target, error)) {
            err << "vostscan: not copied: " << path << " to " << folder << " (" << error << ")\n";
            ok = false;
        }
    }
    return ok;
}

}  // namespace vost
