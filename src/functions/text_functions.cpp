// The text, conversion, number and test functions of the old engine, and
// Like, & and the calls behind Left, Right and IsNull.
#include "platform/error.h"
#include "platform/text_encoding.h"
#include "values/case_folding.h"
#include "values/column_types.h"
#include "values/dates.h"
#include "functions/format.h"
#include "dialect/internal_names.h"
#include "functions/function_support.h"
#include "functions/registry.h"
#include "functions/like_pattern.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <optional>
#include <tuple>

namespace tarlo {

namespace {

// The leading number of a text, blanks ignored, as Val reads it: digits,
// one ".", an exponent (1e3, 1D3), or &H (hex) and &O (octal) whole numbers,
// which fit a 16-bit and then a 32-bit integer as they did (&HFFFF is -1).
double valOf(const QString& text) {
    QString plain;
    for (const QChar c : text)
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n') && c != QLatin1Char('\r')) plain += c;
    if (plain.size() > 1 && plain[0] == QLatin1Char('&')) {
        const QChar kind = plain[1].toUpper();
        const int base = kind == QLatin1Char('H') ? 16 : kind == QLatin1Char('O') ? 8 : 0;
        if (base) {
            qsizetype end = 2;
            while (end < plain.size() && end < 2 + 22) {
                bool ok = false;
                QString(plain[end]).toInt(&ok, base);
                if (!ok) break;
                ++end;
            }
            bool ok = false;
            const qulonglong v = plain.mid(2, end - 2).toULongLong(&ok, base);
            if (!ok) return 0;
            if (v <= 0xFFFF) return v >= 0x8000 ? double(qlonglong(v) - 0x10000) : double(v);
            if (v <= 0xFFFFFFFFULL) return v >= 0x80000000ULL ? double(qlonglong(v) - 0x100000000LL) : double(v);
            return double(v);
        }
    }
    QString digits;
    bool dot = false, exponent = false, anyDigit = false;
    for (qsizetype i = 0; i < plain.size(); ++i) {
        const QChar c = plain[i];
        if (c.isDigit() && c.unicode() < 128) digits += c, anyDigit = true;
        else if (c == QLatin1Char('.') && !dot && !exponent) dot = true, digits += c;
        else if ((c == QLatin1Char('-') || c == QLatin1Char('+')) && digits.isEmpty()) digits += c;
        else if ((c.toUpper() == QLatin1Char('E') || c.toUpper() == QLatin1Char('D')) && anyDigit && !exponent) {
            // An exponent only with its digits: "1e" is 1.
            qsizetype k = i + 1;
            QString e = QStringLiteral("e");
            if (k < plain.size() && (plain[k] == QLatin1Char('-') || plain[k] == QLatin1Char('+'))) e += plain[k++];
            if (k >= plain.size() || !plain[k].isDigit()) break;
            digits += e;
            exponent = true;
            i = k - 1;
        } else {
            break;
        }
    }
    return digits.toDouble();
}

// A search over a long text goes by windows of a million characters, so a
// stop is heard between them; the windows overlap by the sought text's length.
constexpr qsizetype kSearchWindow = 1 << 20;

qsizetype indexOfListening(const QString& text, const QString& sought, qsizetype from, Qt::CaseSensitivity cs) {
    for (size_t step = 0;; step += 0x10000) {
        listenForStop(step);
        const qsizetype end = std::min(text.size(), from + kSearchWindow + sought.size());
        const qsizetype hit = QStringView(text).first(end).indexOf(sought, from, cs);
        if (hit >= 0 || end == text.size()) return hit;
        from = end - sought.size() + 1;
    }
}

// The last match starting at or before from.
qsizetype lastIndexOfListening(const QString& text, const QString& sought, qsizetype from, Qt::CaseSensitivity cs) {
    for (size_t step = 0;; step += 0x10000) {
        listenForStop(step);
        const qsizetype begin = std::max<qsizetype>(0, from - kSearchWindow);
        const qsizetype hit = QStringView(text).sliced(begin).lastIndexOf(sought, from - begin, cs);
        if (hit >= 0) return begin + hit;
        if (begin == 0) return -1;
        from = begin - 1;
    }
}

// Half-width katakana U+FF66..U+FF9D and their full-width forms.
const char16_t kHalfKana[] = u"ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン";

QString toWide(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        listenForStop(size_t(i));
        const char16_t c = s[i].unicode();
        if (c == u' ') out += QChar(0x3000);
        else if (c > 0x20 && c < 0x7F) out += QChar(char16_t(c - 0x21 + 0xFF01));
        else if (c >= 0xFF66 && c <= 0xFF9D) {
            char16_t full = kHalfKana[c - 0xFF66];
            const char16_t mark = i + 1 < s.size() ? s[i + 1].unicode() : 0;
            if (mark == 0xFF9E && full == u'ウ') full = u'ヴ', ++i;
            else if (mark == 0xFF9E && ((full >= u'カ' && full <= u'ト') || (full >= u'ハ' && full <= u'ホ'))) full += 1, ++i;
            else if (mark == 0xFF9F && full >= u'ハ' && full <= u'ホ') full += 2, ++i;
            out += QChar(full);
        } else if (c >= 0xFF61 && c <= 0xFF65) out += QChar(u"。「」、・"[c - 0xFF61]);
        else if (c == 0xFF9E) out += QChar(0x309B);
        else if (c == 0xFF9F) out += QChar(0x309C);
        else out += s[i];
    }
    return out;
}

QString toNarrow(const QString& s) {
    QString out;
    out.reserve(s.size());
    size_t step = 0;
    for (const QChar ch : s) {
        listenForStop(step++);
        const char16_t c = ch.unicode();
        if (c == 0x3000) { out += QLatin1Char(' '); continue; }
        if (c >= 0xFF01 && c <= 0xFF5E) { out += QChar(char16_t(c - 0xFF01 + 0x21)); continue; }
        const std::u16string_view kana(kHalfKana);
        const size_t plain = kana.find(c);
        if (plain != std::u16string_view::npos) { out += QChar(char16_t(0xFF66 + plain)); continue; }
        if (c == u'ヴ') { out += QStringLiteral("ｳﾞ"); continue; }
        const size_t voiced = kana.find(char16_t(c - 1));
        const bool voicedRow = (c - 1 >= u'カ' && c - 1 <= u'ト') || (c - 1 >= u'ハ' && c - 1 <= u'ホ');
        if (voiced != std::u16string_view::npos && voicedRow) { out += QChar(char16_t(0xFF66 + voiced)); out += QChar(0xFF9E); continue; }
        const size_t semi = kana.find(char16_t(c - 2));
        if (semi != std::u16string_view::npos && c - 2 >= u'ハ' && c - 2 <= u'ホ') { out += QChar(char16_t(0xFF66 + semi)); out += QChar(0xFF9F); continue; }
        out += ch;
    }
    return out;
}

QString shiftKana(const QString& s, bool toKatakana) {
    QString out = s;
    for (QChar& ch : out) {
        const char16_t c = ch.unicode();
        if (toKatakana && c >= 0x3041 && c <= 0x3096) ch = QChar(char16_t(c + 0x60));
        else if (!toKatakana && c >= 0x30A1 && c <= 0x30F6) ch = QChar(char16_t(c - 0x60));
    }
    return out;
}



// A whole number as an integer when 64 bits hold it.
void resultWhole(sqlite3_context* ctx, double r) {
    if (std::fabs(r) < 9.2e18) sqlite3_result_int64(ctx, int64_t(r));
    else sqlite3_result_double(ctx, r);
}

// Hex and Oct: the number rounded as CLng rounds it, a negative one in 32-bit
// two's complement (Hex(-1) is FFFFFFFF), in upper case.
template <int Base>
void radixText(sqlite3_context* ctx, int, sqlite3_value** a) {
    const char* name = calledFunction(ctx).name;
    double d;
    if (!numberOf(a[0], d)) return mismatch(ctx, name);
    const double r = roundHalfEven(d);
    if (r < -2147483648.0 || r > 2147483647.0)
        return resultError(ctx, u"%1 の値 %2 が範囲を超えました (オーバーフロー)", name, textArg(a[0]));
    resultText(ctx, QString::number(uint32_t(int32_t(int64_t(r))), Base).toUpper());
}

// The forms SQLite's own functions of the old engine's names take and the
// old engine did not (Trim(x, 'ab'), Log(2, x), Date(x)): refused, where
// SQLite would answer with its own meaning.
void refuseArguments(sqlite3_context* ctx, int, sqlite3_value**) {
    resultError(ctx, u"%1 の引数の数が違います", QString::fromLatin1(calledFunction(ctx).name));
}

template <long long Low, long long High>
void wholeConversion(sqlite3_context* ctx, int, sqlite3_value** a) {
    const char* name = calledFunction(ctx).name;
    double d;
    if (!numberOf(a[0], d)) return mismatch(ctx, name);
    const double r = roundHalfEven(d);
    if (r < double(Low) || r > double(High))
        return resultError(ctx, u"%1 の値 %2 が範囲を超えました (オーバーフロー)", name, textArg(a[0]));
    sqlite3_result_int64(ctx, int64_t(r));
}

// CDbl and CSng; Currency keeps four decimal places.
template <bool Currency>
void realConversion(sqlite3_context* ctx, int, sqlite3_value** a) {
    double d;
    if (!numberOf(a[0], d)) return mismatch(ctx, calledFunction(ctx).name);
    if (Currency) d = roundHalfEven(d * 10000) / 10000;
    sqlite3_result_double(ctx, d);
}

double floorOf(double d) { return std::floor(d); }
double truncOf(double d) { return std::trunc(d); }
double signOf(double d) { return d > 0 ? 1.0 : d < 0 ? -1.0 : 0.0; }

template <double (*Part)(double)>
void wholePart(sqlite3_context* ctx, int, sqlite3_value** a) {
    double d;
    if (!numberOf(a[0], d)) return mismatch(ctx, calledFunction(ctx).name);
    resultWhole(ctx, Part(d));
}

// The longest text a function makes: SQLite's own limit is a billion bytes.
constexpr qsizetype kMaxTextLength = 100'000'000;

// A count or position argument (Left's length, Mid's start): a whole
// number from least on, else the old engine's invalid-argument stop.
bool countArg(sqlite3_context* ctx, sqlite3_value* v, const char* function, const char* what, qsizetype least,
              qsizetype& out) {
    double d;
    if (!numberOf(v, d)) return mismatch(ctx, function), false;
    d = roundHalfEven(d);
    if (d < double(least) || d > 2147483647.0) {  // a Long, as the reference types it
        resultError(ctx, u"%1 の%2 %3 が正しくありません (プロシージャの呼び出し、または引数が不正です)", function, what,
                    textArg(v));
        return false;
    }
    out = qsizetype(d);
    return true;
}

// The character a code stands for in the Japanese code page, as Chr reads
// it (negative codes wrap as 16-bit); empty for no character.
QString characterOf(int64_t code) {
    if (code < 0) code += 65536;
    if (code < 0 || code > 65535) return {};
    QByteArray bytes;
    if (code > 255) bytes.append(char(code >> 8));
    bytes.append(char(code & 0xFF));
    const QString text = code < 128 ? QString(QChar(char16_t(code))) : decodeAs(bytes, TextEncoding::Cp932);
    return hasUndecodableBytes(text) ? QString() : text;
}

// like(pattern, text[, escape]): SQLite's Like operator, ours; the pattern
// is parsed once per statement.
void like(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    if (isNullArg(a[1]) || (argc == 3 && isNullArg(a[2]))) return sqlite3_result_null(ctx);
    auto* pattern = static_cast<LikePattern*>(sqlite3_get_auxdata(ctx, 0));
    if (!pattern) {
        char32_t escape = 0;
        if (argc == 3) {
            const QString e = textArg(a[2]);
            if (e.size() != 1 && !(e.size() == 2 && e[0].isHighSurrogate()))
                return resultError(ctx, u"Like の ESCAPE には 1 文字を書きます (\"%1\")", e);
            escape = e.size() == 2 ? QChar::surrogateToUcs4(e[0], e[1]) : e[0].unicode();
        }
        pattern = new LikePattern({reinterpret_cast<const char*>(sqlite3_value_text(a[0])), size_t(sqlite3_value_bytes(a[0]))},
                                  escape);
        sqlite3_set_auxdata(ctx, 0, pattern, [](void* p) { delete static_cast<LikePattern*>(p); });
        pattern = static_cast<LikePattern*>(sqlite3_get_auxdata(ctx, 0));
        if (!pattern) return sqlite3_result_error_nomem(ctx);
    }
    if (sqlite3_value_type(a[1]) == SQLITE_TEXT) {
        const std::string_view text(reinterpret_cast<const char*>(sqlite3_value_text(a[1])), size_t(sqlite3_value_bytes(a[1])));
        return sqlite3_result_int(ctx, pattern->matches(text) ? 1 : 0);
    }
    const QByteArray text = textArg(a[1]).toUtf8();
    sqlite3_result_int(ctx, pattern->matches({text.constData(), size_t(text.size())}) ? 1 : 0);
}

// Compares as the old engine's text compare did: letters ignoring case.
Qt::CaseSensitivity compareMode(int argc, sqlite3_value** a, int at) {
    if (argc > at && !isNullArg(a[at]) && sqlite3_value_int(a[at]) == 0) return Qt::CaseSensitive;
    return Qt::CaseInsensitive;
}

}  // namespace

