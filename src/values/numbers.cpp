// Reading and writing the numbers of table files.
#include "values/numbers.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string>

namespace tarlo {

namespace {
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
}  // namespace


// -?digits(.digits)? as most files write numbers, read without a copy;
// nothing when the text needs the general reading below.
static std::optional<NumberReading> readPlainNumber(std::string_view s, bool leadingZeros, bool& plain) {
    plain = false;
    size_t at = s.empty() || s[0] != '-' ? 0 : 1;
    const size_t wholeStart = at;
    uint64_t whole = 0;
    int significant = 0;
    while (at < s.size() && isDigit(s[at])) {
        const int digit = s[at] - '0';
        whole = whole * 10 + uint64_t(digit);
        significant += significant > 0 || digit != 0;
        ++at;
    }
    const size_t wholeDigits = at - wholeStart;
    // What can never start or follow the digits of a number ends the reading here.
    auto neverInNumber = [](char c) {
        return !isDigit(c) && c != '.' && c != ',' && c != 'e' && c != 'E' && c != ' ' && c != '\t' && c != '+' &&
               c != '-';
    };
    if ((at < s.size() && neverInNumber(s[at])) || s.empty()) {
        plain = true;
        return std::nullopt;
    }
    if (wholeDigits == 0 || wholeDigits > 18) return std::nullopt;
    if (!leadingZeros && wholeDigits > 1 && s[wholeStart] == '0') {
        plain = true;  // a code: no spelling makes it a number
        return std::nullopt;
    }
    NumberReading reading;
    if (at == s.size()) {
        plain = true;
        reading.integer = true;
        reading.whole = wholeStart ? -int64_t(whole) : int64_t(whole);
        reading.real = double(reading.whole);
        reading.significantDigits = significant;
        return reading;
    }
    if (s[at] != '.') return std::nullopt;
    const size_t fractionStart = ++at;
    uint64_t digits = whole;  // all of them, while they fit
    while (at < s.size() && isDigit(s[at])) {
        significant += significant > 0 || s[at] != '0';
        if (wholeDigits + (at - fractionStart) < 19) digits = digits * 10 + uint64_t(s[at] - '0');
        ++at;
    }
    if (at == fractionStart || at != s.size()) return std::nullopt;
    const size_t fractionDigits = at - fractionStart;
    plain = true;
    reading.significantDigits = significant;
    // Digits a double holds exactly, over a power of ten it holds exactly:
    // one division, rounded once, is the correctly rounded reading.
    static constexpr double powersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (wholeDigits + fractionDigits <= 19 && digits < (uint64_t(1) << 53) && fractionDigits <= 22) {
        const double magnitude = double(digits) / powersOfTen[fractionDigits];
        reading.real = wholeStart ? -magnitude : magnitude;
        return reading;
    }
    const auto real = parseReal(s);
    if (!real) return std::nullopt;
    reading.real = *real;
    return reading;
}

std::optional<NumberReading> readNumberText(std::string_view s, bool leadingZeros) {
    bool plainForm = false;
    if (auto reading = readPlainNumber(s, leadingZeros, plainForm); plainForm) return reading;
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    if (s.empty() || s.size() > 400) return std::nullopt;
    // The digits alone, with sign, "." and exponent, as from_chars reads them.
    std::string plain;
    size_t at = 0;
    if (s[at] == '-' || s[at] == '+') {
        if (s[at] == '-') plain += '-';
        ++at;
    }
    const size_t mantissaStart = plain.size();
    const size_t wholeStart = at;
    size_t groupDigits = 0;
    bool grouped = false;
    while (at < s.size()) {
        if (isDigit(s[at])) {
            plain += s[at++];
            if (++groupDigits > 3 && grouped) return std::nullopt;
        } else if (s[at] == ',') {
            // "1,234,567": one to three digits first, then groups of three.
            if (grouped ? groupDigits != 3 : groupDigits == 0 || groupDigits > 3) return std::nullopt;
            grouped = true;
            groupDigits = 0;
            ++at;
        } else {
            break;
        }
    }
    if (grouped && groupDigits != 3) return std::nullopt;
    const size_t wholeDigits = plain.size() - mantissaStart;
    if (!leadingZeros && wholeDigits > 1 && s[wholeStart] == '0') return std::nullopt;  // a code, not a number
    bool point = false;
    size_t fractionDigits = 0;
    if (at < s.size() && s[at] == '.') {
        point = true;
        plain += wholeDigits == 0 ? "0." : ".";  // from_chars wants a digit on each side
        ++at;
        while (at < s.size() && isDigit(s[at])) plain += s[at++], ++fractionDigits;
        if (fractionDigits == 0) plain += '0';
    }
    if (wholeDigits == 0 && fractionDigits == 0) return std::nullopt;
    bool exponent = false;
    if (at < s.size() && (s[at] == 'e' || s[at] == 'E')) {
        exponent = true;
        plain += 'e';
        ++at;
        if (at < s.size() && (s[at] == '-' || s[at] == '+')) plain += s[at++];
        size_t digits = 0;
        while (at < s.size() && isDigit(s[at])) plain += s[at++], ++digits;
        if (digits == 0) return std::nullopt;
    }
    if (at != s.size()) return std::nullopt;

    NumberReading reading;
    // Significant digits: leading zeros (of "0.00x" too) do not count, nor
    // the zeros added for from_chars.
    bool started = false;
    for (size_t i = mantissaStart; i < plain.size() && plain[i] != 'e'; ++i) {
        if (plain[i] == '.') continue;
        started = started || plain[i] != '0';
        reading.significantDigits += started;
    }
    if (point && fractionDigits == 0 && started) --reading.significantDigits;
    if (!point && !exponent) {
        if (const auto whole = parseInteger(plain)) {
            reading.integer = true;
            reading.whole = *whole;
            reading.real = double(*whole);
            return reading;
        }
    }
    const auto real = parseReal(plain);
    if (!real || !std::isfinite(*real)) return std::nullopt;
    reading.real = *real;
    return reading;
}

namespace {

// Marks alone, as statistics tables and spreadsheets print a missing
// number: ".", "-", "--", "*", "?", "…", "－", "―".
bool isMarksOnly(std::string_view text) {
    if (text.size() > 12) return false;
    static constexpr std::string_view kWide[] = {"…", "－", "―", "‐", "＊", "？", "・", "．"};
    while (!text.empty()) {
        const char c = text[0];
        if (c > ' ' && c < 0x7F && !(c >= '0' && c <= '9') && !(c >= 'A' && c <= 'Z') && !(c >= 'a' && c <= 'z')) {
            text.remove_prefix(1);
            continue;
        }
        const auto wide = std::find_if(std::begin(kWide), std::end(kWide), [&](std::string_view w) { return text.starts_with(w); });
        if (wide == std::end(kWide)) return false;
        text.remove_prefix(wide->size());
    }
    return true;
}

}  // namespace

bool isNullToken(std::string_view text) {
    if (text.empty() || (text[0] >= '0' && text[0] <= '9')) return false;
    if (isMarksOnly(text)) return true;
    if (text.size() < 2 || text.size() > 7 || (text[0] != 'N' && text[0] != 'n' && text[0] != '#')) return false;
    auto equals = [&](std::string_view token) {
        if (text.size() != token.size()) return false;
        for (size_t i = 0; i < text.size(); ++i)
            if ((text[i] >= 'a' && text[i] <= 'z' ? char(text[i] - 32) : text[i]) != token[i]) return false;
        return true;
    };
    for (const std::string_view token : {"NA", "N/A", "#N/A", "NULL", "NAN", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#NULL!"})
        if (equals(token)) return true;
    return false;
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

char* formatRealInto(char* out, double value) {
    // %.15g semantics, without the cost of printf.
    char* end = std::to_chars(out, out + 32, value, std::chars_format::general, 15).ptr;
    if (end - out == 2 && out[0] == '-' && out[1] == '0') {
        out[0] = '0';
        return out + 1;
    }
    // 1.5E+20 and 1E-05, as the old engine wrote exponents.
    for (char* c = end; c-- > out && c + 6 > end;)  // an exponent is the last few characters
        if (*c == 'e') *c = 'E';
    return end;
}

std::string formatReal(double value) {
    char buffer[32];
    return {buffer, formatRealInto(buffer, value)};
}

}  // namespace tarlo
