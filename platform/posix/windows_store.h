// The side-by-side store of a Windows folder (`<dir>/WinSxS`, any case),
// indexed once per run and shared by every scan and thread of it: a real
// store holds tens of thousands of assembly folders, and listing them again
// for each program would cost more than the scan itself.
//
// The index holds the assembly folders' names; an assembly's manifest is
// `manifests/<folder>.manifest`, looked for only when the assembly is taken.
// Windows 10 and later keep most of those manifests
// delta-compressed against a base the system holds elsewhere; such a
// manifest is recognised and not read, and the assembly's files are then
// the files its folder holds. A Wine prefix's store keeps plain-XML manifests.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "analysis/assembly_store.h"

namespace vost {

struct WindowsStore {
    std::string folder;                // the real path of the store; empty when there is none
    std::string manifests;             // its manifests folder's real path, empty when none
    AssemblyStore assemblies;

    // The real path of the manifest of the assembly folder `folder`; false
    // when the store has none.
    bool manifestOf(const std::string& assemblyFolder, std::string& path) const;
};

// The store of the Windows folder `windowsFolder` (a real path), indexed on
// the first call of the run for that folder; never null (an empty store when
// the folder has none).
std::shared_ptr<const WindowsStore> sharedWindowsStore(const std::string& windowsFolder);

// The names of the entries of `folder` that are regular files (or links to
// them), as on disk. Empty when it cannot be listed.
std::vector<std::string> filesIn(const std::string& folder);

// The real name of the entry `name` of `folder`, case ignored; empty when none.
std::string entryIgnoringCase(const std::string& folder, const std::string& name);

}  // namespace vost
