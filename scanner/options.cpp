#include "scanner/options.h"

#include <cstdlib>
#include <cstring>

#include "analysis/text.h"

namespace vost {

const char* const kScannerUsage =
    "usage: vostscan [options] FILE...\n"
    "Scans each FILE (a PE or NE executable) and the closure of the modules it\n"
    "references, as the Dependencies page does, and prints the dependency tree.\n"
    "\n"
    "  --direct              only the file's own references, not their references\n"
    "  --check               check that the closure would load: each imported\n"
    "                        function against the exports of the module found for\n"
    "                        it (forwarders followed), each module found and of its\n"
    "                        importer's machine; after the tree or list one finding\n"
    "                        per line (unresolved, not-found, other-machine or\n"
    "                        not-an-image, IMPORTER -> MODULE[!FUNCTION]); JSON: \"check\"\n"
    "  --delay-load          add the modules of the delay-load directories, marked\n"
    "                        [delay-load] (JSON: \"delayLoad\"), walked and checked\n"
    "                        like the others\n"
    "  --imports             under each item of the tree, one level deeper, the\n"
    "                        functions its parent imports from it with what each\n"
    "                        binds to, as the check resolves it: \"NAME (hint H) ->\n"
    "                        ordinal N\", \"-> forwarded to MODULE.NAME\" (the chain's\n"
    "                        end) or \"-> missing: WHY\"; JSON: \"imports\" per item\n"
    "                        (not with --list)\n"
    "  --exports             after the output, the scanned file's export table:\n"
    "                        \"#ORDINAL hint H NAME 0xRVA\" or \"... -> FORWARDER\";\n"
    "                        JSON: \"exports\"\n"
    "  --undecorate          C++ decorated names (MSVC ?..., Itanium _Z...) of\n"
    "                        --imports and --exports in readable form; JSON:\n"
    "                        \"undecorated\" beside \"name\"\n"
    "  --list                print the module list as the page copies it to the clipboard\n"
    "  --json                print one JSON document per file, one per line\n"
    "  --search-dir DIR      a folder standing for the system folders of 32-bit (and\n"
    "                        16-bit) modules, searched after the file's own folder,\n"
    "                        in the order given (repeatable; POSIX build; default\n"
    "                        /usr/lib/i386-linux-gnu/wine/i386-windows when present)\n"
    "  --search-dir-64 DIR   the same for the modules that 64-bit modules reference\n"
    "                        (default /usr/lib/x86_64-linux-gnu/wine/x86_64-windows\n"
    "                        when present)\n"
    "  --windows DIR         a Windows folder (a Wine prefix's drive_c/windows, a\n"
    "                        mounted C:\\Windows) as the system the file runs on: its\n"
    "                        SysWOW64 (32-bit) or System32 (64-bit), then system and\n"
    "                        DIR, are searched after any --search-dir in place of the\n"
    "                        defaults; its WinSxS store resolves the manifests'\n"
    "                        assemblies, its SYSTEM hive gives the known DLLs;\n"
    "                        its global assembly caches (Microsoft.NET\\assembly,\n"
    "                        assembly) and the dotnet root beside it (Program\n"
    "                        Files\\dotnet) serve managed programs (POSIX build)\n"
    "  --dotnet-root DIR     the .NET root whose shared frameworks (DIR/shared/NAME/\n"
    "                        VERSION) managed programs of .NET 5 and later run on,\n"
    "                        in place of the one beside --windows (POSIX build)\n"
    "  --sort COLUMN[:desc]  sort the list as one click (two for :desc) on COLUMN:\n"
    "                        module, date, fileversion, productversion or path\n"
    "  --copy-to DIR         copy every listed module file into DIR, never overwriting:\n"
    "                        a taken name X becomes \"Copy of X\", \"Copy (2) of X\", ...\n"
    "  -j, --jobs N          scan N files at once (default: one per processor); the\n"
    "                        outputs and copies keep the order of the files\n"
    "  --run                 run FILE (one file; its arguments after --) as its\n"
    "                        debugger and merge what it loads into the tree of\n"
    "                        --check --delay-load: modules loaded at run time\n"
    "                        under the module that asked for them, marked\n"
    "                        [run-time], static ones never loaded marked [not\n"
    "                        loaded], failed LoadLibrary and GetProcAddress calls,\n"
    "                        a crash and a start failure as findings\n"
    "                        (load-failed, lookup-failed, crash, exit), then how\n"
    "                        the run ended; JSON: \"run\". Windows builds only\n"
    "  --timeout S           with --run: end the program and its children after S\n"
    "                        seconds\n"
    "  --cwd DIR             with --run: the program's start folder (default its own)\n"
    "  --children            with --run: record the processes it starts too\n"
    "  --log                 with --run: the record, one event per line, at the end\n"
    "  --help, --version\n"
    "\n"
    "A module is looked for in the scanned file's folder first, then in the search\n"
    "folders of its importer's family (on Windows: the system folder of the family,\n"
    "SysWOW64 for 32-bit modules on 64-bit Windows, the 16-bit system folder, the\n"
    "Windows folder, PATH; never vostscan's own folder). Found paths\n"
    "are absolute, also for a relative FILE or DIR (FILE itself is shown as given).\n"
    "Names that begin with api- or ext- are API set contracts: before any search they\n"
    "are mapped to their host module by apisetschema.dll of the family's first search\n"
    "folder that holds it (on Windows: of the family's system folder); the contract's\n"
    "row shows its host's file. A contract without a host is not found; without a\n"
    "schema the names are searched as files. A module that references more than 8192\n"
    "modules shows the first 8192, with a line on stderr.\n"
    "\n"
    "With --windows, after the contracts, a name that an assembly of the module's\n"
    "own manifest (resource 2) or of the program's (resource 1, else FILE.manifest)\n"
    "lists is taken from the assembly's folder, and a known DLL from the system\n"
    "folder of its importer's family, before the search.\n"
    "\n"
    "Exit status: 0 after a scan, 1 when a file cannot be scanned or a copy fails\n"
    "(or, with --run, cannot be run), 2 on a usage error, 3 when --check or the\n"
    "run found anything (and nothing failed).\n";

namespace {
constexpr const char* kSortColumns[] = {"module", "date", "fileversion", "productversion", "path"};

bool parseSort(const std::string& value, ScannerOptions& options) {
    std::string column = value;
    options.sortDescending = false;
    const std::size_t colon = value.find(':');
    if (colon != std::string::npos) {
        const std::string direction = value.substr(colon + 1);
        if (compareIgnoringCase(direction.c_str(), "desc") == 0) options.sortDescending = true;
        else if (compareIgnoringCase(direction.c_str(), "asc") != 0) return false;
        column = value.substr(0, colon);
    }
    for (int i = 0; i < 5; ++i) {
        if (compareIgnoringCase(column.c_str(), kSortColumns[i]) == 0) {
            options.sortColumn = i;
            return true;
        }
    }
    return false;
}
bool parseJobs(const std::string& value, int& jobs) {
    if (value.empty() || value.size() > 3 || value.find_first_not_of("0123456789") != std::string::npos)
        return false;
    jobs = std::stoi(value);
    return jobs >= 1 && jobs <= 256;
}
}  // namespace

namespace {
bool parseSeconds(const std::string& value, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(value.c_str(), &end);
    return !value.empty() && end && *end == '\0' && seconds > 0 && seconds <= 86400 * 7;
}
}  // namespace

bool parseScannerOptions(int argc, const char* const* argv, ScannerOptions& options,
                         std::string& error) {
    bool listFormat = false, jsonFormat = false, optionsEnded = false;
    std::size_t filesBeforeEnd = 0;  // how many files came before "--"
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            options.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            filesBeforeEnd = options.files.size();
            continue;
        }
        std::string value;
        bool hasValue = false;
        const std::size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
            hasValue = true;
        }
        if (arg.compare(0, 2, "-j") == 0) {  // -j N or -jN
            if (arg.size() > 2) {
                value = arg.substr(2);
                hasValue = true;
            }
            arg = "--jobs";
        }
        const bool takesValue =
            arg == "--search-dir" || arg == "--search-dir-64" || arg == "--windows" || arg == "--dotnet-root" ||
            arg == "--sort" || arg == "--copy-to" || arg == "--jobs" || arg == "--timeout" || arg == "--cwd";
        if (takesValue && !hasValue) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
            hasValue = true;
        } else if (!takesValue && hasValue) {
            error = arg + " takes no value";
            return false;
        }

        if (arg == "--direct") options.direct = true;
        else if (arg == "--check") options.check = true;
        else if (arg == "--delay-load") options.delayLoads = true;
        else if (arg == "--imports") options.imports = true;
        else if (arg == "--exports") options.exports = true;
        else if (arg == "--undecorate") options.undecorate = true;
        else if (arg == "--list") listFormat = true;
        else if (arg == "--json") jsonFormat = true;
        else if (arg == "--run") options.run = true;
        else if (arg == "--children") options.children = true;
        else if (arg == "--log") options.log = true;
        else if (arg == "--timeout") {
            if (!parseSeconds(value, options.timeoutSeconds)) {
                error = "--timeout needs a number of seconds";
                return false;
            }
        } else if (arg == "--cwd") {
            if (value.empty()) {
                error = "--cwd needs a folder";
                return false;
            }
            options.runFolder = value;
        }
        else if (arg == "--help" || arg == "-h") options.help = true;
        else if (arg == "--version") options.version = true;
        else if (arg == "--search-dir" || arg == "--search-dir-64") {
            if (value.empty()) {
                error = arg + " needs a folder";
                return false;
            }
            (arg == "--search-dir" ? options.searchDirs : options.searchDirs64).push_back(value);
        } else if (arg == "--windows") {
            if (value.empty()) {
                error = "--windows needs a folder";
                return false;
            }
            options.windowsFolder = value;
        } else if (arg == "--dotnet-root") {
            if (value.empty()) {
                error = "--dotnet-root needs a folder";
                return false;
            }
            options.dotnetRoot = value;
        } else if (arg == "--sort") {
            if (!parseSort(value, options)) {
                error = "unknown sort column: " + value;
                return false;
            }
        } else if (arg == "--copy-to") {
            if (value.empty()) {
                error = "--copy-to needs a folder";
                return false;
            }
            options.copyTo = value;
        } else if (arg == "--jobs") {
            if (!parseJobs(value, options.jobs)) {
                error = "--jobs needs a number from 1 to 256";
                return false;
            }
        } else {
            error = "unknown option: " + arg;
            return false;
        }
    }
    if (listFormat && jsonFormat) {
        error = "--list and --json exclude each other";
        return false;
    }
    options.format = jsonFormat ? OutputFormat::json : listFormat ? OutputFormat::list : OutputFormat::tree;
    if (options.run) {
        // One program; what follows "--" after it is its own command line.
        if (optionsEnded && filesBeforeEnd <= 1 && !options.files.empty()) {
            options.arguments.assign(options.files.begin() + 1, options.files.end());
            options.files.resize(1);
        }
        if (options.files.size() > 1) {
            error = "--run takes one FILE; the program's arguments follow --";
            return false;
        }
        if (options.direct || options.imports || options.exports || !options.copyTo.empty()) {
            error = "--run goes with neither --direct, --imports, --exports nor --copy-to";
            return false;
        }
        // The static part is the whole check, delay-loaded modules included.
        options.check = true;
        options.delayLoads = true;
    } else if (options.timeoutSeconds > 0 || !options.runFolder.empty() || options.children || options.log) {
        error = "--timeout, --cwd, --children and --log go with --run";
        return false;
    }
    if (options.files.empty() && !options.help && !options.version) {
        error = "no file given";
        return false;
    }
    return true;
}

}  // namespace vost
