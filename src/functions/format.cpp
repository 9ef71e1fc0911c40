#include "functions/format.h"

#include "values/dates.h"

#include <QDate>
#include <QLocale>
#include <QStringList>

#include <cmath>
#include <algorithm>
#include <vector>
#include <tuple>

namespace tarlo {

namespace {

QString namedPattern(const QString& pattern) {
    static const std::pair<const char*, const char*> named[] = {
        {"short date", "yyyy/mm/dd"},     {"medium date", "yy/mm/dd"},  {"long date", "yyyy\"年\"m\"月\"d\"日\""},
        {"short time", "hh:nn"},          {"medium time", "hh:nn AM/PM"}, {"long time", "h:nn:ss"},
        {"fixed", "0.00"},                {"standard", "#,##0.00"},     {"percent", "0.00%"},
        {"currency", "\"¥\"#,##0"},       {"general number", ""},       {"scientific", "0.00E+00"},
    };
    for (const auto& [name, expansion] : named)
        if (pattern.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) return QString::fromUtf8(expansion);
    return pattern;
}

// The sections of a pattern split at ";" outside quotes.
QStringList sectionsOf(const QString& pattern) {
    QStringList sections{QString()};
    bool quoted = false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('"')) quoted = !quoted;
        if (c == QLatin1Char('\\') && i + 1 < pattern.size()) {
            sections.back() += c;
            sections.back() += pattern[++i];
            continue;
        }
        if (c == QLatin1Char(';') && !quoted) sections << QString();
        else sections.back() += c;
    }
    return sections;
}

bool isDatePattern(const QString& pattern) {
    bool quoted = false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i].toLower();
        if (c == QLatin1Char('"')) quoted = !quoted;
        if (quoted) continue;
        if (c == QLatin1Char('\\')) {
            ++i;
            continue;
        }
        if (c == QLatin1Char('0') || c == QLatin1Char('#') || c == QLatin1Char('@')) return false;
        if (QStringLiteral("ymdhnsqwgeatc").contains(c)) return true;
    }
    return false;
}

struct Era {
    int start;  // yyyymmdd
    const char16_t* name;
};
const Era kEras[] = {{20190501, u"令和"}, {19890108, u"平成"}, {19261225, u"昭和"}, {19120730, u"大正"}, {18680125, u"明治"}};
const char kEraLetters[] = "RHSTM";

