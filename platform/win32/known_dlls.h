// The system's known DLLs: the Section objects of the object directories
// \KnownDlls (64-bit modules, or every module on 32-bit Windows) and
// \KnownDlls32 (32-bit modules on 64-bit Windows). The loader maps these
// from the family's system folder whatever the search order says. The
// directories hold more names than the registry's KnownDLLs list (the
// modules those import are added at boot), so they, not the registry, are
// read: once per platform object.
#pragma once

#include <mutex>
#include <set>
#include <string>

#include "analysis/platform.h"

namespace vost {

// The names (lower-cased) of the Section objects of the object directory
// `directory` (e.g. L"\\KnownDlls"); empty when it cannot be opened.
std::set<std::string> sectionNamesOf(const wchar_t* directory);

class KnownDlls {
public:
    // The system's directories; a test names directories of its own.
    explicit KnownDlls(std::wstring native = L"\\KnownDlls", std::wstring wow64 = L"\\KnownDlls32")
        : nativeDirectory_(std::move(native)), wow64Directory_(std::move(wow64)) {}

    // As AnalysisPlatform::knownDll: the path in the family's system folder
    // when `name` (".dll" appended without an extension) is known.
    std::string find(const char* name, ModuleBits bits);

private:
    std::wstring nativeDirectory_, wow64Directory_;
    std::once_flag read_;
    std::set<std::string> native_;  // \KnownDlls
    std::set<std::string> wow64_;   // \KnownDlls32
};

}  // namespace vost
