#include "values/spread.h"

#include <algorithm>
#include <cmath>

namespace tarlo {

namespace {

// A power of two, so scaling is exact for all but values too small to
// count beside the huge ones that need it.
constexpr double kScale = 0x1p-600, kUnscale = 0x1p600;

}  // namespace

void Spread::add(double x) {
    ++count_;
    const double scaled = x * kScale;
    const double delta = scaled - mean_;
    mean_ += delta / double(count_);
    distances_ += delta * (scaled - mean_);
    // x * x is square + its rounding error, both exactly (fma).
    const double square = x * x;
    if (!std::isfinite(square)) {
        huge_ = true;
        return;
    }
    sum_.add(x);
    squares_.add(square);
    squares_.add(std::fma(x, x, -square));
}

void Spread::merge(const Spread& other) {
    if (!other.count_) return;
    const double n = double(count_), m = double(other.count_), delta = other.mean_ - mean_;
    mean_ += delta * m / (n + m);
    distances_ += other.distances_ + delta * delta * n * m / (n + m);
    count_ += other.count_;
    sum_.merge(other.sum_);
    squares_.merge(other.squares_);
    huge_ = huge_ || other.huge_;
}

namespace {

// n * sum(x^2) - sum(x)^2, exactly, rounded once: each product of two
// doubles is exact as its rounded value and its error (fma). Nothing when
// a product leaves a double's range.
std::optional<double> exactNumerator(int64_t count, const ExactSum& sum, const ExactSum& squares) {
    ExactSum out;
    const auto add = [&](double a, double b, bool negate) {
        const double p = a * b;
        const double e = std::fma(a, b, -p);
        out.add(negate ? -p : p);
        out.add(negate ? -e : e);
        return std::isfinite(p);
    };
    const double n = double(count);
    for (const double q : squares.partials())
        if (!add(n, q, false)) return std::nullopt;
    for (const double a : sum.partials())
        for (const double b : sum.partials())
            if (!add(a, b, true)) return std::nullopt;
    if (out.overflowed()) return std::nullopt;
    return std::max(out.value(), 0.0);
}

}  // namespace

Spread::Answer Spread::value(bool sample, bool root) const {
    if (count_ == 0 || (sample && count_ < 2)) return {};
    const double n = double(count_), divisor = double(sample ? count_ - 1 : count_);
    const std::optional<double> numerator = huge_ || sum_.overflowed() || squares_.overflowed()
                                                ? std::nullopt
                                                : exactNumerator(count_, sum_, squares_);
    if (numerator) {
        const double variance = *numerator / n / divisor;
        return {root ? std::sqrt(variance) : variance, true};
    }
    const double scaled = distances_ / divisor;
    return {root ? std::sqrt(scaled) * kUnscale : scaled * kUnscale * kUnscale, false};
}

void Spread::release() {
    sum_.release();
    squares_.release();
}

}  // namespace tarlo