QString two(int n) {
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

QString formatDate(int64_t packed, const QString& pattern, WeekRule week) {
    const DateParts p = unpackDate(packed);
    const QDate date(p.year, p.month, p.day);
    static const char16_t* const weekdays[] = {u"月", u"火", u"水", u"木", u"金", u"土", u"日"};
    const int ymd = p.year * 10000 + p.month * 100 + p.day;
    int era = -1;
    for (int e = 0; e < 5 && era < 0; ++e)
        if (ymd >= kEras[e].start) era = e;
    const int eraYear = era < 0 ? p.year : p.year - kEras[era].start / 10000 + 1;
    QString out;
    bool lastWasHour = false;
    const bool twelveHour = pattern.contains(QLatin1String("AM/PM"), Qt::CaseInsensitive);
    for (qsizetype i = 0; i < pattern.size();) {
        const QChar c = pattern[i];
        const QChar lower = c.toLower();
        qsizetype run = 1;
        while (i + run < pattern.size() && pattern[i + run].toLower() == lower) ++run;
        if (c == QLatin1Char('"')) {
            const qsizetype close = pattern.indexOf(QLatin1Char('"'), i + 1);
            out += pattern.mid(i + 1, close < 0 ? -1 : close - i - 1);
            i = close < 0 ? pattern.size() : close + 1;
            continue;
        }
        if (c == QLatin1Char('\\')) {
            if (i + 1 < pattern.size()) out += pattern[i + 1];
            i += 2;
            continue;
        }
        if (pattern.mid(i, 5).compare(QLatin1String("AM/PM"), Qt::CaseInsensitive) == 0) {
            const bool upper = c.isUpper();
            out += p.hour < 12 ? (upper ? QStringLiteral("AM") : QStringLiteral("am")) : (upper ? QStringLiteral("PM") : QStringLiteral("pm"));
            i += 5;
            continue;
        }
        bool minuteHere = false;
        if (lower == QLatin1Char('m') && run <= 2) {
            // m after an hour, or before seconds, is the minute.
            qsizetype k = i + run;
            while (k < pattern.size() && !pattern[k].isLetter()) ++k;
            minuteHere = lastWasHour || (k < pattern.size() && pattern[k].toLower() == QLatin1Char('s'));
        }
        const int hour = twelveHour ? (p.hour % 12 == 0 ? 12 : p.hour % 12) : p.hour;
        if (lower == QLatin1Char('y')) {
            if (run >= 3) out += QString::number(p.year).rightJustified(4, QLatin1Char('0')), run = std::min<qsizetype>(run, 4);
            else if (run == 2) out += two(p.year % 100);
            else out += QString::number(date.dayOfYear());
        } else if (lower == QLatin1Char('m') && minuteHere) {
            out += run == 2 ? two(p.minute) : QString::number(p.minute);
        } else if (lower == QLatin1Char('m')) {
            out += run == 2 ? two(p.month) : QString::number(p.month) + (run >= 3 ? QStringLiteral("月") : QString());
        } else if (lower == QLatin1Char('d') || lower == QLatin1Char('a')) {
            if (lower == QLatin1Char('a') && run < 3) {
                out += pattern.mid(i, run);
            } else if (lower == QLatin1Char('d') && run >= 5) {
                // ddddd the short date, dddddd the long one.
                out += formatDate(packed, namedPattern(run == 5 ? QStringLiteral("short date") : QStringLiteral("long date")), week);
                run = std::min<qsizetype>(run, 6);
            } else if (run >= 3) {
                out += QString::fromUtf16(weekdays[date.dayOfWeek() - 1]) + (run >= 4 ? QStringLiteral("曜日") : QString());
            } else {
                out += run == 2 ? two(p.day) : QString::number(p.day);
            }
        } else if (lower == QLatin1Char('t') && run >= 5) {
            // ttttt the long time.
            out += formatDate(packed, namedPattern(QStringLiteral("long time")), week);
            run = 5;
        } else if (lower == QLatin1Char('c')) {
            // c the date and its time, either alone where the other is nothing.
            const int64_t day = packed / 1000000, time = packed % 1000000;
            const QString general = day == 18991230 ? QStringLiteral("long time")
                                    : time == 0     ? QStringLiteral("short date")
                                                    : QStringLiteral("yyyy/mm/dd h:nn:ss");
            out += formatDate(packed, namedPattern(general), week);
            run = 1;
        } else if (lower == QLatin1Char('h')) {
            out += run == 2 ? two(hour) : QString::number(hour);
        } else if (lower == QLatin1Char('n')) {
            out += run == 2 ? two(p.minute) : QString::number(p.minute);
        } else if (lower == QLatin1Char('s')) {
            out += run == 2 ? two(p.second) : QString::number(p.second);
        } else if (lower == QLatin1Char('q')) {
            out += QString::number((p.month - 1) / 3 + 1);
        } else if (lower == QLatin1Char('w') && run == 1) {
            out += QString::number((date.dayOfWeek() % 7 + 7 - (week.firstDay - 1)) % 7 + 1);  // the first day is 1
        } else if (lower == QLatin1Char('w') && run == 2) {
            out += QString::number(weekOfYear(date, week.firstDay, week.firstWeek));
        } else if (lower == QLatin1Char('g')) {
            if (era < 0) out += QString();
            else if (run == 1) out += QLatin1Char(kEraLetters[era]);
            else if (run == 2) out += QString::fromUtf16(kEras[era].name).left(1);
            else out += QString::fromUtf16(kEras[era].name);
        } else if (lower == QLatin1Char('e')) {
            out += run >= 2 ? two(eraYear) : QString::number(eraYear);
        } else {
            out += pattern.mid(i, run);
        }
        lastWasHour = lower == QLatin1Char('h') || (lastWasHour && !c.isLetter());
        i += run;
    }
    return out;
}

// value's digits rounded half away from zero at `decimals` places, from its
// 15 significant digits, so 1.005 rounds as it is written.
QString roundedDigits(double value, int decimals) {
    QString s = QString::number(std::fabs(value), 'e', 14);  // d.dddddddddddddde±x
    const int exponent = s.mid(s.indexOf(QLatin1Char('e')) + 1).toInt();
    QString digits = s.left(s.indexOf(QLatin1Char('e'))).remove(QLatin1Char('.'));
    // digits[0] stands at 10^exponent; keep those down to 10^-decimals.
    const int keep = exponent + 1 + decimals;
    if (keep < 0) return QString(decimals + 1, QLatin1Char('0'));
    bool carry = keep < digits.size() && digits[keep] >= QLatin1Char('5');
    digits = digits.left(keep).leftJustified(keep, QLatin1Char('0'));
    for (qsizetype i = digits.size(); carry && i-- > 0;) {
        if (digits[i] == QLatin1Char('9')) digits[i] = QLatin1Char('0');
        else digits[i] = QChar(digits[i].unicode() + 1), carry = false;
    }
    if (carry) digits.prepend(QLatin1Char('1'));
    // Now an integer of decimals implied places.
    return digits.rightJustified(decimals + 1, QLatin1Char('0'));
}

// The places of a number pattern's own characters: not inside "...", not
// escaped by a backslash, nor the quotes and backslashes themselves.
std::vector<qsizetype> formatCharacters(const QString& pattern) {
    std::vector<qsizetype> places;
    bool quoted = false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (!quoted && c == QLatin1Char('\\')) {
            ++i;
        } else if (!quoted) {
            places.push_back(i);
        }
    }
    return places;
}

