// Decorated C++ names in readable form, in both flavours: the expected forms
// are what Debian's own tools print (llvm-undname 14 for Microsoft names,
// c++filt of binutils 2.40 for Itanium ones). The system's reader on Windows
// spaces some forms differently; name, scope and parameter types must agree.
#include <gtest/gtest.h>

#include <string>

#include "platform/common/undecorate.h"

namespace vost {
namespace {

#ifdef _WIN32
// What is left when spacing and the pointer-size marks dbghelp adds are taken out.
std::string essential(std::string text) {
    for (std::size_t at; (at = text.find("__ptr64")) != std::string::npos;) text.erase(at, 7);
    std::string out;
    for (const char c : text)
        if (c != ' ') out += c;
    return out;
}
#endif

TEST(Undecorate, NamesOfBothSchemesReadAsDebiansToolsReadThem) {
    struct Case {
        const char* decorated;
        const char* readable;
    };
    const Case cases[] = {
        {"?open@File@@QAE_NPBD@Z", "public: bool __thiscall File::open(char const *)"},
        {"??0File@@QAE@XZ", "public: __thiscall File::File(void)"},
        {"??1File@@UAE@XZ", "public: virtual __thiscall File::~File(void)"},
        {"?size@?$vector@HV?$allocator@H@std@@@std@@QBEIXZ",
         "public: unsigned int __thiscall std::vector<int, class std::allocator<int>>::size(void) const"},
        {"?g_count@@3HA", "int g_count"},
        {"?Run@Worker@ns@@UEAAHPEAX_K@Z", "public: virtual int __cdecl ns::Worker::Run(void *, unsigned __int64)"},
        {"?x@@YAXP6AHH@Z@Z", "void __cdecl x(int (__cdecl *)(int))"},
        {"_ZN4File4openEPKc", "File::open(char const*)"},
        {"__ZN4File4openEPKc", "File::open(char const*)"},  // a 32-bit symbol's underscore kept
        {"_ZN2ns6Worker3RunEPvy", "ns::Worker::Run(void*, unsigned long long)"},
        {"_ZNKSt6vectorIiSaIiEE4sizeEv", "std::vector<int, std::allocator<int> >::size() const"},
        {"_Z3fooPFiiE", "foo(int (*)(int))"},
        {"_ZNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEED1Ev",
         "std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >::~basic_string()"},
        // Not decorated, or not readable: shown as they are.
        {"CreateFileW", "CreateFileW"},
        {"?", "?"},
        {"?open@File@@QAE_NPB", "?open@File@@QAE_NPB"},
        {"_ZN4File4open", "_ZN4File4open"},
        {"_Z", "_Z"},
    };
    for (const Case& c : cases) {
        const std::string got = undecorateName(c.decorated);
#ifdef _WIN32
        if (c.decorated[0] == '?') {
            EXPECT_EQ(essential(got), essential(c.readable)) << c.decorated << " read as " << got;
            continue;
        }
#endif
        EXPECT_EQ(got, c.readable) << c.decorated;
    }
}

TEST(Undecorate, HostileNamesComeBackAsTheyAre) {
    const std::string tooLong = "?" + std::string(kMaxDecoratedName, 'a') + "@@3HA";
    std::string nested = "_Z1f";  // deeply nested pointers to functions, never closed
    for (int i = 0; i < 600; ++i) nested += "PF";
    std::string templates = "?f@@YAX";
    for (int i = 0; i < 600; ++i) templates += "V?$a@";
    for (const std::string& name : {tooLong, nested, templates, std::string("_Z\0x", 4)})
        EXPECT_EQ(undecorateName(name), name) << name.substr(0, 40);
}

}  // namespace
}  // namespace vost
