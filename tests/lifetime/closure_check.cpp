#include "tests/lifetime/closure_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace vost::test {

namespace {
// The module name of a label: up to " (" for children, "(" for the root.
std::string nameOf(const std::string& label) {
    return label.substr(0, label.find('('));
}
std::string trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}
}  // namespace

int treeDepth(const std::vector<FlatItem>& tree) {
    int depth = 0;
    for (const FlatItem& item : tree) depth = std::max(depth, item.depth);
    return depth;
}

void expectClosureShown(const GeneratedClosure& closure, const std::vector<FlatItem>& tree,
                        const std::vector<std::string>& listModules) {
    std::map<std::string, std::vector<std::string>> importsOf;  // upper-case names
    const auto model = [&](const GeneratedModule& module) {
        std::vector<std::string>& imports = importsOf[upperName(module.fileName)];
        for (const std::string& name : module.imports) imports.push_back(upperName(name));
        std::sort(imports.begin(), imports.end());
    };
    model(closure.root);
    for (const GeneratedModule& module : closure.modules) model(module);
    const std::string absent = upperName(closure.absentName);
    importsOf[absent];

    // The list: the root first, then every module of the closure once.
    ASSERT_EQ(listModules.size(), importsOf.size());
    EXPECT_EQ(listModules.front(), upperName(closure.root.fileName));
    std::multiset<std::string> listed(listModules.begin(), listModules.end());
    for (const auto& entry : importsOf) EXPECT_EQ(listed.count(entry.first), 1u) << entry.first;

    ASSERT_FALSE(tree.empty());
    EXPECT_EQ(tree[0].depth, 0);
    EXPECT_EQ(tree[0].label.rfind(upperName(closure.root.fileName) + "(", 0), 0u) << tree[0].label;
    // Children of each item: the items right after it one level deeper, up to
    // the next item at its own depth or above.
    std::vector<std::vector<std::string>> children(tree.size());
    std::vector<std::size_t> open;
    for (std::size_t i = 0; i < tree.size(); ++i) {
        if (i > 0) {
            ASSERT_GE(tree[i].depth, 1) << "a second top-level item: " << tree[i].label;
            ASSERT_LE(tree[i].depth, tree[i - 1].depth + 1) << tree[i].label;
        }
        open.resize(std::size_t(tree[i].depth));
        if (!open.empty()) children[open.back()].push_back(trimmed(nameOf(tree[i].label)));
        open.push_back(i);
    }
    // A module is read again only while an ancestor of the same name is still
    // being walked (its row comes after its subtree) and spelled the name
    // differently: the ancestor check compares names exactly, the list search
    // ignores case. So a repeat either has no children or the module's
    // imports under an ancestor of its name, at most once per spelling.
    std::set<std::string> seen;
    std::map<std::string, int> expansions;
    std::vector<std::string> ancestors;
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const std::string name = trimmed(nameOf(tree[i].label));
        ancestors.resize(std::size_t(tree[i].depth));
        auto known = importsOf.find(name);
        ASSERT_NE(known, importsOf.end()) << "not in the closure: " << tree[i].label;
        std::vector<std::string>& got = children[i];
        std::sort(got.begin(), got.end());
        if (seen.insert(name).second) {
            EXPECT_EQ(got, known->second) << "first occurrence of " << name;
            if (name == absent) {
                EXPECT_EQ(tree[i].label, absent + " (file not found)");
            }
        } else if (!got.empty()) {
            EXPECT_EQ(got, known->second) << "a repeat of " << name;
            EXPECT_NE(std::find(ancestors.begin(), ancestors.end(), name), ancestors.end())
                << "a repeat of " << name << " read again outside its own walk";
        }
        if (!got.empty()) {
            EXPECT_LE(++expansions[name], 3) << name;
        }
        ancestors.push_back(name);
    }
    EXPECT_EQ(seen.size(), importsOf.size());
}

}  // namespace vost::test
