// Asks the system's loader about a list of imports, in a process of its own
// (a module's initialisation or a failed load cannot harm the test).
//   loader_probe <list> <answers> [folder]
// Each line of <list> is "<module path or name>\t<function or #ordinal>"; the
// matching line of <answers> is 1 when GetProcAddress finds the function in
// the loaded module, 0 when the module loads but the function is not there
// or the module cannot be found, L when the module is there but cannot be
// loaded. [folder] joins the DLL search (SetDllDirectoryA); the test also
// starts the probe in it: a forwarder's module is searched for along the
// process's own load path, whose current directory stands in for the
// checked program's folder.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    if (argc > 3) SetDllDirectoryA(argv[3]);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    std::ifstream list(argv[1]);
    std::ofstream answers(argv[2]);
    std::map<std::string, HMODULE> loaded;
    std::map<std::string, bool> present;
    for (std::string line; std::getline(list, line);) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos) return 2;
        const std::string module = line.substr(0, tab), function = line.substr(tab + 1);
        auto it = loaded.find(module);
        if (it == loaded.end()) {
            HMODULE handle = LoadLibraryA(module.c_str());
            // A module whose own imports or initialisation fail is still
            // asked, loaded as the loader loads it without either.
            if (!handle) handle = LoadLibraryExA(module.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
            it = loaded.emplace(module, handle).first;
            present[module] = handle || GetFileAttributesA(module.c_str()) != INVALID_FILE_ATTRIBUTES;
        }
        if (!it->second) {
            answers << (present[module] ? "L" : "0") << '\n';
            continue;
        }
        const FARPROC proc = function[0] == '#'
                                 ? GetProcAddress(it->second, MAKEINTRESOURCEA(std::atoi(function.c_str() + 1)))
                                 : GetProcAddress(it->second, function.c_str());
        answers << (proc ? "1" : "0") << '\n';
        answers.flush();
    }
    return 0;
}
