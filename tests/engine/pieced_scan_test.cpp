// Statements over a file too big to hold (the bound set low): the rows of
// the same statement over the file loaded whole, messages that name the
// line a piece's value stands on, and a run that tells how far it has read
// and stops when cancelled.
#include "engine/run_job.h"
#include "support/run_sql.h"
#include "support/temp_folder.h"

#include <QThread>
#include <gtest/gtest.h>

#include <thread>

namespace {

// While it lives, every table is read in pieces (of 256 bytes), or those
// too big for the bound given.
struct LowBound {
    explicit LowBound(const char* bound = "1") { qputenv("TARLO_MEMORY_BOUND", bound); }
    ~LowBound() { qunsetenv("TARLO_MEMORY_BOUND"); }
};

QByteArray salesFile(int rows) {
    QByteArray text = "id,sold_on,store,amount,memo\r\n";
    for (int i = 1; i <= rows; ++i) {
        text += QByteArray::number(i) + ",2024/" + QByteArray::number(i % 12 + 1) + "/" + QByteArray::number(i % 28 + 1) + "," +
                QByteArray::number(i % 7) + "," + (i == rows - 3 ? QByteArray("12.5") : QByteArray::number(i * 3 % 1000)) +
                (i % 50 == 0 ? ",\"two\r\nlines\"\r\n" : ",m\r\n");
    }
    return text;
}

// A statement's rows, and whether the column path gave them.
struct Answer {
    std::vector<std::string> rows;
    bool onColumns = false;
};
Answer answerOf(const QString& folder, const char* sql, bool columnPath) {
    tarlo::Connection c;
    c.setColumnPath(columnPath);
    c.open(folder);
    auto result = c.execute(QString::fromUtf8(sql));
    Answer out;
    out.onColumns = result->fromColumns();
    for (; !result->atEnd(); result->next()) {
        std::string row;
        for (int i = 0; i < result->fieldCount(); ++i) (row += i ? "\t" : "") += result->fieldUtf8(i);
        out.rows.push_back(row);
    }
    return out;
}

}  // namespace

TEST(Pieces, GroupsAddUpOverThePiecesOnTheColumnPath) {
    // Groups in every piece; reals of every scale, one past 2^53, each in pieces of its own; nulls in a
    // few pieces only; texts spelt in another case in the last pieces, beside the first spelling (twin) or alone (late).
    QByteArray text = "id,sold_on,store,amount,qty,code,twin,late\r\n";
    for (int i = 1; i <= 3000; ++i) {
        const QByteArray amount = i % 97 == 0    ? QByteArray("0.1")
                                  : i == 1234    ? QByteArray("9007199254740993.5")
                                  : i % 89 == 0  ? QByteArray("-1234.0625")
                                                 : QByteArray::number(i * 7 % 1000);
        const QByteArray qty = i > 1000 && i < 1200 ? QByteArray() : QByteArray::number(i % 13);
        text += QByteArray::number(i) + ",2024/" + QByteArray::number(i % 12 + 1) + "/" + QByteArray::number(i % 28 + 1) + "," +
                QByteArray::number(i % 7) + "," + amount + "," + qty + ",c" + QByteArray::number(i % 5) + "," +
                (i > 2900 && i % 2 ? "ABC" : i % 3 ? "abc" : "x") + (i > 2900 ? ",ABC" : i > 2800 ? ",mid" : ",abc") + "\r\n";
    }
    struct Case {
        const char* sql;
        bool onColumns;  // false: the pieces' groups cannot be added up, and SQLite answers
    };
    for (const Case& c : std::vector<Case>{
             {"SELECT store, Count(*), Count(qty), Sum(amount), Avg(amount), Min(amount), Max(amount), StDev(amount), "
              "VarP(qty), Min(qty) FROM sales.csv GROUP BY store", true},
             {"SELECT Format(sold_on, 'yyyy/mm') AS ym, Sum(qty) FROM sales.csv WHERE sold_on >= #2024/07/01# "
              "GROUP BY Format(sold_on, 'yyyy/mm') HAVING Sum(qty) > 100", true},
             {"SELECT TOP 3 code, Sum(amount) FROM sales.csv GROUP BY code ORDER BY Sum(amount) DESC", true},
             {"SELECT Count(*), Sum(amount), Max(qty) FROM sales.csv WHERE id < 0", true},
             {"SELECT r.region, Count(*), Sum(s.amount) FROM (sales.csv s INNER JOIN stores.csv r ON s.store = r.store) "
              "GROUP BY r.region", true},
             {"SELECT s.store, Count(*) FROM sales.csv s LEFT JOIN stores.csv r ON s.store = r.store WHERE r.region Is Null "
              "GROUP BY s.store", true},
             {"TRANSFORM Sum(amount) SELECT store FROM sales.csv GROUP BY store PIVOT code", true},
             // The first rows, by an order or the file's.
             {"SELECT TOP 5 id, amount, code FROM sales.csv ORDER BY amount DESC, id", true},
             {"SELECT TOP 3 code, id FROM sales.csv WHERE store = 3 ORDER BY code DESC, qty, id DESC", true},
             {"SELECT TOP 4 id, twin FROM sales.csv WHERE store = 3 AND id > 2000", true},
             {"SELECT TOP 2 id FROM sales.csv ORDER BY sold_on DESC, id", false},
             // The best rows of each partition, nulls first in an ascending order.
             {"SELECT store, amount, rn FROM (SELECT store, amount, ROW_NUMBER() OVER (PARTITION BY store ORDER BY amount DESC) "
              "AS rn FROM sales.csv) AS t WHERE rn <= 3", true},
             {"SELECT rn, qty, code FROM (SELECT code, qty, ROW_NUMBER() OVER (PARTITION BY code ORDER BY qty) AS rn "
              "FROM sales.csv WHERE id > 990) AS t WHERE rn <= 45", true},
             {"SELECT late, amount, rn FROM (SELECT late, amount, ROW_NUMBER() OVER (PARTITION BY late ORDER BY amount) "
              "AS rn FROM sales.csv) AS t WHERE rn <= 2", false},
             // 999 is the most of three pieces: TOP shows every row that ties with its last.
             {"SELECT TOP 1 amount FROM sales.csv WHERE amount < 1000 ORDER BY amount DESC", false},
             // Equal but for case: SQLite's one group, under the spelling it met first.
             {"SELECT twin, Count(*) FROM sales.csv GROUP BY twin", false},
             // A store without sales is a row of every piece's join, but one of the file's.
             {"SELECT r.region, Count(*) FROM stores.csv r LEFT JOIN sales.csv s ON s.store = r.store GROUP BY r.region", false},
             {"SELECT Count(DISTINCT code), Count(DISTINCT sold_on) FROM sales.csv", true},
             {"SELECT store, Count(DISTINCT qty), Count(*) FROM sales.csv WHERE id > 100 GROUP BY store", true},
             {"SELECT Count(DISTINCT twin) FROM sales.csv", false},
             // Alike but for case, in pieces of their own: one value, but a group SQLite shows by one spelling.
             {"SELECT Count(DISTINCT late) FROM sales.csv", true},
             {"SELECT late, Count(*) FROM sales.csv GROUP BY late", false},
         }) {
        // A folder of its own: a table loaded whole is kept for the next statement.
        TempFolder folder;
        folder.write("sales.csv", text);
        folder.write("stores.csv", "store,region\r\n0,North\r\n1,South\r\n2,East\r\n3,West\r\n4,North\r\n5,South\r\n9,None\r\n");
        Answer pieces;
        {
            LowBound low("20000");  // sales.csv in about 80 pieces, stores.csv whole
            pieces = answerOf(folder.path(), c.sql, true);
        }
        const Answer whole = answerOf(folder.path(), c.sql, false);
        EXPECT_EQ(pieces.rows, whole.rows) << c.sql;
        EXPECT_EQ(pieces.onColumns, c.onColumns) << c.sql;
    }
}

