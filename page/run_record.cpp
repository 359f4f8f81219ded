#include "page/run_record.h"

#include <cstdio>
#include <map>
#include <type_traits>

#include "analysis/text.h"

namespace vost {

namespace {

struct KindName {
    RunEventKind kind;
    const char* name;
};
constexpr KindName kKindNames[] = {
    {RunEventKind::processStart, "start"},     {RunEventKind::processExit, "exit"},
    {RunEventKind::threadStart, "thread"},     {RunEventKind::threadExit, "thread-exit"},
    {RunEventKind::moduleLoad, "load"},        {RunEventKind::moduleUnload, "unload"},
    {RunEventKind::imageMapped, "mapped"},     {RunEventKind::loadFailed, "load-failed"},
    {RunEventKind::lookupFailed, "lookup-failed"}, {RunEventKind::exception, "exception"},
    {RunEventKind::debugString, "debug"},      {RunEventKind::note, "note"},
    {RunEventKind::ended, "ended"},            {RunEventKind::failed, "failed"},
};

const char* kindName(RunEventKind kind) {
    for (const KindName& k : kKindNames)
        if (k.kind == kind) return k.name;
    return "note";
}

struct StatusEntry {
    std::uint32_t code;
    const char* name;
};
constexpr StatusEntry kStatusNames[] = {
    {0x40010005, "DBG_CONTROL_C"},
    {0x40010006, "DBG_PRINTEXCEPTION_C"},
    {0x4001000A, "DBG_PRINTEXCEPTION_WIDE_C"},
    {0x406D1388, "MS_VC_EXCEPTION"},
    {0x80000002, "STATUS_DATATYPE_MISALIGNMENT"},
    {0x80000003, "STATUS_BREAKPOINT"},
    {0x80000004, "STATUS_SINGLE_STEP"},
    {0xC0000001, "STATUS_UNSUCCESSFUL"},
    {0xC0000002, "STATUS_NOT_IMPLEMENTED"},
    {0xC0000005, "STATUS_ACCESS_VIOLATION"},
    {0xC0000006, "STATUS_IN_PAGE_ERROR"},
    {0xC0000008, "STATUS_INVALID_HANDLE"},
    {0xC000000D, "STATUS_INVALID_PARAMETER"},
    {0xC0000017, "STATUS_NO_MEMORY"},
    {0xC000001D, "STATUS_ILLEGAL_INSTRUCTION"},
    {0xC0000022, "STATUS_ACCESS_DENIED"},
    {0xC0000025, "STATUS_NONCONTINUABLE_EXCEPTION"},
    {0xC0000026, "STATUS_INVALID_DISPOSITION"},
    {0xC0000034, "STATUS_OBJECT_NAME_NOT_FOUND"},
    {0xC000003A, "STATUS_OBJECT_PATH_NOT_FOUND"},
    {0xC000007A, "STATUS_PROCEDURE_NOT_FOUND"},
    {0xC000007B, "STATUS_INVALID_IMAGE_FORMAT"},
    {0xC000008C, "STATUS_ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008D, "STATUS_FLOAT_DENORMAL_OPERAND"},
    {0xC000008E, "STATUS_FLOAT_DIVIDE_BY_ZERO"},
    {0xC000008F, "STATUS_FLOAT_INEXACT_RESULT"},
    {0xC0000090, "STATUS_FLOAT_INVALID_OPERATION"},
    {0xC0000091, "STATUS_FLOAT_OVERFLOW"},
    {0xC0000092, "STATUS_FLOAT_STACK_CHECK"},
    {0xC0000093, "STATUS_FLOAT_UNDERFLOW"},
    {0xC0000094, "STATUS_INTEGER_DIVIDE_BY_ZERO"},
    {0xC0000095, "STATUS_INTEGER_OVERFLOW"},
    {0xC0000096, "STATUS_PRIVILEGED_INSTRUCTION"},
    {0xC000009A, "STATUS_INSUFFICIENT_RESOURCES"},
    {0xC00000FD, "STATUS_STACK_OVERFLOW"},
    {0xC0000102, "STATUS_FILE_CORRUPT_ERROR"},
    {0xC000012F, "STATUS_INVALID_IMAGE_NE_FORMAT"},
    {0xC0000130, "STATUS_INVALID_IMAGE_PROTECT"},
    {0xC0000131, "STATUS_INVALID_IMAGE_WIN_16"},
    {0xC0000135, "STATUS_DLL_NOT_FOUND"},
    {0xC0000138, "STATUS_ORDINAL_NOT_FOUND"},
    {0xC0000139, "STATUS_ENTRYPOINT_NOT_FOUND"},
    {0xC000013A, "STATUS_CONTROL_C_EXIT"},
    {0xC0000142, "STATUS_DLL_INIT_FAILED"},
    {0xC0000144, "STATUS_UNHANDLED_EXCEPTION"},
    {0xC0000194, "STATUS_POSSIBLE_DEADLOCK"},
    {0xC0000359, "STATUS_INVALID_IMAGE_WIN_32"},
    {0xC000035A, "STATUS_INVALID_IMAGE_WIN_64"},
    {0xC0000374, "STATUS_HEAP_CORRUPTION"},
    {0xC0000409, "STATUS_STACK_BUFFER_OVERRUN"},
    {0xC0000417, "STATUS_INVALID_CRUNTIME_PARAMETER"},
    {0xC0000420, "STATUS_ASSERTION_FAILURE"},
    {0xC0000428, "STATUS_INVALID_IMAGE_HASH"},
    {0xC0150002, "STATUS_SXS_CANT_GEN_ACTCTX"},
    {0xC0150004, "STATUS_SXS_ASSEMBLY_NOT_FOUND"},
    {0xE06D7363, "C++ exception"},
};

constexpr StatusEntry kWin32Names[] = {
    {2, "ERROR_FILE_NOT_FOUND"},      {3, "ERROR_PATH_NOT_FOUND"},      {5, "ERROR_ACCESS_DENIED"},
    {87, "ERROR_INVALID_PARAMETER"},  {126, "ERROR_MOD_NOT_FOUND"},     {127, "ERROR_PROC_NOT_FOUND"},
    {182, "ERROR_INVALID_ORDINAL"},   {193, "ERROR_BAD_EXE_FORMAT"},    {216, "ERROR_EXE_MACHINE_TYPE_MISMATCH"},
    {267, "ERROR_DIRECTORY"},         {740, "ERROR_ELEVATION_REQUIRED"}, {1114, "ERROR_DLL_INIT_FAILED"},
    {14001, "ERROR_SXS_CANT_GEN_ACTCTX"},
};

std::string hex(std::uint64_t value, int digits = 0) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

void escapeInto(const std::string& value, std::string& out) {
    for (char c : value) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
}

std::string unescape(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char next = value[++i];
        out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

// A decimal or 0x-hexadecimal number of at most 64 bits; false otherwise.
bool readNumber(std::string_view text, std::uint64_t& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > (base == 16 ? 16u : 20u)) return false;
    std::uint64_t result = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return false;
        const std::uint64_t next = result * std::uint64_t(base) + std::uint64_t(digit);
        if (base == 10 && next / 10 != result) return false;  // past 64 bits
        result = next;
    }
    value = result;
    return true;
}

}  // namespace

std::string runEventLine(const RunEvent& e) {
    std::string line = kindName(e.kind);
    const auto number = [&](const char* key, std::uint64_t value, bool asHex = false) {
        line += '\t';
        line += key;
        line += '=';
        line += asHex ? hex(value) : std::to_string(value);
    };
    const auto text = [&](const char* key, const std::string& value) {
        if (value.empty()) return;
        line += '\t';
        line += key;
        line += '=';
        escapeInto(value, line);
    };
    number("t", std::uint64_t(e.micros < 0 ? 0 : e.micros));
    if (e.pid) number("pid", e.pid);
    if (e.tid) number("tid", e.tid);
    if (e.parent) number("parent", e.parent);
    if (e.address) number("address", e.address, true);
    if (e.offset) number("offset", e.offset, true);
    if (e.bits) number("bits", std::uint64_t(e.bits));
    if (e.code || e.kind == RunEventKind::processExit || e.kind == RunEventKind::threadExit)
        number("code", e.code, true);
    if (e.win32) number("win32", 1);
    if (!e.firstChance) number("first", 0);
    if (e.byOrdinal) number("ordinal", e.ordinal);
    if (e.count) number("count", e.count);
    text("path", e.path);
    text("name", e.name);
    text("asked", e.asked);
    text("caller", e.caller);
    text("text", e.text);
    return line;
}

bool parseRunEventLine(std::string_view line, RunEvent& event) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t tab = line.find('\t');
    const std::string_view kind = line.substr(0, tab);
    RunEvent e;
    bool known = false;
    for (const KindName& k : kKindNames) {
        if (kind == k.name) {
            e.kind = k.kind;
            known = true;
        }
    }
    if (!known) return false;
    std::size_t at = tab;
    while (at != std::string_view::npos && at < line.size()) {
        const std::size_t next = line.find('\t', at + 1);
        const std::string_view field = line.substr(at + 1, next == std::string_view::npos ? next : next - at - 1);
        at = next;
        const std::size_t equals = field.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = field.substr(0, equals), value = field.substr(equals + 1);
        std::uint64_t n = 0;
        const auto num = [&](auto& target) {
            if (!readNumber(value, n)) return false;
            target = static_cast<std::remove_reference_t<decltype(target)>>(n);
            return true;
        };
        bool ok = true;
        if (key == "t") ok = num(e.micros);
        else if (key == "pid") ok = num(e.pid);
        else if (key == "tid") ok = num(e.tid);
        else if (key == "parent") ok = num(e.parent);
        else if (key == "address") ok = num(e.address);
        else if (key == "offset") ok = num(e.offset);
        else if (key == "bits") ok = num(e.bits);
        else if (key == "code") ok = num(e.code);
        else if (key == "count") ok = num(e.count);
        else if (key == "win32") e.win32 = value == "1";
        else if (key == "first") e.firstChance = value != "0";
        else if (key == "ordinal") {
            ok = num(e.ordinal);
            e.byOrdinal = true;
        } else if (key == "path") e.path = unescape(value);
        else if (key == "name") e.name = unescape(value);
        else if (key == "asked") e.asked = unescape(value);
        else if (key == "caller") e.caller = unescape(value);
        else if (key == "text") e.text = unescape(value);
        if (!ok) return false;
    }
    event = std::move(e);
    return true;
}

