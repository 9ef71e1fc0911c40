// A large file read for the columns a statement names: the others are
// left unread, and a later wish for one reads the file again with both,
// so no column is ever read as nulls.
#include "csv/csv_table.h"
#include "csv/table_cache.h"
#include "platform/parallel.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tarlo::ColumnWish;

// Over 16 MB, so that it is read in pieces; a quoted header of mixed case.
QByteArray bigFile(int rows) {
    QByteArray text = "\"id\",\"Name\",amount,\"no\"\"te\"\r\n";
    const QByteArray filler(60, 'x');
    for (int i = 0; i < rows; ++i)
        text += QByteArray::number(i) + ",n" + QByteArray::number(i % 7) + "," + QByteArray::number(i % 100) + "," + filler + "\r\n";
    return text;
}

int64_t sumOf(const tarlo::CsvTable& t, size_t column) {
    int64_t sum = 0;
    for (size_t r = 0; r < t.rowCount(); ++r) sum += t.cell(r, column).integer;
    return sum;
}

}  // namespace

TEST(ColumnWish, OnlyTheWishedColumnsAreReadAndAMissingOneIsReadAgain) {
    TempFolder folder;
    const int rows = 230000;
    folder.write(QStringLiteral("big.csv"), bigFile(rows));
    const QString path = folder.file(QStringLiteral("big.csv"));
    tarlo::TableCache cache(size_t(1) << 30);
    const auto first = cache.get(path, {}, ColumnWish{false, {"AMOUNT", "select"}});
    ASSERT_EQ(first->rowCount(), size_t(rows));
    EXPECT_EQ(first->columnNames(), (std::vector<std::string>{"id", "Name", "amount", "no\"te"}));
    EXPECT_EQ(first->columnTypes()[2], tarlo::ColumnType::Integer);
    EXPECT_EQ(sumOf(*first, 2), int64_t(rows / 100) * 4950);
    EXPECT_TRUE(first->hasLoaded(ColumnWish{false, {"amount"}}));
    if (tarlo::coreCount() > 1) {
        EXPECT_FALSE(first->hasLoaded(ColumnWish{false, {"name"}}));
        EXPECT_FALSE(first->hasLoaded(ColumnWish{}));
    }

    // The cached table serves what it holds; a name it lacks reads the file again, with both.
    EXPECT_EQ(cache.get(path, {}, ColumnWish{false, {"amount"}}), first);
    const auto second = cache.get(path, {}, ColumnWish{false, {"name", "no\"te"}});
    EXPECT_TRUE(second->hasLoaded(ColumnWish{false, {"amount", "Name", "no\"te"}}));
    EXPECT_EQ(sumOf(*second, 2), sumOf(*first, 2));
    EXPECT_EQ(second->displayText(rows - 1, 1), "n" + std::to_string((rows - 1) % 7));
    EXPECT_EQ(second->displayText(3, 3), std::string(60, 'x'));
    EXPECT_EQ(cache.get(path, {}, ColumnWish{false, {"amount", "name"}}), second);

    // Every column for * and the like.
    const auto all = cache.get(path, {}, ColumnWish{});
    EXPECT_TRUE(all->hasLoaded(ColumnWish{}));
    EXPECT_EQ(sumOf(*all, 0), int64_t(rows) * (rows - 1) / 2);
}
