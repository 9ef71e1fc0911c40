#include "platform/error.h"
#include "support/temp_folder.h"
#include "csv/table_file.h"
#include "workspace/table_header.h"

#include <gtest/gtest.h>

namespace {
QStringList headerOf(const QByteArray& bytes) {
    TempFolder folder;
    return tarlo::readTableHeader(folder.write("t.csv", bytes));
}

QString errorOf(const QString& path) {
    try {
        tarlo::readTableHeader(path);
    } catch (const tarlo::Error& e) {
        return e.message();
    }
    return {};
}
}  // namespace

TEST(TableHeader, SplitsAtEveryCommaAndNumbersTheItems) {
    EXPECT_EQ(headerOf("id,name,,x,\r\n1,2,3,4,5\r\n"),
              (QStringList{"F01\tid", "F02\tname", "F03\t", "F04\tx", "F05\t"}));
    EXPECT_EQ(headerOf(""), QStringList{"F01\t"});
    EXPECT_EQ(headerOf(" id , \"a,b\"\n"), (QStringList{"F01\tid", "F02\t\"a", "F03\tb\""}));

    QByteArray wide;
    for (int i = 1; i <= 100; ++i) wide += (i > 1 ? "," : "") + QByteArray::number(i);
    const QStringList items = headerOf(wide);
    ASSERT_EQ(items.size(), 100);
    EXPECT_EQ(items[98], QStringLiteral("F99\t99"));
    EXPECT_EQ(items[99], QStringLiteral("F100\t100"));
}

// A repeated name shows as the engine names its column: copied into a
// statement, it selects that column and not the file's column of that name.
TEST(TableHeader, RepeatedNamesShowAsTheEngineNamesThem) {
    EXPECT_EQ(headerOf("id,ID,ID1\n"), (QStringList{"F01\tid", "F02\tID2", "F03\tID1"}));
    EXPECT_EQ(headerOf("\"a\",a,,\n"), (QStringList{"F01\t\"a\"", "F02\ta1", "F03\t", "F04\t"}));
}

TEST(TableHeader, FirstLineEndsAtLfEndOfFileOrCode26) {
    EXPECT_EQ(headerOf("a,b\r\nc"), (QStringList{"F01\ta", "F02\tb"}));
    EXPECT_EQ(headerOf("a,b\nc"), (QStringList{"F01\ta", "F02\tb"}));
    EXPECT_EQ(headerOf("a,b\x1a" "c,d"), (QStringList{"F01\ta", "F02\tb"}));
    EXPECT_EQ(headerOf("a\rb,c\n"), (QStringList{"F01\tab", "F02\tc"}));  // a lone CR is left out
}

TEST(TableHeader, DecodesLikeEveryTextFile) {
    EXPECT_EQ(headerOf("\x8e\x81\x96\xbc,\x95\x94\x8f\x90\r\n"), (QStringList{"F01\t氏名", "F02\t部署"}));
    EXPECT_EQ(headerOf("\xEF\xBB\xBFid,名前\n"), (QStringList{"F01\tid", "F02\t名前"}));
    EXPECT_EQ(headerOf(QByteArray("\xFF\xFEi\0d\0,\0x\0\n\0z\0", 14)), (QStringList{"F01\tid", "F02\tx"}));
}

TEST(TableHeader, FailuresCarryTheRuntimesTexts) {
    TempFolder folder;
    EXPECT_EQ(errorOf(folder.file("none.csv")), QStringLiteral("ファイルが見つかりません"));
    EXPECT_EQ(errorOf(folder.path()), QStringLiteral("ファイルへのアクセスが拒否されました"));
    EXPECT_EQ(errorOf(unreadableFilePath()), QStringLiteral("I/O エラー (5)"));
    const QString longPath = folder.path() + QString(260, QLatin1Char('x'));
    EXPECT_TRUE(errorOf(longPath).startsWith(QStringLiteral("テーブルのパスが長すぎます"))) << errorOf(longPath).toStdString();
}

TEST(TableHeader, CopiedNameLosesItsQuotes) {
    struct Case {
        const char* item;
        const char* copied;
    } cases[] = {
        {"F01\tid", "id"},
        {"F02\t\"name\"", "name"},
        {"F03\t\"say \"\"hi\"\"\" tail", "say \"hi\""},
        {"F04\t\"open", "\"open"},       // never closed: as it stands
        {"F05\t\"\"", "\"\""},           // nothing inside: unchanged
        {"F06\t", ""},
        {" \t ", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tarlo::columnNameForCopy(QString::fromUtf8(c.item)), QString::fromUtf8(c.copied)) << c.item;
}

TEST(TableFile, ExactNameThenTheSingleCaseInsensitiveMatch) {
    TempFolder folder;
    folder.write("Sales.csv", "a");
    EXPECT_EQ(tarlo::resolveTableFile(folder.path(), "Sales.csv"), folder.file("Sales.csv"));
    EXPECT_EQ(tarlo::resolveTableFile(folder.path(), "sales.CSV").compare(folder.file("Sales.csv"), Qt::CaseInsensitive), 0);
    EXPECT_EQ(tarlo::resolveTableFile(folder.path(), "none.csv"), folder.file("none.csv"));
#ifndef Q_OS_WIN  // names that differ in case only are one file there
    EXPECT_EQ(tarlo::resolveTableFile(folder.path(), "sales.CSV"), folder.file("Sales.csv"));
    folder.write("dup.csv", "a");
    folder.write("DUP.csv", "a");
    EXPECT_EQ(tarlo::resolveTableFile(folder.path(), "dup.csv"), folder.file("dup.csv"));
    EXPECT_THROW(tarlo::resolveTableFile(folder.path(), "Dup.csv"), tarlo::Error);
#endif
    for (const char* outside : {"../x.csv", "/etc/passwd", "..", "sub/x.csv"})
        EXPECT_THROW(tarlo::resolveTableFile(folder.path(), outside), tarlo::Error) << outside;
}

TEST(TableHeader, ALongFirstLineIsReadOnceAndRefusedPastItsBound) {
    TempFolder folder;
    // 3 MB of names, then the data: read in one pass.
    QByteArray wide = "a";
    for (int i = 0; i < 300000; ++i) wide += ",column" + QByteArray::number(i % 10);
    folder.write("wide.csv", wide + "\n1\n");
    EXPECT_EQ(tarlo::readTableHeader(folder.file("wide.csv")).size(), 300001);
    // No line break within 16 MB (CR alone ends no line here): refused, not read whole.
    folder.write("cr.csv", QByteArray(20 << 20, 'x').replace(1000, 1, "\r"));
    try {
        (void)tarlo::readTableHeader(folder.file("cr.csv"));
        ADD_FAILURE() << "read";
    } catch (const tarlo::Error& e) {
        EXPECT_TRUE(e.message().contains("1 行目が長すぎます")) << e.message().toStdString();
    }
}
