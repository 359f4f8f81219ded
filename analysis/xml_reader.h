// A small bounded XML reader for the configuration files of managed
// programs (NAME.exe.config), in every build: elements, attributes and
// namespaces, nothing else (text content, comments, processing instructions
// and CDATA are passed over).
//
// Bounded like the manifest reader: a document is refused whole when it is
// larger than 1 MiB, holds a document type declaration (so no entity can be
// declared), nests more than 64 elements, has an attribute value over
// 4 KiB, names an entity other than the five predefined ones and character
// references, or is not well formed. UTF-8 (with or without its byte order
// mark) and UTF-16 with a byte order mark are read.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vost {

constexpr std::size_t kMaxXmlSize = 1024 * 1024;
constexpr std::size_t kMaxXmlDepth = 64;
constexpr std::size_t kMaxXmlAttributeValue = 4096;

struct XmlElement {
    std::string name;       // local name, without its prefix
    std::string space;      // namespace URI, empty for none
    std::vector<std::pair<std::string, std::string>> attributes;  // local name, value (entities replaced)

    // The value of the unprefixed or prefixed attribute `local`; null when absent.
    const std::string* attribute(const char* local) const;
};

// Calls `open` for each element as it starts, with the elements it lies in
// (outermost first, itself last). False with `error` in a few words when
// the document is refused; elements met before the fault have been visited.
bool readXml(const std::string& document, const std::function<void(const std::vector<XmlElement>& path)>& open,
             std::string& error);

}  // namespace vost
