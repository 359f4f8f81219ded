#include "analysis/reference_search.h"

namespace vost {

std::uint32_t searchReference(AnalysisPlatform& platform, const Referrer& referrer, const char* name, char* out,
                              std::uint32_t capacity) {
    return platform.searchModule(name, referrer.bits, out, capacity);
}

}  // namespace vost
