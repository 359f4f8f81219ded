/* A DLL placed beside the contract programs under a contract's name. */
__declspec(dllexport) int vost_import0(void) { return 0; }
__declspec(dllexport) int vost_import4(void) { return 4; }
