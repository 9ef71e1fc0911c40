// Texts compare ignoring case however far into them they first differ:
// a shared start is skipped bytewise, and folding must resume on a whole
// code point of both texts.
#include "values/case_folding.h"

#include <gtest/gtest.h>

using tarlo::compareIgnoringCase;

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

}  // namespace

TEST(CompareIgnoringCase, OrdersAsFoldedCodePoints) {
    const struct {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"R1", "R1", 0},
        {"", "", 0},
        {"", "a", -1},
        {"abc", "ab", 1},
        {"abc", "ABC", 0},
        {"abC", "abd", -1},
        {"abD", "abc", 1},
        {"Zeta", "alpha", 1},  // not byte order
        {"007", "7", -1},
        // The texts part inside a code point: é (C3 A9) against É (C3 89)
        // share their first byte, and ê (C3 AA) comes after é.
        {"caf\xC3\xA9", "CAF\xC3\x89", 0},
        {"caf\xC3\xA9", "caf\xC3\xAA", -1},
        {"x\xEF\xBD\x81", "X\xEF\xBC\xA1", 0},  // full-width a and A
        // One text ends or goes on with a plain byte where the other
        // continues a code point: the lone lead byte reads as U+00C3, which
        // folds to U+00E3, before é (U+00E9).
        {"a\xC3", "a\xC3\xA9", -1},
        {"a\xC3" "x", "a\xC3\xA9", -1},
        {"a\xC3" "x", "A\xC3\x83", 1},  // Ã then x is longer than Ã
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sign(compareIgnoringCase(c.a, c.b)), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(sign(compareIgnoringCase(c.b, c.a)), -c.expected) << c.b << " vs " << c.a;
    }
}

// Index keys: texts equal ignoring case share one, on the ASCII path and off it.
TEST(FoldCase, GivesEqualTextsOneKey) {
    using tarlo::foldCase;
    EXPECT_EQ(foldCase("AbC-007 z"), "abc-007 z");
    EXPECT_EQ(foldCase("007"), "007");
    EXPECT_NE(foldCase("007"), foldCase("7"));
    EXPECT_EQ(foldCase("CAF\xC3\x89"), foldCase("caf\xC3\xA9"));
    EXPECT_EQ(foldCase("\xEF\xBC\xA1" "B"), foldCase("\xEF\xBD\x81" "b"));  // full-width A, then B
    EXPECT_EQ(foldCase("a\xC3" "B"), "a\xC3\xA3" "b");  // a lone lead byte folds as U+00C3
}
