#include "platform/posix/side_by_side.h"

#include <sys/stat.h>

#include <unordered_map>
#include <unordered_set>

#include "analysis/assembly_store.h"
#include "analysis/manifest_reader.h"
#include "analysis/manifest_resource.h"
#include "platform/posix/folder_cache.h"

namespace vost {

namespace {

// Assemblies one context takes in, and how deep dependencies of dependencies
// are followed: real contexts hold a handful; a store whose manifests depend
// on one another in circles or without end stops here.
constexpr std::size_t kMaxAssemblies = 256;
constexpr int kMaxDependencyDepth = 16;

class ManifestContext : public ActivationContext {
public:
    bool redirect(const char* name, Redirection& out) const override {
        const auto found = files.find(lowerAscii(name ? name : ""));
        if (found == files.end()) return false;
        out = found->second;
        return true;
    }
    std::unordered_map<std::string, Redirection> files;  // by lower-case DLL name
};

enum class ManifestState { absent, read, compressed, bad };

// The manifest in `view`: read, refused (`error` says why) or compressed.
// `loaderRoot`: a manifest the loader reads for a context (a program's, a
// DLL's, a private assembly's), whose root it checks; the store's own are
// read with any <assembly> root.
ManifestState readManifestView(const ByteView& view, Manifest& manifest, std::string& error, bool loaderRoot) {
    if (view.size() > kManifestMaxBytes) {
        error = "larger than " + std::to_string(kManifestMaxBytes) + " bytes";
        return ManifestState::bad;
    }
    std::string text(std::size_t(view.size()), '\0');
    if (!view.readBytes(0, view.size(), &text[0])) {
        error = "cannot be read";
        return ManifestState::bad;
    }
    if (isCompressedManifest(text.data(), text.size())) return ManifestState::compressed;
    return readManifest(text.data(), text.size(), manifest, error, loaderRoot) ? ManifestState::read
                                                                                : ManifestState::bad;
}

ManifestState readManifestFile(const ContextFiles& files, const std::string& path, Manifest& manifest,
                               std::string& error, bool loaderRoot) {
    const std::unique_ptr<MappedFile> file = files.map(path);
    if (!file) return ManifestState::absent;
    return readManifestView(file->bytes(), manifest, error, loaderRoot);
}

ManifestState readManifestResource(const ContextFiles& files, const std::string& path, std::uint16_t id,
                                   Manifest& manifest, std::string& error) {
    const std::unique_ptr<MappedFile> file = files.map(path);
    ByteView resource;
    if (!file || !findManifestResource(file->bytes(), id, resource)) return ManifestState::absent;
    return readManifestView(resource, manifest, error, true);
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Whether `version` lies in "A-B" or is "A".
bool inRange(const std::string& range, const AssemblyVersion& version) {
    const std::size_t dash = range.find('-');
    AssemblyVersion low, high;
    if (dash == std::string::npos) return parseAssemblyVersion(range, low) && low == version;
    return parseAssemblyVersion(range.substr(0, dash), low) && parseAssemblyVersion(range.substr(dash + 1), high) &&
           !(version < low) && !(high < version);
}

// Whether a private assembly's manifest is the one `asked` for, as the
// loader compares them: the name (case ignored), the version exactly, and the
// public key token where the reference gives one. The loader takes a private
// assembly of another processorArchitecture (Wine's does), so that is not
// compared.
bool privateIdentityMatches(const AssemblyIdentity& asked, const AssemblyIdentity& found) {
    AssemblyVersion want, have;
    if (lowerAscii(found.name) != lowerAscii(asked.name)) return false;
    if (!parseAssemblyVersion(asked.version, want) || !parseAssemblyVersion(found.version, have) || !(want == have))
        return false;
    return asked.publicKeyToken.empty() || lowerAscii(asked.publicKeyToken) == lowerAscii(found.publicKeyToken);
}

// An assembly as found: where its files lie and what it lists.
struct FoundAssembly {
    std::string folder;
    bool inStore = false;  // a store folder: its files are looked up there alone
    AssemblyIdentity identity;
    std::vector<std::string> files;
    std::vector<ManifestDependency> dependencies;
};

// A name that stays inside its folder: no separator, not "." or "..". A
// manifest's file and assembly names are single names; anything else would
// reach outside the assembly's or the program's folder.
bool plainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
}

// The real path of the file `name` in the store folder `folder`: the exact
// name, else the folder's entry that differs in case only. The platform's
// case-insensitive lookup would list every folder of the path, the store's
// tens of thousands of assemblies among them, once per scanning thread.
bool fileInFolder(const std::string& folder, const std::string& name, std::string& real) {
    if (!plainName(name)) return false;
    struct stat info;
    real = joinPath(folder, name);
    if (::stat(real.c_str(), &info) == 0) return S_ISREG(info.st_mode);
    const std::string entry = entryIgnoringCase(folder, name);
    if (entry.empty()) return false;
    real = joinPath(folder, entry);
    return ::stat(real.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

class Builder {
public:
    Builder(const WindowsStore& store, const ContextFiles& files, bool bits64, std::string programFolder,
            ManifestContext& context)
        : store_(store), files_(files), bits64_(bits64), programFolder_(std::move(programFolder)),
          context_(context) {}

    void addDependencies(const std::vector<ManifestDependency>& dependencies, int depth) {
        if (depth > kMaxDependencyDepth) return;
        for (const ManifestDependency& dependency : dependencies) add(dependency, depth);
    }

    // Takes in one assembly from the store of `arch`.
    void addStoreAssembly(const StoreAssembly& assembly, const AssemblyIdentity& asked) {
        FoundAssembly found;
        fromStoreFolder(assembly, asked, found);
        take(found, 0);
    }

private:
    void add(const ManifestDependency& dependency, int depth) {
        const AssemblyIdentity& asked = dependency.assembly;
        // Only win32 assemblies hold DLLs for the loader (win32-policy and
        // other types are not dependencies it redirects through).
        if (asked.name.empty() || (!asked.type.empty() && lowerAscii(asked.type) != "win32")) return;
        const std::string arch = storeArchitecture(asked.processorArchitecture, bits64_);
        const std::string key = arch + '|' + lowerAscii(asked.name) + '|' + lowerAscii(asked.publicKeyToken) + '|' +
                                storeLanguage(asked.language) + '|' + asked.version;
        if (!seen_.insert(key).second || seen_.size() > kMaxAssemblies) return;
        FoundAssembly found;
        if (fromStore(asked, arch, found) || fromProgramFolder(asked, found)) {
            take(found, depth);
            return;
        }
        if (dependency.optional) return;
        ContextProblem problem;
        problem.kind = ContextProblem::Kind::missingAssembly;
        problem.assembly = asked;
        problem.detail = "not in the side-by-side store nor the program's folder";
        context_.problems.push_back(problem);
    }

    void take(const FoundAssembly& found, int depth) {
        for (const std::string& file : found.files) {
            const std::string name = lowerAscii(file);
            if (!plainName(file) || context_.files.count(name)) continue;
            std::string real;
            // A file the manifest lists but the folder lacks is left to the
            // search rather than named where it is not.
            if (found.inStore ? !fileInFolder(found.folder, file, real) : !files_.find(found.folder, file, real))
                continue;
            context_.files[name] = Redirection{real, found.identity};
        }
        addDependencies(found.dependencies, depth + 1);
    }

    bool fromStore(const AssemblyIdentity& asked, const std::string& arch, FoundAssembly& found) {
        AssemblyVersion version;
        if (store_.folder.empty() || asked.publicKeyToken.empty() || !parseAssemblyVersion(asked.version, version))
            return false;
        const std::string name = lowerAscii(asked.name), token = lowerAscii(asked.publicKeyToken);
        const std::string language = storeLanguage(asked.language);
        applyPolicy(arch, name, token, language, version);
        StoreAssembly assembly;
        if (!store_.assemblies.select(arch, name, token, language, version, assembly)) return false;
        fromStoreFolder(assembly, asked, found);
        found.identity.processorArchitecture = arch;
        return true;
    }

    void fromStoreFolder(const StoreAssembly& assembly, const AssemblyIdentity& asked, FoundAssembly& found) {
        found.folder = joinPath(store_.folder, assembly.folder);
        found.inStore = true;
        found.identity = asked;
        found.identity.version = assembly.version.text();
        // The manifest lists the files when it is plain XML; a compressed,
        // missing or unreadable one leaves the folder's own files.
        std::string path, error;
        Manifest manifest;
        if (store_.manifestOf(assembly.folder, path) &&
            readManifestFile(files_, path, manifest, error, false) == ManifestState::read) {
            found.files = manifest.files;
            found.dependencies = manifest.dependencies;
        } else {
            found.files = filesIn(found.folder);
        }
    }

    // A publisher policy of the store (policy.MAJOR.MINOR.NAME) that
    // redirects the asked version: its newest version's redirect applies.
    void applyPolicy(const std::string& arch, const std::string& name, const std::string& token,
                     const std::string& language, AssemblyVersion& version) {
        const std::string policyName =
            "policy." + std::to_string(version.part[0]) + '.' + std::to_string(version.part[1]) + '.' + name;
        const std::vector<StoreAssembly> policies = store_.assemblies.candidates(arch, policyName, token);
        const StoreAssembly* newest = nullptr;
        for (const StoreAssembly& policy : policies)
            if (policy.language == language && (!newest || newest->version < policy.version)) newest = &policy;
        std::string path, error;
        Manifest manifest;
        if (!newest || !store_.manifestOf(newest->folder, path) ||
            readManifestFile(files_, path, manifest, error, false) != ManifestState::read)
            return;
        for (const BindingRedirect& redirect : manifest.redirects) {
            AssemblyVersion target;
            if (lowerAscii(redirect.assembly.name) == name && inRange(redirect.oldVersion, version) &&
                parseAssemblyVersion(redirect.newVersion, target)) {
                version = target;
                return;
            }
        }
    }

    // A private assembly: in the program's folder (first under the
    // assembly's culture when it names one) as NAME.dll (its resource-1
    // manifest), NAME.manifest, NAME\NAME.dll, NAME\NAME.manifest.
    bool fromProgramFolder(const AssemblyIdentity& asked, FoundAssembly& found) {
        if (programFolder_.empty() || !plainName(asked.name) ||
            (!asked.language.empty() && !plainName(asked.language)))
            return false;
        std::vector<std::string> bases;
        const std::string language = storeLanguage(asked.language);
        if (language != "none") bases.push_back(joinPath(programFolder_, asked.language));
        bases.push_back(programFolder_);
        const std::string& name = asked.name;
        for (const std::string& base : bases) {
            const std::string probes[] = {name + ".dll", name + ".manifest", name + "/" + name + ".dll",
                                          name + "/" + name + ".manifest"};
            for (const std::string& probe : probes) {
                std::string real, error;
                if (!files_.find(base, probe, real)) continue;
                Manifest manifest;
                const bool dll = probe.size() > 4 && probe.compare(probe.size() - 4, 4, ".dll") == 0;
                const ManifestState state = dll ? readManifestResource(files_, real, kProcessManifestId, manifest, error)
                                                : readManifestFile(files_, real, manifest, error, true);
                if (state != ManifestState::read || !privateIdentityMatches(asked, manifest.identity)) continue;
                found.folder = folderOf(real);
                found.identity = manifest.identity;
                found.files = manifest.files;
                found.dependencies = manifest.dependencies;
                return true;
            }
        }
        return false;
    }

    const WindowsStore& store_;
    const ContextFiles& files_;
    bool bits64_;
    std::string programFolder_;
    ManifestContext& context_;
    std::unordered_set<std::string> seen_;
};

}  // namespace

std::unique_ptr<ActivationContext> buildActivationContext(const WindowsStore& store, const ContextFiles& files,
                                                          const std::string& path, bool bits64, ManifestRole role) {
    Manifest manifest;
    std::string error;
    std::string source = path;
    ManifestState state = readManifestResource(
        files, path, role == ManifestRole::process ? kProcessManifestId : kModuleManifestId, manifest, error);
    if (state == ManifestState::absent && role == ManifestRole::process) {
        source = path + ".manifest";
        state = readManifestFile(files, source, manifest, error, true);
    }
    if (state == ManifestState::absent) return nullptr;
    auto context = std::make_unique<ManifestContext>();
    if (state != ManifestState::read) {
        ContextProblem problem;
        problem.kind = ContextProblem::Kind::badManifest;
        problem.detail = source + ": " + (state == ManifestState::compressed ? "compressed" : error);
        context->problems.push_back(problem);
        return context;
    }
    Builder(store, files, bits64, folderOf(path), *context).addDependencies(manifest.dependencies, 0);
    return context;
}

std::unique_ptr<ActivationContext> buildDefaultContext(const WindowsStore& store, const ContextFiles& files,
                                                       bool bits64) {
    AssemblyVersion version;
    parseAssemblyVersion("5.82", version);
    StoreAssembly assembly;
    if (!store.assemblies.select(bits64 ? "amd64" : "x86", "microsoft.windows.common-controls", "6595b64144ccf1df",
                                 "none", version, assembly))
        return nullptr;
    AssemblyIdentity identity;
    identity.name = "Microsoft.Windows.Common-Controls";
    identity.processorArchitecture = assembly.arch;
    identity.publicKeyToken = "6595b64144ccf1df";
    identity.type = "win32";
    auto context = std::make_unique<ManifestContext>();
    Builder(store, files, bits64, std::string(), *context).addStoreAssembly(assembly, identity);
    return context->files.empty() ? nullptr : std::move(context);
}

}  // namespace vost
