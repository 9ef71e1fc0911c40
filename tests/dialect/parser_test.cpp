// The parser reads every statement the scripts run, keeps the old engine's
// precedence and each node's place in the user's text, and refuses what it
// does not read where it stands.
#include "dialect/parser.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace tarlo::syntax;
using tarlo::parseStatement;
using tarlo::SyntaxError;

// The tree as an S-expression, operators first: enough to see how it grouped.
std::string sexp(const SyntaxTree& t, NodeId id) {
    if (id == kNone) return "_";
    const Node& n = t.node(id);
    auto text = [&](int token) { return t.token(token).text.toStdString(); };
    auto all = [&](const std::vector<NodeId>& ids) {
        std::string out;
        for (NodeId c : ids) out += " " + sexp(t, c);
        return out;
    };
    switch (n.kind) {
    case NodeKind::Number:
    case NodeKind::String:
    case NodeKind::Date:
    case NodeKind::Truth:
    case NodeKind::Null: return text(n.token);
    case NodeKind::Name: return (n.qualifier >= 0 ? text(n.qualifier) + "." : "") + text(n.token);
    case NodeKind::Star: return (n.qualifier >= 0 ? text(n.qualifier) + "." : "") + "*";
    case NodeKind::Unary: return "(" + text(n.token) + " " + sexp(t, n.left) + ")";
    case NodeKind::Chain: {
        std::string out = "(" + text(n.ops[0]) + " " + sexp(t, n.list[0]);
        for (size_t i = 1; i < n.list.size(); ++i)
            out += (i > 1 ? " " + text(n.ops[i - 1]) + " " : " ") + sexp(t, n.list[i]);
        return out + ")";
    }
    case NodeKind::Between: return std::string("(") + (n.negated ? "not-" : "") + "between " + sexp(t, n.left) + all(n.list) + ")";
    case NodeKind::In: return std::string("(") + (n.negated ? "not-" : "") + "in " + sexp(t, n.left) + all(n.list) + (n.query >= 0 ? " query" : "") + ")";
    case NodeKind::Like: return std::string("(") + (n.negated ? "not-" : "") + text(n.token) + " " + sexp(t, n.left) + " " + sexp(t, n.right) + ")";
    case NodeKind::Is: return std::string("(is") + (n.negated ? "-not " : " ") + sexp(t, n.left) + " " + sexp(t, n.right) + ")";
    case NodeKind::NullTest: return std::string("(") + (n.negated ? "notnull " : "isnull ") + sexp(t, n.left) + ")";
    case NodeKind::Call: return text(n.token) + "(" + (n.star ? "*" : "") + (n.distinct ? "distinct" : "") + all(n.list) + (n.window >= 0 ? " over" : "") + ")";
    case NodeKind::Case: return "(case " + sexp(t, n.left) + all(n.list) + " else " + sexp(t, n.right) + ")";
    case NodeKind::Cast: return "(cast " + sexp(t, n.left) + ")";
    case NodeKind::Collate: return "(collate " + sexp(t, n.left) + " " + text(n.token) + ")";
    case NodeKind::Group: return "[" + sexp(t, n.list[0]) + "]";
    case NodeKind::Row: return "(row" + all(n.list) + ")";
    case NodeKind::Subquery: return "(subquery)";
    case NodeKind::Exists: return "(exists)";
    }
    return "?";
}

const SelectCore& firstCore(const SyntaxTree& t) {
    return t.queries[size_t(t.root)].cores[0];
}

std::string firstItem(const QString& sql) {
    const SyntaxTree t = parseStatement(sql);
    return sexp(t, firstCore(t).items[0].expr);
}

QString spanText(const QString& sql, tarlo::Span s) {
    return sql.mid(s.offset, s.length);
}

