// Asks the loader which file each name loads under a module's activation
// context, built as the loader builds it:
//   sxs_probe <module> <resource> <names> <answers>
// <resource> 1: a program's manifest (RT_MANIFEST 1, else <module>.manifest
// beside it); 2: a DLL's own (RT_MANIFEST 2). The context is activated and
// each name of <names> (one per line) loaded with LoadLibraryExA. With
// <resource> 0 no context is built: the DLL <module> itself is loaded, as a
// program without a manifest loads it, and each name is the module the
// loader took for its imports (GetModuleHandleA). <answers>
// gets "name<TAB>GetModuleFileNameA" per name, the path empty when the load
// failed, and a last line "context<TAB>1" or "context<TAB>0" (none built).
// The probe is started in the module's folder, which also joins the DLL
// search, as a program's own folder does.
//   sxs_probe -contexts <programs> <answers>
// writes "program<TAB>1" for each program (one per line) whose context the
// system builds, "program<TAB>0" for the others.
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// The context the loader builds for `module` from its manifest `resource`.
HANDLE createContext(const std::string& module, int resource) {
    ACTCTXA request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = module.c_str();
    request.lpResourceName = MAKEINTRESOURCEA(resource);
    HANDLE context = CreateActCtxA(&request);
    const std::string external = module + ".manifest";
    if (context == INVALID_HANDLE_VALUE && resource == 1 &&
        GetFileAttributesA(external.c_str()) != INVALID_FILE_ATTRIBUTES) {
        request.dwFlags = 0;
        request.lpSource = external.c_str();
        context = CreateActCtxA(&request);
    }
    return context;
}

}  // namespace

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    if (argc == 4 && std::string(argv[1]) == "-contexts") {
        std::ifstream programs(argv[2]);
        std::ofstream out(argv[3], std::ios::binary);
        for (std::string program; std::getline(programs, program);) {
            const HANDLE context = createContext(program, 1);
            out << program << '\t' << (context != INVALID_HANDLE_VALUE) << '\n';
            if (context != INVALID_HANDLE_VALUE) ReleaseActCtx(context);
        }
        return out ? 0 : 1;
    }
    if (argc != 5) return 2;
    const std::string module = argv[1];
    SetDllDirectoryA(module.substr(0, module.find_last_of('\\')).c_str());
    const int resource = std::atoi(argv[2]);
    const HANDLE context = resource ? createContext(module, resource) : INVALID_HANDLE_VALUE;
    if (!resource) LoadLibraryExA(module.c_str(), nullptr, 0);
    ULONG_PTR cookie = 0;
    const bool active = context != INVALID_HANDLE_VALUE && ActivateActCtx(context, &cookie);

    std::ifstream names(argv[3]);
    std::ofstream out(argv[4], std::ios::binary);
    std::string name;
    while (std::getline(names, name)) {
        if (!name.empty() && name.back() == '\r') name.pop_back();
        if (name.empty()) continue;
        char path[MAX_PATH] = {};
        // A module whose own imports or initialisation fail is still found,
        // loaded without either. Modules stay loaded.
        HMODULE loaded = resource ? LoadLibraryExA(name.c_str(), nullptr, 0) : GetModuleHandleA(name.c_str());
        if (!loaded && resource) loaded = LoadLibraryExA(name.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
        if (loaded) GetModuleFileNameA(loaded, path, sizeof path);
        out << name << '\t' << path << '\n';
    }
    out << "context\t" << (active ? 1 : 0) << '\n';
    if (active) DeactivateActCtx(0, cookie);
    if (context != INVALID_HANDLE_VALUE) ReleaseActCtx(context);
    return out ? 0 : 1;
}
