// Values keep their types: every operator answers as the old engine did,
// whatever spelling a file uses, and a value that cannot take part is
// refused by name. Expected rows are worked out by hand from the files.
#include "engine/connection.h"
#include "platform/error.h"
#include "support/run_sql.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

namespace {

using Rows = std::vector<std::string>;

class TypedValues : public ::testing::Test {
protected:
    void SetUp() override {
        folder.writeText("amt.csv", "id,amt\n1,500\n2,1500\n3,999\n4,N/A\n5,20000\n");
        // Spellings writers produce; " 500" is what "1, 500" leaves after the comma.
        folder.writeText("spell.csv", "id,v\n1,9.5e-4\n2,.5\n3,+5\n4,1.\n5,-0\n6, 500\n7,0.30000000000000004\n"
                                      "8,\"1,234\"\n9,NA\n");
        folder.writeText("d.csv", "id,d\n1,2024-01-05\n2,2024-01-10\n3,2024-01-10T08:30:00\n4,#N/A\n");
        folder.writeText("names.csv", "id,name,code,d\n1,Alice,2024-A,2024-01-05\n2,alice,2023-B,2023-05-01\n"
                                      "3,BOB,2024,2024-02-01\n4,Bob,2025,2023-02-01\n");
        folder.writeText("q.csv", "id,qty\n1,5\n2,20\n3,30\n");
        folder.writeText("z.csv", "id,r\n1,0.0\n2,-0.0\n3,1.5\n");
        folder.writeText("n.csv", "id,n\n1,10000000000000000\n2,5\n");
        folder.writeText("c.csv", "id,code\n1,10\n2,x7\n3,20\n");
        folder.writeText("codes.csv", "id,code\n1,007\n2,020\n3,030\n");
        // Two spellings of one double, beside a spelling of its own.
        folder.writeText("twins.csv", "id,v\n1,9007199254740993.0\n2,9007199254740992.0\n3,0.5\n4,9007199254740993\n"
                                      "5,0.12345678901234567\n");
    }

    Rows run(const QString& sql) { return runSql(folder.path(), sql, "|"); }
    QString errorOf(const QString& sql) { return failureOf(folder.path(), sql); }

    struct Case {
        const char* sql;
        Rows rows;
    };
    void expectAll(std::initializer_list<Case> cases) {
        for (const Case& c : cases) {
            try {
                EXPECT_EQ(run(c.sql), c.rows) << c.sql;
            } catch (const tarlo::Error& e) {
                ADD_FAILURE() << c.sql << ": " << e.message().toStdString();
            }
        }
    }

    TempFolder folder;
};

}  // namespace

TEST_F(TypedValues, NumbersWithANullTokenCompareAsNumbers) {
    expectAll({
        {"SELECT id FROM amt#csv WHERE amt > 1000", {"2", "5"}},
        {"SELECT id FROM amt#csv WHERE amt BETWEEN 600 AND 1500", {"2", "3"}},
        {"SELECT id FROM amt#csv WHERE amt NOT BETWEEN 600 AND 1500 ORDER BY id", {"1", "5"}},
        {"SELECT Max(amt), Min(amt), Sum(amt), Count(amt) FROM amt#csv", {"20000|500|22999|4"}},
        {"SELECT id FROM amt#csv WHERE amt = '1500'", {"2"}},
        {"SELECT id FROM amt#csv WHERE amt = '1,500'", {"2"}},
        {"SELECT id FROM amt#csv WHERE amt IN ('999', 500) ORDER BY id", {"1", "3"}},
        {"SELECT id FROM amt#csv WHERE amt IS NULL", {"4"}},
        {"SELECT id FROM amt#csv ORDER BY amt DESC", {"5", "2", "3", "1", "4"}},
        {"SELECT id FROM amt#csv WHERE amt + 1 > '1000' ORDER BY id", {"2", "5"}},
    });
}

TEST_F(TypedValues, EverySpellingIsANumber) {
    expectAll({
        {"SELECT id, v FROM spell#csv ORDER BY v, id",
         {"9|", "5|0", "1|0.00095", "7|0.30000000000000004", "2|0.5", "4|1", "3|5", "6|500", "8|1234"}},
        {"SELECT id FROM spell#csv WHERE v > 0.3 AND v < 1 ORDER BY id", {"2", "7"}},
        {"SELECT id FROM spell#csv WHERE v = 0", {"5"}},
        {"SELECT Sum(v) FROM spell#csv WHERE v >= 1", {"1740"}},
        {"SELECT Max(v) FROM spell#csv", {"1234"}},
    });
}

