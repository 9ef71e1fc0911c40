#include "platform/error.h"
#include "engine/connection.h"
#include "csv/table_cache.h"
#include "support/run_sql.h"
#include "support/temp_folder.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <atomic>
#include <thread>
#include <gtest/gtest.h>

namespace {

using Rows = std::vector<std::string>;  // one string per row, fields joined by TAB

class Engine : public ::testing::Test {
protected:
    void SetUp() override {
        folder.writeText("data.csv", "id,name,city,score,joined\r\n"
                                     "1,abc,Tokyo,1.5,2024/1/5\r\n"
                                     "2,ABC,TOKYO,2.25,2023-12-31\r\n"
                                     "3,ｘｙｚ,Osaka,,2024/01/05\r\n"
                                     "4,\"q,\"\"x\"\"\",osaka,0.1,\r\n");
        folder.writeText("Other.CSV", "k,v\n1,one\n3,three\n");
        folder.writeText("my data.csv", "a\n1\n");
    }

    Rows run(const QString& sql, QStringList* names = nullptr) { return runSql(folder.path(), sql + "\r\n", "\t", names); }

    QString errorOf(const QString& sql) { return failureOf(folder.path(), sql); }

    TempFolder folder;
};

}  // namespace

TEST_F(Engine, TableNamesInEveryFormTheUsersWrite) {
    for (const char* sql : {"SELECT id FROM data#csv WHERE id = 1", "SELECT id FROM [data#csv] WHERE id = 1",
                            "SELECT id FROM [data.csv] WHERE id = 1", "SELECT id FROM data.csv WHERE id = 1",
                            "select id from DATA#CSV d where d.id = 1", "SELECT [data#csv].id FROM data#csv WHERE id=1",
                            "SELECT id FROM (SELECT * FROM data#csv) WHERE id = 1"})
        EXPECT_EQ(run(sql), Rows{"1"}) << sql;
    EXPECT_EQ(run("SELECT * FROM other.csv"), (Rows{"1\tone", "3\tthree"})) << "the single case-insensitive match";
    EXPECT_EQ(run("SELECT * FROM my data.csv"), Rows{"1"}) << "a file name with a blank, as the run-all command sends it";
    EXPECT_EQ(run("WITH t AS (SELECT 5 AS x) SELECT x FROM t"), Rows{"5"}) << "a CTE is not a file";
    EXPECT_EQ(run("SELECT d.id, o.v FROM data#csv d JOIN other#csv o ON o.k = d.id ORDER BY d.id"),
              (Rows{"1\tone", "3\tthree"}));
    EXPECT_EQ(run("SELECT count(*) FROM (data#csv a INNER JOIN other#csv b ON a.id = b.k)"), Rows{"2"});
}

TEST_F(Engine, MissingAndOutsideTablesAreNamed) {
    EXPECT_TRUE(errorOf("SELECT * FROM nofile#csv").startsWith(QStringLiteral("テーブル \"nofile.csv\" のファイルが見つかりません (SQL 文の 1 行目 15 文字目)。")));
    EXPECT_TRUE(errorOf("SELECT * FROM nosuch").startsWith(QStringLiteral("テーブル \"nosuch\" が見つかりません。")));
    EXPECT_TRUE(errorOf("SELECT * FROM [../data.csv]").contains(QStringLiteral("フォルダーの外")));
    EXPECT_TRUE(errorOf("SELECT nope FROM data#csv").startsWith(QStringLiteral("列 \"nope\" が見つかりません (SQL 文の 1 行目 8 文字目)。")));
    EXPECT_EQ(errorOf("SELECT * FORM data#csv"), QStringLiteral("SQL 文の 1 行目 10 文字目、\"FORM\" の近くに誤りがあります。"));
    EXPECT_EQ(errorOf(""), QStringLiteral("実行する SQL 文がありません。"));
    EXPECT_FALSE(errorOf("SELECT 1; SELECT 2").isEmpty());
    // The words the user wrote, never the calls they became.
    EXPECT_EQ(errorOf("SELECT Left('abc')"), QStringLiteral("関数 \"Left\" の引数の数が違います (SQL 文の 1 行目 8 文字目)。"));
    EXPECT_EQ(errorOf("SELECT IsNull(1, 2)"), QStringLiteral("関数 \"IsNull\" の引数の数が違います (SQL 文の 1 行目 8 文字目)。"));
    EXPECT_FALSE(errorOf("SELECT 1 + * 2").contains(QLatin1String("tarlo_")));
}