// Where an unquoted E+, E-, e+ or e- after a digit placeholder starts the
// exponent of a scientific pattern (0.00E+00), or -1.
qsizetype exponentAt(const QString& pattern) {
    bool digit = false;
    for (const qsizetype i : formatCharacters(pattern)) {
        const QChar c = pattern[i];
        if (i + 1 >= pattern.size()) break;
        digit = digit || c == QLatin1Char('0') || c == QLatin1Char('#');
        if (digit && (c == QLatin1Char('E') || c == QLatin1Char('e')) &&
            (pattern[i + 1] == QLatin1Char('+') || pattern[i + 1] == QLatin1Char('-')))
            return i;
    }
    return -1;
}

QString formatNumber(double value, const QString& pattern, bool withSign);

// 0.00E+00: the mantissa in the pattern before E, with as many whole
// digits as it asks for, then E, the exponent's sign (always with E+, only
// when negative with E-) and its digits, at least as many as 0s follow.
QString formatScientific(double value, const QString& pattern, qsizetype e, bool withSign) {
    const QString mantissaPattern = pattern.left(e);
    QString exponentPattern = pattern.mid(e + 2);
    qsizetype digitsEnd = 0;
    while (digitsEnd < exponentPattern.size() &&
           (exponentPattern[digitsEnd] == QLatin1Char('0') || exponentPattern[digitsEnd] == QLatin1Char('#')))
        ++digitsEnd;
    const int minExponentDigits = int(exponentPattern.left(digitsEnd).count(QLatin1Char('0')));
    const qsizetype point = mantissaPattern.indexOf(QLatin1Char('.'));
    const QString wholePattern = point < 0 ? mantissaPattern : mantissaPattern.left(point);
    const int wholeDigits = std::max(1, int(wholePattern.count(QLatin1Char('0')) + wholePattern.count(QLatin1Char('#'))));
    const QString fractionPattern = point < 0 ? QString() : mantissaPattern.mid(point + 1);
    const int decimals = int(fractionPattern.count(QLatin1Char('0')) + fractionPattern.count(QLatin1Char('#')));
    int exponent = 0;
    double mantissa = std::fabs(value);
    if (mantissa != 0) {
        exponent = int(std::floor(std::log10(mantissa))) - (wholeDigits - 1);
        mantissa /= std::pow(10.0, exponent);
        // Rounding may carry into one more whole digit: 9.996E+00 at two places is 1.00E+01.
        const double scale = std::pow(10.0, decimals);
        if (std::round(mantissa * scale) / scale >= std::pow(10.0, wholeDigits)) mantissa /= 10, ++exponent;
    }
    const QString sign = withSign && value < 0 && mantissa != 0 ? QStringLiteral("-") : QString();
    const bool plus = pattern[e + 1] == QLatin1Char('+');
    QString power = QString::number(std::abs(exponent)).rightJustified(minExponentDigits, QLatin1Char('0'));
    power.prepend(exponent < 0 ? QStringLiteral("-") : plus ? QStringLiteral("+") : QString());
    return sign + formatNumber(mantissa, mantissaPattern, false) + pattern[e] + power +
           exponentPattern.mid(digitsEnd).remove(QLatin1Char('"'));
}

