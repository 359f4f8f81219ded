// Activation contexts built from manifests and a Windows folder's store, as
// the loader builds them for a module's static imports.
//
// A context is the manifest's dependencies, each resolved to an assembly:
// from the store (publisher policy applied, then the highest build.revision
// within the asked major.minor), else privately from the program's folder in
// the loader's probe order. Every file an assembly lists sends that DLL name
// to the assembly's folder; the first assembly that lists a name keeps it.
// Assemblies' own dependencies are taken in too. A manifest that cannot be
// read gives a context with no redirection and a badManifest problem; a
// required assembly found nowhere a missingAssembly problem.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "analysis/activation_context.h"
#include "analysis/platform.h"
#include "platform/posix/windows_store.h"

namespace vost {

// How the builder reaches files: the platform's own open and case-insensitive
// lookup, so that every byte is read through the bounded reader.
struct ContextFiles {
    std::function<std::unique_ptr<MappedFile>(const std::string& path)> map;
    // The real path of the file `relative` under `folder`; false when none.
    std::function<bool(const std::string& folder, const std::string& relative, std::string& real)> find;
};

// The context of the module at `path` (a real path) from its manifest of
// `role`: resource 1 or else NAME.manifest beside it for a process, resource
// 2 for a module. Null when there is no such manifest.
std::unique_ptr<ActivationContext> buildActivationContext(const WindowsStore& store, const ContextFiles& files,
                                                          const std::string& path, bool bits64, ManifestRole role);

// The context of a process without a manifest: Common Controls 5.82 of the
// family's architecture when the store holds it (a real Windows store), else
// null (Wine's store has none).
std::unique_ptr<ActivationContext> buildDefaultContext(const WindowsStore& store, const ContextFiles& files,
                                                       bool bits64);

}  // namespace vost
