// Activation contexts as Windows builds and answers them: the system reads
// the manifest, applies publisher policies and picks the assemblies, so the
// page names the file the loader of this machine takes.
//
// The page runs inside the user's shell, which has a manifest (and so a
// process context) of its own. The system falls back to that context for a
// name ours does not list; such an answer is the host's, not the scanned
// program's, and is refused by comparing the context that answered.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

#include "analysis/activation_context.h"
#include "analysis/platform.h"

namespace vost {

// An activation context handle, released when the owner goes.
class ActCtxHandle {
public:
    ActCtxHandle() = default;
    explicit ActCtxHandle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~ActCtxHandle() {
        if (handle_) ReleaseActCtx(handle_);
    }
    ActCtxHandle(ActCtxHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    ActCtxHandle& operator=(ActCtxHandle&&) = delete;
    ActCtxHandle(const ActCtxHandle&) = delete;
    ActCtxHandle& operator=(const ActCtxHandle&) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HANDLE handle_ = nullptr;
};

// The identity Windows encodes (Name,key="value",...) as a record.
AssemblyIdentity parseEncodedIdentity(const std::string& text);

// Whether the system reads a program's NAME.exe.manifest before its embedded
// manifest (SideBySide\PreferExternalManifest is 1 in the 64-bit view of
// HKLM, the one the loader reads).
bool prefersExternalManifest();

// Builds the context of the module whose true path is `path` (opened by this
// process as `reached`), for the architecture of family `bits`. Null when
// the module has no manifest of `role`; a context that redirects nothing and
// names the system's error when the system refuses to build one.
std::unique_ptr<ActivationContext> buildSystemContext(const std::string& path, const std::string& reached,
                                                      ModuleBits bits, ManifestRole role, bool preferExternal);

// The contexts of one platform object, each built once per file, role and
// family and kept (with its handle) for the object's life.
class SystemContexts {
public:
    const ActivationContext* get(const std::string& path, const std::string& reached, ModuleBits bits,
                                 ManifestRole role);

private:
    std::mutex mutex_;
    int preferExternal_ = -1;  // asked once
    std::map<std::tuple<std::string, ModuleBits, ManifestRole>, std::unique_ptr<ActivationContext>> contexts_;
};

}  // namespace vost
