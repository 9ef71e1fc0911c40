// StDev and Var from exact totals: the answer against one worked out here
// in exact integers, and the same to the bit whatever order and split the
// values come in.
#include "values/spread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

using tarlo::Spread;

double varianceOf(const std::vector<double>& values, bool sample) {
    Spread s;
    for (const double v : values) s.add(v);
    return *s.value(sample, false).value;
}

TEST(Spread, MatchesAnExactWorkingWhereRunningMomentsLoseDigits) {
    // Whole numbers far from zero: n * sum(x^2) - sum(x)^2 is exact in 128
    // bits, so the true variance is that over n(n - 1), rounded once.
    std::mt19937_64 random(5);
    for (const double offset : {0.0, 1e9, 4e15, -7e14}) {
        std::vector<double> values;
        __int128 sum = 0, squares = 0;
        for (int i = 0; i < 1000; ++i) {
            const int64_t small = int64_t(random() % 2001) - 1000;
            values.push_back(offset + double(small));
            sum += small;
            squares += __int128(small) * small;
        }
        const __int128 n = __int128(values.size());
        const __int128 numerator = n * squares - sum * sum;  // the offset cancels out of the spread
        const double expected = double(numerator) / double(n * (n - 1));
        EXPECT_NEAR(varianceOf(values, true), expected, expected * 1e-15) << "offset " << offset;
    }
    EXPECT_EQ(varianceOf({1e9 + 4, 1e9 + 7, 1e9 + 13, 1e9 + 16}, true), 30.0);
    EXPECT_EQ(varianceOf({0.1, 0.1, 0.1}, false), 0.0);  // equal values have no spread, not a rounding's
}

TEST(Spread, GivesTheSameBitsInAnyOrderAndSplit) {
    std::mt19937_64 random(9);
    std::vector<double> values;
    for (int i = 0; i < 5000; ++i) values.push_back(std::ldexp(double(random() % 1000000) / 7.0, int(random() % 80) - 40));
    Spread whole;
    for (const double v : values) whole.add(v);
    for (int round = 0; round < 5; ++round) {
        std::shuffle(values.begin(), values.end(), random);
        const size_t cut = random() % values.size();
        Spread a, b;
        for (size_t i = 0; i < values.size(); ++i) (i < cut ? a : b).add(values[i]);
        b.merge(a);
        for (const bool sample : {true, false})
            for (const bool root : {true, false}) EXPECT_EQ(*b.value(sample, root).value, *whole.value(sample, root).value);
    }
}

TEST(Spread, AnswersForTooFewAndForHugeValues) {
    Spread none, one;
    one.add(3);
    EXPECT_FALSE(none.value(false, false).value);
    EXPECT_FALSE(one.value(true, true).value);
    EXPECT_EQ(*one.value(false, true).value, 0.0);

    // Squares past a double's range: the running moments answer instead.
    const double x = 1e160, y = 1e160 + 2e150, apart = y - x;  // apart is exact
    Spread huge;
    huge.add(x);
    huge.add(y);
    const Spread::Answer a = huge.value(false, true);
    EXPECT_FALSE(a.exact);
    // The running mean rounds to x's last place, a millionth of apart here.
    EXPECT_NEAR(*a.value, apart / 2, apart * 1e-5);

    // Distances whose squares no double holds either, whole or merged from
    // parts as the column path's threads merge them: 1e308, 1e308, -1e308
    // have a sample deviation of sqrt(4/3) 1e308; 1e160 and 2e160 of
    // sqrt(1/2) 1e160, and a variance past the doubles' range.
    Spread edges, first, second;
    for (const double v : {1e308, 1e308, -1e308}) edges.add(v);
    first.add(1e308);
    second.add(1e308);
    second.add(-1e308);
    first.merge(second);
    for (const Spread* s : {&edges, &first}) {
        EXPECT_NEAR(*s->value(true, true).value, std::sqrt(4.0 / 3.0) * 1e308, 1e294);
        EXPECT_NEAR(*s->value(false, true).value, std::sqrt(8.0 / 9.0) * 1e308, 1e294);
    }
    Spread wide;
    wide.add(1e160);
    wide.add(2e160);
    EXPECT_NEAR(*wide.value(true, true).value, std::sqrt(0.5) * 1e160, 1e146);
    EXPECT_TRUE(std::isinf(*wide.value(true, false).value));
}

}  // namespace
