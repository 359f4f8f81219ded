#include "page/run_merge.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "analysis/scan_module.h"
#include "analysis/text.h"
#include "page/module_list.h"
#include "page/scan.h"
#include "page/scan_rows.h"

namespace vost {

namespace {

std::string upper(std::string text) {
    for (char& c : text) c = asciiUpper(c);
    return text;
}

// The module name a LoadLibrary call's text stands for: its file name, with
// ".DLL" when it has no extension (the loader's rule), upper-cased.
std::string askedModuleName(const std::string& asked) {
    std::string name = runFileName(asked);
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
    if (name.find('.') == std::string::npos) name += ".DLL";
    return upper(name);
}

bool notFoundStatus(std::uint32_t code, bool win32) {
    if (win32) return code == 2 || code == 3 || code == 126;
    return code == 0xC0000135 || code == 0xC0000034 || code == 0xC000003A;
}

// Whether a module loaded by the name `asked` is the file at `path`.
bool answers(const std::string& asked, const std::string& path) {
    if (asked.empty()) return false;
    if (asked.find_first_of("\\/") != std::string::npos) return comparablePath(asked) == comparablePath(path);
    return askedModuleName(asked) == upper(runFileName(path));
}

// The pre-order record of the subtree of `item` (already at `index` in
// `record`), appended to it.
void recordSubtree(TreeControl& tree, std::size_t index, TreeRecord& record) {
    std::vector<std::size_t> open{index};
    std::vector<std::vector<TreeChild>> pending{tree.children(record[index].item)};
    std::vector<std::size_t> next{0};
    while (!open.empty()) {
        if (next.back() == pending.back().size()) {
            open.pop_back();
            pending.pop_back();
            next.pop_back();
            continue;
        }
        const TreeChild child = pending.back()[next.back()++];
        record.push_back(RecordedItem{child.item, child.node, open.back()});
        open.push_back(record.size() - 1);
        pending.push_back(tree.children(child.item));
        next.push_back(0);
    }
}

class Merger {
public:
    Merger(DependencyExtension& ext, const TreeRecord& tree, const RunSummary& run, const std::string& checkProblems)
        : ext_(ext), record_(tree), run_(run), checkProblems_(checkProblems) {}

    RunMerge merge() {
        const RunProcess* root = run_.root();
        merge_.ending = describeEnding(run_);
        if (!root || record_.empty()) return std::move(merge_);
        merge_.merged = true;
        for (std::size_t i = 0; i < record_.size(); ++i) {
            const ModuleNode* node = record_[i].node;
            if (node && node->found) staticPaths_.insert(comparablePath(node->fullPath));
            if (node) firstOfPath_.emplace(comparablePath(node->fullPath), i);
        }
        for (const RunModule& m : root->modules) loaded_.emplace(comparablePath(m.path), &m);

        // The modules asked for by name first: the loader sends a module's
        // dependencies before the module itself, and those are placed by
        // the walk of the module that needs them.
        for (const RunModule& m : root->modules)
            if (!m.caller.empty() && answers(m.asked, m.path)) placeRunTimeModule(m);
        for (const RunModule& m : root->modules) placeRunTimeModule(m);
        for (const RunEvent& failure : root->loadFailures) addFailedLoad(failure);
        classifyItems();
        for (const RunProcess& process : run_.processes) addFindings(process);
        return std::move(merge_);
    }

private:
    // The item a module of the run goes under: the first of its caller's,
    // else the root's.
    std::size_t parentFor(const std::string& caller) const {
        if (!caller.empty()) {
            const auto found = firstOfPath_.find(comparablePath(caller));
            if (found != firstOfPath_.end()) return found->second;
        }
        return 0;
    }

