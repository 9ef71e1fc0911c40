#include "engine/conversions.h"

#include "dialect/internal_names.h"
#include "functions/function_support.h"
#include "values/case_folding.h"
#include "values/dates.h"
#include "values/numbers.h"

#include <QFileInfo>

#include <cmath>
#include <utility>

namespace tarlo {

namespace {

std::string_view textOf(sqlite3_value* v) {
    return {reinterpret_cast<const char*>(sqlite3_value_text(v)), size_t(sqlite3_value_bytes(v))};
}

QString qtext(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// Where a value stands: "列 "amt" の値 "N/A" (ファイル "a.csv" の 5 行目)".
QString placeOf(sqlite3_context* ctx, sqlite3_value* table, sqlite3_value* column, std::string_view value) {
    const QString columnName = qtext(textOf(column));
    QString place = columnName.isEmpty() ? QStringLiteral("値 \"%1\"").arg(messageArgument(value))
                                         : QStringLiteral("列 \"%1\" の値 \"%2\"").arg(columnName, messageArgument(value));
    const auto* lookup = static_cast<TableLookup*>(sqlite3_user_data(ctx));
    const std::string tableName(textOf(table));
    if (tableName.empty()) return place;
    if (const std::shared_ptr<const CsvTable> t = (*lookup)(tableName)) {
        const auto& names = t->columnNames();
        for (size_t c = 0; c < names.size(); ++c) {
            if (names[c] != std::string(textOf(column))) continue;
            const QString file = QFileInfo(t->path()).fileName();
            if (const qint64 line = t->lineOfValue(c, value))
                place += QStringLiteral(" (ファイル \"%1\" の %2 行目)").arg(file, QString::number(line));  // one call: a "%1" in the name stays
        }
    }
    return place;
}

// tarlo_number(value, table, column)
void numberOfValue(sqlite3_context* ctx, int, sqlite3_value** a) {
    switch (sqlite3_value_type(a[0])) {
    case SQLITE_NULL: return sqlite3_result_null(ctx);
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: return sqlite3_result_value(ctx, a[0]);
    default: break;
    }
    const std::string_view text = textOf(a[0]);
    if (const auto n = readNumberText(text, true)) {
        return n->integer ? sqlite3_result_int64(ctx, n->whole) : sqlite3_result_double(ctx, n->real);
    }
    // A date is no number to sum or multiply, whatever its serial day is.
    if (dateOf(a[0]))
        return resultError(ctx, u"%1 は日付なので、数値として合計したり計算したりできません (日付には + と - で日数を足し引きでき、二つの日付の差は - か DateDiff() で日数になります)。",
                           placeOf(ctx, a[1], a[2], text));
    resultError(ctx, u"%1 は数値ではないので、数値と比べたり計算したりできません (Val() で数値にするか、schema.ini で列の型を決めてください)。",
                placeOf(ctx, a[1], a[2], text));
}

// tarlo_serial(date, table, column): a date's serial day, the days since
// 1899/12/30 and the time as their fraction, as CDbl, CLng and Int read a
// date. Only a date operand is written so.
void serialOfValue(sqlite3_context* ctx, int, sqlite3_value** a) {
    switch (sqlite3_value_type(a[0])) {
    case SQLITE_NULL: return sqlite3_result_null(ctx);
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: return sqlite3_result_value(ctx, a[0]);
    default: break;
    }
    const std::optional<int64_t> packed = dateOf(a[0]);
    if (!packed)
        return resultError(ctx, u"%1 は日付ではないので、日数にできません。", placeOf(ctx, a[1], a[2], textOf(a[0])));
    const double serial = serialOf(*packed);
    if (serial == std::floor(serial)) return sqlite3_result_int64(ctx, int64_t(serial));
    sqlite3_result_double(ctx, serial);
}

// tarlo_truth(value, table, column): a value standing as a condition, as
// the old engine read it: a number true unless 0, a text True or False,
// or a number by our rules ("1,234" true); any other text stops, named.
void truthOfValue(sqlite3_context* ctx, int, sqlite3_value** a) {
    switch (sqlite3_value_type(a[0])) {
    case SQLITE_NULL: return sqlite3_result_null(ctx);
    case SQLITE_INTEGER: return sqlite3_result_int(ctx, sqlite3_value_int64(a[0]) != 0 ? -1 : 0);
    case SQLITE_FLOAT: return sqlite3_result_int(ctx, sqlite3_value_double(a[0]) != 0 ? -1 : 0);
    default: break;
    }
    const std::string_view text = textOf(a[0]);
    const QString trimmed = qtext(text).trimmed();
    if (trimmed.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return sqlite3_result_int(ctx, -1);
    if (trimmed.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return sqlite3_result_int(ctx, 0);
    if (const auto n = readNumberText(text, true)) return sqlite3_result_int(ctx, n->real != 0 ? -1 : 0);
    resultError(ctx, u"%1 は数値でも True、False でもないので、条件にできません (比較の式にしてください: 例 列 = '値')。",
                placeOf(ctx, a[1], a[2], text));
}

// tarlo_date(value, table, column): the date as the tables show it.
void dateOfValue(sqlite3_context* ctx, int, sqlite3_value** a) {
    std::optional<int64_t> packed;
    switch (sqlite3_value_type(a[0])) {
    case SQLITE_NULL: return sqlite3_result_null(ctx);
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: packed = packedOfSerial(sqlite3_value_double(a[0])); break;
    default: packed = dateOf(a[0]);
    }
    if (!packed) {
        const std::string text = sqlite3_value_type(a[0]) == SQLITE_TEXT ? std::string(textOf(a[0]))
                                                                         : formatReal(sqlite3_value_double(a[0]));
        return resultError(ctx, u"%1 は日付ではないので、日付と比べられません (CDate() で日付にするか、schema.ini で列の型を決めてください)。",
                           placeOf(ctx, a[1], a[2], text));
    }
    const std::string shown = formatDateTime(*packed, true);
    sqlite3_result_text(ctx, shown.data(), int(shown.size()), SQLITE_TRANSIENT);
}

// An integer against a real without rounding the integer to a real first:
// 9007199254740993 is above 9007199254740992.0.
int compareExactly(int64_t i, double d) {
    if (std::isnan(d)) return 1;
    if (d >= 0x1p63) return -1;
    if (d < -0x1p63) return 1;
    const auto whole = int64_t(d);  // d truncated, within range now
    if (i != whole) return i < whole ? -1 : 1;
    const double fraction = d - double(whole);
    return fraction > 0 ? -1 : fraction < 0 ? 1 : 0;
}

// -1, 0 or 1 as a is below, equal to or above b; nothing when either is
// null; false with the message set when they cannot be compared. A text's
// table and column, when given, are named in that message.
bool compareValues(sqlite3_context* ctx, sqlite3_value* a, sqlite3_value* b, int& out, sqlite3_value* table = nullptr,
                   sqlite3_value* column = nullptr) {
    const int ta = sqlite3_value_type(a), tb = sqlite3_value_type(b);
    auto order = [](double x, double y) { return x < y ? -1 : x > y ? 1 : 0; };
    if (ta != SQLITE_TEXT && tb != SQLITE_TEXT) {
        if (ta == SQLITE_INTEGER && tb == SQLITE_INTEGER) {
            const sqlite3_int64 x = sqlite3_value_int64(a), y = sqlite3_value_int64(b);
            out = x < y ? -1 : x > y ? 1 : 0;
        } else if (ta == SQLITE_INTEGER) {
            out = compareExactly(sqlite3_value_int64(a), sqlite3_value_double(b));
        } else if (tb == SQLITE_INTEGER) {
            out = -compareExactly(sqlite3_value_int64(b), sqlite3_value_double(a));
        } else {
            out = order(sqlite3_value_double(a), sqlite3_value_double(b));
        }
        return true;
    }
    if (ta == SQLITE_TEXT && tb == SQLITE_TEXT) {
        out = compareIgnoringCase(textOf(a), textOf(b));
        out = out < 0 ? -1 : out > 0 ? 1 : 0;
        return true;
    }
    // A number and a text: the text as a number, or as a date against serial days.
    sqlite3_value* text = ta == SQLITE_TEXT ? a : b;
    const double number = sqlite3_value_double(ta == SQLITE_TEXT ? b : a);
    // Read as arithmetic reads it, or as a date against serial days.
    std::optional<double> read;
    if (double n; numberOf(text, n)) read = n;
    else if (const auto date = dateOf(text)) read = serialOf(*date);
    if (!read) {
        const QString place = table ? placeOf(ctx, table, column, textOf(text))
                                    : QStringLiteral("値 \"%1\"").arg(messageArgument(textOf(text)));
        resultError(ctx, u"%1 は数値ではないので、数値 %2 と比べられません (Val() で数値にしてから比べてください)。", place,
                    QString::fromStdString(formatReal(number)));
        return false;
    }
    out = ta == SQLITE_TEXT ? order(*read, number) : order(number, *read);
    return true;
}

// tarlo_compare(a, b): -1, 0 or 1; tarlo_compare(x, low, high): 0 when x
// lies between them, else 1. Either end may be the greater, as in the old
// engine's Between.
void compare(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    for (int i = 0; i < argc; ++i)
        if (isNullArg(a[i])) return sqlite3_result_null(ctx);
    int first = 0, second = 0;
    if (!compareValues(ctx, a[0], a[1], first)) return;
    if (argc == 2) return sqlite3_result_int(ctx, first);
    if (!compareValues(ctx, a[0], a[2], second)) return;
    int ends = 0;
    if (!compareValues(ctx, a[1], a[2], ends)) return;
    if (ends > 0) std::swap(first, second);
    sqlite3_result_int(ctx, first >= 0 && second <= 0 ? 0 : 1);
}

// NullIf(a, b[, table, column]): null where a equals b as "=" finds them
// (texts ignoring case, a text against a number as a number), else a.
void nullIf(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    if (isNullArg(a[0]) || isNullArg(a[1])) return sqlite3_result_value(ctx, a[0]);
    int order = 0;
    if (!compareValues(ctx, a[0], a[1], order, argc == 4 ? a[2] : nullptr, argc == 4 ? a[3] : nullptr)) return;
    order == 0 ? sqlite3_result_null(ctx) : sqlite3_result_value(ctx, a[0]);
}

// tarlo_max(a, b, ...) and tarlo_min(...): the greatest or least value as
// "<" finds it; null when any is, as SQLite's scalar max and min give. A
// text read as a number beside numbers gives that number.
template <int Sign>
void extreme(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    bool numbers = false;
    for (int i = 0; i < argc; ++i) {
        if (isNullArg(a[i])) return sqlite3_result_null(ctx);
        numbers = numbers || isNumberArg(a[i]);
    }
    sqlite3_value* best = a[0];
    for (int i = 1; i < argc; ++i) {
        int order = 0;
        if (!compareValues(ctx, a[i], best, order)) return;
        if (order * Sign > 0) best = a[i];
    }
    if (numbers && sqlite3_value_type(best) == SQLITE_TEXT)
        if (const auto n = readNumberText(textOf(best), true))
            return n->integer ? sqlite3_result_int64(ctx, n->whole) : sqlite3_result_double(ctx, n->real);
    sqlite3_result_value(ctx, best);
}

// tarlo_nullif_moment(a, b): NullIf of a time, null where b is the same
// moment as a ("10:00" beside 10:00:00), as "=" beside a time reads them.
void nullIfMoment(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (isNullArg(a[0]) || isNullArg(a[1])) return sqlite3_result_value(ctx, a[0]);
    std::optional<int64_t> moments[2];
    for (int i = 0; i < 2; ++i) {
        const int type = sqlite3_value_type(a[i]);
        moments[i] = type == SQLITE_INTEGER || type == SQLITE_FLOAT ? packedOfSerial(sqlite3_value_double(a[i])) : dateOf(a[i]);
        if (!moments[i]) {
            const std::string text = type == SQLITE_TEXT ? std::string(textOf(a[i])) : formatReal(sqlite3_value_double(a[i]));
            return resultError(ctx, u"%1 は日付ではないので、日付と比べられません (CDate() で日付にするか、schema.ini で列の型を決めてください)。",
                               QStringLiteral("値 \"%1\"").arg(messageArgument(text)));
        }
    }
    *moments[0] == *moments[1] ? sqlite3_result_null(ctx) : sqlite3_result_value(ctx, a[0]);
}

int momentCompare(void*, int lengthA, const void* a, int lengthB, const void* b) {
    return compareMomentTexts({static_cast<const char*>(a), size_t(lengthA)}, {static_cast<const char*>(b), size_t(lengthB)});
}

}  // namespace

void registerConversions(sqlite3* db, TableLookup* lookup) {
    sqlite3_create_collation_v2(db, kMomentCollation, SQLITE_UTF8, nullptr, momentCompare, nullptr);
    constexpr int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    sqlite3_create_function_v2(db, call::kNumberOf, 3, flags, lookup, numberOfValue, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, call::kDateOf, 3, flags, lookup, dateOfValue, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, call::kSerialOf, 3, flags, lookup, serialOfValue, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, call::kTruthOf, 3, flags, lookup, truthOfValue, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, call::kCompare, 2, flags, nullptr, compare, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, call::kCompare, 3, flags, nullptr, compare, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, call::kMaxOf, -1, flags, nullptr, extreme<1>, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, call::kMinOf, -1, flags, nullptr, extreme<-1>, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "NullIf", 2, flags, lookup, nullIf, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "NullIf", 4, flags, lookup, nullIf, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, call::kNullIfMoment, 2, flags, nullptr, nullIfMoment, nullptr, nullptr, nullptr);
}

}  // namespace tarlo
