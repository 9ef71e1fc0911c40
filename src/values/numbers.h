// Numbers as the table files spell them and as results show them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarlo {

// A number in any spelling that writers produce: blanks around it, a sign,
// digits in regular groups of three ("1,234,567"), a leading or trailing
// "." (".5", "1."), an exponent ("9.5e-4"). A leading zero ("007", "-007")
// makes it no number, so codes keep their text, unless leadingZeros says
// the text is being converted ("007" + 1 = 8).
struct NumberReading {
    bool integer = false;  // no "." and no exponent, and fits 64 bits
    int64_t whole = 0;     // the value, when integer
    double real = 0;       // the value, always
    int significantDigits = 0;
};
std::optional<NumberReading> readNumberText(std::string_view text, bool leadingZeros = false);

// The whole text as a number, or nothing.
std::optional<int64_t> parseInteger(std::string_view text);
std::optional<double> parseReal(std::string_view text);

// Tokens that stand for a missing value in a column of numbers or dates:
// NA, N/A, #N/A, NULL and NaN in any case, a spreadsheet's errors (#DIV/0!,
// #VALUE!, #REF!, #NAME?, #NUM!, #NULL!) and marks alone (".", "-", "--",
// "*", "?", "…", "－").
bool isNullToken(std::string_view text);

// Up to 15 significant digits without trailing zeros; -0 shows as 0.
std::string formatReal(double value);
// The same, written at out (room for 32 characters); gives its end.
char* formatRealInto(char* out, double value);

}  // namespace tarlo