    // A module of the run that the tree does not show yet: under the module
    // that asked for it, walked as the scan walks a module, its row added.
    void placeRunTimeModule(const RunModule& m) {
        const std::string key = comparablePath(m.path);
        if (firstOfPath_.count(key)) return;  // in the tree: static, or reached by a walk before
        std::size_t parent = 0;
        bool placed = false;
        if (!m.caller.empty() && answers(m.asked, m.path)) {
            parent = parentFor(m.caller);
            placed = true;
        }
        // Loaded for another module: a static item of the same name that the
        // run never loaded is the one it stands for (the loader found that
        // name elsewhere), so it goes beside it.
        const std::string name = upper(runFileName(m.path));
        for (std::size_t i = 1; i < record_.size() && !placed; ++i) {
            const ModuleNode* node = record_[i].node;
            if (node && node->found && upper(runFileName(node->fullPath)) == name &&
                !loaded_.count(comparablePath(node->fullPath))) {
                parent = record_[i].parent;
                placed = true;
            }
        }
        if (!placed) parent = parentFor(m.caller);
        ModuleNode* parentNode = const_cast<ModuleNode*>(record_[parent].node);
        if (!parentNode) return;
        ModuleNode* node = insertItem(*parentNode, record_[parent].item, m.path, upper(runFileName(m.path)), true);
        if (!node || !node->treeItem) return;
        node->scanned = 1;
        ScanContext ctx{*ext_.platform, *ext_.nodes, ext_.delayLoads};
        ctx.modules = ext_.modules.get();
        if (scanModule(ctx, *node)) expandModuleItem(ext_, node->treeItem);
        else ext_.tree->setHasChildren(node->treeItem, 0);
        addRow(*node);
        record_.push_back(RecordedItem{node->treeItem, node, parent});
        const std::size_t first = record_.size() - 1;
        recordSubtree(*ext_.tree, first, record_);
        for (std::size_t i = first; i < record_.size(); ++i)
            if (record_[i].node) firstOfPath_.emplace(comparablePath(record_[i].node->fullPath), i);

        merge_.lines[node].push_back(runTimeLine(m));
    }

    static std::string runTimeLine(const RunModule& m) {
        std::string line = "Loaded at run time, at " + secondsText(m.loadedAt);
        if (!m.caller.empty()) line += ", by " + upper(runFileName(m.caller));
        if (!m.asked.empty()) line += " (asked for as " + m.asked + ")";
        if (m.unloadedAt >= 0) line += "; unloaded at " + secondsText(m.unloadedAt);
        return line;
    }

    // A LoadLibrary call that failed: an item of the name asked under the
    // caller, once per caller and name.
    void addFailedLoad(const RunEvent& failure) {
        const std::size_t parent = parentFor(failure.caller);
        const std::string name = askedModuleName(failure.asked);
        const std::string key = std::to_string(parent) + "|" + name;
        const std::string line = "LoadLibrary(" + failure.asked + ") failed in the run: " +
                                 statusText(failure.code, failure.win32);
        const auto known = failedItems_.find(key);
        if (known != failedItems_.end()) {
            auto& lines = merge_.lines[known->second];
            if (std::find(lines.begin(), lines.end(), line) == lines.end()) lines.push_back(line);
            return;
        }
        ModuleNode* parentNode = const_cast<ModuleNode*>(record_[parent].node);
        if (!parentNode) return;
        const bool missing = notFoundStatus(failure.code, failure.win32);
        ModuleNode* node = insertItem(*parentNode, record_[parent].item, missing ? kFileNotFoundText : "Load failed",
                                      name, false);
        if (!node) return;
        node->scanned = 1;
        if (node->treeItem) ext_.tree->setHasChildren(node->treeItem, 0);
        addRow(*node);
        record_.push_back(RecordedItem{node->treeItem, node, parent});
        failedItems_.emplace(key, node);
        merge_.failedLoads.insert(node);
        merge_.failing.insert(node);
        merge_.lines[node].push_back(line);
    }

    ModuleNode* insertItem(ModuleNode& parent, TreeItem parentItem, std::string path, const std::string& name,
                           bool found) {
        PagePlatform& platform = *ext_.platform;
        int icon = 0;
        const bool hasIcon = platform.smallIconIndex(found ? path.c_str() : parent.fullPath.c_str(), icon);
        if (!found || platform.pathsIgnoreCase()) path = lowerAscii(std::move(path));
        std::string label = name + " (" + path;
        ModuleNode* node = ext_.nodes->create(platform, path, name, &parent, found ? 1 : 0, found);
        node->processContext = parent.processContext;
        if (node->readVersion && !node->fileVersion.empty()) label += " [" + node->fileVersion + "]";
        label += ")";
        node->treeWindow = ext_.tree.get();
        node->treeItem = ext_.tree->insertSorted(parentItem, label.c_str(), hasIcon ? &icon : nullptr, node);
        return node;
    }

    void addRow(ModuleNode& node) {
        ScanRows rows(*ext_.list);
        if (!rows.hasRow(node.moduleName.c_str())) rows.addRow(ext_, node);
    }

