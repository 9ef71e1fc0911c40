// What the planner is told of a column's keys: uniqueness only where no two
// rows share a key by the engine's equality, and a fair rows-per-key figure
// for a table too large to count exactly.
#include "csv/csv_table.h"

#include <gtest/gtest.h>

namespace {

using tarlo::CsvTable;

std::shared_ptr<const CsvTable> table(const std::string& text) { return CsvTable::fromUtf8(text, "t.csv", {}); }

}  // namespace

TEST(KeySpread, UniqueOnlyWhereNoTwoRowsShareAKey) {
    // Columns: codes that differ only as written ("007" is not "7"), texts
    // equal but for case, reals spelled two ways, a key with nulls around it,
    // and integers with one repeat.
    const auto t = table("code,name,amount,sparse,id\n"
                         "007,Alice,1,,1\n"
                         "7,alice,1.0,5,2\n"
                         "0007,Bob,2.5,,3\n"
                         "x7,Carol,3,6,3\n");
    EXPECT_TRUE(t->keySpreadOf(0).unique);
    EXPECT_EQ(t->keySpreadOf(0).rowsPerKey, 1);
    EXPECT_FALSE(t->keySpreadOf(1).unique);  // Alice = alice
    EXPECT_FALSE(t->keySpreadOf(2).unique);  // 1 = 1.0
    EXPECT_TRUE(t->keySpreadOf(3).unique);   // nulls are no key
    EXPECT_FALSE(t->keySpreadOf(4).unique);
    // Rows 3 and 4 share id 3: two of the four rows find two.
    EXPECT_DOUBLE_EQ(t->keySpreadOf(4).rowsPerKey, (1 + 1 + 2 + 2) / 4.0);
}

TEST(KeySpread, LargeTablesAreEstimatedFromASampleSortedOrNot) {
    const size_t rows = CsvTable::kExactSpreadRows * 2;
    std::string spread = "key,group,sorted\n";
    for (size_t i = 0; i < rows; ++i)
        spread += std::to_string(i) + "," + std::to_string(i * 7919 % 1000) + "," + std::to_string(i * 1000 / rows) + "\n";
    const auto t = table(spread);
    const double perKey = double(rows) / 1000;
    EXPECT_LT(t->keySpreadOf(0).rowsPerKey, 2);
    EXPECT_FALSE(t->keySpreadOf(0).unique);  // a sample proves nothing
    for (size_t column : {1, 2}) {
        EXPECT_GT(t->keySpreadOf(column).rowsPerKey, perKey / 2) << column;
        EXPECT_LT(t->keySpreadOf(column).rowsPerKey, perKey * 2) << column;
    }
}
