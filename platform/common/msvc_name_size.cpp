// The grammar followed is the one LLVM's reader accepts (its productions in
// the same order), so a name measured here is one it can read; the lengths
// are generous: each production counts the longest words either reader
// writes for it ("public: virtual ", "`vector deleting destructor'").
#include "platform/common/msvc_name_size.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/common/undecorate.h"

namespace vost {

namespace {

using Refused = NameRefused;

constexpr std::uint64_t kCap = std::uint64_t(1) << 40;

// A length, and the depth of the printed tree it stands for.
struct Text {
    std::uint64_t length = 0;
    std::uint32_t depth = 0;
};

Text words(std::uint64_t length) { return Text{length, 0}; }
Text operator+(Text a, Text b) {
    return Text{std::min(a.length + b.length, kCap), std::max(a.depth, b.depth)};
}
Text& operator+=(Text& a, Text b) { return a = a + b; }
Text below(Text t) {
    ++t.depth;
    return t;
}

// Words of each production, at the longest either reader writes.
constexpr std::uint64_t kNumber = 21;         // "-9223372036854775808"
constexpr std::uint64_t kPointer = 8;         // " * ", "(", ")"
constexpr std::uint64_t kFunctionWords = 48;  // calling convention, parentheses, " noexcept", " &&"
constexpr std::uint64_t kSymbolWords = 48;    // "protected: virtual ", "[thunk]:", "extern \"C\" "
constexpr std::uint64_t kOperatorName = 48;   // "`eh vector vbase copy constructor iterator'"
constexpr std::uint64_t kSpecialWords = 64;   // "`RTTI Class Hierarchy Descriptor'", "{for `...'}"

// The names and parameter types a reader may refer back to by number, in
// order. Every entry either reader could make is kept (the reader's own
// list is an ordered part of it), and a reference is counted at the longest
// entry from its number on; whether the number is valid is decided by
// LLVM's rule (at most ten entries, repeated names skipped, a function
// template's own name not kept).
// An ordered list of entries, kept as the longest entry from each of the
// ten numbers on.
struct Entries {
    std::size_t count = 0;
    Text longestFrom[10];

    void add(Text text) {
        for (std::size_t from = 0; from <= std::min<std::size_t>(count, 9); ++from) {
            longestFrom[from].length = std::max(longestFrom[from].length, text.length);
            longestFrom[from].depth = std::max(longestFrom[from].depth, text.depth);
        }
        ++count;
    }
};

struct Backrefs {
    Entries names;
    std::vector<std::string_view> counted;  // LLVM's entries, by their decorated text
    Entries params;
    std::size_t countedParams = 0;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

class Screen {
public:
    explicit Screen(std::string_view name) : rest_(name) {}

    std::optional<Text> whole() {
        const Text text = symbol();
        if (!rest_.empty()) return std::nullopt;
        return text;
    }

private:
    std::string_view rest_;
    unsigned nesting_ = 0;
    Backrefs refs_;

    [[noreturn]] static void fail() { throw Refused{}; }
    bool startsWith(std::string_view prefix) const { return rest_.substr(0, prefix.size()) == prefix; }
    bool consume(std::string_view prefix) {
        if (!startsWith(prefix)) return false;
        rest_.remove_prefix(prefix.size());
        return true;
    }
    bool consume(char c) {
        if (rest_.empty() || rest_[0] != c) return false;
        rest_.remove_prefix(1);
        return true;
    }
    char take() {
        if (rest_.empty()) fail();
        const char c = rest_[0];
        rest_.remove_prefix(1);
        return c;
    }
    char peek() const { return rest_.empty() ? '\0' : rest_[0]; }

    // <number> ::= [?] <digit> | [?] <hex A-P>* @
    Text number() {
        consume('?');
        if (!rest_.empty() && isDigit(rest_[0])) {
            rest_.remove_prefix(1);
            return words(kNumber);
        }
        for (std::size_t i = 0; i < rest_.size(); ++i) {
            if (rest_[i] == '@') {
                rest_.remove_prefix(i + 1);
                return words(kNumber);
            }
            if (rest_[i] < 'A' || rest_[i] > 'P') break;
        }
        fail();
    }

