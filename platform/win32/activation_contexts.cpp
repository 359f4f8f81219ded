#include "platform/win32/activation_contexts.h"

#include <vector>

#include "analysis/manifest_resource.h"
#include "analysis/text.h"
#include "platform/win32/file_blocks.h"
#include "platform/win32/fault_guard.h"
#include "platform/win32/system_folders.h"
#include "platform/win32/wide_text.h"

namespace vost {

namespace {

// A text that is no valid UTF-8 (or UTF-16) becomes one that names no file.
std::wstring toWide(const std::string& text) { return wideText(text); }

std::string fromWide(const wchar_t* text) { return text ? utf8Text(text) : std::string(); }

std::string folderOf(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

bool isAbsolute(const std::string& path) {
    return (path.size() > 1 && path[1] == ':') || path.rfind("\\\\", 0) == 0;
}

// Makes `handle` the thread's active context while the scope lasts, so the
// system's searches start from it.
class ActivationScope {
public:
    explicit ActivationScope(HANDLE handle) : active_(ActivateActCtx(handle, &cookie_) != FALSE) {}
    ~ActivationScope() {
        if (active_) DeactivateActCtx(0, cookie_);
    }
    ActivationScope(const ActivationScope&) = delete;
    ActivationScope& operator=(const ActivationScope&) = delete;
    explicit operator bool() const { return active_; }

private:
    ULONG_PTR cookie_ = 0;
    bool active_;
};

// A context the system built, asked through its DLL redirection section.
class SystemContext : public ActivationContext {
public:
    SystemContext(ActCtxHandle handle, ModuleBits bits) : handle_(std::move(handle)), bits_(bits) {}

    bool redirect(const char* name, Redirection& out) const override {
        if (!handle_ || !name || !*name) return false;
        const std::wstring wide = toWide(name);
        if (wide.empty()) return false;
        ACTCTX_SECTION_KEYED_DATA data{};
        data.cbSize = sizeof data;
        {
            const ActivationScope scope(handle_.get());
            if (!scope || !FindActCtxSectionStringW(FIND_ACTCTX_SECTION_KEY_RETURN_HACTCTX, nullptr,
                                                    ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, wide.c_str(),
                                                    &data))
                return false;
        }
        // The search holds a reference on the context that answered. Past
        // ours it falls back to the process's own context (the host's) and
        // the system's default: those answers are not the scanned module's.
        const ActCtxHandle answered(data.hActCtx);
        if (answered.get() != handle_.get()) return false;
        return describe(data.ulAssemblyRosterIndex, name, out);
    }

private:
    // Wine resolves processorArchitecture="*" to the machine of the process
    // that asks, whatever machine the context was built for, so a 64-bit
    // page is given the amd64 assembly for a 32-bit program (Windows honours
    // the machine asked for). The store keeps the asked machine's copy in
    // the folder of the same name, version and language under that machine's
    // prefix: that one is the loader's. False when the store has none (the
    // loader of that machine would find no assembly).
    bool matchMachine(const std::string& directory, std::string& folder, AssemblyIdentity& assembly) const {
        const std::string wanted = bits_ == ModuleBits::bits64 ? "amd64" : "x86";
        const std::string other = bits_ == ModuleBits::bits64 ? "x86" : "amd64";
        if (compareIgnoringCase(assembly.processorArchitecture.c_str(), other.c_str()) != 0) return true;
        const std::size_t hash = directory.find_last_of('_');
        if (directory.rfind(other + "_", 0) != 0 || hash == std::string::npos || hash <= other.size()) return true;
        const std::string store = folderOf(folder);
        const std::string pattern =
            store + "\\" + wanted + directory.substr(other.size(), hash - other.size()) + "_*";
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileW(systemPath(pattern).c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return false;
        FindClose(search);
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
        folder = store + "\\" + utf8Text(found.cFileName);
        assembly.processorArchitecture = wanted;
        return true;
    }

    // The folder and identity of the assembly at `index` of the roster.
    bool describe(DWORD index, const char* name, Redirection& out) const {
        std::vector<std::uint8_t> buffer(1024);
        SIZE_T needed = 0;
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (QueryActCtxW(0, handle_.get(), &index, AssemblyDetailedInformationInActivationContext,
                             buffer.data(), buffer.size(), &needed))
                break;
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size() || needed > (1u << 20))
                return false;
            buffer.resize(needed);
            if (attempt == 1) return false;
        }
        const auto& info = *reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer.data());
        const std::string manifest = fromWide(info.lpAssemblyManifestPath);
        const std::string directory = fromWide(info.lpAssemblyDirectoryName);
        // An assembly of the store: its manifest is WinSxS\Manifests\<folder>.manifest
        // and its files are in WinSxS\<folder>. Any other (the module's own
        // manifest, a private assembly) keeps its files beside its manifest.
        std::string folder;
        const std::string manifestFile = manifest.substr(manifest.find_last_of("\\/") + 1);
        const bool storeManifest =
            manifest.empty() || compareIgnoringCase(manifestFile.c_str(), (directory + ".manifest").c_str()) == 0;
        if (!directory.empty() && isAbsolute(directory))
            folder = directory;
        else if (!directory.empty() && storeManifest)
            folder = systemFolders().windows + "\\winsxs\\" + directory;
        else
            folder = folderOf(manifest);
        if (folder.empty()) return false;
        out.assembly = parseEncodedIdentity(fromWide(info.lpAssemblyEncodedAssemblyIdentity));
        if (!matchMachine(directory, folder, out.assembly)) return false;
        out.path = truePath(systemFolders(), folder + "\\" + name);
        return true;
    }

