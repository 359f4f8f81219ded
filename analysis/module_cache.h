// The facts of each module file read in a run (module_facts.h), read once
// and shared by every reader: the walk, the check, the Functions lists, every
// root of one vostscan process and every one of its threads. A module met
// again is not read again.
//
// The cache is bounded: past `budget` bytes of facts it keeps no more, and a
// file read after that is read again when asked again (its facts live as
// long as their last holder). A run sees each file as it was when first
// read, as the platform's caches do.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "analysis/module_facts.h"

namespace vost {

struct ScanContext;

// 512 MiB: the facts of a closure of 5,000 generated modules take about
// 20 MiB, those of the closures of all of Wine's programs about 60 MiB.
constexpr std::size_t kModuleCacheBudget = std::size_t(512) << 20;

class ModuleCache {
public:
    // With `functions`, facts hold each import's functions and the exports
    // (a run that checks or lists functions); without, names only.
    explicit ModuleCache(bool functions, std::size_t budget = kModuleCacheBudget)
        : functions_(functions), budget_(budget) {}
    ModuleCache(const ModuleCache&) = delete;
    ModuleCache& operator=(const ModuleCache&) = delete;

    // The facts of the file at `path` (a search's answer, spelled as the
    // tree's nodes hold it), read with `platform` the first time. The first
    // thread to ask reads; any other that asks meanwhile waits for it.
    std::shared_ptr<const ModuleFacts> factsOf(AnalysisPlatform& platform, const std::string& path);

    bool functions() const { return functions_; }
    // How many files were read, and the bytes of facts kept.
    std::size_t reads() const;
    std::size_t bytes() const;

private:
    struct Entry {
        std::shared_ptr<const ModuleFacts> facts;
        bool reading = false;
    };
    const bool functions_;
    const std::size_t budget_;
    mutable std::mutex mutex_;
    std::condition_variable read_;
    std::unordered_map<std::string, Entry> entries_;
    std::size_t reads_ = 0;
    std::size_t bytes_ = 0;
};

// The facts of `path` through the scan's cache, or read now when the scan
// has none.
std::shared_ptr<const ModuleFacts> moduleFacts(ScanContext& ctx, const std::string& path);

}  // namespace vost
