/* Loaded at run time by runcases.exe and delayrun.exe; imports vostdep.dll. */
__declspec(dllimport) int dep_value(void);
__declspec(dllexport) int plug_value(void) { return dep_value() + 1; }