    ActCtxHandle handle_;
    ModuleBits bits_;
};

// A context the system would not build: it redirects nothing and says why.
class RefusedContext : public ActivationContext {
public:
    bool redirect(const char*, Redirection&) const override { return false; }
};

// Errors that mean "no such manifest" rather than "a manifest that fails".
bool isAbsent(DWORD error) {
    switch (error) {
    case ERROR_RESOURCE_DATA_NOT_FOUND:
    case ERROR_RESOURCE_TYPE_NOT_FOUND:
    case ERROR_RESOURCE_NAME_NOT_FOUND:
    case ERROR_RESOURCE_LANG_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return true;
    default: return false;
    }
}

std::string errorText(DWORD error) {
    wchar_t text[256] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                        0, text, 256, nullptr);
    std::string message = utf8Text(std::wstring_view(text, length));
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return "error " + std::to_string(error) + (message.empty() ? "" : ": " + message);
}

struct Attempt {
    std::unique_ptr<ActivationContext> context;
    DWORD error = 0;
    bool faulted = false;  // the system faulted reading the file
};

// One CreateActCtxW call, shared with the guarded step: plain data only.
struct CreateCall {
    const ACTCTXW* request;
    HANDLE handle;
    DWORD error;
};

void createGuarded(void* argument) {
    CreateCall& call = *static_cast<CreateCall*>(argument);
    call.handle = CreateActCtxW(call.request);
    call.error = call.handle == INVALID_HANDLE_VALUE || !call.handle ? GetLastError() : 0;
}

// CreateActCtxW for the manifest resource `resource` of the module `source`,
// or for the manifest file `source` itself when `resource` is 0.
Attempt create(const std::string& source, const std::string& folder, ModuleBits bits, WORD resource) {
    const std::wstring wideSource = toWide(source), wideFolder = toWide(folder);
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_PROCESSOR_ARCHITECTURE_VALID;
    request.lpSource = wideSource.c_str();
    // The architecture of the importer decides the store's folders taken
    // for processorArchitecture="*", whatever this process's bitness.
    request.wProcessorArchitecture =
        bits == ModuleBits::bits64 ? PROCESSOR_ARCHITECTURE_AMD64 : PROCESSOR_ARCHITECTURE_INTEL;
    if (resource) {
        request.dwFlags |= ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.lpResourceName = MAKEINTRESOURCEW(resource);
    }
    // Private assemblies are probed for beside the module.
    if (!wideFolder.empty()) {
        request.dwFlags |= ACTCTX_FLAG_ASSEMBLY_DIRECTORY_VALID;
        request.lpAssemblyDirectory = wideFolder.c_str();
    }
    // The system walks the file's resources itself, and Wine's walk faults
    // on some damaged files: the call runs with faults caught. What the
    // system held when it faulted (a view of the file) stays behind.
    Attempt attempt;
    CreateCall call{&request, INVALID_HANDLE_VALUE, 0};
    if (!runGuarded(&createGuarded, &call)) {
        attempt.faulted = true;
    } else if (call.handle == INVALID_HANDLE_VALUE || !call.handle) {
        attempt.error = call.error ? call.error : DWORD(ERROR_SXS_CANT_GEN_ACTCTX);
    } else {
        attempt.context = std::make_unique<SystemContext>(ActCtxHandle(call.handle), bits);
    }
    return attempt;
}

}  // namespace

