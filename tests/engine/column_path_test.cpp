// The column path against SQLite: every statement of tests/sql and a few
// hundred generated ones run on a connection with the path and one without,
// and must give the same field names, rows in the same order, and failures.
#include "engine/column_run.h"
#include "engine/connection.h"
#include "platform/error.h"
#include "support/sql_script.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include <QThread>

namespace {

struct Outcome {
    QStringList names;
    QString rows;
    QString error;
    bool onColumns = false;
};

Outcome runOn(tarlo::Connection& c, const QString& sql) {
    Outcome out;
    try {
        auto result = c.execute(sql);
        out.onColumns = result->fromColumns();
        for (int i = 0; i < result->fieldCount(); ++i) out.names << result->fieldName(i);
        out.rows = scriptRows(*result);
    } catch (const tarlo::Error& e) {
        out.error = e.message();
    }
    return out;
}

class BothPaths {
public:
    explicit BothPaths(const QString& folder) {
        columns_.open(folder);
        sqlite_.open(folder);
        sqlite_.setColumnPath(false);
    }
    // True when the column path answered.
    bool expectSame(const QString& sql, const std::string& where) {
        const Outcome a = runOn(columns_, sql), b = runOn(sqlite_, sql);
        EXPECT_EQ(a.error.toStdString(), b.error.toStdString()) << where << "\n" << sql.toStdString();
        EXPECT_EQ(a.names.join('|').toStdString(), b.names.join('|').toStdString()) << where << "\n" << sql.toStdString();
        EXPECT_EQ(a.rows.toStdString(), b.rows.toStdString()) << where << "\n" << sql.toStdString();
        EXPECT_FALSE(b.onColumns);
        return a.onColumns;
    }

private:
    tarlo::Connection columns_, sqlite_;
};

// Small tables take the ways of large ones: threads over rows or groups,
// rows sorted by group key, and results of many parts.
struct Tuning {
    explicit Tuning(int way) : saved(tarlo::columnPathTuning()) {
        auto& t = tarlo::columnPathTuning();
        if (way == 1) t = {.rowsForThreads = 1, .groupsForRowShares = 2, .denseKeys = saved.denseKeys, .rowsPerPart = 3};
        if (way == 2) t = {.rowsForThreads = 1, .groupsForRowShares = 1000000, .denseKeys = 0, .rowsPerPart = 1, .rowsPerRun = 3};
        // One run of every row: its keys differ in more bits than one pass sorts.
        if (way == 3) t = {.rowsForThreads = 1, .groupsForRowShares = 2, .denseKeys = 0, .rowsPerPart = 7, .rowsPerRun = size_t(1) << 30};
        // Threads over rows taken a block at a time.
        if (way == 4) t = {.rowsForThreads = 1, .groupsForRowShares = 1000000, .denseKeys = saved.denseKeys, .rowsPerPart = 5};
    }
    ~Tuning() { tarlo::columnPathTuning() = saved; }
    tarlo::ColumnPathTuning saved;
};

}  // namespace

TEST(ColumnPath, AgreesWithSqliteOnEveryScript) {
    for (const std::string& script : scriptNames()) {
        TempFolder folder;
        BothPaths both(folder.path());
        for (const ScriptBlock& b : parseScript(scriptText(script))) {
            if (b.kind == QLatin1String("file")) folder.write(b.name, (b.body + QStringLiteral("\r\n")).toUtf8());
            else both.expectSame(b.body + QStringLiteral("\r\n"), script + ".test:" + std::to_string(b.line));
        }
    }
}

