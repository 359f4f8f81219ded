/* The programs the recorder is tested on: one program, one case per first
   argument, each doing one thing a run record must show. Built by
   run_programs.cmake for both bitnesses. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void path_beside_me(const wchar_t* name, wchar_t* path) {
    GetModuleFileNameW(NULL, path, MAX_PATH);
    wcscpy(wcsrchr(path, L'\\') + 1, name);
}

static LONG CALLBACK go_on(EXCEPTION_POINTERS* info) {
    return info->ExceptionRecord->ExceptionCode == 0xE0000001 ? EXCEPTION_CONTINUE_EXECUTION
                                                              : EXCEPTION_CONTINUE_SEARCH;
}

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    wchar_t path[MAX_PATH];
    printf("pid %lu\n", GetCurrentProcessId());
    fflush(stdout);
    if (!strcmp(mode, "exit")) return argc > 2 ? atoi(argv[2]) : 0;
    if (!strcmp(mode, "load-present")) {  /* vostplug.dll, and with it vostdep.dll */
        HMODULE plug = LoadLibraryA("vostplug.dll");
        return plug && GetProcAddress(plug, "plug_value") ? 0 : 1;
    }
    if (!strcmp(mode, "load-missing")) return LoadLibraryA("vostnone.dll") ? 1 : 0;
    if (!strcmp(mode, "load-path")) {
        path_beside_me(L"vostplug.dll", path);
        return LoadLibraryW(path) ? 0 : 1;
    }
    if (!strcmp(mode, "load-twice-free")) {
        HMODULE a = LoadLibraryA("vostplug.dll"), b = LoadLibraryA("VOSTPLUG");
        FreeLibrary(a);
        FreeLibrary(b);
        return a == b && !GetModuleHandleA("vostplug.dll") ? 0 : 1;
    }
    if (!strcmp(mode, "lookups")) {  /* a name and an ordinal that are not there */
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        HMODULE plug = LoadLibraryA("vostplug.dll");
        return !GetProcAddress(kernel, "VostNoSuchFunction") && !GetProcAddress(plug, (LPCSTR)999) ? 0 : 1;
    }
    if (!strcmp(mode, "child")) {  /* this program again, which exits at once with 7 */
        STARTUPINFOW startup = {sizeof startup};
        PROCESS_INFORMATION info;
        wchar_t line[MAX_PATH + 16];
        DWORD code = 0;
        GetModuleFileNameW(NULL, path, MAX_PATH);
        swprintf(line, MAX_PATH + 16, L"\"%ls\" exit 7", path);
        if (!CreateProcessW(path, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info)) return 1;
        WaitForSingleObject(info.hProcess, INFINITE);
        GetExitCodeProcess(info.hProcess, &code);
        return code == 7 ? 0 : 1;
    }
    if (!strcmp(mode, "crash")) {
        *(volatile int*)(ULONG_PTR)16 = 1;
        return 1;
    }
    if (!strcmp(mode, "debugger")) return IsDebuggerPresent() ? 10 : 0;
    if (!strcmp(mode, "forever")) {
        Sleep(INFINITE);
        return 1;
    }
    if (!strcmp(mode, "exceptions")) {  /* three first-chance exceptions, each handled */
        AddVectoredExceptionHandler(1, go_on);
        for (int i = 0; i < 3; ++i) RaiseException(0xE0000001, 0, 0, NULL);
        OutputDebugStringA("runcases: three exceptions handled");
        return 0;
    }
    if (!strcmp(mode, "bench")) {
        /* Successful lookups and loads, as a busy program makes them: LOADS
           calls of a module it holds (each finds it loaded), or with "fresh"
           of one it frees each time (each maps and unmaps two modules). */
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        int lookups = argc > 2 ? atoi(argv[2]) : 100000, loads = argc > 3 ? atoi(argv[3]) : 1000;
        int fresh = argc > 4 && !strcmp(argv[4], "fresh");
        HMODULE held = fresh ? NULL : LoadLibraryA("vostplug.dll");
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        for (int i = 0; i < lookups; ++i)
            if (!GetProcAddress(kernel, i & 1 ? "GetTickCount" : "CreateFileW")) return 1;
        for (int i = 0; i < loads; ++i) {
            HMODULE plug = LoadLibraryA("vostplug.dll");
            if (!plug) return 1;
            FreeLibrary(plug);
        }
        QueryPerformanceCounter(&end);
        printf("calls %.3f ms\n", (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
        if (held) FreeLibrary(held);
        return 0;
    }
    fprintf(stderr, "runcases: unknown case %s\n", mode);
    return 2;
}
