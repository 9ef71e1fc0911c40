#include "engine/derived_keys.h"

#include "csv/csv_reader.h"
#include "dialect/sql_quote.h"
#include "values/case_folding.h"
#include "values/dates.h"

#include <sqlite3.h>

#include <algorithm>
#include <numeric>

namespace tarlo {

namespace {

using Kind = PathValue::Kind;

// SQLite's order of values: null, then numbers, then texts by the collation.
int orderOf(const PathValue& a, const PathValue& b, bool noCase) {
    const auto rank = [](Kind k) { return k == Kind::Null ? 0 : k == Kind::Text ? 2 : 1; };
    if (rank(a.kind) != rank(b.kind)) return rank(a.kind) < rank(b.kind) ? -1 : 1;
    if (a.kind == Kind::Text) {
        const int c = noCase ? compareIgnoringCase(a.text, b.text) : a.text.compare(b.text);
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    if (a.kind == Kind::Integer && b.kind == Kind::Integer) return a.integer < b.integer ? -1 : a.integer > b.integer ? 1 : 0;
    const double x = a.kind == Kind::Integer ? double(a.integer) : a.real;
    const double y = b.kind == Kind::Integer ? double(b.integer) : b.real;
    return x < y ? -1 : x > y ? 1 : 0;
}

bool same(const PathValue& a, const PathValue& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
    case Kind::Null: return true;
    case Kind::Integer: return a.integer == b.integer;
    case Kind::Real: return a.real == b.real;
    case Kind::Text: return a.text == b.text;
    }
    return false;
}

struct Statement {
    sqlite3_stmt* stmt = nullptr;
    ~Statement() { sqlite3_finalize(stmt); }
};

// The cell as SQLite reads it from the table: a date as its text.
bool bindCell(sqlite3_stmt* stmt, const CsvTable& table, size_t column, Cell cell) {
    const ColumnType type = table.columnTypes()[column];
    if (table.isNull(column, cell)) return sqlite3_bind_null(stmt, 1) == SQLITE_OK;
    switch (type) {
    case ColumnType::Integer: return sqlite3_bind_int64(stmt, 1, cell.integer) == SQLITE_OK;
    case ColumnType::Text: {
        const std::string_view text = table.textOf(cell);
        return sqlite3_bind_text(stmt, 1, text.data(), int(text.size()), SQLITE_STATIC) == SQLITE_OK;
    }
    case ColumnType::Date:
    case ColumnType::DateTime:
    case ColumnType::Time: {
        const std::string text = momentText(type, cell.integer);
        return sqlite3_bind_text(stmt, 1, text.data(), int(text.size()), SQLITE_TRANSIENT) == SQLITE_OK;
    }
    case ColumnType::Real: return false;  // its values have no codes
    }
    return false;
}

// The statement working out expression for one value of the column, which
// it reads by name; a text column keeps its collation. Null for a column
// whose values have no codes, or a code two spellings share: the
// expression may tell them apart.
const CsvTable::ValueCodes* prepareOverColumn(sqlite3* db, const QString& expression, const CsvTable& table,
                                               const ReadColumn& read, Statement& s, const std::atomic<bool>* stop) {
    const size_t column = read.column;
    const ColumnType type = table.columnTypes()[column];
    if (type == ColumnType::Real) return nullptr;
    const CsvTable::ValueCodes& codes = table.codesOf(column, stop);
    if (codes.caseTwins) return nullptr;
    const QString source = type == ColumnType::Text ? QStringLiteral("?1 COLLATE ") + QLatin1String(kNoCaseCollation)
                                                    : QStringLiteral("?1");
    QString sql = QStringLiteral("SELECT %1 FROM (SELECT %2 AS %3)")
                      .arg(expression, source, quotedName(QString::fromStdString(table.columnNames()[column])));
    if (!read.table.isEmpty()) sql += QStringLiteral(" AS ") + read.table;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &s.stmt, nullptr) != SQLITE_OK || !s.stmt) return nullptr;
    return &codes;
}