// A row never shows another row's spelling of the same value.
TEST_F(TypedValues, NoRowShowsAnotherRowsSpelling) {
    const Rows rows = run("SELECT id, v FROM twins#csv ORDER BY id");
    ASSERT_EQ(rows.size(), 5u);
    const std::pair<const char*, const char*> spellings[] = {
        {"1|", "9007199254740993.0"}, {"2|", "9007199254740992.0"}, {"4|", "9007199254740993"}};
    for (const auto& [owner, spelled] : spellings)
        for (const std::string& row : rows) {
            if (row.starts_with(owner)) continue;
            EXPECT_NE(row.substr(2), spelled) << row;
        }
    EXPECT_EQ(rows[4], "5|0.12345678901234567");
}

TEST_F(TypedValues, DatesCompareAsTimesWithEveryLiteralForm) {
    expectAll({
        {"SELECT id FROM d#csv WHERE d >= '2024-01-06' ORDER BY id", {"2", "3"}},
        {"SELECT id FROM d#csv WHERE d = '2024-01-10'", {"2"}},
        {"SELECT id FROM d#csv WHERE d = '2024/1/10'", {"2"}},
        {"SELECT id FROM d#csv WHERE d = #2024/1/10#", {"2"}},
        {"SELECT id FROM d#csv WHERE d = #1/10/2024 8:30#", {"3"}},
        {"SELECT id FROM d#csv WHERE d > 45300 ORDER BY id", {"2", "3"}},  // serial 45300 is 2024/01/09
        {"SELECT id FROM d#csv WHERE d < 45297", {"1"}},
        {"SELECT id FROM d#csv WHERE d BETWEEN '2024/1/6' AND #2024-01-10# ORDER BY id", {"2"}},
        {"SELECT id FROM d#csv WHERE d IN ('2024/1/5', #2024-01-10 08:30#) ORDER BY id", {"1", "3"}},
        {"SELECT id FROM d#csv WHERE d > DateAdd('d', -3, #2024/01/10#) ORDER BY id", {"2", "3"}},
        {"SELECT id FROM d#csv ORDER BY d DESC", {"3", "2", "1", "4"}},
        {"SELECT Year(d), Month(d), Day(d) FROM d#csv WHERE id = 3", {"2024|1|10"}},
        {"SELECT Max(d), Min(d) FROM d#csv", {"2024/01/10 08:30:00|2024/01/05"}},
    });
}

TEST_F(TypedValues, TextComparesIgnoringCaseWhateverGivesIt) {
    expectAll({
        {"SELECT id FROM names#csv WHERE Left(name, 1) = 'a' ORDER BY id", {"1", "2"}},
        {"SELECT Count(*) FROM (SELECT Left(name, 1) FROM names#csv GROUP BY Left(name, 1))", {"2"}},
        {"SELECT Count(*) FROM (SELECT DISTINCT name & '' FROM names#csv)", {"2"}},
        {"SELECT 'a' = 'A', 'a' <> 'A', 'a' < 'B'", {"-1|0|-1"}},
        {"SELECT id FROM names#csv WHERE UCase(name) = 'alice' ORDER BY id", {"1", "2"}},
        {"SELECT id FROM names#csv WHERE name & '' IN ('ALICE') ORDER BY id", {"1", "2"}},
        {"SELECT id FROM names#csv WHERE Trim(name) BETWEEN 'a' AND 'AZ' ORDER BY id", {"1", "2"}},
        {"SELECT id FROM names#csv ORDER BY Mid(name, 1, 1), id", {"1", "2", "3", "4"}},
        {"TRANSFORM Count(id) SELECT 1 FROM names#csv GROUP BY 1 PIVOT LCase(Left(name, 1)) IN ('A', 'b')", {"1|2|2"}},
        {"SELECT Count(*) FROM names#csv WHERE UCase(name) IS 'alice'", {"2"}},
        {"SELECT id, Left(name, 1) FROM names#csv ORDER BY 2 DESC, 1", {"3|B", "4|B", "1|A", "2|a"}},
        {"SELECT Count(*) FROM (SELECT Left(name, 1) FROM names#csv UNION SELECT 'b')", {"2"}},
        {"SELECT Count(*) FROM (SELECT Left(name, 1) FROM names#csv UNION ALL SELECT 'b')", {"5"}},
        {"SELECT id, Mid(name, 1, 1) AS initial FROM names#csv ORDER BY initial, id", {"1|A", "2|a", "3|B", "4|B"}},
        // A name given to an item is that item, not the column it shadows.
        {"SELECT id FROM (SELECT id, Left(code, 1) AS d FROM names#csv) WHERE d = '2' ORDER BY id", {"1", "2", "3", "4"}},
        {"SELECT Count(*) FROM names#csv WHERE Max(1, 2) = 2 AND Left(name, 1) > 'a'", {"2"}},
    });
}

