#include "tests/support/closure_generator.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>

namespace vost::test {

namespace {

std::string moduleFileName(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "L%05d.DLL", index);
    return name;
}

// The same name in one of three spellings: as on disk, all lower case, or
// with a lower-case extension. Each must find the same file and the same row.
std::string spelled(const std::string& name, unsigned variant) {
    std::string out = name;
    const std::size_t dot = out.find('.');
    for (std::size_t i = 0; i < out.size(); ++i) {
        const bool lower = variant % 3 == 1 || (variant % 3 == 2 && i > dot);
        if (lower) out[i] = char(std::tolower(static_cast<unsigned char>(out[i])));
    }
    return out;
}

}  // namespace

std::string upperName(const std::string& name) {
    std::string out = name;
    for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

GeneratedClosure generateClosure(int moduleCount, unsigned seed, bool exactCase, bool delayLoads) {
    std::mt19937 random(seed);
    // Plain modulo: the same numbers with every standard library.
    const auto pick = [&](int n) { return n <= 1 ? 0 : int(random() % unsigned(n)); };
    const auto chance = [&](int percent) { return pick(100) < percent; };

    GeneratedClosure closure;
    closure.absentName = "ABSENT.DLL";
    closure.root.fileName = "LOADROOT.EXE";
    const int n = std::max(moduleCount, 1);
    closure.modules.resize(std::size_t(n));
    for (int i = 0; i < n; ++i) closure.modules[std::size_t(i)].fileName = moduleFileName(i);
    const auto import = [&](GeneratedModule& from, const std::string& name) {
        const unsigned variant = random();
        from.imports.push_back(exactCase ? name : spelled(name, variant));
    };

    // Chains: runs of modules each importing the next. A run's head is
    // imported from a random module before it, so every module is reachable.
    const int longest = std::clamp(n / 5, 2, 800);
    std::vector<int> headOf(std::size_t(n), 0);
    for (int head = 0; head < n;) {
        const int length = 1 + pick(longest);
        const int end = std::min(n, head + length);
        for (int i = head; i < end; ++i) {
            headOf[std::size_t(i)] = head;
            if (i + 1 < end) import(closure.modules[std::size_t(i)], moduleFileName(i + 1));
        }
        if (head > 0) import(closure.modules[std::size_t(pick(head))], moduleFileName(head));
        head = end;
    }

    // A handful of popular modules imported from everywhere.
    std::vector<int> popular;
    for (int i = 0; i < std::min(n, 5); ++i) popular.push_back(pick(n));

    for (int i = 0; i < n; ++i) {
        GeneratedModule& module = closure.modules[std::size_t(i)];
        if (chance(2)) {  // a wide module
            for (int k = 20 + pick(41); k > 0; --k) import(module, moduleFileName(pick(n)));
        }
        if (chance(25)) import(module, moduleFileName(pick(i + 1)));  // back to an earlier one (or itself)
        if (chance(12)) import(module, moduleFileName(headOf[std::size_t(i)]));  // cycle within its chain
        if (chance(20)) import(module, moduleFileName(popular[std::size_t(pick(int(popular.size())))]));
        if (chance(5)) import(module, closure.absentName);
        if (chance(1)) import(module, closure.root.fileName);
        std::shuffle(module.imports.begin(), module.imports.end(), random);
    }

    import(closure.root, moduleFileName(0));
    for (int k = 0; k < 3; ++k) import(closure.root, moduleFileName(pick(n)));
    import(closure.root, closure.absentName);
    if (delayLoads) {
        const auto move = [](GeneratedModule& module) {
            std::vector<std::string> kept;
            for (std::size_t k = 0; k < module.imports.size(); ++k)
                (k % 3 == 2 ? module.delayImports : kept).push_back(module.imports[k]);
            module.imports = std::move(kept);
        };
        move(closure.root);
        for (GeneratedModule& module : closure.modules) move(module);
    }
    return closure;
}

Bytes generatedImage(const GeneratedModule& module) {
    PeImageLayout layout;
    layout.imports = module.imports;
    for (const std::string& name : module.delayImports) layout.delayImports.push_back({name, {ImportThunk{"f", 0, std::nullopt}}});
    return buildPe(layout).bytes;
}

int writeClosure(const GeneratedClosure& closure,
                 const std::function<void(const std::string&, const Bytes&)>& write) {
    write(closure.root.fileName, generatedImage(closure.root));
    for (const GeneratedModule& module : closure.modules) write(module.fileName, generatedImage(module));
    return int(closure.modules.size()) + 1;
}

}  // namespace vost::test