namespace {

// A table with every kind the path reads: few-valued keys, texts in
// several scripts and widths, reals no binary fraction holds and reals
// hundreds of powers of ten apart, nulls in all but two columns, and
// integers whose total leaves 64 bits.
QByteArray generatedTable(std::mt19937& random, bool caseTwins) {
    const auto pick = [&](int n) { return int(random() % unsigned(n)); };
    const char* words[] = {"alpha", "Beta", "gamma", "デルタ", "ｅｐｓｉｌｏｎ", "zeta"};
    const char* twins[] = {"alpha", "ALPHA", "Beta", "beta"};
    QByteArray csv = "k,g,n,r,big,d,w,m,v\r\n";
    for (int i = 0; i < 400; ++i) {
        QByteArrayList f;
        f << (pick(8) ? QByteArray::number(pick(7)) : QByteArray());
        f << (pick(8) ? QByteArray(caseTwins ? twins[pick(4)] : words[pick(6)]) : QByteArray());
        f << (pick(8) ? QByteArray::number(pick(2001) - 1000) : QByteArray());
        f << (pick(8) ? QByteArray::number((pick(2001) - 1000) / 10.0, 'f', 1) : QByteArray());
        f << (pick(8) ? QByteArray::number(qint64(pick(2) ? 1 : -1) * (4000000000000000000LL + pick(1000))) : QByteArray());
        f << (pick(8) ? QByteArray("2024/0") + QByteArray::number(1 + pick(9)) + "/1" + QByteArray::number(pick(10)) : QByteArray());
        // Reals too far apart for any fixed point: only an exact sum keeps them.
        f << (pick(8) ? QByteArray::number((pick(2) ? 1 : -1) * (1 + pick(999)) / 7.0, 'g', 17) + "e" + QByteArray::number(pick(400) - 200)
                      : QByteArray());
        // And two with a value in every row, whose counts are their rows'.
        f << QByteArray::number(pick(201) - 100) << QByteArray::number((pick(2001) - 1000) / 8.0);
        csv += f.join(',') + "\r\n";
    }
    return csv;
}

class StatementMaker {
public:
    explicit StatementMaker(unsigned seed) : random_(seed) {}

    // The first rows of each partition by ROW_NUMBER, as the top-n idiom writes it.
    QString makeTop(const QString& table) {
        static const QStringList partitions = {"k", "g", "n"}, orders = {"n", "r", "w", "big"};
        const QString p = partitions[pick(3)], o = orders[pick(4)];
        QStringList outer = {p, o};
        if (pick(2)) outer << "rn";
        if (pick(4) == 0) outer << "d";  // a column ties could show: SQLite's alone
        std::shuffle(outer.begin(), outer.end(), random_);
        QString inner = "SELECT " + p + ", " + o + (outer.contains("d") ? ", d" : "") + ", row_number() OVER (PARTITION BY " + p +
                        " ORDER BY " + o + (pick(2) ? " DESC" : "") + ") AS rn FROM " + table;
        if (pick(2)) inner += " WHERE " + condition(1);
        return "SELECT " + outer.join(", ") + " FROM (" + inner + ") AS s WHERE rn " + (pick(2) ? "<= " : "< ") +
               QString::number(1 + pick(3));
    }

    // Rows as they stand: every column or some, under a filter or none.
    QString makeRows(const QString& table) {
        QStringList items;
        if (pick(3) == 0) {
            items << "*";
        } else {
            static const QStringList columns = {"k", "g", "n", "r", "big", "d", "w", "m", "v"};
            for (int i = 0; i <= pick(4); ++i) items << columns[pick(int(columns.size()))] + (pick(4) ? QString() : QStringLiteral(" AS c%1").arg(i));
        }
        QString sql = "SELECT " + top() + items.join(", ") + " FROM " + table;
        // Equalities, alone or joined by Or, are the ones SQLite answers by lookups.
        static const QStringList lookups = {"g = 'beta'", "k = 3", "n = 1.5", "(k = 2 Or g = 'zeta')", "(g = 'alpha' Or n = 7)"};
        if (pick(4) == 0) sql += " WHERE " + lookups[pick(int(lookups.size()))];
        else if (pick(3)) sql += " WHERE " + condition(2);
        return sql;
    }

