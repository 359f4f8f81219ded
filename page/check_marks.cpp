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

std::unordered_set<std::string> delayLoadedModules(const NodeStore& nodes) {
    std::unordered_set<std::string> delayed, imported;
    nodes.forEach([&](const ModuleNode& node) {
        (node.delayLoaded ? delayed : imported).insert(lowerAscii(node.moduleName));
    });
    for (const std::string& name : imported) delayed.erase(name);
    return delayed;
}

namespace {
// A module loaded only when the program first calls it: a delay-loaded one,
// or a P/Invoke module, which the runtime loads on the first call.
bool loadedOnFirstUse(const ModuleNode& node) { return node.delayLoaded || node.role == NodeRole::pinvoke; }

// The modules (lower-cased names) the program loads as it starts: the root,
// and what any of them imports, delay-loads left out. A module's references
// hang under its first examined occurrence only, so the walk goes by name.
std::unordered_set<std::string> loadedAtStart(const TreeRecord& tree) {
    std::unordered_map<std::string, std::vector<std::string>> imports;
    for (const RecordedItem& entry : tree)
        if (entry.parent != kNoParent && entry.node && !loadedOnFirstUse(*entry.node) && tree[entry.parent].node)
            imports[lowerAscii(tree[entry.parent].node->moduleName)].push_back(lowerAscii(entry.node->moduleName));
    std::unordered_set<std::string> loaded;
    std::vector<std::string> next;
    if (!tree.empty() && tree[0].node) next.push_back(lowerAscii(tree[0].node->moduleName));
    while (!next.empty()) {
        std::string module = std::move(next.back());
        next.pop_back();
        if (!loaded.insert(module).second) continue;
        const auto found = imports.find(module);
        if (found != imports.end()) next.insert(next.end(), found->second.begin(), found->second.end());
    }
    return loaded;
}

// What one item says: its failing reference's lines at start-up and on
// first use (already worded as such), its module's context's, and how many
// failing items of each kind lie below it.
struct ItemVerdict {
    std::vector<std::string> atStart, onFirstUse, context;
    std::size_t belowAtStart = 0, belowOnFirstUse = 0;
    bool failsAtStart() const { return !atStart.empty() || !context.empty(); }
    bool fails() const { return failsAtStart() || !onFirstUse.empty(); }
};

void prefixed(std::vector<std::string>& to, const std::vector<std::string>& lines, const char* prefix) {
    for (const std::string& line : lines) to.push_back(prefix + line);
}

std::string countText(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + (count == 1 ? " reference below " : " references below ") + (count == 1 ? one : many);
}
}  // namespace