    void memorizeName(std::string_view key, Text text, bool llvmKeeps) {
        refs_.names.add(text);
        if (llvmKeeps && refs_.counted.size() < 10 &&
            std::find(refs_.counted.begin(), refs_.counted.end(), key) == refs_.counted.end())
            refs_.counted.push_back(key);
    }
    Text nameBackref() {
        const std::size_t index = std::size_t(take() - '0');
        if (index >= refs_.counted.size()) fail();
        return refs_.names.longestFrom[index];
    }

    // A name up to its '@'.
    Text simpleName(bool memorize) {
        const std::size_t end = rest_.find('@');
        if (end == std::string_view::npos || end == 0) fail();
        const std::string_view name = rest_.substr(0, end);
        rest_.remove_prefix(end + 1);
        if (memorize) memorizeName(name, words(name.size()), true);
        return words(name.size());
    }

    // ?$name@arguments@: a template, read with back-references of its own.
    // A symbol's own name may be a constructor's or a conversion's template:
    // `structor` and `conversion` say so.
    Text templateName(bool memorize, bool llvmKeeps, bool* structorOut = nullptr, bool* conversionOut = nullptr) {
        NestingLevel level(nesting_);
        const std::string_view start = rest_;
        consume("?$");
        Backrefs outer;
        std::swap(outer, refs_);
        bool structor = false, conversion = false;
        Text text = unqualifiedSymbolName(true, &structor, &conversion);
        text += words(4) + templateArguments();
        std::swap(outer, refs_);
        // A type or scope names no constructor or conversion.
        if (llvmKeeps && (structor || conversion)) fail();
        if (structorOut) *structorOut = structor;
        if (conversionOut) *conversionOut = conversion;
        text = below(text);
        if (memorize) memorizeName(start.substr(0, start.size() - rest_.size()), text, llvmKeeps);
        return text;
    }

    Text templateArguments() {
        Text text;
        while (!consume('@')) {
            if (rest_.empty()) fail();
            if (consume("$S") || consume("$$V") || consume("$$$V") || consume("$$Z")) continue;
            text += words(2) + templateArgument();
        }
        return text;
    }

    Text templateArgument() {
        const bool autoType = consume("$M");
        Text text;
        if (autoType) type(Qualified::Drop);  // the deduced type is not shown
        const auto prefixed = [&](char code) {
            if (autoType) return consume(code);
            if (rest_.size() < 2 || rest_[0] != '$' || rest_[1] != code) return false;
            rest_.remove_prefix(2);
            return true;
        };
        if (consume("$$Y")) return fullyQualifiedTypeName();
        if (consume("$$B")) return type(Qualified::Drop);
        if (consume("$$C")) return type(Qualified::Mangle);
        for (const char code : {'1', 'H', 'I', 'J'}) {
            if (!prefixed(code)) continue;
            if (peek() == '?') {
                // The symbol's own name is kept for references.
                const std::string_view start = rest_;
                const Text referred = symbol();
                memorizeName(start.substr(0, start.size() - rest_.size()), referred, true);
                text += referred;
            }
            for (int offsets = code == '1' ? 0 : code - 'G'; offsets > 0; --offsets) text += number();
            return text + words(kSpecialWords);
        }
        if (startsWith("$E?")) {
            consume("$E");
            return symbol() + words(2);
        }
        for (const char code : {'F', 'G'}) {
            if (!prefixed(code)) continue;
            for (int offsets = code == 'F' ? 2 : 3; offsets > 0; --offsets) text += number();
            return text + words(kSpecialWords);
        }
        if (prefixed('0')) return number();
        return type(Qualified::Drop);
    }

    // ?<code>: an operator, a constructor or destructor (named after the
    // class, so as long as the next scope), a conversion (followed by its
    // type, taken from the function's return type), a literal operator.
    // Codes that name no function (LLVM's reader would write an empty name,
    // the system's none) are refused.
    Text functionIdentifier(bool* structor, bool* conversion) {
        consume('?');
        std::string_view known = "23456789ACDEFGHIJKLMNOPQRSTUVWXYZ";
        if (consume("__")) {
            if (consume('K')) return simpleName(false) + words(kOperatorName);
            known = "ABCDGHILM";
        } else if (consume('_')) {
            known = "0123456DEFGHIJKLMNOTUV";
        } else if (consume('0') || consume('1')) {
            if (structor) *structor = true;
            return words(1);
        } else if (consume('B')) {
            if (conversion) *conversion = true;
            return words(kOperatorName);
        }
        if (known.find(take()) == std::string_view::npos) fail();
        return words(kOperatorName);
    }

