// The known DLLs of a Windows installation, from its SYSTEM registry hive
// (System32/config/SYSTEM): the values of the current control set's
// Control\Session Manager\KnownDLLs key that name a .dll. The loader maps
// these from the system folder of the importer's family whatever the search
// order would find first. A Wine prefix keeps no such hive (nor such a key):
// no known DLLs there.
#pragma once

#include <string>
#include <unordered_set>

namespace vost {

// The lower-case names of the known DLLs in the hive at `hivePath`; empty
// when the hive cannot be read or has no such key.
std::unordered_set<std::string> readKnownDlls(const std::string& hivePath);

}  // namespace vost
