// A failing statement names the line and column of the user's text at fault,
// however much the dialect rewrote it before SQLite read it.
#include "dialect/sql_lexer.h"
#include "dialect/token_edit.h"
#include "engine/connection.h"
#include "functions/catalogue.h"
#include "platform/error.h"
#include "support/sql_script.h"
#include "support/temp_folder.h"

#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <iostream>
#include <optional>
#include <random>

namespace {

using tarlo::Token;
using tarlo::TokenKind;

// "L 行目 C 文字目" of an offset, lines broken at CR LF, CR or LF, the column
// counted in UTF-16 units from 1 (a Japanese character is one).
QString placeText(const QString& sql, qsizetype offset) {
    int line = 1;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < offset; ++i) {
        if (sql[i] != u'\r' && sql[i] != u'\n') continue;
        if (sql[i] == u'\r' && i + 1 < offset && sql[i + 1] == u'\n') ++i;
        ++line;
        lineStart = i + 1;
    }
    return QStringLiteral("%1 行目 %2 文字目").arg(line).arg(offset - lineStart + 1);
}

// The statement's failure, or nothing when it runs.
std::optional<tarlo::Error> failureOf(tarlo::Connection& c, const QString& sql) {
    try {
        auto result = c.execute(sql);
        while (!result->atEnd()) result->next();
    } catch (const tarlo::Error& e) {
        return e;
    }
    return std::nullopt;
}

struct Injection {
    QString sql;
    qsizetype at = -1;  // where the fault stands in sql; -1 when this statement offers no place for it
};

std::vector<Token> tokensOf(const QString& sql) {
    return tarlo::tokenize(sql);
}

template <typename Pick>
std::optional<size_t> pick(const std::vector<Token>& tokens, std::mt19937& random, Pick fits) {
    std::vector<size_t> candidates;
    for (size_t i = 0; i < tokens.size(); ++i)
        if (fits(i)) candidates.push_back(i);
    if (candidates.empty()) return std::nullopt;
    return candidates[std::uniform_int_distribution<size_t>(0, candidates.size() - 1)(random)];
}

// a,b becomes a,,b: the second comma is at fault.
Injection doubledComma(const QString& sql, std::mt19937& random) {
    const auto tokens = tokensOf(sql);
    const auto i = pick(tokens, random, [&](size_t k) { return tarlo::isSymbol(tokens[k], ","); });
    if (!i) return {};
    const qsizetype at = tokens[*i].start + 1;
    return {QString(sql).insert(at, QLatin1Char(',')), at};
}

// A column of the script's files renamed to one no file has. Qualified
// names (t.col) are left: there SQLite names the qualifier.
Injection unknownColumn(const QString& sql, const QSet<QString>& columns, std::mt19937& random) {
    const auto tokens = tokensOf(sql);
    const auto i = pick(tokens, random, [&](size_t k) {
        const Token& t = tokens[k];
        if (t.kind != TokenKind::Word && t.kind != TokenKind::Bracketed) return false;
        if (!columns.contains(tarlo::unquotedText(t).toCaseFolded())) return false;
        const size_t before = tarlo::previousSignificant(tokens, k), after = tarlo::nextSignificant(tokens, k + 1);
        if (before < tokens.size() && (tarlo::isKeyword(tokens[before], "AS") || tarlo::isSymbol(tokens[before], ".")))
            return false;
        return !(after < tokens.size() && (tarlo::isSymbol(tokens[after], "(") || tarlo::isSymbol(tokens[after], ".")));
    });
    if (!i) return {};
    const Token& t = tokens[*i];
    return {QString(sql).replace(t.start, t.text.size(), QStringLiteral("nosuch_col")), t.start};
}

// A "(" before a token outside every bracket, so it is the one left open.
Injection unclosedBracket(const QString& sql, std::mt19937& random) {
    const auto tokens = tokensOf(sql);
    std::vector<int> depth(tokens.size());
    for (size_t k = 0, d = 0; k < tokens.size(); ++k) {
        depth[k] = int(d);
        if (tarlo::isSymbol(tokens[k], "(")) ++d;
        else if (tarlo::isSymbol(tokens[k], ")") && d > 0) --d;
    }
    const auto i = pick(tokens, random, [&](size_t k) {
        return depth[k] == 0 && tarlo::isSignificant(tokens[k]) && !tarlo::isSymbol(tokens[k], ";") && k > 0;
    });
    if (!i) return {};
    return {QString(sql).insert(tokens[*i].start, QLatin1Char('(')), tokens[*i].start};
}

