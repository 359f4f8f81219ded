/* Imports vostgone.dll, which no folder holds: the process cannot start. */
__declspec(dllimport) int gone_value(void);
int main(int argc, char** argv) {
    (void)argv;
    return argc > 99 ? gone_value() : 0;
}
