// Runs a column plan over a loaded table: the filter and the aggregates on
// every core, straight over the parsed columns, groups keyed by the
// columns' value codes. Gives the rows SQLite would give, in its order, or
// nothing where it cannot be sure of that order (rows that tie under ORDER
// BY, group keys equal but for case): SQLite answers those.
#pragma once

#include "engine/column_plan.h"

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace tarlo {

struct ColumnRows {
    size_t fieldCount = 0;
    std::vector<std::string> texts;  // row after row, each field as shown
    std::vector<PathValue::Kind> kinds;
    size_t rowCount() const { return fieldCount ? texts.size() / fieldCount : 0; }
};

// Where the column path changes its way of working. The defaults suit a
// real table; tests lower them so small tables take every way.
struct ColumnPathTuning {
    size_t rowsForThreads = 100000;   // fewer rows run on one thread
    size_t groupsForRowShares = 65536; // up to this many groups, threads share rows, not groups
    uint64_t denseKeys = uint64_t(1) << 20;  // group keys up to this span index an array, not a hash
};
ColumnPathTuning& columnPathTuning();

// Throws Cancelled when stop is set, Error for a total no number holds.
std::optional<ColumnRows> runColumnPlan(const ColumnPlan& plan, const CsvTable& table, const std::atomic<bool>* stop);

}  // namespace tarlo
