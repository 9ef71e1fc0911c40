// What Sum and Avg keep while they read a group, the same on SQLite's path
// and the column path so both print the same total: integers add exactly
// while they fit in 64 bits, and every value also joins an exact sum of
// reals. All-zero bytes are an empty total.
#pragma once

#include "values/exact_sum.h"

#include <cmath>
#include <cstdint>

namespace tarlo {

// A 128-bit integer kept in two halves: SQLite's aggregate memory is only
// 8-byte aligned, and __int128 wants 16.
struct Int128 {
    uint64_t low = 0;
    int64_t high = 0;
    __int128 get() const { return __int128(static_cast<unsigned __int128>(uint64_t(high)) << 64 | low); }
    void set(__int128 v) {
        low = uint64_t(v);
        high = int64_t(v >> 64);
    }
};

struct Total {
    int64_t count = 0;
    Int128 integer;  // no count of 64-bit values overflows it
    bool sawReal = false;
    ExactSum reals;  // the reals only

    void addInteger(int64_t v) {
        ++count;
        integer.set(integer.get() + v);
    }
    void removeInteger(int64_t v) {
        --count;
        integer.set(integer.get() - v);
    }
    void addReal(double v) {
        ++count;
        sawReal = true;
        reals.add(v);
    }
    void removeReal(double v) {
        --count;
        reals.remove(v);
    }

    // Sum: null for no values, an integer while only integers came and
    // their sum fits 64 bits, else the exact sum of all rounded once
    // (integers that overflow turn real, as the engine's + does).
    enum class Failure { None, RealOverflow };
    struct Outcome {
        enum class Kind { Null, Integer, Real } kind = Kind::Null;
        int64_t integer = 0;
        double real = 0;
        Failure failure = Failure::None;
    };
    Outcome sum() const { return sumOf(count, integer.get(), sawReal ? &reals : nullptr); }
    Outcome average() const { return averageOf(count, integer.get(), sawReal ? &reals : nullptr); }

    // The same from the parts, for who keeps them apart (the column path).
    static Outcome sumOf(int64_t count, __int128 integer, const ExactSum* reals) {
        if (count == 0) return {};
        if (!reals && integer >= INT64_MIN && integer <= INT64_MAX) return {.kind = Outcome::Kind::Integer, .integer = int64_t(integer)};
        return rounded(integer, 0, reals, 1);
    }
    static Outcome averageOf(int64_t count, __int128 integer, const ExactSum* reals) {
        if (count == 0) return {};
        return rounded(integer, 0, reals, count);
    }
    // Reals kept as a count of units of 2^scale (exact where they fit).
    static Outcome sumOfUnits(int64_t count, __int128 units, int scale) {
        if (count == 0) return {};
        return rounded(units, scale, nullptr, 1);
    }
    static Outcome averageOfUnits(int64_t count, __int128 units, int scale) {
        if (count == 0) return {};
        return rounded(units, scale, nullptr, count);
    }

private:
    static Outcome rounded(__int128 integer, int scale, const ExactSum* reals, int64_t divisor) {
        const bool negative = integer < 0;
        unsigned __int128 magnitude = negative ? -static_cast<unsigned __int128>(integer) : static_cast<unsigned __int128>(integer);
        if (!reals && scale >= -1000) {
            // The integer rounded once to a double, which scaling keeps
            // exact (no scale allowed here reaches the subnormals): the exact
            // sum's answer, quicker.
            const double whole = std::ldexp(double(magnitude), scale);
            if (std::isinf(whole)) return {.failure = Failure::RealOverflow};
            return {.kind = Outcome::Kind::Real, .real = (negative ? -whole : whole) / double(divisor)};
        }
        ExactSum all;
        if (reals) all.merge(*reals);
        // In pieces of 32 bits, each of which a double holds exactly.
        for (int shift = 0; magnitude != 0; shift += 32, magnitude >>= 32) {
            const double piece = std::ldexp(double(uint32_t(magnitude & 0xFFFFFFFFu)), shift + scale);
            all.add(negative ? -piece : piece);
        }
        if (all.overflowed()) return {.failure = Failure::RealOverflow};
        return {.kind = Outcome::Kind::Real, .real = all.value() / double(divisor)};
    }
};

}  // namespace tarlo
