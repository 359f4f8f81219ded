// Decorated C++ names in readable form, in both flavours: the expected forms
// are what Debian's own tools print (llvm-undname 14 for Microsoft names,
// llvm-cxxfilt 14 for Itanium ones, which prints these as c++filt does). The
// system's reader on Windows spaces some forms differently; name, scope and
// parameter types must agree.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

#include "analysis/pe_exports.h"
#include "platform/common/msvc_name_size.h"
#include "platform/common/undecorate.h"
#include "tests/support/hostile_names.h"

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

#ifdef _WIN32
DWORD WINAPI runWork(LPVOID work) {
    (*static_cast<const std::function<void()>*>(work))();
    return 0;
}
#else
void* runWork(void* work) {
    (*static_cast<const std::function<void()>*>(work))();
    return nullptr;
}
#endif

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VOST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(VOST_ASAN)
#define VOST_ASAN 1
#endif

// Runs `work` on a thread with a stack of the page worker's size (eight
// times that under AddressSanitizer, whose frames are that much larger).
void onPageWorkerStack(const std::function<void()>& work) {
#ifdef VOST_ASAN
    const std::size_t bytes = 8 * 256 * 1024;
#else
    const std::size_t bytes = 256 * 1024;
#endif
#ifdef _WIN32
    HANDLE thread = CreateThread(nullptr, bytes, runWork, const_cast<std::function<void()>*>(&work),
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
#else
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, bytes);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, runWork, const_cast<std::function<void()>*>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
#endif
}

// Names whose reading doubles at each level, nests past the readers'
// limits, is too long or cut: shown as they are, on a small stack, unless
// within the limits (then read, and no longer than allowed).
TEST(Undecorate, HostileNamesComeBackAsTheyAreUnlessWithinTheLimits) {
    std::vector<test::HostileName> names = test::hostileNames();
    const std::string tooLong = "?" + std::string(kMaxDecoratedName, 'a') + "@@3HA";
    std::string nested = "_Z1f";  // deeply nested pointers to functions, never closed
    for (int i = 0; i < 600; ++i) nested += "PF";
    std::string templates = "?f@@YAX";
    for (int i = 0; i < 600; ++i) templates += "V?$a@";
    for (const std::string& name : {tooLong, nested, templates, std::string("_Z\0x", 4)})
        names.push_back({name.substr(0, 20), name, false});
    onPageWorkerStack([&] {
        for (const test::HostileName& hostile : names) {
            const std::string got = undecorateName(hostile.name);
            EXPECT_EQ(got != hostile.name, hostile.read) << hostile.label << ": " << got.substr(0, 80);
            EXPECT_LE(got.size(), std::max(hostile.name.size(), kMaxReadableName)) << hostile.label;
        }
    });
}

#ifndef _WIN32
// The Microsoft names of every msvcp*/msvcr* of Wine, 32- and 64-bit: each
// reads exactly as llvm-undname reads it, and stays as it is where that
// cannot read it, or where the system's reader reads it otherwise (pointer
// variables whose two qualifiers differ).
TEST(Undecorate, WinesRuntimesReadAsLlvmUndnameReadsThem) {
    namespace fs = std::filesystem;
    std::set<std::string> names;
    for (const char* folder : {"/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"}) {
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            const std::string file = entry.path().filename().string();
            if (file.rfind("msvcp", 0) != 0 && file.rfind("msvcr", 0) != 0) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            const ByteView image(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            std::uint32_t newHeader = 0;
            ASSERT_TRUE(image.readU32(0x3C, newHeader)) << file;
            const PeExports exports = readPeExports(image, newHeader);
            for (const ExportName& name : exports.names)
                if (exports.nameOf(name).substr(0, 1) == "?") names.insert(std::string(exports.nameOf(name)));
        }
    }
    ASSERT_GT(names.size(), 10000u);
    const std::string list = testing::TempDir() + "undecorate_names.txt";
    {
        std::ofstream out(list);
        for (const std::string& name : names) out << name << '\n';
    }
    // llvm-undname writes each name, its reading (nothing where it cannot
    // read it: the error goes to stderr), a blank line.
    FILE* pipe = popen(("llvm-undname < " + list + " 2>/dev/null").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> lines;
    char buffer[16384];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        std::string line(buffer);
        if (!line.empty() && line.back() == '\n') line.pop_back();
        lines.push_back(line);
    }
    pclose(pipe);  // exits 1 when any name could not be read
    std::map<std::string, std::string> llvm;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
        if (names.count(lines[i])) llvm[lines[i]] = lines[i + 1];
    ASSERT_EQ(llvm.size(), names.size());
    std::size_t read = 0, raw = 0;
    std::set<std::string> readOtherwise;
    for (const auto& [name, reading] : llvm) {
        const std::string got = undecorateName(name);
        if (!reading.empty() && got == name) {
            readOtherwise.insert(name);
            continue;
        }
        EXPECT_EQ(got, reading.empty() ? name : reading);
        // The measure is an upper bound of the reading.
        if (!reading.empty()) {
            EXPECT_GE(msvcReadableLength(name).value_or(0), reading.size()) << name;
        }
        ++(reading.empty() ? raw : read);
    }
    EXPECT_EQ(readOtherwise, (std::set<std::string>{"?_Cltab@?$ctype@D@std@@0PEBFEB", "?x_statebuf@ios@@0QAJA"}));
    std::printf("%zu names: %zu read, %zu left as they are (llvm-undname cannot read them), %zu read otherwise by "
                "the system\n", names.size(), read, raw, readOtherwise.size());
}
#endif

}  // namespace
}  // namespace vost