// The whole digits set into the integer placeholders of pattern[from, to)
// and the literal text among them ("000-0000" of 1234567 is 123-4567, as
// are "000\-0000" and "000""-""0000"): the digits fill the placeholders
// from the right, a "0" with no digit left shows 0 and a "#" nothing;
// digits beyond the placeholders go to the first. whole has at least
// minInteger digits already.
QString amongLiterals(const QString& whole, const QString& pattern, qsizetype from, qsizetype to, int minInteger) {
    struct Piece {
        QChar placeholder;  // 0 or #; null for literal text
        QString text;
    };
    std::vector<Piece> pieces;
    bool literals = false;
    for (qsizetype i = from; i < to; ++i) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('0') || c == QLatin1Char('#')) {
            pieces.push_back({c, {}});
            continue;
        }
        if (c == QLatin1Char(',')) continue;  // a scaling comma
        QString text;
        if (c == QLatin1Char('"')) {
            const qsizetype close = pattern.indexOf(QLatin1Char('"'), i + 1);
            const qsizetype stop = close < 0 || close > to ? to : close;
            text = pattern.mid(i + 1, stop - i - 1);
            i = stop;
        } else if (c == QLatin1Char('\\') && i + 1 < to) {
            text = pattern[++i];
        } else {
            text = c;
        }
        pieces.push_back({QChar(), text});
        literals = true;
    }
    if (!literals) return whole;
    QString digits = whole;
    while (digits.size() > minInteger && digits.startsWith(QLatin1Char('0'))) digits.remove(0, 1);  // the placeholders decide
    const auto firstPlaceholder = std::find_if(pieces.begin(), pieces.end(), [](const Piece& p) { return !p.placeholder.isNull(); });
    // From the right: each placeholder its digit, each literal itself; then joined in order.
    qsizetype left = digits.size();
    std::vector<QString> shown(pieces.size());
    for (size_t k = pieces.size(); k-- > 0;) {
        const Piece& piece = pieces[k];
        if (piece.placeholder.isNull()) shown[k] = piece.text;
        else if (pieces.begin() + ptrdiff_t(k) == firstPlaceholder && left > 0) shown[k] = digits.left(left), left = 0;
        else if (left > 0) shown[k] = digits[--left];
        else if (piece.placeholder == QLatin1Char('0')) shown[k] = QStringLiteral("0");
    }
    QString out;
    for (const QString& text : shown) out += text;
    return out;
}