// Works out the value of one code; false where SQLite gives an error. A
// cancel stops it: an interrupted step, or the flag between steps.
bool step(sqlite3_stmt* stmt, const std::atomic<bool>* stop) {
    if (stop && stop->load(std::memory_order_relaxed)) throw Cancelled{};
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_INTERRUPT) throw Cancelled{};
    return rc == SQLITE_ROW;
}

}  // namespace

std::optional<std::vector<uint8_t>> deriveTruths(sqlite3* db, const QString& condition, const CsvTable& table,
                                                 const ReadColumn& read, const std::atomic<bool>* stop) {
    Statement s;
    const size_t column = read.column;
    const CsvTable::ValueCodes* codes =
        prepareOverColumn(db, QStringLiteral("CASE WHEN (%1) THEN 1 WHEN NOT (%1) THEN 0 ELSE 2 END").arg(condition), table,
                          read, s, stop);
    if (!codes) return std::nullopt;
    std::vector<uint8_t> out(codes->width);
    for (size_t code = 0; code < out.size(); ++code) {
        if (!bindCell(s.stmt, table, column, codes->cellOfCode[code]) || !step(s.stmt, stop)) return std::nullopt;
        out[code] = uint8_t(sqlite3_column_int(s.stmt, 0));
        sqlite3_reset(s.stmt);
        sqlite3_clear_bindings(s.stmt);
    }
    return out;
}

std::optional<DerivedKey> deriveKeys(sqlite3* db, const QString& expression, const CsvTable& table, const ReadColumn& read,
                                     bool noCase, const std::atomic<bool>* stop) {
    Statement s;
    const size_t column = read.column;
    const CsvTable::ValueCodes* found = prepareOverColumn(db, expression, table, read, s, stop);
    if (!found) return std::nullopt;
    const CsvTable::ValueCodes& codes = *found;

    const size_t width = codes.width;
    auto texts = std::make_shared<std::vector<std::string>>(width);
    std::vector<PathValue> values(width);
    for (size_t code = 0; code < width; ++code) {
        if (!bindCell(s.stmt, table, column, codes.cellOfCode[code]) || !step(s.stmt, stop)) return std::nullopt;
        switch (sqlite3_column_type(s.stmt, 0)) {
        case SQLITE_NULL: break;
        case SQLITE_INTEGER: values[code] = PathValue::ofInteger(sqlite3_column_int64(s.stmt, 0)); break;
        case SQLITE_FLOAT: values[code] = PathValue::ofReal(sqlite3_column_double(s.stmt, 0)); break;
        case SQLITE_TEXT: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s.stmt, 0));
            (*texts)[code].assign(text, size_t(sqlite3_column_bytes(s.stmt, 0)));
            values[code] = PathValue::ofText((*texts)[code]);
            break;
        }
        default: return std::nullopt;
        }
        sqlite3_reset(s.stmt);
        sqlite3_clear_bindings(s.stmt);
    }

    // The keys in SQLite's order, each once; codes of one key share its rank.
    std::vector<uint32_t> byKey(width);
    std::iota(byKey.begin(), byKey.end(), 0u);
    std::stable_sort(byKey.begin(), byKey.end(),
                     [&](uint32_t a, uint32_t b) { return orderOf(values[a], values[b], noCase) < 0; });
    DerivedKey out;
    out.texts = texts;
    out.noCase = noCase;
    out.keyOfCode.resize(width);
    for (size_t i = 0; i < width; ++i) {
        const PathValue& v = values[byKey[i]];
        if (out.keys.empty() || orderOf(out.keys.back(), v, noCase) != 0) out.keys.push_back(v);
        else if (!same(out.keys.back(), v)) return std::nullopt;
        out.keyOfCode[byKey[i]] = uint32_t(out.keys.size() - 1);
    }
    return out;
}

}  // namespace tarlo
