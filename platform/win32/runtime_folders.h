// Where the managed runtimes of this Windows keep what they load: the
// Windows folder (the global assembly caches below it) and the .NET root of
// each family, as the .NET host finds it; and files and folders looked up
// by a path relative to a folder.
#pragma once

#include <string>
#include <vector>

#include "analysis/platform.h"

namespace vost {

// Asked of the system once: the .NET root of a family is, as the app host
// looks for it, DOTNET_ROOT_X64 / DOTNET_ROOT_X86, then DOTNET_ROOT (for a
// 32-bit process on 64-bit Windows DOTNET_ROOT(x86)), then the location the
// installer registered (HKLM\SOFTWARE\dotnet\Setup\InstalledVersions\<arch>
// InstallLocation, 32-bit view), then Program Files\dotnet (Program Files
// (x86)\dotnet for 32-bit processes on 64-bit Windows); the first that is a
// folder. The environment is the one the shell hands to programs it starts.
const RuntimeFolders& win32RuntimeFolders();

// `relative` ('/' or '\\' separated) below `base`, when it names a file (or,
// with `folder`, a folder) that exists; the joined absolute path, else empty.
// `reach` turns a true path into the one this process opens.
std::string win32FindEntry(const std::string& base, const std::string& relative, bool folder,
                           std::string (*reach)(const std::string& path, void* context), void* context);

// The folders directly inside `folder`.
std::vector<std::string> win32FolderNames(const std::string& folder);

}  // namespace vost