TEST(Pieces, AStatementOverAFileInPiecesGivesTheWholeLoadsRows) {
    TempFolder folder;
    folder.write("sales.csv", salesFile(3000));
    folder.write("stores.csv", "store,region\r\n0,North\r\n1,South\r\n2,East\r\n3,West\r\n4,North\r\n5,South\r\n");
    for (const char* sql : {
             "SELECT store, Count(*), Sum(amount), Min(sold_on), Max(sold_on) FROM sales.csv GROUP BY store",
             "SELECT Format(sold_on, 'yyyy/mm') AS ym, Sum(amount) FROM sales.csv WHERE sold_on >= #2024/07/01# GROUP BY Format(sold_on, 'yyyy/mm')",
             "SELECT r.region, Sum(s.amount) FROM (sales.csv s INNER JOIN stores.csv r ON s.store = r.store) GROUP BY r.region",
             "SELECT TOP 5 id, amount, memo FROM sales.csv ORDER BY amount DESC, id",
             "SELECT id, memo FROM sales.csv WHERE id IN (49, 50, 2997, 3000)",
             "SELECT Count(DISTINCT amount) FROM sales.csv",
         }) {
        // In pieces first: a table loaded whole is kept, and a later statement would find it.
        std::vector<std::string> inPieces;
        {
            LowBound low;
            inPieces = runSql(folder.path(), QString::fromUtf8(sql));
        }
        EXPECT_EQ(inPieces, runSql(folder.path(), QString::fromUtf8(sql))) << sql;
    }
    // A real of more digits than fifteen shows exactly, its shortest spelling
    // (a whole load shows the file's, kept as it reads every row).
    folder.write("long.csv", "id,v\n1,0.5\n2,0.30000000000000004\n3,12345678901234567\n");
    {
        LowBound low;
        EXPECT_EQ(runSql(folder.path(), QStringLiteral("SELECT v FROM long.csv")),
                  (std::vector<std::string>{"0.5", "0.30000000000000004", "12345678901234568"}));
    }
    // A value a late piece holds is named at its line of the file.
    QByteArray text = salesFile(600);
    text.replace("\r\n599,", "\r\n599x,");
    folder.write("bad.csv", text);
    QString message;
    {
        LowBound low;
        message = failureOf(folder.path(), QStringLiteral("SELECT Sum(id) FROM bad.csv"));
    }
    EXPECT_EQ(message, failureOf(folder.path(), QStringLiteral("SELECT Sum(id) FROM bad.csv")));
    EXPECT_TRUE(message.contains(QStringLiteral("の 611 行目"))) << message.toStdString();
}

TEST(Pieces, ARunSaysHowFarItHasReadAndStopsWhenCancelled) {
    TempFolder folder;
    folder.write("sales.csv", salesFile(50000));
    LowBound low;
    tarlo::RunJob job(folder.path(), QStringLiteral("SELECT store, Sum(amount) FROM sales.csv GROUP BY store"));
    tarlo::RunOutcome outcome;
    std::atomic<bool> finished = false;
    std::thread run([&] {
        outcome = job.run();
        finished = true;
    });
    // Cancelled once the scan has read a share of the file in pieces (the
    // first pass, which types the columns, comes before; slow under the sanitizers).
    double share = -1;
    while (!finished && share <= 0) {
        QThread::msleep(2);
        share = job.progress().piecesShare;
    }
    job.cancel();
    run.join();
    EXPECT_GT(share, 0);
    EXPECT_LT(share, 1);
    EXPECT_EQ(outcome.status, tarlo::RunOutcome::Status::Cancelled);
}