// More arguments than any function of a fixed count takes (one more could
// be an optional one): the call's name is at fault.
Injection extraArgument(const QString& sql, std::mt19937& random) {
    const auto tokens = tokensOf(sql);
    const auto i = pick(tokens, random, [&](size_t k) {
        const Token& t = tokens[k];
        if (t.kind != TokenKind::Word || tarlo::isKeyword(t, "IN") || tarlo::isKeyword(t, "OVER") ||
            tarlo::isKeyword(t, "FILTER") || tarlo::isKeyword(t, "AS") || tarlo::isKeyword(t, "EXISTS") ||
            tarlo::isKeyword(t, "JOIN") || tarlo::isKeyword(t, "FROM") || tarlo::isKeyword(t, "VALUES") ||
            tarlo::isKeyword(t, "CAST") || tarlo::isKeyword(t, "ON") || tarlo::isKeyword(t, "AND") ||
            tarlo::isKeyword(t, "OR") || tarlo::isKeyword(t, "NOT") || tarlo::isKeyword(t, "WHERE") ||
            tarlo::isKeyword(t, "SELECT") || tarlo::isKeyword(t, "PIVOT") || tarlo::isKeyword(t, "TRANSFORM"))
            return false;
        // A function of any count (Max, Coalesce) takes the arguments: no fault is injected.
        if (const tarlo::FunctionRow* row = tarlo::functionRow(t.text); row && row->most < 0) return false;
        const size_t open = tarlo::nextSignificant(tokens, k + 1);
        if (open != k + 1 || open >= tokens.size() || !tarlo::isSymbol(tokens[open], "(")) return false;
        const size_t close = tarlo::matchingClose(tokens, open);
        const size_t first = tarlo::nextSignificant(tokens, open + 1);
        return close < tokens.size() && !(first < close && tarlo::isSymbol(tokens[first], "*")) &&
               !(first < close && tarlo::isKeyword(tokens[first], "SELECT"));
    });
    if (!i) return {};
    const size_t open = *i + 1, close = tarlo::matchingClose(tokens, open);
    const bool none = tarlo::nextSignificant(tokens, open + 1) == close;
    return {QString(sql).insert(tokens[close].start, QString(none ? QStringLiteral("1") : QStringLiteral(", 1")) + QStringLiteral(", 1").repeated(7)),
                           tokens[*i].start};
}

// The first line's names of each file of a script.
void addColumns(QSet<QString>& columns, const QString& body) {
    const QString header = body.section(QStringLiteral("\r\n"), 0, 0);
    for (const QString& name : header.split(QRegularExpression(QStringLiteral("[,\t;|]"))))
        if (!name.trimmed().isEmpty()) columns.insert(name.trimmed().toCaseFolded());
}

}  // namespace

// Every statement of tests/sql, with one fault of each kind at a place drawn
// for it: the message names that place.
TEST(ErrorPlace, AnInjectedFaultIsNamedWhereItStands) {
    std::mt19937 random(20240531);
    int checked = 0;
    QStringList wrong;
    for (const std::string& script : scriptNames()) {
        TempFolder folder;
        tarlo::Connection connection;
        connection.open(folder.path());
        QSet<QString> columns;
        for (const ScriptBlock& b : parseScript(scriptText(script))) {
            if (b.kind == QLatin1String("file")) {
                folder.write(b.name, (b.body + QStringLiteral("\r\n")).toUtf8());
                addColumns(columns, b.body);
                continue;
            }
            if (b.kind != QLatin1String("query")) continue;
            const QString sql = b.body + QStringLiteral("\r\n");
            for (const Injection& injected : {doubledComma(sql, random), unknownColumn(sql, columns, random),
                                              unclosedBracket(sql, random), extraArgument(sql, random)}) {
                if (injected.at < 0) continue;
                const auto failure = failureOf(connection, injected.sql);
                if (!failure) continue;
                ++checked;
                const QString place = placeText(injected.sql, injected.at);
                if (!failure->message().contains(place))
                    wrong << QStringLiteral("%1.test:%2: %3\n    wanted %4, got: %5")
                                 .arg(QString::fromStdString(script))
                                 .arg(b.line)
                                 .arg(injected.sql.trimmed(), place, failure->message());
            }
        }
    }
    std::cout << "[          ] " << checked << " injected faults checked, " << checked - wrong.size()
              << " named where they stand\n";
    EXPECT_GE(checked, 250);
    EXPECT_TRUE(wrong.isEmpty()) << wrong.size() << " misplaced:\n" << wrong.join(QLatin1Char('\n')).toStdString();
}

namespace {

class Place : public ::testing::Test {
protected:
    void SetUp() override {
        folder.writeText("t.csv", "a,b,c\r\n1,x,2\r\n2,y,3\r\n");
        folder.writeText("u.csv", "a,d\r\n1,p\r\n");
        connection.open(folder.path());
    }

    // The failure's line and column, from its facts and as its message names them.
    void expectAt(const QString& sql, int line, int column) {
        const auto failure = failureOf(connection, sql);
        ASSERT_TRUE(failure) << sql.toStdString();
        if (failure->facts().file.isEmpty()) {  // else they are the file's
            EXPECT_EQ(failure->facts().line, line) << failure->message().toStdString();
            EXPECT_EQ(failure->facts().column, column) << failure->message().toStdString();
        }
        EXPECT_TRUE(failure->message().contains(QStringLiteral("%1 行目 %2 文字目").arg(line).arg(column)))
            << failure->message().toStdString();
    }

