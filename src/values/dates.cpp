// Reading, writing and counting dates.
#include "values/dates.h"

#include "values/case_folding.h"

#include <QDate>
#include <QTime>

#include <cmath>

namespace tarlo {

namespace {

const qint64 kEpochJulianDay = QDate(1899, 12, 30).toJulianDay();

int64_t pack(int year, int month, int day, int hour, int minute, int second) {
    return packDate({year, month, day, hour, minute, second});
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads minDigits to maxDigits digits, and no digit may follow them.
bool readNumber(std::string_view s, size_t& at, int minDigits, int maxDigits, int& out) {
    int n = 0;
    out = 0;
    while (at < s.size() && isDigit(s[at]) && n < maxDigits) {
        out = out * 10 + (s[at] - '0');
        ++at;
        ++n;
    }
    return n >= minDigits && !(at < s.size() && isDigit(s[at]));
}

char* putDigits(char* out, int value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

}  // namespace

int64_t packDate(const DateParts& p) {
    return ((((int64_t(p.year) * 100 + p.month) * 100 + p.day) * 100 + p.hour) * 100 + p.minute) * 100 + p.second;
}

DateParts unpackDate(int64_t packed) {
    return {int(packed / 10000000000), int(packed / 100000000 % 100), int(packed / 1000000 % 100),
            int(packed / 10000 % 100), int(packed / 100 % 100), int(packed % 100)};
}

std::optional<int64_t> packDate(const QDate& d, const QTime& t) {
    if (!d.isValid() || d.year() < 100 || d.year() > 9999) return std::nullopt;
    return pack(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

std::optional<DateReading> readDateText(std::string_view s) {
    DateParts d;
    size_t at = 0;
    if (!readNumber(s, at, 4, 4, d.year) || at >= s.size()) return std::nullopt;
    const char sep = s[at];
    if (sep != '/' && sep != '-') return std::nullopt;
    ++at;
    if (!readNumber(s, at, 1, 2, d.month) || at >= s.size() || s[at] != sep) return std::nullopt;
    ++at;
    if (!readNumber(s, at, 1, 2, d.day)) return std::nullopt;
    if (!QDate::isValid(d.year, d.month, d.day)) return std::nullopt;
    if (at == s.size()) return DateReading{packDate(d), false};
    // ISO 8601 puts a "T" between date and time.
    const bool iso = sep == '-' && s[at] == 'T';
    if (s[at] != ' ' && !iso) return std::nullopt;
    ++at;
    if (!readNumber(s, at, iso ? 2 : 1, 2, d.hour) || at >= s.size() || s[at] != ':') return std::nullopt;
    ++at;
    if (!readNumber(s, at, 2, 2, d.minute)) return std::nullopt;
    if (at < s.size() && s[at] == ':') {
        ++at;
        if (!readNumber(s, at, 2, 2, d.second)) return std::nullopt;
        // A fraction of a second is dropped: values count whole seconds.
        if (sep == '-' && at + 1 < s.size() && (s[at] == '.' || s[at] == ',') && isDigit(s[at + 1]))
            for (++at; at < s.size() && isDigit(s[at]);) ++at;
    }
    if (sep == '-' && at < s.size()) {
        // A zone ("Z", "+09:00", "-0500") is read and the time kept as written.
        int zoneHours = 0, zoneMinutes = 0;
        if (s[at] == 'Z') {
            ++at;
        } else if (s[at] == '+' || s[at] == '-') {
            ++at;
            if (!readNumber(s, at, 2, 2, zoneHours) || zoneHours > 14) return std::nullopt;
            if (at < s.size() && s[at] == ':') ++at;
            if (at < s.size() && !readNumber(s, at, 2, 2, zoneMinutes)) return std::nullopt;
            if (zoneMinutes > 59) return std::nullopt;
        }
    }
    if (at != s.size()) return std::nullopt;
    if (d.hour > 23 || d.minute > 59 || d.second > 59) return std::nullopt;
    return DateReading{packDate(d), true};
}

std::string formatDateTime(int64_t packed, bool withTime) {
    const DateParts p = unpackDate(packed);
    char buffer[20];
    char* out = putDigits(buffer, p.year, 4);
    *out++ = '/';
    out = putDigits(out, p.month, 2);
    *out++ = '/';
    out = putDigits(out, p.day, 2);
    if (withTime && (p.hour || p.minute || p.second)) {
        *out++ = ' ';
        out = putDigits(out, p.hour, 2);
        *out++ = ':';
        out = putDigits(out, p.minute, 2);
        *out++ = ':';
        out = putDigits(out, p.second, 2);
    }
    return std::string(buffer, out);
}

std::string formatTimeOfDay(int64_t packed) {
    const DateParts p = unpackDate(packed);
    char buffer[8];
    char* out = putDigits(buffer, p.hour, 2);
    *out++ = ':';
    out = putDigits(out, p.minute, 2);
    *out++ = ':';
    out = putDigits(out, p.second, 2);
    return std::string(buffer, out);
}

std::optional<int64_t> readTimeText(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    // The half of the day: AM or PM after the time, or 午前 or 午後 before it.
    int half = -1;  // -1 none, 0 morning, 1 afternoon
    const auto endsWithNoCase = [&](std::string_view suffix) {
        if (text.size() < suffix.size()) return false;
        for (size_t k = 0; k < suffix.size(); ++k) {
            const char c = text[text.size() - suffix.size() + k];
            if ((c >= 'a' && c <= 'z' ? char(c - 32) : c) != suffix[k]) return false;
        }
        return true;
    };
    if (endsWithNoCase("AM") || endsWithNoCase("PM")) {
        half = endsWithNoCase("PM") ? 1 : 0;
        text.remove_suffix(2);
        while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    } else if (text.starts_with("午前") || text.starts_with("午後")) {
        half = text.starts_with("午後") ? 1 : 0;
        text.remove_prefix(std::string_view("午前").size());
        while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    }
    // h:nn or h:nn:ss; the minutes and seconds in two digits.
    int parts[3] = {0, 0, 0};
    int count = 0;
    size_t i = 0;
    while (count < 3) {
        size_t digits = 0;
        int value = 0;
        while (i < text.size() && isDigit(text[i]) && digits < 2) value = value * 10 + (text[i++] - '0'), ++digits;
        if (digits == 0 || (count > 0 && digits != 2)) return std::nullopt;
        parts[count++] = value;
        if (i == text.size()) break;
        if (text[i++] != ':') return std::nullopt;
    }
    if (i != text.size() || count < 2 || parts[1] > 59 || parts[2] > 59) return std::nullopt;
    if (half >= 0) {
        if (parts[0] < 1 || parts[0] > 12) return std::nullopt;  // 12 AM is midnight, 12 PM noon
        parts[0] = parts[0] % 12 + (half == 1 ? 12 : 0);
    } else if (parts[0] > 23) {
        return std::nullopt;
    }
    return pack(1899, 12, 30, parts[0], parts[1], parts[2]);
}

std::optional<int64_t> parseJetDate(std::string_view text) {
    if (const auto date = readDateText(text)) return date->packed;
    if (const auto time = readTimeText(text)) return time;
    // A date and a time of the day's half: 2024/01/31 1:30 PM.
    const size_t blank = text.find(' ');
    if (blank == std::string_view::npos) return std::nullopt;
    const auto date = readDateText(text.substr(0, blank));
    const auto time = readTimeText(text.substr(blank + 1));
    if (!date || date->hasTime || !time) return std::nullopt;
    return date->packed + *time % 1000000;
}

int compareMomentTexts(std::string_view a, std::string_view b) {
    auto trimmed = [](std::string_view s) {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
        return s;
    };
    const auto x = parseJetDate(trimmed(a)), y = parseJetDate(trimmed(b));
    if (x && y) return *x < *y ? -1 : *x > *y ? 1 : 0;
    if (x || y) return x ? -1 : 1;
    return compareIgnoringCase(a, b);
}

double serialOf(int64_t packed) {
    const DateParts p = unpackDate(packed);
    const double days = double(QDate(p.year, p.month, p.day).toJulianDay() - kEpochJulianDay);
    const double time = (p.hour * 3600 + p.minute * 60 + p.second) / 86400.0;
    // Before the epoch the old engine counts the time away from zero as well.
    return days < 0 ? days - time : days + time;
}

std::optional<int64_t> packedOfSerial(double serial) {
    if (!std::isfinite(serial)) return std::nullopt;
    double days = std::trunc(serial);
    double seconds = std::round(std::fabs(serial - days) * 86400.0);
    if (seconds >= 86400) {
        seconds -= 86400;
        days += serial < 0 ? -1 : 1;
    }
    if (std::fabs(days) > 4e6) return std::nullopt;
    const QDate date = QDate::fromJulianDay(qint64(days) + kEpochJulianDay);
    if (date.year() < 100 || date.year() > 9999) return std::nullopt;
    const int s = int(seconds);
    return pack(date.year(), date.month(), date.day(), s / 3600, s / 60 % 60, s % 60);
}

QString jetDateText(int64_t packed) {
    if (packed / 1000000 == kTimeOnlyDate) {
        const DateParts p = unpackDate(packed);
        return QStringLiteral("%1:%2:%3")
            .arg(p.hour, 2, 10, QLatin1Char('0'))
            .arg(p.minute, 2, 10, QLatin1Char('0'))
            .arg(p.second, 2, 10, QLatin1Char('0'));
    }
    return QString::fromStdString(formatDateTime(packed, true));
}

std::optional<int64_t> packedOfParts(int year, int month, int day, int hour, int minute, int second) {
    // Two-digit years read as the old engine read them: 0-29 → 2000s, 30-99 → 1900s.
    if (year >= 0 && year < 30) year += 2000;
    else if (year >= 30 && year < 100) year += 1900;
    const int64_t months = int64_t(year) * 12 + (month - 1);
    const int y = int(months >= 0 ? months / 12 : (months - 11) / 12);
    const int m = int(months - int64_t(y) * 12) + 1;
    if (y < 100 || y > 9999) return std::nullopt;
    const qint64 days = QDate(y, m, 1).toJulianDay() - kEpochJulianDay + (day - 1);
    const double serial = double(days) + (double(hour) * 3600 + double(minute) * 60 + double(second)) / 86400.0;
    // A negative serial counts its time away from zero: build it from its parts.
    const double whole = std::floor(serial);
    const double fraction = serial - whole;
    return packedOfSerial(whole < 0 ? whole - fraction : serial);
}


std::optional<int64_t> parseDateWithPattern(std::string_view text, const QString& pattern) {
    int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    bool hasYear = false;
    size_t at = 0;
    const QByteArray p = pattern.toLower().toUtf8();
    for (qsizetype i = 0; i < p.size();) {
        const char c = p[i];
        qsizetype run = 1;
        while (i + run < p.size() && p[i + run] == c) ++run;
        int* target = nullptr;
        size_t minDigits = 1, maxDigits = 2;
        switch (c) {
        case 'y': target = &year, hasYear = true, minDigits = maxDigits = run >= 3 ? 4 : 2; break;
        case 'm': target = &month; break;
        case 'd': target = &day; break;
        case 'h': target = &hour; break;
        case 'n': target = &minute; break;
        case 's': target = &second; break;
        default: break;
        }
        if (!target) {
            for (qsizetype k = 0; k < run; ++k, ++at)
                if (at >= text.size() || text[at] != c) return std::nullopt;
            i += run;
            continue;
        }
        if (run == 2 && c != 'y') minDigits = 2;
        int value = 0;
        size_t digits = 0;
        while (at < text.size() && digits < maxDigits && isDigit(text[at])) value = value * 10 + (text[at++] - '0'), ++digits;
        if (digits < minDigits) return std::nullopt;
        *target = value;
        i += run;
    }
    if (at != text.size() || !hasYear) return std::nullopt;
    if (pattern.count(QLatin1Char('y'), Qt::CaseInsensitive) < 3) year += year < 30 ? 2000 : 1900;
    if (!QDate::isValid(year, month, day) || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    return pack(year, month, day, hour, minute, second);
}

int weekdayOf(const QDate& date, int firstDay) {
    return (date.dayOfWeek() % 7 - (firstDay - 1) + 7) % 7 + 1;
}

// The week of the year of date, weeks starting on firstDay (1 = Sunday),
// the first week being the one with January 1 (firstWeek 1), the first
// with four days of the year (2), or the first whole one (3); a day before
// the first week is in the last week of the year before.
int64_t weekOfYear(const QDate& date, int firstDay, int firstWeek) {
    auto weekOneStart = [&](int year) {
        const int64_t jan1 = QDate(year, 1, 1).toJulianDay();
        const int64_t weekStart = jan1 - (weekdayOf(QDate(year, 1, 1), firstDay) - 1);
        const int64_t daysInYear = 7 - (jan1 - weekStart);  // of that first week
        if (firstWeek == 2 && daysInYear < 4) return weekStart + 7;
        if (firstWeek == 3 && weekStart != jan1) return weekStart + 7;
        return weekStart;
    };
    const int64_t jd = date.toJulianDay();
    int64_t start = weekOneStart(date.year());
    if (jd < start) start = weekOneStart(date.year() - 1);
    return (jd - start) / 7 + 1;
}

}  // namespace tarlo
