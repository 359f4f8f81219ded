// Known DLLs of a Windows folder's SYSTEM hive: a known DLL planted in a
// program's folder is not taken from there; other DLLs are. The hive is
// written here: a minimal empty hive, then its keys and values through
// hivex, the library vostscan reads it with.
#include <hivex.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/scanner/scanner_fixture.h"
#include "tests/support/fake_platform.h"

namespace vost::test {
namespace {

namespace fs = std::filesystem;

void put16(std::vector<char>& b, std::size_t at, std::uint16_t v) { std::memcpy(&b[at], &v, 2); }
void put32(std::vector<char>& b, std::size_t at, std::uint32_t v) { std::memcpy(&b[at], &v, 4); }

// A hive with only its root key and the security cell every key shares:
// the base block (checksummed), one 4 KiB bin, an nk and an sk cell.
void writeEmptyHive(const std::string& path) {
    std::vector<char> hive(0x2000, 0);
    std::memcpy(&hive[0], "regf", 4);
    put32(hive, 4, 1);
    put32(hive, 8, 1);
    put32(hive, 20, 1);   // major version
    put32(hive, 24, 3);   // minor version
    put32(hive, 32, 1);   // format
    put32(hive, 36, 0x20);  // root cell, from the first bin
    put32(hive, 40, 0x1000);
    put32(hive, 44, 1);
    std::uint32_t checksum = 0;
    for (std::size_t i = 0; i < 0x1FC; i += 4) {
        std::uint32_t word;
        std::memcpy(&word, &hive[i], 4);
        checksum ^= word;
    }
    put32(hive, 0x1FC, checksum);
    const std::size_t bin = 0x1000;
    std::memcpy(&hive[bin], "hbin", 4);
    put32(hive, bin + 8, 0x1000);
    // The root key at 0x20: 4-byte cell size, then the nk record.
    const std::size_t nk = bin + 0x20, sk = bin + 0x80;
    put32(hive, nk, std::uint32_t(-0x60));
    std::memcpy(&hive[nk + 4], "nk", 2);
    put16(hive, nk + 6, 0x2C);  // hive entry, not deletable, ASCII name
    put32(hive, nk + 4 + 16, 0xFFFFFFFF);  // parent
    put32(hive, nk + 4 + 28, 0xFFFFFFFF);  // subkey list
    put32(hive, nk + 4 + 32, 0xFFFFFFFF);
    put32(hive, nk + 4 + 40, 0xFFFFFFFF);  // value list
    put32(hive, nk + 4 + 44, 0x80);        // security
    put32(hive, nk + 4 + 48, 0xFFFFFFFF);  // class
    put16(hive, nk + 4 + 72, 4);
    std::memcpy(&hive[nk + 4 + 76], "ROOT", 4);
    put32(hive, sk, std::uint32_t(-0x30));
    std::memcpy(&hive[sk + 4], "sk", 2);
    put32(hive, sk + 8, 0x80);   // the list of security cells: itself alone
    put32(hive, sk + 12, 0x80);
    put32(hive, sk + 16, 1);     // keys using it
    put32(hive, sk + 20, 20);    // a self-relative descriptor, nothing in it
    hive[sk + 24] = 1;
    put16(hive, sk + 26, 0x8000);
    // The rest of the bin: one free cell.
    put32(hive, bin + 0xB0, 0x1000 - 0xB0);
    std::ofstream(path, std::ios::binary).write(hive.data(), std::streamsize(hive.size()));
}

hive_set_value text(const char* key, const char* ascii, std::string& storage) {
    storage.clear();
    for (const char* c = ascii; *c; ++c) storage += std::string(1, *c) + '\0';
    storage += std::string(2, '\0');
    return hive_set_value{const_cast<char*>(key), hive_t_REG_SZ, storage.size(), &storage[0]};
}

// The SYSTEM hive of a Windows whose current control set is 2 (set 1 lists
// other DLLs, which must not count).
void writeSystemHive(const std::string& path) {
    writeEmptyHive(path);
    hive_h* hive = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
    ASSERT_NE(nullptr, hive);
    const hive_node_h root = hivex_root(hive);
    const hive_node_h select = hivex_node_add_child(hive, root, "Select");
    std::uint32_t two = 2;
    hive_set_value current{const_cast<char*>("Current"), hive_t_REG_DWORD, 4, reinterpret_cast<char*>(&two)};
    ASSERT_EQ(0, hivex_node_set_values(hive, select, 1, &current, 0));
    const auto knownDlls = [&](const char* set, std::vector<std::pair<const char*, const char*>> values) {
        hive_node_h node = hivex_node_add_child(hive, root, set);
        for (const char* key : {"Control", "Session Manager", "KnownDLLs"}) node = hivex_node_add_child(hive, node, key);
        std::vector<std::string> storage(values.size());
        std::vector<hive_set_value> set_values;
        for (std::size_t i = 0; i < values.size(); ++i)
            set_values.push_back(text(values[i].first, values[i].second, storage[i]));
        ASSERT_EQ(0, hivex_node_set_values(hive, node, set_values.size(), set_values.data(), 0));
    };
    knownDlls("ControlSet001", {{"user32", "user32.dll"}});
    knownDlls("ControlSet002", {{"kernel32", "KERNEL32.dll"}, {"DllDirectory", "%SystemRoot%\\system32"},
                                {"DllDirectory32", "%SystemRoot%\\syswow64"}});
    ASSERT_EQ(0, hivex_commit(hive, nullptr, 0));
    hivex_close(hive);
}

TEST(VostscanKnownDlls, AKnownDllPlantedBesideTheProgramComesFromTheSystemFolder) {
    DiskFolder folder;
    for (const char* sub : {"win/System32/config", "win/SysWOW64", "app"}) fs::create_directories(folder / sub);
    writeSystemHive(folder / "win/System32/config/SYSTEM");
    folder.writePe("win/System32/kernel32.dll", {});
    folder.writePe("win/System32/user32.dll", {});
    folder.writePe("win/SysWOW64/kernel32.dll", {});
    folder.writePe("app/app.exe", {"kernel32.dll", "user32.dll"});
    folder.writePe("app/kernel32.dll", {});
    folder.writePe("app/user32.dll", {});
    const std::string app = folder / "app", win = folder / "win";

    const ScannerRun run = runVostscan({"--json", "--windows", folder / "win", folder / "app/app.exe"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.out.find(win + "/SysWOW64/kernel32.dll\"")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("\"foundBy\":\"knownDll\"")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find(app + "/user32.dll\"")) << run.out;  // known in set 1 only
    EXPECT_EQ(std::string::npos, run.out.find(app + "/kernel32.dll\"")) << run.out;
    // Without the Windows folder the program's folder wins, as the search says.
    const ScannerRun plain = runVostscan({"--json", folder / "app/app.exe"});
    EXPECT_NE(std::string::npos, plain.out.find(app + "/kernel32.dll\"")) << plain.out;
}

}  // namespace
}  // namespace vost::test
