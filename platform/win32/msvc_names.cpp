// Microsoft decorated names through the system's own reader,
// UnDecorateSymbolName of dbghelp.dll. The library is loaded on first use,
// by its full path in the system folder, so no copy beside a program or in
// the current folder is ever taken.
//
// Calls are serialized: dbghelp's functions are documented as single
// threaded ("calls from more than one thread to this function will likely
// result in unexpected behavior or memory corruption"), and the reader
// keeps its state in statics. Wine's happens to be reentrant, Windows' is
// not, so the lock stays; what no longer happens is a call holding it for
// long: every name is measured before (platform/common/msvc_name_size.h), a
// call writes at most kMaxReadableName characters, and `vostscan -j N`
// waits on it for microseconds.
//
// The ANSI entry is called, not UnDecorateSymbolNameW: Wine's reader (64-bit
// dbghelp) reads past the end of a truncated name, and the W entry hands it
// a copy of exactly the name's size, so it went on into stale heap bytes and
// gave a plausible reading made of another name's parameters. Called with
// our own buffer, the name is followed by enough zeros that any such read
// meets an end. Decorated names are ASCII: others are not asked, so no text
// needs converting between code pages.
//
// Both builds spell a name as LLVM's reader does (llvm-undname), but for
// spacing. Where the system's reader writes more or other words, its text
// is mended: the pointer-size mark " __ptr64" of 64-bit names is left out
// (the flag that asks the reader to leave it out, UNDNAME_NO_PTR64, does not
// reach Wine's reader, which takes 16 bits of flags); the compiler's
// special functions take LLVM's shorter names ("`vbase dtor'" for
// "`vbase destructor'"); a conversion operator's type is also written as
// its return type, before the calling convention.
#include <windows.h>

#include <mutex>
#include <string>
#include <string_view>
#include <utility>

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

bool identifierCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
}

// The text without the words " __ptr64".
std::string withoutPointerSize(std::string text) {
    static const std::string mark = " __ptr64";
    for (std::size_t at = 0; (at = text.find(mark, at)) != std::string::npos;) {
        const std::size_t end = at + mark.size();
        if (end < text.size() && identifierCharacter(text[end])) {
            at = end;
            continue;
        }
        text.erase(at, mark.size());
    }
    return text;
}

// The system's names of the compiler's special functions, and LLVM's.
constexpr std::pair<std::string_view, std::string_view> kSpecialNames[] = {
    {"`vbase destructor'", "`vbase dtor'"},
    {"`vector deleting destructor'", "`vector deleting dtor'"},
    {"`default constructor closure'", "`default ctor closure'"},
    {"`scalar deleting destructor'", "`scalar deleting dtor'"},
    {"`vector constructor iterator'", "`vector ctor iterator'"},
    {"`vector destructor iterator'", "`vector dtor iterator'"},
    {"`vector vbase constructor iterator'", "`vector vbase ctor iterator'"},
    {"`eh vector constructor iterator'", "`eh vector ctor iterator'"},
    {"`eh vector destructor iterator'", "`eh vector dtor iterator'"},
    {"`eh vector vbase constructor iterator'", "`eh vector vbase ctor iterator'"},
    {"`copy constructor closure'", "`copy ctor closure'"},
    {"`local vftable constructor closure'", "`local vftable ctor closure'"},
};

std::string withLlvmSpecialNames(std::string text) {
    for (const auto& [system, llvm] : kSpecialNames)
        for (std::size_t at = 0; (at = text.find(system, at)) != std::string::npos; at += llvm.size())
            text.replace(at, system.size(), llvm);
    return text;
}

// "public: __thiscall X::operator int(void)" as "public: int __thiscall
// X::operator int(void)": the type (up to the empty parameter list every
// conversion has) before the calling convention, the word before the
// conversion's qualified name.
std::string withConversionType(std::string text) {
    const std::size_t op = text.find("::operator ");
    const std::size_t parameters = text.rfind("(void)");
    if (op == std::string::npos || parameters == std::string::npos || parameters < op + 11) return text;
    const std::string type = text.substr(op + 11, parameters - op - 11);
    // The qualified name starts after the last space outside <...> before it.
    int depth = 0;
    std::size_t nameStart = std::string::npos;
    for (std::size_t at = op; at-- > 0;) {
        if (text[at] == '>') ++depth;
        else if (text[at] == '<') --depth;
        else if (text[at] == ' ' && depth == 0) {
            nameStart = at + 1;
            break;
        }
    }
    if (nameStart == std::string::npos || nameStart < 2) return text;
    const std::size_t space = text.rfind(' ', nameStart - 2);
    const std::size_t convention = space == std::string::npos ? 0 : space + 1;
    return text.insert(convention, type + " ");
}

}  // namespace

std::string undecorateMsvcName(const std::string& name) {
    if (name.empty() || name[0] != '?' || name.size() > kMaxDecoratedName) return std::string();
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) return std::string();
    // The name, then zeros: a reader that overruns the end finds more ends.
    std::string padded = name;
    padded.append(256, '\0');
    // Room for what the measure allows, and one more: a reading that fills
    // it was longer than measured and is not taken.
    std::string readable(kMaxReadableName + 2, '\0');
    DWORD length = 0;
    {
        std::lock_guard<std::mutex> lock(undecoratorLock);
        static const UnDecorateA undecorate = loadUndecorator();
        if (!undecorate) return std::string();
        length = undecorate(padded.c_str(), &readable[0], DWORD(readable.size()), 0);
    }
    if (length == 0 || length > kMaxReadableName) return std::string();
    readable.resize(length);
    // The name given back unchanged was not read.
    if (readable == name) return std::string();
    readable = withLlvmSpecialNames(withoutPointerSize(readable));
    return name.compare(0, 3, "??B") == 0 ? withConversionType(readable) : readable;
}

}  // namespace vost
