// The command-line runner against the sqlite3 shell on the same data.
#include "support/temp_folder.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringDecoder>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

namespace {

struct ProcessRun {
    int code;
    QByteArray out;
    QByteArray err;
};

ProcessRun runProcess(const QString& program, const QStringList& args, const QString& dir = {},
                      const QString& outputFile = {}) {
    QProcess p;
    if (!dir.isEmpty()) p.setWorkingDirectory(dir);
    if (!outputFile.isEmpty()) p.setStandardOutputFile(outputFile);
    p.start(program, args);
    p.waitForFinished(60000);
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

}  // namespace

TEST(TarloQuery, PrintsRowsHeaderAndFailures) {
    TempFolder folder;
    folder.writeText("t.csv", "a,b,c\n1,,x\n2,y,\n");
    folder.writeText("q~t.txt", "SELECT a, b, c FROM t#csv ORDER BY a;\r\ncaption=never sent;\r\n");
    ProcessRun r = runProcess(TARLO_QUERY_BINARY, {"-C", folder.path(), "--header", "-f", folder.file("q~t.txt")});
    EXPECT_EQ(r.code, 0) << r.err.constData();
    EXPECT_EQ(r.out, QByteArray("a\tb\tc\n1\t\tx\n2\ty\t\n"));

    r = runProcess(TARLO_QUERY_BINARY, {"-e", "SELECT count(*) FROM t#csv"}, folder.path());
    EXPECT_EQ(r.out, QByteArray("2\n"));

    r = runProcess(TARLO_QUERY_BINARY, {"-C", folder.path(), "-e", "SELECT * FROM none#csv"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(QString::fromUtf8(r.err).contains(QStringLiteral("none.csv"))) << r.err.constData();

    EXPECT_EQ(runProcess(TARLO_QUERY_BINARY, {}).code, 2);
    EXPECT_EQ(runProcess(TARLO_QUERY_BINARY, {"-e"}).code, 2);
    EXPECT_EQ(runProcess(TARLO_QUERY_BINARY, {"-x"}).code, 2);
}

// Placeholders keep a column of numbers numeric; --types names each
// column's type and what made a column of numbers text, with its line.
TEST(TarloQuery, TypesNameWhatMadeAColumnText) {
    TempFolder folder;
    folder.writeText("s.csv", "YEAR,VALUE,code,amt,note\n2020,100.25,001,5,a\n2021,.,002,\"1,2\",-\n2022,9.5,003,7,b\n"
                              "2023,#DIV/0!,abc,8,c\n");
    ProcessRun r = runProcess(TARLO_QUERY_BINARY, {"-C", folder.path(), "-e", "SELECT Max(VALUE), Count(VALUE), Count(note) FROM s#csv"});
    EXPECT_EQ(r.out, QByteArray("100.25\t2\t4\n")) << r.err.constData();
    r = runProcess(TARLO_QUERY_BINARY, {"-C", folder.path(), "--types", "s#csv"});
    EXPECT_EQ(r.code, 0) << r.err.constData();
    EXPECT_EQ(r.out, QByteArray("YEAR\tinteger\nVALUE\treal\ncode\ttext\namt\ttext\t\"1,2\" (line 3)\nnote\ttext\n"));
    r = runProcess(TARLO_QUERY_BINARY, {"-C", folder.path(), "--types", "none"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(QString::fromUtf8(r.err).contains(QStringLiteral("none.csv"))) << r.err.constData();
    EXPECT_EQ(runProcess(TARLO_QUERY_BINARY, {"--types", "s", "-e", "SELECT 1"}, folder.path()).code, 2);
}

TEST(TarloQuery, AgreesWithTheSqliteShell) {
    const QString shell = QStandardPaths::findExecutable("sqlite3");
    if (shell.isEmpty()) GTEST_SKIP() << "no sqlite3 shell installed";
    TempFolder folder;
    QString csv = "id,city,n\n";
    const char* cities[] = {"Tokyo", "Osaka", "Kobe"};
    for (int i = 1; i <= 500; ++i) csv += QString("%1,%2,%3\n").arg(i).arg(cities[i % 3]).arg((i * 37) % 101);
    folder.writeText("t.csv", csv);
    for (const char* sql : {"SELECT city, count(*), sum(n), min(id) FROM t GROUP BY city ORDER BY city",
                            "SELECT id, n FROM t WHERE n > 90 ORDER BY n DESC, id",
                            "SELECT a.id, b.id FROM t a JOIN t b ON a.n = b.id WHERE a.id < 20 ORDER BY 1"}) {
        const QString ours = QString(sql).replace(" t ", " t#csv ").replace(" t\n", " t#csv\n");
        const ProcessRun mine = runProcess(TARLO_QUERY_BINARY, {"-C", folder.path(), "-e", ours});
        const ProcessRun theirs = runProcess(shell, {"-cmd", ".import --csv " + folder.file("t.csv") + " t", "-cmd", ".mode tabs", ":memory:",
                                              QString(sql).replace("FROM t ", "FROM (SELECT CAST(id AS INTEGER) id, city, CAST(n AS INTEGER) n FROM t) ")
                                                  .replace("JOIN t ", "JOIN (SELECT CAST(id AS INTEGER) id, city, CAST(n AS INTEGER) n FROM t) ")});
        EXPECT_EQ(mine.code, 0) << mine.err.constData();
        EXPECT_EQ(mine.out, theirs.out) << sql << "\n" << theirs.err.constData();
    }
}

TEST(TarloQuery, FormatsEncodingsAndStandardInput) {
    TempFolder folder;
    folder.writeText("t.csv", "id,name\n1,東京\n2,\"a,b\"\n");
    // CSV in CP932 as Excel on Japanese Windows reads it, decoded back here.
    ProcessRun r = runProcess(TARLO_QUERY_BINARY, {"-C", folder.path(), "-e", "SELECT * FROM t#csv", "--format", "csv",
                                                   "--encoding", "cp932"});
    EXPECT_EQ(r.code, 0) << r.err.constData();
    QStringDecoder cp932("Shift_JIS");
    EXPECT_EQ(QString(cp932(r.out)), QStringLiteral("id,name\r\n1,東京\r\n2,\"a,b\"\r\n"));

    // A character CP932 cannot hold: named with its row; the rows before it are written and the
    // message says the output stops there.
    folder.writeText("e.csv", "id,name\n1,東京\n2,café\n3,x\n");
    r = runProcess(TARLO_QUERY_BINARY, {"-C", folder.path(), "-e", "SELECT * FROM e#csv", "--format", "csv", "--encoding", "cp932"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(QString(cp932(r.out)), QStringLiteral("id,name\r\n1,東京\r\n"));
    const QString err = QString::fromLocal8Bit(r.err);
    EXPECT_TRUE(err.contains(QStringLiteral("2 行目")) && err.contains(QStringLiteral("\"é\"")) &&
                err.contains(QStringLiteral("出力は途中までです (1 行まで")))
        << r.err.constData();

    // The statement from standard input, up to its ";".
    QProcess p;
    p.start(TARLO_QUERY_BINARY, {"-C", folder.path(), "--format", "json", "-"});
    p.write("SELECT id, name FROM t#csv WHERE id = 1; never run");
    p.closeWriteChannel();
    p.waitForFinished(60000);
    EXPECT_EQ(p.readAllStandardOutput(), QByteArray("[\n  {\"id\": 1, \"name\": \"東京\"}\n]\n"));

    EXPECT_EQ(runProcess(TARLO_QUERY_BINARY, {"--format", "xml", "-e", "SELECT 1"}).code, 2);
    EXPECT_EQ(runProcess(TARLO_QUERY_BINARY, {"--encoding", "cp932", "--bom", "-e", "SELECT 1"}).code, 2);
    const ProcessRun help = runProcess(TARLO_QUERY_BINARY, {"--help"});
    EXPECT_EQ(help.code, 0);
    for (const char* option : {"--format", "--encoding", "--bom", "--header", "-f", "-e", "example"})
        EXPECT_TRUE(help.out.contains(option)) << option;
}

TEST(TarloQuery, AFolderThatCannotBeReadStopsNamingIt) {
    TempFolder folder;
    const QString file = folder.writeText("t.csv", "a\n1\n");
    const QString missing = folder.file("none");
    for (const QString& dir : {missing, file}) {
        const ProcessRun r = runProcess(TARLO_QUERY_BINARY, {"-C", dir, "-e", "SELECT 1"});
        EXPECT_EQ(r.code, 1) << dir.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(QString::fromLocal8Bit(r.err).contains("\"" + dir + "\"")) << r.err.constData();
    }
    // Root reads any folder whatever its mode.
    if (::geteuid() != 0) {
        folder.mkdir("locked");
        QFile::setPermissions(folder.file("locked"), QFileDevice::WriteOwner);
        const ProcessRun r = runProcess(TARLO_QUERY_BINARY, {"-C", folder.file("locked"), "-e", "SELECT 1"});
        QFile::setPermissions(folder.file("locked"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(QString::fromLocal8Bit(r.err).contains(folder.file("locked"))) << r.err.constData();
    }
}

TEST(TarloQuery, OutputThatCannotBeWrittenFailsInEveryFormat) {
    TempFolder folder;
    QByteArray csv = "id,name\n";
    for (int i = 1; i <= 200000; ++i) csv += QByteArray::number(i) + ",名前" + QByteArray::number(i % 977) + "\n";
    folder.write("big.csv", csv);
    folder.writeText("one.csv", "id,name\n1,東京\n");
    for (const char* table : {"one#csv", "big#csv"}) {
        for (const char* format : {"tsv", "csv", "json", "markdown"}) {
            for (const char* encoding : {"utf-8", "cp932"}) {
                const ProcessRun r = runProcess(TARLO_QUERY_BINARY,
                                                {"-C", folder.path(), "--format", format, "--encoding", encoding, "-e",
                                                 QStringLiteral("SELECT * FROM %1").arg(table)},
                                                {}, "/dev/full");
                EXPECT_EQ(r.code, 1) << table << " " << format << " " << encoding;
                EXPECT_TRUE(QString::fromLocal8Bit(r.err).contains(QStringLiteral("標準出力に書けません")))
                    << r.err.constData();
            }
        }
    }
}

TEST(TarloQuery, Cp932OutputIsWrittenAsTheRowsCome) {
    // An endless result under a bound on memory: the output has to start long before any end.
    QProcess p;
    p.setChildProcessModifier([] {
        const rlimit bound{rlim_t(512) << 20, rlim_t(512) << 20};
        ::setrlimit(RLIMIT_AS, &bound);
    });
    p.start(TARLO_QUERY_BINARY, {"--encoding", "cp932", "-e",
                                 "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x, '東京' FROM c"});
    QByteArray out;
    while (out.size() < (8 << 20) && p.waitForReadyRead(60000)) out += p.readAllStandardOutput();
    const QByteArray err = p.readAllStandardError();
    p.kill();
    p.waitForFinished(60000);
    EXPECT_GE(out.size(), 8 << 20) << err.constData();
    EXPECT_TRUE(out.startsWith("1\t\x93\x8C\x8B\x9E\n2\t\x93\x8C\x8B\x9E\n")) << out.left(40).toHex(' ').constData();
}

TEST(TarloQuery, ANulInTheStatementIsRefusedWithItsPlace) {
    TempFolder folder;
    folder.writeText("t.csv", "v1,v2\n1,2\n1,3\n");
    const QByteArray statement("SELECT * FROM t#csv WHERE v1 = 1\0 AND v2 = 2", 44);
    QProcess p;
    p.start(TARLO_QUERY_BINARY, {"-C", folder.path(), "-"});
    p.write(statement);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardError()).contains(QStringLiteral("1 行目 33 文字目に NUL")));

    // From a query file: the NUL stays through the load, on the line it stands.
    const QString query = folder.write("q~n.txt", QByteArray("SELECT *\r\nFROM t#csv\r\nWHERE v1 = 1\0 AND v2 = 2;\r\n", 49));
    const ProcessRun r = runProcess(TARLO_QUERY_BINARY, {"-C", folder.path(), "-f", query});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(QString::fromLocal8Bit(r.err).contains(QStringLiteral("3 行目 13 文字目に NUL"))) << r.err.constData();
}
