/* Imports one function from each module that contract_programs.cmake lists,
   in that order. Only scanned, never run. */
__declspec(dllimport) int vost_import0(void);
__declspec(dllimport) int vost_import1(void);
__declspec(dllimport) int vost_import2(void);
__declspec(dllimport) int vost_import3(void);
__declspec(dllimport) int vost_import4(void);
__declspec(dllimport) int vost_import5(void);

int main(void) {
    return vost_import0() + vost_import1() + vost_import2() + vost_import3() + vost_import4() + vost_import5();
}
