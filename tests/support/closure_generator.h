// A generated module closure for load and lifetime tests: one root program
// and `moduleCount` DLLs that import each other in deep chains, wide fan-outs,
// cycles and repeats, with names spelled in varied letter case, plus one
// module that is imported from many places and never exists. Every generated
// DLL is reachable from the root. The same seed gives the same closure.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"

namespace vost::test {

struct GeneratedModule {
    std::string fileName;              // as written to disk (upper case)
    std::vector<std::string> imports;  // as spelled in the import table
    std::vector<std::string> delayImports;  // as spelled in the delay-load directory
};

struct GeneratedClosure {
    GeneratedModule root;                 // the program to scan
    std::vector<GeneratedModule> modules;  // the DLLs
    std::string absentName;                // imported, never written
};

// With `exactCase` every import is spelled as the file is named on disk.
// With `delayLoads` every third reference of a module is in its delay-load
// directory instead (the closure is the same for a scan that reads them).
GeneratedClosure generateClosure(int moduleCount, unsigned seed = 1, bool exactCase = false, bool delayLoads = false);

// The PE image of one generated module.
Bytes generatedImage(const GeneratedModule& module);

// Writes the root and every DLL through `write(fileName, bytes)`; returns the
// number of files written.
int writeClosure(const GeneratedClosure& closure,
                 const std::function<void(const std::string&, const Bytes&)>& write);

// Upper-case module name as the page shows it.
std::string upperName(const std::string& name);

}  // namespace vost::test
