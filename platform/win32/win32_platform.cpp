#include "platform/win32/win32_platform.h"

#include "platform/common/version_resource.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "analysis/icon_resources.h"
#include "analysis/text.h"
#include "platform/win32/fault_guard.h"
#include "platform/win32/file_blocks.h"
#include "platform/win32/handles.h"
#include "platform/win32/module_search.h"
#include "platform/win32/runtime_folders.h"
#include "platform/win32/system_folders.h"
#include "platform/win32/wide_text.h"

namespace vost {

namespace {

// An open file read a block at a time (file_blocks.h). A mapped view would
// fault inside the host when the file shrinks under it, which the share
// mode cannot prevent everywhere (a Unix process under Wine, a network share
// that goes away); reads then simply fail, as reads past the end do.
class Win32OpenFile : public MappedFile {
public:
    explicit Win32OpenFile(std::unique_ptr<FileBlocks> blocks) : blocks_(std::move(blocks)) {}
    ByteView bytes() const override { return blocks_->view(); }

private:
    std::unique_ptr<FileBlocks> blocks_;
};

// The state of one version query, shared with the guarded steps. Plain data
// only: a fault abandons the guarded step without running destructors.
struct VersionQuery {
    const wchar_t* path;
    DWORD size;
    std::uint8_t* buffer;
    bool found;
    FixedFileVersion version;
};

void queryVersionSize(void* argument) {
    VersionQuery& query = *static_cast<VersionQuery*>(argument);
    DWORD ignored = 0;
    query.size = GetFileVersionInfoSizeW(query.path, &ignored);
}

void queryFixedInfo(void* argument) {
    VersionQuery& query = *static_cast<VersionQuery*>(argument);
    if (!GetFileVersionInfoW(query.path, 0, query.size, query.buffer)) return;
    void* block = nullptr;
    UINT length = 0;
    wchar_t root[] = L"\\";
    if (!VerQueryValueW(query.buffer, root, &block, &length) || !block) return;

    // The answer must be a whole VS_FIXEDFILEINFO inside the loaded data.
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(query.buffer);
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(block);
    if (at < start || at - start > query.size || length < sizeof(VS_FIXEDFILEINFO) ||
        sizeof(VS_FIXEDFILEINFO) > query.size - (at - start))
        return;
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, block, sizeof info);
    query.version.fileVersionMS = info.dwFileVersionMS;
    query.version.fileVersionLS = info.dwFileVersionLS;
    query.version.productVersionMS = info.dwProductVersionMS;
    query.version.productVersionLS = info.dwProductVersionLS;
    query.found = true;
}

}  // namespace

bool readFixedVersionInfo(const char* path, FixedFileVersion& out) {
    std::wstring wide;
    if (!path || !toSystemPath(path, wide)) return false;
    VersionQuery query{wide.c_str(), 0, nullptr, false, {}};
    if (!runGuarded(&queryVersionSize, &query) || query.size == 0) return false;

    // The buffer lives outside the guarded steps, so it is freed on every
    // path, a fault included.
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(query.size);
    } catch (...) {
        return false;
    }
    query.buffer = buffer.data();
    if (!runGuarded(&queryFixedInfo, &query) || !query.found) return false;
    out = query.version;
    return true;
}

Win32Platform::Win32Platform(PlatformOptions options) : options_(std::move(options)) {}

std::string Win32Platform::reach(const char* path) {
    return listings_.onDiskPath(pathForThisProcess(systemFolders(), path));
}

void Win32Platform::toTruePath(std::string& path) { path = truePath(systemFolders(), path); }

std::unique_ptr<MappedFile> Win32Platform::mapFile(const char* path) {
    if (!path) return nullptr;
    std::unique_ptr<FileBlocks> file = FileBlocks::open(reach(path).c_str());
    if (!file || file->size() == 0) return nullptr;
    // The time the rest of the scan saw the file at, asked of the open file:
    // the list asks for it later, without opening the file again.
    FILETIME written;
    if (file->lastWriteTime(written)) openedTimes_[path] = FileTime{written.dwLowDateTime, written.dwHighDateTime};
    return std::make_unique<Win32OpenFile>(std::move(file));
}

