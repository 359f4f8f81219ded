#include "analysis/manifest_reader.h"

#include <expat.h>

#include <cstring>
#include <memory>

#include "analysis/text.h"

namespace vost {

namespace {

// The parts of a manifest the redirection needs, by local name: the element
// names are the same in asm.v1, v2 and v3, and a manifest may write them with
// or without a prefix.
enum class Element : std::uint8_t {
    other,
    assembly,
    assemblyIdentity,
    dependency,
    dependentAssembly,
    file,
    bindingRedirect,
};

constexpr char kNamespaceSeparator = '\x01';

bool isAssemblyNamespace(const char* uri, std::size_t length) {
    static const char* const kNamespaces[] = {"urn:schemas-microsoft-com:asm.v1", "urn:schemas-microsoft-com:asm.v2",
                                              "urn:schemas-microsoft-com:asm.v3"};
    for (const char* ns : kNamespaces)
        if (std::strlen(ns) == length && std::memcmp(ns, uri, length) == 0) return true;
    return false;
}

// The element `qualified` ("uri\x01local", or "local" without a namespace).
Element elementOf(const char* qualified) {
    const char* local = std::strchr(qualified, kNamespaceSeparator);
    if (local) {
        if (!isAssemblyNamespace(qualified, std::size_t(local - qualified))) return Element::other;
        ++local;
    } else {
        local = qualified;
    }
    static const struct {
        const char* name;
        Element element;
    } kElements[] = {{"assembly", Element::assembly},
                     {"assemblyIdentity", Element::assemblyIdentity},
                     {"dependency", Element::dependency},
                     {"dependentAssembly", Element::dependentAssembly},
                     {"file", Element::file},
                     {"bindingRedirect", Element::bindingRedirect}};
    for (const auto& known : kElements)
        if (std::strcmp(local, known.name) == 0) return known.element;
    return Element::other;
}

// An attribute's local name (attributes of these elements carry no prefix,
// but a namespaced one is matched by its local part too).
const char* localName(const char* qualified) {
    const char* local = std::strchr(qualified, kNamespaceSeparator);
    return local ? local + 1 : qualified;
}

const char* attribute(const char** attributes, const char* name) {
    for (const char** a = attributes; *a; a += 2)
        if (std::strcmp(localName(*a), name) == 0) return a[1];
    return nullptr;
}

AssemblyIdentity identityOf(const char** attributes) {
    AssemblyIdentity identity;
    const auto take = [&](const char* name, std::string& into) {
        if (const char* value = attribute(attributes, name)) into = value;
    };
    take("name", identity.name);
    take("processorArchitecture", identity.processorArchitecture);
    take("publicKeyToken", identity.publicKeyToken);
    take("version", identity.version);
    take("language", identity.language);
    take("type", identity.type);
    return identity;
}

// UTF-16 (little-endian, or big-endian with `big`) as UTF-8; false for an odd
// length or a lone surrogate.
bool utf16ToUtf8(const char* text, std::size_t size, bool big, std::string& out) {
    if (size % 2) return false;
    out.clear();
    out.reserve(size);
    const auto unit = [&](std::size_t at) {
        const unsigned char a = static_cast<unsigned char>(text[at]), b = static_cast<unsigned char>(text[at + 1]);
        return big ? std::uint32_t(a << 8 | b) : std::uint32_t(b << 8 | a);
    };
    for (std::size_t at = 0; at < size; at += 2) {
        std::uint32_t code = unit(at);
        if (code >= 0xDC00 && code <= 0xDFFF) return false;
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (at + 4 > size) return false;
            const std::uint32_t low = unit(at + 2);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            at += 2;
        }
        appendUtf8(out, code);
    }
    return true;
}

struct XmlParserDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

class Reader {
public:
    Reader(Manifest& manifest, bool loaderRoot) : manifest_(manifest), loaderRoot_(loaderRoot) {}

    // `encoding`: the text's encoding, overriding its declaration; null to
    // let expat tell it from the text.
    bool run(const char* text, std::size_t size, const char* encoding, std::string& error) {
        std::unique_ptr<XML_ParserStruct, XmlParserDeleter> parser(XML_ParserCreateNS(encoding, kNamespaceSeparator));
        if (!parser) {
            error = "out of memory";
            return false;
        }
        parser_ = parser.get();
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, &Reader::onStart, &Reader::onEnd);
        // A document type declaration is where entities are declared: none is
        // taken, so nothing can expand and no external text is asked for.
        XML_SetStartDoctypeDeclHandler(parser_, &Reader::onDoctype);
        XML_SetEntityDeclHandler(parser_, &Reader::onEntity);
        XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
        const XML_Status status = XML_Parse(parser_, text, int(size), XML_TRUE);
        if (!refusal_.empty()) {
            error = refusal_;
            return false;
        }
        if (status != XML_STATUS_OK) {
            error = std::string("malformed XML: ") + XML_ErrorString(XML_GetErrorCode(parser_)) + " at line " +
                    std::to_string(XML_GetCurrentLineNumber(parser_));
            return false;
        }
        if (!sawAssembly_) {
            error = "no <assembly> element";
            return false;
        }
        return true;
    }

private:
    void refuse(const char* why) {
        if (refusal_.empty()) refusal_ = why;
        XML_StopParser(parser_, XML_FALSE);
    }

