// A PE file's embedded manifest: the RT_MANIFEST resource the loader reads
// for an activation context (id 1 for a program, 2 for a DLL's own).
#pragma once

#include <cstdint>

#include "analysis/byte_view.h"

namespace vost {

constexpr std::uint16_t kRtManifest = 24;
constexpr std::uint16_t kProcessManifestId = 1;
constexpr std::uint16_t kModuleManifestId = 2;

// The bytes of the RT_MANIFEST resource `id` (the first language the
// directory holds, as the loader takes any). False when the file has no such
// resource or its directory or data leave the file or their section.
bool findManifestResource(const ByteView& image, std::uint16_t id, ByteView& manifest);

}  // namespace vost
