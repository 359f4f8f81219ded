#include "platform/posix/posix_platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analysis/text.h"
#include "platform/common/block_reader.h"
#include "platform/common/version_resource.h"
#include "platform/posix/file_time.h"
#include "platform/posix/known_dlls.h"

namespace vost {

namespace {

// Closes a file descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// An open file whose bytes are read with pread, a block at a time, as the
// scan asks for them. Reading rather than mapping spares every file the
// mapping, its page faults and its unmapping (most of the time of a scan of
// many files), and a file that another process shortens mid-scan gives
// failed reads instead of a SIGBUS.
class PosixOpenFile : public MappedFile {
public:
    PosixOpenFile(int fd, std::uint64_t size) : reader_(std::make_unique<Reader>(fd, size)) {}
    ByteView bytes() const override { return reader_->view(); }

private:
    class Reader : public BlockReader {
    public:
        Reader(int fd, std::uint64_t size) : BlockReader(size), fd_(fd) {}

    private:
        bool readRaw(std::uint64_t offset, std::size_t length, void* out) override {
            auto* target = static_cast<char*>(out);
            while (length) {
                const ssize_t got = ::pread(fd_.get(), target, length, off_t(offset));
                if (got < 0 && errno == EINTR) continue;
                if (got <= 0) return false;  // an error, or the file ends sooner now
                target += got;
                offset += std::uint64_t(got);
                length -= std::size_t(got);
            }
            return true;
        }
        FileDescriptor fd_;
    };
    std::unique_ptr<Reader> reader_;
};

// The handle smallImageList gives: any non-null value will do, nothing draws
// from it on this platform.
int dummyImageList;

bool hasExtension(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    const std::size_t filePart = slash == std::string::npos ? 0 : slash + 1;
    return name.find('.', filePart) != std::string::npos;
}

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// `folder` as an absolute path: a relative one is taken from the process's
// current directory, without its "." components; one that climbs with ".."
// is resolved by the system, so that the path shown names the folder
// plainly.
std::string absoluteFolder(const std::string& folder) {
    if (folder.empty() || folder[0] == '/') return folder;
    char current[4096];
    if (!::getcwd(current, sizeof current)) return folder;
    std::string absolute = current;
    std::size_t start = 0;
    bool climbs = false;
    while (start <= folder.size()) {
        std::size_t end = folder.find('/', start);
        if (end == std::string::npos) end = folder.size();
        const std::string part = folder.substr(start, end - start);
        if (part == "..") climbs = true;
        if (!part.empty() && part != ".") absolute = joinPath(absolute, part);
        start = end + 1;
    }
    if (climbs) {
        char resolved[PATH_MAX];
        if (::realpath(absolute.c_str(), resolved)) return resolved;
    }
    return absolute;
}

}  // namespace

int iconIndexForPath(const char* path) {
    const char* slash = std::strrchr(path, '/');
    const char* dot = std::strrchr(slash ? slash : path, '.');
    if (!dot) return 0;
    static const char* const kExtensions[] = {".exe", ".dll", ".drv", ".fon"};
    for (int i = 0; i < 4; ++i)
        if (compareIgnoringCase(dot, kExtensions[i]) == 0) return i + 1;
    return 0;
}

PosixPlatform::PosixPlatform(const PlatformOptions& options) : messageSink_(options.messageSink) {
    for (const std::string& folder : options.searchFolders)
        if (!folder.empty()) searchFolders_.push_back(realFolder(folder));
    for (const std::string& folder : options.searchFolders64)
        if (!folder.empty()) searchFolders64_.push_back(realFolder(folder));
    if (!options.windowsFolder.empty()) addWindowsFolder(options.windowsFolder);
    setRuntimeFolders(options);
}

void PosixPlatform::setRuntimeFolders(const PlatformOptions& options) {
    std::string windows;
    if (!options.windowsFolder.empty()) windows = realFolder(options.windowsFolder);
    runtimeFolders_.windows = windows;
    // 64-bit Windows keeps 32-bit modules apart; without a Windows folder,
    // folders for 64-bit modules stand for it.
    runtimeFolders_.windows64 = windows.empty() ? !searchFolders64_.empty() : !entryIgnoringCase(windows, "syswow64").empty();
    if (!options.dotnetRoot.empty()) {
        runtimeFolders_.dotnet32 = runtimeFolders_.dotnet64 = realFolder(options.dotnetRoot);
        return;
    }
    if (windows.empty()) return;
    // The default places of the installers, on the Windows folder's drive.
    const std::string drive = windows.substr(0, windows.find_last_of('/'));
    const auto beside = [&](const char* programFiles) {
        return findEntry(drive, std::string(programFiles) + "/dotnet", true);
    };
    runtimeFolders_.dotnet64 = beside("Program Files");
    runtimeFolders_.dotnet32 = runtimeFolders_.windows64 ? beside("Program Files (x86)") : runtimeFolders_.dotnet64;
}

std::string PosixPlatform::findEntry(const std::string& base, const std::string& relative, bool folder) {
    if (relative.empty()) return std::string();
    if (base.empty()) return findEntry(".", relative, folder);
    std::string wanted = relative;
    for (char& c : wanted)
        if (c == '\\') c = '/';
    // A drive ("C:") is the drive of the Windows folder, when there is one;
    // a relative folder is taken from the current directory, so that every
    // path found is absolute.
    std::string root;
    if (base.size() == 2 && base[1] == ':') {
        if (runtimeFolders_.windows.empty()) return std::string();
        root = runtimeFolders_.windows.substr(0, runtimeFolders_.windows.find_last_of('/'));
    } else {
        root = base[0] == '/' ? base : realFolder(base);
    }
    std::string real;
    EntryKind kind = EntryKind::unknown;
    if (!cache_.resolve(joinPath(root, wanted), real, &kind)) return std::string();
    if (kind == EntryKind::unknown) {
        struct stat info;
        if (::stat(real.c_str(), &info) != 0) return std::string();
        kind = S_ISDIR(info.st_mode) ? EntryKind::folder : EntryKind::file;
    }
    return (kind == EntryKind::folder) == folder ? real : std::string();
}

std::vector<std::string> PosixPlatform::folderNames(const std::string& folder) {
    std::vector<std::string> names;
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.c_str()), ::closedir);
    if (!listing) return names;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat info;
        if (::stat(joinPath(folder, name).c_str(), &info) == 0 && S_ISDIR(info.st_mode)) names.push_back(name);
    }
    return names;
}