    Text unqualifiedSymbolName(bool memorizeSimple, bool* structor = nullptr, bool* conversion = nullptr) {
        if (rest_.empty()) fail();
        if (isDigit(rest_[0])) return nameBackref();
        // A function template's own name: LLVM's reader does not keep it,
        // the system's does.
        if (startsWith("?$")) return templateName(true, false, structor, conversion);
        if (rest_[0] == '?') return functionIdentifier(structor, conversion);
        return simpleName(memorizeSimple);
    }

    Text unqualifiedTypeName() {
        if (rest_.empty()) fail();
        if (isDigit(rest_[0])) return nameBackref();
        if (startsWith("?$")) return templateName(true, true);
        return simpleName(true);
    }

    // ?<number>? at the start of a scope: a symbol's local scope.
    bool localScopeAhead() const {
        if (rest_.size() < 2 || rest_[0] != '?') return false;
        const std::size_t end = rest_.find('?', 1);
        if (end == std::string_view::npos || end == 1) return false;
        const std::string_view candidate = rest_.substr(1, end - 1);
        if (candidate.size() == 1) return candidate[0] == '@' || isDigit(candidate[0]);
        if (candidate.back() != '@' || candidate[0] < 'B' || candidate[0] > 'P') return false;
        for (std::size_t i = 1; i + 1 < candidate.size(); ++i)
            if (candidate[i] < 'A' || candidate[i] > 'P') return false;
        return true;
    }

    Text scopePiece() {
        if (rest_.empty()) fail();
        if (isDigit(rest_[0])) return nameBackref();
        if (startsWith("?$")) return templateName(true, true);
        if (consume("?A")) {  // `anonymous namespace', keyed by what follows
            const std::size_t end = rest_.find('@');
            if (end == std::string_view::npos) fail();
            memorizeName(rest_.substr(0, end), words(end), true);
            rest_.remove_prefix(end + 1);
            return words(24);
        }
        if (localScopeAhead()) {
            NestingLevel level(nesting_);
            consume('?');
            const Text scopeNumber = number();
            consume('?');
            return below(symbol()) + scopeNumber + words(8);
        }
        return simpleName(true);
    }

    // Scopes up to '@', each printed before "::".
    Text scopeChain(Text inner, Text* firstScope = nullptr, bool* scoped = nullptr) {
        Text text = inner;
        bool first = true;
        while (!consume('@')) {
            if (rest_.empty()) fail();
            const Text scope = scopePiece();
            if (first && firstScope) *firstScope = scope;
            if (scoped) *scoped = true;
            first = false;
            text += scope + words(2);
        }
        return text;
    }

    Text fullyQualifiedTypeName() { return scopeChain(unqualifiedTypeName()); }

    enum class Qualified { Drop, Mangle, Result };

    struct Type {
        Text text;
        bool pointer = false;
        bool memberPointer = false;
        int pointerQualifiers = 0;  // of the pointer itself: 1 const, 2 volatile, 3 both
    };

    // A..D, or Q..T for a member: none, " const", " volatile", both.
    Text qualifiers() {
        const char c = take();
        if ((c < 'A' || c > 'D') && (c < 'Q' || c > 'T')) fail();
        static constexpr std::uint64_t lengths[] = {0, 6, 9, 15};
        return words(1 + lengths[(c - 'A') % 16]);
    }
    bool isMember() {
        const char c = peek();
        return c >= 'Q' && c <= 'T';
    }
    // " __ptr64", " __restrict", " __unaligned".
    Text extQualifiers() {
        std::uint64_t length = 0;
        if (consume('E')) length += 8;
        if (consume('I')) length += 11;
        if (consume('F')) length += 12;
        return words(length);
    }

    Text type(Qualified mode) { return typeOf(mode).text; }

