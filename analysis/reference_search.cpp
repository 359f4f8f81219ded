#include "analysis/reference_search.h"

#include "analysis/api_set_schema.h"

namespace vost {

std::uint32_t searchReference(AnalysisPlatform& platform, const Referrer& referrer, const char* name, char* out,
                              std::uint32_t capacity) {
    // A contract ("api-...", "ext-...") maps through the API set schema of the
    // referrer's family to its host, before any file search, so a file named
    // like the contract never stands in for it. Only PE references are mapped
    // (the 16-bit loader knows no contracts), and only where the platform has
    // a schema: without one, or when the schema has no such contract, the
    // name is searched as a file, as the loader does. A contract the schema
    // knows but gives no host for this referrer fails, as the loader's load
    // does, with no file looked for.
    if (referrer.pe && isApiSetName(name)) {
        if (const ApiSetSchema* schema = platform.apiSetSchema(referrer.bits)) {
            // The referrer is known to the loader by its file's name (for a
            // contract module, its host's).
            char host[kPathCapacity] = {};
            switch (resolveApiSet(*schema, name, referrer.path, host, sizeof host)) {
            case ApiSetResult::hosted: return platform.searchModule(host, referrer.bits, out, capacity);
            case ApiSetResult::notHosted:
                if (capacity > 0) out[0] = '\0';
                return 0;
            case ApiSetResult::notAContract:
            case ApiSetResult::absent: break;
            }
        }
    }
    return platform.searchModule(name, referrer.bits, out, capacity);
}

}  // namespace vost
