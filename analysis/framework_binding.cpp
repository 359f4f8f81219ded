// How .NET Framework binds an assembly reference: the application's
// configuration (binding redirects, code bases, private paths), unification
// of the framework's own assemblies with the runtime, the global assembly
// cache of the runtime, then probing the application's folder.
#include "analysis/managed_process.h"
#include "analysis/text.h"
#include "analysis/xml_reader.h"

namespace vost {

namespace {
constexpr const char* kBindingNamespace = "urn:schemas-microsoft-com:asm.v1";

// The framework's own assemblies, which the runtime unifies with its version
// (any reference of a lower version binds to the runtime's), when they carry
// one of the framework's keys.
constexpr const char* kFrameworkTokens[] = {"b77a5c561934e089", "b03f5f7f11d50a3a", "31bf3856ad364e35"};
constexpr const char* kFrameworkAssemblies[] = {
    "Accessibility", "CustomMarshalers", "Microsoft.Build.Framework", "Microsoft.CSharp", "Microsoft.JScript",
    "Microsoft.VisualBasic", "Microsoft.VisualC", "mscorlib", "PresentationCore", "PresentationFramework",
    "ReachFramework", "System", "System.Activities", "System.ComponentModel.Composition",
    "System.ComponentModel.DataAnnotations", "System.Configuration", "System.Configuration.Install", "System.Core",
    "System.Data", "System.Data.DataSetExtensions", "System.Data.Entity", "System.Data.Linq",
    "System.Data.OracleClient", "System.Data.Services", "System.Data.Services.Client", "System.Data.SqlXml",
    "System.Deployment", "System.Design", "System.DirectoryServices", "System.DirectoryServices.Protocols",
    "System.Drawing", "System.Drawing.Design", "System.EnterpriseServices", "System.IdentityModel",
    "System.IdentityModel.Selectors", "System.IO.Compression", "System.IO.Compression.FileSystem",
    "System.Management", "System.Messaging", "System.Net", "System.Net.Http", "System.Numerics",
    "System.Printing", "System.Runtime.Caching", "System.Runtime.Remoting", "System.Runtime.Serialization",
    "System.Runtime.Serialization.Formatters.Soap", "System.Security", "System.ServiceModel",
    "System.ServiceModel.Web", "System.ServiceProcess", "System.Transactions", "System.Web",
    "System.Web.ApplicationServices", "System.Web.Extensions", "System.Web.Services", "System.Windows.Forms",
    "System.Windows.Forms.DataVisualization", "System.Workflow.Activities", "System.Workflow.ComponentModel",
    "System.Workflow.Runtime", "System.Xaml", "System.Xml", "System.Xml.Linq", "UIAutomationClient",
    "UIAutomationProvider", "UIAutomationTypes", "WindowsBase",
};

bool same(const std::string& a, const std::string& b) { return compareIgnoringCase(a.c_str(), b.c_str()) == 0; }

bool frameworkAssembly(const AssemblyName& name) {
    bool token = false;
    for (const char* each : kFrameworkTokens) token = token || same(name.publicKeyToken, each);
    if (!token) return false;
    for (const char* each : kFrameworkAssemblies)
        if (same(name.name, each)) return true;
    return false;
}

// Whether an entry of the configuration that names (name, token, culture)
// and applies to the runtime `runtime` speaks of `wanted`.
bool names(const std::string& name, const std::string& token, const std::string& culture,
           const std::string& appliesTo, const AssemblyName& wanted, const std::string& runtime) {
    const std::string neutral = same(culture, "neutral") ? std::string() : culture;
    return same(name, wanted.name) && same(token, wanted.publicKeyToken) && same(neutral, wanted.culture) &&
           (appliesTo.empty() || runtime.compare(0, appliesTo.size(), appliesTo) == 0);
}

// "1.0.0.0-2.0.0.0" or one version.
bool parseRange(const std::string& text, AssemblyVersion& low, AssemblyVersion& high) {
    const std::size_t dash = text.find('-');
    if (dash == std::string::npos) return parseAssemblyVersion(text, low) && parseAssemblyVersion(text, high);
    return parseAssemblyVersion(text.substr(0, dash), low) && parseAssemblyVersion(text.substr(dash + 1), high);
}

std::string trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// A private path's folder, '/'-separated; empty when it leaves the
// application base (the runtime ignores those).
std::string privateFolder(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    while (!path.empty() && path.back() == '/') path.pop_back();
    if (path.empty() || path[0] == '/' || path.find(':') != std::string::npos) return std::string();
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (path.compare(start, end - start, "..") == 0) return std::string();
        start = end + 1;
    }
    return path;
}

// The global assembly caches a reference of `process` is looked for in,
// as folders below the Windows folder, with the form of their folder names.
struct Cache {
    const char* folder;
    bool v4Names;  // "v4.0_VERSION_CULTURE_TOKEN" rather than "VERSION_CULTURE_TOKEN"
};

std::vector<Cache> cachesOf(const ManagedProcess& process) {
    const bool wide = process.bits == ModuleBits::bits64;
    std::vector<Cache> caches;
    if (process.frameworkMajor == 4) {
        caches.push_back({wide ? "Microsoft.NET/assembly/GAC_64" : "Microsoft.NET/assembly/GAC_32", true});
        caches.push_back({"Microsoft.NET/assembly/GAC_MSIL", true});
    }
    // The 2.0 runtime's cache, which the 4 runtime reads as well.
    caches.push_back({wide ? "assembly/GAC_64" : "assembly/GAC_32", false});
    caches.push_back({"assembly/GAC_MSIL", false});
    caches.push_back({"assembly/GAC", false});
    return caches;
}

std::string cachedFile(AnalysisPlatform& platform, const ManagedProcess& process, const AssemblyName& name,
                       const AssemblyVersion& version) {
    if (process.folders.windows.empty()) return std::string();
    const std::string identity = version.text() + "_" + name.culture + "_" + lowerAscii(name.publicKeyToken);
    for (const Cache& cache : cachesOf(process)) {
        const std::string folder = std::string(cache.folder) + "/" + name.name + "/" +
                                   (cache.v4Names ? "v4.0_" : "") + identity + "/" + name.name;
        for (const char* extension : {".dll", ".exe"}) {
            std::string found = platform.findEntry(process.folders.windows, folder + extension);
            if (!found.empty()) return found;
        }
    }
    return std::string();
}

// A code base's file: a file: URL (file:///C:/dir/name.dll) or a path
// relative to the application base.
std::string codeBaseFile(AnalysisPlatform& platform, const ManagedProcess& process, std::string href) {
    for (char& c : href)
        if (c == '\\') c = '/';
    if (href.compare(0, 5, "file:") == 0 || href.compare(0, 5, "FILE:") == 0) {
        href = href.substr(5);
        while (!href.empty() && href[0] == '/') href.erase(0, 1);
        // An absolute Windows path: the platform names it as such.
        if (href.size() > 2 && href[1] == ':') {
            const std::string drive = href.substr(0, 2), rest = href.substr(3);
            return platform.findEntry(drive, rest);
        }
    }
    if (href.empty() || href.find(':') != std::string::npos) return std::string();
    return platform.findEntry(process.appFolder, href);
}

// The verdict on the file the runtime takes for `wanted` (bound to `version`).
ManagedReference judge(AnalysisPlatform& platform, ManagedProcess& process, ManagedReference result,
                       const std::string& path, const char* where) {
    const AssemblyName* found = assemblyIdentity(platform, process, path);
    result.where = where;
    if (!found) {
        result.verdict = Verdict::notAnAssembly;
        result.detail = "no assembly: " + path;
        return result;
    }
    const AssemblyName& wanted = result.wanted;
    bool matches = same(found->name, wanted.name) && same(found->culture, wanted.culture);
    // A strong name binds only to its own version and key.
    if (wanted.strong())
        matches = matches && found->version == result.bound && same(found->publicKeyToken, wanted.publicKeyToken);
    if (!matches) {
        result.verdict = Verdict::otherIdentity;
        result.detail = "found " + found->displayName() + ": " + path;
    }
    return result;
}
}  // namespace

