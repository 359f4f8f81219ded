#include "scanner/scanner.h"

#include <memory>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "platform/platform_factory.h"
#include "page/caching_platform.h"
#include "scanner/copy_to_folder.h"
#include "scanner/options.h"
#include "scanner/output.h"
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

    // One platform serves the scans one after another; each scan sets its own
    // search folder. Its messages go to the scan that is running.
    std::vector<ScanMessage>* messageTarget = nullptr;
    std::string currentFile;
    PlatformOptions platformOptions;
    platformOptions.searchFolders = options.searchDirs;
    if (platformOptions.searchFolders.empty() && isDirectory(kDefaultSearchDir))
        platformOptions.searchFolders.push_back(kDefaultSearchDir);
    platformOptions.messageSink = [&](const char* text, const char* caption) {
        err << "vostscan: " << currentFile << ": " << caption << ": " << oneLine(text) << "\n";
        if (messageTarget) messageTarget->push_back(ScanMessage{text, caption});
    };
    const std::shared_ptr<PagePlatform> platform =
        std::make_shared<CachingPlatform>(createPlatform(platformOptions));

    int status = 0;
    const ScanReach reach = options.direct ? ScanReach::direct : ScanReach::closure;
    const int clicks = options.sortColumn < 0 ? 0 : options.sortDescending ? 2 : 1;
    for (const std::string& file : options.files) {
        currentFile = file;
        const std::unique_ptr<ScannedFile> scanned =
            scanFile(file, platform, messageTarget, reach, options.sortColumn, clicks);
        if (!scanned->failure.empty()) {
            err << "vostscan: " << file << ": " << scanned->failure << "\n";
            status = 1;
        }
        switch (options.format) {
        case OutputFormat::tree: writeTreeText(*scanned->tree, out); break;
        case OutputFormat::list: writeListText(*scanned->list, out); break;
        case OutputFormat::json: writeJson(*scanned, out); break;
        }
        if (!options.copyTo.empty() && !copyListedModules(*scanned->list, *platform, options.copyTo, err))
            status = 1;
    }
    out.flush();
    return status;
}

}  // namespace vost