void Win32Platform::setSearchFolder(const char* folder) {
    searchFolder_ = folder ? folder : "";
    hasSearchFolder_ = true;
}

std::string Win32Platform::searchModule(const char* name, ModuleBits bits) {
    if (hasSearchFolder_) return searchModuleFrom(searchFolder_, name, bits, &listings_);
    // No scan folder: the current directory stands in its place. One that
    // cannot be read stands nowhere: the rest of the order is searched still,
    // and never the host program's folder, as SearchPathW would.
    std::wstring current(MAX_PATH, L'\0');
    DWORD length = GetCurrentDirectoryW(DWORD(current.size()), &current[0]);
    if (length >= current.size()) {
        current.assign(std::size_t(length) + 1, L'\0');
        length = GetCurrentDirectoryW(DWORD(current.size()), &current[0]);
    }
    std::string folder;
    if (length != 0 && length < current.size() && toUtf8(current.substr(0, length), folder))
        folder = truePath(systemFolders(), folder);
    else
        folder.clear();
    return searchModuleFrom(folder, name, bits, &listings_);
}

const ApiSetSchema* Win32Platform::apiSetSchema(ModuleBits bits) {
    // The loader's schema is apisetschema.dll of the system folder: read from
    // the file of the family's own folder (SysWOW64 for 32-bit modules on
    // 64-bit Windows), rather than from this process's loader, whose copy
    // serves this process's family only. Where that folder has none, the
    // system's one in System32 serves both families.
    return apiSetSchemas_.get(*this, bits, [&](std::string& path) {
        const SystemFolders& system = systemFolders();
        for (const std::string& folder : {systemFolderOf(system, bits), systemFolderOf(system, ModuleBits::bits64)}) {
            const std::string file = folder + "\\apisetschema.dll";
            if (GetFileAttributesW(systemPath(reach(file.c_str())).c_str()) != INVALID_FILE_ATTRIBUTES)
                return path = file, true;
        }
        return false;
    });
}

const ActivationContext* Win32Platform::activationContext(const char* path, ModuleBits bits, ManifestRole role) {
    return path ? contexts_.get(path, reach(path), bits, role) : nullptr;
}

const ActivationContext* Win32Platform::defaultContext(ModuleBits bits) {
    // A process whose program has no manifest runs under the system's default
    // context. Wine has none (a program without a manifest loads
    // comctl32.dll from the system folder); on Windows its answers are asked
    // only with some context active, where the host's own context answers
    // first, so the page cannot tell them apart and takes the search order.
    (void)bits;
    return nullptr;
}

std::string Win32Platform::knownDll(const char* name, ModuleBits bits) { return knownDlls_.find(name, bits); }

RuntimeFolders Win32Platform::runtimeFolders() { return win32RuntimeFolders(); }

std::string Win32Platform::findEntry(const std::string& base, const std::string& relative, bool folder) {
    return win32FindEntry(
        base, relative, folder,
        [](const std::string& path, void* self) { return static_cast<Win32Platform*>(self)->reach(path.c_str()); },
        this);
}

std::vector<std::string> Win32Platform::folderNames(const std::string& folder) {
    return win32FolderNames(pathForThisProcess(systemFolders(), folder));
}

bool Win32Platform::readFixedVersion(const char* path, FixedFileVersion& out) {
    return path && readFixedVersionInfo(reach(path).c_str(), out);
}

bool Win32Platform::readFixedVersionOf(const char*, const ByteView& image, FixedFileVersion& out) {
    // The file's own bytes, read by the bounded parser that agrees with the
    // version API on every file of the system (tests/windows), rather than
    // the API, which opens the file twice more.
    return readFixedVersionFromImage(image, out);
}

namespace {
constexpr UINT kSmallIconFlags = SHGFI_SYSICONINDEX | SHGFI_SMALLICON;
}  // namespace