std::string quoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) return argument;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');  // before the closing quote
    return out + "\"";
}

const char* statusName(std::uint32_t code) {
    for (const StatusEntry& s : kStatusNames)
        if (s.code == code) return s.name;
    return "";
}

std::string statusText(std::uint32_t code, bool win32) {
    if (win32) {
        std::string text = "error " + std::to_string(code);
        for (const StatusEntry& s : kWin32Names)
            if (s.code == code) text += std::string(" ") + s.name;
        return text;
    }
    if (code < 0x10000) return std::to_string(code);
    std::string text = hex(code, 8);
    const char* name = statusName(code);
    if (*name) text += std::string(" ") + name;
    return text;
}

const char* startFailureMeaning(std::uint32_t code) {
    switch (code) {
    case 0xC0000135: return "a module it imports was not found";
    case 0xC0000139: return "a function it imports was not found in its module";
    case 0xC0000138: return "an ordinal it imports was not found in its module";
    case 0xC000007B: return "a module it imports is no image for its machine";
    case 0xC0000142: return "the initialisation of a module it loads failed";
    case 0xC0150002:
    case 0xC0150004: return "the side-by-side assemblies its manifest names could not be brought together";
    default: return "";
    }
}

std::vector<std::string> explainingFindingKinds(std::uint32_t code) {
    switch (code) {
    case 0xC0000135: return {"not-found"};
    case 0xC0000138:
    case 0xC0000139: return {"unresolved"};
    case 0xC000007B: return {"other-machine", "not-an-image"};
    case 0xC0150002:
    case 0xC0150004: return {"missing-assembly", "bad-manifest", "no-context"};
    default: return {};
    }
}

