#include "values/exact_sum.h"
#include "values/total.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

using tarlo::ExactSum;
using tarlo::Total;

namespace {

double sumOf(const std::vector<double>& values) {
    ExactSum s;
    for (double v : values) s.add(v);
    return s.value();
}

}  // namespace

// Values that are whole multiples of 2^-20 below 2^40 have an exact total a
// 128-bit integer holds: the reference needs no floating point at all.
TEST(ExactSum, IsTheExactTotalRoundedOnceInAnyOrder) {
    std::mt19937_64 random(7);
    for (int round = 0; round < 50; ++round) {
        std::vector<double> values;
        __int128 units = 0;
        for (int i = 0; i < 2000; ++i) {
            const int64_t u = int64_t(random() % (uint64_t(1) << 60)) - (int64_t(1) << 59);
            const int shift = int(random() % 40);
            const int64_t scaled = u >> shift;  // mixed magnitudes, so the partials matter
            values.push_back(std::ldexp(double(scaled), -20));
            units += __int128(int64_t(std::ldexp(values.back(), 20)));
        }
        // No double lies nearer the 128-bit total than the sum does.
        const double got = sumOf(values);
        const __int128 gotUnits = __int128(std::ldexp(got, 20));
        const __int128 up = __int128(std::ldexp(std::nextafter(got, INFINITY), 20)) - units;
        const __int128 down = units - __int128(std::ldexp(std::nextafter(got, -INFINITY), 20));
        const __int128 off = gotUnits > units ? gotUnits - units : units - gotUnits;
        EXPECT_LE(off, up < 0 ? -up : up) << round;
        EXPECT_LE(off, down < 0 ? -down : down) << round;
        for (int shuffle = 0; shuffle < 3; ++shuffle) {
            std::shuffle(values.begin(), values.end(), random);
            EXPECT_EQ(sumOf(values), got) << round;
        }
        // Split in two and merged, as threads do.
        ExactSum a, b;
        for (size_t i = 0; i < values.size(); ++i) (i % 3 ? a : b).add(values[i]);
        a.merge(b);
        EXPECT_EQ(a.value(), got);
    }
}

TEST(ExactSum, KeepsWhatNaiveAdditionLoses) {
    EXPECT_EQ(sumOf({1e100, 1.0, -1e100}), 1.0);
    EXPECT_EQ(sumOf({1e16, 1.0, 1e-16}), 10000000000000002.0);  // a tie broken by the smallest part
    EXPECT_EQ(sumOf(std::vector<double>(10, 0.1)), 1.0);
    EXPECT_EQ(sumOf({}), 0.0);
}

TEST(ExactSum, InfinitiesNaNsAndOverflow) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(sumOf({1, inf, 2}), inf);
    EXPECT_TRUE(std::isnan(sumOf({inf, -inf})));
    ExactSum s;
    s.add(1e308);
    s.add(1e308);
    EXPECT_TRUE(s.overflowed());
    // A window takes an infinity back out.
    ExactSum w;
    w.add(5);
    w.add(inf);
    w.remove(inf);
    EXPECT_EQ(w.value(), 5.0);
    w.add(0.25);
    w.remove(5);
    EXPECT_EQ(w.value(), 0.25);
}

TEST(Total, IntegersStayIntegersUntilTheyOverflow) {
    Total t;
    EXPECT_EQ(t.sum().kind, Total::Outcome::Kind::Null);
    t.addInteger(std::numeric_limits<int64_t>::max());
    EXPECT_EQ(t.sum().kind, Total::Outcome::Kind::Integer);
    t.addInteger(1);
    const Total::Outcome over = t.sum();
    EXPECT_EQ(over.kind, Total::Outcome::Kind::Real);
    EXPECT_EQ(over.real, 9223372036854775808.0);
    Total avg;
    avg.addInteger(9007199254740993);  // 2^53 + 1: no double holds it
    avg.addInteger(-9007199254740992);
    EXPECT_EQ(avg.average().real, 0.5);
    Total mixed;
    mixed.addInteger(1);
    mixed.addReal(0.5);
    EXPECT_EQ(mixed.sum().kind, Total::Outcome::Kind::Real);
    EXPECT_EQ(mixed.sum().real, 1.5);
}

// A whole total is rounded to a double at once; the pieces an exact sum
// takes must give the very same double, ties and all.
TEST(Total, WholeTotalsRoundAsTheExactSumDoes) {
    std::mt19937_64 random(11);
    const ExactSum none;
    for (int round = 0; round < 50000; ++round) {
        const int bits = int(random() % 127);
        unsigned __int128 magnitude = (unsigned __int128)random() << 64 | random();
        magnitude = bits ? magnitude >> (128 - bits) : 0;
        if (round % 3 == 0 && bits > 54) magnitude |= (unsigned __int128)1 << (bits - 54);  // a tie, or just past one
        if (round % 6 == 0 && bits > 54) magnitude &= ~(((unsigned __int128)1 << (bits - 54)) - 1);
        const __int128 whole = __int128(magnitude) * (random() % 2 ? 1 : -1);
        const int64_t count = int64_t(random() % 1000) + 1;
        const Total::Outcome quick = Total::averageOf(count, whole, nullptr);
        const Total::Outcome exact = Total::averageOf(count, whole, &none);
        ASSERT_EQ(quick.real, exact.real) << double(whole) << " / " << count;
    }
    EXPECT_EQ(Total::sumOfUnits(1, 1, 1100).failure, Total::Failure::RealOverflow);
}