    QString make(const QString& table) {
        QStringList keys;
        const QStringList keyPool = {"k", "g", "n"};
        for (const QString& k : keyPool)
            if (pick(3) == 0) keys << k;
        QStringList items;
        for (const QString& k : keys)
            if (pick(4)) items << k;
        static const QStringList aggregates = {
            "Count(*)", "Count(r)", "Count(g)", "Count(d)", "Sum(n)",  "Sum(r)",  "Avg(n)",          "Avg(r)",
            "Min(n)",   "Max(n)",   "Min(r)",   "Max(r)",   "Sum(big)", "Avg(big)", "Max(n) - Min(r)", "Sum(n) + 1", "Sum(w)", "Avg(w)", "Max(w)",
            "StDev(n)", "Var(r)", "StDevP(w)", "VarP(big)", "StDev(k) + 1", "Sum(m)", "Avg(v)", "Count(m)", "Sum(v)",
            "Min(v)", "Var(m)", "Avg(k)", "Sum(k)"};
        const int count = 1 + pick(3);
        for (int i = 0; i < count; ++i) items << aggregates[pick(int(aggregates.size()))] + (pick(3) ? QString() : QStringLiteral(" AS a%1").arg(i));
        QString sql = "SELECT " + top() + items.join(", ") + " FROM " + table;
        if (pick(3)) sql += " WHERE " + condition(2);
        if (!keys.isEmpty()) sql += " GROUP BY " + keys.join(", ");
        if (pick(4) == 0) {
            static const QStringList having = {"Count(*) > 3", "Sum(n) < 0", "Max(r) >= 1", "Avg(n) Between -10 And 10",
                                               "Not Count(r) = 0"};
            sql += " HAVING " + having[pick(int(having.size()))];
        }
        if (pick(3) == 0) {
            QStringList order;
            for (int i = 0; i <= pick(2); ++i)
                order << QString::number(1 + pick(int(items.size()))) + (pick(2) ? " DESC" : "");
            sql += " ORDER BY " + order.join(", ");
        }
        return sql;
    }

private:
    int pick(int n) { return int(random_() % unsigned(n)); }
    // Now and then TOP n, ties and all under ORDER BY.
    QString top() { return pick(4) ? QString() : QStringLiteral("TOP %1 ").arg(pick(6)); }

    QString condition(int depth) {
        static const QStringList leaves = {
            "n > 10",          "n <= -5",        "r < 2.5",        "r >= -0.3",     "g = 'beta'",           "g <> 'alpha'",
            "g < 'c'",         "k Between 1 And 3", "n Not Between -100 And 100", "k In (1, 3, 5)", "g In ('ALPHA', 'zeta')",
            "r Is Null",       "g Is Not Null",  "n = 1.5",        "r = 0.1",       "n > 2.5",              "r <> 50",
            "d Is Null",       "big > 0",        "g >= 'ｅ'",      "Not (n < 0)",   "g Like 'a%'",          "g Not Like '%TA'",
            "g Like '[b-g]_%'", "g Like 'ＥＰ%'", "g Like 'デ%' Or g Is Null", "n Like '1%'"};
        if (depth == 0 || pick(2)) return leaves[pick(int(leaves.size()))];
        const QString op = pick(2) ? " And " : " Or ";
        return "(" + condition(depth - 1) + op + condition(depth - 1) + ")";
    }

    std::mt19937 random_;
};

}  // namespace

TEST(ColumnPath, AgreesWithSqliteOnGeneratedStatements) {
    std::mt19937 random(20261209);
    TempFolder folder;
    folder.write(QStringLiteral("T.csv"), generatedTable(random, false));
    folder.write(QStringLiteral("U.csv"), generatedTable(random, true));
    BothPaths both(folder.path());
    StatementMaker maker(7);
    int onColumns = 0, total = 0;
    for (int i = 0; i < 300; ++i) {
        const Tuning tuning(i % 5);
        const QString table = i % 10 == 9 ? QStringLiteral("U.csv") : QStringLiteral("T.csv");
        onColumns += both.expectSame(maker.make(table), "statement " + std::to_string(i)) ? 1 : 0;
        ++total;
    }
    int topOnColumns = 0;
    for (int i = 0; i < 100; ++i) {
        const Tuning tuning(i % 2);
        const QString table = i % 10 == 9 ? QStringLiteral("U.csv") : QStringLiteral("T.csv");
        topOnColumns += both.expectSame(maker.makeTop(table), "top statement " + std::to_string(i)) ? 1 : 0;
    }
    int rowsOnColumns = 0;
    for (int i = 0; i < 100; ++i) {
        const Tuning tuning(i % 2);
        const QString table = i % 10 == 9 ? QStringLiteral("U.csv") : QStringLiteral("T.csv");
        rowsOnColumns += both.expectSame(maker.makeRows(table), "rows statement " + std::to_string(i)) ? 1 : 0;
    }
    RecordProperty("statementsOnColumns", onColumns);
    RecordProperty("rowsStatementsOnColumns", rowsOnColumns);
    EXPECT_GT(rowsOnColumns, 50);
    RecordProperty("topStatementsOnColumns", topOnColumns);
    EXPECT_GT(topOnColumns, 50);
    // Most of them must have been the column path's, or the test proves little.
    EXPECT_GT(onColumns, total / 2) << onColumns << " of " << total;
}

