#include "tests/windows/sxs_probe_client.h"

#include <windows.h>

#include "tests/windows/temp_folder.h"

namespace vost::test {

std::vector<std::pair<std::string, std::string>> runSxsProbe(const std::string& probe, const std::string& folder,
                                                             const std::string& arguments,
                                                             const std::vector<std::string>& lines) {
    TempFolder scratch;
    std::string list;
    for (const std::string& line : lines) list += line + "\n";
    const std::string input = scratch.write("list.txt", list), output = scratch.path() + "\\answers.txt";
    std::string command =
        "\"" + probe + "\\sxs_probe.exe\" " + arguments + " \"" + input + "\" \"" + output + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, 120000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    std::vector<std::pair<std::string, std::string>> answers;
    const std::string text = readWholeFile(output);
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos) answers.emplace_back(line.substr(0, tab), line.substr(tab + 1));
    }
    return answers;
}

}  // namespace vost::test