    Type typeOf(Qualified mode) {
        NestingLevel level(nesting_);
        Text text;
        if (mode == Qualified::Mangle) text += qualifiers();
        else if (mode == Qualified::Result && consume('?')) text += qualifiers();
        if (rest_.empty()) fail();
        Type result;
        const char c = rest_[0];
        if (c == 'T' || c == 'U' || c == 'V' || c == 'W') {
            rest_.remove_prefix(1);
            if (c == 'W' && !consume('4')) fail();
            result.text = words(8) + fullyQualifiedTypeName();
        } else if (startsWith("$$Q") || c == 'A' || c == 'P' || c == 'Q' || c == 'R' || c == 'S') {
            result = pointerType();
        } else if (c == 'Y') {
            result.text = arrayType();
        } else if (consume("$$A8@@")) {
            result.text = functionType(true);
        } else if (consume("$$A6")) {
            result.text = functionType(false);
        } else if (c == '?') {
            rest_.remove_prefix(1);
            result.text = unqualifiedTypeName();
            if (!consume('@')) fail();
        } else {
            result.text = primitive();
        }
        result.text = below(result.text + text);
        return result;
    }

    // The built-in types, at their longest spelling ("unsigned __int64").
    Text primitive() {
        if (consume("$$T")) return words(14);
        const char c = take();
        if (c == '_') {
            static constexpr std::string_view codes = "NJKWQSUPT";
            static constexpr std::uint64_t lengths[] = {4, 7, 16, 7, 7, 8, 8, 4, 14};
            const std::size_t at = codes.find(take());
            if (at == std::string_view::npos) fail();
            return words(lengths[at]);
        }
        static constexpr std::string_view codes = "XDCEFGHIJKMNO";
        static constexpr std::uint64_t lengths[] = {4, 4, 11, 13, 5, 14, 3, 12, 4, 13, 5, 6, 11};
        const std::size_t at = codes.find(c);
        if (at == std::string_view::npos) fail();
        return words(lengths[at]);
    }

    // Whether the pointer ahead points to a member: '8' (a member function)
    // or a member's qualifiers after the extended ones.
    bool memberPointerAhead() {
        if (startsWith("$$Q") || peek() == 'A') return false;
        std::string_view ahead = rest_.substr(1);
        if (!ahead.empty() && isDigit(ahead[0])) {
            if (ahead[0] != '6' && ahead[0] != '8') fail();
            return ahead[0] == '8';
        }
        for (const char ext : {'E', 'I', 'F'})
            if (!ahead.empty() && ahead[0] == ext) ahead.remove_prefix(1);
        if (ahead.empty()) fail();
        if (ahead[0] >= 'A' && ahead[0] <= 'D') return false;
        if (ahead[0] >= 'Q' && ahead[0] <= 'T') return true;
        fail();
    }

    Type pointerType() {
        Type result;
        result.pointer = true;
        const bool member = memberPointerAhead();
        // "&&", "&", "*", "* const", "* volatile", "* const volatile".
        Text text = words(kPointer);
        if (!consume("$$Q")) {
            static constexpr std::string_view codes = "APQRS";
            static constexpr std::uint64_t lengths[] = {0, 0, 6, 9, 15};
            const std::size_t code = codes.find(take());
            if (code == std::string_view::npos) fail();
            text += words(lengths[code]);
            result.pointerQualifiers = code < 2 ? 0 : int(code) - 1;
        }
        if (member) {
            result.memberPointer = true;
            text += extQualifiers();
            if (consume('8')) {
                text += fullyQualifiedTypeName();
                text += functionType(true);
            } else {
                if (!isMember()) fail();
                text += qualifiers();
                text += fullyQualifiedTypeName();
                text += type(Qualified::Drop);
            }
        } else if (consume('6')) {
            text += functionType(false);
        } else {
            text += extQualifiers();
            text += type(Qualified::Mangle);
        }
        result.text = text;
        return result;
    }

    Text arrayType() {
        consume('Y');
        const std::string_view at = rest_;
        if (consume('?')) fail();  // a negative rank
        rest_ = at;
        std::uint64_t rank = 0;
        // The rank as a number: one dimension per unit, each read from the name.
        if (!rest_.empty() && isDigit(rest_[0])) {
            rank = std::uint64_t(rest_[0] - '0') + 1;
            rest_.remove_prefix(1);
        } else {
            for (;;) {
                const char c = take();
                if (c == '@') break;
                if (c < 'A' || c > 'P') fail();
                rank = std::min<std::uint64_t>((rank << 4) + std::uint64_t(c - 'A'), kCap);
            }
        }
        if (rank == 0) fail();
        Text text;
        for (std::uint64_t i = 0; i < rank; ++i) {
            if (rest_.empty() || peek() == '?') fail();  // each dimension is read from the name
            text += number() + words(2);
        }
        if (consume("$$C")) {
            if (isMember()) fail();
            text += qualifiers();
        }
        return text + type(Qualified::Drop);
    }

