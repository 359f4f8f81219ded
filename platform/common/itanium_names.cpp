// The tree is LLVM's, parsed and printed by its header-only demangler (the
// same in every build); the measure walks it in between. The spelling is
// LLVM's (llvm-cxxfilt's), which differs from GNU c++filt's in a few forms:
// "'lambda'(int)" for "{lambda(int)#1}", "std::string" where GNU spells out
// std::basic_string<...> before "::".
#include "platform/common/itanium_names.h"

#include <llvm/Demangle/ItaniumDemangle.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "platform/common/undecorate.h"

namespace llvm::itanium_demangle {
// <discriminator> ::= _ <digit> | __ <number> _, or digits ending the name:
// what follows a local name's entity. The header declares it; LLVM's library
// defines it, and the Windows builds do not link that library.
const char* parse_discriminator(const char* first, const char* last) {
    if (first == last) return first;
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    if (*first == '_') {
        const char* at = first + 1;
        if (at == last) return first;
        if (digit(*at)) return at + 1;
        if (*at != '_') return first;
        for (++at; at != last && digit(*at);) ++at;
        return at != last && *at == '_' ? at + 1 : first;
    }
    if (!digit(*first)) return first;
    const char* at = first;
    while (at != last && digit(*at)) ++at;
    return at == last ? last : first;
}
}  // namespace llvm::itanium_demangle

namespace vost {

namespace {

using llvm::itanium_demangle::AbstractManglingParser;
using llvm::itanium_demangle::Node;
using llvm::itanium_demangle::NodeArray;
using llvm::itanium_demangle::SpecialSubKind;
using llvm::itanium_demangle::StringView;

// Thrown out of the parser when the name needs more than it is granted.
using Refused = NameRefused;

// The parser's nodes come from blocks of a fixed total: a name that needs
// more is refused, whatever its length.
class BoundedArena {
public:
    void reset() {
        blocks_.clear();
        blockSize_ = used_ = total_ = 0;
    }

    template <typename T, typename... Args>
    Node* makeNode(Args&&... args) {
        return new (allocate(sizeof(T))) T(std::forward<Args>(args)...);
    }
    void* allocateNodeArray(std::size_t count) {
        if (count > kBudget / sizeof(Node*)) throw Refused{};
        return allocate(count * sizeof(Node*));
    }

private:
    static constexpr std::size_t kBudget = 1024 * 1024;
    static constexpr std::size_t kAlign = alignof(std::max_align_t);

    void* allocate(std::size_t bytes) {
        bytes = (bytes + kAlign - 1) & ~(kAlign - 1);
        if (blocks_.empty() || bytes > blockSize_ - used_) {
            const std::size_t size = std::max(bytes, blockSize_ ? 2 * blockSize_ : std::size_t(4096));
            if (size > kBudget - total_) throw Refused{};
            blocks_.emplace_back(new std::max_align_t[(size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t)]);
            blockSize_ = size;
            used_ = 0;
            total_ += size;
        }
        void* at = reinterpret_cast<char*>(blocks_.back().get()) + used_;
        used_ += bytes;
        return at;
    }

    std::vector<std::unique_ptr<std::max_align_t[]>> blocks_;
    std::size_t blockSize_ = 0, used_ = 0, total_ = 0;
};

// LLVM's parser, with a count of the grammar's nesting: every cycle of its
// recursion passes through one of these productions, so the count bounds
// the depth of the stack the parse takes.
struct BoundedParser : AbstractManglingParser<BoundedParser, BoundedArena> {
    using Base = AbstractManglingParser<BoundedParser, BoundedArena>;
    using Base::Base;
    unsigned nesting = 0;

