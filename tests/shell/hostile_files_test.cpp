// Hostile files through the Windows build, with the shell taking programs'
// and DLLs' icons from the files themselves: a damaged DLL next to a sound
// program, and a sampled corruption sweep through vostscan.exe and through
// the page in a real property sheet. Nothing may crash or hang, and a fresh
// scan after the sweep, in the same process, must still complete with its
// usual icons (a fault inside the shell's icon cache would leave it locked).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "analysis/icon_resources.h"
#include "tests/shell/shell_host.h"
#include "tests/shell/page_host_fixture.h"
#include "tests/support/corrupted_files.h"
#include "tests/support/icon_images.h"
#include "tests/windows/icons_from_files.h"
#include "tests/windows/temp_folder.h"

namespace vost::test {
namespace {

std::string asText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
Bytes asBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }
bool iconReadInFile(const Bytes& bytes) { return iconReadStaysInFile(ByteView(bytes.data(), bytes.size())); }

std::string lower(std::string text) {
    CharLowerBuffA(&text[0], DWORD(text.size()));
    return text;
}

// A program of the prefix with an icon of its own.
std::string soundProgram() { return systemFolder() + "\\notepad.exe"; }

// The path inside a tree label "NAME (path [version])" or "NAME(path)".
std::string labelPath(const std::string& label) {
    const std::size_t open = label.find('(');
    if (open == std::string::npos) return "";
    std::size_t start = open + 1;
    std::size_t end = label.find(" [", start);
    if (end == std::string::npos) end = label.rfind(')');
    return label.substr(start, end - start);
}

class HostileFiles : public PageHostTest {
protected:
    IconsFromFiles fromFiles_;
};

// A page of the program shows every module's usual icon: the shell's own
// answer for its file, which for the program is its own icon.
void expectUsualIcons(const TreeEntry& item, const std::string& skipPath, int* checked) {
    const std::string path = labelPath(item.label);
    if (path != skipPath && path != "file not found" && !path.empty()) {
        EXPECT_EQ(item.image, shellSmallIcon(path)) << item.label;
        ++*checked;
    }
    for (const TreeEntry& child : item.children) expectUsualIcons(child, skipPath, checked);
}

TEST_F(HostileFiles, DamagedDllNextToASoundProgram) {
    TempFolder folder;
    const std::string program = folder.write("Viewer.exe", readWholeFile(soundProgram()));
    // comdlg32.dll, which the program imports, cut inside its headers'
    // reach: its resource directory lies past the end of the copy.
    const std::string whole = readWholeFile(systemFolder() + "\\comdlg32.dll");
    ASSERT_GT(whole.size(), 0x10000u);
    const Bytes cut = asBytes(whole.substr(0, 0x10000));
    ASSERT_FALSE(iconReadInFile(cut));
    const std::string hostile = lower(folder.write("comdlg32.dll", asText(cut)));

    OpenedPage opened = openPage(program);
    ASSERT_NE(opened.page, nullptr);
    EXPECT_EQ(recordOf(opened.ext.get()).scanState, kScanFinished);
    EXPECT_TRUE(IsWindow(opened.sheet->window()));

    const std::vector<TreeEntry> tree = readTree(opened.page);
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_NE(tree[0].image, shellTypeIcon(".exe"));  // the program's own icon
    bool listedInTree = false;
    for (const TreeEntry& child : tree[0].children)
        // (Wine may show the version of the comdlg32 already loaded.)
        if (child.label.rfind("COMDLG32.DLL (" + hostile, 0) == 0) {
            listedInTree = true;
            EXPECT_EQ(child.image, shellTypeIcon(".dll"));  // the type's icon, its file unopened
        }
    EXPECT_TRUE(listedInTree);
    bool listed = false;
    for (const ListRow& row : readList(opened.page))
        if (row[0] == "COMDLG32.DLL") {
            listed = true;
            EXPECT_EQ(row[4], hostile);
        }
    EXPECT_TRUE(listed);
    int checked = 0;
    expectUsualIcons(tree[0], hostile, &checked);
    EXPECT_GT(checked, 5);
}

// The sweep's files: damaged copies of the builder's icon images, of
// programs with icons, of small DLLs and of NE fonts (named as programs, so
// that the shell reads them as programs' icons), written into `folder`.
std::vector<std::string> sweepFiles(const TempFolder& folder, int perSource) {
    std::vector<std::pair<std::string, Bytes>> sources = {{"image.exe", buildIconPe().bytes},
                                                          {"image64.exe", buildIconPe(true).bytes},
                                                          {"image16.exe", buildIconNe().bytes},
                                                          {"image.ico", buildIconFile()}};
    for (const char* name : {"notepad.exe", "winemine.exe", "iexplore.exe", "msiexec.exe", "version.dll",
                             "msimg32.dll", "lz32.dll"}) {
        const std::string text = readWholeFile(systemFolder() + "\\" + name);
        if (!text.empty()) sources.emplace_back(name, asBytes(text));
    }
    for (const char* font : {"coure.fon", "sserife.fon"}) {
        const std::string text = readWholeFile(std::string("Z:\\usr\\share\\wine\\fonts\\") + font);
        if (!text.empty()) sources.emplace_back(std::string(font) + ".exe", asBytes(text));
    }
    std::vector<std::string> files;
    std::uint32_t seed = 1400;
    for (const auto& [name, bytes] : sources) {
        const std::size_t dot = name.rfind('.');
        int n = 0;
        for (const DamagedCopy& copy : damagedCopies(bytes, perSource, seed++))
            files.push_back(folder.write(name.substr(0, dot) + "_" + std::to_string(n++) + name.substr(dot),
                                         asText(copy.bytes)));
    }
    return files;
}

constexpr int kCopiesPerSource = 24;

struct ScannerRun {
    DWORD exitCode = 0;
    bool hung = false;
    std::string output;
};

// vostscan.exe from the test's folder on `files`, one process; a run that
// takes longer than `timeoutMs` is stopped and counted as hung.
ScannerRun runScanner(const std::vector<std::string>& files, DWORD timeoutMs) {
    TempFolder scratch;
    const std::string outPath = scratch.path() + "\\out.txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE discard = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = discard;
    std::string command = "\"" + programFolder() + "vostscan.exe\" -j 2";
    for (const std::string& file : files) command += " \"" + file + "\"";
    PROCESS_INFORMATION process{};
    ScannerRun run;
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_TIMEOUT) {
            run.hung = true;
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, 10000);
        }
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        run.exitCode = 98;
    }
    CloseHandle(out);
    CloseHandle(discard);
    run.output = readWholeFile(outPath);
    return run;
}