// The value of Format's first argument, and of FormatNumber's and the others'.
FormatValue formatValueOf(sqlite3_value* v) {
    FormatValue value;
    value.isNull = isNullArg(v);
    if (value.isNull) return value;
    value.text = textArg(v);
    double d;
    if (numberOf(v, d)) value.number = d;
    value.date = isNumberArg(v) ? packedOfSerial(sqlite3_value_double(v)) : dateOf(v);
    return value;
}

// FormatNumber, FormatPercent and FormatCurrency(value[, digits[,
// leading zero[, brackets for negatives[, groups]]]]): a Format pattern
// made of the arguments, the tristates -1 true, 0 false, -2 the system's
// (a leading zero, no brackets, groups of three). digits -1 is the
// system's: 2, or 0 for the yen.
void formatNumberCall(sqlite3_context* ctx, int argc, sqlite3_value** a, const char* name, const QString& before,
                      const QString& after, int systemDigits) {
    if (argc < 1 || argc > 5) return resultError(ctx, u"%1 の引数は 1 つから 5 つです", name);
    if (isNullArg(a[0])) return sqlite3_result_null(ctx);
    const FormatValue value = formatValueOf(a[0]);
    if (!value.number) return mismatch(ctx, name);
    int option[5] = {0, -1, -2, -2, -2};
    for (int i = 1; i < argc; ++i) {
        if (isNullArg(a[i])) continue;
        double d;
        if (!numberOf(a[i], d)) return mismatch(ctx, name);
        option[i] = int(roundHalfEven(d));
    }
    const int digits = option[1] == -1 ? systemDigits : option[1];
    if (digits < 0 || digits > 99) return resultError(ctx, u"%1 の小数点以下の桁数 %2 が正しくありません", name, option[1]);
    for (int i = 2; i < 5; ++i)
        if (option[i] < -2 || option[i] > 0) return resultError(ctx, u"%1 の引数 %2 が正しくありません (-1、0、-2 です)", name, option[i]);
    const bool leading = option[2] != 0, brackets = option[3] == -1, groups = option[4] != 0;
    QString number = groups ? (leading ? QStringLiteral("#,##0") : QStringLiteral("#,###")) : (leading ? QStringLiteral("0") : QStringLiteral("#"));
    if (digits > 0) number += QLatin1Char('.') + QString(digits, QLatin1Char('0'));
    const QString positive = before + number + after;
    resultText(ctx, formatJetValue(value, brackets ? positive + QStringLiteral(";(") + positive + QLatin1Char(')') : positive));
}

