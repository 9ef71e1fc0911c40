#include "platform/error.h"
#include "dialect/sql_lexer.h"
#include "dialect/sql_quote.h"
#include "dialect/token_edit.h"
#include "dialect/parser.h"
#include "dialect/sql_writer.h"

#include <gtest/gtest.h>

namespace {

// What SQLite reads for a statement of the old engine.
QString translateJetSql(const QString& sql) {
    return tarlo::writeSqlite(tarlo::parseStatement(sql)).text();
}

// The rewrites work on tokens: literals, comments and table names stay as
// written, and operands are found with the old engine's precedence.
TEST(JetDialect, RewritesTokensWithTheOldPrecedence) {
    const std::pair<const char*, const char*> cases[] = {
        {"SELECT 'a & b' & \"c - d\" -- x & y", "SELECT tarlo_concat('a & b' , 'c - d') -- x & y"},
        {"SELECT /* a & b */ 1", "SELECT /* a & b */ 1"},
        {"SELECT a FROM [data-2024.csv] WHERE b - 1 > 0", "SELECT a FROM [data-2024.csv] WHERE tarlo_sub(b , 1) > 0"},
        {"SELECT -x ^ 2, a Mod b * c, a * b Mod c", "SELECT -tarlo_pow(x , 2), tarlo_mod(a , tarlo_mul(b , c)), tarlo_mod(tarlo_mul(a , b) , c)"},
        {"SELECT 2 ^ -1, x = y & z", "SELECT tarlo_pow(2 , -1), x = tarlo_concat(y , z)"},
        {"SELECT a NOT LIKE 'x' Xor b IS NOT NULL", "SELECT tarlo_xor(a NOT LIKE 'x' , b IS NOT NULL)"},
        {"SELECT t.a + [b#csv].c FROM t", "SELECT tarlo_add(t.a , [b#csv].c) FROM t"},
        {"SELECT IIf(a, IIf(b, 1, 2), 3) + 1",
         "SELECT tarlo_add((CASE WHEN (a) AND (b) THEN  1 WHEN a THEN  2 ELSE  3 END) , 1)"},
        {"SELECT Len(a & b) - 1", "SELECT tarlo_sub(Len(tarlo_concat(a , b)) , 1)"},
        {"SELECT sum(x) OVER (ORDER BY y) / 2", "SELECT tarlo_div(sum(x) OVER (ORDER BY y) , 2)"},
        {"SELECT DISTINCTROW a FROM t WHERE b = True", "SELECT DISTINCT a FROM t WHERE b = -1"},
    };
    for (const auto& [written, rewritten] : cases) EXPECT_EQ(translateJetSql(written).toStdString(), rewritten) << written;
}

TEST(JetDialect, RefusesWhatItCannotRead) {
    for (const char* sql : {"SELECT 1 &", "SELECT * 2 \\", "SELECT IIf(a, b)", "SELECT TOP x a FROM t", "SELECT #2024/13/01#"}) {
        EXPECT_THROW(translateJetSql(sql), tarlo::Error) << sql;
    }
}

// Date literals: year first or month first, with an optional time; the
// written spelling is read whole or refused.
TEST(JetDialect, DateLiteralsInTheirWrittenForms) {
    const std::pair<const char*, const char*> cases[] = {
        {"SELECT #2024/01/31#", "SELECT '2024/01/31'"},
        {"SELECT #2024-1-5 7:05#", "SELECT '2024/01/05 07:05:00'"},
        {"SELECT # 1/31/2024 23:59:58 #", "SELECT '2024/01/31 23:59:58'"},
    };
    for (const auto& [written, rewritten] : cases) EXPECT_EQ(translateJetSql(written).toStdString(), rewritten) << written;
    for (const char* sql : {"SELECT #202/01/31#", "SELECT #2024/001/31#", "SELECT #1/31/24#", "SELECT #2024/1/311#",
                            "SELECT #2024/1/1 7#", "SELECT #2024/1/1 7:5#", "SELECT #2024/1/1 07:05:#",
                            "SELECT #2024/1/1 07:05:00x#", "SELECT #2024/1/1T07:05#", "SELECT #2/30/2024#",
                            "SELECT #2024/1/1 24:00#", "SELECT #１/1/2024#"})
        EXPECT_THROW(translateJetSql(sql), tarlo::Error) << sql;
}

// Each TOP copies its SELECT's body, so nesting doubles the text per level.
TEST(JetDialect, NestedTopsThatWouldDoubleThemselvesAreRefusedQuickly) {
    QString sql = "t.csv";
    for (int depth = 0; depth < 30; ++depth) sql = QString("(SELECT TOP 1 a FROM %1 ORDER BY a)").arg(sql);
    sql = "SELECT * FROM " + sql;
    try {
        translateJetSql(sql);
        FAIL() << "translated";
    } catch (const tarlo::Error& e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("文が複雑すぎます"))) << e.what();
    }
    QString three = "t.csv";
    for (int depth = 0; depth < 3; ++depth) three = QString("(SELECT TOP 1 a FROM %1 ORDER BY a)").arg(three);
    EXPECT_NO_THROW(translateJetSql("SELECT * FROM " + three));
}

}  // namespace

TEST(SqlQuote, DoublesTheQuoteItUses) {
    EXPECT_EQ(tarlo::quotedString(QStringLiteral("it's \"x\"")), QStringLiteral("'it''s \"x\"'"));
    EXPECT_EQ(tarlo::quotedName(QStringLiteral("a \"b\" 'c'")), QStringLiteral("\"a \"\"b\"\" 'c'\""));
    EXPECT_EQ(tarlo::quotedString(QString()), QStringLiteral("''"));
    // A statement's text ends at a NUL, so a value holding one is spelled by its bytes.
    EXPECT_EQ(tarlo::quotedString(QString::fromUtf8("a\0b", 3)), QStringLiteral("CAST(X'610062' AS TEXT)"));
}

// The one-pass bracket map answers as the scan it replaces, unbalanced statements included.
TEST(TokenEdit, TheBracketMapAgreesWithTheScan) {
    for (const char* sql : {"SELECT (a + (b)) FROM t WHERE (c", "((((( x ) CASE WHEN a THEN (b END ) ) END",
                            ") ( ) ) CASE END END (", "SELECT CASE WHEN (a) THEN 1 ELSE (2) END, f(g(h())) FROM t"}) {
        const std::vector<tarlo::Token> tokens = tarlo::tokenize(QString::fromUtf8(sql));
        const tarlo::BracketMap map(tokens);
        for (size_t i = 0; i <= tokens.size(); ++i)
            EXPECT_EQ(map.closeOf(i), i < tokens.size() ? tarlo::matchingClose(tokens, i) : tokens.size()) << sql << " @" << i;
    }
}
