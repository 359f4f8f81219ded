// What a managed image says about what it needs: the CLI header (data
// directory 14), its metadata root and streams, and of the tables the
// Assembly row (its own name), the AssemblyRef rows (the assemblies it
// references), and the ModuleRef rows that ImplMap rows name (the native
// modules it calls through P/Invoke).
//
// Every read goes through the image as the loader maps it and is bounded by
// the metadata's own stream sizes; what a stream, a table or a heap index
// cannot give is a problem in words, never a read outside the file. The
// tables' row sizes depend on every table's row count (index and coded-index
// widths), so all 45 tables' schemas are known here to find the few read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/assembly_store.h"
#include "analysis/byte_view.h"

namespace vost {

class ImageMap;

// The most assembly references and P/Invoke modules read from one image: as
// many as a module may have children (kMaxReferencesPerModule).
constexpr std::size_t kMaxManagedReferences = 8192;

// An assembly's identity as metadata writes it.
struct AssemblyName {
    std::string name;
    AssemblyVersion version;
    std::string culture;         // empty for neutral
    std::string publicKeyToken;  // 16 lower-case hex digits; empty when the name is not strong
    std::uint32_t flags = 0;

    bool strong() const { return !publicKeyToken.empty(); }
    // "Name, Version=1.2.3.4, Culture=neutral, PublicKeyToken=0123456789abcdef"
    // (PublicKeyToken=null for a simple name), as the runtime writes it.
    std::string displayName() const;
};

// The public key token of a whole public key: the last 8 bytes of its
// SHA-1, reversed, in lower-case hexadecimal.
std::string publicKeyToken(const std::uint8_t* key, std::size_t size);

// A native module the image calls through P/Invoke, with how many of its
// ImplMap rows name it.
struct PInvokeModule {
    std::string name;  // as written
    std::uint32_t functions = 0;
};

// COMIMAGE_FLAGS of the CLI header.
constexpr std::uint32_t kClrIlOnly = 0x1;
constexpr std::uint32_t kClr32BitRequired = 0x2;
constexpr std::uint32_t kClrStrongNameSigned = 0x8;

struct CliImage {
    bool present = false;  // a CLI header the loader would see
    std::uint32_t flags = 0;
    std::string runtimeVersion;  // the metadata root's version text: "v4.0.30319"
    bool hasAssembly = false;    // an Assembly row (a module of a multi-module assembly has none)
    AssemblyName assembly;
    std::vector<AssemblyName> references;  // AssemblyRef rows, in table order
    std::vector<PInvokeModule> pinvokes;   // ModuleRef rows ImplMap names, in ModuleRef order
    bool cut = false;                      // more than kMaxManagedReferences of either
    std::vector<std::string> problems;     // what could not be read, each in a few words

    bool ilOnly() const { return (flags & kClrIlOnly) != 0; }
};

// Reads the managed parts of the PE image whose signature lies at
// `newHeader`; `present` false when it has no CLI header (NumberOfRvaAndSizes
// leaves directory 14 out, or its RVA or size is 0).
CliImage readCliMetadata(const ByteView& image, std::uint64_t newHeader, const ImageMap& map);
CliImage readCliMetadata(const ByteView& image, std::uint64_t newHeader);

// Only whether the image has a CLI header, without reading its metadata.
bool hasCliHeader(const ByteView& image, std::uint64_t newHeader);

}  // namespace vost
