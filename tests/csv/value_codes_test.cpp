// A text column's value codes and order, on tables big enough to be built on
// every core: checked row by row against orders worked out here.
#include "csv/csv_table.h"
#include "values/case_folding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

// Rows of one text column: spellings drawn from a few hundred, some in
// several cases and scripts, with empty (null) fields among them.
std::vector<std::string> textColumn(size_t rows, bool caseTwins, unsigned seed) {
    std::vector<std::string> spellings;
    for (int i = 0; i < 300; ++i) spellings.push_back("id" + std::to_string(i * 7919 % 1000));
    for (const char* s : {"東京", "大阪", "ｶﾀｶﾅ", "ä", "zeta", "Zebra", "a long spelling of more than sixteen bytes"})
        spellings.push_back(s);
    if (caseTwins) spellings.insert(spellings.end(), {"ID7", "Id7", "ZETA", "Ä"});
    std::mt19937 random(seed);
    std::vector<std::string> out(rows);
    for (std::string& v : out) v = random() % 50 == 0 ? std::string() : spellings[random() % spellings.size()];
    return out;
}

std::shared_ptr<const tarlo::CsvTable> tableOf(const std::vector<std::string>& column) {
    std::string text = "k,n\n";
    for (size_t i = 0; i < column.size(); ++i) text += column[i] + "," + std::to_string(i) + "\n";
    return tarlo::CsvTable::fromUtf8(text, "t.csv", {});
}

class ValueCodes : public testing::TestWithParam<bool> {};

TEST_P(ValueCodes, FollowTheCollationAndTheSpellingsOnEveryCore) {
    const bool twins = GetParam();
    const std::vector<std::string> column = textColumn(150000, twins, twins ? 7 : 11);
    const auto table = tableOf(column);
    ASSERT_EQ(table->columnTypes()[0], tarlo::ColumnType::Text);
    const tarlo::CsvTable::ValueCodes& codes = table->codesOf(0);
    ASSERT_EQ(codes.codes.size(), column.size());
    EXPECT_EQ(codes.caseTwins, twins);

    // Codes number the distinct spellings in the collation's order, 0 for null.
    std::map<std::string, uint32_t> codeOf;
    for (size_t r = 0; r < column.size(); ++r) {
        if (column[r].empty()) {
            ASSERT_EQ(codes.codes[r], 0u) << "row " << r;
            continue;
        }
        const auto [it, added] = codeOf.try_emplace(column[r], codes.codes[r]);
        ASSERT_EQ(it->second, codes.codes[r]) << "row " << r << ": " << column[r];
    }
    std::vector<std::pair<uint32_t, std::string>> byCode;
    for (const auto& [spelling, code] : codeOf) byCode.emplace_back(code, spelling);
    std::sort(byCode.begin(), byCode.end());
    EXPECT_EQ(codes.width, codeOf.size() + 1);
    for (size_t k = 0; k < byCode.size(); ++k) {
        EXPECT_EQ(byCode[k].first, k + 1);
        if (k > 0) {
            EXPECT_LE(tarlo::compareIgnoringCase(byCode[k - 1].second, byCode[k].second), 0) << byCode[k].second;
        }
        EXPECT_EQ(table->textOf(codes.cellOfCode[byCode[k].first]), byCode[k].second);
    }

    // The order: nulls first, then by the collation, equal values in file order.
    std::vector<uint32_t> expected(column.size());
    std::iota(expected.begin(), expected.end(), 0u);
    std::stable_sort(expected.begin(), expected.end(), [&](uint32_t a, uint32_t b) {
        if (column[a].empty() || column[b].empty()) return column[a].empty() && !column[b].empty();
        return tarlo::compareIgnoringCase(column[a], column[b]) < 0;
    });
    EXPECT_EQ(table->rowsInOrder(0), expected);
}

INSTANTIATE_TEST_SUITE_P(CaseTwins, ValueCodes, testing::Bool());

// Integer codes are the values' ranks whatever bytes they are kept in: one
// for up to 255 values, two for up to 65,535, else four.
TEST(IntegerCodes, AreTheValuesRanksInEveryWidth) {
    std::mt19937 random(5);
    for (const auto& [distinct, bytes] : {std::pair{200u, 1u}, {3000u, 2u}, {90000u, 4u}}) {
        std::vector<int64_t> values(160000);
        const int64_t apart = distinct == 3000 ? 3 : 1000003;  // a narrow range is counted, a wide one sorted
        for (int64_t& v : values) v = int64_t(random() % distinct) * apart - 7;
        std::string text = "k\n";
        for (const int64_t v : values) text += std::to_string(v) + "\n";
        const auto table = tarlo::CsvTable::fromUtf8(text, "t.csv", {});
        const tarlo::CsvTable::ValueCodes& codes = table->codesOf(0);
        EXPECT_EQ(codes.codes.bytes(), bytes);
        std::vector<int64_t> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
        ASSERT_EQ(codes.width, sorted.size() + 1);
        for (size_t r = 0; r < values.size(); ++r)
            ASSERT_EQ(codes.codes[r], std::lower_bound(sorted.begin(), sorted.end(), values[r]) - sorted.begin() + 1)
                << distinct << " values, row " << r;
    }
}

// Date codes are the dates' ranks and give the dates back, whether the
// column holds whole days (counted by day across months and years) or
// moments, with nulls among them.
TEST(DateCodes, AreTheDatesRanksAcrossMonthsAndYears) {
    std::mt19937 random(9);
    for (const bool moments : {false, true}) {
        std::vector<std::string> texts(150000);
        for (std::string& t : texts) {
            if (random() % 40 == 0) continue;  // null
            char buffer[32];
            const unsigned year = 1999 + random() % 3, month = 1 + random() % 12, day = 1 + random() % 28;
            if (moments)
                std::snprintf(buffer, sizeof buffer, "%u/%02u/%02u %02u:%02u:%02u", year, month, day, unsigned(random() % 24),
                              unsigned(random() % 60), unsigned(random() % 60));
            else
                std::snprintf(buffer, sizeof buffer, "%u/%02u/%02u", year, month, day);
            t = buffer;
        }
        texts[0] = moments ? "1999/12/31 23:59:59" : "1999/12/31";  // a year's last day beside the next's first
        texts[1] = moments ? "2000/01/01 00:00:00" : "2000/01/01";
        std::string text = "d,n\n";  // a second column: a line of one empty field would be no row
        for (const std::string& t : texts) text += t + ",1\n";
        const auto table = tarlo::CsvTable::fromUtf8(text, "t.csv", {});
        ASSERT_EQ(table->columnTypes()[0], moments ? tarlo::ColumnType::DateTime : tarlo::ColumnType::Date);
        const tarlo::CsvTable::ValueCodes& codes = table->codesOf(0);
        // The texts are zero-padded, so their order is the dates' order.
        std::vector<std::string> sorted;
        for (const std::string& t : texts)
            if (!t.empty()) sorted.push_back(t);
        std::sort(sorted.begin(), sorted.end());
        sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
        ASSERT_EQ(codes.width, sorted.size() + 1) << (moments ? "moments" : "days");
        for (size_t r = 0; r < texts.size(); ++r) {
            const uint32_t want = texts[r].empty() ? 0 : uint32_t(std::lower_bound(sorted.begin(), sorted.end(), texts[r]) - sorted.begin() + 1);
            ASSERT_EQ(codes.codes[r], want) << "row " << r << ": " << texts[r];
            ASSERT_EQ(codes.cellOfCode[want].integer, table->cell(r, 0).integer) << "row " << r << ": " << texts[r];
        }
    }
}

}  // namespace
