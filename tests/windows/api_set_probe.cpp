// Asks the loader itself: loads each module name of a list (one per line,
// argv[1]) with LoadLibraryA and writes where the loader found it to argv[2],
// one line per name: the name, a tab and GetModuleFileNameA of the module,
// or the name, a tab and nothing when the load failed.
#include <windows.h>

#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    std::ifstream names(argv[1]);
    std::ofstream out(argv[2], std::ios::binary);
    std::string name;
    while (std::getline(names, name)) {
        if (!name.empty() && name.back() == '\r') name.pop_back();
        if (name.empty()) continue;
        char path[MAX_PATH] = {};
        // The module stays loaded: unloading would not change the answers.
        const HMODULE module = LoadLibraryA(name.c_str());
        if (module) GetModuleFileNameA(module, path, sizeof path);
        out << name << '\t' << path << '\n';
    }
    return out ? 0 : 1;
}