QString formatNumber(double value, const QString& pattern, bool withSign) {
    if (const qsizetype e = exponentAt(pattern); e >= 0) return formatScientific(value, pattern, e, withSign);
    // The placeholders' span; text before and after it is literal.
    qsizetype first = -1, last = -1;
    for (const qsizetype i : formatCharacters(pattern)) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('0') || c == QLatin1Char('#') || ((c == QLatin1Char('.') || c == QLatin1Char(',')) && first >= 0)) {
            if (first < 0) first = i;
            last = i;
        }
    }
    auto literal = [](const QString& text) {
        QString out;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] == QLatin1Char('"')) continue;
            if (text[i] == QLatin1Char('\\') && i + 1 < text.size()) ++i;
            out += text[i];
        }
        return out;
    };
    const bool percent = pattern.contains(QLatin1Char('%'));
    if (percent) value *= 100;
    if (first < 0) return (withSign && value < 0 ? QStringLiteral("-") : QString()) + literal(pattern);
    const QString span = pattern.mid(first, last - first + 1);
    const qsizetype point = span.indexOf(QLatin1Char('.'));
    QString integerPart = point < 0 ? span : span.left(point);
    // Each "," right before the point (or at the end) scales by a thousand: #,##0, shows thousands.
    while (integerPart.endsWith(QLatin1Char(','))) {
        integerPart.chop(1);
        value /= 1000;
    }
    const QString fraction = point < 0 ? QString() : span.mid(point + 1);
    const int minInteger = int(integerPart.count(QLatin1Char('0')));
    const int minDecimals = int(fraction.count(QLatin1Char('0')));
    const int maxDecimals = minDecimals + int(fraction.count(QLatin1Char('#')));
    const bool grouped = integerPart.contains(QLatin1Char(','));

    QString digits = roundedDigits(value, maxDecimals);
    QString whole = digits.left(digits.size() - maxDecimals);
    QString decimals = digits.right(maxDecimals);
    while (decimals.size() > minDecimals && decimals.endsWith(QLatin1Char('0'))) decimals.chop(1);
    while (whole.size() > 1 && whole.startsWith(QLatin1Char('0'))) whole.remove(0, 1);
    if (whole == QLatin1String("0") && minInteger == 0) whole.clear();
    whole = whole.rightJustified(minInteger, QLatin1Char('0'));
    if (grouped)
        for (qsizetype i = whole.size() - 3; i > 0; i -= 3) whole.insert(i, QLatin1Char(','));
    if (!grouped) whole = amongLiterals(whole, pattern, first, point < 0 ? last + 1 : first + point, minInteger);
    // The point stays where the pattern has one, though no digit follows: Format(12, "#.##") is "12.".
    QString number = whole;
    if (point >= 0) number += QLatin1Char('.') + decimals;
    const bool zero = QString(digits).remove(QLatin1Char('0')).isEmpty();
    const QString sign = withSign && value < 0 && !zero ? QStringLiteral("-") : QString();
    return sign + literal(pattern.left(first)) + number + literal(pattern.mid(last + 1));
}

