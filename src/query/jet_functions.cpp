#include "query/jet_functions.h"

#include "query/jet_function_support.h"

#include "query/case_folding.h"
#include "query/column_types.h"
#include "query/like_pattern.h"

#include <QDateTime>
#include <QString>

#include <cfenv>
#include <cmath>
#include <sqlite3.h>

namespace tarlo::query {

namespace {

// The leading number of a text, blanks ignored, as Val reads it.
double valOf(const QString& text) {
    QString digits;
    bool dot = false;
    for (const QChar c : text) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) continue;
        if (c.isDigit() && c.unicode() < 128) digits += c;
        else if (c == QLatin1Char('.') && !dot) dot = true, digits += c;
        else if ((c == QLatin1Char('-') || c == QLatin1Char('+')) && digits.isEmpty()) digits += c;
        else break;
    }
    return digits.toDouble();
}


// Half-width katakana U+FF66..U+FF9D and their full-width forms.
const char16_t kHalfKana[] = u"ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン";

QString toWide(const QString& s) {
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
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
    for (const QChar ch : s) {
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


}  // namespace

void registerJetFunctions(sqlite3* db) {
    registerJetArithmetic(db);
    // x LIKE pattern calls like(pattern, x); the compiled pattern is kept for the statement.
    define(db, "like", 2, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        if (isNullArg(a[1])) return sqlite3_result_null(ctx);
        auto* pattern = static_cast<LikePattern*>(sqlite3_get_auxdata(ctx, 0));
        if (!pattern) {
            pattern = new LikePattern({reinterpret_cast<const char*>(sqlite3_value_text(a[0])), size_t(sqlite3_value_bytes(a[0]))});
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
    });
    // a & b: null counts as empty text, and all nulls give null.
    define(db, "tarlo_concat", -1, [](sqlite3_context* ctx, int argc, sqlite3_value** argv) {
        QString out;
        bool any = false;
        for (int i = 0; i < argc; ++i) {
            if (isNullArg(argv[i])) continue;
            any = true;
            out += textArg(argv[i]);
        }
        any ? resultText(ctx, out) : sqlite3_result_null(ctx);
    }, false);
    define(db, "len", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) { sqlite3_result_int64(ctx, textArg(a[0]).size()); });
    define(db, "tarlo_left", 2, [](sqlite3_context* ctx, int, sqlite3_value** a) { resultText(ctx, textArg(a[0]).left(std::max(0, sqlite3_value_int(a[1])))); });
    define(db, "tarlo_right", 2, [](sqlite3_context* ctx, int, sqlite3_value** a) { resultText(ctx, textArg(a[0]).right(std::max(0, sqlite3_value_int(a[1])))); });
    define(db, "mid", -1, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
        if (argc < 2 || argc > 3) return sqlite3_result_error(ctx, "Mid の引数は 2 つか 3 つです", -1);
        const int start = std::max(1, sqlite3_value_int(a[1]));
        resultText(ctx, textArg(a[0]).mid(start - 1, argc == 3 ? std::max(0, sqlite3_value_int(a[2])) : -1));
    });
    define(db, "ucase", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) { resultText(ctx, textArg(a[0]).toUpper()); });
    define(db, "lcase", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) { resultText(ctx, textArg(a[0]).toLower()); });
    define(db, "strreverse", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        QString s = textArg(a[0]);
        std::reverse(s.begin(), s.end());
        resultText(ctx, s);
    });
    define(db, "space", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) { resultText(ctx, QString(std::max(0, sqlite3_value_int(a[0])), QLatin1Char(' '))); });
    define(db, "string", 2, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        const QString c = textArg(a[1]);
        resultText(ctx, c.isEmpty() ? QString() : QString(std::max(0, sqlite3_value_int(a[0])), c[0]));
    });
    // InStr([start,] text, sought): 1-based, 0 when absent, letters compared ignoring case.
    define(db, "instr", -1, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
        if (argc < 2 || argc > 3) return sqlite3_result_error(ctx, "InStr の引数は 2 つか 3 つです", -1);
        const int start = argc == 3 ? sqlite3_value_int(a[0]) : 1;
        sqlite3_value* text = a[argc == 3 ? 1 : 0];
        sqlite3_value* sought = a[argc == 3 ? 2 : 1];
        if (isNullArg(text) || isNullArg(sought)) return sqlite3_result_null(ctx);
        const qsizetype at = textArg(text).indexOf(textArg(sought), std::max(0, start - 1), Qt::CaseInsensitive);
        sqlite3_result_int64(ctx, at + 1);
    }, false);
    define(db, "nz", -1, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
        if (!isNullArg(a[0])) return sqlite3_result_value(ctx, a[0]);
        if (argc > 1) return sqlite3_result_value(ctx, a[1]);
        sqlite3_result_text(ctx, "", 0, SQLITE_STATIC);
    }, false);
    define(db, "tarlo_isnull", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) { sqlite3_result_int(ctx, isNullArg(a[0]) ? -1 : 0); }, false);
    define(db, "isnumeric", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        double d;
        sqlite3_result_int(ctx, !isNullArg(a[0]) && numberOf(a[0], d) ? -1 : 0);
    }, false);
    define(db, "isdate", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) { sqlite3_result_int(ctx, !isNullArg(a[0]) && dateOf(a[0]) ? -1 : 0); }, false);
    define(db, "val", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        const double v = valOf(textArg(a[0]));
        if (v == std::floor(v) && std::fabs(v) < 9e15) sqlite3_result_int64(ctx, int64_t(v));
        else sqlite3_result_double(ctx, v);
    });
    define(db, "cstr", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) { resultText(ctx, textArg(a[0])); });
    for (const char* name : {"CInt", "CLng"}) {
        define(db, name, 1, [name](sqlite3_context* ctx, int, sqlite3_value** a) {
            double d;
            if (!numberOf(a[0], d)) return mismatch(ctx, name);
            sqlite3_result_int64(ctx, int64_t(roundHalfEven(d)));
        });
    }
    for (const char* name : {"CDbl", "CSng", "CCur"}) {
        define(db, name, 1, [name](sqlite3_context* ctx, int, sqlite3_value** a) {
            double d;
            if (!numberOf(a[0], d)) return mismatch(ctx, name);
            sqlite3_result_double(ctx, d);
        });
    }
    define(db, "int", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) { sqlite3_result_int64(ctx, int64_t(std::floor(sqlite3_value_double(a[0])))); });
    define(db, "fix", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) { sqlite3_result_int64(ctx, int64_t(std::trunc(sqlite3_value_double(a[0])))); });
    define(db, "sgn", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        const double d = sqlite3_value_double(a[0]);
        sqlite3_result_int(ctx, d > 0 ? 1 : d < 0 ? -1 : 0);
    });
    define(db, "sqr", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        const double d = sqlite3_value_double(a[0]);
        if (d < 0) return sqlite3_result_error(ctx, "Sqr の引数が負の数です", -1);
        sqlite3_result_double(ctx, std::sqrt(d));
    });
    // Round to even, as the old engine did (SQLite's own rounds half away from zero).
    define(db, "round", -1, [](sqlite3_context* ctx, int argc, sqlite3_value** a) {
        const int places = argc > 1 ? sqlite3_value_int(a[1]) : 0;
        const double scale = std::pow(10.0, places);
        const double r = roundHalfEven(sqlite3_value_double(a[0]) * scale) / scale;
        if (places <= 0) sqlite3_result_int64(ctx, int64_t(r));
        else sqlite3_result_double(ctx, r);
    });
    const std::pair<const char*, int> parts[] = {{"Year", 0}, {"Month", 1}, {"Day", 2}, {"Hour", 3}, {"Minute", 4}, {"Second", 5}};
    for (const auto& [name, part] : parts) {
        define(db, name, 1, [name = name, part = part](sqlite3_context* ctx, int, sqlite3_value** a) {
            const auto d = dateOf(a[0]);
            if (!d) return mismatch(ctx, name);
            static const int64_t divisors[] = {10000000000, 100000000, 1000000, 10000, 100, 1};
            const int64_t value = *d / divisors[part];
            sqlite3_result_int64(ctx, part == 0 ? value : value % 100);
        });
    }
    define(db, "now", 0, [](sqlite3_context* ctx, int, sqlite3_value**) {
        resultText(ctx, QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd hh:mm:ss")));
    }, false);
    // StrConv(text, conversion): 1 upper, 2 lower, 3 proper, 4 wide, 8 narrow, 16 katakana, 32 hiragana.
    define(db, "strconv", 2, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        QString s = textArg(a[0]);
        const int how = sqlite3_value_int(a[1]);
        if ((how & 3) == 1) s = s.toUpper();
        else if ((how & 3) == 2) s = s.toLower();
        else if ((how & 3) == 3) {
            bool start = true;
            for (QChar& c : s) {
                c = start ? c.toUpper() : c.toLower();
                start = c.isSpace();
            }
        }
        if (how & 16) s = shiftKana(s, true);
        if (how & 32) s = shiftKana(s, false);
        if (how & 4) s = toWide(s);
        if (how & 8) s = toNarrow(s);
        resultText(ctx, s);
    });
}

}  // namespace tarlo::query
