// Scratch folders and files for the Win32 tests, removed with their contents.
#pragma once

#include <string>

namespace vost::test {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    // Creates (or replaces) a file below the folder; subfolders are made.
    std::string write(const std::string& relative, const std::string& bytes) const;
    std::string makeFolder(const std::string& relative) const;

private:
    std::string path_;
};

std::string readWholeFile(const std::string& path);
std::string systemFolder();

}  // namespace vost::test
