#include "values/column_types.h"

#include <gtest/gtest.h>

using tarlo::ColumnType;

namespace {
ColumnType typeOf(std::initializer_list<const char*> values) {
    tarlo::TypeInference t;
    for (const char* v : values) t.add(v);
    return t.type();
}
}  // namespace

TEST(ColumnTypes, FromEveryValueOfTheColumn) {
    struct Case {
        std::initializer_list<const char*> values;
        ColumnType type;
    } cases[] = {
        {{"1", "-20", "", "300"}, ColumnType::Integer},
        {{"1", "2.5", "-0.125"}, ColumnType::Real},
        {{"007", "8"}, ColumnType::Text},                 // a leading zero keeps codes text
        {{"0123-45"}, ColumnType::Text},
        {{"0", "0.5"}, ColumnType::Real},
        {{"1", "2", "x"}, ColumnType::Text},              // one stray value makes the column text
        {{"9223372036854775807"}, ColumnType::Integer},
        {{"9223372036854775808"}, ColumnType::Text},      // past 64 bits, and too many digits for a real
        {{"1.2345678901234567"}, ColumnType::Text},       // a real would change it
        {{"-0"}, ColumnType::Text},
        {{"+5"}, ColumnType::Text},
        {{"1e5"}, ColumnType::Text},
        {{"2024/01/31", "2024-2-29", "2023/1/5"}, ColumnType::Date},
        {{"2024/01/31 10:00", "2024/02/01 00:00:00", "2024/02/02"}, ColumnType::DateTime},
        {{"2023/02/29"}, ColumnType::Text},               // no such day
        {{"2024/13/01"}, ColumnType::Text},
        {{"2024/01/31 24:00"}, ColumnType::Text},
        {{"", ""}, ColumnType::Text},
    };
    for (const Case& c : cases) EXPECT_EQ(typeOf(c.values), c.type) << *c.values.begin();
}

TEST(ColumnTypes, ValueTexts) {
    EXPECT_EQ(tarlo::formatReal(0.1 + 0.2), "0.3");
    EXPECT_EQ(tarlo::formatReal(2.50), "2.5");
    EXPECT_EQ(tarlo::formatReal(683.0), "683");
    EXPECT_EQ(tarlo::formatReal(-0.0), "0");
    EXPECT_EQ(tarlo::formatReal(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(tarlo::formatReal(123456789012345.0), "123456789012345");
    const auto midnight = tarlo::readDateText("2024-1-5");
    ASSERT_TRUE(midnight && !midnight->hasTime);
    EXPECT_EQ(tarlo::formatDateTime(midnight->packed, true), "2024/01/05");
    const auto morning = tarlo::readDateText("2024/1/5 9:05");
    ASSERT_TRUE(morning && morning->hasTime);
    EXPECT_EQ(tarlo::formatDateTime(morning->packed, true), "2024/01/05 09:05:00");
    EXPECT_EQ(tarlo::formatDateTime(morning->packed, false), "2024/01/05");
}

TEST(Dates, PackedValuesOrderAsTheMomentsTheyStandFor) {
    const tarlo::DateParts parts{2024, 2, 29, 23, 59, 58};
    EXPECT_EQ(tarlo::unpackDate(tarlo::packDate(parts)).day, 29);
    EXPECT_EQ(tarlo::unpackDate(tarlo::packDate(parts)).second, 58);
    EXPECT_LT(tarlo::packDate({2024, 2, 29, 23, 59, 58}), tarlo::packDate({2024, 3, 1, 0, 0, 0}));
    EXPECT_LT(tarlo::packDate({999, 12, 31, 0, 0, 0}), tarlo::packDate({1000, 1, 1, 0, 0, 0}));
    // The packed date, its serial day and back again.
    const int64_t packed = tarlo::packDate({1900, 3, 1, 12, 0, 0});
    EXPECT_DOUBLE_EQ(tarlo::serialOf(packed), 61.5);
    EXPECT_EQ(tarlo::packedOfSerial(61.5), packed);
    for (const char* bad : {"2024/02/30", "2024/1/5 9:5", "2024/01-05", "24/01/05", "2024/01/05 "})
        EXPECT_FALSE(tarlo::readDateText(bad)) << bad;
}
