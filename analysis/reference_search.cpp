#include "analysis/reference_search.h"

#include "analysis/api_set_schema.h"
#include "analysis/text.h"

namespace vost {

namespace {
// `path` into `out` as the search answers: its length when it fits, else the
// size needed.
std::uint32_t answer(const std::string& path, char* out, std::uint32_t capacity) {
    if (path.size() >= capacity) return std::uint32_t(path.size() + 1);
    copyBounded(out, capacity, path.c_str());
    return std::uint32_t(path.size());
}

bool hasFolder(const char* name) {
    for (const char* p = name; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':') return true;
    return false;
}

std::uint32_t searched(AnalysisPlatform& platform, ModuleBits bits, const char* name, char* out,
                       std::uint32_t capacity, SearchOutcome* outcome, FoundBy how) {
    const std::uint32_t found = platform.searchModule(name, bits, out, capacity);
    if (outcome) outcome->how = found ? how : FoundBy::notFound;
    return found;
}
}  // namespace

const char* foundByName(FoundBy how) {
    switch (how) {
    case FoundBy::search: return "search";
    case FoundBy::apiSet: return "apiSet";
    case FoundBy::sideBySide: return "sideBySide";
    case FoundBy::knownDll: return "knownDll";
    case FoundBy::notFound: break;
    }
    return "notFound";
}

std::string AssemblyIdentity::text() const {
    std::string text = name;
    const auto add = [&](const char* key, const std::string& value) {
        if (!value.empty()) text += std::string(",") + key + "=\"" + value + "\"";
    };
    add("processorArchitecture", processorArchitecture);
    add("publicKeyToken", publicKeyToken);
    add("language", language);
    add("type", type);
    add("version", version);
    return text;
}

std::uint32_t searchReference(AnalysisPlatform& platform, const Referrer& referrer, const char* name, char* out,
                              std::uint32_t capacity, SearchOutcome* outcome) {
    if (outcome) *outcome = SearchOutcome();
    if (capacity > 0) out[0] = '\0';
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
            case ApiSetResult::hosted:
                return searched(platform, referrer.bits, host, out, capacity, outcome, FoundBy::apiSet);
            case ApiSetResult::notHosted: return 0;
            case ApiSetResult::notAContract:
            case ApiSetResult::absent: break;
            }
        }
    }
    // Only the 16-bit loader's references and names with a folder of their
    // own escape the contexts and the known DLLs.
    if (referrer.pe && !hasFolder(name)) {
        // The module's own context, then the process's: the first that lists
        // the name sends it to its assembly.
        for (const ActivationContext* context : {referrer.own, referrer.process}) {
            Redirection redirection;
            if (!context || !context->redirect(name, redirection)) continue;
            if (outcome) {
                outcome->how = FoundBy::sideBySide;
                outcome->assembly = redirection.assembly;
            }
            return answer(redirection.path, out, capacity);
        }
        if (const std::uint32_t known = platform.knownDll(name, referrer.bits, out, capacity)) {
            if (outcome) outcome->how = FoundBy::knownDll;
            return known;
        }
    }
    return searched(platform, referrer.bits, name, out, capacity, outcome, FoundBy::search);
}

}  // namespace vost
