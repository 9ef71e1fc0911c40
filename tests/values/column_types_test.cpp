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
    const int64_t midnight = tarlo::parseDateTime("2024-1-5");
    EXPECT_EQ(tarlo::formatDateTime(midnight, true), "2024/01/05");
    EXPECT_EQ(tarlo::formatDateTime(tarlo::parseDateTime("2024/1/5 9:05"), true), "2024/01/05 09:05:00");
}
