#include "tests/windows/temp_folder.h"

#include <windows.h>

#include <fstream>
#include <sstream>

namespace vost::test {

namespace {
// Wide throughout, so that entries named outside the ANSI code page go too.
void removeTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring full = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) removeTree(full);
            else DeleteFileW(full.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

// The temporary folder's ANSI path (GetTempPathA's) as UTF-16.
std::wstring fromAnsi(const std::string& text) {
    std::wstring out(text.size() + 1, L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], int(out.size()));
    out.resize(length > 0 ? std::size_t(length - 1) : 0);
    return out;
}
}  // namespace

TempFolder::TempFolder() {
    char base[MAX_PATH] = {};
    GetTempPathA(sizeof base, base);
    static int counter = 0;
    for (;;) {
        path_ = std::string(base) + "vost-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++counter);
        if (CreateDirectoryA(path_.c_str(), nullptr)) break;
    }
}

TempFolder::~TempFolder() { removeTree(fromAnsi(path_)); }

std::string TempFolder::makeFolder(const std::string& relative) const {
    std::string full = path_;
    std::size_t start = 0;
    while (start < relative.size()) {
        std::size_t end = relative.find('\\', start);
        if (end == std::string::npos) end = relative.size();
        full += "\\" + relative.substr(start, end - start);
        CreateDirectoryA(full.c_str(), nullptr);
        start = end + 1;
    }
    return full;
}

std::string TempFolder::write(const std::string& relative, const std::string& bytes) const {
    const std::size_t cut = relative.find_last_of('\\');
    if (cut != std::string::npos) makeFolder(relative.substr(0, cut));
    const std::string full = path_ + "\\" + relative;
    std::ofstream(full, std::ios::binary | std::ios::trunc) << bytes;
    return full;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string systemFolder() {
    char buffer[MAX_PATH] = {};
    GetSystemDirectoryA(buffer, sizeof buffer);
    return buffer;
}

}  // namespace vost::test
