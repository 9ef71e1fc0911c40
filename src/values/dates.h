// Dates as the old engine's functions see them. Values travel as packed
// yyyymmddhhmmss numbers and as the texts the table shows (yyyy/mm/dd,
// yyyy/mm/dd hh:nn:ss, or hh:nn:ss for a time of day alone); arithmetic
// goes through serial days counted from 1899/12/30, as the old engine
// counted them.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarlo {

// The day a time of day alone stands on.
inline constexpr int64_t kTimeOnlyDate = 18991230;

// A date, a date with time, or a time of day alone (hh:nn[:ss]).
std::optional<int64_t> parseJetDate(std::string_view text);

double serialOf(int64_t packed);
// Nothing when the serial lies outside years 100 to 9999.
std::optional<int64_t> packedOfSerial(double serial);

// yyyy/mm/dd[ hh:nn:ss], or hh:nn:ss alone on the time-only day.
QString jetDateText(int64_t packed);

struct DateParts {
    int year, month, day, hour, minute, second;
};
DateParts partsOf(int64_t packed);
// Rolls months, days and times over as DateSerial and TimeSerial do.
std::optional<int64_t> packedOfParts(int year, int month, int day, int hour, int minute, int second);

// A date written as pattern says (yyyy yy mm m dd d hh h nn n ss s, other
// characters as they stand), as schema.ini's DateTimeFormat gives it.
std::optional<int64_t> parseDateWithPattern(std::string_view text, const QString& pattern);

}  // namespace tarlo
