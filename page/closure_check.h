// Will it load? Every module of a scanned tree checked for whether it would
// load, for vostscan --check and for the page's marks alike, with what each
// module reads and each module's findings kept once per run for all the
// files scanned, whatever thread scans them.
#pragma once

#include <condition_variable>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "analysis/import_check.h"
#include "analysis/module_cache.h"
#include "page/controls.h"

namespace vost {

// A value per key, made once: the first thread to ask makes it (without the
// lock held), any other that asks meanwhile waits for it.
template <typename Value>
class OnceMap {
public:
    template <typename Make>
    const Value& get(const std::string& key, Make&& make) {
        std::unique_lock<std::mutex> lock(mutex_);
        auto [it, inserted] = entries_.try_emplace(key);
        Entry& entry = it->second;  // nodes of an unordered_map never move
        while (!inserted) {
            made_.wait(lock, [&] { return entry.value != nullptr || entry.failed; });
            if (entry.value) return *entry.value;
            // Its maker failed (out of memory): this thread tries instead.
            entry.failed = false;
            inserted = true;
        }
        lock.unlock();
        std::unique_ptr<Value> value;
        try {
            value = std::make_unique<Value>(make());
        } catch (...) {
            lock.lock();
            entry.failed = true;
            made_.notify_all();
            throw;
        }
        lock.lock();
        entry.value = std::move(value);
        made_.notify_all();
        return *entry.value;
    }

private:
    struct Entry {
        std::unique_ptr<Value> value;
        bool failed = false;
    };
    std::mutex mutex_;
    std::condition_variable made_;
    std::unordered_map<std::string, Entry> entries_;
};

// What a run's checks share: each module file's facts (the scan's own when
// the scan read them), and each module's check for one search folder (its
// findings depend on where its imports are found, and on nothing else that
// changes within a run).
class CheckCache {
public:
    explicit CheckCache(std::shared_ptr<ModuleCache> modules = std::make_shared<ModuleCache>(true))
        : modules_(std::move(modules)) {}
    ModuleCache& modules() { return *modules_; }
    const std::shared_ptr<ModuleCache>& sharedModules() const { return modules_; }
    template <typename Make>
    const ModuleCheck& moduleCheck(const std::string& key, Make&& make) {
        return checks_.get(key, make);
    }

private:
    std::shared_ptr<ModuleCache> modules_;
    OnceMap<ModuleCheck> checks_;
};

// The run's shared facts, read with one thread's platform; each file's are
// held for as long as this source lives.
class RunExports : public ExportSource {
public:
    RunExports(CheckCache& cache, AnalysisPlatform& platform) : cache_(cache), platform_(platform) {}
    const ModuleFacts& factsOf(const std::string& path) override { return *pin(path); }
    std::shared_ptr<const ModuleFacts> pin(const std::string& path) {
        std::shared_ptr<const ModuleFacts>& held = held_[path];
        if (!held) held = cache_.modules().factsOf(platform_, path);
        return held;
    }

private:
    CheckCache& cache_;
    AnalysisPlatform& platform_;
    std::unordered_map<std::string, std::shared_ptr<const ModuleFacts>> held_;
};

struct CheckedModule {
    std::string name;  // as the tree shows it
    std::string path;
    const ModuleCheck* check;  // owned by the run's CheckCache
    // Findings read from the tree: modules it shows not found under a module
    // that is no PE image, and managed code's (managed_findings.h).
    std::vector<Finding> treeFindings;
};

struct ClosureCheck {
    std::vector<CheckedModule> modules;  // in the order of the tree, each file once
    std::size_t findingCount() const;
};

// One item of a scanned tree: its node (null when unreadable) and the index
// of its parent's entry (kNoParent for the root).
constexpr std::size_t kNoParent = static_cast<std::size_t>(-1);
struct RecordedItem {
    TreeItem item;
    const ModuleNode* node;
    std::size_t parent;
};
// Every item of a tree in pre-order, as the scan's walk met them or as read
// back from the control.
using TreeRecord = std::vector<RecordedItem>;

// Reads the whole of `tree` into a record (a message per step for the real
// control: the page records its tree while the scan builds it instead).
TreeRecord recordTree(TreeControl& tree);

// Checks every module file of `tree` (only the root's with `rootOnly`), in
// the tree's order. `platform` is the scan's, with its search folder
// (`searchFolder`) still set. A module checked before in this run with the
// same search folder is not checked again (nor visited).
ClosureCheck checkClosure(const TreeRecord& tree, AnalysisPlatform& platform, CheckCache& cache,
                          const std::string& searchFolder, const CheckSettings& settings, bool rootOnly);
ClosureCheck checkClosure(TreeControl& tree, AnalysisPlatform& platform, CheckCache& cache,
                          const std::string& searchFolder, const CheckSettings& settings, bool rootOnly);

// "not-found", "other-machine", "not-an-image", "unresolved", for what
// kept an activation context from being built "missing-assembly",
// "bad-manifest" or "no-context", and the managed kinds below.
const char* findingKindText(FindingKind kind);

// A finding about an activation context rather than a reference: its module
// names an assembly (or nothing) and its reason says what went wrong.
bool isContextFinding(FindingKind kind);

// A finding about managed code ("assembly-not-found", "other-assembly",
// "framework-not-found", "bad-config", "bad-metadata"): an assembly finding
// names the reference as the runtime writes it (`assembly`), the others
// what they concern (`module`, a framework or file; empty for the module's
// own metadata), and the reason says what went wrong.
bool isManagedFinding(FindingKind kind);

// A finding's function: its name, or "#" and its ordinal.
std::string findingFunctionText(const Finding& finding);

// The findings, one line each: "KIND IMPORTER -> MODULE[!FUNCTION] (DETAIL)".
void writeCheckText(const ClosureCheck& check, std::ostream& out);

}  // namespace vost
