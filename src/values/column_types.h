// Column types, told from every value of a column (not a sample): integer,
// real, date, date-time or text. A value with a leading zero keeps its
// column text, so codes are never changed; the null tokens (NA, N/A, #N/A,
// NULL, NaN, #DIV/0!, marks alone such as "." or "-": numbers.h) are nulls
// in a column of numbers or dates and never make it text.
#pragma once

#include "values/dates.h"
#include "values/numbers.h"

#include <string>
#include <string_view>

namespace tarlo {

// Time: times of day alone (9:00, 13:30:15, 1:30 PM), packed on 1899/12/30
// and shown as hh:nn:ss, as the old engine kept a time.
enum class ColumnType { Integer, Real, Date, DateTime, Text, Time };

// The value without the blanks around it, as numbers and dates are read.
inline std::string_view withoutBlanks(std::string_view v) {
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
    return v;
}
// Blank, or a null token: a null in a column of numbers or dates.
inline bool isNullText(std::string_view value) {
    if (value.empty()) return true;
    if (value[0] >= '0' && value[0] <= '9') return false;  // most values: no need to look further
    value = withoutBlanks(value);
    return value.empty() || isNullToken(value);
}

// A date, date-time or time column's value as the tables show it.
inline std::string momentText(ColumnType type, int64_t packed) {
    return type == ColumnType::Time ? formatTimeOfDay(packed) : formatDateTime(packed, true);
}

// Folds a column's values into its type, reading each value once as what
// the column may still be, so the reader can keep what was read.
class TypeInference {
public:
    struct Reading {
        enum Kind { Null, Integer, Real, Date, Text } kind = Null;
        int64_t integer = 0;   // Integer; Date as packed yyyymmddhhmmss
        double real = 0;       // Real
        int significantDigits = 0;
    };
    // Once a value reads Text the column is text: later calls read nothing.
    // A Real may follow Integers: the column is then real, and the
    // integers read so far stand for the same reals.
    Reading add(std::string_view value);
    // As add, for the type alone: a plain number (-?digits(.digits)?, a
    // double's worth of digits) is only looked at, not read.
    void note(std::string_view value);
    bool decided() const { return !integer_ && !real_ && !date_; }
    ColumnType type() const;
    // Whether an integer read was the smallest 64-bit value, which the
    // table otherwise keeps for null.
    bool holdsLowest() const { return lowest_; }

private:
    bool any_ = false;      // a value that is no null token
    bool integer_ = true;
    bool real_ = true;
    bool date_ = true;
    bool time_ = false;
    bool timesOnly_ = true;  // every date read so far is a time of day alone
    bool lowest_ = false;
};

}  // namespace tarlo
