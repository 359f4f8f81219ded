#include "page/managed_findings.h"

#include <unordered_set>

#include "analysis/managed_process.h"
#include "analysis/text.h"

namespace vost {

bool importsUnbound(const ModuleNode& node) {
    return (node.role == NodeRole::assembly || node.role == NodeRole::appAssembly) && node.managedModule &&
           node.managedModule->ilOnly;
}

std::vector<Finding> managedFindings(const TreeRecord& tree, std::size_t index) {
    std::vector<Finding> findings;
    const ModuleNode* node = tree[index].node;
    if (!node) return findings;
    if (node->managedProcess && node->managedProcess->owner == node) {
        for (const ProcessProblem& problem : node->managedProcess->problems) {
            Finding finding;
            finding.kind = problem.kind == ProcessProblem::Kind::frameworkMissing ? FindingKind::frameworkMissing
                                                                                  : FindingKind::badConfig;
            finding.module = problem.subject;
            finding.reason = problem.detail;
            findings.push_back(std::move(finding));
        }
    }
    if (node->managedModule && !node->managedModule->problems.empty()) {
        Finding finding;
        finding.kind = FindingKind::badMetadata;
        for (const std::string& problem : node->managedModule->problems)
            finding.reason += (finding.reason.empty() ? "" : "; ") + problem;
        findings.push_back(std::move(finding));
    }
    // Its children follow it, each subtree whole, until the first item that
    // is not below it.
    std::unordered_set<std::string> given;
    for (std::size_t i = index + 1; i < tree.size() && tree[i].parent != kNoParent && tree[i].parent >= index; ++i) {
        const ModuleNode* child = tree[i].node;
        if (tree[i].parent != index || !child || !child->reference || child->reference->verdict == Verdict::loads)
            continue;
        const ManagedReference& reference = *child->reference;
        Finding finding;
        finding.module = child->moduleName;
        if (child->role == NodeRole::pinvoke) {
            finding.kind = FindingKind::notFound;
            finding.pinvoke = true;
        } else {
            finding.kind =
                reference.verdict == Verdict::notFound ? FindingKind::assemblyNotFound : FindingKind::otherAssembly;
            finding.assembly = reference.wanted.displayName();
            finding.reason = reference.detail;
            if (!reference.policy.empty())
                finding.reason += " (" + reference.policy + " to " + reference.bound.text() + ")";
        }
        if (child->found) finding.path = child->fullPath;
        if (given.insert(std::to_string(int(finding.kind)) + lowerAscii(finding.module) + finding.assembly).second)
            findings.push_back(std::move(finding));
    }
    return findings;
}

}  // namespace vost
