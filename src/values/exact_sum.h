// The sum of reals as the exact total rounded once, so a Sum or an Avg does
// not depend on the order the rows arrive in: the engine's sorter, an index
// and the threads of the column path each feed them in an order of their
// own, and all must print the same total. Shewchuk's non-overlapping
// partials (the method of Python's math.fsum), two kept inline, so a group
// costs 48 bytes until its sum needs more.
#pragma once

#include <cstdint>
#include <span>

namespace tarlo {

class ExactSum {
public:
    // Starts empty; all-zero bytes are an empty sum too (SQLite's aggregate context).
    ExactSum() = default;
    ExactSum(const ExactSum&) = delete;
    ExactSum& operator=(const ExactSum&) = delete;
    ExactSum(ExactSum&& other) noexcept;
    ExactSum& operator=(ExactSum&& other) noexcept;
    ~ExactSum() { release(); }

    void add(double x);
    // Takes back a value added before (a window frame moving on); exact too.
    void remove(double x);
    // Adds every value other was given: the same as adding them here.
    void merge(const ExactSum& other);
    // The exact total rounded to the nearest double (ties to even); an
    // infinity given makes it infinite, opposite infinities or a NaN make it NaN.
    double value() const;
    // The finite partials whose exact total is the sum's (infinities aside).
    std::span<const double> partials() const { return {data(), count_}; }
    // A total of finite values that no double holds: value() means nothing then.
    bool overflowed() const { return overflow_; }
    // Frees what add took, leaving an empty sum (for storage SQLite frees itself).
    void release();

private:
    double* data() { return heap_ ? heap_ : inline_; }
    const double* data() const { return heap_ ? heap_ : inline_; }
    void grow();

    double inline_[2] = {0, 0};
    double* heap_ = nullptr;
    uint32_t count_ = 0;     // partials held, smallest magnitude first
    uint32_t capacity_ = 0;  // of heap_
    uint32_t posInf_ = 0, negInf_ = 0, nan_ = 0;  // counts, so a window can take them back
    bool overflow_ = false;
};

}  // namespace tarlo