// A date range, as monthly reports filter: a date or date-and-time column
// beside a date in any spelling the binder reads, on the column path, with
// the answer SQLite gives.
TEST(ColumnPath, DateRangesAreFilteredOnTheColumns) {
    TempFolder folder;
    QByteArray text = "id,store,sold_on,at,amount\n";
    for (int i = 0; i < 5000; ++i) {  // blocks of rows, the last one short
        text += QByteArray::number(i) + "," + QByteArray::number(i % 7) + ",2024/" + QByteArray::number(1 + i % 12) + "/" +
                QByteArray::number(1 + i % 28) + ",2024/03/01 " + QByteArray::number(i % 24) + ":30:00," +
                QByteArray::number(i * 3 % 101) + "\n";
    }
    text += "5000,1,,,5\n";  // no date
    folder.write(QStringLiteral("S.csv"), text);
    BothPaths both(folder.path());
    for (const char* sql : {
             "SELECT store, Sum(amount) AS s FROM S.csv WHERE sold_on >= #2024/07/01# GROUP BY store",
             "SELECT store, Count(*) FROM S.csv WHERE sold_on BETWEEN '2024-3-1' AND #2024/05/31# GROUP BY store",
             "SELECT store, Count(*) FROM S.csv WHERE sold_on BETWEEN #2024/05/31# AND '2024/3/1' GROUP BY store",
             "SELECT Count(*), Sum(amount) FROM S.csv WHERE sold_on = #2024/02/14# OR sold_on IN ('2024/3/3', #2024/12/12#)",
             "SELECT Count(*) FROM S.csv WHERE at < #2024/03/01 12:00# AND at > '2024-03-01'",
             "SELECT id FROM S.csv WHERE sold_on <> #2024/01/01# AND sold_on < at",
             // Bounds read straight from the cells: the literal on either side, nulls kept out.
             "SELECT store, Count(*) FROM S.csv WHERE #2024/07/01# <= sold_on AND 50 > amount GROUP BY store",
             "SELECT Count(*), Sum(amount) FROM S.csv WHERE sold_on <> #2024/03/03# AND id >= 100 AND at < #2024/03/01 09:30#",
             // Bounds beside conditions by value code, two of them on one column; bounds at the ends of the integers.
             "SELECT store, Count(*) FROM S.csv WHERE Month(sold_on) IN (1, 2, 5) AND sold_on >= #2024/01/15# AND "
             "Year(sold_on) = 2024 AND store <> 3 AND Day(at) = 1 GROUP BY store",
             "SELECT Count(*) FROM S.csv WHERE id < -9223372036854775807 OR amount >= 9223372036854775807",
             "SELECT Count(*) FROM S.csv WHERE id > -9223372036854775807 AND amount <= 9223372036854775807 AND id <> 5",
             "SELECT Count(*) FROM S.csv WHERE id > 9223372036854775807 AND amount > 3",
             // Keys worked out of a column beside a plain one, under a range.
             "SELECT store, Month(sold_on), Count(*), Sum(amount), Max(amount) FROM S.csv WHERE id >= 1000 GROUP BY store, Month(sold_on)",
         })
        for (const int way : {0, 4}) {
            const Tuning tuning(way);
            EXPECT_TRUE(both.expectSame(QString::fromLatin1(sql), "date range")) << sql << " way " << way;
        }
}

