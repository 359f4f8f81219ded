#include "analysis/managed_process.h"

#include "analysis/json_reader.h"
#include "analysis/pe_headers.h"
#include "analysis/text.h"

namespace vost {

namespace {
constexpr std::size_t kMaxConfigSize = 1024 * 1024;

bool endsWithIgnoringCase(const std::string& text, const char* suffix) {
    const std::size_t length = std::char_traits<char>::length(suffix);
    return text.size() >= length && compareIgnoringCase(text.c_str() + text.size() - length, suffix) == 0;
}

// The part of a file name before its last dot.
std::string stem(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// Which runtime version a metadata or configuration version text names: 4
// for v4.x, 2 for v2.x and the 1.x runtimes (which run on 2.0 where 1.x is
// not installed), 0 for anything else.
int frameworkMajorOf(const std::string& version) {
    if (version.size() < 2 || (version[0] != 'v' && version[0] != 'V')) return 0;
    if (version[1] == '4') return 4;
    if (version[1] == '2' || version[1] == '1') return 2;
    return 0;
}

const char* frameworkFolderVersion(int major) { return major == 2 ? "v2.0.50727" : "v4.0.30319"; }
const char* frameworkTitle(int major) { return major == 2 ? ".NET Framework 2.0" : ".NET Framework 4"; }

// Whether the runtime of `major` is installed for `bits` under the Windows
// folder: its execution engine in Microsoft.NET\Framework[64].
bool frameworkInstalled(AnalysisPlatform& platform, const ManagedProcess& process, int major) {
    const std::string folder = std::string(process.bits == ModuleBits::bits64 ? "Microsoft.NET/Framework64/"
                                                                              : "Microsoft.NET/Framework/") +
                               frameworkFolderVersion(major) + (major == 2 ? "/mscorwks.dll" : "/clr.dll");
    return !platform.findEntry(process.folders.windows, folder).empty();
}

void setUpFramework(AnalysisPlatform& platform, ManagedProcess& process, const std::string& programPath,
                    const CliImage& image) {
    process.runtime = ManagedRuntime::framework;
    // The program's configuration file, beside it.
    const std::string configName = pathFileName(programPath) + ".config";
    const std::string configPath = platform.findEntry(process.appFolder, configName);
    if (!configPath.empty()) {
        std::string text, error;
        bool tooLarge = false;
        if (!readSmallFile(platform, configPath, kMaxConfigSize, text, tooLarge))
            error = tooLarge ? "larger than 1 MiB" : "unreadable";
        AppConfig config;
        if (error.empty() && parseAppConfig(text, config, error)) process.config = std::move(config);
        else process.problems.push_back({ProcessProblem::Kind::badConfig, configName, error});
    }
    // The runtime: the first installed of the configuration's supported
    // runtimes, else the one the metadata names.
    std::vector<int> wanted;
    for (const std::string& version : process.config.supportedRuntimes)
        if (int major = frameworkMajorOf(version)) wanted.push_back(major);
    if (wanted.empty()) wanted.push_back(frameworkMajorOf(image.runtimeVersion) ? frameworkMajorOf(image.runtimeVersion) : 4);
    process.frameworkMajor = wanted.front();
    // Without a Windows folder nothing tells which runtimes are installed.
    if (!process.folders.windows.empty()) {
        bool found = false;
        for (int major : wanted) {
            if (frameworkInstalled(platform, process, major)) {
                process.frameworkMajor = major;
                found = true;
                break;
            }
        }
        if (!found) {
            std::string installed;
            for (int major : {2, 4})
                if (frameworkInstalled(platform, process, major))
                    installed += (installed.empty() ? "found " : ", ") + std::string(frameworkFolderVersion(major));
            process.problems.push_back({ProcessProblem::Kind::frameworkMissing,
                                        std::string(frameworkTitle(wanted.front())) + " (" +
                                            frameworkFolderVersion(wanted.front()) + ")",
                                        installed.empty() ? "none installed" : installed});
        }
    }
    process.frameworkVersion = frameworkFolderVersion(process.frameworkMajor);
}

// A library of .NET 5 or later (not of .NET Framework, nor .NET Standard):
// it references the core library of those runtimes.
bool referencesCoreLibrary(const CliImage& image) {
    for (const AssemblyName& reference : image.references) {
        if (compareIgnoringCase(reference.name.c_str(), "System.Private.CoreLib") == 0) return true;
        if (compareIgnoringCase(reference.name.c_str(), "System.Runtime") == 0 && reference.version.part[0] >= 5)
            return true;
    }
    return false;
}

void setUpCore(AnalysisPlatform& platform, ManagedProcess& process, const std::string& imagePath, bool hosted) {
    process.runtime = ManagedRuntime::core;
    const std::string name = stem(pathFileName(imagePath));
    const std::string folder = pathFolder(imagePath);
    const auto readJsonFile = [&](const std::string& file, std::string& text) {
        const std::string path = platform.findEntry(folder, file);
        if (path.empty()) return false;
        bool tooLarge = false;
        if (readSmallFile(platform, path, kMaxJsonSize, text, tooLarge)) return true;
        process.problems.push_back({ProcessProblem::Kind::badConfig, file, tooLarge ? "larger than 16 MiB" : "unreadable"});
        return false;
    };
    std::string text, error;
    RuntimeConfig config;
    const std::string configName = name + ".runtimeconfig.json";
    const bool hasConfig = readJsonFile(configName, text);
    if (hasConfig && !parseRuntimeConfig(text, config, error)) {
        process.problems.push_back({ProcessProblem::Kind::badConfig, configName, error});
        config = RuntimeConfig();
    }
    if (!hasConfig && !hosted) {
        // A library scanned on its own: the newest Microsoft.NETCore.App.
        SemanticVersion any;
        config.frameworks.push_back(FrameworkReference::of("Microsoft.NETCore.App", any, RollForward::latestMajor));
    } else if (!hasConfig) {
        // The host takes a program without one for a self-contained one.
        config.selfContained = true;
        if (platform.findEntry(folder, "hostpolicy.dll").empty())
            process.problems.push_back({ProcessProblem::Kind::frameworkMissing, "the .NET runtime",
                                        "no " + configName + " and no runtime in the application's folder"});
    }
    process.selfContained = config.selfContained;
    if (!config.selfContained) resolveSharedFrameworks(platform, process, config);

    const std::string depsName = name + ".deps.json";
    text.clear();
    if (readJsonFile(depsName, text)) {
        const std::string rid = process.bits == ModuleBits::bits64 ? "win-x64" : "win-x86";
        if (parseDeps(text, rid, process.deps, error)) process.hasDeps = true;
        else process.problems.push_back({ProcessProblem::Kind::badConfig, depsName, error});
    }
}

// The file names a P/Invoke module's name stands for, in the runtime's order:
// .NET 5+ tries NAME.dll before NAME unless the name ends in .dll or .exe;
// .NET Framework hands the name to the loader as it is.
std::vector<std::string> pinvokeNames(const std::string& name, ManagedRuntime runtime) {
    if (runtime == ManagedRuntime::framework || endsWithIgnoringCase(name, ".dll") ||
        endsWithIgnoringCase(name, ".exe"))
        return {name};
    // Without an extension both forms name NAME.dll for the loader.
    if (pathFileName(name).find('.') == std::string::npos) return {name + ".dll"};
    return {name + ".dll", name};
}

// A name as the loader completes it: ".dll" when it has no extension.
std::string withLoaderExtension(const std::string& name) {
    return pathFileName(name).find('.') == std::string::npos ? name + ".dll" : name;
}

bool hasFolderPart(const std::string& name) { return name.find_first_of("\\/:") != std::string::npos; }
}  // namespace

std::string pathFolder(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string pathFileName(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool readSmallFile(AnalysisPlatform& platform, const std::string& path, std::size_t limit, std::string& out,
                   bool& tooLarge) {
    tooLarge = false;
    const std::unique_ptr<MappedFile> file = platform.mapFile(path.c_str());
    if (!file) return false;
    const ByteView bytes = file->bytes();
    if (bytes.size() > limit) {
        tooLarge = true;
        return false;
    }
    out.resize(std::size_t(bytes.size()));
    return bytes.readBytes(0, bytes.size(), &out[0]);
}

const AssemblyName* assemblyIdentity(AnalysisPlatform& platform, ManagedProcess& process, const std::string& path) {
    const auto known = process.identities.find(path);
    if (known != process.identities.end()) return known->second.get();
    std::shared_ptr<const AssemblyName> identity;
    if (const std::unique_ptr<MappedFile> file = platform.mapFile(path.c_str())) {
        const ByteView image = file->bytes();
        std::uint64_t newHeader = 0;
        if (findPeSignature(image, newHeader)) {
            CliImage cli = readCliMetadata(image, newHeader);
            if (cli.hasAssembly) identity = std::make_shared<const AssemblyName>(std::move(cli.assembly));
        }
    }
    return (process.identities[path] = identity).get();
}

std::shared_ptr<ManagedProcess> startManagedProcess(AnalysisPlatform& platform, const std::string& programPath,
                                                    const std::string& imagePath, const CliImage& image,
                                                    ModuleBits bits, bool hosted) {
    auto process = std::make_shared<ManagedProcess>();
    process->bits = bits;
    process->folders = platform.runtimeFolders();
    process->appFolder = pathFolder(programPath);
    process->programName = pathFileName(programPath);
    // .NET 5 and later: an app host's assembly, a module with its
    // runtimeconfig.json beside it (a component that a native program
    // loads, too), or a library of those runtimes scanned on its own.
    const std::string imageFolder = pathFolder(imagePath);
    const bool ownConfig =
        !platform.findEntry(imageFolder, stem(pathFileName(imagePath)) + ".runtimeconfig.json").empty();
    const bool library = programPath == imagePath && endsWithIgnoringCase(imagePath, ".dll");
    if (hosted || ownConfig || (library && referencesCoreLibrary(image))) {
        if (ownConfig) process->appFolder = imageFolder;
        setUpCore(platform, *process, imagePath, hosted || ownConfig);
    } else {
        setUpFramework(platform, *process, programPath, image);
    }
    return process;
}

ManagedReference bindAssembly(AnalysisPlatform& platform, ManagedProcess& process, const AssemblyName& wanted,
                              std::string& path) {
    path.clear();
    return process.runtime == ManagedRuntime::framework ? bindFrameworkAssembly(platform, process, wanted, path)
                                                        : bindCoreAssembly(platform, process, wanted, path);
}

std::string findPInvokeModule(AnalysisPlatform& platform, ManagedProcess& process, const std::string& name,
                              const std::string& callerPath, bool callerInCache,
                              const ActivationContext* processContext, SearchOutcome& outcome) {
    outcome = SearchOutcome();
    const std::vector<std::string> names = pinvokeNames(name, process.runtime);
    if (!hasFolderPart(name)) {
        // The folders the runtime looks in itself, before the loader's search:
        // a .NET 5+ program's native assets and its folder and frameworks',
        // then the calling assembly's own folder.
        std::vector<std::string> folders;
        if (process.runtime == ManagedRuntime::core) {
            for (const std::string& each : names) {
                const auto asset = process.deps.natives.find(lowerAscii(pathFileName(each)));
                if (asset == process.deps.natives.end()) continue;
                for (const std::string& relative : {asset->second.localPath, pathFileName(asset->second.path),
                                                    asset->second.path}) {
                    if (relative.empty()) continue;
                    std::string found = platform.findEntry(process.appFolder, relative);
                    if (!found.empty()) {
                        outcome.how = FoundBy::search;
                        return found;
                    }
                }
            }
            folders.push_back(process.appFolder);
            for (const SharedFramework& framework : process.frameworks) folders.push_back(framework.folder);
        }
        if (!callerInCache) folders.push_back(pathFolder(callerPath));
        for (const std::string& folder : folders) {
            for (const std::string& each : names) {
                std::string found = platform.findEntry(folder, withLoaderExtension(each));
                if (!found.empty()) {
                    outcome.how = FoundBy::search;
                    return found;
                }
            }
        }
    }
    // The loader's own search, for a module of the process's family.
    const Referrer referrer{process.bits, callerPath.c_str(), true, nullptr, processContext};
    for (const std::string& each : names) {
        std::string found = searchReference(platform, referrer, each.c_str(), &outcome);
        if (!found.empty()) return found;
    }
    return std::string();
}

const char* nodeRoleName(NodeRole role) {
    switch (role) {
    case NodeRole::module: return "module";
    case NodeRole::assembly: return "assembly";
    case NodeRole::pinvoke: return "pinvoke";
    case NodeRole::appAssembly: return "appAssembly";
    }
    return "module";
}

}  // namespace vost