bool crashed(const ScannerRun& run) { return !run.hung && run.exitCode != 0 && run.exitCode != 1; }

TEST_F(HostileFiles, SweepThroughTheScanner) {
    TempFolder folder;
    const std::vector<std::string> files = sweepFiles(folder, kCopiesPerSource);
    ASSERT_GE(files.size(), 200u);
    const ULONGLONG start = GetTickCount64();
    // Batches of damaged files, each followed, in the same process, by a
    // sound program whose scan must still complete.
    constexpr std::size_t kBatch = 40;
    int crashes = 0, hangs = 0, batches = 0;
    for (std::size_t first = 0; first < files.size(); first += kBatch) {
        std::vector<std::string> batch(files.begin() + std::ptrdiff_t(first),
                                       files.begin() + std::ptrdiff_t(std::min(files.size(), first + kBatch)));
        batch.push_back(soundProgram());
        const ScannerRun run = runScanner(batch, 180000);
        ++batches;
        if (run.hung) ++hangs;
        if (crashed(run)) {
            ++crashes;
            for (const std::string& file : batch)  // name the culprit
                if (crashed(runScanner({file}, 60000))) ADD_FAILURE() << "vostscan.exe crashed on " << file;
        }
        EXPECT_FALSE(run.hung) << "batch from " << batch.front();
        EXPECT_FALSE(crashed(run)) << "exit code " << run.exitCode << ", batch from " << batch.front();
        EXPECT_NE(run.output.find("NOTEPAD.EXE("), std::string::npos) << "batch from " << batch.front();
    }
    std::printf("sweep through vostscan.exe: %zu files in %d processes, %d crashes, %d hangs, %.1f s\n",
                files.size(), batches, crashes, hangs, double(GetTickCount64() - start) / 1000);
}

TEST_F(HostileFiles, SweepThroughThePageInAPropertySheet) {
    TempFolder folder;
    const std::vector<std::string> files = sweepFiles(folder, kCopiesPerSource);
    ASSERT_GE(files.size(), 200u);
    const ULONGLONG start = GetTickCount64();
    int hangs = 0, closed = 0;
    for (const std::string& file : files) {
        OpenedPage opened = openPage(file);
        ASSERT_NE(opened.page, nullptr) << file;
        if (recordOf(opened.ext.get()).scanState != kScanFinished) {
            ++hangs;
            ADD_FAILURE() << "the scan of " << file << " did not end";
        }
        if (!IsWindow(opened.sheet->window())) ++closed;
    }
    EXPECT_EQ(closed, 0);
    std::printf("sweep through the page: %zu files, 0 crashes, %d hangs, %.1f s\n", files.size(), hangs,
                double(GetTickCount64() - start) / 1000);

    // A fresh scan in the same process completes, icons included.
    OpenedPage fresh = openPage(soundProgram());
    ASSERT_NE(fresh.page, nullptr);
    ASSERT_EQ(recordOf(fresh.ext.get()).scanState, kScanFinished);
    const std::vector<TreeEntry> tree = readTree(fresh.page);
    ASSERT_EQ(tree.size(), 1u);
    int checked = 0;
    expectUsualIcons(tree[0], "", &checked);
    EXPECT_GT(checked, 5);
}

}  // namespace
}  // namespace vost::test
