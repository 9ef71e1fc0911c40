#include "values/column_types.h"

#include <charconv>
#include <cstdio>
#include <limits>

namespace tarlo {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads 1 to maxDigits digits.
bool readNumber(std::string_view s, size_t& at, int minDigits, int maxDigits, int& out) {
    int n = 0;
    out = 0;
    while (at < s.size() && isDigit(s[at]) && n < maxDigits) {
        out = out * 10 + (s[at] - '0');
        ++at;
        ++n;
    }
    return n >= minDigits && !(at < s.size() && isDigit(s[at]));
}

bool isLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : days[m - 1];
}

struct DateParts {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    bool time = false;
};

std::optional<DateParts> parseDateParts(std::string_view s) {
    DateParts d;
    size_t at = 0;
    if (!readNumber(s, at, 4, 4, d.year) || at >= s.size()) return std::nullopt;
    const char sep = s[at];
    if (sep != '/' && sep != '-') return std::nullopt;
    ++at;
    if (!readNumber(s, at, 1, 2, d.month) || at >= s.size() || s[at] != sep) return std::nullopt;
    ++at;
    if (!readNumber(s, at, 1, 2, d.day)) return std::nullopt;
    if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > daysInMonth(d.year, d.month)) return std::nullopt;
    if (at == s.size()) return d;
    if (s[at] != ' ') return std::nullopt;
    ++at;
    if (!readNumber(s, at, 1, 2, d.hour) || at >= s.size() || s[at] != ':') return std::nullopt;
    ++at;
    if (!readNumber(s, at, 2, 2, d.minute)) return std::nullopt;
    if (at < s.size()) {
        if (s[at] != ':') return std::nullopt;
        ++at;
        if (!readNumber(s, at, 2, 2, d.second) || at != s.size()) return std::nullopt;
    }
    if (d.hour > 23 || d.minute > 59 || d.second > 59) return std::nullopt;
    d.time = true;
    return d;
}

// -?(0|[1-9][0-9]*)(\.[0-9]+)? : which parts it has, or nothing.
struct NumberShape {
    bool valid = false;
    bool fraction = false;
    int significantDigits = 0;
};

NumberShape numberShapeOf(std::string_view s) {
    NumberShape shape;
    size_t at = 0;
    if (at < s.size() && s[at] == '-') ++at;
    const size_t intStart = at;
    while (at < s.size() && isDigit(s[at])) ++at;
    const size_t intDigits = at - intStart;
    if (intDigits == 0) return shape;
    if (intDigits > 1 && s[intStart] == '0') return shape;  // a leading zero: a code, not a number
    size_t fracDigits = 0;
    if (at < s.size() && s[at] == '.') {
        ++at;
        const size_t fracStart = at;
        while (at < s.size() && isDigit(s[at])) ++at;
        fracDigits = at - fracStart;
        if (fracDigits == 0) return shape;
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

}  // namespace

std::optional<int64_t> parseInteger(std::string_view value) {
    int64_t out = 0;
    const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), out);
    if (ec != std::errc() || ptr != value.data() + value.size()) return std::nullopt;
    return out;
}

std::optional<double> parseReal(std::string_view value) {
    double out = 0;
    const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), out);
    if (ec != std::errc() || ptr != value.data() + value.size()) return std::nullopt;
    return out;
}

ValueShape shapeOf(std::string_view value) {
    ValueShape shape;
    const NumberShape number = numberShapeOf(value);
    if (number.valid) {
        if (value == "-0") return shape;  // the sign would be lost
        // The smallest 64-bit value stands for null in an integer column.
        const auto integer = number.fraction ? std::nullopt : parseInteger(value);
        shape.integer = integer.has_value() && *integer != std::numeric_limits<int64_t>::min();
        shape.real = number.significantDigits <= 15;
        return shape;
    }
    if (const auto date = parseDateParts(value)) {
        shape.date = true;
        shape.time = date->time;
    }
    return shape;
}

void TypeInference::add(std::string_view value) {
    if (value.empty()) return;
    any_ = true;
    if (!integer_ && !real_ && !date_) return;
    const ValueShape shape = shapeOf(value);
    integer_ = integer_ && shape.integer;
    real_ = real_ && shape.real;
    date_ = date_ && shape.date;
    time_ = time_ || shape.time;
}

ColumnType TypeInference::type() const {
    if (!any_) return ColumnType::Text;
    if (integer_) return ColumnType::Integer;
    if (real_) return ColumnType::Real;
    if (date_) return time_ ? ColumnType::DateTime : ColumnType::Date;
    return ColumnType::Text;
}

int64_t parseDateTime(std::string_view value) {
    const auto d = parseDateParts(value);
    if (!d) return 0;
    return ((((int64_t(d->year) * 100 + d->month) * 100 + d->day) * 100 + d->hour) * 100 + d->minute) * 100 +
           d->second;
}

std::string formatReal(double value) {
    char buffer[32];
    // %.15g semantics, without the cost of printf.
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    std::string s(buffer, result.ptr);
    if (s == "-0") s = "0";
    return s;
}

namespace {
char* putDigits(char* out, int value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    return out + width;
}
}  // namespace

std::string formatDateTime(int64_t packed, bool withTime) {
    const int second = int(packed % 100), minute = int(packed / 100 % 100), hour = int(packed / 10000 % 100);
    const int64_t date = packed / 1000000;
    char buffer[20];
    char* p = putDigits(buffer, int(date / 10000), 4);
    *p++ = '/';
    p = putDigits(p, int(date / 100 % 100), 2);
    *p++ = '/';
    p = putDigits(p, int(date % 100), 2);
    if (withTime && (hour || minute || second)) {
        *p++ = ' ';
        p = putDigits(p, hour, 2);
        *p++ = ':';
        p = putDigits(p, minute, 2);
        *p++ = ':';
        p = putDigits(p, second, 2);
    }
    return std::string(buffer, p);
}

}  // namespace tarlo
