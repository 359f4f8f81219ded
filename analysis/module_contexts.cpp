#include "analysis/module_contexts.h"

#include "analysis/manifest_resource.h"
#include "analysis/pe_headers.h"

namespace vost {

namespace {
constexpr std::uint64_t kCoffCharacteristicsField = 22;  // from the signature
constexpr std::uint64_t kDllCharacteristicsField = 70;   // from the optional header, either layout
constexpr std::uint16_t kImageFileDll = 0x2000;
constexpr std::uint16_t kNoIsolation = 0x0200;
}  // namespace

bool readManifestUse(const ByteView& image, std::uint64_t newHeader, ManifestUse& use) {
    use = ManifestUse();
    std::uint16_t characteristics = 0, dllCharacteristics = 0;
    if (!image.readU16(newHeader + kCoffCharacteristicsField, characteristics) ||
        !image.readU16(newHeader + kOptionalHeaderStart + kDllCharacteristicsField, dllCharacteristics))
        return false;
    use.dll = (characteristics & kImageFileDll) != 0;
    use.noIsolation = (dllCharacteristics & kNoIsolation) != 0;
    ByteView manifest;
    use.ownManifest = use.dll && !use.noIsolation && findManifestResource(image, kModuleManifestId, manifest);
    use.present = true;
    return true;
}

const ActivationContext* processContextOf(AnalysisPlatform& platform, const char* path, ModuleBits bits,
                                          const ManifestUse& use) {
    if (!use.dll && !use.noIsolation)
        if (const ActivationContext* own = platform.activationContext(path, bits, ManifestRole::process)) return own;
    return platform.defaultContext(bits);
}

const ActivationContext* ownContextOf(AnalysisPlatform& platform, const char* path, ModuleBits bits,
                                      const ManifestUse& use) {
    if (!use.ownManifest) return nullptr;
    return platform.activationContext(path, bits, ManifestRole::module);
}

}  // namespace vost
