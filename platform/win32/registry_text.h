// Texts and numbers read from the registry through the W functions: key
// names and values are UTF-8 here, UTF-16 in the registry, and a value may be
// of any length.
#pragma once

#include <windows.h>

#include <string>

namespace vost {

// The string value `name` (null: the key's default value) of `root\key`,
// opened with `access` (KEY_READ plus any view flag). False when the key or
// the value is missing, or the value is no string (REG_SZ, REG_EXPAND_SZ,
// unexpanded).
bool readRegistryText(HKEY root, const std::string& key, const wchar_t* name, std::string& out,
                      REGSAM access = KEY_READ);

// Whether `root\key` exists and can be opened for reading.
bool registryKeyExists(HKEY root, const std::string& key, REGSAM access = KEY_READ);

}  // namespace vost