// SHGetFileInfoA for the small system icon of `path`. Most files are of a
// type drawn with one icon, which the shell gives without opening them
// (type_icons.h). For the other types (those whose icon is "%1", programs
// above all) the shell maps the file and walks
// its icon resources without checking them against the file's size, inside
// the host process and with its icon cache locked, so a damaged file must
// not reach it: the file is read first with the bounded reader, and one
// whose icon reading would leave it gets the icon of its type instead. The
// file stays open until the shell has answered, and others may only read it
// meanwhile, so no other Windows process can change what was checked before
// the shell reads it. A file that the shell of a redirected process cannot
// look at (one reached only through Sysnative) gets its type's icon too. A
// file that cannot be opened is handed on as it is: the shell cannot read it
// either.
std::uintptr_t Win32Platform::smallIcon(const char* path, int& index) {
    SHFILEINFOW info = {};
    const std::string reached = reach(path);
    // A file of a type drawn with one icon gets that icon without the shell
    // looking at the file (type_icons.h); it must be a file that exists.
    const DWORD attributes = GetFileAttributesW(systemPath(reached).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        if (const std::uintptr_t list = typeIcons_.iconOfType(reached, index)) return list;
    const std::unique_ptr<FileBlocks> held = FileBlocks::open(reached.c_str());
    DWORD_PTR list = 0;
    if (held && !iconReadStaysInFile(held->view())) {
        list = shellTypeIcon(path, info.iIcon);
    } else {
        // The shell takes no "\\?\" form: a longer path gets its type's icon.
        std::wstring wide;
        if (toWide(reached, wide) && wide.size() < MAX_PATH)
            list = SHGetFileInfoW(wide.c_str(), 0, &info, sizeof info, kSmallIconFlags);
        else
            list = shellTypeIcon(path, info.iIcon);
        if (!list && reached != path) list = shellTypeIcon(path, info.iIcon);
    }
    if (list) index = info.iIcon;
    return list;
}

bool Win32Platform::smallIconIndex(const char* path, int& index) {
    return path && smallIcon(path, index) != 0;
}

ImageListHandle Win32Platform::smallImageList(const char* path, int& icon) {
    icon = 0;
    return path ? reinterpret_cast<ImageListHandle>(smallIcon(path, icon)) : nullptr;
}

void Win32Platform::showError(WindowHandle owner, const char* text, const char* caption) {
    if (options_.messageSink) {
        options_.messageSink(text, caption);
        return;
    }
    MessageBoxW(static_cast<HWND>(owner), wideText(text ? text : "").c_str(), wideText(caption ? caption : "").c_str(),
                MB_ICONERROR);
}

bool Win32Platform::lastWriteTime(const char* path, FileTime& out) {
    if (!path) return false;
    const auto opened = openedTimes_.find(path);
    if (opened != openedTimes_.end()) {
        out = opened->second;
        return true;
    }
    const KernelHandle file = openForReading(reach(path).c_str());
    if (!file) return false;
    FILETIME written;
    if (!GetFileTime(file.get(), nullptr, nullptr, &written)) return false;
    out.dwLowDateTime = written.dwLowDateTime;
    out.dwHighDateTime = written.dwHighDateTime;
    return true;
}

std::string Win32Platform::formatShortDate(FileTime time) {
    // The UTC date of the time, unconverted.
    const FILETIME value{time.dwLowDateTime, time.dwHighDateTime};
    SYSTEMTIME date;
    if (!FileTimeToSystemTime(&value, &date)) return std::string();
    wchar_t text[260] = {};
    const int length = GetDateFormatW(0, DATE_SHORTDATE, &date, nullptr, text, 260);
    return length > 1 ? utf8Text(std::wstring_view(text, std::size_t(length - 1))) : std::string();
}

CursorHandle Win32Platform::showWaitCursor() {
    return SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
}

void Win32Platform::restoreCursor(CursorHandle previous) { SetCursor(static_cast<HCURSOR>(previous)); }

std::unique_ptr<PagePlatform> createPlatform(const PlatformOptions& options) {
    return std::make_unique<Win32Platform>(options);
}

}  // namespace vost
