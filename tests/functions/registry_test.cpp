// The function tables: every name registered once, every internal call of
// the SQL writer backed by a row, and rows called through SQLite as listed.
#include "dialect/internal_names.h"
#include "functions/registry.h"

#include <QString>
#include <gtest/gtest.h>

#include <set>

namespace {

std::vector<const tarlo::FunctionDef*> allRows() {
    std::vector<const tarlo::FunctionDef*> rows;
    for (const auto table : {tarlo::arithmeticFunctions(), tarlo::textFunctions(), tarlo::dateFunctions(),
                             tarlo::aggregateFunctions()})
        for (const tarlo::FunctionDef& def : table) rows.push_back(&def);
    return rows;
}

QString evaluate(sqlite3* db, const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) return QString::fromUtf8(sqlite3_errmsg(db));
    QString out;
    if (sqlite3_step(stmt) == SQLITE_ROW)
        out = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    else
        out = QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(stmt);
    return out;
}

}  // namespace

TEST(FunctionTable, EveryNameOnceAndEveryInternalCallBacked) {
    std::set<std::pair<QString, int>> seen;
    for (const tarlo::FunctionDef* def : allRows()) {
        EXPECT_TRUE(seen.insert({QString::fromLatin1(def->name).toLower(), def->arity}).second) << def->name;
        EXPECT_NE(def->call, nullptr) << def->name;
    }
    for (const char* internal : {tarlo::call::kAdd, tarlo::call::kSubtract, tarlo::call::kDivide, tarlo::call::kIntDivide,
                                 tarlo::call::kMod, tarlo::call::kPower, tarlo::call::kConcat, tarlo::call::kXor,
                                 tarlo::call::kEqv, tarlo::call::kImp, tarlo::call::kLeft, tarlo::call::kRight,
                                 tarlo::call::kIsNull}) {
        bool found = false;
        for (const tarlo::FunctionDef* def : allRows()) found = found || QLatin1String(def->name) == QLatin1String(internal);
        EXPECT_TRUE(found) << internal;
        EXPECT_FALSE(tarlo::call::writtenAs(QString::fromLatin1(internal)).startsWith(QLatin1String("tarlo_"))) << internal;
    }
}

TEST(FunctionTable, RowsAreCalledWithTheirFlagsAndMessagesUseTheWrittenName) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    tarlo::registerFunctions(db);
    EXPECT_EQ(evaluate(db, "SELECT CInt(2.5) || ',' || CInt(3.5) || ',' || Sgn(-4) || ',' || Year('2024/05/06')"),
              QStringLiteral("2,4,-1,2024"));
    EXPECT_EQ(evaluate(db, "SELECT coalesce(Year(NULL), 'null')"), QStringLiteral("null"));  // a null first argument
    EXPECT_EQ(evaluate(db, "SELECT tarlo_isnull(NULL)"), QStringLiteral("-1"));              // handles its nulls
    EXPECT_EQ(evaluate(db, "SELECT CInt(40000)"), QStringLiteral("error: CInt の値 40000 が範囲を超えました (オーバーフロー)"));
    EXPECT_EQ(evaluate(db, "SELECT tarlo_xor(1, 'x')"), QStringLiteral("error: 演算子 \"Xor\" の両辺の型が一致しません"));
    EXPECT_EQ(evaluate(db, "SELECT StDev(x) FROM (SELECT 1 AS x UNION ALL SELECT 'a')"),
              QStringLiteral("error: StDev の引数の型が一致しません"));
    sqlite3_close(db);
}

TEST(InternalNames, EveryInternalNameInATextBecomesTheUsersWord) {
    EXPECT_EQ(tarlo::call::withWrittenNames(QStringLiteral("near \"tarlo_add\": syntax error")),
              QStringLiteral("near \"+\": syntax error"));
    EXPECT_EQ(tarlo::call::withWrittenNames(QStringLiteral("wrong number of arguments to function TARLO_LEFT()")),
              QStringLiteral("wrong number of arguments to function Left()"));
    EXPECT_EQ(tarlo::call::withWrittenNames(QStringLiteral("no such column: tarlo_other")),
              QStringLiteral("no such column: tarlo_other"));
    // The binder's own calls read as words of ours, in the text's own characters.
    EXPECT_EQ(tarlo::call::withWrittenNames(QStringLiteral("wrong number of arguments to function tarlo_compare()")),
              QStringLiteral("wrong number of arguments to function 比較()"));
    EXPECT_EQ(tarlo::call::writtenAs(QStringLiteral("tarlo_date")), QStringLiteral("日付"));
    // Whole words only, each one found, the text between kept.
    EXPECT_EQ(tarlo::call::withWrittenNames(QStringLiteral("tarlo_mod(x_tarlo_add, tarlo_add2) tarlo_concat")),
              QStringLiteral("Mod(x_tarlo_add, tarlo_add2) &"));
}