    Text parameters(bool* none) {
        if (consume('X')) {
            if (none) *none = true;
            return words(4);
        }
        Text text;
        while (!startsWith("@") && !startsWith("Z")) {
            if (rest_.empty()) fail();
            if (isDigit(rest_[0])) {
                const std::size_t index = std::size_t(take() - '0');
                if (index >= refs_.countedParams) fail();
                text += refs_.params.longestFrom[index] + words(2);
                continue;
            }
            const std::size_t before = rest_.size();
            const Text parameter = type(Qualified::Drop);
            if (before - rest_.size() > 1) {
                refs_.params.add(parameter);
                if (refs_.countedParams < 10) ++refs_.countedParams;
            }
            text += parameter + words(2);
        }
        if (!consume('@')) consume('Z');  // Z: variadic
        return text + words(5);
    }

    Text functionType(bool thisQualifiers, Text* returnType = nullptr) {
        NestingLevel level(nesting_);
        Text text = words(kFunctionWords);
        if (thisQualifiers) {
            text += extQualifiers();
            if (!consume('G')) consume('H');
            text += qualifiers();
        }
        take();  // the calling convention
        if (!consume('@')) {
            const Text result = type(Qualified::Result);
            if (returnType) *returnType = result;
            text += result;
        }
        text += parameters(nullptr);
        if (!consume("_E") && !consume('Z')) fail();
        return below(text);
    }

    // <function-class>: which of them has no `this', which adjusts it.
    Text functionEncoding(Text* returnType) {
        Text text;
        consume("$$J0");
        const char c = take();
        bool global = false, noParameters = false;
        int offsets = 0;
        if (c == '9') {
            noParameters = true;
        } else if (c == 'Y' || c == 'Z') {
            global = true;
        } else if (std::string_view("CDKLST").find(c) != std::string_view::npos) {
            global = true;  // static: no `this'
        } else if (std::string_view("GHOPWX").find(c) != std::string_view::npos) {
            offsets = 1;
        } else if (c == '$') {
            offsets = consume('R') ? 4 : 2;
            const char access = take();
            if (access < '0' || access > '5') fail();
        } else if (c < 'A' || c > 'X') {
            fail();
        }
        for (; offsets > 0; --offsets) text += number();
        if (noParameters) return text + words(kSymbolWords);
        return text + words(kSymbolWords) + functionType(!global, returnType);
    }

    Text variableEncoding() {
        take();  // storage class 0-4
        const Type variable = typeOf(Qualified::Drop);
        Text text = variable.text + words(kSymbolWords);
        if (variable.pointer) {
            text += extQualifiers();
            // A pointer's own qualifiers are in its code and again after
            // the type; where the two differ, LLVM's reader believes the
            // code and the system's the qualifiers after the type, so that
            // name is read by neither ("?x@@0QAJA": "long *const x" or
            // "long * x").
            const char after = peek();
            text += qualifiers();
            const int qualifiersAfter = after >= 'Q' ? after - 'Q' : after - 'A';
            if (!variable.memberPointer && qualifiersAfter != variable.pointerQualifiers) fail();
            if (variable.memberPointer) text += fullyQualifiedTypeName();
        } else {
            text += qualifiers();
        }
        return text;
    }

    // The symbol's name, a constructor's or destructor's named after its class.
    Text symbolName(bool* conversion) {
        bool structor = false;
        Text name = unqualifiedSymbolName(true, &structor, conversion);
        Text className;
        bool scoped = false;
        name = scopeChain(name, &className, &scoped);
        if (structor) {
            if (!scoped) fail();
            name += className;
        }
        if (rest_.empty()) fail();
        return name;
    }

    // A function's encoding; a conversion names its type, read from the
    // return type, and has one.
    Text function(Text name, bool conversion) {
        Text returnType{kCap, 0};
        Text text = name + functionEncoding(&returnType);
        if (conversion) {
            if (returnType.length == kCap) fail();
            text += returnType;
        }
        return text;
    }