TEST(Parser, KeepsTheOldEnginesPrecedence) {
    const std::pair<const char*, const char*> cases[] = {
        {"SELECT -2 ^ 2", "(- (^ 2 2))"},
        {"SELECT 2 ^ -1 ^ 2", "(^ 2 (- (^ 1 2)))"},
        {"SELECT a Mod b * c", "(Mod a (* b c))"},
        {"SELECT a \\ b Mod c", "(Mod (\\ a b) c)"},
        {"SELECT a + b * c - d", "(+ a (* b c) - d)"},
        {"SELECT a & b + c = d", "(= (& a (+ b c)) d)"},
        {"SELECT NOT a = b AND c Or d Xor e Eqv f Imp g",
         "(Imp (Eqv (Xor (Or (AND (NOT (= a b)) c) d) e) f) g)"},
        {"SELECT x NOT BETWEEN 1 AND 2 OR y", "(OR (not-between x 1 2) y)"},
        {"SELECT x BETWEEN a + 1 AND b & 'c' AND z", "(AND (between x (+ a 1) (& b 'c')) z)"},
        {"SELECT a NOT LIKE 'x%' AND b IS NOT NULL", "(AND (not-LIKE a 'x%') (is-not b NULL))"},
        {"SELECT a NOT IN (1, 2) OR b IN (SELECT c FROM t)", "(OR (not-in a 1 2) (in b query))"},
        {"SELECT -(a > 3)", "(- [(> a 3)])"},
        {"SELECT a NOT NULL, b", "(notnull a)"},
        {"SELECT Left(s, 2) & Right(s, 1) & IsNull(s)", "(& Left( s 2) Right( s 1) & IsNull( s))"},
        {"SELECT IIf(a = 1, \"one\", #2024/01/31#)", "IIf( (= a 1) \"one\" #2024/01/31#)"},
        {"SELECT CASE x WHEN 1 THEN 'a' ELSE 'b' END", "(case x 1 'a' else 'b')"},
        {"SELECT Count(DISTINCT t.a), Count(*)", "Count(distinct t.a)"},
        {"SELECT Sum(v) OVER (PARTITION BY g ORDER BY d ROWS BETWEEN 2 PRECEDING AND CURRENT ROW)", "Sum( v over)"},
        {"SELECT a COLLATE NOCASE = b", "(= (collate a NOCASE) b)"},
        {"SELECT CAST(a AS INTEGER) + 1", "(+ (cast a) 1)"},
        {"SELECT True = -1", "(= True (- 1))"},
        {"SELECT range + top * rows", "(+ range (* top rows))"},
    };
    for (const auto& [sql, expected] : cases) EXPECT_EQ(firstItem(QString::fromUtf8(sql)), expected) << sql;
}

// A chain of one operator is one node however long, and a deep nest is
// refused before the stack is at risk.
TEST(Parser, LongChainsAreFlatAndDeepNestsAreRefused) {
    QString sum = QStringLiteral("SELECT 1");
    for (int i = 0; i < 5000; ++i) sum += QStringLiteral(" + 1");
    const SyntaxTree t = parseStatement(sum);
    const Node& chain = t.node(firstCore(t).items[0].expr);
    EXPECT_EQ(chain.kind, NodeKind::Chain);
    EXPECT_EQ(chain.list.size(), 5001u);

    for (const char* open : {"(", "-", "NOT ", "Abs("}) {
        QString deep = QStringLiteral("SELECT ");
        for (int i = 0; i < 2000; ++i) deep += QLatin1String(open);
        deep += QStringLiteral("1");
        EXPECT_THROW(parseStatement(deep), tarlo::PlacedError) << open;
    }
}