std::string runFileName(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string comparablePath(const std::string& path) {
    std::string out = lowerAscii(path);
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

std::string secondsText(std::int64_t micros) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", double(micros < 0 ? 0 : micros) / 1e6);
    return text;
}

RunSummary summarizeRun(const std::vector<RunEvent>& events) {
    RunSummary summary;
    std::map<std::uint32_t, std::size_t> live;  // pid -> the process of that pid that has not exited
    const auto processOf = [&](std::uint32_t pid) -> RunProcess* {
        const auto found = live.find(pid);
        return found == live.end() ? nullptr : &summary.processes[found->second];
    };
    for (const RunEvent& e : events) {
        if (e.kind == RunEventKind::processStart) {
            RunProcess process;
            process.pid = e.pid;
            process.parent = e.parent;
            process.path = e.path;
            process.bits = e.bits;
            process.startedAt = e.micros;
            live[e.pid] = summary.processes.size();
            summary.processes.push_back(std::move(process));
            continue;
        }
        switch (e.kind) {
        case RunEventKind::ended:
            summary.ended = e.text;
            summary.endedAt = e.micros;
            summary.timeoutSeconds = e.code;
            continue;
        case RunEventKind::failed: summary.failure = e.text; continue;
        case RunEventKind::note: summary.notes.push_back(e.text); continue;
        default: break;
        }
        RunProcess* p = processOf(e.pid);
        if (!p) continue;
        switch (e.kind) {
        case RunEventKind::processExit:
            p->exited = true;
            p->exitedAt = e.micros;
            p->exitCode = e.code;
            // The recorder writes a line for the first of them only.
            if (e.count > p->firstChanceExceptions) p->firstChanceExceptions = std::size_t(e.count);
            live.erase(e.pid);
            break;
        case RunEventKind::threadStart: ++p->threads; break;
        case RunEventKind::moduleLoad: {
            RunModule m;
            m.path = e.path;
            m.base = e.address;
            m.bits = e.bits;
            m.loadedAt = e.micros;
            m.caller = e.caller;
            m.asked = e.asked;
            p->modules.push_back(std::move(m));
            break;
        }
        case RunEventKind::moduleUnload:
            for (auto m = p->modules.rbegin(); m != p->modules.rend(); ++m) {
                if (m->base == e.address && m->unloadedAt < 0) {
                    m->unloadedAt = e.micros;
                    break;
                }
            }
            break;
        case RunEventKind::imageMapped: p->mappedImages.push_back(e); break;
        case RunEventKind::loadFailed: p->loadFailures.push_back(e); break;
        case RunEventKind::lookupFailed: p->lookupFailures.push_back(e); break;
        case RunEventKind::exception:
            if (e.firstChance) {
                ++p->firstChanceExceptions;
            } else {
                p->crashed = true;
                p->fatal = e;
            }
            break;
        case RunEventKind::debugString: p->debugStrings.push_back(e.text); break;
        default: break;
        }
    }
    return summary;
}

std::string runLogLine(const RunEvent& e) {
    std::string line = secondsText(e.micros);
    line.insert(0, line.size() < 11 ? 11 - line.size() : 0, ' ');
    line += "  ";
    if (e.pid) line += "[" + std::to_string(e.pid) + "] ";
    const std::string by = e.caller.empty() ? std::string() : ", called by " + runFileName(e.caller);
    switch (e.kind) {
    case RunEventKind::processStart:
        line += "start " + e.path + " (" + std::to_string(e.bits) + "-bit)";
        if (e.parent) line += ", started by [" + std::to_string(e.parent) + "]";
        break;
    case RunEventKind::processExit:
        line += "exit, code " + statusText(e.code);
        if (e.count) line += ", after " + std::to_string(e.count) + " first-chance exceptions";
        break;
    case RunEventKind::threadStart: line += "thread " + std::to_string(e.tid) + " started"; break;
    case RunEventKind::threadExit:
        line += "thread " + std::to_string(e.tid) + " ended, code " + statusText(e.code);
        break;
    case RunEventKind::moduleLoad:
        line += "load " + e.path + " at " + hex(e.address) + " (" + std::to_string(e.bits) + "-bit)";
        if (!e.asked.empty()) line += ", asked for as " + e.asked;
        line += by;
        break;
    case RunEventKind::moduleUnload: line += "unload " + e.path; break;
    case RunEventKind::imageMapped: line += "image mapped as data, not loaded as a module: " + e.path; break;
    case RunEventKind::loadFailed:
        line += "LoadLibrary(" + e.asked + ") failed: " + statusText(e.code, e.win32) + by;
        break;
    case RunEventKind::lookupFailed:
        line += "GetProcAddress(" + runFileName(e.path) + ", " +
                (e.byOrdinal ? "#" + std::to_string(e.ordinal) : e.name) + ") failed: " + statusText(e.code, e.win32) +
                by;
        break;
    case RunEventKind::exception:
        line += std::string(e.firstChance ? "first-chance exception " : "unhandled exception ") + statusText(e.code) +
                " at " + (e.path.empty() ? hex(e.address) : runFileName(e.path) + "+" + hex(e.offset));
        if (!e.firstChance) line += ": the process ends";
        break;
    case RunEventKind::debugString: line += "debug string: " + e.text; break;
    case RunEventKind::note: line += "note: " + e.text; break;
    case RunEventKind::ended: line += "recording ended: " + e.text; break;
    case RunEventKind::failed: line += "could not start: " + e.text; break;
    }
    // A debug string may hold line breaks: the log keeps one line per event.
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    return line;
}

void writeRunLog(const std::vector<RunEvent>& events, std::string& out) {
    for (const RunEvent& e : events) out += runLogLine(e) + "\n";
}

}  // namespace vost
