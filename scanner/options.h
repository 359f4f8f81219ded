// The command line of vostscan.
#pragma once

#include <string>
#include <vector>

namespace vost {

enum class OutputFormat { tree, list, json };

struct ScannerOptions {
    std::vector<std::string> files;
    OutputFormat format = OutputFormat::tree;
    bool direct = false;
    std::vector<std::string> searchDirs;
    std::vector<std::string> searchDirs64;
    int sortColumn = -1;       // -1: the list as the scan leaves it
    bool sortDescending = false;
    std::string copyTo;        // empty: no copy
    int jobs = 0;              // files scanned at once; 0: one per processor
    bool check = false;        // check every import against its module's exports
    bool delayLoads = false;   // add the modules of the delay-load directories
    bool imports = false;      // under each item, the functions its parent imports from it
    bool exports = false;      // each scanned file's export table
    bool undecorate = false;   // C++ names of those in readable form
    // A Windows folder (POSIX): its system folders, API set schema, store of
    // side-by-side assemblies and known DLLs stand for the machine's.
    std::string windowsFolder;
    // The .NET root of managed programs' shared frameworks (POSIX): empty
    // for the one beside the Windows folder.
    std::string dotnetRoot;
    // --run: the file is run under the recorder and the run merged into its
    // tree (Windows builds); the other fields say how it runs.
    bool run = false;
    double timeoutSeconds = 0;          // 0: none
    std::string runFolder;              // --cwd; empty: the program's folder
    bool children = false;              // its child processes are recorded too
    bool log = false;                   // the chronological record after the findings
    std::vector<std::string> arguments; // after "--": the program's own
    bool help = false;
    // Whether modules are resolved by the loader's own rules (activation
    // contexts, known DLLs): always on Windows, with a Windows folder
    // elsewhere. Only then does the JSON say how each file was found, so
    // that other output stays as it was.
    bool loaderRules() const {
#ifdef _WIN32
        return true;
#else
        return !windowsFolder.empty();
#endif
    }
    bool version = false;
};

// Parses argv[1..]. False with a message in `error` on a usage error.
bool parseScannerOptions(int argc, const char* const* argv, ScannerOptions& options,
                         std::string& error);

extern const char* const kScannerUsage;

}  // namespace vost