bool parseAppConfig(const std::string& text, AppConfig& out, std::string& error) {
    AppConfig config;
    // The children of a <dependentAssembly> name the assembly its first
    // <assemblyIdentity> gives.
    struct Dependent {
        std::string name, token, culture, appliesTo;
    } dependent;
    std::string appliesTo;
    const auto open = [&](const std::vector<XmlElement>& path) {
        const XmlElement& element = path.back();
        const auto attribute = [&](const char* name) {
            const std::string* value = element.attribute(name);
            return value ? trim(*value) : std::string();
        };
        if (path.size() == 3 && path[0].name == "configuration" && path[1].name == "startup" &&
            (element.name == "supportedRuntime" || element.name == "requiredRuntime")) {
            if (!attribute("version").empty()) config.supportedRuntimes.push_back(attribute("version"));
            return;
        }
        // Binding settings count only in their namespace, as the runtime reads them.
        if (path.size() < 3 || path[0].name != "configuration" || path[1].name != "runtime" ||
            path[2].name != "assemblyBinding" || path[2].space != kBindingNamespace)
            return;
        if (path.size() == 3) {
            const std::string* applies = element.attribute("appliesTo");
            appliesTo = applies ? trim(*applies) : std::string();
        } else if (path.size() == 4 && element.name == "probing") {
            const std::string paths = attribute("privatePath");
            for (std::size_t start = 0; start <= paths.size();) {
                const std::size_t end = std::min(paths.find(';', start), paths.size());
                const std::string folder = privateFolder(trim(paths.substr(start, end - start)));
                if (!folder.empty()) config.privatePaths.push_back(folder);
                start = end + 1;
            }
        } else if (path.size() == 4 && element.name == "dependentAssembly") {
            dependent = Dependent{};
            dependent.appliesTo = appliesTo;
        } else if (path.size() == 5 && path[3].name == "dependentAssembly") {
            if (element.name == "assemblyIdentity" && dependent.name.empty()) {
                dependent.name = attribute("name");
                dependent.token = attribute("publicKeyToken");
                dependent.culture = attribute("culture");
            } else if (element.name == "bindingRedirect" && !dependent.name.empty()) {
                ConfigRedirect redirect{dependent.name, dependent.token, dependent.culture, dependent.appliesTo, {}, {}, {}};
                if (parseRange(attribute("oldVersion"), redirect.low, redirect.high) &&
                    parseAssemblyVersion(attribute("newVersion"), redirect.target))
                    config.redirects.push_back(redirect);
            } else if (element.name == "codeBase" && !dependent.name.empty()) {
                ConfigCodeBase codeBase{dependent.name, dependent.token, dependent.culture, dependent.appliesTo, {},
                                  attribute("href")};
                if (parseAssemblyVersion(attribute("version"), codeBase.version) && !codeBase.href.empty())
                    config.codeBases.push_back(codeBase);
            }
        }
    };
    if (!readXml(text, open, error)) return false;
    out = std::move(config);
    return true;
}

