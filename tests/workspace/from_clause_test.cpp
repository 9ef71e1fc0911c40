#include "workspace/from_clause.h"

#include <gtest/gtest.h>

TEST(FromClause, TableNameByTheTextRules) {
    struct Case {
        const char* text;
        const char* table;
    } cases[] = {
        {"select * from [data#csv];", "data.csv"},
        {"SELECT a, b\r\nFROM t1, t2;", "t1"},
        {"from data#txt", "data.txt"},
        {"select * from t1 as a;", "t1 as a"},
        {"select * from data#csv where x=1", "data.csv where x=1"},
        {"SELECT * FROM data#csv", "data.csv"},
        {"select 1", "t 1"},                          // no marker: the first five characters go
        {"abc", ""},
        {"select * From ", ""},                       // nothing after the marker
        {"select * from [売上 2024#csv] s;", "売上 2024.csv"},
        // 映 is 0x89 0x66 in CP932: a byte search would take its second byte for the "f" of "from "
        {"select \xe6\x98\xa0rom x FROM t#csv;", "t.csv"},
        {"select 表from x from t#csv;", "t 表From x from t.csv"},
        {"select a\r\nfrom b\r\nwhere c", "b"},
        {"select * FROM x\r\nFrom y;", "y"},          // the LF marker wins over an earlier blank one
    };
    for (const Case& c : cases)
        EXPECT_EQ(tarlo::tableNameFromQuery(QString::fromUtf8(c.text)), QString::fromUtf8(c.table)) << c.text;
}

TEST(RecentTables, MostRecentFirstIgnoringCaseKeepingFirstSpelling) {
    tarlo::RecentTables tables;
    EXPECT_TRUE(tables.touch("a.csv"));
    EXPECT_TRUE(tables.touch("b.csv"));
    EXPECT_TRUE(tables.touch("a.csv"));
    EXPECT_EQ(tables.entries(), (QStringList{"a.csv", "b.csv"}));
    EXPECT_FALSE(tables.touch("a.csv"));

    tarlo::RecentTables spelled;
    spelled.touch("Data.csv");
    EXPECT_FALSE(spelled.touch("data.csv"));
    EXPECT_EQ(spelled.entries(), QStringList{"Data.csv"});
    EXPECT_TRUE(spelled.touch(""));
    EXPECT_EQ(spelled.top(), QString());
}
