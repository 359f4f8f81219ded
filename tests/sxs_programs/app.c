/* A program or DLL importing one function of each module its build names
   (VOST_COMCTL: comctl32.dll, VOST_GDIPLUS: gdiplus.dll, VOST_CRT: the C
   runtime's rand from the import library given, VOST_LIB: vostlib of the DLL
   linked). Nothing runs the code: the loader and the scan look at the
   imports only. */
#include <windows.h>

void WINAPI InitCommonControls(void);
int WINAPI GdiplusStartup(ULONG_PTR* token, const void* input, void* output);
int rand(void);
__declspec(dllimport) int vostlib(void);

#ifdef VOST_DLL
__declspec(dllexport) int vostlib_export(int argc)
#else
int main(int argc, char** argv)
#endif
{
    if (argc < 100) return 0;
#ifdef VOST_COMCTL
    InitCommonControls();
#endif
#ifdef VOST_GDIPLUS
    GdiplusStartup(0, 0, 0);
#endif
#ifdef VOST_CRT
    return rand();
#endif
#ifdef VOST_LIB
    return vostlib();
#endif
    return 0;
}
