// Format(value, pattern) as the old engine's users wrote it: date
// patterns (yyyy mm dd hh nn ss, weekday and Japanese era names), number
// patterns (0 # , . % with literal text and up to four ";" sections), "@"
// for text, and the named patterns (Short Date, Long Date, Percent, ...).
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace tarlo {

struct FormatValue {
    std::optional<double> number;  // a number, or a text that reads as one
    std::optional<int64_t> date;   // packed yyyymmddhhmmss, for a date text or a number's serial
    QString text;                  // the value as the table shows it
    bool isNull = false;
};

// The week's first day (1 Sunday ... 7 Saturday) and the year's first week
// (1 the week of January 1, 2 the first with four days, 3 the first whole
// one), as Format's third and fourth arguments give them, for w and ww.
struct WeekRule {
    int firstDay = 1, firstWeek = 1;
};

QString formatJetValue(const FormatValue& value, const QString& pattern, WeekRule week = {});

}  // namespace tarlo
