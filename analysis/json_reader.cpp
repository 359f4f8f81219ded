#include "analysis/json_reader.h"

#include <cstdint>

#include "analysis/text.h"

namespace vost {

namespace {

class Parser {
public:
    explicit Parser(const std::string& text) : text_(text) {}

    bool document(JsonNode& out) {
        if (!value(out, 0)) return false;
        skip();
        return at_ == text_.size();
    }

private:
    // White space and comments.
    void skip() {
        for (;;) {
            while (at_ < text_.size() &&
                   (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n'))
                ++at_;
            if (text_.compare(at_, 2, "//") == 0) {
                const std::size_t end = text_.find('\n', at_);
                at_ = end == std::string::npos ? text_.size() : end;
            } else if (text_.compare(at_, 2, "/*") == 0) {
                const std::size_t end = text_.find("*/", at_ + 2);
                at_ = end == std::string::npos ? text_.size() : end + 2;
            } else {
                return;
            }
        }
    }
    bool literal(const char* word) {
        const std::size_t length = std::char_traits<char>::length(word);
        if (text_.compare(at_, length, word) != 0) return false;
        at_ += length;
        return true;
    }
    bool hex4(std::uint32_t& code) {
        if (at_ + 4 > text_.size()) return false;
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char d = text_[at_++];
            int digit;
            if (d >= '0' && d <= '9') digit = d - '0';
            else if (d >= 'a' && d <= 'f') digit = d - 'a' + 10;
            else if (d >= 'A' && d <= 'F') digit = d - 'A' + 10;
            else return false;
            code = code << 4 | std::uint32_t(digit);
        }
        return true;
    }
    bool string(std::string& out) {
        if (at_ >= text_.size() || text_[at_] != '"') return false;
        ++at_;
        out.clear();
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') return true;
            if (std::uint8_t(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) return false;
            const char e = text_[at_++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                std::uint32_t code = 0;
                if (!hex4(code)) return false;
                if (code >= 0xD800 && code <= 0xDBFF) {
                    std::uint32_t low = 0;
                    if (!literal("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xDC00 && code <= 0xDFFF) {
                    return false;
                }
                appendUtf8(out, code);
                break;
            }
            default: return false;
            }
        }
        return false;
    }
    bool number(std::string& out) {
        const std::size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        bool digits = false;
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c >= '0' && c <= '9') digits = true;
            else if (c != '.' && c != 'e' && c != 'E' && c != '+' && c != '-') break;
            ++at_;
        }
        out = text_.substr(start, at_ - start);
        return digits;
    }
    bool value(JsonNode& out, std::size_t depth) {
        if (depth >= kMaxJsonDepth) return false;
        skip();
        if (at_ >= text_.size()) return false;
        const char c = text_[at_];
        if (c == '{') {
            out.kind = JsonNode::Kind::object;
            ++at_;
            for (;;) {
                skip();
                if (at_ < text_.size() && text_[at_] == '}') {
                    ++at_;
                    return true;
                }
                std::pair<std::string, JsonNode> member;
                if (!string(member.first)) return false;
                skip();
                if (!literal(":") || !value(member.second, depth + 1)) return false;
                out.members.push_back(std::move(member));
                skip();
                if (literal(",")) continue;  // a trailing comma is allowed
                if (literal("}")) return true;
                return false;
            }
        }
        if (c == '[') {
            out.kind = JsonNode::Kind::array;
            ++at_;
            for (;;) {
                skip();
                if (at_ < text_.size() && text_[at_] == ']') {
                    ++at_;
                    return true;
                }
                JsonNode item;
                if (!value(item, depth + 1)) return false;
                out.items.push_back(std::move(item));
                skip();
                if (literal(",")) continue;
                if (literal("]")) return true;
                return false;
            }
        }
        if (c == '"') {
            out.kind = JsonNode::Kind::string;
            return string(out.text);
        }
        if (literal("true") || literal("false")) {
            out.kind = JsonNode::Kind::boolean;
            out.flag = text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u';
            return true;
        }
        if (literal("null")) return true;
        out.kind = JsonNode::Kind::number;
        return number(out.text);
    }

    const std::string& text_;
    std::size_t at_ = 0;
};

}  // namespace

const JsonNode* JsonNode::get(const char* key) const {
    if (kind != Kind::object) return nullptr;
    for (const auto& member : members)
        if (member.first == key) return &member.second;
    return nullptr;
}

std::string JsonNode::string(const char* key) const {
    const JsonNode* node = get(key);
    return node && node->kind == Kind::string ? node->text : std::string();
}

bool readJson(const std::string& document, JsonNode& out, std::string& error) {
    out = JsonNode();
    if (document.size() > kMaxJsonSize) {
        error = "larger than 16 MiB";
        return false;
    }
    // A byte order mark is allowed before the value.
    const std::size_t start = document.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const std::string text = start ? document.substr(start) : document;
    if (!Parser(text).document(out)) {
        out = JsonNode();
        error = "malformed JSON";
        return false;
    }
    return true;
}

}  // namespace vost
