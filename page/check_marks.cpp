#include "page/check_marks.h"

#include <sstream>
#include <unordered_set>

#include "analysis/scan_module.h"
#include "analysis/text.h"

namespace vost {

namespace {

std::string upper(std::string text) {
    for (char& c : text) c = asciiUpper(c);
    return text;
}

// "32-bit" or "64-bit" for the machines people know by their width, else the
// machine's name.
std::string widthText(std::uint16_t machine) {
    switch (machine) {
    case 0x014C: case 0x01C0: case 0x01C4: return "32-bit";
    case 0x8664: case 0xAA64: case 0x0200: return "64-bit";
    default: return machineName(machine);
    }
}

// The tip lines of one failing reference: what its importer's check found
// about it, the missing functions of a module on one line.
std::vector<std::string> referenceLines(const std::vector<const Finding*>& findings, std::uint16_t importer,
                                        bool found) {
    std::vector<std::string> lines;
    std::string missing;
    std::string missingModule;
    for (const Finding* f : findings) {
        switch (f->kind) {
        case FindingKind::notFound:
            lines.push_back(f->pinvoke ? "P/Invoke module not found (its first call fails)" : "not found");
            break;
        case FindingKind::assemblyNotFound: lines.push_back("Assembly not found: " + f->reason); break;
        case FindingKind::otherAssembly: lines.push_back("Not the assembly asked for: " + f->reason); break;
        case FindingKind::otherMachine: {
            std::string module = widthText(f->machine), by = widthText(importer);
            // Two machines of one width are told apart by name.
            if (module == by) module = machineName(f->machine), by = machineName(importer);
            lines.push_back(module + " module, " + by + " importer");
            break;
        }
        case FindingKind::notAnImage: lines.push_back("not a PE image: " + f->path); break;
        case FindingKind::unresolved:
            missing += (missing.empty() ? "" : ", ") + findingFunctionText(*f);
            if (f->reason != "not exported") missing += " (" + f->reason + ")";
            missingModule = f->module;
            break;
        // What kept an activation context from being built concerns the
        // module whose manifest it is, not one of its references.
        case FindingKind::missingAssembly:
        case FindingKind::badManifest:
        case FindingKind::noContext:
        case FindingKind::frameworkMissing:
        case FindingKind::badConfig:
        case FindingKind::badMetadata: break;
        }
    }
    if (!missing.empty()) lines.push_back("Missing in " + upper(missingModule) + ": " + missing);
    if (lines.empty() && !found) lines.push_back("not found");
    return lines;
}

// The tip lines of what kept the module's own activation context (a DLL's) or
// the process's (the program's) from being built: the program that cannot
// start, or the DLL whose manifest fails, carries them.
std::vector<std::string> contextLines(const CheckedModule& module) {
    std::vector<std::string> lines;
    for (const auto* list : {&module.check->findings, &module.treeFindings}) {
        for (const Finding& f : *list) {
            const std::string detail = f.reason.empty() ? std::string() : " (" + f.reason + ")";
            switch (f.kind) {
            case FindingKind::missingAssembly: lines.push_back("Missing assembly " + f.module + detail); break;
            case FindingKind::badManifest: lines.push_back("Unreadable manifest" + detail); break;
            case FindingKind::noContext:
                lines.push_back("Manifest refused" + (f.module.empty() ? std::string() : " " + f.module) + detail);
                break;
            // What keeps the program's runtime from starting, on the program.
            case FindingKind::frameworkMissing: lines.push_back("needs " + f.module + ", " + f.reason); break;
            case FindingKind::badConfig: lines.push_back("Unreadable " + f.module + detail); break;
            case FindingKind::badMetadata: lines.push_back("Unreadable metadata" + detail); break;
            default: break;
            }
        }
    }
    return lines;
}

// The tip of a managed item that loads: how its process's runtime bound it.
std::string managedLine(const ModuleNode& node) {
    if (const ManagedReference* reference = node.reference.get()) {
        std::string line = "Managed: " + reference->wanted.displayName();
        std::string how = reference->where;
        if (!reference->policy.empty()) how += (how.empty() ? "" : ", ") + reference->policy + " to " + reference->bound.text();
        return how.empty() ? line : line + " (" + how + ")";
    }
    const ManagedModule* module = node.managedModule.get();
    std::string line = "Managed";
    if (module && !module->assembly.empty()) line += ": " + module->assembly;
    if (module && !module->runtimeVersion.empty()) line += " (runtime " + module->runtimeVersion + ")";
    return line;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\r\n") + line;
    return text;
}

}  // namespace

Tip cutTip(std::string text) {
    std::size_t end = text.size() < kTipCharacters ? text.size() : kTipCharacters;
    std::size_t lines = 1;
    for (std::size_t i = 0; i + 1 < end; ++i)
        if (text[i] == '\r' && text[i + 1] == '\n' && ++lines > kTipLines) end = i;
    if (end == text.size()) return Tip{std::move(text), false};
    // Back to the last whole line or list entry, unless that loses most of it.
    const std::size_t line = text.rfind("\r\n", end);
    const std::size_t entry = text.rfind(", ", end);
    std::size_t at = end;
    if (line != std::string::npos && line + 2 >= end) at = line;
    else if (entry != std::string::npos && entry > end / 2) at = entry;
    else if (line != std::string::npos && line > end / 2) at = line;
    text.resize(at);
    return Tip{std::move(text), true};
}

const Tip* CheckMarks::itemTip(TreeItem item) const {
    const auto found = itemIndex_.find(item);
    return found == itemIndex_.end() ? nullptr : &items[found->second].tip;
}

const Tip* CheckMarks::rowTip(const std::string& module) const {
    const auto found = rowIndex_.find(lowerAscii(module));
    return found == rowIndex_.end() ? nullptr : &rows[found->second].tip;
}

void CheckMarks::index() {
    itemIndex_.clear();
    rowIndex_.clear();
    for (std::size_t i = 0; i < items.size(); ++i) itemIndex_.emplace(items[i].item, i);
    for (std::size_t i = 0; i < rows.size(); ++i) rowIndex_.emplace(lowerAscii(rows[i].module), i);
}

CheckMarks markCheckedTree(const TreeRecord& tree, const ClosureCheck& check) {
    CheckMarks marks;
    marks.findingCount = check.findingCount();
    std::ostringstream problems;
    writeCheckText(check, problems);
    for (char c : problems.str()) marks.problems += c == '\n' ? std::string("\r\n") : std::string(1, c);

    std::unordered_map<std::string, const CheckedModule*> byPath;
    for (const CheckedModule& m : check.modules) byPath.emplace(m.path, &m);

    // Each item's own lines (empty unless it fails): its reference's, as its
    // importer's check found them, and its module's context's; and how many
    // failing items lie below it.
    std::vector<std::vector<std::string>> own(tree.size()), context(tree.size());
    std::vector<std::size_t> below(tree.size(), 0);
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const RecordedItem& entry = tree[i];
        if (!entry.node || entry.node->delayLoaded) continue;
        const auto checked = byPath.find(entry.node->fullPath);
        if (checked != byPath.end()) context[i] = contextLines(*checked->second);
        if (entry.parent == kNoParent) continue;
        const ModuleNode* parent = tree[entry.parent].node;
        const auto importer = parent ? byPath.find(parent->fullPath) : byPath.end();
        std::vector<const Finding*> findings;
        if (importer != byPath.end()) {
            const CheckedModule& m = *importer->second;
            for (const auto* list : {&m.check->findings, &m.treeFindings})
                for (const Finding& f : *list)
                    if (!f.delayLoad && compareIgnoringCase(f.module.c_str(), entry.node->moduleName.c_str()) == 0)
                        findings.push_back(&f);
        }
        if (findings.empty() && entry.node->found) continue;
        own[i] = referenceLines(findings, importer != byPath.end() ? importer->second->check->machine : 0,
                                entry.node->found);
    }
    // Children follow their parents: counted from the end, each count is
    // complete before it is added to its parent's.
    for (std::size_t i = tree.size(); i-- > 0;)
        if (tree[i].parent != kNoParent)
            below[tree[i].parent] += below[i] + (own[i].empty() && context[i].empty() ? 0 : 1);