void PosixPlatform::addWindowsFolder(const std::string& folder) {
    const std::string windows = realFolder(folder);
    const auto sub = [&](const char* name) {
        const std::string entry = entryIgnoringCase(windows, name);
        return entry.empty() ? std::string() : joinPath(windows, entry);
    };
    const std::string system32 = sub("system32"), syswow64 = sub("syswow64"), system = sub("system");
    systemFolder64_ = system32;
    systemFolder_ = syswow64.empty() ? system32 : syswow64;
    // The family's system folder comes first: the API set schema is taken
    // from the first folder that holds one.
    for (const std::string& each : {systemFolder_, system, windows})
        if (!each.empty()) searchFolders_.push_back(each);
    for (const std::string& each : {systemFolder64_, system, windows})
        if (!each.empty()) searchFolders64_.push_back(each);
    store_ = sharedWindowsStore(windows);
    if (!system32.empty()) {
        std::string hive;
        if (findIn(system32, "config/SYSTEM", hive)) knownDlls_ = readKnownDlls(hive);
    }
}

ContextFiles PosixPlatform::contextFiles() {
    ContextFiles files;
    files.map = [this](const std::string& path) { return mapFile(path.c_str()); };
    files.find = [this](const std::string& folder, const std::string& relative, std::string& real) {
        return findIn(folder, relative, real);
    };
    return files;
}