TEST_F(Engine, AFolderNamedLikeATableIsSaidToBeOne) {
    folder.mkdir("sub.csv");
    EXPECT_TRUE(errorOf("SELECT * FROM sub.csv").startsWith(QStringLiteral("テーブル \"sub.csv\" はフォルダーです (SQL 文の 1 行目 15 文字目)。")))
        << errorOf("SELECT * FROM sub.csv").toStdString();
    EXPECT_TRUE(errorOf("SELECT * FROM sub#csv").contains(QStringLiteral("フォルダー")));
    // A folder without a dot does not hide a table the statement defines.
    folder.mkdir("t");
    EXPECT_EQ(run("WITH [t] AS (SELECT 5 AS x) SELECT x FROM [t]"), Rows{"5"});
}

TEST_F(Engine, NothingButReading) {
    const QString before = QString::fromUtf8(folder.read("data.csv"));
    for (const char* sql : {"ATTACH 'x.db' AS x", "CREATE TABLE t(a)", "DROP TABLE \"data.csv\"",
                            "INSERT INTO \"data.csv\" VALUES (1,2,3,4,5)", "DELETE FROM data#csv",
                            "UPDATE data#csv SET id = 0", "PRAGMA writable_schema = 1", "VACUUM INTO 'copy.db'",
                            "SELECT load_extension('x')", "CREATE TEMP VIEW v AS SELECT 1"}) {
        EXPECT_FALSE(errorOf(sql).isEmpty()) << sql;
    }
    EXPECT_EQ(QString::fromUtf8(folder.read("data.csv")), before);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 3);
}

TEST_F(Engine, TextComparesGroupsAndSortsIgnoringCase) {
    EXPECT_EQ(run("SELECT id FROM data#csv WHERE name = 'abc' ORDER BY id"), (Rows{"1", "2"}));
    EXPECT_EQ(run("SELECT id FROM data#csv WHERE name = 'ＸＹＺ'"), Rows{"3"});
    EXPECT_EQ(run("SELECT city, count(*) FROM data#csv GROUP BY city"), (Rows{"Osaka\t2", "Tokyo\t2"}));
    EXPECT_EQ(run("SELECT count(DISTINCT city) FROM data#csv"), Rows{"2"});
    EXPECT_EQ(run("SELECT id FROM data#csv ORDER BY city DESC, id LIMIT 1"), Rows{"1"});
}

TEST_F(Engine, ValuesAsTheyAreShown) {
    QStringList names;
    EXPECT_EQ(run("SELECT * FROM data#csv ORDER BY id", &names),
              (Rows{"1\tabc\tTokyo\t1.5\t2024/01/05", "2\tABC\tTOKYO\t2.25\t2023/12/31", "3\tｘｙｚ\tOsaka\t\t2024/01/05",
                    "4\tq,\"x\"\tosaka\t0.1\t"}));
    EXPECT_EQ(names, (QStringList{"id", "name", "city", "score", "joined"}));
    EXPECT_EQ(run("SELECT score + 0.2 FROM data#csv WHERE id = 4"), Rows{"0.3"});
    EXPECT_EQ(run("SELECT id FROM data#csv ORDER BY joined, id"), (Rows{"4", "2", "1", "3"}));
    EXPECT_EQ(run("SELECT id FROM data#csv WHERE joined > '2024/01/01' ORDER BY id"), (Rows{"1", "3"}));
    EXPECT_EQ(run("SELECT sum(id), avg(score) FROM data#csv"), Rows{"10\t1.28333333333333"});
}

// The crosstab's columns are headed by the pivot values, sorted, "<>" for null.
TEST_F(Engine, CrosstabColumnsAreNamedByTheirValues) {
    QStringList names;
    EXPECT_EQ(run("TRANSFORM Count(id) SELECT city FROM data#csv GROUP BY city ORDER BY city PIVOT Year(joined)", &names),
              (Rows{"Osaka\t1\t\t1", "Tokyo\t\t1\t1"}));
    EXPECT_EQ(names, (QStringList{"city", "<>", "2023", "2024"}));
    run("TRANSFORM Sum(score) SELECT city FROM data#csv GROUP BY city PIVOT name IN ('abc', \"x\"\"y\")", &names);
    EXPECT_EQ(names, (QStringList{"city", "abc", "x\"y"}));
}

