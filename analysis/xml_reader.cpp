#include "analysis/xml_reader.h"

#include <cstdint>

#include "analysis/text.h"

namespace vost {

namespace {

// The document as UTF-8, its byte order mark removed; false for UTF-16 that
// is cut or holds an unpaired surrogate.
bool toUtf8(const std::string& in, std::string& out) {
    const auto byte = [&](std::size_t i) { return std::uint8_t(in[i]); };
    if (in.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        out = in.substr(3);
        return true;
    }
    const bool little = in.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE;
    const bool big = in.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF;
    if (!little && !big) {
        out = in;
        return true;
    }
    if (in.size() % 2) return false;
    out.clear();
    const auto unit = [&](std::size_t i) {
        return little ? std::uint32_t(byte(i) | byte(i + 1) << 8) : std::uint32_t(byte(i) << 8 | byte(i + 1));
    };
    for (std::size_t i = 2; i < in.size(); i += 2) {
        std::uint32_t code = unit(i);
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (i + 2 >= in.size()) return false;
            const std::uint32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;
        }
        appendUtf8(out, code);
    }
    return true;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool endsName(char c) { return isSpace(c) || c == '/' || c == '>' || c == '=' || c == '<' || c == '"' || c == '\''; }

class Parser {
public:
    Parser(const std::string& text, const std::function<void(const std::vector<XmlElement>&)>& open)
        : text_(text), open_(open) {}

    bool run(std::string& error) {
        bool root = false;
        while (at_ < text_.size()) {
            const std::size_t lt = text_.find('<', at_);
            if (lt == std::string::npos) break;
            at_ = lt;
            bool ok;
            if (startsWith("<?")) ok = skipPast("?>");
            else if (startsWith("<!--")) ok = skipPast("-->");
            else if (startsWith("<![CDATA[")) ok = skipPast("]]>");
            else if (startsWith("<!")) return fail(error, "a document type declaration");
            else if (startsWith("</")) ok = closeElement();
            else if (!root || !stack_.empty()) ok = openElement(root);
            else return fail(error, "a second root element");
            if (!ok) return fail(error, error_.empty() ? "malformed XML" : error_);
        }
        if (!stack_.empty() || !root) return fail(error, "malformed XML");
        return true;
    }

private:
    bool fail(std::string& error, const std::string& why) {
        error = why;
        return false;
    }
    bool startsWith(const char* prefix) const { return text_.compare(at_, std::char_traits<char>::length(prefix), prefix) == 0; }
    bool skipPast(const char* end) {
        const std::size_t found = text_.find(end, at_);
        if (found == std::string::npos) return false;
        at_ = found + std::char_traits<char>::length(end);
        return true;
    }
    void skipSpace() {
        while (at_ < text_.size() && isSpace(text_[at_])) ++at_;
    }
    bool name(std::string& out) {
        const std::size_t start = at_;
        while (at_ < text_.size() && !endsName(text_[at_])) ++at_;
        out = text_.substr(start, at_ - start);
        return !out.empty();
    }
    // An attribute value up to its closing quote, entities replaced.
    bool value(std::string& out) {
        if (at_ >= text_.size() || (text_[at_] != '"' && text_[at_] != '\'')) return false;
        const char quote = text_[at_++];
        out.clear();
        while (at_ < text_.size() && text_[at_] != quote) {
            const char c = text_[at_];
            if (c == '<') return false;
            if (c == '&') {
                if (!entity(out)) return false;
            } else {
                out += c;
                ++at_;
            }
            if (out.size() > kMaxXmlAttributeValue) {
                error_ = "an attribute value over 4 KiB";
                return false;
            }
        }
        if (at_ >= text_.size()) return false;
        ++at_;
        return true;
    }
    bool entity(std::string& out) {
        const std::size_t end = text_.find(';', at_);
        if (end == std::string::npos || end - at_ > 12) return false;
        const std::string name = text_.substr(at_ + 1, end - at_ - 1);
        at_ = end + 1;
        if (name == "amp") out += '&';
        else if (name == "lt") out += '<';
        else if (name == "gt") out += '>';
        else if (name == "quot") out += '"';
        else if (name == "apos") out += '\'';
        else if (name.size() > 1 && name[0] == '#') {
            const bool hexadecimal = name[1] == 'x';
            std::uint32_t code = 0;
            const std::size_t first = hexadecimal ? 2 : 1;
            if (first >= name.size()) return false;
            for (std::size_t i = first; i < name.size(); ++i) {
                const char d = name[i];
                int digit;
                if (d >= '0' && d <= '9') digit = d - '0';
                else if (hexadecimal && d >= 'a' && d <= 'f') digit = d - 'a' + 10;
                else if (hexadecimal && d >= 'A' && d <= 'F') digit = d - 'A' + 10;
                else return false;
                code = code * (hexadecimal ? 16 : 10) + std::uint32_t(digit);
                if (code > 0x10FFFF) return false;
            }
            if (code == 0 || (code >= 0xD800 && code <= 0xDFFF)) return false;
            appendUtf8(out, code);
        } else {
            error_ = "an entity reference";
            return false;
        }
        return true;
    }
    // The namespace of `prefix` in the open elements (and the one opening).
    std::string resolve(const std::string& prefix) const {
        for (std::size_t i = spaces_.size(); i-- > 0;)
            for (const auto& declared : spaces_[i])
                if (declared.first == prefix) return declared.second;
        return std::string();
    }
    static std::pair<std::string, std::string> split(const std::string& qualified) {
        const std::size_t colon = qualified.find(':');
        if (colon == std::string::npos) return {std::string(), qualified};
        return {qualified.substr(0, colon), qualified.substr(colon + 1)};
    }

