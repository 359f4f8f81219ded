// A recorded run merged into a scanned page: the modules the program loaded
// that its static closure lacks are added to the tree and the list under the
// module that asked for them, the static modules it never loaded are marked,
// and its failed loads and lookups, its crash and an exit status that tells
// why it could not start become findings beside the check's. Works over the
// page's tree and list interfaces, so vostscan and the page share it.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "component/dependency_extension.h"
#include "page/check_marks.h"
#include "page/closure_check.h"
#include "page/run_record.h"

namespace vost {

// State images beside the check's: a module loaded at run time that the
// static closure lacks, and a static module the run never loaded.
constexpr int kRunTimeImage = 9;
constexpr int kNotLoadedImage = 10;

struct RunMerge {
    std::unordered_set<const ModuleNode*> runTime;      // loaded at run time, not in the static closure
    std::unordered_set<const ModuleNode*> notLoaded;    // in the tree, never loaded in the run
    std::unordered_set<const ModuleNode*> failedLoads;  // items added for LoadLibrary calls that failed
    // What the run says of a node's item, one line each (its tip).
    std::unordered_map<const ModuleNode*, std::vector<std::string>> lines;
    // Nodes whose item fails in the run (a failed load or lookup).
    std::unordered_set<const ModuleNode*> failing;
    // "load-failed APP.EXE -> X.DLL (0xC0000135 STATUS_DLL_NOT_FOUND)", "lookup-failed ...",
    // "crash ...", "exit ...": in the order of the record.
    std::vector<std::string> findings;
    std::string ending;  // how the run ended, in a sentence
    bool merged = false;  // false when no process ran (nothing is marked)

    // " [run-time]", " [not loaded]" or "" after the item's label.
    const char* suffix(const ModuleNode* node) const;
};

// Merges the run into ext.tree and ext.list, which hold the finished scan
// recorded in `tree`; the platform's search folder must be the scanned
// file's folder (run-time modules are walked as the scan walks modules).
// `checkProblems` are the check's lines (writeCheckText), which explain an
// exit status. Only the program's own process goes into the tree; its
// children's failures become findings.
RunMerge mergeRun(DependencyExtension& ext, const TreeRecord& tree, const RunSummary& run,
                  const std::string& checkProblems);

// The page's marks after the run: the check's (`check`, may be null) with the
// run's added. A failing item gets the "will not load" image, its ancestors
// the ring; a run-time item kRunTimeImage and a static one never loaded
// kNotLoadedImage, each with its tip; the problems gain the run's findings.
// `tree` is the whole tree after the merge (recordTree).
CheckMarks markRun(const TreeRecord& tree, const RunMerge& merge, const CheckMarks* check);

// Puts the marks' images on the tree's items and the list's rows.
void applyMarks(TreeControl& tree, ListControl& list, const CheckMarks& marks);

// The bitness of the program at `path` for the recorder: 32 or 64 for an x86
// or x64 PE file that is no DLL, else 0 (it cannot be run and recorded).
int runnableBits(AnalysisPlatform& platform, const std::string& path);

// How the run ended, in a sentence ("the program exited with code 0 after
// 0.412 s"; "... ended by the timeout of 5 s ...").
std::string describeEnding(const RunSummary& run);

// The run's findings, one line each, then "run: " and how it ended.
void writeRunFindings(const RunMerge& merge, std::string& out);

}  // namespace vost
