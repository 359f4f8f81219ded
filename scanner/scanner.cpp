#include "scanner/scanner.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "analysis/scan_module.h"
#include "platform/platform_factory.h"
#include "page/caching_platform.h"
#include "page/scan.h"
#include "scanner/copy_to_folder.h"
#include "scanner/options.h"
#include "scanner/output.h"
#include "scanner/run_scan.h"
#include "scanner/scan_session.h"

#ifndef VOST_VERSION
#define VOST_VERSION "0"
#endif

namespace vost {

namespace {
bool isDirectory(const char* path) {
#ifdef _WIN32
    (void)path;
    return false;  // the Win32 layer searches the real system folders
#else
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
#endif
}

// The message text on one line: the header reader's texts hold line breaks.
std::string oneLine(const std::string& text) {
    std::string line;
    for (char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
    return line;
}

// One file's scan, kept until the files before it are written: its output
// text, or for a large tree the scanned file itself, written out only then,
// straight to the stream (the text of a deep closure is many times the size
// of its tree).
struct FileOutput {
    std::string err;  // the scan's messages and failure, written before the output
    std::string out;
    std::unique_ptr<ScannedFile> scanned;  // kept for the copy, or when `out` is not written yet
    bool failed = false;
    bool unresolved = false;  // the check found something
};

// Writes the output of `scanned` in the chosen format; the text formats are
// followed by the check's findings, one per line.
void writeOutput(const ScannerOptions& options, ScannedFile& scanned, std::ostream& out) {
    switch (options.format) {
    case OutputFormat::tree: writeTreeText(*scanned.tree, out, scanned.functions.get()); break;
    case OutputFormat::list: writeListText(scanned, out); break;
    case OutputFormat::json: writeJson(scanned, out, options.loaderRules()); return;
    }
    if (scanned.check) writeCheckText(*scanned.check, out);
    if (scanned.functions) writeExportLines(*scanned.functions, scanned.file, out);
}

// One scanning thread: its own platform (and so its own caches, nothing
// shared with the other threads), whose messages go to the file it scans.
class FileScanner {
public:
    FileScanner(const FileScanner&) = delete;  // the message sink holds `this`
    FileScanner& operator=(const FileScanner&) = delete;

    FileScanner(const ScannerOptions& options, PlatformOptions platformOptions, CheckCache& checks)
        : options_(options), checks_(checks) {
        platformOptions.messageSink = [this](const char* text, const char* caption) {
            output_.err += "vostscan: " + file_ + ": " + caption + ": " + oneLine(text) + "\n";
            if (messageTarget_) messageTarget_->push_back(ScanMessage{text, caption});
        };
        platform_ = std::make_shared<CachingPlatform>(createPlatform(platformOptions));
    }

    // Scans `file`. With `render`, a tree of up to kRenderedItems items is
    // written to the output text here and the scan let go on this thread
    // (freeing memory on the thread that took it is much cheaper).
    FileOutput scan(const std::string& file, bool render) {
        file_ = file;
        output_ = FileOutput();
        const ScanReach reach = options_.direct ? ScanReach::direct : ScanReach::closure;
        const int clicks = options_.sortColumn < 0 ? 0 : options_.sortDescending ? 2 : 1;
        output_.scanned =
            scanFile(file, platform_, messageTarget_, reach, options_.sortColumn, clicks, options_.delayLoads,
                     checks_.sharedModules());
        if (options_.check && output_.scanned->failure.empty()) {
            const std::string folder = folderOfPath(output_.scanned->ext.selectedPath);
            CheckSettings settings;
            settings.delayLoads = options_.delayLoads;
            output_.scanned->check = std::make_unique<ClosureCheck>(
                checkClosure(*output_.scanned->tree, *platform_, checks_, folder.c_str(), settings, options_.direct));
            output_.unresolved = output_.scanned->check->findingCount() != 0;
        }
        // Like the check, with the scan's search folder still set.
        if ((options_.imports || options_.exports) && output_.scanned->failure.empty()) {
            output_.scanned->functions = std::make_unique<FunctionTables>(
                readFunctionTables(recordTree(*output_.scanned->tree), *platform_, checks_,
                                   options_.imports && options_.format != OutputFormat::list, options_.exports,
                                   options_.delayLoads, options_.undecorate));
        }
        // The scan may be written after this thread has ended; the platform,
        // whose messages come here, stays with the thread.
        output_.scanned->ext.platform.reset();
        reportCutReferences(*output_.scanned);
        if (!output_.scanned->failure.empty()) {
            output_.err += "vostscan: " + file + ": " + output_.scanned->failure + "\n";
            output_.failed = true;
        }
        if (render && output_.scanned->tree->itemCount() <= kRenderedItems) {
            std::ostringstream out;
            writeOutput(options_, *output_.scanned, out);
            output_.out = out.str();
            if (options_.copyTo.empty()) output_.scanned.reset();
        }
        return std::move(output_);
    }

private:
    static constexpr std::size_t kRenderedItems = 4096;

    // A line for each module whose walk stopped at the bound on children
    // (the tree is the same as without the line).
    void reportCutReferences(ScannedFile& scanned) {
        scanned.ext.nodes->forEach([&](const ModuleNode& node) {
            if (!node.referencesCut) return;
            output_.err += "vostscan: " + file_ + ": " + node.moduleName + " (" + node.fullPath +
                           "): references more modules than the " + std::to_string(kMaxReferencesPerModule) +
                           " shown\n";
        });
    }

    const ScannerOptions& options_;
    CheckCache& checks_;
    std::shared_ptr<PagePlatform> platform_;
    std::vector<ScanMessage>* messageTarget_ = nullptr;
    std::string file_;
    FileOutput output_;
};

// How many files are scanned at once: as asked, else one per processor.
unsigned jobCount(const ScannerOptions& options) {
    unsigned jobs = options.jobs > 0 ? unsigned(options.jobs) : std::thread::hardware_concurrency();
    jobs = std::max(jobs, 1u);
    return unsigned(std::min<std::size_t>(jobs, options.files.size()));
}

// Scans the files on `jobs` threads, this one among them, and hands each
// file's output to `write` in the order of the files. This thread writes
// what is ready after each of its own scans and waits only at the end, so the
// other threads never have to wake it while there is work left.
template <typename Write>
void scanInParallel(const ScannerOptions& options, const PlatformOptions& platformOptions, CheckCache& checks,
                    unsigned jobs, Write write) {
    const std::size_t count = options.files.size();
    std::vector<FileOutput> outputs(count);
    std::vector<char> done(count, 0);
    std::size_t written = 0;
    bool waiting = false;
    std::mutex mutex;
    std::condition_variable finished;
    std::atomic<std::size_t> next{0};

    auto scanFiles = [&](FileScanner& scanner, auto afterEach) {
        for (std::size_t i; (i = next++) < count;) {
            FileOutput output = scanner.scan(options.files[i], true);
            {
                std::lock_guard<std::mutex> lock(mutex);
                outputs[i] = std::move(output);
                done[i] = 1;
                if (waiting) finished.notify_one();
            }
            afterEach();
        }
    };
    auto writeReady = [&](bool wait) {
        std::unique_lock<std::mutex> lock(mutex);
        while (written < count) {
            if (!done[written]) {
                if (!wait) return;
                waiting = true;
                finished.wait(lock, [&] { return done[written] != 0; });
                continue;
            }
            FileOutput output = std::move(outputs[written++]);
            lock.unlock();
            write(output);
            lock.lock();
        }
    };

    std::vector<std::thread> threads;
    for (unsigned j = 1; j < jobs; ++j) {
        threads.emplace_back([&] {
            FileScanner scanner(options, platformOptions, checks);
            scanFiles(scanner, [] {});
        });
    }
    {
        FileScanner scanner(options, platformOptions, checks);
        scanFiles(scanner, [&] { writeReady(false); });
    }
    writeReady(true);
    for (std::thread& thread : threads) thread.join();
}
}  // namespace

int runScanner(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    ScannerOptions options;
    std::string error;
    if (!parseScannerOptions(argc, argv, options, error)) {
        err << "vostscan: " << error << "\n" << kScannerUsage;
        return 2;
    }
    if (options.help) {
        out << kScannerUsage;
        return 0;
    }
    if (options.version) {
        out << "vostscan " << VOST_VERSION << "\n";
        return 0;
    }

#ifndef _WIN32
    // A Windows folder that is not there would quietly scan against nothing.
    if (!options.windowsFolder.empty() && !isDirectory(options.windowsFolder.c_str())) {
        err << "vostscan: --windows: no such folder: " << options.windowsFolder << "\n";
        return 2;
    }
    if (!options.dotnetRoot.empty() && !isDirectory(options.dotnetRoot.c_str())) {
        err << "vostscan: --dotnet-root: no such folder: " << options.dotnetRoot << "\n";
        return 2;
    }
#endif

    PlatformOptions platformOptions;
    platformOptions.searchFolders = options.searchDirs;
    platformOptions.searchFolders64 = options.searchDirs64;
    // A Windows folder brings its own system folders in place of the defaults.
    platformOptions.windowsFolder = options.windowsFolder;
    platformOptions.dotnetRoot = options.dotnetRoot;
    const bool defaults = options.windowsFolder.empty();
    if (defaults && platformOptions.searchFolders.empty() && isDirectory(kDefaultSearchDir))
        platformOptions.searchFolders.push_back(kDefaultSearchDir);
    if (defaults && platformOptions.searchFolders64.empty() && isDirectory(kDefaultSearchDir64))
        platformOptions.searchFolders64.push_back(kDefaultSearchDir64);

    if (options.run) return runAndRecord(options, platformOptions, out, err);

    // Copies are made here, one file after another in the order of the
    // files, so that names taken by one file's copies are seen by the next.
    std::shared_ptr<PagePlatform> copier;
    if (!options.copyTo.empty()) copier = createPlatform(platformOptions);

    // One cache of module facts and module checks for the whole run, all
    // threads: a module that several files reach is read once. The facts
    // hold functions only when something reads them.
    CheckCache checks(std::make_shared<ModuleCache>(options.check || options.imports || options.exports));
    bool failed = false, unresolved = false;
    auto write = [&](FileOutput& output) {
        // Only texts that are there: any write to the error stream first
        // flushes the output stream tied to it, one system call per file.
        if (!output.err.empty()) err << output.err;
        if (!output.out.empty()) out << output.out;
        else if (output.scanned) writeOutput(options, *output.scanned, out);
        if (copier) {
            std::ostringstream copyErr;
            if (!copyListedModules(*output.scanned->list, *copier, options.copyTo, copyErr)) output.failed = true;
            if (!copyErr.str().empty()) err << copyErr.str();
        }
        if (output.failed) failed = true;
        if (output.unresolved) unresolved = true;
        output.scanned.reset();
    };
    const unsigned jobs = jobCount(options);
    if (jobs <= 1) {
        FileScanner scanner(options, platformOptions, checks);
        for (const std::string& file : options.files) {
            FileOutput output = scanner.scan(file, false);
            write(output);
        }
    } else {
        scanInParallel(options, platformOptions, checks, jobs, write);
    }
    out.flush();
    return failed ? 1 : unresolved ? 3 : 0;
}

}  // namespace vost