// Report keys worked out of one column: Format and Month of a date, Left
// of a code, IIf of an amount; each distinct value is worked out once, and
// the groups, their order and their sums are SQLite's.
TEST(ColumnPath, KeysWorkedOutOfAColumnGroupOnTheColumns) {
    TempFolder folder;
    QByteArray text = "id,store,code,sold_on,amount\n";
    for (int i = 0; i < 500; ++i) {
        text += QByteArray::number(i) + ",S" + QByteArray::number(i % 7) + "," + (i % 3 ? "AB" : "cd") +
                QByteArray::number(i % 11) + ",2024/" + QByteArray::number(1 + i % 12) + "/" + QByteArray::number(1 + i % 28) +
                "," + QByteArray::number(i * 7 % 97) + "\n";
    }
    text += "500,S1,,,\n";  // nulls
    folder.write(QStringLiteral("S.csv"), text);
    const std::vector<const char*> onColumns = {
        "SELECT Format(sold_on, 'yyyy/mm'), Count(*), Sum(amount) FROM S.csv GROUP BY Format(sold_on, 'yyyy/mm')",
        "SELECT Month(sold_on) AS m, Sum(amount) AS s FROM S.csv GROUP BY Month(sold_on) ORDER BY s DESC",
        "SELECT store, Year(sold_on), Count(*) FROM S.csv WHERE sold_on >= #2024/07/01# GROUP BY store, Year(sold_on)",
        "SELECT Left(code, 2), Avg(amount) FROM S.csv GROUP BY Left(code, 2) HAVING Count(*) > 100",
        "SELECT IIf(amount > 50, 'big', 'small') AS size, Count(*) FROM S.csv GROUP BY IIf(amount > 50, 'big', 'small')",
        "SELECT sold_on, Count(*) FROM S.csv GROUP BY sold_on ORDER BY 1",
        "SELECT Count(*) FROM S.csv GROUP BY DatePart('q', sold_on)",
        // Conditions on one column, worked out once for each of its values.
        "SELECT store, Sum(amount) FROM S.csv WHERE Year(sold_on) = 2024 AND Month(sold_on) IN (1, 2) GROUP BY store",
        "SELECT Count(*), Sum(amount) FROM S.csv WHERE Left(code, 2) = 'ab' OR NOT (Format(sold_on, 'mm') <> '03')",
        "SELECT Count(*) FROM S.csv WHERE IsNull(sold_on) OR Weekday(sold_on) = 1",
        "SELECT id, amount FROM S.csv WHERE Day(sold_on) = 31",
    };
    const std::vector<const char*> elsewhere = {
        "SELECT Left(code, 1), Count(*) FROM S.csv GROUP BY Left(code, 1)",  // c and C? no: AB and cd, alike ignoring case
        "SELECT UCase(Left(code, 1)) || Left(store, 1), Count(*) FROM S.csv GROUP BY UCase(Left(code, 1)) || Left(store, 1)",
        "SELECT Rnd(id) > 2, Count(*) FROM S.csv GROUP BY Rnd(id) > 2",
    };
    for (int way = 0; way < 5; ++way) {
        const Tuning tuning(way);
        BothPaths both(folder.path());
        for (const char* sql : onColumns) EXPECT_TRUE(both.expectSame(QString::fromLatin1(sql), "derived key")) << sql;
        for (const char* sql : elsewhere) both.expectSame(QString::fromLatin1(sql), "derived key");
    }
}

// Rows written as the reader comes to them hear a cancel there too: the
// reading stops with Cancelled, never with what was written so far as if
// it were all.
TEST(ColumnPath, ACancelWhileTheRowsAreReadStopsTheReading) {
    TempFolder folder;
    QByteArray text = "k,v\n";
    for (int i = 0; i < 1000; ++i) text += QByteArray::number(i % 37) + "," + QByteArray::number(i) + "\n";
    folder.write(QStringLiteral("T.csv"), text);
    const Tuning tuning(1);
    for (const char* sql : {"SELECT k, v FROM T.csv", "SELECT k, Sum(v) AS s FROM T.csv GROUP BY k"}) {
        tarlo::Connection c;
        c.open(folder.path());
        auto result = c.execute(sql);
        ASSERT_TRUE(result->fromColumns()) << sql;
        result->next();
        c.interrupt();
        size_t rows = 1;
        EXPECT_THROW(
            for (; !result->atEnd(); result->next()) ++rows, tarlo::Cancelled) << sql;
        EXPECT_LT(rows, 37u) << sql;
    }
}

