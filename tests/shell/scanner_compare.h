// The page compared with the headless scanner: vostscan.exe --json for the
// same file, run from the test's own folder under the same prefix.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/shell/json_value.h"
#include "tests/shell/shell_host.h"

namespace vost::test {

// vostscan.exe --json, with `options` before it (e.g. "--check") and `after`
// after the file (with --run, "-- ARGUMENTS"); `scanner` names another copy
// of vostscan.exe to run (empty: the one beside the test). The scanner prints
// its file as given and the page lower-cases it like every path it shows, so
// the file is given as the page spells it (its true path, lower-cased) unless
// `asGiven`. The page shows delay-loaded
// modules unless the user turned them off: the scanner is asked for them
// unless `delayLoads` is false.
JsonValue scannerOutput(const std::string& file, const std::string& options = "",
                        const std::string& scanner = std::string(), bool asGiven = false, bool delayLoads = true,
                        const std::string& after = std::string());

// Tree labels, has-children flags and order, every list cell, and the
// message boxes of the scan equal the scanner's (gtest expectations).
void expectPageMatchesScanner(const std::vector<TreeEntry>& tree, const std::vector<ListRow>& list,
                              const std::vector<std::string>& messages, const std::string& file,
                              bool delayLoads = true);
void expectPageMatchesScanner(const OpenedPage& opened, const std::string& file);

// The findings of each module the scanner checked (its --check --json), by
// lower-cased module name.
using Findings = std::map<std::string, std::vector<const JsonValue*>>;
Findings findingsByModule(const JsonValue& checked);

// The lines the page's Copy Problems puts on an emptied clipboard.
std::size_t copiedProblemLines(HWND page, std::string& copied);

}  // namespace vost::test