const ActivationContext* PosixPlatform::activationContext(const char* path, ModuleBits bits, ManifestRole role) {
    // Contexts come from a Windows folder's store; without one the loader's
    // order stays as the search alone gives it.
    if (!store_ || !path || !*path) return nullptr;
    auto key = std::make_tuple(std::string(path), bits, role);
    const auto known = contexts_.find(key);
    if (known != contexts_.end()) return known->second.get();
    std::string real = path;
    if (real[0] != '/') real = joinPath(realFolder("."), real);
    auto& context = contexts_[key];
    context = buildActivationContext(*store_, contextFiles(), real, bits == ModuleBits::bits64, role);
    return context.get();
}

const ActivationContext* PosixPlatform::defaultContext(ModuleBits bits) {
    if (!store_) return nullptr;
    const auto known = defaultContexts_.find(bits);
    if (known != defaultContexts_.end()) return known->second.get();
    auto& context = defaultContexts_[bits];
    context = buildDefaultContext(*store_, contextFiles(), bits == ModuleBits::bits64);
    return context.get();
}

std::string PosixPlatform::knownDll(const char* name, ModuleBits bits) {
    if (knownDlls_.empty() || !name || !*name) return std::string();
    std::string wanted = name;
    if (!hasExtension(wanted)) wanted += ".dll";
    if (!knownDlls_.count(lowerAscii(wanted))) return std::string();
    const std::string& folder = bits == ModuleBits::bits64 ? systemFolder64_ : systemFolder_;
    std::string found;
    if (folder.empty() || !findIn(folder, wanted, found)) return std::string();
    return found;
}

