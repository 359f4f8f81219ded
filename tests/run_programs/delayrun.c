/* Delay-loads vostplug.dll (clang and lld write the delay-load directory):
   "call" calls into it, which loads it; without it the module is never loaded. */
#include <string.h>
__declspec(dllimport) int plug_value(void);
int main(int argc, char** argv) {
    return argc > 1 && !strcmp(argv[1], "call") ? plug_value() - 42 : 0;
}
