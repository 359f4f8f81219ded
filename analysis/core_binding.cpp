// How .NET 5 and later (and .NET Core) bind: the host reads the program's
// runtimeconfig.json and picks the shared frameworks under the dotnet root
// by the roll-forward rules, reads its deps.json for the program's own
// assemblies and native libraries, and hands the runtime that list; an
// assembly reference binds to the one of its name there, of at least the
// version asked for.
#include <algorithm>

#include "analysis/json_reader.h"
#include "analysis/managed_process.h"
#include "analysis/text.h"

namespace vost {

namespace {
constexpr int kMaxFrameworks = 16;  // frameworks of one program, all levels
constexpr int kMaxRestarts = 8;     // resolutions started again after a reconciliation

bool readRollForward(const JsonNode& node, RollForward& out) {
    const JsonNode* value = node.get("rollForward");
    if (value && value->kind == JsonNode::Kind::string) return parseRollForward(value->text, out);
    // The older setting: 0, 1 and 2 stand for LatestPatch, Minor and Major.
    const JsonNode* legacy = node.get("rollForwardOnNoCandidateFx");
    if (legacy && legacy->kind == JsonNode::Kind::number) {
        if (legacy->text == "0") out = RollForward::latestPatch;
        else if (legacy->text == "1") out = RollForward::minor;
        else if (legacy->text == "2") out = RollForward::major;
        else return false;
        return true;
    }
    return false;
}

std::string stemOf(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// How well a runtime identifier of a runtimeTargets asset fits `rid`
// ("win-x64"): 3 exactly, 2 a versioned Windows of the same architecture
// ("win10-x64"), 1 Windows of any architecture, 0 any system; -1 not at all.
int ridFit(const std::string& candidate, const std::string& rid) {
    if (candidate == rid) return 3;
    if (candidate == "any") return 0;
    if (candidate.compare(0, 3, "win") != 0) return -1;
    const std::size_t dash = candidate.find('-');
    if (dash == std::string::npos) return 1;  // "win", "win10"
    const std::string arch = candidate.substr(dash + 1);
    return arch == rid.substr(rid.find('-') + 1) ? 2 : -1;
}

void addAsset(std::unordered_map<std::string, DepsAsset>& assets, std::unordered_map<std::string, int>& fits,
              const std::string& key, const std::string& path, const JsonNode& properties, int fit) {
    const auto known = fits.find(key);
    if (known != fits.end() && known->second >= fit) return;
    DepsAsset asset;
    asset.path = path;
    asset.localPath = properties.string("localPath");
    asset.hasVersion = parseAssemblyVersion(properties.string("assemblyVersion"), asset.assemblyVersion);
    assets[key] = asset;
    fits[key] = fit;
}

// The versions of `name` installed under `root`.
std::vector<SemanticVersion> installedVersions(AnalysisPlatform& platform, const std::string& root,
                                               const std::string& name, std::string& folder) {
    std::vector<SemanticVersion> versions;
    folder = root.empty() ? std::string() : platform.findEntry(root, "shared/" + name, true);
    if (folder.empty()) return versions;
    for (const std::string& entry : platform.folderNames(folder)) {
        SemanticVersion version;
        if (SemanticVersion::parse(entry, version)) versions.push_back(version);
    }
    std::sort(versions.begin(), versions.end());
    return versions;
}

std::string versionList(const std::vector<SemanticVersion>& versions) {
    std::string text;
    for (const SemanticVersion& version : versions) text += (text.empty() ? "" : ", ") + version.text();
    return text;
}

// The host's resolution of a program's framework references, level by
// level, each framework's own references read from its runtimeconfig.json.
class FrameworkResolver {
public:
    FrameworkResolver(AnalysisPlatform& platform, ManagedProcess& process)
        : platform_(platform), process_(process),
          root_(process.bits == ModuleBits::bits64 ? process.folders.dotnet64 : process.folders.dotnet32) {}

    void run(const std::vector<FrameworkReference>& references) {
        for (int attempt = 0; attempt <= kMaxRestarts; ++attempt) {
            process_.frameworks.clear();
            failed_ = restart_ = false;
            resolve(references, false, 0);
            if (!restart_ || failed_) return;
        }
    }

private:
    // Steps 2 to 6 of the host's algorithm for one level's references.
    void resolve(std::vector<FrameworkReference> references, bool highest, int depth) {
        for (FrameworkReference& reference : references) {
            reference.highest = reference.highest || highest;
            effective_.emplace(reference.name, reference);
        }
        for (const FrameworkReference& reference : references) {
            if (failed_ || restart_) return;
            FrameworkReference merged;
            if (!reconcile(reference, effective_.at(reference.name), merged)) {
                fail(reference.name + " " + reference.version.text(),
                     "referenced at " + effective_.at(reference.name).version.text() + " too, out of each other's range");
                return;
            }
            const SharedFramework* resolved = nullptr;
            for (const SharedFramework& framework : process_.frameworks)
                if (framework.name == reference.name) resolved = &framework;
            if (resolved) {
                if (!sameReference(merged, effective_.at(reference.name))) {
                    effective_[reference.name] = merged;
                    restart_ = true;
                }
                continue;
            }
            effective_[reference.name] = merged;
            if (int(process_.frameworks.size()) == kMaxFrameworks || depth > kMaxFrameworks) {
                fail(reference.name, "more than " + std::to_string(kMaxFrameworks) + " frameworks");
                return;
            }
            std::string folder;
            const std::vector<SemanticVersion> installed = installedVersions(platform_, root_, reference.name, folder);
            SharedFramework framework;
            framework.name = reference.name;
            if (!pickFramework(merged, installed, framework.version)) {
                std::string asked = merged.version.text();
                fail(reference.name + " " + (asked == "0.0.0" ? std::string() : asked),
                     root_.empty()        ? "no .NET installation found"
                     : installed.empty()  ? "none installed"
                                          : "found " + versionList(installed));
                return;
            }
            framework.folder = platform_.findEntry(folder, framework.version.text(), true);
            process_.frameworks.push_back(framework);
            resolve(ownReferences(framework), merged.highest, depth + 1);
        }
    }

    std::vector<FrameworkReference> ownReferences(const SharedFramework& framework) {
        const std::string path = platform_.findEntry(framework.folder, framework.name + ".runtimeconfig.json");
        std::string text, error;
        bool tooLarge = false;
        RuntimeConfig config;
        if (path.empty() || !readSmallFile(platform_, path, kMaxJsonSize, text, tooLarge)) return {};
        if (!parseRuntimeConfig(text, config, error)) {
            process_.problems.push_back({ProcessProblem::Kind::badConfig, framework.name + ".runtimeconfig.json", error});
            return {};
        }
        return config.frameworks;
    }

    static bool sameReference(const FrameworkReference& a, const FrameworkReference& b) {
        return a.version == b.version && a.range == b.range && a.highest == b.highest;
    }

    void fail(std::string subject, std::string detail) {
        while (!subject.empty() && subject.back() == ' ') subject.pop_back();
        process_.problems.push_back({ProcessProblem::Kind::frameworkMissing, subject, detail});
        failed_ = true;
    }

    AnalysisPlatform& platform_;
    ManagedProcess& process_;
    const std::string root_;
    std::map<std::string, FrameworkReference> effective_;
    bool failed_ = false;
    bool restart_ = false;
};
}  // namespace

bool parseRuntimeConfig(const std::string& text, RuntimeConfig& out, std::string& error) {
    out = RuntimeConfig();
    JsonNode root;
    if (!readJson(text, root, error)) return false;
    const JsonNode* options = root.get("runtimeOptions");
    if (!options) {
        out.selfContained = true;  // no framework: the host takes the program for a self-contained one
        return true;
    }
    RollForward general = RollForward::minor;
    if ((options->get("rollForward") || options->get("rollForwardOnNoCandidateFx")) &&
        !readRollForward(*options, general)) {
        error = "an unknown rollForward value";
        return false;
    }
    std::vector<const JsonNode*> references;
    if (const JsonNode* frameworks = options->get("frameworks"))
        for (const JsonNode& item : frameworks->items) references.push_back(&item);
    if (const JsonNode* framework = options->get("framework")) references.push_back(framework);
    for (const JsonNode* node : references) {
        SemanticVersion version;
        const std::string name = node->string("name");
        if (name.empty() || !SemanticVersion::parse(node->string("version"), version)) {
            error = "a framework reference without a name or version";
            return false;
        }
        RollForward rollForward = general;
        if ((node->get("rollForward") || node->get("rollForwardOnNoCandidateFx")) &&
            !readRollForward(*node, rollForward)) {
            error = "an unknown rollForward value";
            return false;
        }
        out.frameworks.push_back(FrameworkReference::of(name, version, rollForward));
    }
    out.selfContained = out.frameworks.empty();
    return true;
}

bool parseDeps(const std::string& text, const std::string& rid, AppDependencies& out, std::string& error) {
    out = AppDependencies();
    JsonNode root;
    if (!readJson(text, root, error)) return false;
    const JsonNode* targets = root.get("targets");
    if (!targets || !targets->isObject()) return true;
    const JsonNode* target = nullptr;
    if (const JsonNode* runtimeTarget = root.get("runtimeTarget")) target = targets->get(runtimeTarget->string("name").c_str());
    if (!target && !targets->members.empty()) target = &targets->members.front().second;
    if (!target) return true;
    std::unordered_map<std::string, int> assemblyFits, nativeFits;
    for (const auto& library : target->members) {
        const JsonNode& assets = library.second;
        if (const JsonNode* runtime = assets.get("runtime"))
            for (const auto& asset : runtime->members)
                addAsset(out.assemblies, assemblyFits, lowerAscii(stemOf(pathFileName(asset.first))), asset.first,
                         asset.second, 4);
        if (const JsonNode* native = assets.get("native"))
            for (const auto& asset : native->members)
                addAsset(out.natives, nativeFits, lowerAscii(pathFileName(asset.first)), asset.first, asset.second, 4);
        if (const JsonNode* specific = assets.get("runtimeTargets")) {
            for (const auto& asset : specific->members) {
                const int fit = ridFit(asset.second.string("rid"), rid);
                if (fit < 0) continue;
                const std::string type = asset.second.string("assetType");
                if (type == "runtime")
                    addAsset(out.assemblies, assemblyFits, lowerAscii(stemOf(pathFileName(asset.first))), asset.first,
                             asset.second, fit);
                else if (type == "native")
                    addAsset(out.natives, nativeFits, lowerAscii(pathFileName(asset.first)), asset.first, asset.second,
                             fit);
            }
        }
    }
    return true;
}

void resolveSharedFrameworks(AnalysisPlatform& platform, ManagedProcess& process, const RuntimeConfig& config) {
    FrameworkResolver(platform, process).run(config.frameworks);
}

ManagedReference bindCoreAssembly(AnalysisPlatform& platform, ManagedProcess& process, const AssemblyName& wanted,
                                  std::string& path) {
    ManagedReference result;
    result.wanted = wanted;
    result.bound = wanted.version;
    const std::string key = lowerAscii(wanted.name);

    // The program's own copy: the deps.json's asset of that name in the
    // application's folder (without a deps.json, any NAME.dll there).
    std::string own;
    bool listedButMissing = false;
    if (process.hasDeps) {
        const auto asset = process.deps.assemblies.find(key);
        if (asset != process.deps.assemblies.end()) {
            for (const std::string& relative : {asset->second.localPath, pathFileName(asset->second.path),
                                                asset->second.path}) {
                if (!relative.empty() && own.empty()) own = platform.findEntry(process.appFolder, relative);
            }
            listedButMissing = own.empty();
        }
    } else {
        for (const char* extension : {".dll", ".exe"})
            if (own.empty()) own = platform.findEntry(process.appFolder, wanted.name + extension);
    }
    // The frameworks' copy, the highest level first.
    std::string shared;
    const SharedFramework* from = nullptr;
    for (const SharedFramework& framework : process.frameworks) {
        shared = platform.findEntry(framework.folder, wanted.name + ".dll");
        if (!shared.empty()) {
            from = &framework;
            break;
        }
    }
    // Both: the higher assembly version wins, the program's on a tie.
    path = own;
    if (!shared.empty()) {
        const AssemblyName* sharedName = assemblyIdentity(platform, process, shared);
        AssemblyVersion ownVersion;
        bool ownKnown = false;
        if (!own.empty()) {
            const auto asset = process.deps.assemblies.find(key);
            if (process.hasDeps && asset != process.deps.assemblies.end() && asset->second.hasVersion) {
                ownVersion = asset->second.assemblyVersion;
                ownKnown = true;
            } else if (const AssemblyName* ownName = assemblyIdentity(platform, process, own)) {
                ownVersion = ownName->version;
                ownKnown = true;
            }
        }
        if (own.empty() || (sharedName && ownKnown && ownVersion < sharedName->version)) path = shared;
    }
    if (path.empty()) {
        result.verdict = Verdict::notFound;
        if (listedButMissing) {
            result.detail = "listed in the application's deps.json, missing from its folder";
        } else {
            std::string frameworks;
            for (const SharedFramework& framework : process.frameworks)
                frameworks += (frameworks.empty() ? "" : ", ") + framework.name + " " + framework.version.text();
            result.detail = "not among the application's assemblies" +
                            (frameworks.empty() ? std::string() : " nor in " + frameworks);
        }
        return result;
    }
    result.where = path == own ? "application" : from->name + " " + from->version.text();
    const AssemblyName* found = assemblyIdentity(platform, process, path);
    if (!found) {
        result.verdict = Verdict::notAnAssembly;
        result.detail = "no assembly: " + path;
    } else if (compareIgnoringCase(found->name.c_str(), wanted.name.c_str()) != 0 || found->version < wanted.version) {
        result.verdict = Verdict::otherIdentity;
        result.detail = "found " + found->displayName() + ": " + path;
    }
    return result;
}

}  // namespace vost