    // Every item the run did not load, and the run-time ones.
    void classifyItems() {
        for (std::size_t i = 1; i < record_.size(); ++i) {
            const ModuleNode* node = record_[i].node;
            if (!node || !node->found) continue;
            const std::string key = comparablePath(node->fullPath);
            if (!loaded_.count(key)) {
                merge_.notLoaded.insert(node);
                merge_.lines[node].push_back("Not loaded in the run");
            } else if (!staticPaths_.count(key)) {
                merge_.runTime.insert(node);
                auto& lines = merge_.lines[node];
                if (lines.empty()) lines.push_back(runTimeLine(*loaded_.at(key)));
            }
        }
    }

    // The module a process's event names, for a finding: its caller's name,
    // else the process's program.
    static std::string importerOf(const RunEvent& e, const RunProcess& process) {
        return upper(runFileName(e.caller.empty() ? process.path : e.caller));
    }

    void addFindings(const RunProcess& process) {
        const bool isRoot = &process == run_.root();
        for (const RunEvent& e : process.loadFailures)
            merge_.findings.push_back("load-failed " + importerOf(e, process) + " -> " + askedModuleName(e.asked) +
                                      " (" + statusText(e.code, e.win32) + ")");
        for (const RunEvent& e : process.lookupFailures) {
            const std::string function = e.byOrdinal ? "#" + std::to_string(e.ordinal) : e.name;
            const std::string module = upper(runFileName(e.path));
            merge_.findings.push_back("lookup-failed " + importerOf(e, process) + " -> " + module + "!" + function +
                                      " (" + statusText(e.code, e.win32) + ")");
            if (!isRoot) continue;
            const auto item = firstOfPath_.find(comparablePath(e.path));
            if (item == firstOfPath_.end() || !record_[item->second].node) continue;
            const ModuleNode* node = record_[item->second].node;
            const std::string line = "GetProcAddress failed in the run, called by " + importerOf(e, process) + ": " +
                                     function + " (" + statusText(e.code, e.win32) + ")";
            auto& lines = merge_.lines[node];
            if (std::find(lines.begin(), lines.end(), line) == lines.end()) lines.push_back(line);
            merge_.failing.insert(node);
        }
        const std::string program = upper(runFileName(process.path));
        std::string exitLine;
        if (process.crashed) {
            const RunEvent& f = process.fatal;
            merge_.findings.push_back("crash " + program + " (" + statusText(f.code) + " at " +
                                      (f.path.empty() ? statusText(std::uint32_t(f.address))
                                                      : upper(runFileName(f.path)) + "+" + hexOffset(f.offset)) +
                                      ")");
            exitLine = "Crashed: " + merge_.findings.back().substr(merge_.findings.back().find('(') + 1);
            exitLine.pop_back();
        }
        if (process.exited && process.exitCode >= 0xC0000000u && !(process.crashed && process.fatal.code == process.exitCode)) {
            std::string line = "exit " + program + " (" + statusText(process.exitCode);
            const std::string meaning = startFailureMeaning(process.exitCode);
            if (!meaning.empty()) line += ": " + meaning;
            const std::vector<std::string> explaining = isRoot ? explainingLines(process.exitCode) : std::vector<std::string>();
            for (std::size_t i = 0; i < explaining.size(); ++i) line += (i ? "; " : ": ") + explaining[i];
            line += ")";
            merge_.findings.push_back(line);
            exitLine = "Exit code " + line.substr(line.find('(') + 1);
            exitLine.pop_back();
            if (isRoot && !meaning.empty() && record_[0].node) merge_.failing.insert(record_[0].node);
        }
        if (isRoot && !exitLine.empty() && record_[0].node) merge_.lines[record_[0].node].push_back(exitLine);
    }

    // The check's lines of the kinds that explain `code`, delay-loads left
    // out (they are loaded, if at all, once the program runs).
    std::vector<std::string> explainingLines(std::uint32_t code) const {
        std::vector<std::string> lines;
        const std::vector<std::string> kinds = explainingFindingKinds(code);
        std::istringstream in(checkProblems_);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() >= 13 && line.compare(line.size() - 13, 13, "(delay-load)") == 0) continue;
            if (line.find(" (delay-load)") != std::string::npos) continue;
            for (const std::string& kind : kinds)
                if (line.compare(0, kind.size() + 1, kind + " ") == 0) lines.push_back(line);
        }
        return lines;
    }

