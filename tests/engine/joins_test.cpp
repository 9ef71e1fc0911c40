// Joins of three tables as saved queries write them: one after another, or
// with the first join in brackets, which the old engine required. Both
// forms must give the same rows and be served by lookups.
#include "support/run_sql.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

namespace {

using Rows = std::vector<std::string>;

// The table forms a statement may name the files in: with aliases, and by
// the file name alone (qualified by it, as the old engine's users wrote).
struct Form {
    const char* sales;
    const char* stores;
    const char* products;
    const char* s;  // the qualifiers
    const char* st;
    const char* p;
};

constexpr Form kForms[] = {
    {"sales#csv s", "stores#csv st", "products#csv p", "s", "st", "p"},
    {"[sales#csv] AS s", "[stores.csv] AS st", "products.csv AS p", "s", "st", "p"},
    {"[sales.txt]", "[stores.txt]", "[products.txt]", "[sales.txt]", "[stores.txt]", "[products.txt]"},
    {"sales#txt", "stores#txt", "products#txt", "sales#txt", "stores#txt", "products#txt"},
};

QString fill(QString sql, const Form& f) {
    return sql.replace("{sales}", f.sales).replace("{stores}", f.stores).replace("{products}", f.products)
        .replace("{s}", f.s).replace("{st}", f.st).replace("{p}", f.p);
}

class Joins : public ::testing::Test {
protected:
    void SetUp() override {
        // Product "7" is no "007": codes are texts, and a sale of it has no master;
        // store 3 has none either, and store 4 has no sales.
        const char* sales = "date,store,product,qty,amount\n"
                            "2024/01/05,1,007,2,100\n"
                            "2024/01/06,2,008,1,40\n"
                            "2024/01/07,1,7,3,90\n"
                            "2024/01/08,3,009,5,200\n"
                            "2024/01/09,2,007,4,160\n";
        const char* stores = "store,region\n1,East\n2,West\n4,North\n";
        const char* products = "product,category\n007,Tools\n008,Food\n009,Toys\n";
        for (const char* ext : {"csv", "txt"}) {
            folder.writeText(QString("sales.%1").arg(ext), sales);
            folder.writeText(QString("stores.%1").arg(ext), stores);
            folder.writeText(QString("products.%1").arg(ext), products);
        }
    }

    Rows run(const QString& sql) { return runSql(folder.path(), sql); }

    TempFolder folder;
};

}  // namespace

TEST_F(Joins, BracketedJoinsGiveThePlainFormsRows) {
    const QString select = "SELECT {st}.region, {p}.category, Sum({s}.amount) FROM ";
    const QString tail = " GROUP BY {st}.region, {p}.category ORDER BY {st}.region, {p}.category";
    const struct {
        const char* plain;
        const char* bracketed;
        Rows expected;
    } cases[] = {
        {"{sales} INNER JOIN {stores} ON {s}.store = {st}.store INNER JOIN {products} ON {s}.product = {p}.product",
         "({sales} INNER JOIN {stores} ON {s}.store = {st}.store) INNER JOIN {products} ON {s}.product = {p}.product",
         {"East\tTools\t100", "West\tFood\t40", "West\tTools\t160"}},
        // Rows without a master keep their place, with nulls for its fields.
        {"{sales} LEFT JOIN {stores} ON {s}.store = {st}.store LEFT JOIN {products} ON {s}.product = {p}.product",
         "({sales} LEFT JOIN {stores} ON {s}.store = {st}.store) LEFT JOIN {products} ON {s}.product = {p}.product",
         {"\tToys\t200", "East\t\t90", "East\tTools\t100", "West\tFood\t40", "West\tTools\t160"}},
        {"{products} RIGHT JOIN {sales} ON {s}.product = {p}.product INNER JOIN {stores} ON {s}.store = {st}.store",
         "({products} RIGHT JOIN {sales} ON {s}.product = {p}.product) INNER JOIN {stores} ON {s}.store = {st}.store",
         {"East\t\t90", "East\tTools\t100", "West\tFood\t40", "West\tTools\t160"}},
    };
    for (const Form& form : kForms) {
        for (const auto& c : cases) {
            const QString plain = fill(select + c.plain + tail, form);
            const QString bracketed = fill(select + c.bracketed + tail, form);
            EXPECT_EQ(run(plain), c.expected) << plain.toStdString();
            EXPECT_EQ(run(bracketed), c.expected) << bracketed.toStdString();
        }
        // Brackets around the whole FROM, and a second level of them.
        const QString doubly = fill(select +
                                        "(({sales} INNER JOIN {stores} ON {s}.store = {st}.store) "
                                        "INNER JOIN {products} ON {s}.product = {p}.product)" + tail, form);
        EXPECT_EQ(run(doubly), cases[0].expected) << doubly.toStdString();
    }
}