ManagedReference bindFrameworkAssembly(AnalysisPlatform& platform, ManagedProcess& process, const AssemblyName& wanted,
                                       std::string& path) {
    ManagedReference result;
    result.wanted = wanted;
    result.bound = wanted.version;
    const std::string& runtime = process.frameworkVersion;

    // Policy: a binding redirect of the configuration (which cancels the
    // unification for its assembly), else unification of the framework's
    // assemblies of a lower version with the runtime's.
    bool redirected = false;
    if (wanted.strong()) {
        for (const ConfigRedirect& redirect : process.config.redirects) {
            if (!names(redirect.name, redirect.token, redirect.culture, redirect.appliesTo, wanted, runtime)) continue;
            redirected = true;
            if (!(wanted.version < redirect.low) && !(redirect.high < wanted.version)) {
                result.bound = redirect.target;
                result.policy = "bindingRedirect";
                break;
            }
        }
        if (!redirected && frameworkAssembly(wanted)) {
            AssemblyVersion unified;
            unified.part[0] = std::uint16_t(process.frameworkMajor);
            const bool older = process.frameworkMajor == 2 ? wanted.version.part[0] < 2 : wanted.version < unified;
            if (older || same(wanted.name, "mscorlib")) {
                if (!(result.bound == unified)) result.policy = "unification";
                result.bound = unified;
            }
        }
        // The global assembly cache, for strong names only.
        path = cachedFile(platform, process, wanted, result.bound);
        if (!path.empty()) {
            result.where = "global assembly cache";
            return result;
        }
    }

    // A code base of the configuration for this version: there or nowhere.
    for (const ConfigCodeBase& codeBase : process.config.codeBases) {
        if (!names(codeBase.name, codeBase.token, codeBase.culture, codeBase.appliesTo, wanted, runtime) ||
            !(codeBase.version == result.bound))
            continue;
        path = codeBaseFile(platform, process, codeBase.href);
        if (path.empty()) {
            result.verdict = Verdict::notFound;
            result.detail = "no file at its codeBase " + codeBase.href;
            return result;
        }
        return judge(platform, process, result, path, "codeBase");
    }

    // Probing the application base: NAME.dll, NAME/NAME.dll, then the same
    // under each private path (all below the culture's folder for an
    // assembly of a culture), then all again with .exe. The first file found
    // decides: another version of a strong name there fails the load.
    std::vector<std::string> bases{""};
    for (const std::string& folder : process.config.privatePaths) bases.push_back(folder + "/");
    const std::string culture = wanted.culture.empty() ? std::string() : wanted.culture + "/";
    for (const char* extension : {".dll", ".exe"}) {
        for (const std::string& base : bases) {
            for (const std::string& relative : {base + culture + wanted.name + extension,
                                                base + culture + wanted.name + "/" + wanted.name + extension}) {
                path = platform.findEntry(process.appFolder, relative);
                if (!path.empty()) return judge(platform, process, result, path, "application folder");
            }
        }
    }
    result.verdict = Verdict::notFound;
    result.detail = wanted.strong() ? (process.folders.windows.empty()
                                           ? "not in the application's folder (no global assembly cache given)"
                                           : "not in the global assembly cache nor the application's folder")
                                    : "not in the application's folder";
    return result;
}

}  // namespace vost
