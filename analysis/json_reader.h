// A small bounded JSON reader for the files that describe a .NET 5+ program
// (NAME.runtimeconfig.json, NAME.deps.json) and its frameworks, in every
// build. It reads what the .NET host reads: comments and trailing commas
// are allowed.
//
// A document larger than 16 MiB (a deps.json of hundreds of packages is a
// few MiB), nesting deeper than 64, or not well formed is refused whole.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace vost {

constexpr std::size_t kMaxJsonSize = 16 * 1024 * 1024;
constexpr std::size_t kMaxJsonDepth = 64;

struct JsonNode {
    enum class Kind { null, boolean, number, string, array, object };
    Kind kind = Kind::null;
    std::string text;  // a string's value (UTF-8), a number's digits
    bool flag = false;
    std::vector<JsonNode> items;                            // an array's
    std::vector<std::pair<std::string, JsonNode>> members;  // an object's, in order

    // The member `key` of an object (the first of that name); null when
    // this is no object or has none.
    const JsonNode* get(const char* key) const;
    // A string member's value; empty when absent or no string.
    std::string string(const char* key) const;
    bool isObject() const { return kind == Kind::object; }
};

// Parses `document` into `out`; false with `error` in a few words.
bool readJson(const std::string& document, JsonNode& out, std::string& error);

}  // namespace vost
