// The function catalogue is the only list: every body is reached through a
// row, every row of ours has a body, and the binder reads its kinds from it.
#include "dialect/binder.h"
#include "support/bound_sql.h"
#include "dialect/sql_lexer.h"
#include "functions/catalogue.h"
#include "functions/registry.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <gtest/gtest.h>

namespace {

using tarlo::Body;

bool hasBody(const tarlo::FunctionRow& row) {
    for (const auto table : tarlo::functionTables())
        for (const tarlo::FunctionDef& def : table)
            if (tarlo::catalogueRow(def.name) == &row) return true;
    return false;
}

TEST(Catalogue, RowsAndBodiesMatchOneToOne) {
    QSet<QString> names;
    for (const tarlo::FunctionRow& row : tarlo::functionCatalogue()) {
        EXPECT_FALSE(names.contains(QString::fromLatin1(row.name).toLower())) << row.name << " has two rows";
        names.insert(QString::fromLatin1(row.name).toLower());
        EXPECT_TRUE(row.most < 0 || row.least <= row.most) << row.name;
        const bool ours = row.body == Body::Ours || row.body == Body::SqliteAndOurs;
        EXPECT_EQ(hasBody(row), ours) << row.name;
        EXPECT_EQ(tarlo::isCallableFunction(row.name), row.body != Body::Translated) << row.name;
    }
    // A body without a row would be registered nowhere.
    for (const auto table : tarlo::functionTables())
        for (const tarlo::FunctionDef& def : table) EXPECT_NE(tarlo::catalogueRow(def.name), nullptr) << def.name;
    for (const char* internal : {tarlo::call::kNumberOf, tarlo::call::kDateOf, tarlo::call::kCompare, tarlo::call::kLeft})
        EXPECT_TRUE(tarlo::isCallableFunction(internal)) << internal;
    for (const char* refused : {"json_extract", "randomblob", "unixepoch", "likelihood", "iif", "load_extension"})
        EXPECT_FALSE(tarlo::isCallableFunction(refused)) << refused;
}

// Every name the scripts call before "(" has a row (SQL's own words aside).
TEST(Catalogue, EveryFunctionTheScriptsCallHasARow) {
    const QSet<QString> sqlWords = {"in", "exists", "over", "as", "from", "join", "values", "cast", "on", "and", "or",
                                    "not", "where", "select", "using", "with", "then", "else", "when", "by", "filter",
                                    "transform", "pivot", "union", "all", "is", "between", "having", "escape"};
    const QDir dir(QStringLiteral(TARLO_SQL_TESTS_DIR));
    int calls = 0;
    for (const QString& name : dir.entryList({QStringLiteral("*.test")})) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        // The statements of the "query" blocks (an "error" block may call a name on purpose).
        QString statements;
        bool inQuery = false;
        for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
            if (line.trimmed() == QLatin1String("====")) inQuery = false;
            if (inQuery) statements += line + QLatin1Char('\n');
            if (line.trimmed() == QLatin1String("query")) inQuery = true;
        }
        const std::vector<tarlo::Token> tokens = tarlo::tokenize(statements);
        for (size_t i = 0; i + 1 < tokens.size(); ++i) {
            if (tokens[i].kind != tarlo::TokenKind::Word || tokens[i + 1].text != QLatin1String("(")) continue;
            const char* keyword = tarlo::call::calledAs(tokens[i].text);  // Left( is tarlo_left(
            const QString word = keyword ? QString::fromLatin1(keyword) : tokens[i].text;
            if (sqlWords.contains(word.toLower()) || word.contains(QLatin1Char('#'))) continue;
            ++calls;
            EXPECT_NE(tarlo::functionRow(word), nullptr) << name.toStdString() << ": " << word.toStdString();
        }
    }
    EXPECT_GT(calls, 100);
}

QString bound(const QString& sql) {
    tarlo::Catalog catalog;
    catalog.tables.push_back({QStringLiteral("t"),
                              {{QStringLiteral("d"), tarlo::ValueKind::Date}, {QStringLiteral("s"), tarlo::ValueKind::Text}}});
    catalog.function = tarlo::functionFacts;
    return tarlo::testing::boundSql(sql, catalog);
}

// A literal compared with a date is read as a date where the binder knows
// the kind; a time is compared as the date read from it; a kind only the run
// knows is compared by tarlo_compare.
TEST(Catalogue, ResultKindsReachTheBinder) {
    for (const char* call : {"First(d)", "Last(d)", "Nz(d, d)", "Max(d)"})
        EXPECT_TRUE(bound(QStringLiteral("SELECT %1 = '2024-1-5' FROM t").arg(QLatin1String(call))).contains("'2024/01/05'"))
            << call;
    for (const char* call : {"TimeValue(s)", "TimeSerial(1, 2, 3)", "Time()", "CDate(s)", "First(TimeValue(s))"}) {
        const QString sql = bound(QStringLiteral("SELECT %1 = '12:30:00' FROM t").arg(QLatin1String(call)));
        EXPECT_TRUE(sql.contains(QStringLiteral("tarlo_date(%1").arg(QLatin1String(call))) && sql.contains("'1899/12/30 12:30:00'"))
            << call << ": " << sql.toStdString();
    }
    EXPECT_TRUE(bound(QStringLiteral("SELECT Nz(d, s) = '12:30:00' FROM t")).contains("tarlo_compare("));
}

}  // namespace
