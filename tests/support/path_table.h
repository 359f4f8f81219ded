// Folder names that every build must scan, find and show whole: one per
// script the ANSI code pages split apart, one outside the BMP, and one that
// makes a path longer than MAX_PATH. UTF-8; `nested` joins components with
// '/' (each layer turns it into its own separator).
#pragma once

#include <string>
#include <vector>

namespace vost::test {

struct PathCase {
    const char* what;
    std::string folder;  // relative to the test's own folder
};

inline std::vector<PathCase> pathTable() {
    std::string deep = "long";
    while (deep.size() < 300) deep += "/folder_with_a_rather_long_name";
    return {
        {"ASCII", "ascii"},
        {"Latin-2", "\xC5\x81\xC3\xB3" "d\xC5\xBA"},                                       // Łódź
        {"Cyrillic", "\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80\xD0\xB0\xD0\xBC\xD0\xBC\xD1\x8B"},  // Программы
        {"CJK", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},                                   // 日本語
        {"outside the BMP", "emoji \xF0\x9F\x98\x80"},                                     // U+1F600
        {"over 260 characters", deep},
    };
}

}  // namespace vost::test
