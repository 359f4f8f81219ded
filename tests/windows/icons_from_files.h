// For the life of the object the shell takes the icons of programs and DLLs
// from the files themselves: HKCR\.exe names "exefile", whose DefaultIcon is
// "%1" (as on Windows), and HKCR\.dll a class of the test's whose DefaultIcon
// is "%1" too. Wine's prefixes leave .exe unnamed, and then its shell never
// opens a file for its icon. The previous values are put back afterwards.
#pragma once

#include <string>
#include <vector>

namespace vost::test {

class IconsFromFiles {
public:
    IconsFromFiles();
    ~IconsFromFiles();
    IconsFromFiles(const IconsFromFiles&) = delete;
    IconsFromFiles& operator=(const IconsFromFiles&) = delete;

private:
    struct Saved {
        std::string key;
        bool existed = false;
        std::string value;
    };
    std::vector<Saved> saved_;
};

// The shell's small-icon index of `path`, as SHGetFileInfoA gives it; -1 on
// failure.
int shellSmallIcon(const std::string& path);
// The index the shell gives for the type of files ending in `extension`
// (".exe"), without opening any file.
int shellTypeIcon(const std::string& extension);

}  // namespace vost::test
