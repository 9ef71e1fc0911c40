// Dates and times. Values travel as packed yyyymmddhhmmss integers, which
// sort and compare as the moments they stand for, and are shown as the
// table shows them (yyyy/mm/dd, yyyy/mm/dd hh:nn:ss, or hh:nn:ss for a time
// of day alone); arithmetic goes through serial days counted from
// 1899/12/30, as the old engine counted them.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class QDate;
class QTime;

namespace tarlo {

struct DateParts {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
int64_t packDate(const DateParts& parts);
DateParts unpackDate(int64_t packed);
// Nothing outside years 100 to 9999.
std::optional<int64_t> packDate(const QDate& date, const QTime& time);

// Texts in the order of the moments they read as (parseJetDate): a time of
// day alone beside a date. Texts that are no moment come after, ignoring case.
inline constexpr char kMomentCollation[] = "TARLO_MOMENT";
int compareMomentTexts(std::string_view a, std::string_view b);

// The day a time of day alone stands on.
inline constexpr int64_t kTimeOnlyDate = 18991230;

// A table value's date spellings: yyyy/mm/dd, yyyy-mm-dd, yyyy/m/d, with an
// optional " h:nn[:ss]". Nothing for anything else or an impossible date.
struct DateReading {
    int64_t packed = 0;
    bool hasTime = false;
};
std::optional<DateReading> readDateText(std::string_view text);

// yyyy/mm/dd, and yyyy/mm/dd hh:nn:ss when withTime and not midnight.
std::string formatDateTime(int64_t packed, bool withTime);
// The time of day alone, hh:nn:ss.
std::string formatTimeOfDay(int64_t packed);

// As the old engine's functions read a text: a date, a date with time, or a
// time of day alone (hh:nn[:ss]).
std::optional<int64_t> parseJetDate(std::string_view text);

// A time of day alone, as a table or a #literal# writes one: h:nn or
// h:nn:ss, with AM or PM after it (1:30 PM) or 午前/午後 before it; packed
// on 1899/12/30, the old engine's day of times.
std::optional<int64_t> readTimeText(std::string_view text);

double serialOf(int64_t packed);
// Nothing when the serial lies outside years 100 to 9999.
std::optional<int64_t> packedOfSerial(double serial);

// yyyy/mm/dd[ hh:nn:ss], or hh:nn:ss alone on the time-only day.
QString jetDateText(int64_t packed);

// Rolls months, days and times over as DateSerial and TimeSerial do.
std::optional<int64_t> packedOfParts(int year, int month, int day, int hour, int minute, int second);

// 1 to 7 as date falls in a week starting on firstDay (1 = Sunday).
int weekdayOf(const QDate& date, int firstDay);
// The week of the year date falls in, weeks starting on firstDay; the first
// week holds January 1 (firstWeek 1), four days of the year (2), or is the
// first whole one (3). A day before the first week is in the last week of
// the year before.
int64_t weekOfYear(const QDate& date, int firstDay, int firstWeek);

// A date written as pattern says (yyyy yy mm m dd d hh h nn n ss s, other
// characters as they stand), as schema.ini's DateTimeFormat gives it.
std::optional<int64_t> parseDateWithPattern(std::string_view text, const QString& pattern);

}  // namespace tarlo