    Node* parseType() {
        NestingLevel level(nesting);
        return Base::parseType();
    }
    Node* parseExpr() {
        NestingLevel level(nesting);
        return Base::parseExpr();
    }
    Node* parseEncoding() {
        NestingLevel level(nesting);
        return Base::parseEncoding();
    }
    Node* parseName(NameState* state = nullptr) {
        NestingLevel level(nesting);
        return Base::parseName(state);
    }
    Node* parseTemplateArg() {
        NestingLevel level(nesting);
        return Base::parseTemplateArg();
    }
    Node* parseUnresolvedName() {
        NestingLevel level(nesting);
        return Base::parseUnresolvedName();
    }
};

// Characters a node writes beyond its texts and its parts: punctuation,
// keywords and the runtime's own words ("construction vtable for ",
// "{lambda(", "{parm#1}"); generous, so the sum bounds the reading.
std::uint64_t ownWords(Node::Kind kind, std::optional<SpecialSubKind> special) {
    switch (kind) {
    case Node::KSpecialSubstitution:
    case Node::KExpandedSpecialSubstitution:
        // "std::allocator", "std::basic_string", or one of the standard
        // streams and strings spelled out in full ("std::basic_string<char,
        // std::char_traits<char>, std::allocator<char> >").
        if (special == SpecialSubKind::allocator) return 14;
        if (special == SpecialSubKind::basic_string) return 17;
        return 72;
    case Node::KCtorVtableSpecialName:
    case Node::KFunctionEncoding:
    case Node::KFunctionType:
    case Node::KIntegerLiteral:
    case Node::KFloatLiteral:
    case Node::KDoubleLiteral:
    case Node::KLongDoubleLiteral:
        return 48;
    case Node::KClosureTypeName:
    case Node::KLambdaExpr:
    case Node::KUnnamedTypeName:
    case Node::KLocalName:
    case Node::KQualType:
    case Node::KNewExpr:
    case Node::KDeleteExpr:
    case Node::KFoldExpr:
    case Node::KSizeofParamPackExpr:
    case Node::KFunctionParam:
    case Node::KStringLiteral:
    case Node::KVectorType:
    case Node::KPixelVectorType:
    case Node::KEnableIfAttr:
    case Node::KPointerToMemberConversionExpr:
    case Node::KSubobjectExpr:
    case Node::KTemplateTemplateParamDecl:
    case Node::KTypeTemplateParamDecl:
    case Node::KNonTypeTemplateParamDecl:
    case Node::KSyntheticTemplateParamName:
    case Node::KNoexceptSpec:
    case Node::KDynamicExceptionSpec:
    case Node::KBinaryFPType:
        return 24;
    case Node::KConversionOperatorType:  // "operator "
    case Node::KLiteralOperator:         // "operator\"\" "
    case Node::KAbiTagAttr:              // "[abi:", "]"
    case Node::KObjCProtoName:
    case Node::KBinaryExpr:              // operands in parentheses, spaces
    case Node::KPrefixExpr:
    case Node::KPostfixExpr:
    case Node::KConditionalExpr:
    case Node::KMemberExpr:
    case Node::KArraySubscriptExpr:
    case Node::KEnclosingExpr:
    case Node::KCastExpr:
    case Node::KCallExpr:
    case Node::KConversionExpr:
    case Node::KInitListExpr:
    case Node::KBracedExpr:
    case Node::KBracedRangeExpr:
    case Node::KThrowExpr:
    case Node::KBoolExpr:
    case Node::KEnumLiteral:
    case Node::KElaboratedTypeSpefType:
    case Node::KDotSuffix:
        return 16;
    default:
        return 4;  // "::", "<", ">", " ", "*", "&&", "(", ")"
    }
}

// A node's printed length, capped: `all` as printed on its own (a parameter
// pack prints all its elements), `one` as printed once within a pack
// expansion, which prints its pattern once per element of the pack, each
// time with one element of it.
struct Measure {
    enum State : std::uint8_t { kNew, kOpen, kDone };
    State state = kNew;
    std::uint64_t all = 0;
    std::uint64_t one = 0;
    std::uint32_t depth = 0;  // nodes on the longest printed path
    std::uint32_t pack = 0;   // elements of the largest parameter pack inside
};

constexpr std::uint64_t kCap = std::uint64_t(1) << 40;
std::uint64_t capped(std::uint64_t value) { return std::min(value, kCap); }

// A node's parts (the nodes it prints) and the length of its own texts.
struct Parts {
    std::vector<const Node*> nodes;
    std::uint64_t text = 0;
    std::size_t listed = 0;  // elements of lists, each after ", "
    std::uint32_t packSize = 0;  // a parameter pack's elements
    std::optional<SpecialSubKind> special;  // which standard name a substitution stands for
};

Parts partsOf(const Node* node) {
    Parts parts;
    if (node->getKind() == Node::KForwardTemplateReference) {
        const auto* reference = static_cast<const llvm::itanium_demangle::ForwardTemplateReference*>(node);
        if (!reference->Ref) throw Refused{};
        parts.nodes.push_back(reference->Ref);
        return parts;
    }
    const auto take = [&](const auto& value) {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_convertible_v<T, const Node*>) {
            if (value) parts.nodes.push_back(value);
        } else if constexpr (std::is_same_v<T, NodeArray>) {
            for (const Node* element : value)
                if (element) parts.nodes.push_back(element);
            parts.listed += value.size();
        } else if constexpr (std::is_same_v<T, StringView>) {
            parts.text += value.size();
        } else if constexpr (std::is_same_v<T, SpecialSubKind>) {
            parts.special = value;
        }
    };
    node->visit([&](const auto* derived) {
        using T = std::remove_cv_t<std::remove_pointer_t<decltype(derived)>>;
        if constexpr (!std::is_same_v<T, llvm::itanium_demangle::ForwardTemplateReference>)
            derived->match([&](const auto&... values) { (take(values), ...); });
    });
    if (node->getKind() == Node::KParameterPack) parts.packSize = std::uint32_t(parts.listed);
    return parts;
}

// The expanded size of the tree under `root`: a walk with its own stack (the
// tree's depth is not the thread's to pay for), each node measured once.
std::optional<Measure> measureTree(const Node* root) {
    std::unordered_map<const Node*, Measure> measures;
    std::vector<const Node*> stack{root};
    while (!stack.empty()) {
        const Node* node = stack.back();
        Measure& measure = measures[node];
        if (measure.state == Measure::kDone) {
            stack.pop_back();
            continue;
        }
        const Parts parts = partsOf(node);
        if (measure.state == Measure::kNew) {
            measure.state = Measure::kOpen;
            for (const Node* part : parts.nodes) {
                const auto known = measures.find(part);
                if (known == measures.end()) stack.push_back(part);
                else if (known->second.state == Measure::kOpen) return std::nullopt;  // a cycle
            }
            continue;
        }
        const std::uint64_t own = ownWords(node->getKind(), parts.special) + parts.text + 2 * parts.listed;
        std::uint32_t depth = 0, pack = parts.packSize;
        std::uint64_t all = 0, one = 0, widest = 0;
        for (const Node* part : parts.nodes) {
            const Measure& child = measures[part];
            all = capped(all + child.all);
            one = capped(one + child.one);
            widest = std::max(widest, child.one);
            depth = std::max(depth, child.depth);
            pack = std::max(pack, child.pack);
        }
        Measure& done = measures[node];
        done.all = capped(own + all);
        done.one = capped(own + one);
        if (node->getKind() == Node::KParameterPack) done.one = capped(own + widest);
        if (node->getKind() == Node::KParameterPackExpansion)
            done.all = done.one = capped(own + one * std::max<std::uint32_t>(pack, 1));
        done.depth = std::min<std::uint32_t>(depth + 1, 1u << 30);
        done.pack = pack;
        done.state = Measure::kDone;
        stack.pop_back();
    }
    return measures[root];
}


// The name parsed and measured: the tree, when it parses, and its measure.
struct Parsed {
    explicit Parsed(std::string_view name) : parser(name.data(), name.data() + name.size()) {}
    BoundedParser parser;
    const Node* root = nullptr;
    std::optional<std::size_t> length;
};

// "_ZGTt" and "_ZGTn": a transactional-memory clone of the name that
// follows, which LLVM 14's parser does not know.
constexpr std::string_view kClonePrefixes[] = {"_ZGTt", "_ZGTn"};
constexpr std::string_view kCloneWords[] = {"transaction clone for ", "non-transaction clone for "};

void parseAndMeasure(Parsed& parsed) {
    try {
        parsed.root = parsed.parser.parse();
        if (!parsed.root) return;
        const std::optional<Measure> measure = measureTree(parsed.root);
        if (!measure || measure->depth > kMaxReadableDepth) return;
        parsed.length = std::size_t(std::min<std::uint64_t>(measure->all, SIZE_MAX));
    } catch (const Refused&) {
        parsed.length.reset();
    }
}

}  // namespace