    Text declarator() {
        bool conversion = false;
        const Text name = symbolName(&conversion);
        if (peek() >= '0' && peek() <= '4') {
            if (conversion) fail();
            return name + variableEncoding();
        }
        return function(name, conversion);
    }

    // A string literal's bytes: at most 32 (128 from some compilers) shown,
    // each as a character or an escape of up to ten.
    Text stringLiteral() {
        if (!consume("@_")) fail();
        const char kind = take();
        if (kind != '0' && kind != '1') fail();
        number();
        const std::size_t crcEnd = rest_.find('@');
        if (crcEnd == std::string_view::npos) fail();
        rest_.remove_prefix(crcEnd + 1);
        std::uint64_t characters = 0;
        while (!consume('@')) {
            if (rest_.empty() || ++characters > 256) fail();
            if (!consume('?')) {
                take();
            } else if (consume('$')) {
                for (int i = 0; i < 2; ++i) {
                    const char c = take();
                    if (c < 'A' || c > 'P') fail();
                }
            } else {
                const char c = take();
                if (!isDigit(c) && !(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z')) fail();
            }
        }
        return words(10 * characters + kSpecialWords);
    }

    // ??_7 and the other names of what the compiler makes; nothing when the
    // name is no such name.
    std::optional<Text> specialName() {
        if (consume("?_7") || consume("?_8") || consume("?_S") || consume("?_R4")) {
            Text text = scopeChain(words(kSpecialWords));
            const char c = take();
            if (c != '6' && c != '7') fail();
            text += qualifiers();
            while (!consume('@')) text += fullyQualifiedTypeName() + words(kSpecialWords);
            return text;
        }
        if (consume("?_9")) {
            Text text = scopeChain(words(kSpecialWords));
            if (!consume("$B")) fail();
            text += number();
            if (!consume('A')) fail();
            take();
            return text + words(kSymbolWords);
        }
        if (consume("?_B") || consume("?__J")) {
            Text text = scopeChain(words(kSpecialWords));
            if (!consume("4IA") && !consume('5')) fail();
            if (!rest_.empty()) text += number();
            return text;
        }
        if (consume("?_C")) return stringLiteral();
        if (consume("?_R0")) {
            const Text text = type(Qualified::Result);
            if (!consume("@8") || !rest_.empty()) fail();
            return text + words(kSpecialWords);
        }
        if (consume("?_R1")) {
            Text text = number() + number() + number() + number();
            text += scopeChain(words(kSpecialWords));
            consume('8');
            return text;
        }
        if (consume("?_R2") || consume("?_R3")) {
            const Text text = scopeChain(words(kSpecialWords));
            if (!consume('8')) fail();
            return text;
        }
        if (consume("?__E") || consume("?__F")) {
            const bool member = consume('?');
            NestingLevel level(nesting_);
            Text text = declaratorOrFunction(member);
            return below(text) + words(kSpecialWords);
        }
        if (startsWith("?_A") || startsWith("?_P")) fail();
        return std::nullopt;
    }

    // A dynamic initializer's or atexit destructor's subject: a variable
    // (then '@' or "@@" and the function's encoding) or a function.
    Text declaratorOrFunction(bool member) {
        bool conversion = false;
        const Text name = symbolName(&conversion);
        if (peek() >= '0' && peek() <= '4') {
            if (conversion) fail();
            Text text = name + variableEncoding();
            for (int ats = member ? 2 : 1; ats > 0; --ats)
                if (!consume('@')) fail();
            return text + functionEncoding(nullptr);
        }
        if (member) fail();
        return function(name, conversion);
    }

    Text symbol() {
        NestingLevel level(nesting_);
        if (consume("??@")) {  // a name too long for the compiler, kept as its hash
            const std::size_t end = rest_.find('@');
            if (end == std::string_view::npos) fail();
            rest_.remove_prefix(end + 1);
            consume("??_R4@");
            return words(end + 10);
        }
        if (!consume('?')) fail();
        if (const std::optional<Text> special = specialName()) return below(*special);
        return below(declarator());
    }
};

}  // namespace

std::optional<std::size_t> msvcReadableLength(std::string_view name) {
    try {
        const std::optional<Text> text = Screen(name).whole();
        if (!text || text->depth > kMaxReadableDepth) return std::nullopt;
        return std::size_t(text->length);
    } catch (const Refused&) {
        return std::nullopt;
    }
}

}  // namespace vost
