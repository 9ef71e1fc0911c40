// Runs a column plan over a loaded table: the filter and the aggregates on
// every core, straight over the parsed columns, groups keyed by the
// columns' value codes. Gives the rows SQLite would give, in its order, or
// nothing where it cannot be sure of that order (rows that tie under ORDER
// BY, group keys equal but for case): SQLite answers those.
#pragma once

#include "csv/large_array.h"
#include "engine/column_plan.h"
#include "values/exact_sum.h"
#include "values/spread.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace tarlo {

// Row after row, each field as the result shows it: in parts, one per
// thread that wrote them, each part's fields in one buffer.
// On whole pages (LargeArray): a part of millions of rows grows without
// copying, and takes far fewer page faults than the heap's.
struct RowPart {
    TextBuffer text;
    LargeArray<uint32_t> ends;  // where each field's text ends
    LargeArray<PathValue::Kind> kinds;

    std::string_view field(size_t i) const {
        const uint32_t begin = i ? ends[i - 1] : 0;
        return {text.data() + begin, ends[i] - begin};
    }
    void add(const PathValue& value);
    void add(std::string_view shown, PathValue::Kind kind);
    // A field kept in a slot of 16 or 32 bytes, whose last two are its size and kind.
    void addSlot(const char* slot, size_t width);
    void clear() {
        text.clear();
        ends.clear();
        kinds.clear();
    }

private:
    void appendText(std::string_view s);
};

// A part's rows are written before the reader reaches them: all at once,
// or, when write is set, only as the reader comes to a part, that part and
// the next few together on every core. Then a result of millions of rows
// never stands in memory whole. write reads the table, never the plan; it
// throws Cancelled, and Error only for a fault of ours.
struct ColumnRows {
    size_t fieldCount = 0;
    std::vector<RowPart> parts;
    std::function<void(size_t, RowPart&)> write;
    std::shared_ptr<const CsvTable> table;  // what write reads, kept while it may
    size_t written = 0;  // parts before this one are written (when write is set)
    std::vector<RowPart> spare;  // read parts' pages, for the parts written next

    // Makes sure part p is written. Throws as write does.
    void ready(size_t p);
    // Part p has been read: its pages serve a later part (or go).
    void done(size_t p);
    size_t rowsIn(size_t part) const { return fieldCount ? parts[part].kinds.size() / fieldCount : 0; }
};

// Where the column path changes its way of working. The defaults suit a
// real table; tests lower them so small tables take every way.
struct ColumnPathTuning {
    size_t rowsForThreads = 100000;   // fewer rows run on one thread
    size_t groupsForRowShares = 65536; // up to this many groups, threads share rows, not groups
    uint64_t denseKeys = uint64_t(1) << 20;  // group keys up to this span index an array; past it the rows are sorted by key
    size_t rowsPerPart = 65536;               // the most rows a part of the result holds
    size_t rowsPerRun = 65536;                // rows sorted by key: about how many are sorted together
};
ColumnPathTuning& columnPathTuning();

// Throws Cancelled when stop is set, Error for a total no number holds.
std::optional<ColumnRows> runColumnPlan(const ColumnPlan& plan, const CsvTable& table, const std::atomic<bool>* stop);

// Appends the name equal values share: numbers by value (a whole real as
// the integer it equals), texts by their letters, alike but for case where
// noCase is set.
void appendValueName(std::string& to, const PathValue& value, bool noCase);

// A group's total for one aggregate, gathered over runs on several tables
// (the pieces of one file): what each run's totals add up to, exactly.
struct GatheredTotal {
    int64_t count = 0;     // values (rows, for a count of rows)
    std::unordered_set<std::string> distinct;  // Count(DISTINCT): the values' names
    __int128 integer = 0;  // an integer column's sum
    ExactSum reals;        // a real column's
    Spread spread;
    bool held = false;  // Min, Max: a value is held,
    int64_t least = 0;  // the least (or greatest) of an integer column,
    double leastReal = 0;  // or of a real one
};

// A grouped plan's groups over one table, before HAVING, ORDER BY and TOP:
// take hears each group that rows have (or the one group of a plan without
// keys), in its keys' order, with its keys' values (valid during the call),
// its rows, and add(k, total), which adds its aggregate k to total. False
// where SQLite answers. Throws as runColumnPlan.
using GroupTaker = std::function<void(const std::vector<PathValue>& keys, int64_t rows,
                                      const std::function<void(size_t, GatheredTotal&)>& add)>;
bool takeColumnGroups(const ColumnPlan& plan, const CsvTable& table, const std::atomic<bool>* stop, const GroupTaker& take);

// Groups gathered elsewhere, in their keys' order.
struct GatheredGroups {
    size_t count = 0;
    std::function<PathValue(size_t group, size_t key)> key;
    std::function<const GatheredTotal&(size_t group, size_t aggregate)> total;
    std::vector<ColumnType> typeOf;  // each aggregate's column's type
};
// Their rows as runColumnPlan gives a grouped plan's: HAVING, ORDER BY and TOP.
std::optional<ColumnRows> rowsOfGathered(const ColumnPlan& plan, const GatheredGroups& groups, const std::atomic<bool>* stop);

}  // namespace tarlo
