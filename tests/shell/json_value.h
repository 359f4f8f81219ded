// A small reader for the scanner's JSON output: objects, arrays, strings
// (escapes \uXXXX below 0x100 become that byte), integers, and true and
// false as the numbers 1 and 0.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vost::test {

struct JsonValue {
    enum Kind { null, number, string, array, object } kind = null;
    long long integer = 0;
    std::string text;
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> fields;

    const JsonValue& operator[](const std::string& key) const;
};

// Throws std::runtime_error on malformed input.
JsonValue parseJson(const std::string& text);

}  // namespace vost::test
