// closure_gen COUNT FOLDER [SEED [exact] [delay]]: writes a generated closure
// of COUNT modules and its root program into FOLDER (made if missing) and
// prints the root's path. "exact" spells every import as its file is named;
// "delay" puts every third reference in the delay-load directory.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>

#include "tests/support/closure_generator.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: closure_gen COUNT FOLDER [SEED [exact] [delay]]\n");
        return 2;
    }
    const int count = std::atoi(argv[1]);
    const std::string folder = argv[2];
    const unsigned seed = argc > 3 ? unsigned(std::strtoul(argv[3], nullptr, 10)) : 1;
    bool exactCase = false, delayLoads = false;
    for (int i = 4; i < argc; ++i) {
        exactCase |= std::string(argv[i]) == "exact";
        delayLoads |= std::string(argv[i]) == "delay";
    }
    mkdir(folder.c_str(), 0755);
    const vost::test::GeneratedClosure closure = vost::test::generateClosure(count, seed, exactCase, delayLoads);
    bool ok = true;
    vost::test::writeClosure(closure, [&](const std::string& name, const vost::test::Bytes& bytes) {
        std::ofstream file(folder + "/" + name, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        ok = ok && bool(file);
    });
    if (!ok) {
        std::fprintf(stderr, "closure_gen: cannot write into %s\n", folder.c_str());
        return 1;
    }
    std::printf("%s/%s\n", folder.c_str(), closure.root.fileName.c_str());
    return 0;
}
