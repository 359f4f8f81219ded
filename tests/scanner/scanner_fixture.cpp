#include "tests/scanner/scanner_fixture.h"

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "scanner/scanner.h"

namespace vost::test {

ScannerRun runVostscan(const std::vector<std::string>& arguments) {
    std::vector<const char*> argv{"vostscan"};
    for (const std::string& a : arguments) argv.push_back(a.c_str());
    std::ostringstream out, err;
    ScannerRun run;
    run.status = runScanner(static_cast<int>(argv.size()), argv.data(), out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

DiskFolder::DiskFolder() {
    std::string pattern = (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + std::string("/vost-scan-XXXXXX");
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

DiskFolder::~DiskFolder() {
    nftw(path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
         FTW_DEPTH | FTW_PHYS);
}

void DiskFolder::makeFolder(const std::string& relative) const { mkdir((*this / relative).c_str(), 0755); }

void DiskFolder::write(const std::string& relative, const Bytes& bytes) const {
    std::ofstream file(*this / relative, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void DiskFolder::writePe(const std::string& relative, const std::vector<std::string>& imports) const {
    PeImageLayout layout;
    layout.imports = imports;
    write(relative, buildPe(layout).bytes);
}

std::vector<std::string> DiskFolder::list(const std::string& relative) const {
    std::vector<std::string> names;
    if (DIR* dir = opendir((*this / relative).c_str())) {
        while (const dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string DiskFolder::read(const std::string& relative) const {
    std::ifstream file(*this / relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

}  // namespace vost::test