// Whether the module file at `path` holds the manifest resource `id`.
bool hasManifestResource(const std::string& path, std::uint16_t id) {
    const std::unique_ptr<FileBlocks> file = FileBlocks::open(path.c_str());
    ByteView manifest;
    return file && findManifestResource(file->view(), id, manifest);
}

AssemblyIdentity parseEncodedIdentity(const std::string& text) {
    AssemblyIdentity identity;
    std::size_t at = text.find(',');
    identity.name = text.substr(0, at);
    while (at != std::string::npos && at < text.size()) {
        const std::size_t equals = text.find('=', at + 1);
        if (equals == std::string::npos || equals + 1 >= text.size() || text[equals + 1] != '"') break;
        const std::size_t close = text.find('"', equals + 2);
        if (close == std::string::npos) break;
        const std::string key = text.substr(at + 1, equals - at - 1);
        const std::string value = text.substr(equals + 2, close - equals - 2);
        if (key == "processorArchitecture") identity.processorArchitecture = value;
        else if (key == "publicKeyToken") identity.publicKeyToken = value;
        else if (key == "version") identity.version = value;
        else if (key == "language") identity.language = value;
        else if (key == "type") identity.type = value;
        at = text.find(',', close + 1);
    }
    return identity;
}

bool prefersExternalManifest() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SideBySide", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    DWORD value = 0, type = 0, size = sizeof value;
    const LONG status =
        RegQueryValueExW(key, L"PreferExternalManifest", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_DWORD && value == 1;
}

std::unique_ptr<ActivationContext> buildSystemContext(const std::string& path, const std::string& reached,
                                                      ModuleBits bits, ManifestRole role, bool preferExternal) {
    const std::string folder = folderOf(reached);
    // A program's manifest is its resource 1, else NAME.exe.manifest beside
    // it (or the other way round when the system prefers the file); a DLL's
    // own is its resource 2.
    struct Source {
        std::string file;
        WORD resource;
    };
    std::vector<Source> sources;
    if (role == ManifestRole::module) {
        sources.push_back({reached, 2});
    } else {
        sources.push_back({reached, 1});
        sources.push_back({reached + ".manifest", 0});
        if (preferExternal) std::swap(sources[0], sources[1]);
    }
    for (const Source& source : sources) {
        Attempt attempt = create(source.file, folder, bits, source.resource);
        if (attempt.context) return std::move(attempt.context);
        if (!attempt.faulted && isAbsent(attempt.error)) continue;
        // A manifest that is there but fails (an assembly the system cannot
        // find, XML it rejects): the loader goes no further either.
        auto refused = std::make_unique<RefusedContext>();
        ContextProblem problem;
        const std::string name = path.substr(path.find_last_of("\\/") + 1);
        // Wine's CreateActCtxW, asked for a program's resource 1 that it
        // lacks, reads NAME.exe.manifest beside it by itself: the manifest
        // that failed is then that file.
        const bool resource = source.resource && (source.resource != 1 || hasManifestResource(reached, 1));
        const std::string manifest =
            resource ? "manifest resource " + std::to_string(source.resource) : name + ".manifest";
        if (attempt.faulted) {
            problem.kind = ContextProblem::Kind::badManifest;
            problem.detail = "the system faulted reading " + manifest;
        } else {
            problem.kind = ContextProblem::Kind::refused;
            problem.detail = "the system refused " + manifest + ": " + errorText(attempt.error);
        }
        refused->problems.push_back(problem);
        return refused;
    }
    return nullptr;
}

const ActivationContext* SystemContexts::get(const std::string& path, const std::string& reached, ModuleBits bits,
                                             ManifestRole role) {
    const std::lock_guard<std::mutex> lock(mutex_);
    auto key = std::make_tuple(lowerAscii(path), bits, role);
    const auto found = contexts_.find(key);
    if (found != contexts_.end()) return found->second.get();
    if (preferExternal_ < 0) preferExternal_ = prefersExternalManifest() ? 1 : 0;
    std::unique_ptr<ActivationContext>& slot = contexts_[key];
    slot = buildSystemContext(path, reached, bits, role, preferExternal_ == 1);
    return slot.get();
}

}  // namespace vost