TEST_F(TypedValues, NumbersAndTextsThatReadAsNumbers) {
    expectAll({
        {"SELECT 10 > '9', '10' < 9, 10 = ' 10 '", {"-1|0|-1"}},
        {"SELECT id FROM names#csv WHERE Year(d) = Left(code, 4) ORDER BY id", {"1", "2", "3"}},
        {"SELECT id FROM names#csv WHERE Val(code) > 2023 ORDER BY id", {"1", "3", "4"}},
        // Codes keep their text, and still meet numbers as numbers.
        {"SELECT id FROM codes#csv WHERE code IN (7, '20') ORDER BY id", {"1", "2"}},
        {"SELECT id FROM codes#csv WHERE code = 7", {"1"}},
        {"SELECT code FROM codes#csv WHERE code = '007'", {"007"}},
    });
}

TEST_F(TypedValues, TruthsAreMinusOneAndZero) {
    expectAll({
        {"SELECT id FROM q#csv WHERE (qty > 10) = True ORDER BY id", {"2", "3"}},
        {"SELECT id FROM q#csv WHERE (qty > 10) = False", {"1"}},
        {"SELECT -Sum(qty > 10), Sum(qty > 10) FROM q#csv", {"2|-2"}},
        {"SELECT qty > 10, (qty > 10) + 1, qty BETWEEN 10 AND 25, qty IN (5, 30) FROM q#csv ORDER BY id",
         {"0|1|0|-1", "-1|0|-1|0", "-1|0|0|-1"}},
        {"SELECT IIf(qty > 10, 'big', 'small') FROM q#csv ORDER BY id", {"small", "big", "big"}},
        {"SELECT 'abc' LIKE 'A%', 1 = 1 AND 2 = 2, 1 = 2 OR 2 = 3", {"-1|-1|0"}},
        {"TRANSFORM Count(id) SELECT 1 AS k FROM q#csv GROUP BY 1 PIVOT qty > 10", {"1|2|1"}},
        // A window frame's Between is no comparison.
        {"SELECT Sum(qty) OVER (ORDER BY id ROWS BETWEEN 1 PRECEDING AND CURRENT ROW) FROM q#csv ORDER BY id",
         {"5", "25", "50"}},
    });
}

TEST_F(TypedValues, LookupsAndScansAgree) {
    expectAll({
        {"SELECT id FROM z#csv WHERE r = 0 ORDER BY id", {"1", "2"}},
        {"SELECT id FROM z#csv WHERE r + 0 = 0 ORDER BY id", {"1", "2"}},
        {"SELECT id FROM n#csv WHERE n = 1e16", {"1"}},
        {"SELECT id FROM n#csv WHERE n = '10000000000000000'", {"1"}},
    });
}

TEST_F(TypedValues, ValuesThatCannotTakePartAreRefusedByName) {
    // The column, the value and its line; and how to get what was meant.
    for (const char* sql : {"SELECT id FROM c#csv WHERE code > 5", "SELECT Sum(code) FROM c#csv",
                            "SELECT code + 1 FROM c#csv", "SELECT code * 2 FROM c#csv",
                            "SELECT Avg(code) FROM c#csv"}) {
        const QString message = errorOf(sql);
        EXPECT_TRUE(message.contains("\"code\"") && message.contains("\"x7\"") && message.contains("3 行目") &&
                    message.contains("Val()"))
            << sql << ": " << message.toStdString();
    }
    const QString literal = errorOf("SELECT id FROM amt#csv WHERE amt = 'abc'");
    EXPECT_TRUE(literal.contains("'abc'") && literal.contains("\"amt\"")) << literal.toStdString();
    const QString date = errorOf("SELECT id FROM d#csv WHERE d > 'soon'");
    EXPECT_TRUE(date.contains("'soon'") && date.contains("\"d\"")) << date.toStdString();
    const QString expression = errorOf("SELECT 1 WHERE 5 < Left('x5', 2)");
    EXPECT_TRUE(expression.contains("\"x5\"")) << expression.toStdString();
    // Texts never meet numbers in these: no refusal.
    EXPECT_EQ(run("SELECT id FROM c#csv WHERE code = 'X7'"), Rows{"2"});
    EXPECT_EQ(run("SELECT Count(*) FROM c#csv WHERE code & '' > '1'"), Rows{"3"});
}
