// The delay-load directory of a PE32 or PE32+ image: the modules a program
// loads only when it first calls into them, with the functions it names.
//
// Data directory 13 holds 32-byte descriptors (Attributes, DllNameRVA,
// ModuleHandleRVA, ImportAddressTableRVA, ImportNameTableRVA,
// BoundImportAddressTableRVA, UnloadInformationTableRVA, TimeDateStamp),
// ended by one whose DllNameRVA is 0. With Attributes bit 0 set the fields
// are RVAs; without it (the old form) they are virtual addresses, and so are
// the name pointers of the name table: both are reduced by the image base.
// The functions come from the delay import name table, whose thunks have the
// layout of the import name table's.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/byte_view.h"
#include "analysis/pe_import_functions.h"

namespace vost {

class ImageMap;

// Every delay-loaded module with its functions, in descriptor order. A
// descriptor whose name cannot be read (in no section, unterminated, empty or
// of kPathCapacity characters or more) is passed over, as the import walker
// passes over such a name; at most kMaxReferencesPerModule modules are given.
// A module whose name table is 0 or lies in no section has no functions and
// is marked cut. Nothing when NumberOfRvaAndSizes leaves the directory out or
// its RVA is 0.
std::vector<ImportedModule> readPeDelayImports(const ByteView& image, std::uint64_t newHeader);
// Without `withFunctions` only the modules' names are read (the walk's need).
std::vector<ImportedModule> readPeDelayImports(const ByteView& image, std::uint64_t newHeader,
                                               const ImageMap& map, bool withFunctions = true);

}  // namespace vost
