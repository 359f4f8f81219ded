// The system folders of each family of modules, and the two names a file can
// have in a 32-bit process on 64-bit Windows.
//
// 64-bit Windows keeps 64-bit modules in System32 and 32-bit ones in
// SysWOW64. A 32-bit process does not see that: the system redirects its
// System32 to SysWOW64 and offers the real System32 under the alias
// Sysnative. The scan names every file as a 64-bit process does (the true
// path, shown on the page and handed to 64-bit Explorer) and turns a path
// into this process's name for it only where it opens the file. A 64-bit
// process, and any process on 32-bit Windows, sees true paths: both
// conversions are then the identity.
#pragma once

#include <string>

#include "analysis/platform.h"

namespace vost {

struct SystemFolders {
    std::string windows;    // GetWindowsDirectoryA
    std::string system;     // GetSystemDirectoryA (System32 as this process names it)
    std::string wow64;      // GetSystemWow64DirectoryA; empty on 32-bit Windows
    std::string sysnative;  // <windows>\Sysnative in a redirected process, else empty

    // A 32-bit process on 64-bit Windows, whose System32 is SysWOW64.
    bool redirected() const { return !sysnative.empty(); }
};

// This process's folders, asked once.
const SystemFolders& systemFolders();

// The system folder of a family: on 64-bit Windows SysWOW64 for 32-bit
// modules and System32 for 64-bit ones, whatever this process's bitness; on
// 32-bit Windows System32 for both.
std::string systemFolderOf(const SystemFolders& folders, ModuleBits bits);

// A folder as a module of `bits` sees it when its process loads: on 64-bit
// Windows a 32-bit process's System32 (and what lies below it, but for the
// folders the system exempts) is SysWOW64. Other folders are unchanged.
std::string folderSeenBy(const SystemFolders& folders, ModuleBits bits, const std::string& folder);

// The true path of a file that this process names `path`: in a redirected
// process System32 becomes SysWOW64 (but for the exempt folders) and
// Sysnative becomes System32. Unchanged elsewhere.
std::string truePath(const SystemFolders& folders, const std::string& path);

// The name under which this process opens the file whose true path is
// `path`: in a redirected process System32 becomes Sysnative. Unchanged
// elsewhere.
std::string pathForThisProcess(const SystemFolders& folders, const std::string& path);

}  // namespace vost