    static std::string hexOffset(std::uint64_t offset) {
        char text[24];
        std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(offset));
        return text;
    }

    DependencyExtension& ext_;
    TreeRecord record_;
    const RunSummary& run_;
    const std::string& checkProblems_;
    RunMerge merge_;
    std::unordered_set<std::string> staticPaths_;
    std::unordered_map<std::string, std::size_t> firstOfPath_;
    std::unordered_map<std::string, const RunModule*> loaded_;
    std::unordered_map<std::string, const ModuleNode*> failedItems_;
};

}  // namespace

const char* RunMerge::suffix(const ModuleNode* node) const {
    if (runTime.count(node) || failedLoads.count(node)) return " [run-time]";
    if (notLoaded.count(node)) return " [not loaded]";
    return "";
}

RunMerge mergeRun(DependencyExtension& ext, const TreeRecord& tree, const RunSummary& run,
                  const std::string& checkProblems) {
    return Merger(ext, tree, run, checkProblems).merge();
}

std::string describeEnding(const RunSummary& run) {
    if (!run.failure.empty()) return "the program could not be started: " + run.failure;
    const RunProcess* root = run.root();
    if (!root) return "the recorder ended before the program started";
    const std::string exit = root->exited ? " with code " + statusText(root->exitCode) : std::string();
    const std::string after = " after " + secondsText((root->exited ? root->exitedAt : run.endedAt) - root->startedAt);
    if (run.ended == kEndedExited) return "the program exited" + exit + after;
    if (run.ended == kEndedTimeout)
        return "the program was ended by the timeout of " + std::to_string(run.timeoutSeconds) + " s" +
               (root->exited ? ", its exit code " + statusText(root->exitCode) : std::string());
    if (run.ended == kEndedStopped) return "the program was ended when the recording was stopped" + after;
    if (run.ended == kEndedDetached) return "the recording was stopped" + after + "; the program runs on";
    return "the recorder ended before its record was complete" +
           (root->exited ? ": the program had exited" + exit : std::string(": the program was ended with it"));
}

int runnableBits(AnalysisPlatform& platform, const std::string& path) {
    const std::unique_ptr<MappedFile> file = platform.mapFile(path.c_str());
    if (!file) return 0;
    const ByteView bytes = file->bytes();
    std::uint16_t mz = 0, machine = 0, characteristics = 0;
    std::uint32_t header = 0, signature = 0;
    if (!bytes.readU16(0, mz) || mz != 0x5A4D || !bytes.readU32(0x3C, header) || !bytes.readU32(header, signature) ||
        signature != 0x00004550 || !bytes.readU16(std::uint64_t(header) + 4, machine) ||
        !bytes.readU16(std::uint64_t(header) + 22, characteristics))
        return 0;
    if (characteristics & 0x2000) return 0;  // IMAGE_FILE_DLL
    return machine == 0x14C ? 32 : machine == 0x8664 ? 64 : 0;
}

void applyMarks(TreeControl& tree, ListControl& list, const CheckMarks& marks) {
    std::vector<ItemStateImage> items;
    for (const ItemMark& mark : marks.items) items.push_back(ItemStateImage{mark.item, mark.image});
    if (!items.empty()) tree.setItemStateImages(items);
    for (int image = kWillNotLoadImage; image <= kNotLoadedImage; ++image) {
        std::vector<const char*> rows;
        for (const RowMark& row : marks.rows)
            if (row.image == image) rows.push_back(row.module.c_str());
        if (!rows.empty()) list.setRowStateImages(rows, image);
    }
}

void writeRunFindings(const RunMerge& merge, std::string& out) {
    for (const std::string& line : merge.findings) out += line + "\n";
    out += "run: " + merge.ending + "\n";
}