namespace {

// Masters for the generated table: integer keys with repeats and gaps,
// text keys that match its texts only ignoring case (full-width too).
const char* kRegions = "mk,region,rate,few\r\n1,East,0.1,3\r\n2,West,1.25,1\r\n2,North,-7.5,2\r\n3,East,,0\r\n4,south,2e3,1\r\n"
                       "6,,0.3,3\r\n9,Nowhere,1,1\r\n,Lost,5,5\r\n";
const char* kCategories = "ng,cat,bonus\r\nALPHA,first,10\r\nbeta,second,\r\nBETA,second b,3\r\nデルタ,fourth,4\r\n"
                          "ＥＰＳＩＬＯＮ,fifth,-2\r\nzeta,,6\r\nomega,none,7\r\n";

// SELECT keys, aggregates FROM the generated table joined with one or both
// masters, inner or left, in a row or in the old engine's brackets.
QString makeJoin(std::mt19937& random) {
    const auto pick = [&](int n) { return int(random() % unsigned(n)); };
    const auto kind = [&] { return pick(3) ? QStringLiteral(" INNER JOIN ") : QStringLiteral(" LEFT JOIN "); };
    const QString regions = pick(2) ? QStringLiteral("t.k = m.mk") : QStringLiteral("m.mk = t.k");
    const QString categories = pick(2) ? QStringLiteral("x.ng = t.g") : QStringLiteral("t.g = x.ng");
    QString from;
    switch (pick(4)) {
    case 0: from = "T.csv AS t" + kind() + "M.csv AS m ON " + regions; break;
    case 1: from = "T.csv AS t" + kind() + "N.csv AS x ON " + categories; break;
    case 2: from = "T.csv AS t" + kind() + "M.csv AS m ON " + regions + kind() + "N.csv AS x ON " + categories; break;
    default: from = "(T.csv AS t" + kind() + "M.csv AS m ON " + regions + ")" + kind() + "N.csv AS x ON " + categories; break;
    }
    const bool both = from.contains("M.csv") && from.contains("N.csv");
    const bool hasM = from.contains("M.csv");
    QStringList keyPool = {"t.k", "g", "Month(t.d)", "Format(d, 'yyyy/mm')"};
    keyPool << (hasM ? QStringList{"region", "m.few", "Left(m.region, 2)"} : QStringList{"cat", "UCase(x.cat)"});
    if (both) keyPool << "cat";
    QStringList keys;
    for (const QString& k : keyPool)
        if (pick(3) == 0) keys << k;
    QStringList items = keys;
    QStringList aggregates = {"Count(*)", "Sum(n)", "Avg(r)", "Min(n)", "Sum(big)", "StDev(n)", "Max(t.w)", "Count(g)",
                              "Count(DISTINCT g)", "Count(DISTINCT t.k)", "Count(DISTINCT d)"};
    if (hasM) aggregates << "Sum(rate)" << "Max(rate)" << "Count(region)" << "Avg(m.few)";
    if (!hasM || both) aggregates << "Max(bonus)" << "Sum(x.bonus)" << "Count(cat)";
    for (int i = 0, n = 1 + pick(3); i < n; ++i) items << aggregates[pick(int(aggregates.size()))];
    QString sql = "SELECT " + items.join(", ") + " FROM " + from;
    QStringList leaves = {"n > 10", "t.r < 2.5", "g <> 'alpha'", "k Between 1 And 3", "t.g Is Null", "d Is Null",
                          "Month(t.d) In (2, 3)"};
    if (hasM) leaves << "region = 'east'" << "region Is Null" << "rate > 0.2" << "m.few In (1, 3)" << "Left(m.region, 1) = 'n'";
    if (!hasM || both) leaves << "cat Is Null" << "x.bonus >= 3" << "cat Like 's%'" << "Len(x.cat) > 5";
    if (pick(2)) sql += " WHERE " + leaves[pick(int(leaves.size()))] + (pick(2) ? " And " + leaves[pick(int(leaves.size()))] : QString());
    if (!keys.isEmpty()) sql += " GROUP BY " + keys.join(", ");
    if (pick(4) == 0) sql += " HAVING Count(*) > 2";
    if (pick(3) == 0) sql += " ORDER BY " + QString::number(1 + pick(int(items.size()))) + (pick(2) ? " DESC" : "");
    return sql;
}

}  // namespace

// Joins of files on equal columns, grouped: on the column path, with
// SQLite's groups, totals and order; a text key matches ignoring case, a
// null key matches nothing, a left join keeps its rows without a match.
TEST(ColumnPath, JoinsAgreeWithSqlite) {
    std::mt19937 random(20261211);
    TempFolder folder;
    folder.write(QStringLiteral("T.csv"), generatedTable(random, false));
    folder.write(QStringLiteral("M.csv"), kRegions);
    folder.write(QStringLiteral("N.csv"), kCategories);
    BothPaths both(folder.path());
    int onColumns = 0;
    const int total = 200;
    for (int i = 0; i < total; ++i) {
        const Tuning tuning(i % 5);
        onColumns += both.expectSame(makeJoin(random), "join statement " + std::to_string(i)) ? 1 : 0;
    }
    RecordProperty("joinsOnColumns", onColumns);
    // Those left are sorted with ties, whose order only SQLite can tell.
    EXPECT_GT(onColumns, total * 2 / 3) << onColumns << " of " << total;
    // What this way does not take stays SQLite's: rows as they stand, a key of
    // two kinds, a condition beside the equality, a join of joins.
    for (const char* sql : {"SELECT t.k, m.region FROM T.csv AS t INNER JOIN M.csv AS m ON t.k = m.mk",
                            "SELECT Count(*) FROM T.csv AS t INNER JOIN M.csv AS m ON t.g = m.mk",
                            "SELECT Count(*) FROM T.csv AS t INNER JOIN M.csv AS m ON t.k = m.mk AND m.rate > 1",
                            "SELECT Count(*) FROM T.csv AS t INNER JOIN (M.csv AS m INNER JOIN N.csv AS x ON m.region = x.cat) "
                            "ON t.k = m.mk"})
        EXPECT_FALSE(both.expectSame(QString::fromLatin1(sql), "join SQLite answers")) << sql;
}