    TempFolder folder;
    tarlo::Connection connection;
};

}  // namespace

TEST_F(Place, TheStrayCommaAfterARewrittenIIf) {
    expectAt("SELECT IIf(a = 1, 1, 2), b FROM t#csv WHERE c IN (1,,2)", 1, 53);
}

// Lines end as the editor ends them (CR LF here); a column counts UTF-16
// units, so each Japanese character before the fault is one.
TEST_F(Place, LinesAfterCrLfAndColumnsAfterJapaneseText) {
    expectAt("SELECT a,\r\n       b\r\n  FROM t#csv WHERE nosuch = 1", 3, 20);
    expectAt("SELECT a,\r\n b\r\n\r\nFROM t#csv\r\nWHERE c IN (1,,2)", 5, 15);
    expectAt("SELECT '東京都' AS 都市, a FROM t#csv WHERE a IN (1,,2)", 1, 48);
    expectAt("SELECT '東京都',\n  Mid('あいう', 1, 2, 3)", 2, 3);
}

// Crosstabs and TOP are rewritten into several statements and copies of
// their parts: the place is still the user's.
TEST_F(Place, InsideACrosstabAndATopQuery) {
    expectAt("TRANSFORM Sum(a) SELECT b FROM t#csv GROUP BY b PIVOT c & nosuch", 1, 59);
    expectAt("TRANSFORM Sum(nosuch) SELECT b FROM t#csv GROUP BY b PIVOT c", 1, 15);
    expectAt("TRANSFORM Sum(a) SELECT b FROM t#csv GROUP BY b PIVOT c IN (1,, 2)", 1, 63);
    expectAt("SELECT TOP 2 a, b FROM t#csv ORDER BY b, nosuch DESC", 1, 42);
    expectAt("SELECT TOP 50 PERCENT a, Left(b) FROM t#csv ORDER BY a", 1, 26);
    expectAt("SELECT * FROM t#csv o WHERE a IN (SELECT TOP 1 i.a FROM t#csv i WHERE i.b = o.b ORDER BY i.nosuch)", 1, 90);
}

// SQLite (3.40) gives no place for a name it cannot resolve in an ON, nor
// for a call's argument count there; syntax and our own refusals have one.
TEST_F(Place, InAParenthesisedJoinsOn) {
    expectAt("SELECT x.a FROM (t#csv AS x INNER JOIN u#csv AS y ON x.a = y.a Mod) INNER JOIN t#csv AS z ON z.a = x.a", 1,
             64);
    expectAt("SELECT x.a FROM (t#csv AS x INNER JOIN u#csv AS y\r\n  ON x.a = y.a AND x.b IN ('p',, 'q'))", 2, 32);
}

// Our own refusals name their place as SQLite's do.
// A name no table of its query (or of the queries around it) has, and a
// function the catalogue has no row of, are named where they stand, inside
// a join's ON too, where SQLite names no place.
TEST_F(Place, UnknownNamesEvenInsideAJoin) {
    expectAt("SELECT t.a FROM t#csv AS t\r\nINNER JOIN u#csv AS u ON t.a = u.nope", 2, 32);
    expectAt("SELECT t.a FROM t#csv AS t INNER JOIN u#csv AS u ON t.a = z.a", 1, 59);
    expectAt("SELECT t.a FROM t#csv AS t INNER JOIN u#csv AS u ON t.a = NoSuch(u.a)", 1, 59);
    expectAt("SELECT t.a FROM t#csv AS t INNER JOIN u#csv AS u ON t.a = u.a WHERE typeof(t.a) = 1", 1, 69);
    expectAt("SELECT a FROM t#csv AS t WHERE EXISTS (SELECT 1 FROM u#csv AS u WHERE u.a = t.nope)", 1, 77);
    // The name a subquery lacks, not the outer names that then find no field of it.
    expectAt("SELECT Sum(a) FROM (SELECT nope, b FROM t#csv)", 1, 28);
    expectAt("WITH w AS (SELECT nope FROM t#csv) SELECT a FROM w", 1, 19);
    // A computed field is Expr1000, ... by its place, for a query around it too.
    expectAt("SELECT Expr1001 FROM (SELECT Count(*) FROM t#csv)", 1, 8);
}

TEST_F(Place, TheDialectsOwnRefusals) {
    expectAt("SELECT a FROM t#csv\r\nWHERE (a = 1 AND (b = 'x')", 2, 7);
    expectAt("SELECT a,\r\n  IIf(a = 1, 2) FROM t#csv", 2, 3);
    expectAt("SELECT a FROM t#csv WHERE a = #2024/02/30#", 1, 31);
    expectAt("SELECT a * FROM t#csv", 1, 10);
    expectAt("SELECT a FROM\r\n  nofile#csv", 2, 3);
}
