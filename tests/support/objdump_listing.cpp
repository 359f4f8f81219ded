#include "tests/support/objdump_listing.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace vost::test {

std::string hexText(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

namespace {
bool isPeImage(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char header[64] = {};
    if (!in.read(reinterpret_cast<char*>(header), sizeof header) || header[0] != 'M' || header[1] != 'Z') return false;
    const std::uint32_t newHeader = header[60] | header[61] << 8 | header[62] << 16 | std::uint32_t(header[63]) << 24;
    char signature[4] = {};
    return in.seekg(newHeader) && in.read(signature, sizeof signature) && std::equal(signature, signature + 4, "PE\0\0");
}
}  // namespace

std::vector<std::filesystem::path> filesIn(const char* dir) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error))
        if (entry.is_regular_file() && isPeImage(entry.path())) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string toolOnPath(const std::string& name) {
    FILE* pipe = popen(("command -v " + name + " 2>/dev/null").c_str(), "r");
    if (!pipe) return "";
    char line[1024] = {};
    const bool found = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    std::string path = found ? line : "";
    if (!path.empty() && path.back() == '\n') path.pop_back();
    return path;
}

std::map<std::string, Listing> objdumpListings(const std::string& objdump, const std::vector<std::filesystem::path>& files) {
    std::string command = "'" + objdump + "' -p";
    for (const std::filesystem::path& file : files) command += " '" + file.string() + "'";
    std::map<std::string, Listing> listings;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return listings;
    enum { None, Addresses, Names, Imports } mode = None;
    Listing* current = nullptr;
    char buffer[8192];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        std::string text(buffer);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        const std::size_t format = text.find(":     file format ");
        if (format != std::string::npos && text[0] == '/') {
            current = &listings[text.substr(0, format)];
            mode = None;
        } else if (!current) {
            continue;
        } else if (text.empty()) {
            mode = None;
        } else if (text.rfind("Export Address Table -- ", 0) == 0) {
            mode = Addresses;
        } else if (text == "[Ordinal/Name Pointer] Table") {
            mode = Names;
        } else if (text.rfind("\tDLL Name: ", 0) == 0) {
            current->imports.push_back(text.substr(11) + ":");
            mode = Imports;
        } else if (mode == Addresses) {  // "\t[   i] +base[ ord] rva Export RVA|Forwarder RVA -- text"
            unsigned long ordinal = 0, rva = 0;
            std::sscanf(text.c_str(), " [%*u] +base[%lu] %lx", &ordinal, &rva);
            const std::size_t forward = text.find("Forwarder RVA -- ");
            const std::string target = forward == std::string::npos ? hexText(rva) : "-> " + text.substr(forward + 17);
            current->addresses.push_back(std::to_string(ordinal) + " " + target);
        } else if (mode == Names && text.rfind("\t[", 0) == 0) {  // "\t[ index] name"
            const std::size_t close = text.find(']');
            current->names.push_back(std::to_string(std::stoul(text.substr(text.find('[') + 1))) + " " +
                                     text.substr(close + 2));
        } else if (mode == Imports && text.rfind("\tvma:", 0) != 0) {  // "\tvma\thint  name" / "\tthunk\t ord  <none>"
            std::istringstream fields(text);
            std::string first, second, name;
            fields >> first >> second >> name;
            if (name == "<none>")
                current->imports.push_back("  #" + std::to_string(std::stoull(first, nullptr, 16) & 0xFFFF));
            else
                current->imports.push_back("  " + name + " " + second);
        }
    }
    pclose(pipe);
    return listings;
}

}  // namespace vost::test