TEST(Parser, ReadsTheQueryShapes) {
    {
        const QString sql = QStringLiteral("SELECT ALL TOP 2 PERCENT v AS x, w y, t.* FROM t#csv AS t ORDER BY 1 DESC");
        const SyntaxTree t = parseStatement(sql);
        const SelectCore& c = firstCore(t);
        EXPECT_EQ(t.token(c.quantifier).text, QStringLiteral("ALL"));
        EXPECT_EQ(t.token(c.top).text, QStringLiteral("2"));
        EXPECT_TRUE(c.topPercent);
        ASSERT_EQ(c.items.size(), 3u);
        EXPECT_EQ(t.token(c.items[0].alias).text, QStringLiteral("x"));
        EXPECT_EQ(t.token(c.items[1].alias).text, QStringLiteral("y"));
        EXPECT_EQ(sexp(t, c.items[2].expr), "t.*");
        EXPECT_EQ(t.token(t.froms[size_t(c.from)].first.alias).text, QStringLiteral("t"));
        EXPECT_TRUE(t.queries[size_t(t.root)].order[0].descending);
    }
    {
        // The old engine's bracketed joins: a group on the left, another on a join's right.
        const QString sql = QStringLiteral(
            "SELECT s.a FROM (s#csv AS s INNER JOIN m#csv ON s.k = m.k) LEFT JOIN (p#csv INNER JOIN q#csv ON p.x = q.x) "
            "ON s.p = p.p");
        const SyntaxTree t = parseStatement(sql);
        const FromClause& f = t.froms[size_t(firstCore(t).from)];
        ASSERT_EQ(f.first.kind, FromItem::Kind::Group);
        const FromClause& left = t.froms[size_t(f.first.group)];
        EXPECT_EQ(spanText(sql, left.first.span), QStringLiteral("s#csv AS s"));
        EXPECT_EQ(sexp(t, left.joins[0].on), "(= s.k m.k)");
        ASSERT_EQ(f.joins.size(), 1u);
        EXPECT_EQ(f.joins[0].kind, Join::Kind::Left);
        EXPECT_EQ(f.joins[0].item.kind, FromItem::Kind::Group);
        EXPECT_EQ(sexp(t, f.joins[0].on), "(= s.p p.p)");
    }
    {
        const QString sql = QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3) "
            "SELECT i FROM n UNION SELECT 9 EXCEPT SELECT 2 ORDER BY 1 LIMIT 2 OFFSET 1;  -- done");
        const SyntaxTree t = parseStatement(sql);
        const Query& q = t.queries[size_t(t.root)];
        EXPECT_TRUE(q.recursive);
        ASSERT_EQ(q.with.size(), 1u);
        EXPECT_EQ(t.queries[size_t(q.with[0].query)].compoundAll, std::vector<bool>{true});
        EXPECT_EQ(q.cores.size(), 3u);
        EXPECT_NE(q.offset, kNone);
        EXPECT_EQ(t.end, sql.indexOf(QLatin1Char(';')));
    }
    {
        const QString sql = QStringLiteral(
            "TRANSFORM Sum(v) AS total SELECT g FROM t#csv GROUP BY g PIVOT Format(d, 'yyyy') IN ('2023', '2024')");
        const SyntaxTree t = parseStatement(sql);
        ASSERT_TRUE(t.transform);
        EXPECT_EQ(sexp(t, t.transform->value), "Sum( v)");
        EXPECT_EQ(sexp(t, t.transform->pivot), "Format( d 'yyyy')");
        EXPECT_EQ(t.transform->list.size(), 2u);
        EXPECT_EQ(firstCore(t).groupBy.size(), 1u);
    }
    {
        // A file name with blanks runs to the statement's end, when the folder has it.
        tarlo::ParseOptions options;
        options.isTableFile = [](const QString& name) { return name == QLatin1String("my data.csv"); };
        const QString sql = QStringLiteral("SELECT * FROM my data.csv ;");
        const SyntaxTree t = parseStatement(sql, options);
        EXPECT_EQ(spanText(sql, t.froms[0].first.span), QStringLiteral("my data.csv"));
        EXPECT_THROW(parseStatement(sql), SyntaxError);
    }
}

