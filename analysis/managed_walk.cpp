// The managed part of the PE walk: a managed module's assemblies and
// P/Invoke modules as children, bound by the runtime of its process.
#include <unordered_set>

#include "analysis/cli_metadata.h"
#include "analysis/module_cache.h"
#include "analysis/managed_process.h"
#include "analysis/pe_headers.h"
#include "analysis/scan_module.h"
#include "analysis/text.h"

namespace vost {

namespace {
bool endsWithIgnoringCase(const std::string& text, const char* suffix) {
    const std::size_t length = std::char_traits<char>::length(suffix);
    return text.size() >= length && compareIgnoringCase(text.c_str() + text.size() - length, suffix) == 0;
}

const ModuleNode& rootOf(const ModuleNode& node) {
    const ModuleNode* root = &node;
    while (root->parent) root = root->parent;
    return *root;
}

// The family of the process a managed program starts: a PE32+ image's is
// 64-bit; an IL-only PE32 image that does not ask for 32 bits runs as a
// 64-bit process on 64-bit Windows; every other one as a 32-bit process.
ModuleBits processBits(AnalysisPlatform& platform, const ModuleNode& node, const CliImage& image) {
    if (node.bits == ModuleBits::bits64) return ModuleBits::bits64;
    if (image.ilOnly() && !(image.flags & kClr32BitRequired) && platform.runtimeFolders().windows64)
        return ModuleBits::bits64;
    return ModuleBits::bits32;
}

std::string stemOf(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// A .NET app host (app.exe, a native program) starts app.dll beside it: a
// managed image with the app's app.runtimeconfig.json or app.deps.json.
std::string appHostAssembly(ScanContext& ctx, const ModuleNode& node) {
    AnalysisPlatform& platform = ctx.platform;
    if (node.parent || !endsWithIgnoringCase(node.fullPath, ".exe")) return std::string();
    const std::string folder = pathFolder(node.fullPath);
    const std::string name = stemOf(pathFileName(node.fullPath));
    if (platform.findEntry(folder, name + ".runtimeconfig.json").empty() &&
        platform.findEntry(folder, name + ".deps.json").empty())
        return std::string();
    std::string assembly = platform.findEntry(folder, name + ".dll");
    if (assembly.empty()) return std::string();
    // Read as the walk will read it: once, through the run's cache.
    const std::shared_ptr<const ModuleFacts> facts = moduleFacts(ctx, assembly);
    return facts->cli ? assembly : std::string();
}

std::string boundLabel(const ManagedReference& reference) {
    std::string label = reference.wanted.name + ", " + reference.wanted.version.text();
    if (!(reference.bound == reference.wanted.version)) label += " -> " + reference.bound.text();
    return label;
}
}  // namespace

ManagedWalk walkManagedReferences(ScanContext& ctx, ModuleNode& node, const CliImage* image, int& children) {
    ManagedWalk walk;
    AnalysisPlatform& platform = ctx.platform;
    if (!image) {
        const std::string assembly = appHostAssembly(ctx, node);
        if (assembly.empty() || children >= kMaxReferencesPerModule) return walk;
        SearchOutcome outcome;
        outcome.how = FoundBy::runtime;
        std::string label = pathFileName(assembly);
        for (char& c : label) c = asciiUpper(c);
        addFoundDependency(ctx, node, pathFileName(assembly), label, assembly, outcome, 1)->role = NodeRole::appAssembly;
        ++children;
        walk.walked = 1;
        return walk;
    }

    const CliImage& cli = *image;
    auto facts = std::make_shared<ManagedModule>();
    facts->runtimeVersion = cli.runtimeVersion;
    facts->ilOnly = cli.ilOnly();
    if (cli.hasAssembly) facts->assembly = cli.assembly.displayName();
    facts->problems = cli.problems;
    node.managedModule = facts;
    // The runtime maps the assemblies it loads itself: an IL-only one's
    // import table is never bound. A mixed-mode one (C++/CLI) is loaded by
    // the system's loader, imports and all; so is every managed program.
    walk.skipNativeImports = cli.ilOnly() && (node.role == NodeRole::assembly || node.role == NodeRole::appAssembly);

    if (!node.managedProcess) {
        // The first managed module met sets up the runtime: the program
        // itself, the app host's assembly, or a managed DLL that a native
        // program loads (whose process is the native program's).
        const bool program = !node.parent || node.role == NodeRole::appAssembly;
        const ModuleNode& root = rootOf(node);
        const ModuleBits bits = !node.parent ? processBits(platform, node, cli) : root.bits;
        node.managedProcess = startManagedProcess(platform, program ? node.fullPath : root.fullPath, node.fullPath,
                                                  cli, bits, node.role == NodeRole::appAssembly);
        node.managedProcess->owner = &node;
    }
    ManagedProcess& process = *node.managedProcess;

    for (const AssemblyName& wanted : cli.references) {
        if (children >= kMaxReferencesPerModule) {
            node.referencesCut = true;
            break;
        }
        std::string path;
        auto reference = std::make_shared<ManagedReference>(bindAssembly(platform, process, wanted, path));
        SearchOutcome outcome;
        outcome.how = FoundBy::runtime;
        const std::string name = path.empty() ? wanted.name + ".dll" : pathFileName(path);
        ModuleNode* child = addFoundDependency(ctx, node, name, boundLabel(*reference), path, outcome, 1);
        child->role = NodeRole::assembly;
        child->reference = std::move(reference);
        ++children;
        walk.walked = 1;
    }

    // Rows naming one module in other spellings ("kernel32", "KERNEL32.dll")
    // give one child: the loader loads one module for them all.
    std::unordered_set<std::string> called;
    const bool inCache = node.reference && node.reference->where == "global assembly cache";
    for (const PInvokeModule& module : cli.pinvokes) {
        std::string key = lowerAscii(module.name);
        if (pathFileName(key).find('.') == std::string::npos) key += ".dll";
        if (!called.insert(key).second) continue;
        if (children >= kMaxReferencesPerModule) {
            node.referencesCut = true;
            break;
        }
        SearchOutcome outcome;
        std::string path =
            findPInvokeModule(platform, process, module.name, node.fullPath, inCache, node.processContext, outcome);
        std::string label = module.name;
        for (char& c : label) c = asciiUpper(c);
        auto reference = std::make_shared<ManagedReference>();
        reference->wanted.name = module.name;
        if (path.empty()) {
            reference->verdict = Verdict::notFound;
            reference->detail = "P/Invoke module not found";
        }
        ModuleNode* child = addFoundDependency(ctx, node, module.name, label, std::move(path), outcome, 1);
        child->role = NodeRole::pinvoke;
        child->reference = std::move(reference);
        ++children;
        walk.walked = 1;
    }
    if (cli.cut) node.referencesCut = true;
    return walk;
}

}  // namespace vost