CheckMarks markCheckedTree(const TreeRecord& tree, const ClosureCheck& check) {
    CheckMarks marks;
    marks.findingCount = check.findingCount();
    std::ostringstream problems;
    writeCheckText(check, problems);
    for (char c : problems.str()) marks.problems += c == '\n' ? std::string("\r\n") : std::string(1, c);

    std::unordered_map<std::string, const CheckedModule*> byPath;
    for (const CheckedModule& m : check.modules) byPath.emplace(m.path, &m);
    const std::unordered_set<std::string> atStart = loadedAtStart(tree);

    // Each item's own verdict: its reference's lines, as its importer's check
    // found them, and its module's context's.
    std::vector<ItemVerdict> verdicts(tree.size());
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const RecordedItem& entry = tree[i];
        if (!entry.node) continue;
        ItemVerdict& verdict = verdicts[i];
        const ModuleNode* parent = entry.parent == kNoParent ? nullptr : tree[entry.parent].node;
        // Loaded as the program starts: the root, and what a module loaded at
        // start imports.
        const bool startUp = !parent || (!loadedOnFirstUse(*entry.node) && atStart.count(lowerAscii(parent->moduleName)));
        const auto checked = byPath.find(entry.node->fullPath);
        if (checked != byPath.end()) {
            std::vector<std::string> lines = contextLines(*checked->second);
            if (startUp) verdict.context = std::move(lines);
            else prefixed(verdict.onFirstUse, lines, "fails on first use: ");
        }
        if (!parent) continue;
        const auto importer = byPath.find(parent->fullPath);
        std::vector<const Finding*> imported, delayed;
        if (importer != byPath.end()) {
            const CheckedModule& m = *importer->second;
            for (const auto* list : {&m.check->findings, &m.treeFindings})
                for (const Finding& f : *list)
                    if (compareIgnoringCase(f.module.c_str(), entry.node->moduleName.c_str()) == 0)
                        (f.delayLoad ? delayed : imported).push_back(&f);
        }
        // A module both imported and delay-loaded is shown once, as imported:
        // the delay-load's findings about it then concern the functions only
        // the delay-load names.
        if (entry.node->delayLoaded) imported.swap(delayed);
        const std::uint16_t machine = importer != byPath.end() ? importer->second->check->machine : 0;
        if (!imported.empty() || !entry.node->found) {
            const std::vector<std::string> lines = referenceLines(imported, machine, entry.node->found);
            if (entry.node->delayLoaded) prefixed(verdict.onFirstUse, lines, "delay-loaded: fails on first use: ");
            else if (entry.node->role == NodeRole::pinvoke) prefixed(verdict.onFirstUse, lines, "");
            else if (startUp) verdict.atStart = lines;
            else prefixed(verdict.onFirstUse, lines, "fails on first use: ");
        }
        if (!delayed.empty())
            prefixed(verdict.onFirstUse, referenceLines(delayed, machine, true), "delay-loaded: fails on first use: ");
    }
    // Children follow their parents: counted from the end, each count is
    // complete before it is added to its parent's.
    for (std::size_t i = tree.size(); i-- > 0;) {
        if (tree[i].parent == kNoParent) continue;
        ItemVerdict& parent = verdicts[tree[i].parent];
        const ItemVerdict& own = verdicts[i];
        parent.belowAtStart += own.belowAtStart + (own.failsAtStart() ? 1 : 0);
        parent.belowOnFirstUse += own.belowOnFirstUse + (own.fails() && !own.failsAtStart() ? 1 : 0);
    }

    std::unordered_map<std::string, std::size_t> rowOf;  // lower-cased module name -> index in marks.rows
    std::vector<std::unordered_set<std::string>> rowLines;
    const auto rowFor = [&](const ModuleNode& node, int image) -> std::size_t {
        const auto emplaced = rowOf.emplace(lowerAscii(node.moduleName), marks.rows.size());
        const std::size_t row = emplaced.first->second;
        if (emplaced.second) {
            marks.rows.push_back(RowMark{upper(node.moduleName), image, Tip{}});
            rowLines.emplace_back();
        } else if (image == kWillNotLoadImage || image == kManagedWillNotLoadImage ||
                   marks.rows[row].image == kDelayLoadedImage || marks.rows[row].image == kManagedImage) {
            marks.rows[row].image = image;  // a failure at start-up says most
        }
        return row;
    };
    const auto addLine = [&](std::size_t row, const std::string& line) {
        if (rowLines[row].insert(line).second)
            marks.rows[row].tip.text += (marks.rows[row].tip.text.empty() ? "" : "\r\n") + line;
    };
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const ItemVerdict& verdict = verdicts[i];
        const ModuleNode* node = tree[i].node;
        const bool delayed = node && node->delayLoaded;
        const bool managed = node && node->managed();
        if (!verdict.fails() && verdict.belowAtStart == 0 && verdict.belowOnFirstUse == 0 && !delayed && !managed)
            continue;
        std::vector<std::string> lines = verdict.atStart;
        lines.insert(lines.end(), verdict.context.begin(), verdict.context.end());
        lines.insert(lines.end(), verdict.onFirstUse.begin(), verdict.onFirstUse.end());
        if (verdict.belowAtStart) lines.push_back(countText(verdict.belowAtStart, "will not load", "will not load"));
        if (verdict.belowOnFirstUse)
            lines.push_back(countText(verdict.belowOnFirstUse, "fails on first use", "fail on first use"));
        if (delayed && !verdict.fails()) lines.insert(lines.begin(), "delay-loaded: loaded on first use");
        if (managed && !verdict.fails()) lines.insert(lines.begin(), managedLine(*node));
        // A managed item (a managed module, an assembly reference) shows the
        // managed forms of the start-up marks.
        const int image = verdict.failsAtStart()     ? (managed ? kManagedWillNotLoadImage : kWillNotLoadImage)
                          : verdict.fails()          ? kFailsOnFirstUseImage
                          : verdict.belowAtStart     ? (managed ? kManagedBelowWillNotLoadImage : kBelowWillNotLoadImage)
                          : verdict.belowOnFirstUse  ? kBelowFailsOnFirstUseImage
                          : delayed                  ? kDelayLoadedImage
                                                     : kManagedImage;
        marks.items.push_back(ItemMark{tree[i].item, image, cutTip(joinLines(lines))});
        if (!verdict.fails()) {
            // A managed module's row carries the managed mark and how it was bound.
            if (managed) {
                const std::size_t row = rowFor(*node, kManagedImage);
                if (marks.rows[row].image == kManagedImage && marks.rows[row].tip.text.empty())
                    addLine(row, managedLine(*node));
            }
            continue;
        }

        // The module's row: each importer's lines once, after its name.
        const std::size_t row = rowFor(*node, verdict.failsAtStart()
                                                  ? (managed ? kManagedWillNotLoadImage : kWillNotLoadImage)
                                                  : kFailsOnFirstUseImage);
        // A row that failed drops the managed line it may have had.
        if (rowLines[row].size() == 1 && marks.rows[row].tip.text == managedLine(*node)) {
            rowLines[row].clear();
            marks.rows[row].tip.text.clear();
        }
        const ModuleNode* parent = tree[i].parent == kNoParent ? nullptr : tree[tree[i].parent].node;
        const std::string by = parent ? upper(parent->moduleName) + ": " : std::string();
        for (const auto* part : {&verdict.atStart, &verdict.onFirstUse})
            for (const std::string& line : *part) addLine(row, by + line);
        for (const std::string& line : verdict.context) addLine(row, line);
    }
    // A module that only delay-load directories name, and that fails nowhere,
    // is marked as such in the list, with its importers.
    std::unordered_set<std::string> imported;
    for (const RecordedItem& entry : tree)
        if (entry.node && !entry.node->delayLoaded) imported.insert(lowerAscii(entry.node->moduleName));
    for (std::size_t i = 1; i < tree.size(); ++i) {
        const ModuleNode* node = tree[i].node;
        const ModuleNode* parent = tree[tree[i].parent].node;
        if (!node || !node->delayLoaded || !parent || imported.count(lowerAscii(node->moduleName))) continue;
        const auto known = rowOf.find(lowerAscii(node->moduleName));
        if (known != rowOf.end() && marks.rows[known->second].image != kDelayLoadedImage) continue;
        addLine(rowFor(*node, kDelayLoadedImage), "delay-loaded by " + upper(parent->moduleName));
    }
    for (RowMark& row : marks.rows) row.tip = cutTip(std::move(row.tip.text));
    marks.index();
    return marks;
}

}  // namespace vost
