// The tree's label order: measured cases, order properties over realistic
// labels and, under Wine, agreement with the platform's own lstrcmpA.
#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/common/label_collation.h"
#include "tests/common/sample_labels.h"

namespace vost {
namespace {

int sign(int value) { return (value > 0) - (value < 0); }

struct Case {
    const char* a;
    const char* b;
    int expected;  // the sign lstrcmpA gives under Wine 8 (en-US)
};

// Each measured with lstrcmpA.
const Case kMeasured[] = {
    // Hyphen and apostrophe do not count at the first level.
    {"a-c", "ab", 1},
    {"a-bc", "ab", 1},
    {"API-MS-WIN-CORE-SYNCH-L1-2-0.DLL", "APIMSWINCORE.DLL", 1},
    {"O'NEIL.DLL", "ONE.DLL", 1},
    // Symbols before digits before letters; '_' is a symbol.
    {"a_b", "ab", -1},
    {"A_B.DLL", "A1.DLL", -1},
    {"X~1", "X+1", -1},
    {"X>1", "X0", -1},
    {"a\\b", "a.b", 1},
    {"A.DLL (c", "A.DLL(c", -1},  // blank before '('
    {"MSVCR100.DLL", "MSVCR90.DLL", -1},
    {"ab", "abc", -1},
    // Case decides only after the first level, lower case first.
    {"ab", "AB", -1},
    {"aB", "Ab", -1},
    {"Ab", "aC", -1},
    {"A-b", "ab", 1},
    {"AB", "ab-", 1},
    // Then the marks: none before some, later before earlier, ' before -.
    {"ab", "a-b", -1},
    {"a-", "a", 1},
    {"a--", "a-", 1},
    {"ab-", "a-b", -1},
    {"a-", "-a", -1},
    {"a'b", "a-b", -1},
    {"a'b", "ab-", 1},
    {"a--b", "a-b-", 1},
    {"a-b'", "a'b-", 1},
    {"a'b'", "a-b", -1},
    {"abcd-", "a-bcd", -1},
    {"", "-", -1},
    {"", "a", -1},
};

TEST(LabelCollation, MatchesTheMeasuredOrder) {
    for (const Case& c : kMeasured) {
        EXPECT_EQ(c.expected, sign(compareTreeLabels(c.a, c.b))) << c.a << " vs " << c.b;
        EXPECT_EQ(-c.expected, sign(compareTreeLabels(c.b, c.a))) << c.b << " vs " << c.a;
    }
}

TEST(LabelCollation, IsAStrictTotalOrderOnRealisticLabels) {
    std::vector<std::string> labels(std::begin(test::kSampleLabels), std::end(test::kSampleLabels));
    std::sort(labels.begin(), labels.end(),
              [](const std::string& a, const std::string& b) { return compareTreeLabels(a.c_str(), b.c_str()) < 0; });
    for (std::size_t i = 0; i < labels.size(); ++i) {
        EXPECT_EQ(0, compareTreeLabels(labels[i].c_str(), labels[i].c_str()));
        for (std::size_t j = i + 1; j < labels.size(); ++j) {
            // Sorted order is consistent with every pair, and only identical
            // labels compare equal.
            const int forward = compareTreeLabels(labels[i].c_str(), labels[j].c_str());
            ASSERT_EQ(labels[i] == labels[j] ? 0 : -1, sign(forward)) << labels[i] << " vs " << labels[j];
            ASSERT_EQ(-sign(forward), sign(compareTreeLabels(labels[j].c_str(), labels[i].c_str())));
        }
    }
}

#ifndef _WIN32
// A simplification of this collation: the platform folds accented letters
// onto their base letters.
TEST(LabelCollation, BytesAboveAsciiFollowTheLetters) {
    EXPECT_LT(compareTreeLabels("z", "\xe9"), 0);
    EXPECT_LT(compareTreeLabels("\xe9", "\xea"), 0);
    EXPECT_LT(compareTreeLabels("a\xe9", "b"), 0);
}
#endif

#ifdef _WIN32
TEST(LabelCollation, AgreesWithLstrcmpOnRealisticLabels) {
    const auto& labels = test::kSampleLabels;
    int differences = 0;
    for (const char* a : labels)
        for (const char* b : labels) {
            const int expected = sign(lstrcmpA(a, b));
            if (expected != sign(compareTreeLabels(a, b)) && ++differences <= 10)
                ADD_FAILURE() << a << " vs " << b << ": lstrcmpA gives " << expected;
        }
    EXPECT_EQ(0, differences);
}

TEST(LabelCollation, AgreesWithLstrcmpOnRandomTexts) {
    // Short texts over alphabets rich in the characters the levels treat
    // differently, and near-copies that differ by one character or mark.
    const char* const alphabets[] = {"aA-'b", " !\"#$%&()*+,./:;<=>?@[\\]^_`{|}~09aZ-'", "ab-'"};
    std::mt19937 random(5);
    int differences = 0;
    for (int round = 0; round < 100000; ++round) {
        const char* alphabet = alphabets[round % 3];
        const std::size_t size = std::strlen(alphabet);
        std::string a, b;
        for (unsigned i = random() % 7; i > 0; --i) a += alphabet[random() % size];
        for (unsigned i = random() % 7; i > 0; --i) b += alphabet[random() % size];
        if (random() % 2) {
            b = a;
            if (!b.empty()) b[random() % b.size()] = alphabet[random() % size];
            if (random() % 2) b.insert(b.begin() + random() % (b.size() + 1), "-'"[random() % 2]);
        }
        const int expected = sign(lstrcmpA(a.c_str(), b.c_str()));
        if (expected != sign(compareTreeLabels(a.c_str(), b.c_str())) && ++differences <= 10)
            ADD_FAILURE() << "[" << a << "] vs [" << b << "]: lstrcmpA gives " << expected;
    }
    EXPECT_EQ(0, differences);
}
#endif

}  // namespace
}  // namespace vost