// A pivot value holding a NUL heads its own column and gets its own rows.
TEST_F(Engine, CrosstabOverAValueWithANulByte) {
    static const char kBytes[] = "k,p,v\n1,\"a\0b\",3\n1,a,5\n1,c,4\n";
    folder.write("nulbyte.csv", QByteArray(kBytes, sizeof kBytes - 1));
    QStringList names;
    EXPECT_EQ(run("TRANSFORM Sum(v) SELECT k FROM nulbyte#csv GROUP BY k PIVOT p", &names), Rows{"1\t5\t3\t4"});
    EXPECT_EQ(names, (QStringList{"k", "a", "a b", "c"}));
}

TEST_F(Engine, IndexedAndScannedAnswersAgree) {
    QString big = "k,v\n";
    for (int i = 0; i < 2000; ++i) big += QString("%1,%2\n").arg(i % 300).arg(i);
    folder.writeText("big.csv", big);
    for (const char* pair : {"a.k = b.k", "a.k = b.k + 0"}) {
        const QString sql = QString("SELECT count(*), sum(a.v) FROM big#csv a JOIN big#csv b ON %1").arg(pair);
        EXPECT_EQ(run(sql), Rows{"13400\t13393300"}) << pair;
    }
    EXPECT_EQ(run("SELECT count(*) FROM big#csv WHERE k = '7'"), Rows{"7"}) << "a text value against a number column";
    EXPECT_EQ(run("SELECT count(*) FROM big#csv WHERE k = 7.0"), Rows{"7"});
    EXPECT_EQ(run("SELECT v FROM big#csv ORDER BY k DESC, v DESC LIMIT 2"), (Rows{"1799", "1499"}));
    EXPECT_EQ(run("SELECT k FROM big#csv GROUP BY k ORDER BY k DESC LIMIT 1"), Rows{"299"});

    // The lookup against a plain scan of the same values (x + 0 takes no index).
    folder.writeText("r.csv", "id,r\n1,0.0\n2,-0.0\n3,1.5\n4,3\n");
    folder.writeText("n.csv", "id,n\n1,10000000000000000\n2,5\n3,9007199254740993\n");
    for (const char* where : {"r = 0", "r = -0.0", "r = 0.0", "r = 1.5", "r = 3"}) {
        const QString lookup = QString("SELECT id FROM r#csv WHERE %1 ORDER BY id").arg(where);
        QString scan = lookup;
        scan.replace(QStringLiteral("WHERE r"), QStringLiteral("WHERE r + 0"));
        EXPECT_EQ(run(lookup), run(scan)) << where;
    }
    EXPECT_EQ(run("SELECT id FROM r#csv WHERE r = 0 ORDER BY id"), (Rows{"1", "2"}));
    for (const char* where : {"n = 1e16", "n = 10000000000000000", "n = 5.0", "n = 9007199254740992.0",
                              "n = 9007199254740993", "n = 5.5"}) {
        const QString lookup = QString("SELECT id FROM n#csv WHERE %1 ORDER BY id").arg(where);
        QString scan = lookup;
        scan.replace(QStringLiteral("WHERE n"), QStringLiteral("WHERE +n"));
        EXPECT_EQ(run(lookup), run(scan)) << where;
    }
    EXPECT_EQ(run("SELECT id FROM n#csv WHERE n = 1e16"), Rows{"1"});
}

TEST_F(Engine, CommonMistakesAreToldInJapanese) {
    const struct {
        const char* sql;
        const char* says;
    } cases[] = {
        {"SELECT id FROM data#csv ORDER BY 5", "ORDER BY の 1 番目の項目"},
        {"SELECT id FROM data#csv HAVING id > 1", "HAVING は"},
        {"SELECT id FROM data#csv UNION SELECT id, name FROM data#csv", "UNION の左右"},
        {"SELECT id FROM data#csv WHERE id IN (SELECT id, name FROM data#csv)", "2 列"},
        {"SELECT id FROM data#csv WHERE Sum(id) > 1", "集計関数 \"Sum\""},
        {"SELECT row_number() FROM data#csv", "OVER"},
        // Only the catalogue's functions: a built-in without a row is named as written.
        {"SELECT fts3_tokenizer('simple')", "関数 \"fts3_tokenizer\" は使えません"},
        {"SELECT load_extension('x')", "関数 \"load_extension\" は使えません"},
        {"SELECT id FROM data#csv WHERE json_extract(name, '$.a') IS NULL", "関数 \"json_extract\" は使えません"},
        {"SELECT RandomBlob(4)", "関数 \"RandomBlob\" は使えません"},
        {"SELECT unixepoch(joined) FROM data#csv", "関数 \"unixepoch\" は使えません"},
        {"SELECT id FROM data#csv WHERE likelihood(id > 1, 0.5)", "関数 \"likelihood\" は使えません"},
        {"SELECT printf('%d', score) FROM data#csv", "関数 \"printf\" は使えません"},
        {"SELECT id FROM data#csv d WHERE EXISTS (SELECT strftime('%Y', joined))", "関数 \"strftime\" は使えません"},
    };
    for (const auto& c : cases) {
        const QString message = errorOf(c.sql);
        EXPECT_TRUE(message.contains(QString::fromUtf8(c.says)) && !message.contains("SQL エラー")) << message.toStdString();
    }
}

