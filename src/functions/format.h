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

QString formatJetValue(const FormatValue& value, const QString& pattern);

}  // namespace tarlo
