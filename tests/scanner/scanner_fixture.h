// vostscan run in-process over a file set generated on disk.
#pragma once

#include <string>
#include <vector>

#include "tests/support/image_builder.h"

namespace vost::test {

struct ScannerRun {
    int status = -1;
    std::string out;
    std::string err;
};

ScannerRun runVostscan(const std::vector<std::string>& arguments);

// A fresh temporary folder, removed with everything in it at the end.
class DiskFolder {
public:
    DiskFolder();
    ~DiskFolder();
    DiskFolder(const DiskFolder&) = delete;
    DiskFolder& operator=(const DiskFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }
    void makeFolder(const std::string& relative) const;
    void write(const std::string& relative, const Bytes& bytes) const;
    void writePe(const std::string& relative, const std::vector<std::string>& imports) const;
    std::vector<std::string> list(const std::string& relative) const;  // names, sorted
    std::string read(const std::string& relative) const;

private:
    std::string path_;
};

}  // namespace vost::test
