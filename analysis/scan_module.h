// Reading one executable: the header reader, the PE import walker, the NE
// module-reference walker and the resolution of each reference into a child.
#pragma once

#include <cstdint>

#include "analysis/byte_view.h"
#include "analysis/module_facts.h"
#include "analysis/module_node.h"
#include "analysis/reference_search.h"

namespace vost {

struct CliImage;

// Message texts and captions of the header reader.
constexpr const char* kNotValidFileText = "not a Valid File";
constexpr const char* kNotValidFileCaption = "VOST";
constexpr const char* kInvalidExeText = "invalid .EXE";
constexpr const char* kNeitherPeNorNeText =
    "This File is neither a Portable Executable (PE) \n nor a NE";
constexpr const char* kHeaderCaption = "Quillon";

// The text a node carries as its path when its module was not found (the
// node holds it lower-cased).
constexpr const char* kFileNotFoundText = "File not found";

// The most children one module gets from a walk. Real programs reference a
// few hundred modules at most; a hostile file can name one module from
// millions of descriptors, and every child costs a node and a sorted tree
// insertion (linear in its siblings), so without a bound such a file would
// hold the scan for hours and exhaust the host's memory. A walk stops handing
// names on after this many, and marks the node (referencesCut) when the file
// named more.
constexpr int kMaxReferencesPerModule = 8192;

// Header reader: marks the node scanned, maps its file and hands the image to
// the matching walker. Nonzero when a walker ran and reported dependencies.
int scanModule(ScanContext& ctx, ModuleNode& node);

// PE import walker. `newHeader` is the offset of the "PE\0\0" signature.
// Returns 1 when at least one descriptor was walked, else 0.
int walkPeImports(ScanContext& ctx, ModuleNode& node, const ByteView& image,
                  std::uint64_t newHeader);

// The file offset of the byte the loader maps at `rva` (analysis/image_map.h),
// or 0xFFFFFFFF when it maps none there or a zero it makes.
std::uint32_t rvaToFileOffset(const ByteView& image, std::uint64_t newHeader, std::uint32_t rva);

// One string of the NE imported-names table.
struct ModuleRefEntry {
    std::uint16_t nameOffset = 0;
    char name[100] = {};
    std::int32_t referenced = 0;
};

// NE module-reference walker. `newHeader` is the offset of the "NE"
// signature. Always returns 1.
int walkNeModuleRefs(ScanContext& ctx, ModuleNode& node, const ByteView& image,
                     std::uint64_t newHeader);

// Resolves one referenced module into a child node and tree item under
// `node`, and returns the child.
ModuleNode* addDependency(ScanContext& ctx, ModuleNode& node, const char* name, int readVersion);

// The child of `node` named `name` whose file another rule than the module
// search found (`path`, empty when none, as `outcome` says), shown with
// `label` before its path.
ModuleNode* addFoundDependency(ScanContext& ctx, ModuleNode& node, const std::string& name, std::string label,
                               std::string path, const SearchOutcome& outcome, int readVersion);

// What the managed part of a PE walk did.
struct ManagedWalk {
    int walked = 0;                  // children were named (assemblies, P/Invoke modules, an app host's assembly)
    bool skipNativeImports = false;  // an IL-only assembly the runtime maps: its import table is never bound
};

// The managed part of the PE walk: for a managed image (a CLI header), its
// facts on the node, the process's managed runtime set up when this is the
// first managed module met, and as children its assembly references as
// that runtime binds them and its P/Invoke modules as its native library
// search finds them; for a native program scanned as the root that is a
// .NET app host, its app's assembly. `children` counts the node's children
// against kMaxReferencesPerModule.
ManagedWalk walkManagedReferences(ScanContext& ctx, ModuleNode& node, const CliImage* image, int& children);

// The walkers over a module's facts read before (module_facts.h): what
// walkPeImports and walkNeModuleRefs do over the bytes.
int walkPeReferences(ScanContext& ctx, ModuleNode& node, const ModuleFacts& facts);
int walkNeReferences(ScanContext& ctx, ModuleNode& node, const NeReferences& references);

}  // namespace vost
