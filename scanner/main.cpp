// vostscan: the Dependencies page's scan, headless.
#include <iostream>
#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include <streambuf>
#include <string>
#include <vector>

#include "platform/win32/wide_text.h"
#endif

#include "scanner/scanner.h"

#ifdef _WIN32
namespace {

// The scanner's UTF-8 text to a standard handle: to a console as UTF-16
// (WriteConsoleW shows every character whatever the console's code page), to
// a file or pipe as the UTF-8 bytes themselves, no BOM, no CR LF translation.
class HandleOutput : public std::streambuf {
public:
    explicit HandleOutput(DWORD which) : handle_(GetStdHandle(which)) {
        DWORD mode = 0;
        console_ = handle_ && handle_ != INVALID_HANDLE_VALUE && GetConsoleMode(handle_, &mode);
    }
    ~HandleOutput() override { flushAll(); }

protected:
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) pending_ += traits_type::to_char_type(c);
        if (pending_.size() >= 64 * 1024) flushAll();
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        pending_.append(text, std::size_t(count));
        if (pending_.size() >= 64 * 1024) flushAll();
        return count;
    }
    int sync() override {
        flushAll();
        return 0;
    }

private:
    // Writes what is pending; on a console it keeps back the bytes of a
    // sequence that is not complete yet.
    void flushAll() {
        if (pending_.empty() || !handle_ || handle_ == INVALID_HANDLE_VALUE) return;
        if (!console_) {
            DWORD written = 0;
            WriteFile(handle_, pending_.data(), DWORD(pending_.size()), &written, nullptr);
            pending_.clear();
            return;
        }
        std::size_t complete = pending_.size();
        for (std::size_t back = 1; back <= 3 && back <= pending_.size(); ++back) {
            const unsigned char byte = static_cast<unsigned char>(pending_[pending_.size() - back]);
            if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
            const std::size_t need = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            if (need > back) complete = pending_.size() - back;
            break;
        }
        const std::wstring wide = vost::wideText(std::string_view(pending_.data(), complete));
        DWORD written = 0;
        WriteConsoleW(handle_, wide.data(), DWORD(wide.size()), &written, nullptr);
        pending_.erase(0, complete);
    }

    HANDLE handle_;
    bool console_ = false;
    std::string pending_;
};

}  // namespace

int main() {
    // The arguments as Unicode: the ANSI form would turn characters outside
    // the code page into look-alikes or '?', naming other files.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; wide && i < count; ++i) {
        std::string text;
        if (!vost::toUtf8(wide[i], text)) {
            std::cerr << "vostscan: argument " << i << " is no valid Unicode text\n";
            return 2;
        }
        arguments.push_back(text);
    }
    if (wide) LocalFree(wide);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);

    HandleOutput outBuffer(STD_OUTPUT_HANDLE), errBuffer(STD_ERROR_HANDLE);
    std::ostream out(&outBuffer), err(&errBuffer);
    const int status = vost::runScanner(int(arguments.size()), argv.data(), out, err);
    out.flush();
    err.flush();
    return status;
}
#else
int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    return vost::runScanner(argc, argv, std::cout, std::cerr);
}
#endif
