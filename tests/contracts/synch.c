/* Imports one function from a contract, as programs built for today's
   Windows do. Only scanned, never run. */
__declspec(dllimport) int vost_import0(void);

int main(void) { return vost_import0(); }
