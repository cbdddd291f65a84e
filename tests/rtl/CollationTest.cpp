#include "rtl/Collation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

TEST(Collation, AlphabeticalFirstThenLowerCaseFirst)
{
    struct Case { const char* a; const char* b; int sign; };
    const Case cases[] = {
        {"a", "A", -1},        // only case differs: lower first
        {"A", "a", 1},
        {"Aa", "ab", -1},      // the letters decide before the case
        {"ab", "B", -1},
        {"Zeta", "alpha", 1},
        {"abc", "ABC", -1},
        {"aBc", "abC", 1},     // the first difference in case decides
        {"a", "ab", -1},       // a prefix first
        {"", "a", -1},
        {"same", "same", 0},
        {"_x", "1", -1},       // punctuation, then digits, then letters
        {"9", "a", -1},
        {"z", "\xe9", -1},     // bytes above 127 after the letters
    };
    for (const auto& c : cases) {
        int result = CompareAddressText(c.a, c.b);
        EXPECT_EQ((result > 0) - (result < 0), c.sign) << c.a << " vs " << c.b;
    }
}

TEST(Collation, SortsMixedCaseIntoOneOrder)
{
    std::vector<std::string> texts{"b", "B", "Zeta", "ab", "A", "a", "Aa", "2", "10"};
    std::sort(texts.begin(), texts.end(),
              [](const auto& a, const auto& b) { return CompareAddressText(a, b) < 0; });
    EXPECT_EQ(texts, (std::vector<std::string>{"10", "2", "a", "A", "Aa", "ab", "b", "B", "Zeta"}));
}
