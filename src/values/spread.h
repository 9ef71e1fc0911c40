// The spread of numbers (StDev, StDevP, Var, VarP) from exact totals of the
// values and of their squares, so no order of rows changes the answer: the
// engine's sorter, an index and the column path's threads each feed the
// values in an order of their own. Values whose squares no double holds
// (beyond about 1e154) leave the exact way; running moments (Welford's,
// merged by Chan's rule) answer for those, taken of the values scaled by
// 2^-600 so that no distance squared leaves a double's range.
#pragma once

#include "values/exact_sum.h"

#include <cstdint>
#include <optional>

namespace tarlo {

class Spread {
public:
    // Starts empty; all-zero bytes are an empty spread too (SQLite's aggregate context).
    void add(double x);
    // Adds every value other was given.
    void merge(const Spread& other);

    // The variance (sample: divided by n - 1, else by n) or its square
    // root; no value for no values, or one for a sample. exact tells
    // whether the exact totals gave it (else the running moments did).
    // A variance past a double's range is infinite (its root is not).
    struct Answer {
        std::optional<double> value;
        bool exact = true;
    };
    Answer value(bool sample, bool root) const;
    int64_t count() const { return count_; }
    // Frees what the totals took (for storage SQLite frees itself).
    void release();

private:
    int64_t count_ = 0;
    ExactSum sum_, squares_;
    double mean_ = 0, distances_ = 0;  // running moments, of the values times kScale
    bool huge_ = false;
};

}  // namespace tarlo
