/* Imported by vostplug.dll: loaded with it, never asked for by name. */
__declspec(dllexport) int dep_value(void) { return 41; }
