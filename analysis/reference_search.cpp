#include "analysis/reference_search.h"

#include "analysis/api_set_schema.h"
#include "analysis/text.h"

namespace vost {

namespace {
bool hasFolder(const char* name) {
    for (const char* p = name; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':') return true;
    return false;
}

std::string searched(AnalysisPlatform& platform, ModuleBits bits, const char* name, SearchOutcome* outcome,
                     FoundBy how) {
    std::string found = platform.searchModule(name, bits);
    if (outcome) outcome->how = !found.empty() ? how : FoundBy::notFound;
    return found;
}
}  // namespace

const char* foundByName(FoundBy how) {
    switch (how) {
    case FoundBy::search: return "search";
    case FoundBy::apiSet: return "apiSet";
    case FoundBy::sideBySide: return "sideBySide";
    case FoundBy::knownDll: return "knownDll";
    case FoundBy::runtime: return "runtime";
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

std::string searchReference(AnalysisPlatform& platform, const Referrer& referrer, const char* name,
                            SearchOutcome* outcome) {
    if (outcome) *outcome = SearchOutcome();
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
                return searched(platform, referrer.bits, host, outcome, FoundBy::apiSet);
            case ApiSetResult::notHosted: return std::string();
            case ApiSetResult::notAContract:
            case ApiSetResult::absent: break;
            }
        }
    }
    // Only the 16-bit loader's references and names with a folder of their
    // own escape the contexts and the known DLLs.
    if (referrer.pe && !hasFolder(name)) {
        // The module's own context, then the process's, then the system's
        // default, which answers behind the process's context for every name
        // that context does not list (a program whose manifest names no
        // Common Controls still gets the default's): the first that lists
        // the name sends it to its assembly.
        const ActivationContext* fallback = platform.defaultContext(referrer.bits);
        if (fallback == referrer.process) fallback = nullptr;
        for (const ActivationContext* context : {referrer.own, referrer.process, fallback}) {
            Redirection redirection;
            if (!context || !context->redirect(name, redirection)) continue;
            if (outcome) {
                outcome->how = FoundBy::sideBySide;
                outcome->assembly = redirection.assembly;
            }
            return redirection.path;
        }
        std::string known = platform.knownDll(name, referrer.bits);
        if (!known.empty()) {
            if (outcome) outcome->how = FoundBy::knownDll;
            return known;
        }
    }
    return searched(platform, referrer.bits, name, outcome, FoundBy::search);
}

}  // namespace vost
