// The module search: SearchPathW with the default extension ".DLL", with a
// given folder standing where the current directory stands in the platform's
// order, so that a scan never changes the process's current directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/platform.h"

namespace vost {

class FolderListings;

// The folders searched for a plain module name referenced by a module of
// `bits`, in order: `scanFolder` (the scanned program's folder, where its
// loader looks first; never the folder of the program running the scan),
// the system folder of that family, the 16-bit system folder, the Windows folder, then the
// entries of PATH (relative and empty entries taken from `scanFolder`, as they
// would be from the current directory). Each is named as a 64-bit process
// names it and as the loader of a `bits` module sees it: on 64-bit Windows a
// 32-bit module's System32 is SysWOW64.
std::vector<std::string> moduleSearchFolders(const std::string& scanFolder, ModuleBits bits);

// As SearchPathW(NULL, name, ".DLL", ...) run with the current
// directory set to `scanFolder` in a process of `bits`, over the folders of
// moduleSearchFolders (so without the running program's folder that
// SearchPathW would look in first): the path found (UTF-8, of any length),
// empty when nothing was found. The path found is the file's true path (system_folders.h), also in
// a 32-bit process on 64-bit Windows. Names that carry a drive or a UNC start
// are checked as they are; names that start with ".\", "..\" or a single "\"
// are taken from `scanFolder` (or its drive). With `listings`, plain names
// skip folders whose listing does not have them and are looked up spelled as
// on disk (the answer is the same).
std::string searchModuleFrom(const std::string& scanFolder, const char* name, ModuleBits bits,
                             FolderListings* listings = nullptr);

}  // namespace vost
