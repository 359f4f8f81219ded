// What an assembly manifest says, as far as the loader's DLL redirection
// needs it: the assembly's own identity, the assemblies it depends on, the
// files it lists and, in a publisher policy, the versions it redirects.
//
// Manifests come from files that may be anything. The text is parsed with
// expat (a streaming parser that keeps no tree) under limits: at most
// kManifestMaxBytes, kManifestMaxDepth nested elements, kManifestMaxAttribute
// bytes in an attribute value, and no document type declaration at all (so
// no entity of any kind can expand). A manifest past a limit or malformed is
// refused whole: a half-read manifest would redirect some names and not
// others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/activation_context.h"

namespace vost {

constexpr std::size_t kManifestMaxBytes = std::size_t(1) << 20;
constexpr int kManifestMaxDepth = 64;
constexpr std::size_t kManifestMaxAttribute = 4096;

struct ManifestDependency {
    AssemblyIdentity assembly;
    bool optional = false;  // <dependency optional="yes">: the loader skips it when missing
};

// <bindingRedirect oldVersion="A[-B]" newVersion="C"> under a dependency of a
// publisher policy: requests for `assembly` between A and B (or A alone) go
// to C.
struct BindingRedirect {
    AssemblyIdentity assembly;
    std::string oldVersion;
    std::string newVersion;
};

struct Manifest {
    AssemblyIdentity identity;                  // the top-level <assemblyIdentity>
    std::vector<ManifestDependency> dependencies;
    std::vector<std::string> files;             // <file name=...>, as written
    std::vector<BindingRedirect> redirects;
};

// Parses `size` bytes of manifest text (UTF-8, UTF-16 with a byte order mark,
// or any encoding expat knows by itself). Trailing NULs and white space, which
// resource compilers pad with, are ignored, and so is white space before the
// text; a UTF-16 text with a byte order mark is read as UTF-16 whatever its
// declaration says, as the loader reads it. False, with a few words in
// `error`, for a manifest that is malformed or past a limit.
// `loaderRoot`: the root must be the loader's, <assembly> in the asm.v1
// namespace with manifestVersion="1.0", or the loader refuses the manifest
// (programs', DLLs' and private assemblies' manifests); without it any
// <assembly> root is read (the store's own manifests, which Windows writes
// in asm.v3).
bool readManifest(const char* text, std::size_t size, Manifest& manifest, std::string& error,
                  bool loaderRoot = false);

// Whether the bytes look like a delta-compressed manifest of a Windows 10 or
// later store ("DCM" then a version byte, or a raw "PA30" delta), which no
// XML reader can read.
bool isCompressedManifest(const char* text, std::size_t size);

}  // namespace vost
