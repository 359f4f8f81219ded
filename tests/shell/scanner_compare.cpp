#include "tests/shell/scanner_compare.h"

#include <gtest/gtest.h>

#include "analysis/text.h"
#include "platform/win32/system_folders.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"
#include "tests/windows/temp_folder.h"

namespace vost::test {

// The root's path as the page spells it: where a 32-bit process reads it
// (System32 is SysWOW64 to it), in lower case. vostscan keeps the path as it
// is given, so given this it prints what the page shows; a file of the true
// System32 keeps the name this process opens it by (Sysnative), or a 32-bit
// scanner would read its namesake.
static std::string pageSpelling(const std::string& file) {
    const SystemFolders& folders = systemFolders();
    return lowerAscii(pathForThisProcess(folders, truePath(folders, file)));
}

// vostscan.exe --json for `file`, from the test's own folder unless told.
JsonValue scannerOutput(const std::string& file, const std::string& options, const std::string& scanner,
                        bool asGiven, bool delayLoads, const std::string& after) {
    TempFolder scratch;
    const std::string outPath = scratch.path() + "\\out.json";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    HANDLE discard = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                 nullptr);
    startup.hStdError = discard;  // the scanner's own complaints; its messages are in the JSON
    const std::string program = scanner.empty() ? programFolder() + "vostscan.exe" : scanner;
    std::string command = "\"" + program + "\" " + (options.empty() ? "" : options + " ") +
                          (delayLoads ? "--delay-load " : "") + "--json \"" + (asGiven ? file : pageSpelling(file)) +
                          "\"" + (after.empty() ? "" : " " + after);
    PROCESS_INFORMATION process{};
    std::wstring wideCommand = wideText(command);  // a UTF-8 path passes whole
    if (CreateProcessW(nullptr, &wideCommand[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, 120000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(out);
    CloseHandle(discard);
    const std::string text = readWholeFile(outPath);
    return parseJson(text.substr(0, text.find('\n')));
}

static void expectSameTree(const JsonValue& want, const TreeEntry& got, const std::string& where) {
    ASSERT_EQ(got.label, want["label"].text) << where;
    EXPECT_EQ(got.hasChildren, want["hasChildren"].integer) << where << got.label;
    ASSERT_EQ(got.children.size(), want["children"].items.size()) << where << got.label;
    for (std::size_t i = 0; i < got.children.size(); ++i)
        expectSameTree(want["children"].items[i], got.children[i], where + got.label + " > ");
}

void expectPageMatchesScanner(const std::vector<TreeEntry>& tree, const std::vector<ListRow>& list,
                              const std::vector<std::string>& messages, const std::string& file, bool delayLoads) {
    const JsonValue want = scannerOutput(file, "", "", false, delayLoads);
    ASSERT_EQ(tree.size(), 1u);
    expectSameTree(want["tree"], tree[0], "");
    ASSERT_EQ(list.size(), want["list"].items.size());
    const char* keys[] = {"module", "date", "fileVersion", "productVersion", "path"};
    for (std::size_t row = 0; row < list.size(); ++row)
        for (int column = 0; column < 5; ++column)
            EXPECT_EQ(list[row][column], want["list"].items[row][keys[column]].text)
                << "row " << row << " column " << column;
    std::vector<std::string> scannerMessages;
    for (const JsonValue& m : want["messages"].items)
        scannerMessages.push_back(m["caption"].text + "|" + m["text"].text);
    EXPECT_EQ(messages, scannerMessages);
}

void expectPageMatchesScanner(const OpenedPage& opened, const std::string& file) {
    expectPageMatchesScanner(readTree(opened.page), readList(opened.page), opened.messages, file);
}

Findings findingsByModule(const JsonValue& checked) {
    Findings findings;
    for (const JsonValue& module : checked["check"]["modules"].items)
        for (const JsonValue& f : module["findings"].items) findings[lowerAscii(module["module"].text)].push_back(&f);
    return findings;
}

std::size_t copiedProblemLines(HWND page, std::string& copied) {
    OpenClipboard(page);
    EmptyClipboard();
    CloseClipboard();
    SendMessageW(page, WM_COMMAND, MAKEWPARAM(IDM_COPY_PROBLEMS, 0), 0);
    copied = clipboardText(page);
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = copied.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
    return lines;
}

}  // namespace vost::test
