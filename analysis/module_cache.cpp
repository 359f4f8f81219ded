#include "analysis/module_cache.h"

#include "analysis/module_node.h"

namespace vost {

std::shared_ptr<const ModuleFacts> ModuleCache::factsOf(AnalysisPlatform& platform, const std::string& path) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        const auto found = entries_.find(path);
        if (found == entries_.end()) break;
        if (found->second.facts) return found->second.facts;
        read_.wait(lock);  // another thread reads it
    }
    const bool keep = bytes_ < budget_;
    if (keep) entries_[path].reading = true;
    ++reads_;
    lock.unlock();

    std::shared_ptr<const ModuleFacts> facts;
    try {
        facts = std::make_shared<const ModuleFacts>(readModuleFacts(platform, path.c_str(), functions_));
    } catch (...) {
        // Out of memory: the next to ask tries again.
        lock.lock();
        if (keep) entries_.erase(path);
        read_.notify_all();
        throw;
    }
    lock.lock();
    if (keep) {
        entries_[path] = Entry{facts, false};
        bytes_ += facts->footprint();
        read_.notify_all();
    }
    return facts;
}

std::size_t ModuleCache::reads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_;
}

std::size_t ModuleCache::bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}

std::shared_ptr<const ModuleFacts> moduleFacts(ScanContext& ctx, const std::string& path) {
    if (ctx.modules) return ctx.modules->factsOf(ctx.platform, path);
    // The node has its version already.
    return std::make_shared<const ModuleFacts>(readModuleFacts(ctx.platform, path.c_str(), false, false));
}

}  // namespace vost