std::optional<std::size_t> itaniumReadableLength(std::string_view name) {
    for (std::size_t i = 0; i < 2; ++i) {
        if (name.substr(0, 5) != kClonePrefixes[i]) continue;
        const std::optional<std::size_t> length = itaniumReadableLength("_Z" + std::string(name.substr(5)));
        return length ? std::optional<std::size_t>(*length + kCloneWords[i].size()) : std::nullopt;
    }
    Parsed parsed(name);
    parseAndMeasure(parsed);
    return parsed.length;
}

std::string undecorateItaniumName(std::string_view name) {
    for (std::size_t i = 0; i < 2; ++i) {
        if (name.substr(0, 5) != kClonePrefixes[i]) continue;
        const std::string rest = undecorateItaniumName("_Z" + std::string(name.substr(5)));
        return rest.empty() ? rest : std::string(kCloneWords[i]) + rest;
    }
    Parsed parsed(name);
    parseAndMeasure(parsed);
    if (!parsed.length || *parsed.length > kMaxReadableName) return std::string();
    llvm::itanium_demangle::OutputBuffer out;
    if (!llvm::itanium_demangle::initializeOutputBuffer(nullptr, nullptr, out, 256)) return std::string();
    parsed.root->print(out);
    std::string text(out.getBuffer(), out.getCurrentPosition());
    std::free(out.getBuffer());
    return text;
}

}  // namespace vost
