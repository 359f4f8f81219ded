// The record of one module found by a scan: one node of the dependency tree
// and, once the scan has handled it, one row of the module list.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "analysis/activation_context.h"
#include "analysis/managed_reference.h"
#include "analysis/module_tree.h"
#include "analysis/platform.h"

namespace vost {

class ModuleCache;
struct ModuleFacts;

struct ManagedProcess;

// A file time: 100-nanosecond intervals since 1 January 1601 UTC, low half first.
struct FileTime {
    std::uint32_t dwLowDateTime = 0;
    std::uint32_t dwHighDateTime = 0;

    std::uint64_t value() const { return (std::uint64_t(dwHighDateTime) << 32) | dwLowDateTime; }
    static FileTime fromValue(std::uint64_t v) {
        return FileTime{std::uint32_t(v), std::uint32_t(v >> 32)};
    }
};

struct ModuleNode {
    // Builds the node and, when readVersion is nonzero and the module was
    // found, reads the version texts from the file at `path`. A module whose
    // search failed (`found` false) carries the not-found text as its path,
    // which names no file: nothing is ever read for it. Texts are UTF-8 of
    // any length.
    // With `facts` (the file's, read already), the version is theirs.
    ModuleNode(AnalysisPlatform& platform, std::string path, std::string name, ModuleNode* parent,
               int readVersion, bool found = true, const ModuleFacts* facts = nullptr);

    ModuleNode(const ModuleNode&) = delete;
    ModuleNode& operator=(const ModuleNode&) = delete;

    // Sets scanned when moduleName equals (case-sensitively) that of any ancestor.
    void markIfRepeatsAncestor();

    std::int32_t scanned = 0;      // examined, or must not be examined
    std::int32_t readVersion = 0;  // version read and shown in the label
    std::string fullPath;
    std::string moduleName;
    TreeItem treeItem = nullptr;
    ModuleTree* treeWindow = nullptr;
    FileTime lastWriteTime;  // zero until the module list reads the file's time
    ModuleNode* parent = nullptr;
    std::string fileVersion;     // "a.b.c.d", empty when none was read
    std::string productVersion;
    // Named only by its referrer's delay-load directory (walks that read it).
    bool delayLoaded = false;
    // What the header reader found: the COFF machine of a PE file (0 for NE
    // and for files not read), and the family its references are searched in.
    std::uint16_t machine = 0;
    ModuleBits bits = ModuleBits::bits32;
    // False when the module search found no file: fullPath is then the
    // not-found text, and the node is never mapped, version-read or timed.
    bool found = true;
    // Set by a walk that stopped at kMaxReferencesPerModule children while
    // the file named more modules.
    bool referencesCut = false;
    // How the loader came to the file, and for a side-by-side module the
    // assembly that lists it (AssemblyIdentity::text()).
    FoundBy foundBy = FoundBy::search;
    std::string assembly;
    // The activation contexts in force for this module's own imports: the
    // process's (the root program's, passed down to every module of its
    // closure) and the module's own (a DLL's manifest). Owned by the
    // platform; null when none.
    const ActivationContext* processContext = nullptr;
    const ActivationContext* ownContext = nullptr;
    // Managed code. Why the node is in the tree; for a managed module (a CLI
    // header) its facts, null for a native one; for a node named by managed
    // metadata what was asked and how the runtime answered; and the managed
    // runtime of the process as its program set it up, passed down like
    // the process's activation context (null until managed code is met).
    NodeRole role = NodeRole::module;
    std::shared_ptr<const ManagedModule> managedModule;
    std::shared_ptr<const ManagedReference> reference;
    std::shared_ptr<ManagedProcess> managedProcess;

    // A managed module, or an assembly reference that found no file.
    bool managed() const { return managedModule || role == NodeRole::assembly || role == NodeRole::appAssembly; }

private:
    void readVersionInfo(AnalysisPlatform& platform, const ModuleFacts* facts);
};

// Owns every node of one scan. Nodes never move, so the pointers that tree
// items and list rows carry stay valid until the store is destroyed.
class NodeStore {
public:
    ModuleNode* create(AnalysisPlatform& platform, std::string path, std::string name,
                       ModuleNode* parent, int readVersion, bool found = true, const ModuleFacts* facts = nullptr) {
        nodes_.emplace_back(platform, std::move(path), std::move(name), parent, readVersion, found, facts);
        return &nodes_.back();
    }
    std::size_t size() const { return nodes_.size(); }
    // Visits every node in the order of creation.
    template <typename Visit>
    void forEach(Visit&& visit) const {
        for (const ModuleNode& node : nodes_) visit(node);
    }

private:
    std::deque<ModuleNode> nodes_;
};

// What every operation of the analysis works with during one scan.
struct ScanContext {
    AnalysisPlatform& platform;
    NodeStore& nodes;
    // Walks add the modules of the delay-load directory too.
    bool delayLoads = false;
    // The tree items of the module being walked, inserted together when its
    // walk is done (scanModule); null: each is inserted as it is found.
    std::vector<NewTreeItem>* pendingItems = nullptr;
    // The run's facts of each module file, read once for the walk and the
    // check; null: each module is read when walked.
    ModuleCache* modules = nullptr;
};

}  // namespace vost
