/* Imports every kind of export of vostlib.dll, by name and by ordinal, and
   delay-loads vostlate.dll. */
int f(void); int g(void); int h(void); int hole(void);
int fwdName(void); int fwdOrd(void); int fwdDotted(void);
int fwdNoModule(void); int fwdNoFunction(void); int fwdLoop(void);
int d1(void); int d2(void);

int main(int argc, char** argv) {
    (void)argv;
    if (argc > 99)
        return f() + g() + h() + hole() + fwdName() + fwdOrd() + fwdDotted() + fwdNoModule() + fwdNoFunction() +
               fwdLoop() + d1() + d2();
    return 0;
}
