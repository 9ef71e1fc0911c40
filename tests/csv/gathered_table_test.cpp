// A table gathered from other tables' columns as a join pairs their rows:
// each value, null and spelling as its source row has it, and the codes a
// source had built keeping their meaning row by row.
#include "csv/csv_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tarlo::CsvTable;

std::string shown(const CsvTable& t, size_t row, size_t column) {
    const tarlo::Cell c = t.cell(row, column);
    return t.isNull(column, c) ? "<null>" : t.displayText(row, column);
}

}  // namespace

TEST(GatheredTable, RowsComeFromTheirSourcesAndNoRowIsNull) {
    const auto sales = CsvTable::fromUtf8("id,store,amount\n1,S1,10.5\n2,s2,7\n3,,0.12345678901234567\n4,S1,\n",
                                          "sales.csv");
    const auto stores = CsvTable::fromUtf8("code,region,rank\nS1,東,1\nS2,西,2\nS9,北,3\n", "stores.csv");
    // Sales 1..4 paired with stores S1, S2, none, S1; then store S9 alone (a row no sale has).
    const std::vector<uint32_t> saleRows = {0, 1, 2, 3, CsvTable::kNoRow};
    const std::vector<uint32_t> storeRows = {0, 1, CsvTable::kNoRow, 0, 2};
    const auto joined = CsvTable::gathered({{sales.get(), 1, saleRows.data(), "store"},
                                            {sales.get(), 2, saleRows.data(), "amount"},
                                            {stores.get(), 1, storeRows.data(), "region", true},
                                            {stores.get(), 2, storeRows.data(), "rank"}},
                                           saleRows.size());
    ASSERT_EQ(joined->rowCount(), 5u);
    EXPECT_EQ(joined->columnNames(), (std::vector<std::string>{"store", "amount", "region", "rank"}));
    EXPECT_EQ(joined->columnTypes()[1], tarlo::ColumnType::Real);
    const std::vector<std::vector<std::string>> expected = {
        {"S1", "10.5", "東", "1"},
        {"s2", "7", "西", "2"},
        {"<null>", "0.12345678901234567", "<null>", "<null>"},
        {"S1", "<null>", "東", "1"},
        {"<null>", "<null>", "北", "3"},
    };
    for (size_t r = 0; r < expected.size(); ++r)
        for (size_t c = 0; c < 4; ++c) EXPECT_EQ(shown(*joined, r, c), expected[r][c]) << r << "," << c;

    // The region's codes are the stores' own, row by row; a code no row took shows nothing.
    const CsvTable::ValueCodes& source = stores->codesOf(1);
    const CsvTable::ValueCodes& codes = joined->codesOf(2);
    EXPECT_EQ(codes.width, source.width);
    for (size_t r = 0; r < storeRows.size(); ++r) {
        const uint32_t expectedCode = storeRows[r] == CsvTable::kNoRow ? 0 : source.codes[storeRows[r]];
        EXPECT_EQ(codes.codes[r], expectedCode) << r;
        if (expectedCode) {
            EXPECT_EQ(joined->textOf(codes.cellOfCode[expectedCode]), expected[r][2]);
        }
    }
}

TEST(GatheredTable, ACancelStopsTheGathering) {
    std::string text = "k\n";
    for (int i = 0; i < 200000; ++i) text += std::to_string(i % 7) + "\n";
    const auto table = CsvTable::fromUtf8(text, "t.csv");
    std::vector<uint32_t> rows(table->rowCount());
    for (uint32_t r = 0; r < rows.size(); ++r) rows[r] = r;
    std::atomic<bool> stop{true};
    EXPECT_THROW(CsvTable::gathered({{table.get(), 0, rows.data(), "k"}}, rows.size(), &stop), tarlo::Cancelled);
}
