#include "values/column_types.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <random>
#include <string>

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
        {{"9223372036854775808"}, ColumnType::Real},      // past 64 bits
        {{"-9223372036854775808", "1"}, ColumnType::Integer},
        {{"1.2345678901234567"}, ColumnType::Real},       // shown as the file spells it
        // Every spelling writers produce is a number.
        {{"-0"}, ColumnType::Integer},
        {{"+5", " 7", "8 "}, ColumnType::Integer},
        {{"1,234,567", "-1,000", "999"}, ColumnType::Integer},
        {{"1e5"}, ColumnType::Real},
        {{"9.5e-4", ".5", "1.", "-.25E+2"}, ColumnType::Real},
        {{"1,23"}, ColumnType::Text},                     // no group of three
        {{"1,2345"}, ColumnType::Text},
        {{"1234,567"}, ColumnType::Text},
        {{",123"}, ColumnType::Text},
        {{"0,123"}, ColumnType::Text},                    // a leading zero: a code
        {{"1e"}, ColumnType::Text},
        {{"."}, ColumnType::Text},                        // a placeholder alone: no value at all
        {{"+"}, ColumnType::Text},
        {{"1 000"}, ColumnType::Text},
        {{"1e400"}, ColumnType::Text},                    // no real holds it
        // Null tokens are nulls among numbers and dates, and text alone.
        {{"1", "NA", "n/a", "#N/A", "null", "  "}, ColumnType::Integer},
        {{"2024/01/05", "N/A"}, ColumnType::Date},
        {{"NA", "N/A"}, ColumnType::Text},
        {{"NA", "x"}, ColumnType::Text},
        // So are the placeholders of statistics tables and spreadsheets: marks alone, NaN, errors.
        {{"100.25", ".", "-", "--", "*", "?", "…", "－", " - ", "NaN", "#DIV/0!", "#value!", "#REF!", "#NAME?", "9.5"},
         ColumnType::Real},
        {{"2024/01/05", "-", "#VALUE!"}, ColumnType::Date},
        {{"1", "-1", "x"}, ColumnType::Text},             // a word is no placeholder
        {{"1", "-x"}, ColumnType::Text},
        {{"1", "#DIV/0"}, ColumnType::Text},
        {{"1", "N.A."}, ColumnType::Text},
        {{"2024/01/31", "2024-2-29", "2023/1/5"}, ColumnType::Date},
        // Times of day alone, with AM or PM, are a time column; beside dates, date-times.
        {{"9:00", "13:30:15", "1:30 PM", "12:00 am", "NA"}, ColumnType::Time},
        {{"2024/01/31", "9:00"}, ColumnType::DateTime},
        {{"9:00", "25:00"}, ColumnType::Text},
        {{"9:5"}, ColumnType::Text},
        {{"13:00 PM"}, ColumnType::Text},
        {{"2024/01/31 10:00", "2024/02/01 00:00:00", "2024/02/02"}, ColumnType::DateTime},
        {{"2023/02/29"}, ColumnType::Text},               // no such day
        {{"2024/13/01"}, ColumnType::Text},
        {{"2024/01/31 24:00"}, ColumnType::Text},
        {{"2024-01-05T13:04:05", "2024-01-05T13:04:05.125Z", "2024-01-05T13:04:05+09:00", "2024-01-05T13:04"},
         ColumnType::DateTime},
        {{" 2024-01-05 "}, ColumnType::Date},
        {{"2024/01/05T13:04:05"}, ColumnType::Text},     // the "T" belongs to the ISO spelling
        {{"2024-01-05T1:04:05"}, ColumnType::Text},
        {{"2024-01-05T13:04:05+25:00"}, ColumnType::Text},
        {{"", ""}, ColumnType::Text},
    };
    for (const Case& c : cases) EXPECT_EQ(typeOf(c.values), c.type) << *c.values.begin();
}

TEST(Numbers, ReadInEverySpelling) {
    struct Case {
        const char* text;
        bool integer;
        double value;
    } cases[] = {
        {"1,234,567", true, 1234567}, {"+5", true, 5},       {" -12 ", true, -12},  {".5", false, 0.5},
        {"1.", false, 1},             {"-.5e1", false, -5}, {"9.5e-4", false, 9.5e-4}, {"-0", true, 0},
        {"12,345.5", false, 12345.5}, {"1E3", false, 1000},
    };
    for (const Case& c : cases) {
        const auto n = tarlo::readNumberText(c.text);
        ASSERT_TRUE(n) << c.text;
        EXPECT_EQ(n->integer, c.integer) << c.text;
        EXPECT_DOUBLE_EQ(n->real, c.value) << c.text;
    }
    EXPECT_EQ(tarlo::readNumberText("0.30000000000000004")->significantDigits, 17);
    EXPECT_EQ(tarlo::readNumberText("0.00120")->significantDigits, 3);
    EXPECT_EQ(tarlo::readNumberText("120.")->significantDigits, 3);
}

// Looking at a column's values for its type alone decides what reading
// them does, whatever the mix: codes with leading zeros, signs, blanks,
// null tokens, dates, long digits and texts among the plain numbers.
TEST(ColumnTypes, NotingGivesTheTypeReadingGives) {
    const char* spellings[] = {"12", "-3", "0", "-0", "007", "0.5", "-12.25", "1.", ".5", "1e3", " 4", "5 ", "NA", "",
                               "2024/01/05", "2024-01-05 10:00", "abc", "1,234", "123456789012345678", "1234567890123456789",
                               "0.1234567890123", "1.23456789012345678", "00.5", "-", "--1", "1.2.3", "9.", "-0.0"};
    std::mt19937 random(3);
    for (int round = 0; round < 5000; ++round) {
        tarlo::TypeInference read, noted;
        const int count = 1 + int(random() % 4);
        std::string values;
        for (int i = 0; i < count; ++i) {
            const char* v = spellings[random() % std::size(spellings)];
            read.add(v);
            noted.note(v);
            values += std::string(v) + "|";
        }
        ASSERT_EQ(read.type(), noted.type()) << values;
        ASSERT_EQ(read.decided(), noted.decided()) << values;
    }
}

// Plain decimals of every length read to the very double the standard
// library's correctly rounded reading gives, and -0.0 keeps its sign.
TEST(Numbers, PlainDecimalsReadAsTheLibraryReadsThem) {
    std::mt19937_64 random(5);
    for (int i = 0; i < 200000; ++i) {
        std::string text = random() % 2 ? "-" : "";
        const int whole = 1 + int(random() % 18), fraction = 1 + int(random() % 24);
        text += char('1' + random() % 9);
        for (int d = 1; d < whole; ++d) text += char('0' + random() % 10);
        text += '.';
        for (int d = 0; d < fraction; ++d) text += char('0' + random() % 10);
        if (i % 4 == 0) text[text.find('.') - 1] = '0';  // also under one, and "0.0..."
        const auto n = tarlo::readNumberText(text);
        ASSERT_TRUE(n) << text;
        double expected = 0;
        std::from_chars(text.data(), text.data() + text.size(), expected);
        ASSERT_EQ(n->real, expected) << text;
    }
    EXPECT_TRUE(std::signbit(tarlo::readNumberText("-0.0")->real));
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
