// Writes the images bench/undecorate_bench.py runs vostscan and the
// Functions dialog on (tests/support/hostile_names.h): per hostile name a
// folder NN with app.exe, which exports the name and imports it from
// hostile.dll, which exports it too, each kCopies times (so that what one
// name costs stands out from a process's start); "baseline" the same with
// an ordinary name; "all" an app.exe importing the first names from a
// hostile.dll that exports every hostile name and 5,000 ordinary ones.
// names.tsv lists the folders: number, whether the name is read, its
// length, its label.
//   hostile_name_images OUTPUT_DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/hostile_names.h"

namespace {
using namespace vost::test;

constexpr std::size_t kCopies = 100;

void write(const std::filesystem::path& path, const PeImageLayout& layout) {
    const Bytes bytes = buildPe(layout).bytes;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// app.exe and hostile.dll in `folder`, both naming `names`.
void writePair(const std::filesystem::path& folder, const std::vector<std::string>& names, std::size_t imported) {
    std::filesystem::create_directories(folder);
    write(folder / "hostile.dll", exportingNames("hostile.dll", names));
    PeImageLayout app = importingNames("hostile.dll", {names.begin(), names.begin() + std::ptrdiff_t(imported)});
    app.exports = exportingNames("app.exe", {names.begin(), names.begin() + std::ptrdiff_t(imported)}).exports;
    write(folder / "app.exe", app);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    std::ofstream list(dir / "names.tsv");
    const std::vector<HostileName> names = hostileNames();
    std::vector<std::string> all;
    for (std::size_t i = 0; i < names.size(); ++i) {
        char folder[24];
        std::snprintf(folder, sizeof folder, "%02zu", i);
        writePair(dir / folder, std::vector<std::string>(kCopies, names[i].name), kCopies);
        list << folder << '\t' << (names[i].read ? "read" : "raw") << '\t' << names[i].name.size() << '\t'
             << names[i].label << '\n';
        all.push_back(names[i].name);
    }
    writePair(dir / "baseline", std::vector<std::string>(kCopies, "?f@ns@@YAHH@Z"), kCopies);
    for (int i = 0; i < 5000; ++i) all.push_back("?f" + std::to_string(i) + "@ns@@YAHH@Z");
    writePair(dir / "all", all, 4);
    return 0;
}