// A join of enough rows to be matched and gathered on every core: each
// joined row keeps its own pairs (grouped by a column of either side), a
// left join's rows without a master among them.
TEST(ColumnPath, AJoinOfManyRowsPairsEachRowWithItsOwn) {
    TempFolder folder;
    QByteArray text = "id,k,g,amount\n";
    for (int i = 0; i < 150000; ++i)
        text += QByteArray::number(i) + "," + QByteArray::number(i % 10) + "," + (i % 3 ? "beta" : "ALPHA") + "," +
                QByteArray::number(i % 101) + "\n";
    folder.write(QStringLiteral("T.csv"), text);
    folder.write(QStringLiteral("M.csv"), kRegions);
    folder.write(QStringLiteral("N.csv"), kCategories);
    BothPaths both(folder.path());
    for (const char* sql : {
             "SELECT t.id \\ 1000 AS part, m.region, Count(*), Sum(amount) FROM T.csv AS t LEFT JOIN M.csv AS m ON t.k = m.mk "
             "GROUP BY t.id \\ 1000, m.region",
             "SELECT t.k, x.cat, m.few, Count(*), Max(t.id) FROM (T.csv AS t LEFT JOIN M.csv AS m ON t.k = m.mk) "
             "INNER JOIN N.csv AS x ON x.ng = t.g GROUP BY t.k, x.cat, m.few",
         })
        EXPECT_TRUE(both.expectSame(QString::fromLatin1(sql), "many rows")) << sql;
}

// Crosstabs of one file and of joined files: the groups by heading and
// pivot turned into a column a pivot value, in the values' order (null
// first, numbers, texts ignoring case), an empty cell where a combination
// has no rows; each as SQLite's crosstab gives it.
TEST(ColumnPath, CrosstabsAgreeWithSqlite) {
    std::mt19937 random(20261212);
    TempFolder folder;
    folder.write(QStringLiteral("T.csv"), generatedTable(random, false));
    folder.write(QStringLiteral("U.csv"), generatedTable(random, true));
    folder.write(QStringLiteral("M.csv"), kRegions);
    const auto pick = [&](int n) { return int(random() % unsigned(n)); };
    BothPaths both(folder.path());
    int onColumns = 0;
    const int total = 120;
    for (int i = 0; i < total; ++i) {
        const Tuning tuning(i % 5);
        const bool joined = pick(2);
        const QString table = i % 10 == 9 ? QStringLiteral("U.csv") : QStringLiteral("T.csv");
        QStringList headings = {"k", "g", "Left(g, 2)", "Month(d)"}, pivots = {"k", "g", "Month(d)", "Format(d, 'mm')", "IIf(n > 0, 'plus', 'minus')", "Left(g, 1)"};
        if (joined) headings << "region" << "m.few", pivots << "region" << "m.few";
        const QString heading = headings[pick(int(headings.size()))];
        static const QStringList values = {"Sum(n)", "Count(*)", "Avg(v)", "Max(n)", "Count(g)", "Min(t.r)", "Count(DISTINCT g)"};
        QString sql = "TRANSFORM " + values[pick(int(values.size()))] + " SELECT " + heading + " FROM " + table + " AS t" +
                      (joined ? QString(pick(2) ? " INNER" : " LEFT") + " JOIN M.csv AS m ON t.k = m.mk" : QString());
        if (pick(2)) sql += pick(2) ? " WHERE n > 0" : " WHERE g <> 'zeta' OR d Is Null";
        sql += " GROUP BY " + heading + " PIVOT " + pivots[pick(int(pivots.size()))];
        onColumns += both.expectSame(sql, "crosstab " + std::to_string(i)) ? 1 : 0;
    }
    RecordProperty("crosstabsOnColumns", onColumns);
    EXPECT_GT(onColumns, total / 2) << onColumns << " of " << total;
}

