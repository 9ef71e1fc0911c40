#include "csv/declared_value.h"

#include "values/dates.h"

#include <charconv>
#include <cmath>
#include <string>

namespace tarlo {

namespace {

std::string_view trimmedBlanks(std::string_view v) {
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
    return v;
}

std::optional<int64_t> wholeNumber(std::string_view v, int64_t low, int64_t high) {
    if (!v.empty() && v.front() == '+') v.remove_prefix(1);
    int64_t n = 0;
    const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (error != std::errc() || end != v.data() + v.size() || n < low || n > high) return std::nullopt;
    return n;
}

std::optional<double> decimalNumber(std::string_view v, char decimalSymbol) {
    std::string s(v);
    if (decimalSymbol != '.') {
        for (char& c : s)
            if (c == decimalSymbol) c = '.';
            else if (c == '.') c = '\x01';  // a "." is then no decimal point
    }
    if (!s.empty() && s.front() == '+') s.erase(0, 1);
    double d = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), d);
    if (error != std::errc() || end != s.data() + s.size() || !std::isfinite(d)) return std::nullopt;
    return d;
}

}  // namespace

ColumnType storageOf(DeclaredType type) {
    switch (type) {
    case DeclaredType::Integer:
    case DeclaredType::Short:
    case DeclaredType::Byte:
    case DeclaredType::Bit: return ColumnType::Integer;
    case DeclaredType::Real: return ColumnType::Real;
    case DeclaredType::DateTime: return ColumnType::Date;
    default: return ColumnType::Text;
    }
}

std::optional<DeclaredValue> readDeclared(DeclaredType type, std::string_view raw, const TableFormat& format) {
    const std::string_view v = trimmedBlanks(raw);
    DeclaredValue out;
    switch (type) {
    case DeclaredType::Integer: {
        const auto n = wholeNumber(v, INT32_MIN, INT32_MAX);
        if (!n) return std::nullopt;
        out.integer = *n;
        return out;
    }
    case DeclaredType::Short: {
        const auto n = wholeNumber(v, INT16_MIN, INT16_MAX);
        if (!n) return std::nullopt;
        out.integer = *n;
        return out;
    }
    case DeclaredType::Byte: {
        const auto n = wholeNumber(v, 0, 255);
        if (!n) return std::nullopt;
        out.integer = *n;
        return out;
    }
    case DeclaredType::Bit: {
        const std::string lower = [&] {
            std::string s(v);
            for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
            return s;
        }();
        if (lower == "true" || lower == "yes" || lower == "on" || lower == "1" || lower == "-1") out.integer = -1;
        else if (lower == "false" || lower == "no" || lower == "off" || lower == "0") out.integer = 0;
        else return std::nullopt;
        return out;
    }
    case DeclaredType::Real: {
        const auto d = decimalNumber(v, format.decimalSymbol);
        if (!d) return std::nullopt;
        out.real = *d;
        return out;
    }
    case DeclaredType::DateTime: {
        std::optional<int64_t> packed;
        if (!format.dateTimeFormat.isEmpty()) packed = parseDateWithPattern(v, format.dateTimeFormat);
        else if (const auto date = readDateText(v)) packed = date->packed;
        if (!packed) return std::nullopt;
        out.integer = *packed;
        out.hasTime = *packed % 1000000 != 0;
        return out;
    }
    default: return std::nullopt;
    }
}

}  // namespace tarlo
