// vostscan --run: the file's tree as --check --delay-load computes it, the
// file run under the recorder, and the run merged into the tree.
#pragma once

#include <ostream>
#include <vector>

#include "page/run_merge.h"
#include "page/run_record.h"
#include "platform/platform_factory.h"
#include "scanner/options.h"

namespace vost {

// What the outputs say of a run.
struct RunOutput {
    std::vector<RunEvent> events;
    RunSummary summary;
    RunMerge merge;
    bool log = false;  // the record's lines too
};

// Scans, runs, merges and writes options.files[0]; returns the exit status.
// Natively it says that recording needs the Windows build (status 2).
int runAndRecord(const ScannerOptions& options, const PlatformOptions& platformOptions, std::ostream& out,
                 std::ostream& err);

// The "run" member of the JSON document, and each tree item's state.
void writeRunJson(const RunOutput& run, std::ostream& out);
// "loaded", "run-time", "not-loaded", "load-failed", "not-found" (a static
// module that was not found), or "" when no process ran.
const char* itemRunState(const RunMerge& merge, const ModuleNode* node);

}  // namespace vost