// The join kept for the next run is that of the files as they are: a
// master changed since gives its new rows, the same join again the kept one.
TEST(ColumnPath, AKeptJoinIsOfTheFilesAsTheyAreNow) {
    TempFolder folder;
    QByteArray sales = "store,amount\n";
    for (int i = 0; i < 300; ++i) sales += QByteArray::number(i % 5) + "," + QByteArray::number(i) + "\n";
    folder.write(QStringLiteral("S.csv"), sales);
    folder.write(QStringLiteral("M.csv"), "store,region\n0,East\n1,West\n2,East\n");
    const QString sql = QStringLiteral("SELECT m.region, Count(*), Sum(s.amount) FROM S.csv AS s INNER JOIN M.csv AS m "
                                       "ON s.store = m.store GROUP BY m.region");
    BothPaths both(folder.path());
    EXPECT_TRUE(both.expectSame(sql, "first"));
    EXPECT_TRUE(both.expectSame(sql, "kept"));
    QThread::msleep(20);
    folder.write(QStringLiteral("M.csv"), "store,region\n0,North\n3,West\n4,South\n");
    EXPECT_TRUE(both.expectSame(sql, "changed master"));
    tarlo::Connection c;
    c.open(folder.path());
    auto result = c.execute(sql);
    EXPECT_EQ(scriptRows(*result), QStringLiteral("North|60|8850\nSouth|60|9090\nWest|60|9030"));
}

// Rows sorted by columns, with TOP or a filter or neither: on the column
// path where no two rows tie (their order is then SQLite's alone), nulls
// first ascending and last descending, texts ignoring case, -0 as 0.
TEST(ColumnPath, SortedRowsAgreeWithSqlite) {
    std::mt19937 random(20261213);
    TempFolder folder;
    folder.write(QStringLiteral("T.csv"), generatedTable(random, false));
    folder.write(QStringLiteral("U.csv"), generatedTable(random, true));
    folder.write(QStringLiteral("Z.csv"), "id,x,s\n1,0,b\n2,-0,A\n3,,c\n4,-1.5,\n5,2,D\n");
    const auto pick = [&](int n) { return int(random() % unsigned(n)); };
    BothPaths both(folder.path());
    int onColumns = 0;
    const int total = 120;
    static const QStringList keys = {"w", "k, w", "g DESC, w", "r, w DESC", "n DESC, k, g, w", "v, n, k", "w DESC", "big", "m, w"};
    for (int i = 0; i < total; ++i) {
        const Tuning tuning(i % 5);
        const QString table = i % 10 == 9 ? QStringLiteral("U.csv") : QStringLiteral("T.csv");
        QString sql = QStringLiteral("SELECT %1k, g, w, n FROM %2").arg(pick(3) ? QString() : QStringLiteral("TOP %1 ").arg(1 + pick(20)), table);
        // Among rows with a w, a key that ends with it ties nowhere.
        sql += pick(4) ? " WHERE w Is Not Null" : " WHERE g <> 'zeta' OR r Is Null";
        if (pick(2)) sql += " And n > 0";
        sql += " ORDER BY " + keys[pick(int(keys.size()))];
        onColumns += both.expectSame(sql, "sorted " + std::to_string(i)) ? 1 : 0;
    }
    RecordProperty("sortedOnColumns", onColumns);
    EXPECT_GT(onColumns, total / 3) << onColumns << " of " << total;
    for (const char* sql : {"SELECT id, x FROM Z.csv ORDER BY s", "SELECT id FROM Z.csv ORDER BY x DESC, id",
                            "SELECT id, s FROM Z.csv ORDER BY s DESC, id"})
        EXPECT_TRUE(both.expectSame(QString::fromLatin1(sql), "sorted")) << sql;
    // 0 and -0 tie, as do alpha and ALPHA: SQLite's order.
    for (const char* sql : {"SELECT id FROM Z.csv ORDER BY x", "SELECT g, w FROM U.csv WHERE w Is Not Null ORDER BY w, g"})
        EXPECT_FALSE(both.expectSame(QString::fromLatin1(sql), "sorted with ties")) << sql;
}
