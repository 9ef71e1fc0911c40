// What Sum and Avg keep while they read a group, the same on SQLite's path
// and the column path so both print the same total: integers add exactly
// while they fit in 64 bits, and every value also joins an exact sum of
// reals. All-zero bytes are an empty total.
#pragma once

#include "values/exact_sum.h"

#include <cstdint>

namespace tarlo {

struct Total {
    int64_t count = 0;
    int64_t integer = 0;
    bool integerOverflow = false;
    bool sawReal = false;
    ExactSum reals;

    void addInteger(int64_t v) {
        ++count;
        if (__builtin_add_overflow(integer, v, &integer)) integerOverflow = true;
        reals.add(double(v));
    }
    void removeInteger(int64_t v) {
        --count;
        if (__builtin_sub_overflow(integer, v, &integer)) integerOverflow = true;
        reals.remove(double(v));
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
    void merge(const Total& other) {
        count += other.count;
        if (__builtin_add_overflow(integer, other.integer, &integer)) integerOverflow = true;
        integerOverflow |= other.integerOverflow;
        sawReal |= other.sawReal;
        reals.merge(other.reals);
    }

    // Sum: null for no values, an integer while only integers came and
    // their sum fits, else the rounded exact sum (integers that overflow
    // turn real, as the engine's + does).
    enum class Failure { None, RealOverflow };
    struct Outcome {
        enum class Kind { Null, Integer, Real } kind = Kind::Null;
        int64_t integer = 0;
        double real = 0;
        Failure failure = Failure::None;
    };
    Outcome sum() const {
        if (count == 0) return {};
        if (!sawReal && !integerOverflow) return {.kind = Outcome::Kind::Integer, .integer = integer};
        if (reals.overflowed()) return {.failure = Failure::RealOverflow};
        return {.kind = Outcome::Kind::Real, .real = reals.value()};
    }
    Outcome average() const {
        if (count == 0) return {};
        if (reals.overflowed()) return {.failure = Failure::RealOverflow};
        // Integers that fit are summed exactly and rounded once.
        const double total = !sawReal && !integerOverflow ? double(integer) : reals.value();
        return {.kind = Outcome::Kind::Real, .real = total / double(count)};
    }
};

}  // namespace tarlo
