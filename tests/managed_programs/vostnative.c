/* The native module the managed library calls: no imports of its own. */
__declspec(dllexport) int vost_answer(void) { return 42; }
int __stdcall DllMainCRTStartup(void* instance, unsigned long reason, void* reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return 1;
}