std::span<const FunctionDef> textFunctions() {
    static const FunctionDef kTable[] = {
        // Asc and Chr speak the Japanese code page, as on the users' machines: Asc("あ") is -32096.
        {"Asc", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            const QString s = textArg(a[0]);
            if (s.isEmpty()) return resultError(ctx, QStringLiteral("Asc の引数が空の文字列です"));
            const qsizetype length = s[0].isHighSurrogate() && s.size() > 1 ? 2 : 1;
            QByteArray bytes;
            try {
                bytes = encodeText(s.left(length), TextEncoding::Cp932);
            } catch (const Error&) {
                return sqlite3_result_int(ctx, '?');
            }
            const int code = bytes.size() == 1 ? uint8_t(bytes[0]) : uint8_t(bytes[0]) * 256 + uint8_t(bytes[1]);
            sqlite3_result_int(ctx, code > 32767 ? code - 65536 : code);
        }},
        {"AscW", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            const QString s = textArg(a[0]);
            if (s.isEmpty()) return resultError(ctx, QStringLiteral("AscW の引数が空の文字列です"));
            sqlite3_result_int(ctx, s[0].unicode());
        }},
        {"Chr", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            const int64_t code = sqlite3_value_int64(a[0]);
            const QString text = characterOf(code);
            if (text.isEmpty()) return resultError(ctx, u"Chr の引数 %1 は文字の番号ではありません", code);
            resultText(ctx, text);
        }},
        {"ChrW", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            const int code = sqlite3_value_int(a[0]);
            if (code < 0 || code > 0xFFFF) return resultError(ctx, u"ChrW の引数 %1 は文字の番号ではありません", code);
            resultText(ctx, QString(QChar(char16_t(code))));
        }},
        // Str gives a number its sign place: a blank before a positive one.
        {"Hex", 1, kNullFirstGivesNull, radixText<16>},
        {"Oct", 1, kNullFirstGivesNull, radixText<8>},
        {"Trim", 2, kNullsHandled, refuseArguments},
        {"LTrim", 2, kNullsHandled, refuseArguments},
        {"RTrim", 2, kNullsHandled, refuseArguments},
        {"Log", 2, kNullsHandled, refuseArguments},
        {"Date", -1, kNullsHandled, refuseArguments},  // Date() itself is exact, so it comes first
        {"Time", -1, kNullsHandled, refuseArguments},
        // SQLite's abs reads "abc" as 0: ours reads a text as a number or refuses it.
        {"Abs", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            if (sqlite3_value_type(a[0]) == SQLITE_INTEGER) {
                const int64_t i = sqlite3_value_int64(a[0]);
                if (i == INT64_MIN) return resultError(ctx, u"Abs の値 %1 が範囲を超えました (オーバーフロー)", textArg(a[0]));
                return sqlite3_result_int64(ctx, i < 0 ? -i : i);
            }
            double d;
            if (!numberOf(a[0], d)) return mismatch(ctx, "Abs");
            if (d == std::trunc(d) && std::fabs(d) < 9.2e18) return sqlite3_result_int64(ctx, int64_t(std::fabs(d)));
            sqlite3_result_double(ctx, std::fabs(d));
        }},
        {"Str", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            double d;
            if (!numberOf(a[0], d)) return mismatch(ctx, "Str");
            // Str(0.5) is " .5" and Str(-0.5) "-.5": no zero before the point.
            QString text = QString::fromStdString(formatReal(d));
            if (text.startsWith(QLatin1String("0."))) text.remove(0, 1);
            else if (text.startsWith(QLatin1String("-0."))) text.remove(1, 1);
            resultText(ctx, d >= 0 ? QLatin1Char(' ') + text : text);
        }},
        {"CBool", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            const QString text = textArg(a[0]).trimmed();
            double d;
            if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return sqlite3_result_int(ctx, -1);
            if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return sqlite3_result_int(ctx, 0);
            if (!numberOf(a[0], d)) return mismatch(ctx, "CBool");
            sqlite3_result_int(ctx, d != 0 ? -1 : 0);
        }},
        // InStrRev(text, sought[, start[, compare]]).
        {"InStrRev", -1, kNullFirstGivesNull, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
            if (argc < 2 || argc > 4) return resultError(ctx, QStringLiteral("InStrRev の引数は 2 つから 4 つです"));
            if (isNullArg(a[1])) return sqlite3_result_null(ctx);
            const QString text = textArg(a[0]), sought = textArg(a[1]);
            const int start = argc > 2 && !isNullArg(a[2]) ? sqlite3_value_int(a[2]) : -1;
            if (start == 0 || start < -1) return resultError(ctx, u"InStrRev の開始位置 %1 が正しくありません", start);
            if (start > text.size()) return sqlite3_result_int(ctx, 0);
            const qsizetype from = start == -1 ? text.size() - sought.size() : start - sought.size();
            if (from < 0) return sqlite3_result_int(ctx, 0);
            sqlite3_result_int64(ctx, lastIndexOfListening(text, sought, from, compareMode(argc, a, 3)) + 1);
        }},
        {"StrComp", -1, kNullFirstGivesNull, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
            if (argc < 2 || argc > 3) return resultError(ctx, QStringLiteral("StrComp の引数は 2 つか 3 つです"));
            if (isNullArg(a[1])) return sqlite3_result_null(ctx);
            const int c = QString::compare(textArg(a[0]), textArg(a[1]), compareMode(argc, a, 2));
            sqlite3_result_int(ctx, c < 0 ? -1 : c > 0 ? 1 : 0);
        }},
        // Replace(text, find, with[, start[, count[, compare]]]): the result begins at start.
        {"Replace", -1, kNullsHandled, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
            if (argc < 3 || argc > 6) return resultError(ctx, QStringLiteral("Replace の引数は 3 つから 6 つです"));
            // Its text is a String, which holds no Null.
            if (isNullArg(a[0])) return resultError(ctx, QStringLiteral("Replace の文字列が Null です (Null の使い方が不正です)"));
            for (int i = 1; i < argc; ++i)
                if (isNullArg(a[i]) && i < 3) return sqlite3_result_null(ctx);
            const int start = argc > 3 && !isNullArg(a[3]) ? sqlite3_value_int(a[3]) : 1;
            const int count = argc > 4 && !isNullArg(a[4]) ? sqlite3_value_int(a[4]) : -1;
            if (start < 1) return resultError(ctx, u"Replace の開始位置 %1 が正しくありません", start);
            QString text = textArg(a[0]).mid(start - 1);
            const QString find = textArg(a[1]), with = textArg(a[2]);
            if (find.isEmpty() || count == 0) return resultText(ctx, text);
            const Qt::CaseSensitivity cs = compareMode(argc, a, 5);
            QString out;
            qsizetype at = 0;
            for (int done = 0; count < 0 || done < count; ++done) {
                listenForStop(size_t(done));
                const qsizetype hit = indexOfListening(text, find, at, cs);
                if (hit < 0) break;
                out.append(QStringView(text).sliced(at, hit - at)).append(with);
                at = hit + find.size();
            }
            resultText(ctx, out.append(QStringView(text).sliced(at)));
        }},
        // Log is the natural logarithm, as it was (SQLite's own is base 10).
        {"Log", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            double d;
            if (!numberOf(a[0], d)) return mismatch(ctx, "Log");
            if (d <= 0) return resultError(ctx, QStringLiteral("Log の引数は正の数です"));
            sqlite3_result_double(ctx, std::log(d));
        }},
        {"Exp", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            double d;
            if (!numberOf(a[0], d)) return mismatch(ctx, "Exp");
            const double r = std::exp(d);
            if (std::isinf(r)) return resultError(ctx, QStringLiteral("Exp の結果が数値の範囲を超えました"));
            sqlite3_result_double(ctx, r);
        }},
        // Partition(number, start, stop, interval): the range holding number,
        // "lower:upper", each side padded to as many characters as stop has,
        // plus one, so that the ranges sort as text: "  0:  4", "   : -1".
        {call::kPartition, 4, kNullsHandled, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            int64_t v[4];
            for (int i = 0; i < 4; ++i) {
                if (isNullArg(a[i])) return sqlite3_result_null(ctx);
                double d;
                if (!numberOf(a[i], d)) return mismatch(ctx, "Partition");
                d = roundHalfEven(d);
                if (d < -2147483648.0 || d > 2147483647.0)
                    return resultError(ctx, u"Partition の値 %1 が範囲を超えました (オーバーフロー)", textArg(a[i]));
                v[i] = int64_t(d);
            }
            const int64_t number = v[0], start = v[1], stop = v[2], interval = v[3];
            if (start < 0 || stop <= start || interval < 1)
                return resultError(ctx, QStringLiteral("Partition の start、stop、interval が正しくありません "
                                                       "(start は 0 以上、stop は start より大きく、interval は 1 以上です)"));
            const qsizetype width = std::max(QString::number(stop).size() + 1, QString::number(start - 1).size());
            const auto side = [&](std::optional<int64_t> n) {
                return n ? QString::number(*n).rightJustified(width, QLatin1Char(' ')) : QString(width, QLatin1Char(' '));
            };
            std::optional<int64_t> lower, upper;
            if (number < start) {
                upper = start - 1;
            } else if (number > stop) {
                lower = stop + 1;
            } else if (interval == 1) {
                lower = upper = number;
            } else {
                lower = start + (number - start) / interval * interval;
                upper = std::min(*lower + interval - 1, stop);
            }
            resultText(ctx, side(lower) + QLatin1Char(':') + side(upper));
        }},
        {"Atn", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            double d;
            if (!numberOf(a[0], d)) return mismatch(ctx, "Atn");
            sqlite3_result_double(ctx, std::atan(d));
        }},
        {"FormatNumber", -1, kNullsHandled, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
            formatNumberCall(ctx, argc, a, "FormatNumber", QString(), QString(), 2);
        }},
        {"FormatPercent", -1, kNullsHandled, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
            formatNumberCall(ctx, argc, a, "FormatPercent", QString(), QStringLiteral("%"), 2);
        }},
        {"FormatCurrency", -1, kNullsHandled, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
            formatNumberCall(ctx, argc, a, "FormatCurrency", QStringLiteral("\"¥\""), QString(), 0);
        }},
        // FormatDateTime(date[, named]): 0 the date and its time, either
        // alone where the other is nothing; 1 long date; 2 short date; 3 long
        // time; 4 short time.
        {"FormatDateTime", -1, kNullsHandled, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
            if (argc < 1 || argc > 2) return resultError(ctx, QStringLiteral("FormatDateTime の引数は 1 つか 2 つです"));
            if (isNullArg(a[0])) return sqlite3_result_null(ctx);
            const FormatValue value = formatValueOf(a[0]);
            if (!value.date) return mismatch(ctx, "FormatDateTime");
            double named = 0;
            if (argc > 1 && !isNullArg(a[1]) && !numberOf(a[1], named)) return mismatch(ctx, "FormatDateTime");
            QString pattern;
            switch (int(roundHalfEven(named))) {
            case 0: pattern = QStringLiteral("c"); break;
            case 1: pattern = QStringLiteral("Long Date"); break;
            case 2: pattern = QStringLiteral("Short Date"); break;
            case 3: pattern = QStringLiteral("Long Time"); break;
            case 4: pattern = QStringLiteral("Short Time"); break;
            default: return resultError(ctx, u"FormatDateTime の形式 %1 が正しくありません (0 から 4 です)", textArg(a[1]));
            }
            resultText(ctx, formatJetValue(value, pattern));
        }},
        {"Format", -1, kNullsHandled, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
            if (argc < 1 || argc > 4) return resultError(ctx, QStringLiteral("Format の引数は 1 つから 4 つです"));
            const FormatValue value = formatValueOf(a[0]);
            const QString pattern = argc > 1 && !isNullArg(a[1]) ? textArg(a[1]) : QString();
            // firstdayofweek 0 is the system's, Sunday here; firstweekofyear 0 the week of January 1.
            WeekRule week;
            for (int at = 2; at < argc; ++at) {
                if (isNullArg(a[at])) continue;
                const int64_t n = sqlite3_value_int64(a[at]);
                if (n < 0 || n > (at == 2 ? 7 : 3))
                    return resultError(ctx, u"Format の %1 %2 が正しくありません (0 から %3 です)",
                                       at == 2 ? "firstdayofweek" : "firstweekofyear", n, at == 2 ? 7 : 3);
                (at == 2 ? week.firstDay : week.firstWeek) = n == 0 ? 1 : int(n);
            }
            const QString out = formatJetValue(value, pattern, week);
            if (value.isNull && out.isEmpty()) return sqlite3_result_null(ctx);
            resultText(ctx, out);
        }},

        // x LIKE pattern calls like(pattern, x); the compiled pattern is kept for the statement.
        {"like", 2, kNullFirstGivesNull, like},
        {"like", 3, kNullFirstGivesNull, like},
        // a & b: null counts as empty text, and all nulls give null.
        {call::kConcat, -1, kNullsHandled, [](sqlite3_context* ctx, int argc, sqlite3_value** argv) {
            QString out;
            bool any = false;
            for (int i = 0; i < argc; ++i) {
                if (isNullArg(argv[i])) continue;
                any = true;
                out += textArg(argv[i]);
            }
            any ? resultText(ctx, out) : sqlite3_result_null(ctx);
        }},
        {"len", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) { sqlite3_result_int64(ctx, textArg(a[0]).size()); }},
        {call::kLeft, 2, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            qsizetype n = 0;
            if (!countArg(ctx, a[1], "Left", "文字数", 0, n)) return;
            resultText(ctx, textArg(a[0]).left(n));
        }},
        {call::kRight, 2, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            qsizetype n = 0;
            if (!countArg(ctx, a[1], "Right", "文字数", 0, n)) return;
            resultText(ctx, textArg(a[0]).right(n));
        }},
        {"mid", -1, kNullFirstGivesNull, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
            if (argc < 2 || argc > 3) return resultError(ctx, QStringLiteral("Mid の引数は 2 つか 3 つです"));
            qsizetype start = 0, length = -1;
            if (!countArg(ctx, a[1], "Mid", "開始位置", 1, start)) return;
            if (argc == 3 && !countArg(ctx, a[2], "Mid", "文字数", 0, length)) return;
            resultText(ctx, textArg(a[0]).mid(start - 1, length));
        }},
        {"ucase", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) { resultText(ctx, textArg(a[0]).toUpper()); }},
        {"lcase", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) { resultText(ctx, textArg(a[0]).toLower()); }},
        {"strreverse", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            QString s = textArg(a[0]);
            std::reverse(s.begin(), s.end());
            resultText(ctx, s);
        }},
        {"space", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            qsizetype n = 0;
            if (!countArg(ctx, a[0], "Space", "文字数", 0, n)) return;
            if (n > kMaxTextLength) return resultError(ctx, u"Space の文字数 %1 が大きすぎます", n);
            resultText(ctx, QString(n, QLatin1Char(' ')));
        }},
        // String(n, "x") repeats the first character; String(n, 65) the character numbered so, as Chr.
        {"string", 2, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            qsizetype n = 0;
            if (!countArg(ctx, a[0], "String", "文字数", 0, n)) return;
            if (isNullArg(a[1])) return sqlite3_result_null(ctx);
            QString c;
            if (isNumberArg(a[1])) {
                // A code past 255 is taken modulo 256, as the reference says: String(3, 321) is AAA.
                int64_t code = sqlite3_value_int64(a[1]);
                if (code > 255) code %= 256;
                c = characterOf(code);
                if (c.isEmpty()) return resultError(ctx, u"String の引数 %1 は文字の番号ではありません", code);
            } else {
                c = textArg(a[1]);
                if (c.isEmpty()) return resultError(ctx, QStringLiteral("String の文字が空の文字列です"));
            }
            if (n > kMaxTextLength) return resultError(ctx, u"String の文字数 %1 が大きすぎます", n);
            resultText(ctx, c.left(c[0].isHighSurrogate() ? 2 : 1).repeated(n));
        }},
        // InStr([start,] text, sought[, compare]): 1-based, 0 when absent,
        // letters compared ignoring case unless compare is 0.
        {"instr", -1, kNullsHandled, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
            if (argc < 2 || argc > 4) return resultError(ctx, QStringLiteral("InStr の引数は 2 つから 4 つです"));
            const bool withStart = argc >= 3;
            qsizetype start = 1;
            if (withStart) {
                if (isNullArg(a[0])) return sqlite3_result_null(ctx);
                if (!countArg(ctx, a[0], "InStr", "開始位置", 1, start)) return;
            }
            sqlite3_value* text = a[withStart ? 1 : 0];
            sqlite3_value* sought = a[withStart ? 2 : 1];
            if (isNullArg(text) || isNullArg(sought)) return sqlite3_result_null(ctx);
            const QString haystack = textArg(text), needle = textArg(sought);
            if (start > haystack.size()) return sqlite3_result_int(ctx, 0);
            if (needle.isEmpty()) return sqlite3_result_int64(ctx, start);
            const qsizetype at = indexOfListening(haystack, needle, start - 1, compareMode(argc, a, 3));
            sqlite3_result_int64(ctx, at + 1);
        }},
        {"nz", -1, kNullsHandled, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
            if (!isNullArg(a[0])) return sqlite3_result_value(ctx, a[0]);
            if (argc > 1) return sqlite3_result_value(ctx, a[1]);
            sqlite3_result_text(ctx, "", 0, SQLITE_STATIC);
        }},
        {call::kIsNull, 1, kNullsHandled, [](sqlite3_context* ctx, int, sqlite3_value** a) { sqlite3_result_int(ctx, isNullArg(a[0]) ? -1 : 0); }},
        {"isnumeric", 1, kNullsHandled, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            double d;
            sqlite3_result_int(ctx, !isNullArg(a[0]) && numberOf(a[0], d) ? -1 : 0);
        }},
        // A query's values are never Empty (an unset variable) nor an Error
        // value: a Null is neither.
        {"IsEmpty", 1, kNullsHandled, [](sqlite3_context* ctx, int, sqlite3_value**) { sqlite3_result_int(ctx, 0); }},
        {"IsError", 1, kNullsHandled, [](sqlite3_context* ctx, int, sqlite3_value**) { sqlite3_result_int(ctx, 0); }},
        {"isdate", 1, kNullsHandled, [](sqlite3_context* ctx, int, sqlite3_value** a) { sqlite3_result_int(ctx, !isNullArg(a[0]) && dateOf(a[0]) ? -1 : 0); }},
        {"val", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            const double v = valOf(textArg(a[0]));
            if (v == std::floor(v) && std::fabs(v) < 9e15) sqlite3_result_int64(ctx, int64_t(v));
            else sqlite3_result_double(ctx, v);
        }},
        {"cstr", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) { resultText(ctx, textArg(a[0])); }},
        // CInt and CLng round half to even and refuse what their type cannot hold.
        {"CInt", 1, kNullFirstGivesNull, wholeConversion<-32768, 32767>},
        {"CByte", 1, kNullFirstGivesNull, wholeConversion<0, 255>},
        // A Variant holds any value as it is.
        {"CVar", 1, kNullsHandled, [](sqlite3_context* ctx, int, sqlite3_value** a) { sqlite3_result_value(ctx, a[0]); }},
        {"CLng", 1, kNullFirstGivesNull, wholeConversion<-2147483648LL, 2147483647LL>},
        {"CDbl", 1, kNullFirstGivesNull, realConversion<false>},
        {"CSng", 1, kNullFirstGivesNull, realConversion<false>},
        {"CCur", 1, kNullFirstGivesNull, realConversion<true>},
        // The number functions refuse a text that is no number rather than read it as 0.
        {"Int", 1, kNullFirstGivesNull, wholePart<floorOf>},
        {"Fix", 1, kNullFirstGivesNull, wholePart<truncOf>},
        {"Sgn", 1, kNullFirstGivesNull, wholePart<signOf>},
        {"Sqr", 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            double d;
            if (!numberOf(a[0], d)) return mismatch(ctx, "Sqr");
            if (d < 0) return resultError(ctx, QStringLiteral("Sqr の引数が負の数です"));
            sqlite3_result_double(ctx, std::sqrt(d));
        }},
        // Round to even, as the old engine did (SQLite's own rounds half away from zero).
        {"Round", -1, kNullFirstGivesNull, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
            if (argc < 1 || argc > 2) return resultError(ctx, QStringLiteral("Round の引数は 1 つか 2 つです"));
            double d;
            if (!numberOf(a[0], d)) return mismatch(ctx, "Round");
            const int places = argc > 1 ? sqlite3_value_int(a[1]) : 0;
            if (places < 0 || places > 15) return resultError(ctx, u"Round の桁数 %1 は 0 から 15 です", places);
            const double scale = std::pow(10.0, places);
            const double r = roundHalfEven(d * scale) / scale;
            if (places == 0) resultWhole(ctx, r);
            else sqlite3_result_double(ctx, r);
        }},
        // Choose's index: rounded half to even, a refusal naming Choose.
        {call::kChooseIndex, 1, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            double d;
            if (!numberOf(a[0], d)) return mismatch(ctx, "Choose");
            resultWhole(ctx, roundHalfEven(d));
        }},
        // StrConv(text, conversion): 1 upper, 2 lower, 3 proper, 4 wide, 8 narrow, 16 katakana, 32 hiragana.
        {"strconv", 2, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            QString s = textArg(a[0]);
            const int how = sqlite3_value_int(a[1]);
            if ((how & 3) == 1) s = s.toUpper();
            else if ((how & 3) == 2) s = s.toLower();
            else if ((how & 3) == 3) {
                bool start = true;
                size_t step = 0;
                for (QChar& c : s) {
                    listenForStop(step++);
                    c = start ? c.toUpper() : c.toLower();
                    start = c.isSpace();
                }
            }
            // Widened before the kana are shifted (ｶﾀｶﾅ with 4 + 32 is かたかな),
            // narrowed after (ひらがな with 8 + 16 is ﾋﾗｶﾞﾅ).
            if (how & 4) s = toWide(s);
            if (how & 16) s = shiftKana(s, true);
            if (how & 32) s = shiftKana(s, false);
            if (how & 8) s = toNarrow(s);
            resultText(ctx, s);
        }},
    };
    return kTable;
}

}  // namespace tarlo
