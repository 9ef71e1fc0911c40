#include "values/exact_sum.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace tarlo {

ExactSum::ExactSum(ExactSum&& other) noexcept {
    *this = std::move(other);
}

ExactSum& ExactSum::operator=(ExactSum&& other) noexcept {
    if (this == &other) return *this;
    release();
    std::memcpy(inline_, other.inline_, sizeof inline_);
    heap_ = std::exchange(other.heap_, nullptr);
    count_ = std::exchange(other.count_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    posInf_ = other.posInf_;
    negInf_ = other.negInf_;
    nan_ = other.nan_;
    overflow_ = other.overflow_;
    return *this;
}

void ExactSum::release() {
    std::free(heap_);
    heap_ = nullptr;
    count_ = capacity_ = 0;
    inline_[0] = inline_[1] = 0;
    posInf_ = negInf_ = nan_ = 0;
    overflow_ = false;
}

void ExactSum::grow() {
    const uint32_t capacity = heap_ ? capacity_ * 2 : 8;
    auto* bigger = static_cast<double*>(std::malloc(capacity * sizeof(double)));
    if (!bigger) throw std::bad_alloc();
    std::memcpy(bigger, data(), count_ * sizeof(double));
    std::free(heap_);
    heap_ = bigger;
    capacity_ = capacity;
}

void ExactSum::add(double x) {
    if (!std::isfinite(x)) {
        ++(std::isnan(x) ? nan_ : x > 0 ? posInf_ : negInf_);
        return;
    }
    double* p = data();
    uint32_t kept = 0;
    for (uint32_t j = 0; j < count_; ++j) {
        double y = p[j];
        if (std::fabs(x) < std::fabs(y)) std::swap(x, y);
        const double hi = x + y;
        const double lo = y - (hi - x);
        if (lo != 0) p[kept++] = lo;
        x = hi;
    }
    count_ = kept;
    if (x == 0) return;
    if (!std::isfinite(x)) {
        overflow_ = true;
        return;
    }
    if (count_ == (heap_ ? capacity_ : 2)) {
        grow();
        p = data();
    }
    p[count_++] = x;
}

void ExactSum::remove(double x) {
    if (!std::isfinite(x)) {
        --(std::isnan(x) ? nan_ : x > 0 ? posInf_ : negInf_);
        return;
    }
    add(-x);
}

void ExactSum::merge(const ExactSum& other) {
    const double* p = other.data();
    for (uint32_t j = 0; j < other.count_; ++j) add(p[j]);
    posInf_ += other.posInf_;
    negInf_ += other.negInf_;
    nan_ += other.nan_;
    overflow_ |= other.overflow_;
}

double ExactSum::value() const {
    if (nan_ || (posInf_ && negInf_)) return std::numeric_limits<double>::quiet_NaN();
    if (posInf_) return std::numeric_limits<double>::infinity();
    if (negInf_) return -std::numeric_limits<double>::infinity();
    const double* p = data();
    uint32_t n = count_;
    if (n == 0) return 0;
    // Add from the largest down until the rest cannot change the sum,
    // then settle a tie the rest would break (round half even is not enough).
    double hi = p[--n];
    double lo = 0;
    while (n > 0) {
        const double x = hi;
        const double y = p[--n];
        hi = x + y;
        const double yr = hi - x;
        lo = y - yr;
        if (lo != 0) break;
    }
    if (n > 0 && ((lo < 0 && p[n - 1] < 0) || (lo > 0 && p[n - 1] > 0))) {
        const double y = lo * 2;
        const double x = hi + y;
        const double yr = x - hi;
        if (y == yr) hi = x;
    }
    return hi;
}

}  // namespace tarlo
