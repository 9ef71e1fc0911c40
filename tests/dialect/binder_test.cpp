// The binder over long statements: its work grows with the statement's
// length, not with its square.
#include "support/bound_sql.h"

#include <gtest/gtest.h>

namespace {

tarlo::Catalog catalogOf(int columns) {
    tarlo::BoundTable table{"t.csv", {}};
    for (int c = 0; c < columns; ++c)
        table.columns.emplace_back(QStringLiteral("c%1").arg(c), c % 2 ? tarlo::ValueKind::Text : tarlo::ValueKind::Number);
    return {{table}, [](const QString&) { return std::optional<tarlo::FunctionFacts>(); }, {}};
}

// 40,000 items of every kind a generated list has (columns, qualified ones,
// named expressions, comparisons, a name given earlier): minutes of work
// when each item looked back over the list, well under a second now.
TEST(Binder, BindsASelectListOfFortyThousandItems) {
    const int items = 40000;
    QString sql = QStringLiteral("SELECT ");
    for (int i = 0; i < items; ++i) {
        if (i) sql += QStringLiteral(", ");
        switch (i % 5) {
        case 0: sql += QStringLiteral("c%1").arg(i % 200); break;
        case 1: sql += QStringLiteral("t.c%1").arg(i % 200); break;
        case 2: sql += QStringLiteral("c%1 + 1 AS n%2").arg(i % 200).arg(i); break;
        case 3: sql += QStringLiteral("c%1 = '5'").arg(i % 200); break;
        default: sql += QStringLiteral("n%1").arg(i - 2); break;
        }
    }
    sql += QStringLiteral(" FROM [t.csv] AS t, [t.csv] u WHERE c0 > '3'");
    const QString bound = tarlo::testing::boundSql(sql, catalogOf(200));
    // Every item is still there, and the tables' columns were recognised: a text
    // column added to a number is read as a number, naming its column.
    EXPECT_EQ(bound.count(QStringLiteral("tarlo_add(")), items / 5);
    EXPECT_EQ(bound.count(QStringLiteral(" AS Expr")), items / 5);
    EXPECT_TRUE(bound.contains(QStringLiteral("tarlo_number(c7, 't.csv', 'c7')")));
    EXPECT_TRUE(bound.contains(QStringLiteral("n39997")));
}

}  // namespace