    std::unordered_map<std::string, std::size_t> rowOf;  // lower-cased module name -> index in marks.rows
    std::vector<std::unordered_set<std::string>> rowLines;
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const bool fails = !own[i].empty() || !context[i].empty();
        const bool managed = tree[i].node && tree[i].node->managed();
        if (!fails && below[i] == 0 && !managed) continue;
        std::vector<std::string> lines = own[i];
        lines.insert(lines.end(), context[i].begin(), context[i].end());
        if (below[i] != 0)
            lines.push_back(std::to_string(below[i]) + (below[i] == 1 ? " reference" : " references") +
                            " below will not load");
        if (managed && !fails) lines.insert(lines.begin(), managedLine(*tree[i].node));
        int image = fails ? kWillNotLoadImage : below[i] ? kBelowWillNotLoadImage : 0;
        if (managed) image = image ? image - kWillNotLoadImage + kManagedWillNotLoadImage : kManagedImage;
        marks.items.push_back(ItemMark{tree[i].item, image, cutTip(joinLines(lines))});
        if (!fails && !managed) continue;

        // The module's row: each importer's lines once, after its name; a
        // managed module's row carries the managed mark.
        const ModuleNode& node = *tree[i].node;
        const std::string key = lowerAscii(node.moduleName);
        const auto emplaced = rowOf.emplace(key, marks.rows.size());
        const std::size_t row = emplaced.first->second;
        if (emplaced.second) {
            marks.rows.push_back(RowMark{upper(node.moduleName), Tip{}, managed ? kManagedImage : kWillNotLoadImage});
            rowLines.emplace_back();
        }
        if (fails) marks.rows[row].image = managed ? kManagedWillNotLoadImage : kWillNotLoadImage;
        if (!fails) {
            if (rowLines[row].empty() && marks.rows[row].tip.text.empty()) marks.rows[row].tip.text = managedLine(node);
            continue;
        }
        if (rowLines[row].empty()) marks.rows[row].tip.text.clear();
        const ModuleNode* parent = tree[i].parent == kNoParent ? nullptr : tree[tree[i].parent].node;
        const std::string by = parent ? upper(parent->moduleName) + ": " : std::string();
        const auto addLine = [&](const std::string& line) {
            if (rowLines[row].insert(line).second)
                marks.rows[row].tip.text += (marks.rows[row].tip.text.empty() ? "" : "\r\n") + line;
        };
        for (const std::string& line : own[i]) addLine(by + line);
        for (const std::string& line : context[i]) addLine(line);
    }
    for (RowMark& row : marks.rows) row.tip = cutTip(std::move(row.tip.text));
    marks.index();
    return marks;
}

}  // namespace vost