CheckMarks markRun(const TreeRecord& tree, const RunMerge& merge, const CheckMarks* check) {
    CheckMarks marks;
    if (check) {
        marks.findingCount = check->findingCount;
        marks.problems = check->problems;
    }
    for (const std::string& line : merge.findings) marks.problems += line + "\r\n";
    marks.findingCount += merge.findings.size();

    // Each item's image and tip lines: the check's first, the run's added.
    std::vector<int> image(tree.size(), 0);
    std::vector<std::string> tips(tree.size());
    std::vector<bool> fails(tree.size(), false);
    std::unordered_map<TreeItem, int> checkImages;
    if (check)
        for (const ItemMark& mark : check->items) checkImages.emplace(mark.item, mark.image);
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const ModuleNode* node = tree[i].node;
        if (check) {
            if (const Tip* tip = check->itemTip(tree[i].item)) tips[i] = tip->text;
            const auto checked = checkImages.find(tree[i].item);
            if (checked != checkImages.end()) image[i] = checked->second;
        }
        if (image[i] == kWillNotLoadImage || image[i] == kManagedWillNotLoadImage) fails[i] = true;
        if (!node) continue;
        if (merge.failing.count(node)) fails[i] = true;
        const auto lines = merge.lines.find(node);
        if (lines != merge.lines.end())
            for (const std::string& line : lines->second) tips[i] += (tips[i].empty() ? "" : "\r\n") + line;
    }
    // The run's failures below each item, counted from the end (children
    // follow their parents).
    std::vector<std::size_t> below(tree.size(), 0);
    for (std::size_t i = tree.size(); i-- > 0;) {
        const bool runFails = tree[i].node && merge.failing.count(tree[i].node);
        if (tree[i].parent != kNoParent) below[tree[i].parent] += below[i] + (runFails ? 1 : 0);
    }
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const ModuleNode* node = tree[i].node;
        // A failure of the run says more than the check's marks; a managed
        // item keeps its managed form of them.
        if (fails[i]) image[i] = image[i] == kManagedWillNotLoadImage ? image[i] : kWillNotLoadImage;
        else if (below[i] || image[i] == kBelowWillNotLoadImage) image[i] = kBelowWillNotLoadImage;
        else if (node && merge.runTime.count(node)) image[i] = kRunTimeImage;
        else if (node && merge.notLoaded.count(node)) image[i] = kNotLoadedImage;
        if (below[i])
            tips[i] += std::string(tips[i].empty() ? "" : "\r\n") + std::to_string(below[i]) +
                       (below[i] == 1 ? " failure" : " failures") + " below in the run";
        if (image[i] == 0 && tips[i].empty()) continue;
        marks.items.push_back(ItemMark{tree[i].item, image[i], cutTip(tips[i])});
    }

    // Rows: the check's, then failing modules of the run, then run-time
    // modules and modules never loaded (a name the run loaded anywhere is
    // loaded).
    std::unordered_map<std::string, std::size_t> rowOf;
    if (check)
        for (const RowMark& row : check->rows) {
            rowOf.emplace(lowerAscii(row.module), marks.rows.size());
            marks.rows.push_back(row);
        }
    std::unordered_set<std::string> loadedNames;
    for (std::size_t i = 0; i < tree.size(); ++i)
        if (tree[i].node && tree[i].node->found && !merge.notLoaded.count(tree[i].node))
            loadedNames.insert(lowerAscii(tree[i].node->moduleName));
    for (int pass = 0; pass < 3; ++pass) {
        for (std::size_t i = 0; i < tree.size(); ++i) {
            const ModuleNode* node = tree[i].node;
            if (!node) continue;
            const std::string key = lowerAscii(node->moduleName);
            const bool failing = merge.failing.count(node) != 0;
            int want = 0;
            if (pass == 0 && failing) want = kWillNotLoadImage;
            if (pass == 1 && merge.runTime.count(node)) want = kRunTimeImage;
            if (pass == 2 && merge.notLoaded.count(node) && !loadedNames.count(key)) want = kNotLoadedImage;
            if (!want) continue;
            const auto lines = merge.lines.find(node);
            std::string text;
            if (lines != merge.lines.end())
                for (const std::string& line : lines->second) text += (text.empty() ? "" : "\r\n") + line;
            const auto known = rowOf.find(key);
            if (known == rowOf.end()) {
                rowOf.emplace(key, marks.rows.size());
                marks.rows.push_back(RowMark{upper(node->moduleName), want, cutTip(text)});
            } else if (pass == 2 && marks.rows[known->second].image == kDelayLoadedImage) {
                // A delay-loaded module the run never loaded: the run says more.
                RowMark& row = marks.rows[known->second];
                row.image = want;
                row.tip = cutTip(row.tip.text + (row.tip.text.empty() ? "" : "\r\n") + text);
            } else if (pass == 0) {
                RowMark& row = marks.rows[known->second];
                if (row.image != kWillNotLoadImage) row.tip.text.clear();
                row.image = kWillNotLoadImage;
                if (row.tip.text.find(text) == std::string::npos)
                    row.tip = cutTip(row.tip.text + (row.tip.text.empty() ? "" : "\r\n") + text);
            }
        }
    }
    marks.index();
    return marks;
}

}  // namespace vost
