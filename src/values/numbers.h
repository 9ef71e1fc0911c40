// Numbers as the table files spell them and as results show them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarlo {

// -?(0|[1-9][0-9]*)(\.[0-9]+)? : which parts a value has; a leading zero
// ("007") makes it no number, so codes keep their text.
struct NumberShape {
    bool valid = false;
    bool fraction = false;
    int significantDigits = 0;
};
NumberShape numberShapeOf(std::string_view text);

// The whole text as a number, or nothing.
std::optional<int64_t> parseInteger(std::string_view text);
std::optional<double> parseReal(std::string_view text);

// Up to 15 significant digits without trailing zeros; -0 shows as 0.
std::string formatReal(double value);

}  // namespace tarlo
