// Table names that name a pipe or a device, which only a POSIX folder holds.
#include "support/run_sql.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

TEST(EnginePosix, APipeOrADeviceNamedLikeATableIsSaidToBeOne) {
    TempFolder folder;
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder.file("pipe.csv")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), folder.file("null.csv")));
    const QString pipe = failureOf(folder.path(), QStringLiteral("SELECT * FROM pipe.csv"));
    EXPECT_TRUE(pipe.startsWith(QStringLiteral("テーブル \"pipe.csv\" はパイプです (SQL 文の 1 行目 15 文字目)。"))) << pipe.toStdString();
    const QString device = failureOf(folder.path(), QStringLiteral("SELECT * FROM [NULL.CSV]"));
    EXPECT_TRUE(device.startsWith(QStringLiteral("テーブル \"NULL.CSV\" は装置のファイルです (SQL 文の 1 行目 15 文字目)。"))) << device.toStdString();
}
