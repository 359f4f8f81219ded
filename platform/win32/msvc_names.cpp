// Microsoft decorated names through the system's own reader,
// UnDecorateSymbolName of dbghelp.dll. The library is loaded on first use,
// by its full path in the system folder, so no copy beside a program or in
// the current folder is ever taken; its functions are not safe to call from
// two threads at once, so calls are serialized.
//
// The ANSI entry is called, not UnDecorateSymbolNameW: Wine's reader (64-bit
// dbghelp) reads past the end of a truncated name, and the W entry hands it
// a copy of exactly the name's size, so it went on into stale heap bytes and
// gave a plausible reading made of another name's parameters. Called with
// our own buffer, the name is followed by enough zeros that any such read
// meets an end. Decorated names are ASCII: others are not asked, so no text
// needs converting between code pages.
#include <windows.h>

#include <mutex>
#include <string>

#include "platform/common/undecorate.h"

namespace vost {

namespace {
using UnDecorateA = DWORD(WINAPI*)(PCSTR, PSTR, DWORD, DWORD);

UnDecorateA loadUndecorator() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    const std::wstring path = std::wstring(folder, length) + L"\\dbghelp.dll";
    // Kept for the life of the process: the function may be asked again.
    const HMODULE dbghelp = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!dbghelp) return nullptr;
    return reinterpret_cast<UnDecorateA>(reinterpret_cast<void*>(GetProcAddress(dbghelp, "UnDecorateSymbolName")));
}

std::mutex undecoratorLock;
}  // namespace

std::string undecorateMsvcName(const std::string& name) {
    if (name.empty() || name[0] != '?' || name.size() > kMaxDecoratedName) return std::string();
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) return std::string();
    // The name, then zeros: a reader that overruns the end finds more ends.
    std::string padded = name;
    padded.append(256, '\0');
    std::lock_guard<std::mutex> lock(undecoratorLock);
    static const UnDecorateA undecorate = loadUndecorator();
    if (!undecorate) return std::string();
    char readable[4 * kMaxDecoratedName];
    const DWORD length = undecorate(padded.c_str(), readable, DWORD(sizeof readable), 0);
    if (length == 0 || length >= sizeof readable) return std::string();
    std::string text(readable, length);
    // The name given back unchanged was not read.
    if (text == name) return std::string();
    return text;
}

}  // namespace vost
