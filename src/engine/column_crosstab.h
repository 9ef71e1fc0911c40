// A crosstab's rows from the column path's groups: the rows grouped by the
// row headings and then the pivot turned into a row a heading and a column
// a pivot value, the values in the order the crosstab's values query sorts
// them (null first, then numbers, then texts ignoring case).
#pragma once

#include "engine/column_run.h"

#include <optional>
#include <string>
#include <vector>

namespace tarlo {

constexpr size_t kMostPivotValues = 1000;  // a crosstab's columns

struct PivotedRows {
    struct Value {
        PathValue::Kind kind = PathValue::Kind::Null;
        std::string shown;
    };
    std::vector<Value> values;  // the pivot's, a column each
    ColumnRows rows;
};

// grouped: rows of the headings, the pivot and the value (headings fields
// first). Nothing for a pivot value of a kind the values query would show
// otherwise (a real), or more than kMostPivotValues of them. Throws Cancelled once stop is set.
std::optional<PivotedRows> pivotRows(ColumnRows grouped, size_t headings, const std::atomic<bool>* stop);

}  // namespace tarlo
