#include "platform/win32/known_dlls.h"

#include <windows.h>
#include <winternl.h>

#include <cwchar>
#include <vector>

#include "analysis/text.h"
#include "platform/win32/handles.h"
#include "platform/win32/system_folders.h"

namespace vost {

namespace {

// One entry of NtQueryDirectoryObject's answer.
struct DirectoryEntry {
    UNICODE_STRING name;
    UNICODE_STRING typeName;
};

using OpenDirectory = NTSTATUS(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*);
using QueryDirectory = NTSTATUS(NTAPI*)(HANDLE, void*, ULONG, BOOLEAN, BOOLEAN, ULONG*, ULONG*);

constexpr ACCESS_MASK kDirectoryQuery = 0x0001;
// Far more than any system holds: a bound on a directory that keeps growing
// while it is read.
constexpr std::size_t kMostEntries = 4096;

std::string narrow(const UNICODE_STRING& text) {
    std::string name;
    for (USHORT i = 0; i < text.Length / sizeof(WCHAR); ++i) {
        const WCHAR c = text.Buffer[i];
        if (c == 0 || c > 0x7f) return std::string();  // no module name of the system's
        name += asciiLower(char(c));
    }
    return name;
}

bool isSection(const UNICODE_STRING& type) {
    static const wchar_t kSection[] = L"Section";
    return type.Buffer && type.Length == (sizeof kSection - sizeof(wchar_t)) &&
           std::wmemcmp(type.Buffer, kSection, type.Length / sizeof(WCHAR)) == 0;
}

}  // namespace

std::set<std::string> sectionNamesOf(const wchar_t* directory) {
    std::set<std::string> names;
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto open = ntdll ? reinterpret_cast<OpenDirectory>(
                                  reinterpret_cast<void*>(GetProcAddress(ntdll, "NtOpenDirectoryObject")))
                            : nullptr;
    const auto query = ntdll ? reinterpret_cast<QueryDirectory>(
                                   reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryDirectoryObject")))
                             : nullptr;
    if (!open || !query) return names;

    UNICODE_STRING name;
    name.Buffer = const_cast<wchar_t*>(directory);
    name.Length = USHORT(wcslen(directory) * sizeof(WCHAR));
    name.MaximumLength = name.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, 0, nullptr, nullptr);
    HANDLE raw = nullptr;
    if (open(&raw, kDirectoryQuery, &attributes) < 0 || !raw) return names;
    const KernelHandle handle(raw);

    // One entry per call (Wine answers no other way); `context` carries the
    // place between calls. An entry's names lie inside the same buffer.
    std::vector<std::uint8_t> buffer(8 * 1024);
    ULONG context = 0;
    for (std::size_t entries = 0; entries < kMostEntries; ++entries) {
        const BOOLEAN restart = entries == 0;
        ULONG returned = 0;
        if (query(handle.get(), buffer.data(), ULONG(buffer.size()), TRUE, restart, &context, &returned) != 0) break;
        const auto& entry = *reinterpret_cast<const DirectoryEntry*>(buffer.data());
        if (!entry.name.Buffer) break;
        if (isSection(entry.typeName)) {
            const std::string text = narrow(entry.name);
            if (!text.empty()) names.insert(text);
        }
    }
    return names;
}

std::string KnownDlls::find(const char* name, ModuleBits bits) {
    std::call_once(read_, [this] {
        native_ = sectionNamesOf(nativeDirectory_.c_str());
        if (!systemFolders().wow64.empty()) wow64_ = sectionNamesOf(wow64Directory_.c_str());
    });
    if (!name || !*name) return std::string();
    std::string file = lowerAscii(name);
    if (file.find_first_of("\\/:") != std::string::npos) return std::string();
    if (file.find('.') == std::string::npos) file += ".dll";
    // On 32-bit Windows every module takes \KnownDlls.
    const bool wow64 = bits == ModuleBits::bits32 && !systemFolders().wow64.empty();
    const std::set<std::string>& names = wow64 ? wow64_ : native_;
    if (!names.count(file)) return std::string();
    return systemFolderOf(systemFolders(), bits) + "\\" + file;
}

}  // namespace vost
