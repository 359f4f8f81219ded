#include "tests/shell/json_value.h"

#include <cctype>

#include <stdexcept>

namespace vost::test {

const JsonValue& JsonValue::operator[](const std::string& key) const {
    static const JsonValue none;
    auto found = fields.find(key);
    return found == fields.end() ? none : found->second;
}

namespace {
struct Reader {
    const std::string& s;
    std::size_t i = 0;

    [[noreturn]] void fail() { throw std::runtime_error("bad JSON at " + std::to_string(i)); }
    void skip() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\n' || s[i] == '\r' || s[i] == '\t')) ++i;
    }
    char peek() {
        skip();
        if (i >= s.size()) fail();
        return s[i];
    }
    void expect(char c) {
        if (peek() != c) fail();
        ++i;
    }
    std::string readString() {
        expect('"');
        std::string out;
        while (i < s.size() && s[i] != '"') {
            if (s[i] != '\\') {
                out += s[i++];
                continue;
            }
            if (++i >= s.size()) fail();
            const char e = s[i++];
            if (e == 'u') {
                if (i + 4 > s.size()) fail();
                out += char(std::stoi(s.substr(i, 4), nullptr, 16));
                i += 4;
            } else if (e == 'n') out += '\n';
            else if (e == 't') out += '\t';
            else out += e;
        }
        expect('"');
        return out;
    }
    JsonValue read() {
        JsonValue v;
        const char c = peek();
        if (c == '{') {
            v.kind = JsonValue::object;
            ++i;
            if (peek() == '}') return ++i, v;
            for (;;) {
                std::string key = readString();
                expect(':');
                v.fields[key] = read();
                if (peek() == ',') { ++i; continue; }
                expect('}');
                return v;
            }
        }
        if (c == '[') {
            v.kind = JsonValue::array;
            ++i;
            if (peek() == ']') return ++i, v;
            for (;;) {
                v.items.push_back(read());
                if (peek() == ',') { ++i; continue; }
                expect(']');
                return v;
            }
        }
        if (c == '"') {
            v.kind = JsonValue::string;
            v.text = readString();
            return v;
        }
        if (s.compare(i, 4, "null") == 0) {
            i += 4;
            return v;
        }
        for (const std::string word : {"false", "true"})
            if (s.compare(i, word.size(), word) == 0) {
                i += word.size();
                v.kind = JsonValue::number;
                v.integer = word == "true";
                return v;
            }
        std::size_t used = 0;
        v.kind = JsonValue::number;
        try {
            v.integer = std::stoll(s.substr(i, 32), &used);
        } catch (const std::exception&) {
            fail();
        }
        i += used;
        // A fraction or exponent (seconds) is read past; `integer` keeps the whole part.
        while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '.' || s[i] == 'e' ||
                                s[i] == 'E' || s[i] == '+' || s[i] == '-'))
            ++i;
        return v;
    }
};
}  // namespace

JsonValue parseJson(const std::string& text) {
    Reader reader{text};
    return reader.read();
}

}  // namespace vost::test
