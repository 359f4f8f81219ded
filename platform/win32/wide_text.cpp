#include "platform/win32/wide_text.h"

#include <windows.h>

#include <climits>

namespace vost {

namespace {

bool convertToWide(std::string_view utf8, DWORD flags, std::wstring& out) {
    out.clear();
    if (utf8.empty()) return true;
    if (utf8.size() > std::size_t(INT_MAX)) return false;
    const int length = MultiByteToWideChar(CP_UTF8, flags, utf8.data(), int(utf8.size()), nullptr, 0);
    if (length <= 0) return false;
    out.resize(std::size_t(length));
    if (MultiByteToWideChar(CP_UTF8, flags, utf8.data(), int(utf8.size()), &out[0], length) != length) {
        out.clear();
        return false;
    }
    return true;
}

bool convertToUtf8(std::wstring_view wide, DWORD flags, std::string& out) {
    out.clear();
    if (wide.empty()) return true;
    if (wide.size() > std::size_t(INT_MAX) / 3) return false;
    const int length =
        WideCharToMultiByte(CP_UTF8, flags, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0) return false;
    out.resize(std::size_t(length));
    if (WideCharToMultiByte(CP_UTF8, flags, wide.data(), int(wide.size()), &out[0], length, nullptr,
                            nullptr) != length) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace

bool toWide(std::string_view utf8, std::wstring& out) {
    return convertToWide(utf8, MB_ERR_INVALID_CHARS, out);
}

bool toUtf8(std::wstring_view wide, std::string& out) {
    return convertToUtf8(wide, WC_ERR_INVALID_CHARS, out);
}

std::wstring wideText(std::string_view utf8) {
    std::wstring out;
    convertToWide(utf8, 0, out);
    return out;
}

std::string utf8Text(std::wstring_view wide) {
    std::string out;
    convertToUtf8(wide, 0, out);
    return out;
}

bool toSystemPath(std::string_view utf8, std::wstring& out) {
    if (!toWide(utf8, out)) return false;
    if (out.size() < MAX_PATH || out.compare(0, 4, L"\\\\?\\") == 0) return true;
    const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    const bool drive = out.size() >= 3 && out[1] == L':' && separator(out[2]) &&
                       ((out[0] >= L'A' && out[0] <= L'Z') || (out[0] >= L'a' && out[0] <= L'z'));
    const bool unc = separator(out[0]) && separator(out[1]) && out[2] != L'?' && out[2] != L'.';
    if (!drive && !unc) return true;  // relative: left to the system
    for (wchar_t& c : out)
        if (c == L'/') c = L'\\';
    out = drive ? L"\\\\?\\" + out : L"\\\\?\\UNC" + out.substr(1);
    return true;
}

std::wstring systemPath(std::string_view utf8) {
    std::wstring out;
    if (!toSystemPath(utf8, out)) out.clear();
    return out;
}

}  // namespace vost
