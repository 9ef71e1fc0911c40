// Reading and writing the numbers of table files.
#include "values/numbers.h"

#include <charconv>

namespace tarlo {

namespace {
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
}  // namespace

NumberShape numberShapeOf(std::string_view s) {
    NumberShape shape;
    size_t at = 0;
    if (at < s.size() && s[at] == '-') ++at;
    const size_t intStart = at;
    while (at < s.size() && isDigit(s[at])) ++at;
    const size_t intDigits = at - intStart;
    if (intDigits == 0) return shape;
    if (intDigits > 1 && s[intStart] == '0') return shape;  // a leading zero: a code, not a number
    if (at < s.size() && s[at] == '.') {
        ++at;
        const size_t fracStart = at;
        while (at < s.size() && isDigit(s[at])) ++at;
        if (at == fracStart) return shape;
        shape.fraction = true;
    }
    if (at != s.size()) return shape;
    // Significant digits: leading zeros of "0.00x" do not count.
    int significant = 0;
    bool started = false;
    for (size_t i = intStart; i < s.size(); ++i) {
        if (s[i] == '.') continue;
        started = started || s[i] != '0';
        significant += started;
    }
    shape.valid = true;
    shape.significantDigits = significant;
    return shape;
}

std::optional<int64_t> parseInteger(std::string_view text) {
    int64_t out = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    return out;
}

std::optional<double> parseReal(std::string_view text) {
    double out = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    return out;
}

std::string formatReal(double value) {
    char buffer[32];
    // %.15g semantics, without the cost of printf.
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    std::string s(buffer, result.ptr);
    if (s == "-0") s = "0";
    return s;
}

}  // namespace tarlo
