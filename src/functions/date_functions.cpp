// The old engine's date functions: Date, Time, Now, Year .. Second,
// Weekday, DateAdd, DateDiff, DatePart, DateSerial, TimeSerial, DateValue,
// TimeValue and CDate. Dates are date texts, or numbers read as serial days.
#include "values/dates.h"
#include "functions/function_support.h"
#include "functions/registry.h"

#include <QDateTime>

#include <cmath>

namespace tarlo {

namespace {

std::optional<int64_t> dateValueOf(sqlite3_value* v) {
    if (isNumberArg(v)) return packedOfSerial(sqlite3_value_double(v));
    return dateOf(v);
}

void resultPacked(sqlite3_context* ctx, std::optional<int64_t> packed) {
    if (!packed) return resultError(ctx, QStringLiteral("日付が範囲 (100 年から 9999 年) を超えました"));
    resultText(ctx, jetDateText(*packed));
}

QDateTime dateTimeOf(int64_t packed) {
    const DateParts p = unpackDate(packed);
    return QDateTime(QDate(p.year, p.month, p.day), QTime(p.hour, p.minute, p.second), Qt::UTC);
}

std::optional<int64_t> packedOf(const QDateTime& t) {
    return packDate(t.date(), t.time());
}

// The week number of julian day jd in weeks that start on firstDay (1 = Sunday).
int64_t weekIndex(int64_t jd, int firstDay) {
    const int64_t shifted = jd + 2 - firstDay;
    return shifted >= 0 ? shifted / 7 : (shifted - 6) / 7;
}


// firstweekofyear: 0 (the system's, January 1 here) to 3; anything else stops.
bool firstWeekArg(sqlite3_context* ctx, const char* function, int argc, sqlite3_value** a, int at, int& out) {
    out = 1;
    if (argc <= at || isNullArg(a[at])) return true;
    const int64_t f = sqlite3_value_int64(a[at]);
    if (f < 0 || f > 3) {
        resultError(ctx, u"%1 の firstweekofyear %2 が正しくありません (0 から 3 です)", function, f);
        return false;
    }
    out = f == 0 ? 1 : int(f);
    return true;
}

int firstDayArg(int argc, sqlite3_value** a, int at) {
    if (argc <= at || isNullArg(a[at])) return 1;
    const int f = sqlite3_value_int(a[at]);
    return f < 1 || f > 7 ? 1 : f;
}

enum class Interval { Year, Quarter, Month, DayOfYear, Day, Weekday, Week, Hour, Minute, Second, Unknown };

Interval intervalOf(sqlite3_value* v) {
    const QString s = textArg(v).trimmed().toLower();
    static const std::pair<const char*, Interval> names[] = {
        {"yyyy", Interval::Year}, {"q", Interval::Quarter}, {"m", Interval::Month},  {"y", Interval::DayOfYear},
        {"d", Interval::Day},     {"w", Interval::Weekday}, {"ww", Interval::Week},  {"h", Interval::Hour},
        {"n", Interval::Minute},  {"s", Interval::Second},
    };
    for (const auto& [name, interval] : names)
        if (s == QLatin1String(name)) return interval;
    return Interval::Unknown;
}

void unknownInterval(sqlite3_context* ctx, const char* function, sqlite3_value* v) {
    resultError(ctx, u"%1 の単位 \"%2\" は使えません (yyyy q m y d w ww h n s)", function, textArg(v));
}

// Dates and times as the DateAdd, DateDiff and DatePart arguments give them.
bool dateArgs(sqlite3_context* ctx, const char* function, sqlite3_value** a, int from, int count, int64_t* out) {
    for (int i = 0; i < count; ++i) {
        if (isNullArg(a[from + i])) return sqlite3_result_null(ctx), false;
        const auto d = dateValueOf(a[from + i]);
        if (!d) return mismatch(ctx, function), false;
        out[i] = *d;
    }
    return true;
}

void toDate(sqlite3_context* ctx, int, sqlite3_value** a) {
    const auto d = dateValueOf(a[0]);
    if (!d) return mismatch(ctx, calledFunction(ctx).name);
    resultText(ctx, jetDateText(*d));
}

template <int DateParts::*Part>
void datePart(sqlite3_context* ctx, int, sqlite3_value** a) {
    const auto d = dateValueOf(a[0]);
    if (!d) return mismatch(ctx, calledFunction(ctx).name);
    sqlite3_result_int(ctx, unpackDate(*d).*Part);
}

}  // namespace

std::span<const FunctionDef> dateFunctions() {
    static const FunctionDef kTable[] = {
        {"Date", 0, kNullsHandled | kVolatile, [](sqlite3_context* ctx, int, sqlite3_value**) {
            resultText(ctx, QDate::currentDate().toString(QStringLiteral("yyyy/MM/dd")));
        }},
        {"Time", 0, kNullsHandled | kVolatile, [](sqlite3_context* ctx, int, sqlite3_value**) {
            resultText(ctx, QTime::currentTime().toString(QStringLiteral("hh:mm:ss")));
        }},
        {"Now", 0, kNullsHandled | kVolatile, [](sqlite3_context* ctx, int, sqlite3_value**) {
            resultText(ctx, QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd hh:mm:ss")));
        }},
        {"Year", 1, kNullFirstGivesNull, datePart<&DateParts::year>},
        {"Month", 1, kNullFirstGivesNull, datePart<&DateParts::month>},
        {"Day", 1, kNullFirstGivesNull, datePart<&DateParts::day>},
        {"Hour", 1, kNullFirstGivesNull, datePart<&DateParts::hour>},
        {"Minute", 1, kNullFirstGivesNull, datePart<&DateParts::minute>},
        {"Second", 1, kNullFirstGivesNull, datePart<&DateParts::second>},
        {"Weekday", -1, kNullFirstGivesNull, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
            const auto d = dateValueOf(a[0]);
            if (!d) return mismatch(ctx, "Weekday");
            const DateParts p = unpackDate(*d);
            sqlite3_result_int(ctx, weekdayOf(QDate(p.year, p.month, p.day), firstDayArg(argc, a, 1)));
        }},
        // The names of the Japanese calendar, as the users' systems give them:
        // MonthName(1) is 1月 (abbreviated 1), WeekdayName(1) 日曜日 (日).
        {"MonthName", -1, kNullFirstGivesNull, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
            if (argc < 1 || argc > 2) return resultError(ctx, QStringLiteral("MonthName の引数は 1 つか 2 つです"));
            double d;
            if (!numberOf(a[0], d)) return mismatch(ctx, "MonthName");
            const double month = roundHalfEven(d);
            if (month < 1 || month > 12)
                return resultError(ctx, u"MonthName の月 %1 が正しくありません (1 から 12 です)", textArg(a[0]));
            const bool abbreviated = argc > 1 && !isNullArg(a[1]) && sqlite3_value_double(a[1]) != 0;
            resultText(ctx, QString::number(int(month)) + (abbreviated ? QString() : QStringLiteral("月")));
        }},
        {"WeekdayName", -1, kNullFirstGivesNull, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
            if (argc < 1 || argc > 3) return resultError(ctx, QStringLiteral("WeekdayName の引数は 1 つから 3 つです"));
            double d;
            if (!numberOf(a[0], d)) return mismatch(ctx, "WeekdayName");
            const double weekday = roundHalfEven(d);
            if (weekday < 1 || weekday > 7)
                return resultError(ctx, u"WeekdayName の曜日 %1 が正しくありません (1 から 7 です)", textArg(a[0]));
            int firstDay = 1;  // 0, the system's first day, is Sunday here
            if (argc > 2 && !isNullArg(a[2])) {
                firstDay = sqlite3_value_int(a[2]);
                if (firstDay < 0 || firstDay > 7)
                    return resultError(ctx, u"WeekdayName の firstdayofweek %1 が正しくありません (0 から 7 です)", firstDay);
                if (firstDay == 0) firstDay = 1;
            }
            static const char16_t* const kNames[] = {u"日", u"月", u"火", u"水", u"木", u"金", u"土"};
            const bool abbreviated = argc > 1 && !isNullArg(a[1]) && sqlite3_value_double(a[1]) != 0;
            const QString name = QString::fromUtf16(kNames[(int(weekday) - 1 + firstDay - 1) % 7]);
            resultText(ctx, abbreviated ? name : name + QStringLiteral("曜日"));
        }},
        {"DateSerial", 3, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            for (int i = 0; i < 3; ++i)
                if (isNullArg(a[i])) return sqlite3_result_null(ctx);
            resultPacked(ctx, packedOfParts(sqlite3_value_int(a[0]), sqlite3_value_int(a[1]), sqlite3_value_int(a[2]), 0, 0, 0));
        }},
        {"TimeSerial", 3, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            for (int i = 0; i < 3; ++i)
                if (isNullArg(a[i])) return sqlite3_result_null(ctx);
            resultPacked(ctx, packedOfParts(1899, 12, 30, sqlite3_value_int(a[0]), sqlite3_value_int(a[1]), sqlite3_value_int(a[2])));
        }},
        {"CDate", 1, kNullFirstGivesNull, toDate},
        {"CVDate", 1, kNullFirstGivesNull, toDate},  // the Variant form of CDate: the same value
        {"DateValue", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            const auto d = dateValueOf(a[0]);
            if (!d) return mismatch(ctx, "DateValue");
            resultText(ctx, jetDateText(*d / 1000000 * 1000000));
        }},
        {"TimeValue", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            const auto d = dateValueOf(a[0]);
            if (!d) return mismatch(ctx, "TimeValue");
            resultText(ctx, jetDateText(kTimeOnlyDate * 1000000 + *d % 1000000));
        }},
        {"DateAdd", 3, kNullsHandled, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            const Interval interval = intervalOf(a[0]);
            if (interval == Interval::Unknown) return unknownInterval(ctx, "DateAdd", a[0]);
            double amount;
            if (isNullArg(a[1]) || isNullArg(a[2])) return sqlite3_result_null(ctx);
            if (!numberOf(a[1], amount)) return mismatch(ctx, "DateAdd");
            int64_t date;
            if (!dateArgs(ctx, "DateAdd", a, 2, 1, &date)) return;
            const qint64 n = qint64(roundHalfEven(amount));
            if (std::fabs(amount) > 1e9) return resultPacked(ctx, std::nullopt);
            const QDateTime t = dateTimeOf(date);
            switch (interval) {
            case Interval::Year: return resultPacked(ctx, packedOf(t.addMonths(int(n * 12))));
            case Interval::Quarter: return resultPacked(ctx, packedOf(t.addMonths(int(n * 3))));
            case Interval::Month: return resultPacked(ctx, packedOf(t.addMonths(int(n))));
            case Interval::Week: return resultPacked(ctx, packedOf(t.addDays(n * 7)));
            case Interval::Hour: return resultPacked(ctx, packedOf(t.addSecs(n * 3600)));
            case Interval::Minute: return resultPacked(ctx, packedOf(t.addSecs(n * 60)));
            case Interval::Second: return resultPacked(ctx, packedOf(t.addSecs(n)));
            default: return resultPacked(ctx, packedOf(t.addDays(n)));
            }
        }},
        {"DateDiff", -1, kNullsHandled, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
            if (argc < 3 || argc > 5) return resultError(ctx, QStringLiteral("DateDiff の引数は 3 つから 5 つです"));
            const Interval interval = intervalOf(a[0]);
            if (interval == Interval::Unknown) return unknownInterval(ctx, "DateDiff", a[0]);
            int64_t dates[2];
            if (!dateArgs(ctx, "DateDiff", a, 1, 2, dates)) return;
            // Weeks are counted by the boundaries they cross: where the year's first week lies changes none.
            int firstWeek = 1;
            if (!firstWeekArg(ctx, "DateDiff", argc, a, 4, firstWeek)) return;
            const DateParts p = unpackDate(dates[0]), q = unpackDate(dates[1]);
            const QDateTime t1 = dateTimeOf(dates[0]), t2 = dateTimeOf(dates[1]);
            const int64_t jd1 = t1.date().toJulianDay(), jd2 = t2.date().toJulianDay();
            const int64_t s1 = jd1 * 86400 + t1.time().msecsSinceStartOfDay() / 1000;
            const int64_t s2 = jd2 * 86400 + t2.time().msecsSinceStartOfDay() / 1000;
            auto floorDiv = [](int64_t x, int64_t y) { return x >= 0 ? x / y : (x - y + 1) / y; };
            int64_t r = 0;
            switch (interval) {
            case Interval::Year: r = q.year - p.year; break;
            case Interval::Quarter: r = (q.year * 4 + (q.month - 1) / 3) - (p.year * 4 + (p.month - 1) / 3); break;
            case Interval::Month: r = (q.year * 12 + q.month) - (p.year * 12 + p.month); break;
            case Interval::Weekday: r = (jd2 - jd1) / 7; break;
            case Interval::Week: {
                const int firstDay = firstDayArg(argc, a, 3);
                r = weekIndex(jd2, firstDay) - weekIndex(jd1, firstDay);
                break;
            }
            case Interval::Hour: r = floorDiv(s2, 3600) - floorDiv(s1, 3600); break;
            case Interval::Minute: r = floorDiv(s2, 60) - floorDiv(s1, 60); break;
            case Interval::Second: r = s2 - s1; break;
            default: r = jd2 - jd1; break;
            }
            sqlite3_result_int64(ctx, r);
        }},
        {"DatePart", -1, kNullsHandled, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
            if (argc < 2 || argc > 4) return resultError(ctx, QStringLiteral("DatePart の引数は 2 つから 4 つです"));
            const Interval interval = intervalOf(a[0]);
            if (interval == Interval::Unknown) return unknownInterval(ctx, "DatePart", a[0]);
            int64_t date;
            if (!dateArgs(ctx, "DatePart", a, 1, 1, &date)) return;
            const DateParts p = unpackDate(date);
            const QDate d(p.year, p.month, p.day);
            const int firstDay = firstDayArg(argc, a, 2);
            int firstWeek = 1;
            if (!firstWeekArg(ctx, "DatePart", argc, a, 3, firstWeek)) return;
            switch (interval) {
            case Interval::Year: return sqlite3_result_int(ctx, p.year);
            case Interval::Quarter: return sqlite3_result_int(ctx, (p.month - 1) / 3 + 1);
            case Interval::Month: return sqlite3_result_int(ctx, p.month);
            case Interval::DayOfYear: return sqlite3_result_int(ctx, d.dayOfYear());
            case Interval::Day: return sqlite3_result_int(ctx, p.day);
            case Interval::Weekday: return sqlite3_result_int(ctx, weekdayOf(d, firstDay));
            case Interval::Week: return sqlite3_result_int64(ctx, weekOfYear(d, firstDay, firstWeek));
            case Interval::Hour: return sqlite3_result_int(ctx, p.hour);
            case Interval::Minute: return sqlite3_result_int(ctx, p.minute);
            default: return sqlite3_result_int(ctx, p.second);
            }
        }},
    };
    return kTable;
}

}  // namespace tarlo