// A text pattern: "@" a character or a blank, "&" a character or nothing,
// filled from the right, or from the left after "!"; ">" upper case, "<"
// lower case; anything else as it stands.
QString formatText(const QString& text, const QString& pattern) {
    QString out;
    const int placeholders = int(pattern.count(QLatin1Char('@')) + pattern.count(QLatin1Char('&')));
    const bool fromLeft = pattern.contains(QLatin1Char('!'));
    const QString upper = pattern.contains(QLatin1Char('>')) ? text.toUpper() : pattern.contains(QLatin1Char('<')) ? text.toLower() : text;
    if (placeholders == 0) {
        if (!text.isEmpty()) return upper;
        // An empty text's own section ("@;""なし""") is its literal text.
        for (qsizetype i = 0; i < pattern.size(); ++i) {
            const QChar c = pattern[i];
            if (c == QLatin1Char('\\') && i + 1 < pattern.size()) out += pattern[++i];
            else if (c != QLatin1Char('"') && c != QLatin1Char('>') && c != QLatin1Char('<') && c != QLatin1Char('!')) out += c;
        }
        return out;
    }
    // Each placeholder's character, null where the text has run out.
    std::vector<QChar> fill(static_cast<size_t>(placeholders));
    const qsizetype shown = std::min<qsizetype>(upper.size(), placeholders);
    const qsizetype extra = upper.size() - shown;  // past the placeholders: to the first (from the right) or the last
    for (qsizetype k = 0; k < shown; ++k) {
        if (fromLeft) fill[size_t(k)] = upper[k];
        else fill[size_t(placeholders - shown + k)] = upper[extra + k];
    }
    int at = 0;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('@') || c == QLatin1Char('&')) {
            if (!fromLeft && at == 0 && extra > 0) out += upper.left(extra);
            const QChar f = fill[size_t(at)];
            out += !f.isNull() ? QString(f) : c == QLatin1Char('@') ? QStringLiteral(" ") : QString();
            if (fromLeft && at == placeholders - 1 && extra > 0) out += upper.mid(shown);
            ++at;
        } else if (c == QLatin1Char('"') || c == QLatin1Char('>') || c == QLatin1Char('<') || c == QLatin1Char('!')) {
            continue;
        } else if (c == QLatin1Char('\\') && i + 1 < pattern.size()) {
            out += pattern[++i];
        } else {
            out += c;
        }
    }
    return out;
}

// Yes/No, True/False and On/Off name a truth value; General Date shows a date as the table does.
std::optional<QString> namedValueText(const FormatValue& value, const QString& pattern) {
    static const std::tuple<const char*, const char*, const char*> truths[] = {
        {"yes/no", "Yes", "No"}, {"true/false", "True", "False"}, {"on/off", "On", "Off"}};
    for (const auto& [name, yes, no] : truths)
        if (pattern.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return value.number ? QString::fromLatin1(*value.number != 0 ? yes : no) : value.text;
    if (pattern.compare(QLatin1String("general date"), Qt::CaseInsensitive) == 0)
        return value.date ? jetDateText(*value.date) : value.text;
    return std::nullopt;
}

}  // namespace

QString formatJetValue(const FormatValue& value, const QString& rawPattern, WeekRule week) {
    if (!value.isNull)
        if (const auto text = namedValueText(value, rawPattern)) return *text;
    const QString pattern = namedPattern(rawPattern);
    const QStringList sections = sectionsOf(pattern);
    const bool textPattern = pattern.contains(QLatin1Char('@')) || pattern.contains(QLatin1Char('&'));
    // A text pattern's second section is for Null and the empty text: "@;""なし""".
    if (textPattern && sections.size() >= 2 && (value.isNull || value.text.isEmpty())) return formatText(QString(), sections[1]);
    if (value.isNull) return sections.size() >= 4 ? formatNumber(0, sections[3], false) : QString();
    if (pattern.isEmpty()) return value.text;
    if (textPattern || (!value.number && !value.date)) return formatText(value.text, sections[0]);
    if (isDatePattern(sections[0])) {
        if (value.date) return formatDate(*value.date, sections[0], week);
        return value.text;
    }
    // A number pattern shows a date as the number it is, its serial day.
    const std::optional<double> number = value.number ? value.number : std::optional<double>(serialOf(*value.date));
    const double n = *number;
    if (n < 0 && sections.size() >= 2 && !sections[1].isEmpty()) return formatNumber(-n, sections[1], false);
    if (n == 0 && sections.size() >= 3 && !sections[2].isEmpty()) return formatNumber(n, sections[2], false);
    return formatNumber(n, sections[0], true);
}

}  // namespace tarlo