    static void onDoctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        static_cast<Reader*>(self)->refuse("a document type declaration");
    }
    static void onEntity(void* self, const XML_Char*, int, const XML_Char*, int, const XML_Char*, const XML_Char*,
                         const XML_Char*, const XML_Char*) {
        static_cast<Reader*>(self)->refuse("an entity declaration");
    }
    static void onStart(void* self, const XML_Char* name, const XML_Char** attributes) {
        static_cast<Reader*>(self)->start(name, attributes);
    }
    static void onEnd(void* self, const XML_Char*) {
        Reader& reader = *static_cast<Reader*>(self);
        if (!reader.path_.empty()) reader.path_.pop_back();
    }

    // The element's parent, `up` levels above it (Element::other past the root).
    Element above(std::size_t up) const {
        return path_.size() >= up ? path_[path_.size() - up] : Element::other;
    }

    void start(const char* name, const char** attributes) {
        if (path_.size() >= std::size_t(kManifestMaxDepth)) return refuse("elements nested too deeply");
        for (const char** a = attributes; *a; a += 2)
            if (std::strlen(a[1]) > kManifestMaxAttribute) return refuse("an attribute value too long");
        const Element element = elementOf(name);
        if (path_.empty()) {
            if (element != Element::assembly) return refuse("the root element is no <assembly>");
            if (loaderRoot_) {
                static const char kRoot[] = "urn:schemas-microsoft-com:asm.v1\x01" "assembly";
                const char* version = attribute(attributes, "manifestVersion");
                if (std::strcmp(name, kRoot) != 0) return refuse("the root <assembly> is not in the asm.v1 namespace");
                if (!version || std::strcmp(version, "1.0") != 0) return refuse("no manifestVersion=\"1.0\"");
            }
            sawAssembly_ = true;
        }
        const Element parent = above(1);
        switch (element) {
        case Element::assemblyIdentity:
            if (path_.size() == 1) {
                manifest_.identity = identityOf(attributes);
            } else if (parent == Element::dependentAssembly && above(2) == Element::dependency && path_.size() == 3) {
                ManifestDependency dependency;
                dependency.assembly = identityOf(attributes);
                dependency.optional = dependencyOptional_;
                manifest_.dependencies.push_back(dependency);
            }
            break;
        case Element::dependency:
            if (path_.size() == 1) {
                const char* optional = attribute(attributes, "optional");
                dependencyOptional_ = optional && compareIgnoringCase(optional, "yes") == 0;
            }
            break;
        case Element::file:
            if (path_.size() == 1)
                if (const char* file = attribute(attributes, "name")) manifest_.files.push_back(file);
            break;
        case Element::bindingRedirect:
            if (parent == Element::dependentAssembly && path_.size() == 3 && !manifest_.dependencies.empty()) {
                BindingRedirect redirect;
                redirect.assembly = manifest_.dependencies.back().assembly;
                if (const char* old = attribute(attributes, "oldVersion")) redirect.oldVersion = old;
                if (const char* now = attribute(attributes, "newVersion")) redirect.newVersion = now;
                manifest_.redirects.push_back(redirect);
            }
            break;
        default: break;
        }
        path_.push_back(element);
    }

    Manifest& manifest_;
    bool loaderRoot_;
    XML_Parser parser_ = nullptr;
    std::vector<Element> path_;
    bool sawAssembly_ = false;
    bool dependencyOptional_ = false;
    std::string refusal_;
};

}  // namespace

bool readManifest(const char* text, std::size_t size, Manifest& manifest, std::string& error, bool loaderRoot) {
    manifest = Manifest();
    error.clear();
    if (size > kManifestMaxBytes) {
        error = "larger than " + std::to_string(kManifestMaxBytes) + " bytes";
        return false;
    }
    // Resource compilers pad the text with NULs or blanks to an alignment;
    // UTF-16 text ends in NUL pairs, so only whole pairs are taken off there.
    const bool wide = size >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'));
    while (size > 0) {
        const char last = text[size - 1];
        if (wide ? (size >= 2 && last == '\0' && text[size - 2] == '\0' && size % 2 == 0)
                 : (last == '\0' || last == ' ' || last == '\r' || last == '\n' || last == '\t'))
            size -= wide ? 2 : 1;
        else
            break;
    }
    // A UTF-16 text with a byte order mark is UTF-16 whatever its declaration
    // says (a text editor's "Unicode" save keeps encoding="UTF-8"): it is
    // handed to expat as UTF-8, its declaration overridden.
    std::string converted;
    const char* encoding = nullptr;
    if (wide) {
        if (!utf16ToUtf8(text + 2, size - 2, text[0] == '\xFE', converted)) {
            error = "invalid UTF-16";
            return false;
        }
        text = converted.data();
        size = converted.size();
        encoding = "UTF-8";
    } else if (size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
        text += 3;
        size -= 3;
        encoding = "UTF-8";
    }
    // The loader skips white space before the text ("<?xml" must otherwise
    // come first); only where a "<" follows, so a UTF-16 text without a byte
    // order mark keeps its pairs.
    std::size_t lead = 0;
    while (lead < size && (text[lead] == ' ' || text[lead] == '\t' || text[lead] == '\r' || text[lead] == '\n')) ++lead;
    if (lead < size && text[lead] == '<') {
        text += lead;
        size -= lead;
    }
    if (size == 0) {
        error = "empty";
        return false;
    }
    Reader reader(manifest, loaderRoot);
    if (!reader.run(text, size, encoding, error)) {
        manifest = Manifest();
        return false;
    }
    return true;
}

bool isCompressedManifest(const char* text, std::size_t size) {
    return (size >= 4 && std::memcmp(text, "DCM", 3) == 0) || (size >= 4 && std::memcmp(text, "PA30", 4) == 0);
}

}  // namespace vost