std::string PosixPlatform::realFolder(const std::string& folder) {
    // Asked once per scan for the scan's folder, and many scans of one run
    // share a folder.
    const auto known = realFolders_.find(folder);
    if (known != realFolders_.end()) return known->second;
    const std::string absolute = absoluteFolder(folder);
    struct stat info;
    std::string real;
    if (::stat(absolute.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) real = absolute;
    else if (!cache_.resolve(absolute, real)) real = absolute;
    return realFolders_[folder] = real;
}

int PosixPlatform::openExisting(const char* path) {
    if (!path || !*path) return -1;
    // Non-blocking, so that a named pipe in a scanned folder can't hold the
    // open; it is refused afterwards as no regular file.
    constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    int fd = ::open(path, kFlags);
    if (fd >= 0 || (errno != ENOENT && errno != ENOTDIR)) return fd;
    std::string real;
    if (!cache_.resolve(path, real) || real == path) return -1;
    return ::open(real.c_str(), kFlags);
}

std::unique_ptr<MappedFile> PosixPlatform::mapFile(const char* path) {
    FileDescriptor file(openExisting(path));
    if (file.get() < 0) return nullptr;
    struct stat info;
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return nullptr;
    FileTime time;
    if (fileTimeFromTimespec(info.st_mtim, time)) openedTimes_[path] = time;
    return std::make_unique<PosixOpenFile>(file.release(), std::uint64_t(info.st_size));
}

bool PosixPlatform::findIn(const std::string& folder, const std::string& relative, std::string& found) {
    std::string real;
    EntryKind kind = EntryKind::unknown;
    if (!cache_.resolve(joinPath(folder, relative), real, &kind)) return false;
    if (kind == EntryKind::unknown) {  // the listing did not tell: a link, or an older file system
        struct stat info;
        if (::stat(real.c_str(), &info) != 0) return false;
        kind = S_ISDIR(info.st_mode) ? EntryKind::folder : EntryKind::file;
    }
    if (kind == EntryKind::folder) return false;
    found = real;
    return true;
}

std::string PosixPlatform::searchModule(const char* name, ModuleBits bits) {
    if (!name || !*name) return std::string();
    std::string wanted = name;
    for (char& c : wanted)
        if (c == '\\') c = '/';
    if (!hasExtension(wanted)) wanted += ".DLL";

    // An absolute name, or one that starts at "./" or "../", names its file
    // directly; any other name, even with folders in it, is looked for first
    // in the scan's folder, then in each search folder in turn, as the
    // loader looks in a program's own folder before the system folders.
    std::string found;
    bool ok = false;
    if (wanted[0] == '/') {
        ok = findIn("", wanted, found);
    } else if (startsWith(wanted, "./") || startsWith(wanted, "../")) {
        ok = findIn(scanFolder_, wanted, found);
    } else {
        if (!scanFolder_.empty()) ok = findIn(scanFolder_, wanted, found);
        for (const std::string& folder : foldersOf(bits)) {
            if (ok) break;
            ok = findIn(folder, wanted, found);
        }
    }
    return ok ? found : std::string();
}

const ApiSetSchema* PosixPlatform::apiSetSchema(ModuleBits bits) {
    // The schema stands in the system folders (never the scan's folder, whose
    // files do not change how the loader maps contracts). The kernel loads
    // one schema, System32's, and maps it into every process, WoW64 ones
    // too: with a Windows folder its System32 gives it for both families.
    // Otherwise, and where System32 holds none, the first search folder of
    // the family that holds apisetschema.dll gives it.
    return apiSetSchemas_.get(*this, bits, [&](std::string& path) {
        if (!systemFolder64_.empty() && findIn(systemFolder64_, "apisetschema.dll", path)) return true;
        for (const std::string& folder : foldersOf(bits))
            if (findIn(folder, "apisetschema.dll", path)) return true;
        return false;
    });
}

bool PosixPlatform::readFixedVersionOf(const char*, const ByteView& image, FixedFileVersion& out) {
    return readFixedVersionFromImage(image, out);
}

bool PosixPlatform::readFixedVersion(const char* path, FixedFileVersion& out) {
    const std::unique_ptr<MappedFile> file = mapFile(path);
    return file && readFixedVersionFromImage(file->bytes(), out);
}

bool PosixPlatform::smallIconIndex(const char* path, int& index) {
    // The shell answers from the name alone, existing file or not.
    if (!path || !*path) return false;
    index = iconIndexForPath(path);
    return true;
}

void PosixPlatform::showError(WindowHandle, const char* text, const char* caption) {
    if (messageSink_) {
        messageSink_(text, caption);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
}

void PosixPlatform::setSearchFolder(const char* folder) {
    scanFolder_.clear();
    if (!folder || !*folder) return;
    // Found paths are full paths, as the platform's search gives them, also
    // when the scanned file was named relative to the current directory.
    scanFolder_ = realFolder(folder);
}

bool PosixPlatform::lastWriteTime(const char* path, FileTime& out) {
    // The time the file had when this platform opened it, as the rest of the
    // scan saw it; else a stat, which answers what opening the file and
    // asking its time would, at a third of the system calls: the list asks
    // this for every module.
    if (!path || !*path) return false;
    const auto opened = openedTimes_.find(path);
    if (opened != openedTimes_.end()) {
        out = opened->second;
        return true;
    }
    struct stat info;
    if (::stat(path, &info) != 0) {
        std::string real;
        if ((errno != ENOENT && errno != ENOTDIR) || !cache_.resolve(path, real) || real == path ||
            ::stat(real.c_str(), &info) != 0)
            return false;
    }
    if (S_ISDIR(info.st_mode)) return false;
    return fileTimeFromTimespec(info.st_mtim, out);
}

std::string PosixPlatform::formatShortDate(FileTime time) { return formatUtcShortDate(time); }

ImageListHandle PosixPlatform::smallImageList(const char* path, int& icon) {
    return smallIconIndex(path, icon) ? &dummyImageList : nullptr;
}

CursorHandle PosixPlatform::showWaitCursor() { return nullptr; }

void PosixPlatform::restoreCursor(CursorHandle) {}

std::unique_ptr<PagePlatform> createPlatform(const PlatformOptions& options) {
    return std::make_unique<PosixPlatform>(options);
}

}  // namespace vost
