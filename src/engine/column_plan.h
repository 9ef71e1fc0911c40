// The statements the column path answers: one table, or grouped files
// joined on equal columns (engine/column_join.h); WHERE of comparisons
// of columns with constants (date columns with dates), Like on text columns,
// and any condition on one column; GROUP BY on integer, text and date
// columns, and any key worked out of one column; Count, Count(DISTINCT), Sum, Avg, Min, Max
// and the spreads (StDev, StDevP, Var, VarP); HAVING; ORDER BY on the
// result; TOP; a crosstab of one aggregate, grouped by its headings and
// pivot; or, with no aggregate, one table's columns row by row, in its
// order or sorted by columns. Read
// from the statement's tree as the binder typed it, and only when every
// part of it is understood: anything else is left to SQLite.
#pragma once

#include "csv/csv_table.h"
#include "dialect/binder.h"
#include "dialect/sql_writer.h"
#include "dialect/syntax_tree.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;

namespace tarlo {

class LikePattern;

// A value of the column path, as SQLite would hold it.
struct PathValue {
    enum class Kind : uint8_t { Null, Integer, Real, Text };
    Kind kind = Kind::Null;
    int64_t integer = 0;
    double real = 0;
    std::string_view text;

    static PathValue ofInteger(int64_t v) { PathValue p; p.kind = Kind::Integer; p.integer = v; return p; }
    static PathValue ofReal(double v) { PathValue p; p.kind = Kind::Real; p.real = v; return p; }
    static PathValue ofText(std::string_view v) { PathValue p; p.kind = Kind::Text; p.text = v; return p; }
};

enum class Aggregate : uint8_t { CountRows, Count, CountDistinct, Sum, Avg, Min, Max, StDev, StDevP, Var, VarP };

struct AggregateSpec {
    Aggregate kind;
    size_t column = 0;  // not for CountRows
    bool operator==(const AggregateSpec&) const = default;
};

struct PlanNode {
    enum class Kind : uint8_t {
        Column, Literal, Aggregate, Compare, And, Or, Not, IsNull, Between, In, Like, Add, Subtract, GroupKey,
        CodeTest,  // a condition on one column, by the code of the row's value
    };
    enum class Op : uint8_t { Eq, Ne, Lt, Le, Gt, Ge };
    Kind kind = Kind::Literal;
    Op op = Op::Eq;
    bool negated = false;  // IS NOT NULL, NOT BETWEEN, NOT IN, NOT LIKE
    size_t index = 0;      // Column: the table's column; Aggregate: into ColumnPlan::aggregates; GroupKey: the key
    PathValue literal;
    std::string literalText;  // what a text literal's view points into
    std::shared_ptr<const LikePattern> like;  // Like: its pattern, read once for every row
    // CodeTest: the column's codes, and by code 1 true, 0 false, 2 null.
    const CsvTable::ValueCodes* codes = nullptr;
    std::shared_ptr<const std::vector<uint8_t>> truthOfCode;
    std::vector<int> children;

    static PlanNode of(Kind kind, std::vector<int> children = {}) {
        PlanNode n;
        n.kind = kind;
        n.children = std::move(children);
        return n;
    }
};

// A group key worked out from one column's values (Month(d), Format(d,
// 'yyyy/mm'), Left(code, 2)): once for each distinct value, by SQLite and
// so by the very functions it calls, as a value of its own.
struct DerivedKey {
    std::vector<uint32_t> keyOfCode;  // the column's value code: the key's rank among the keys
    std::vector<PathValue> keys;      // each key, in the order SQLite groups them
    std::shared_ptr<const std::vector<std::string>> texts;  // what the keys' texts point into
    bool noCase = false;  // texts equal but for case are one key
};

struct ColumnPlan {
    std::vector<PlanNode> nodes;
    std::vector<AggregateSpec> aggregates;
    std::vector<size_t> groupColumns;  // the columns grouped by, or a derived key's column
    std::vector<std::optional<DerivedKey>> derived;  // by group key: the key worked out of its column
    std::vector<int> items;  // one node per field
    int where = -1;
    int having = -1;
    struct OrderKey {
        int node;
        bool descending;
    };
    std::vector<OrderKey> order;

    // The rows numbered first to limit within each partition by ROW_NUMBER
    // (a top-n per group); where filters, the rest of the plan is unused.
    struct TopPerGroup {
        size_t partition = 0, order = 0;
        bool descending = false;
        int64_t limit = 0;
        enum class Field : uint8_t { Partition, Order, Number };
        std::vector<Field> fields;
    };
    std::optional<TopPerGroup> top;

    // No aggregate and no group: each kept row's columns (items are
    // columns only), in the table's row order.
    bool projection = false;

    // The most rows given (TOP n or LIMIT n).
    std::optional<int64_t> limit;

    // A crosstab: its row headings are the first so many items, then come
    // the pivot and the value; the groups are the headings', then the pivot's.
    std::optional<size_t> crosstabHeadings;
};

// The plan for a statement's tree as the binder typed it, on the one table
// whose registered name is tableName (tableAt: the registered name by the
// first token of a table's name), or nothing when any part of it is not one
// the column path answers. db reads number literals as SQLite reads them,
// and works out keys and conditions of one column with the text writer
// writes of them; throws Cancelled once stop is set while it does.
// For joined files, table is their gathered columns, and columnAt each
// name's column of it (by the place of the name's token).
std::optional<ColumnPlan> planColumnQuery(const syntax::SyntaxTree& tree, const Binding& binding, const SqlWriter& writer,
                                          const std::map<int, QString>& tableAt, const QString& tableName,
                                          const CsvTable& table, sqlite3* db, const std::atomic<bool>* stop,
                                          const std::unordered_map<qsizetype, size_t>* columnAt = nullptr);

}  // namespace tarlo