    bool openElement(bool& root) {
        ++at_;
        std::string qualified;
        if (!name(qualified)) return false;
        if (stack_.size() == kMaxXmlDepth) {
            error_ = "more than 64 nested elements";
            return false;
        }
        XmlElement element;
        std::vector<std::pair<std::string, std::string>> declared;
        for (;;) {
            const std::size_t before = at_;
            skipSpace();
            if (at_ >= text_.size()) return false;
            if (text_[at_] == '>' || startsWith("/>")) break;
            if (at_ == before) return false;  // attributes are separated by white space
            std::string attribute, content;
            if (!name(attribute)) return false;
            skipSpace();
            if (at_ >= text_.size() || text_[at_] != '=') return false;
            ++at_;
            skipSpace();
            if (!value(content)) return false;
            if (attribute == "xmlns") declared.emplace_back(std::string(), content);
            else if (attribute.compare(0, 6, "xmlns:") == 0) declared.emplace_back(attribute.substr(6), content);
            else element.attributes.emplace_back(split(attribute).second, std::move(content));
        }
        const bool empty = text_[at_] == '/';
        at_ += empty ? 2 : 1;
        spaces_.push_back(std::move(declared));
        const auto parts = split(qualified);
        element.name = parts.second;
        element.space = resolve(parts.first);
        stack_.push_back(std::move(element));
        names_.push_back(qualified);
        root = true;
        open_(stack_);
        if (empty) pop();
        return true;
    }
    bool closeElement() {
        at_ += 2;
        std::string qualified;
        if (!name(qualified)) return false;
        skipSpace();
        if (at_ >= text_.size() || text_[at_] != '>' || names_.empty() || names_.back() != qualified) return false;
        ++at_;
        pop();
        return true;
    }
    void pop() {
        stack_.pop_back();
        names_.pop_back();
        spaces_.pop_back();
    }

    const std::string& text_;
    const std::function<void(const std::vector<XmlElement>&)>& open_;
    std::size_t at_ = 0;
    std::vector<XmlElement> stack_;
    std::vector<std::string> names_;
    std::vector<std::vector<std::pair<std::string, std::string>>> spaces_;
    std::string error_;
};

}  // namespace

const std::string* XmlElement::attribute(const char* local) const {
    for (const auto& each : attributes)
        if (each.first == local) return &each.second;
    return nullptr;
}

bool readXml(const std::string& document, const std::function<void(const std::vector<XmlElement>&)>& open,
             std::string& error) {
    if (document.size() > kMaxXmlSize) {
        error = "larger than 1 MiB";
        return false;
    }
    std::string text;
    if (!toUtf8(document, text)) {
        error = "malformed UTF-16";
        return false;
    }
    return Parser(text, open).run(error);
}

}  // namespace vost