// A group on the right is joined as one: store 4 keeps its row, which
// the left-deep reading (stores LEFT JOIN sales) INNER JOIN products drops.
TEST_F(Joins, AGroupOnTheRightKeepsItsMeaning) {
    for (const Form& form : kForms) {
        const QString sql = fill("SELECT {st}.store, Sum({s}.amount) FROM {stores} LEFT JOIN "
                                 "({sales} INNER JOIN {products} ON {s}.product = {p}.product) ON {st}.store = {s}.store "
                                 "GROUP BY {st}.store ORDER BY {st}.store", form);
        EXPECT_EQ(run(sql), (Rows{"1\t100", "2\t200", "4\t"})) << sql.toStdString();
    }
}

// Each join of either form looks its rows up: one table is read whole,
// the others by their key (a lookup has an index number other than 0).
TEST_F(Joins, EachJoinOfEitherFormIsALookup) {
    QString sales = "date,store,product,qty,amount\n", stores = "store,region\n", products = "product,category\n";
    for (int i = 0; i < 3000; ++i)
        sales += QString("2024/01/%1,%2,%3,%4,%5\n").arg(1 + i % 28).arg(1 + i % 100).arg(1 + i % 500, 5, 10, QChar('0'))
                     .arg(1 + i % 7).arg(10 * (i % 13));
    for (int i = 1; i <= 100; ++i) stores += QString("%1,R%2\n").arg(i).arg(i % 8);
    for (int i = 1; i <= 500; ++i) products += QString("%1,C%2\n").arg(i, 5, 10, QChar('0')).arg(i % 40);
    folder.writeText("sales.csv", sales);
    folder.writeText("stores.csv", stores);
    folder.writeText("products.csv", products);
    const Form& form = kForms[0];
    for (const char* join : {"INNER", "LEFT"}) {
        const QString on1 = QString(" %1 JOIN {stores} ON {s}.store = {st}.store").arg(join);
        const QString on2 = QString(" %1 JOIN {products} ON {s}.product = {p}.product").arg(join);
        const QString select = "EXPLAIN QUERY PLAN SELECT {st}.region, {p}.category, Sum({s}.amount) FROM ";
        const QString group = " GROUP BY {st}.region, {p}.category";
        for (const QString& sql : {fill(select + "{sales}" + on1 + on2 + group, form),
                                   fill(select + "({sales}" + on1 + ")" + on2 + group, form),
                                   fill(select + "(({sales}" + on1 + ")" + on2 + ")" + group, form)}) {
            int tables = 0, wholeScans = 0;
            for (const std::string& row : run(sql)) {
                if (row.find("VIRTUAL TABLE INDEX ") == std::string::npos) continue;
                ++tables;
                if (row.find("VIRTUAL TABLE INDEX 0:") != std::string::npos) ++wholeScans;
            }
            EXPECT_EQ(tables, 3) << sql.toStdString();
            EXPECT_EQ(wholeScans, 1) << sql.toStdString();
        }
    }
}

