// vostscan: the Dependencies page's scan, headless.
#include <iostream>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#endif

#include "scanner/scanner.h"

int main(int argc, char** argv) {
#ifdef _WIN32
    // The list output is CR LF text byte for byte: no translation on the way out.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::ios::sync_with_stdio(false);
    return vost::runScanner(argc, argv, std::cout, std::cerr);
}