TEST_F(Engine, UnnamedFieldsAreNamedExprByTheirPlace) {
    QStringList names;
    run("SELECT Month(joined) + 1, id, d.name, Count(*) AS n, score * 2, 'x' & city FROM data#csv d GROUP BY id", &names);
    EXPECT_EQ(names, (QStringList{"Expr1000", "id", "name", "n", "Expr1004", "Expr1005"}));
    run("SELECT * FROM other#csv", &names);
    EXPECT_EQ(names, (QStringList{"k", "v"}));
    // A derived table's unnamed field is read by that name.
    EXPECT_EQ(run("SELECT Expr1000 FROM (SELECT Count(*) FROM data#csv)", &names), Rows{"4"});
}

TEST_F(Engine, ALongStatementStopsWhenInterrupted) {
    // A join of 4 million pairs through a Like with many %: long enough that
    // only the interrupt ends it.
    QString text = "t\n";
    for (int i = 0; i < 2000; ++i) text += QString("a%1a%2a\n").arg(i).arg(i * 7);
    folder.writeText("long.csv", text);
    tarlo::Connection c;
    c.open(folder.path());
    std::atomic<bool> done = false, cancelled = false;
    std::thread worker([&] {
        try {
            c.execute("SELECT count(*) FROM long#csv a, long#csv b WHERE a.t & b.t LIKE '%a%a%a%a%a%b'");
        } catch (const tarlo::Cancelled&) {
            cancelled = true;
        }
        done = true;
    });
    QThread::msleep(50);
    QElapsedTimer clock;
    clock.start();
    while (!done) {
        c.interrupt();  // again until heard: one sent before the statement starts is lost
        QThread::msleep(5);
    }
    worker.join();
    EXPECT_TRUE(cancelled);
    RecordProperty("heard_after_ms", int(clock.elapsed()));
}

TEST_F(Engine, AChangedFileIsReadAgain) {
    EXPECT_EQ(run("SELECT count(*) FROM other#csv"), Rows{"2"});
    QThread::msleep(20);
    folder.writeText("Other.CSV", "k,v\n1,one\n");
    EXPECT_EQ(run("SELECT count(*) FROM other#csv"), Rows{"1"});

    // Replaced by another file of the same size and modification time (cp -p, mv): read again.
    const QString path = folder.file("Other.CSV");
    const QDateTime modified = QFileInfo(path).lastModified();
    folder.writeText("next.csv", "k,v\n2,two\n");
    QFile next(folder.file("next.csv"));
    ASSERT_TRUE(next.open(QIODevice::ReadWrite) && next.setFileTime(modified, QFileDevice::FileModificationTime));
    next.close();
    ASSERT_TRUE(QFile::remove(path) && QFile::rename(folder.file("next.csv"), path));
    ASSERT_EQ(QFileInfo(path).lastModified(), modified);
    EXPECT_EQ(run("SELECT k FROM other#csv"), Rows{"2"});
}

// The window shows the rows a total has gone through while no result row
// has come: the scans must count them where the progress is read.
TEST(EngineProgress, ScansCountTheRowsTheyGoThrough) {
    TempFolder folder;
    QByteArray text = "id,name\n";
    for (int i = 0; i < 20000; ++i) text += QByteArray::number(i) + ",n" + QByteArray::number(i % 7) + "\n";
    folder.write("t.csv", text);
    tarlo::Connection connection;
    connection.open(folder.path());
    connection.setColumnPath(false);
    std::atomic<uint64_t> visited{0};
    connection.countRowsVisitedIn(&visited);
    auto result = connection.execute("SELECT Left(name, 2), Count(*) FROM t.csv GROUP BY Left(name, 2)");
    int groups = 0;
    for (; !result->atEnd(); result->next()) ++groups;
    EXPECT_EQ(groups, 7);
    EXPECT_GE(visited.load(), 16384u) << "counted in batches of 4096 rows";
    EXPECT_LE(visited.load(), 20000u);
}