// Masters whose keys repeat by the engine's equality (case, a real spelled
// two ways) or hold nulls: every matching master row joins, whatever the
// planner was told of the key.
TEST_F(Joins, MastersWithRepeatedKeysJoinEveryMatch) {
    folder.writeText("facts.csv", "code,rate,qty\n007,1,1\nab,2.0,2\n7,3,3\n,1,4\nzz,9,5\n");
    folder.writeText("codes.csv", "code,label\n007,seven\nAB,upper\nab,lower\n,blank\n7,bare\n");
    folder.writeText("rates.csv", "rate,name\n1.0,one\n1,uno\n2,two\n3,three\n");
    EXPECT_EQ(run("SELECT f.qty, c.label, r.name FROM facts#csv f INNER JOIN codes#csv c ON f.code = c.code "
                  "INNER JOIN rates#csv r ON f.rate = r.rate ORDER BY f.qty, c.label, r.name"),
              (Rows{"1\tseven\tone", "1\tseven\tuno", "2\tlower\ttwo", "2\tupper\ttwo", "3\tbare\tthree"}));
    // A LEFT JOIN that reads nothing of the master still gives a row per match.
    EXPECT_EQ(run("SELECT f.qty FROM facts#csv f LEFT JOIN codes#csv c ON f.code = c.code ORDER BY f.qty"),
              (Rows{"1", "2", "2", "3", "4", "5"}));
    EXPECT_EQ(run("SELECT Count(*) FROM facts#csv f LEFT JOIN rates#csv r ON f.rate = r.rate"), Rows{"7"});
    // The text a lookup probes with stays a text, as its own value and in comparisons after.
    EXPECT_EQ(run("SELECT f.code & '!', UCase(f.code), f.code, f.code = 'AB', Len(f.code) FROM facts#csv f "
                  "INNER JOIN codes#csv c ON f.code = c.code WHERE c.label = 'lower'"),
              Rows{"ab!\tAB\tab\t-1\t2"});
}

// A fact table past the size the planner counts exactly, sorted by store
// (as exports often are), grouped by its masters' fields: the facts are
// scanned and the masters looked up, and the groups, sorted in pieces
// large enough to be merged (on other cores where there are), add up.
TEST_F(Joins, ALargeFactTableIsScannedAndItsGroupsAddUp) {
    constexpr int kRows = 200000, kStores = 100, kProducts = 500;
    std::string sales = "store,product,amount\n";
    std::map<std::pair<std::string, std::string>, std::pair<long long, long long>> expected;  // count, sum
    for (int i = 0; i < kRows; ++i) {
        const int store = 1 + i * kStores / kRows, product = 1 + (i * 7919) % kProducts, amount = i % 997;
        char code[8];
        std::snprintf(code, sizeof code, "%05d", product);
        sales += std::to_string(store) + "," + code + "," + std::to_string(amount) + "\n";
        // Regions are written in two cases; they group as one.
        auto& group = expected[{"R" + std::to_string(store % 8), "C" + std::to_string(product % 40)}];
        ++group.first;
        group.second += amount;
    }
    std::string stores = "store,region\n", products = "product,category\n";
    for (int i = 1; i <= kStores; ++i) stores += std::to_string(i) + (i % 2 ? ",R" : ",r") + std::to_string(i % 8) + "\n";
    for (int i = 1; i <= kProducts; ++i) {
        char code[8];
        std::snprintf(code, sizeof code, "%05d", i);
        products += std::string(code) + ",C" + std::to_string(i % 40) + "\n";
    }
    folder.writeText("big.csv", QString::fromStdString(sales));
    folder.writeText("shops.csv", QString::fromStdString(stores));
    folder.writeText("items.csv", QString::fromStdString(products));
    const QString from = "FROM big#csv s INNER JOIN shops#csv st ON s.store = st.store "
                         "INNER JOIN items#csv p ON s.product = p.product GROUP BY st.region, p.category";
    const Rows plan = run("EXPLAIN QUERY PLAN SELECT Count(*) " + from);
    ASSERT_EQ(plan.size(), 4u);
    EXPECT_NE(plan[0].find("SCAN s VIRTUAL TABLE INDEX 0:"), std::string::npos) << plan[0];
    Rows want;
    for (const auto& [key, group] : expected)
        want.push_back(key.first + "\t" + key.second + "\t" + std::to_string(group.first) + "\t" + std::to_string(group.second));
    Rows got = run("SELECT Upper(st.region), p.category, Count(*), Sum(s.amount) " + from);
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
}