// Every node's span is exactly its text, however it nests.
TEST(Parser, EveryNodeKeepsItsPlace) {
    const QString sql = QStringLiteral("SELECT id,\r\n  IIf(a = 1, Left(「名前」, 2), b & 'x') AS f\r\nFROM [t.csv] WHERE x BETWEEN 1 AND 2");
    const SyntaxTree t = parseStatement(sql);
    QStringList spans;
    for (const Node& n : t.nodes)
        if (n.kind == NodeKind::Call || n.kind == NodeKind::Chain || n.kind == NodeKind::Between) spans << spanText(sql, n.span);
    EXPECT_EQ(spans, (QStringList{QStringLiteral("a = 1"), QStringLiteral("Left(「名前」, 2)"), QStringLiteral("b & 'x'"),
                                  QStringLiteral("IIf(a = 1, Left(「名前」, 2), b & 'x')"), QStringLiteral("x BETWEEN 1 AND 2")}));
    EXPECT_EQ(spanText(sql, firstCore(t).items[1].span), QStringLiteral("IIf(a = 1, Left(「名前」, 2), b & 'x') AS f"));
}

TEST(Parser, RefusesWhatItDoesNotReadWhereItStands) {
    struct Case {
        const char* sql;
        const char* at;  // the text from the fault on; empty: the statement's end
    };
    const Case cases[] = {
        {"SELECT a,, b FROM t", ", b FROM t"},
        {"SELECT * FORM data#csv", "FORM data#csv"},
        {"SELECT a FROM t WHERE", ""},
        {"SELECT (a + 1 FROM t", "(a + 1 FROM t"},
        {"SELECT Len(a b) FROM t", "b) FROM t"},
        {"SELECT ? FROM t", "? FROM t"},
        {"SELECT a FROM t WHERE b = = 1", "= 1"},
        {"SELECT a FROM t INDEXED BY i", "BY i"},
        {"SELECT a -> 'x' FROM t", "-> 'x' FROM t"},
        {"SELECT a * FROM t", "* FROM t"},
        {"SELECT - FROM t", "- FROM t"},
        {"SELECT TOP x a FROM t", "TOP x a FROM t"},
        {"SELECT x FROM t WHERE a IN t2", "t2"},
        {"TRANSFORM Sum(v) SELECT g FROM t GROUP BY g, h x", "x"},
    };
    for (const Case& c : cases) {
        const QString sql = QString::fromUtf8(c.sql);
        try {
            parseStatement(sql);
            ADD_FAILURE() << c.sql << " was read";
        } catch (const tarlo::PlacedError& e) {
            EXPECT_EQ(sql.mid(e.at().offset), QString::fromUtf8(c.at)) << c.sql;
            if (const auto* syntax = dynamic_cast<const SyntaxError*>(&e)) {
                EXPECT_EQ(syntax->atEnd(), *c.at == 0) << c.sql;
            }
        }
    }
    EXPECT_THROW(parseStatement(QStringLiteral("SELECT 1; SELECT 2")), tarlo::Error);
}

// Every statement the scripts run reads, except those written to fail.
TEST(Parser, ReadsEveryScriptStatement) {
    const QDir dir(QStringLiteral(TARLO_SQL_TESTS_DIR));
    int read = 0;
    for (const QString& name : dir.entryList({QStringLiteral("*.test")})) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        QString kind, body;
        bool expected = false;
        for (const QString& raw : lines) {
            const QString line = QString(raw).remove(QLatin1Char('\r'));
            if (kind.isEmpty()) {
                if (!line.isEmpty() && !line.startsWith(QLatin1Char('#'))) kind = line.section(QLatin1Char(' '), 0, 0);
            } else if (line == QLatin1String("----")) {
                if (kind == QLatin1String("query")) {
                    EXPECT_NO_THROW(parseStatement(body)) << name.toStdString() << ": " << body.toStdString();
                    ++read;
                }
                kind.clear(), body.clear(), expected = false;
            } else if (line == QLatin1String("====")) {
                expected = true;
            } else if (!expected) {
                body += line + QLatin1Char('\n');
            }
        }
        if (kind == QLatin1String("query")) {  // the last block, without its "----"
            EXPECT_NO_THROW(parseStatement(body)) << name.toStdString() << ": " << body.toStdString();
            ++read;
        }
    }
    EXPECT_GT(read, 100);
}

}  // namespace
