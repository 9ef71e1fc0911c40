#include "engine/column_run.h"

#include "functions/like_pattern.h"
#include "platform/error.h"
#include "platform/parallel.h"
#include "values/case_folding.h"
#include "values/dates.h"
#include "values/numbers.h"
#include "values/spread.h"
#include "values/total.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <charconv>
#include <cmath>
#include <functional>
#include <memory>
#include <numeric>
#include <type_traits>
#include <utility>

namespace tarlo {

namespace {

using Kind = PathValue::Kind;

struct Decline {};  // SQLite answers: an order it alone can tell, or its own error

enum class Truth : uint8_t { False, True, Unknown };

[[gnu::noinline, gnu::cold]] void hear(const std::atomic<bool>* stop) {
    if (stop && stop->load(std::memory_order_relaxed)) throw Cancelled{};
}

// Every loop over rows calls it: the test inline, the rare look at stop not.
inline void listen(const std::atomic<bool>* stop, size_t step) {
    if ((step & 0xFFFF) == 0) hear(stop);
}

// A whole number and a real, compared exactly as SQLite compares them.
int compareIntegerReal(int64_t a, double b) {
    if (b < -0x1p63) return 1;
    if (b >= 0x1p63) return -1;
    const double whole = std::trunc(b);
    const auto w = int64_t(whole);
    if (a != w) return a < w ? -1 : 1;
    const double fraction = b - whole;
    return fraction > 0 ? -1 : fraction < 0 ? 1 : 0;
}

template <typename T>
int sign(T a, T b) {
    return (a > b) - (a < b);
}

// Nothing when either is null. Texts ignore case, as the columns' collation does.
std::optional<int> compareValues(const PathValue& a, const PathValue& b) {
    if (a.kind == Kind::Null || b.kind == Kind::Null) return std::nullopt;
    if (a.kind == Kind::Text || b.kind == Kind::Text) {
        if (a.kind != b.kind) return a.kind == Kind::Text ? 1 : -1;  // numbers before texts
        const int c = compareIgnoringCase(a.text, b.text);
        return sign(c, 0);
    }
    if (a.kind == Kind::Integer && b.kind == Kind::Integer) return sign(a.integer, b.integer);
    if (a.kind == Kind::Integer) return compareIntegerReal(a.integer, b.real);
    if (b.kind == Kind::Integer) return -compareIntegerReal(b.integer, a.real);
    return sign(a.real, b.real);
}

// Nulls first, as SQLite sorts.
int orderOf(const PathValue& a, const PathValue& b) {
    if (a.kind == Kind::Null || b.kind == Kind::Null) return sign(int(a.kind != Kind::Null), int(b.kind != Kind::Null));
    return *compareValues(a, b);
}

PathValue valueOfCell(const CsvTable& table, Cell c, size_t column) {
    const ColumnType type = table.columnTypes()[column];
    if (table.isNull(column, c)) return {};
    switch (type) {
    case ColumnType::Real: return PathValue::ofReal(c.real);
    case ColumnType::Text: return PathValue::ofText(table.textOf(c));
    default: return PathValue::ofInteger(c.integer);
    }
}

PathValue cellValue(const CsvTable& table, size_t row, size_t column) {
    return valueOfCell(table, table.cell(row, column), column);
}

Truth both(Truth a, Truth b) {
    if (a == Truth::False || b == Truth::False) return Truth::False;
    return a == Truth::Unknown || b == Truth::Unknown ? Truth::Unknown : Truth::True;
}
Truth either(Truth a, Truth b) {
    if (a == Truth::True || b == Truth::True) return Truth::True;
    return a == Truth::Unknown || b == Truth::Unknown ? Truth::Unknown : Truth::False;
}
Truth negate(Truth a) {
    return a == Truth::Unknown ? a : a == Truth::True ? Truth::False : Truth::True;
}
Truth truthOfOrder(std::optional<int> c, PlanNode::Op op) {
    if (!c) return Truth::Unknown;
    bool r = false;
    switch (op) {
    case PlanNode::Op::Eq: r = *c == 0; break;
    case PlanNode::Op::Ne: r = *c != 0; break;
    case PlanNode::Op::Lt: r = *c < 0; break;
    case PlanNode::Op::Le: r = *c <= 0; break;
    case PlanNode::Op::Gt: r = *c > 0; break;
    case PlanNode::Op::Ge: r = *c >= 0; break;
    }
    return r ? Truth::True : Truth::False;
}

// + and - on numbers as the engine's own operators: whole while they fit.
PathValue arithmetic(bool subtract, const PathValue& a, const PathValue& b) {
    if (a.kind == Kind::Null || b.kind == Kind::Null) return {};
    if (a.kind == Kind::Integer && b.kind == Kind::Integer) {
        int64_t r;
        if (!(subtract ? __builtin_sub_overflow(a.integer, b.integer, &r) : __builtin_add_overflow(a.integer, b.integer, &r)))
            return PathValue::ofInteger(r);
    }
    const double x = a.kind == Kind::Integer ? double(a.integer) : a.real;
    const double y = b.kind == Kind::Integer ? double(b.integer) : b.real;
    const double r = subtract ? x - y : x + y;
    if (!std::isfinite(r)) throw Decline{};  // the engine's own message
    return PathValue::ofReal(r);
}

template <typename Source>
PathValue valueOf(const ColumnPlan& plan, int node, const Source& source);

template <typename Source>
Truth truthOf(const ColumnPlan& plan, int index, const Source& source) {
    const PlanNode& n = plan.nodes[size_t(index)];
    const auto value = [&](size_t k) { return valueOf(plan, n.children[k], source); };
    switch (n.kind) {
    case PlanNode::Kind::Compare: return truthOfOrder(compareValues(value(0), value(1)), n.op);
    case PlanNode::Kind::And: {
        const Truth a = truthOf(plan, n.children[0], source);
        return a == Truth::False ? a : both(a, truthOf(plan, n.children[1], source));
    }
    case PlanNode::Kind::Or: {
        const Truth a = truthOf(plan, n.children[0], source);
        return a == Truth::True ? a : either(a, truthOf(plan, n.children[1], source));
    }
    case PlanNode::Kind::Not: return negate(truthOf(plan, n.children[0], source));
    case PlanNode::Kind::IsNull: return (value(0).kind == Kind::Null) != n.negated ? Truth::True : Truth::False;
    case PlanNode::Kind::Between: {
        const PathValue x = value(0);
        PathValue low = value(1), high = value(2);
        // Either end may be the greater.
        if (compareValues(low, high).value_or(0) > 0) std::swap(low, high);
        const Truth t = both(truthOfOrder(compareValues(x, low), PlanNode::Op::Ge),
                             truthOfOrder(compareValues(x, high), PlanNode::Op::Le));
        return n.negated ? negate(t) : t;
    }
    case PlanNode::Kind::In: {
        const PathValue x = value(0);
        Truth t = Truth::False;
        if (x.kind == Kind::Null) {
            t = Truth::Unknown;
        } else {
            for (size_t k = 1; k < n.children.size() && t != Truth::True; ++k) {
                const std::optional<int> c = compareValues(x, value(k));
                if (!c) t = Truth::Unknown;
                else if (*c == 0) t = Truth::True;
            }
        }
        return n.negated ? negate(t) : t;
    }
    case PlanNode::Kind::Like: {
        const PathValue x = value(0);
        if (x.kind == Kind::Null) return Truth::Unknown;
        return n.like->matches(x.text) != n.negated ? Truth::True : Truth::False;
    }
    case PlanNode::Kind::CodeTest: {
        const size_t row = source.rowIndex();  // a source without rows throws before the codes are read
        const uint8_t t = (*n.truthOfCode)[n.codes->codes[row]];
        return t == 1 ? Truth::True : t == 0 ? Truth::False : Truth::Unknown;
    }
    default: throw Decline{};
    }
}

template <typename Source>
PathValue valueOf(const ColumnPlan& plan, int index, const Source& source) {
    const PlanNode& n = plan.nodes[size_t(index)];
    switch (n.kind) {
    case PlanNode::Kind::Column: return source.column(n.index);
    case PlanNode::Kind::Literal: return n.literal;
    case PlanNode::Kind::Aggregate: return source.aggregate(n.index);
    case PlanNode::Kind::GroupKey: return source.groupKey(n.index);
    case PlanNode::Kind::Add:
    case PlanNode::Kind::Subtract:
        return arithmetic(n.kind == PlanNode::Kind::Subtract, valueOf(plan, n.children[0], source),
                          valueOf(plan, n.children[1], source));
    default: throw Decline{};
    }
}

struct RowSource {
    const CsvTable& table;
    size_t row;
    PathValue column(size_t c) const { return cellValue(table, row, c); }
    PathValue aggregate(size_t) const { throw Decline{}; }
    PathValue groupKey(size_t) const { throw Decline{}; }
    size_t rowIndex() const { return row; }
};

// A finite real as a whole number of units of 2^scale, where no bit of it
// lies below 2^scale.
__int128 unitsOf(double x, int scale) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const int field = int((bits >> 52) & 0x7FF);
    uint64_t significand = bits & ((uint64_t(1) << 52) - 1);
    if (field) significand |= uint64_t(1) << 52;
    if (significand == 0) return 0;  // a zero has no bits to place (and would shift by over 64)
    const int shift = (field ? field : 1) - 1075 - scale;
    const __int128 units = shift >= 0 ? __int128(significand) << shift : __int128(significand >> -shift);
    return bits >> 63 ? -units : units;
}

size_t threadCount(size_t work) {
    if (work < columnPathTuning().rowsForThreads) return 1;
    return coreCount();
}

// Each kept row's group number, in as many bytes as the numbers take;
// none when every row is group 0.
struct GroupNumbers {
    const void* data = nullptr;
    unsigned bytes = 4;

    static GroupNumbers of(const CodeArray& codes) {
        if (codes.bytes() == 1) return {codes.ones(), 1};
        if (codes.bytes() == 2) return {codes.twos(), 2};
        return {codes.fours(), 4};
    }
};

// Rows taken at a time where a filter and a grouping run a block at a
// time: their lists of rows and groups stay in the first-level cache.
constexpr size_t kBlockRows = 2048;

// Which rows a pass reads: kept rows (or all), their groups (or one), and
// of those groups only the ones of this thread's part. Rows sorted by key
// give their groups by the keys instead: a new key starts the next group.
struct Pass {
    size_t begin, end;
    const uint32_t* rows;  // null: the row is its index
    GroupNumbers groups;
    uint32_t part = 0, parts = 1;
    const std::atomic<bool>* stop;
    const uint64_t* sortedKeys = nullptr;  // with rows: the group of begin is firstGroup
    uint32_t firstGroup = 0;
    size_t firstRow = 0;  // without rows: the row of index i is firstRow + i

    // ahead(row) hears of a row some steps before body does, where rows
    // come in no order (sorted by key), so that its values can be fetched.
    template <typename Body, typename Ahead = void (*)(size_t)>
    void each(Body body, Ahead ahead = [](size_t) {}) const {
        if (sortedKeys) return eachSorted(body, ahead);
        switch (groups.bytes) {
        case 1: return eachOf(static_cast<const uint8_t*>(groups.data), body);
        case 2: return eachOf(static_cast<const uint16_t*>(groups.data), body);
        default: return eachOf(static_cast<const uint32_t*>(groups.data), body);
        }
    }

private:
    template <typename Body, typename Ahead>
    void eachSorted(Body body, Ahead ahead) const {
        constexpr size_t steps = 16;
        for (size_t i = begin; i < std::min(end, begin + steps); ++i) ahead(rows[i]);
        uint32_t g = firstGroup;
        for (size_t i = begin; i < end; ++i) {
            listen(stop, i);
            if (i + steps < end) ahead(rows[i + steps]);
            if (i > begin && sortedKeys[i] != sortedKeys[i - 1]) ++g;
            body(g, rows[i]);
        }
    }

    template <typename Number, typename Body>
    void eachOf(const Number* numbers, Body body) const {
        for (size_t i = begin; i < end; ++i) {
            listen(stop, i);
            const uint32_t g = numbers ? numbers[i] : 0;
            if (parts > 1 && g % parts != part) continue;
            body(g, rows ? rows[i] : firstRow + i);
        }
    }
};

// Sum or Avg of a group's integers (whole) and reals: its total, or Decline
// for one no number holds (SQLite's own message then).
PathValue totalValue(Aggregate kind, int64_t n, __int128 whole, const ExactSum* reals) {
    const Total::Outcome o = kind == Aggregate::Sum ? Total::sumOf(n, whole, reals) : Total::averageOf(n, whole, reals);
    if (o.failure != Total::Failure::None) throw Decline{};
    if (o.kind == Total::Outcome::Kind::Null) return {};
    if (o.kind == Total::Outcome::Kind::Integer) return PathValue::ofInteger(o.integer);
    return PathValue::ofReal(o.real);
}

// StDev, StDevP, Var or VarP of a group's spread.
PathValue spreadValue(Aggregate kind, const Spread& spread) {
    const bool sample = kind == Aggregate::StDev || kind == Aggregate::Var;
    const Spread::Answer a = spread.value(sample, kind == Aggregate::StDev || kind == Aggregate::StDevP);
    if (!a.exact) throw Decline{};  // running moments follow the order rows came in: SQLite's
    return a.value ? PathValue::ofReal(*a.value) : PathValue{};
}

bool isSpread(Aggregate a) {
    return a == Aggregate::StDev || a == Aggregate::StDevP || a == Aggregate::Var || a == Aggregate::VarP;
}

// Each aggregate's state for every group, filled a column at a time. Every
// one of them is exact or keeps the first of equal values in row order, so
// any split of the rows, merged in row order, ends the same.
class Accumulators {
public:
    Accumulators(const ColumnPlan& plan, const CsvTable& table, size_t groups, const std::atomic<bool>* stop) : table_(table) {
        rowsIn_.resize(groups);  // fresh pages are zero: no fill
        for (const AggregateSpec& wanted : plan.aggregates) {
            State& s = states_.emplace_back();
            s.what = wanted;
            s.type = wanted.kind == Aggregate::CountRows ? ColumnType::Integer : table.columnTypes()[wanted.column];
            const bool total = wanted.kind == Aggregate::Sum || wanted.kind == Aggregate::Avg;
            const bool extreme = wanted.kind == Aggregate::Min || wanted.kind == Aggregate::Max;
            // A column without nulls has a value in every row: the rows are its count.
            const bool distinct = wanted.kind == Aggregate::CountDistinct;
            s.whole = wanted.kind != Aggregate::CountRows && !table.hasNulls(wanted.column);
            if (wanted.kind != Aggregate::CountRows && !distinct && (extreme || !s.whole))
                s.count.resize(groups);
            if (distinct) {
                // A bit a value a group; past 8 MB of them, SQLite counts.
                const CsvTable::ValueCodes& codes = table.codesOf(wanted.column, stop);
                s.words = (codes.width + 63) / 64;
                if (groups * s.words > (size_t(1) << 20)) throw Decline{};
                s.distinct = &codes.codes;
                s.seen.assign(groups * s.words, 0);
            }
            if (total && s.type == ColumnType::Integer) {
                s.integers.resize(groups);
                // A column of few integers is read by its codes, a byte a row.
                if (table.hasFewIntegers(wanted.column)) {
                    const CsvTable::ValueCodes& codes = table.codesOf(wanted.column, stop);
                    s.few = &codes.codes;
                    for (const Cell& c : codes.cellOfCode) s.valueOfCode.push_back(c.integer);
                }
            }
            if (total && s.type == ColumnType::Real) {
                // Reals whose bits, times the rows, fit 126 bits add exactly as integers.
                const CsvTable::BitRange range = table.bitRangeOf(wanted.column);
                const int rowBits = std::bit_width(table.rowCount() + 1);
                if (range.finite && range.lowest >= -1000 && range.highest - range.lowest + 1 + rowBits <= 125) {
                    s.scale = range.lowest;
                    s.integers.resize(groups);
                } else {
                    s.reals.resize(groups);
                }
            }
            if (extreme && s.type == ColumnType::Integer) s.least.resize(groups);
            if (extreme && s.type == ColumnType::Real) s.leastReal.resize(groups);
            if (isSpread(wanted.kind)) s.spreads.resize(groups);
        }
    }

    size_t groupCount() const { return rowsIn_.size(); }

    void add(const Pass& pass) {
        uint32_t* rowsIn = rowsIn_.data();
        pass.each([&](uint32_t g, size_t) { ++rowsIn[g]; });
        for (State& s : states_) {
            if (s.what.kind == Aggregate::CountRows) continue;
            if (s.what.kind == Aggregate::CountDistinct) {
                uint64_t* seen = s.seen.data();
                const CodeArray& codes = *s.distinct;
                const size_t words = s.words;
                pass.each([&](uint32_t g, size_t r) {
                    if (const uint32_t c = codes[r]) seen[g * words + c / 64] |= uint64_t(1) << (c % 64);  // code 0: null
                });
                continue;
            }
            const CsvTable::CellSpan span = table_.cellsOf(s.what.column);
            const ColumnType type = table_.columnTypes()[s.what.column];
            int64_t* count = s.count.empty() ? nullptr : s.count.data();
            // The cell of a row, or nothing for a null.
            const auto cellOf = [&](size_t r, Cell& c) {
                const size_t k = r - span.firstRow;  // rows before firstRow wrap past count
                if (k >= span.count) return false;
                c = span.cells[k];
                return !table_.isNull(s.what.column, c);
            };
            // body(group, cell, values the group had before) for each non-null value.
            const auto eachValue = [&](auto body) {
                if (s.whole && !count && span.firstRow == 0 && span.count >= table_.rowCount() && !pass.sortedKeys)
                    return pass.each([&](uint32_t g, size_t r) { body(g, span.cells[r], 0); });  // nothing to test
                const auto value = [&](uint32_t g, size_t r) {
                    Cell c;
                    if (cellOf(r, c)) body(g, c, count ? count[g]++ : 0);
                };
                if (!pass.sortedKeys) return pass.each(value);  // rows in order: nothing to fetch ahead
                pass.each(value, [&](size_t r) {
                    if (r - span.firstRow < span.count) __builtin_prefetch(&span.cells[r - span.firstRow]);
                });
            };
            const bool max = s.what.kind == Aggregate::Max;
            switch (s.what.kind) {
            case Aggregate::Count: eachValue([](uint32_t, Cell, int64_t) {}); break;
            case Aggregate::Sum:
            case Aggregate::Avg:
                if (s.few) {
                    __int128* sums = s.integers.data();
                    const uint8_t* codes = s.few->ones();
                    const int64_t* value = s.valueOfCode.data();
                    pass.each([&](uint32_t g, size_t r) {
                        if (const uint8_t code = codes[r]) {  // code 0: null
                            sums[g] += value[code];
                            if (count) ++count[g];
                        }
                    });
                } else if (type == ColumnType::Integer) {
                    __int128* sums = s.integers.data();
                    eachValue([&](uint32_t g, Cell c, int64_t) { sums[g] += c.integer; });
                } else if (!s.integers.empty()) {
                    __int128* sums = s.integers.data();
                    const int scale = s.scale;
                    eachValue([&](uint32_t g, Cell c, int64_t) { sums[g] += unitsOf(c.real, scale); });
                } else {
                    ExactSum* sums = s.reals.data();
                    eachValue([&](uint32_t g, Cell c, int64_t) { sums[g].add(c.real); });
                }
                break;
            case Aggregate::Min:
            case Aggregate::Max:
                if (type == ColumnType::Integer) {
                    int64_t* best = s.least.data();
                    eachValue([&](uint32_t g, Cell c, int64_t seen) {
                        if (!seen || (max ? c.integer > best[g] : c.integer < best[g])) best[g] = c.integer;
                    });
                } else {
                    double* best = s.leastReal.data();
                    eachValue([&](uint32_t g, Cell c, int64_t seen) {
                        if (!seen || (max ? c.real > best[g] : c.real < best[g])) best[g] = c.real;
                    });
                }
                break;
            case Aggregate::StDev:
            case Aggregate::StDevP:
            case Aggregate::Var:
            case Aggregate::VarP: {
                Spread* spreads = s.spreads.data();
                if (type == ColumnType::Integer) eachValue([&](uint32_t g, Cell c, int64_t) { spreads[g].add(double(c.integer)); });
                else eachValue([&](uint32_t g, Cell c, int64_t) { spreads[g].add(c.real); });
                break;
            }
            case Aggregate::CountRows:
            case Aggregate::CountDistinct: break;  // above
            }
        }
    }

    // other holds later rows of the same groups.
    void merge(const Accumulators& other) {
        for (size_t g = 0; g < rowsIn_.size(); ++g) rowsIn_[g] += other.rowsIn_[g];
        for (size_t k = 0; k < states_.size(); ++k) {
            State& s = states_[k];
            const State& o = other.states_[k];
            const bool max = s.what.kind == Aggregate::Max;
            for (size_t g = 0; g < rowsIn_.size(); ++g) {
                const int64_t theirs = o.count.empty() ? other.rowsIn_[g] : o.count[g];
                if (!theirs) continue;
                const bool first = !s.count.empty() && s.count[g] == 0;
                if (!s.count.empty()) s.count[g] += theirs;
                if (!s.integers.empty()) s.integers[g] += o.integers[g];
                if (!s.reals.empty()) s.reals[g].merge(o.reals[g]);
                if (!s.spreads.empty()) s.spreads[g].merge(o.spreads[g]);
                for (size_t w = 0; w < s.words; ++w) s.seen[g * s.words + w] |= o.seen[g * s.words + w];
                if (!s.least.empty() && (first || (max ? o.least[g] > s.least[g] : o.least[g] < s.least[g])))
                    s.least[g] = o.least[g];
                if (!s.leastReal.empty() && (first || (max ? o.leastReal[g] > s.leastReal[g] : o.leastReal[g] < s.leastReal[g])))
                    s.leastReal[g] = o.leastReal[g];
            }
        }
    }

    int64_t rowsIn(size_t g) const { return rowsIn_[g]; }

    // Adds aggregate k of group g to a total gathered over several tables.
    void addTo(size_t k, size_t g, GatheredTotal& total) const {
        const State& s = states_[k];
        const int64_t n = s.count.empty() ? rowsIn_[g] : s.count[g];
        total.count += n;
        switch (s.what.kind) {
        case Aggregate::CountRows:
        case Aggregate::Count: break;
        case Aggregate::CountDistinct: {
            // Its codes are this table's: the values go by name.
            const CsvTable::ValueCodes& codes = table_.codesOf(s.what.column);
            std::string name;
            for (size_t w = 0; w < s.words; ++w)
                for (uint64_t bits = s.seen[g * s.words + w]; bits; bits &= bits - 1) {
                    const size_t code = w * 64 + size_t(std::countr_zero(bits));
                    name.clear();
                    appendValueName(name, valueOfCell(table_, codes.cellOfCode[code], s.what.column), true);
                    total.distinct.insert(name);
                }
            break;
        }
        case Aggregate::Sum:
        case Aggregate::Avg:
            if (s.type == ColumnType::Integer) {
                total.integer += s.integers[g];
            } else if (!s.integers.empty()) {
                // Units of 2^scale in pieces of 32 bits, each of which a double holds exactly.
                const __int128 units = s.integers[g];
                unsigned __int128 magnitude = units < 0 ? -static_cast<unsigned __int128>(units) : static_cast<unsigned __int128>(units);
                for (int shift = 0; magnitude != 0; shift += 32, magnitude >>= 32) {
                    const double piece = std::ldexp(double(uint32_t(magnitude & 0xFFFFFFFFu)), shift + s.scale);
                    total.reals.add(units < 0 ? -piece : piece);
                }
            } else {
                total.reals.merge(s.reals[g]);
            }
            break;
        case Aggregate::Min:
        case Aggregate::Max: {
            if (!n) break;
            const bool max = s.what.kind == Aggregate::Max;
            if (s.type == ColumnType::Integer) {
                const int64_t v = s.least[g];
                if (!total.held || (max ? v > total.least : v < total.least)) total.least = v;
            } else {
                const double v = s.leastReal[g];
                if (!total.held || (max ? v > total.leastReal : v < total.leastReal)) total.leastReal = v;
            }
            total.held = true;
            break;
        }
        case Aggregate::StDev:
        case Aggregate::StDevP:
        case Aggregate::Var:
        case Aggregate::VarP: total.spread.merge(s.spreads[g]); break;
        }
    }

    // Whether value gives every group's totals, on every core: no total
    // that only SQLite can tell or refuse.
    bool allAnswered(size_t groups, const std::atomic<bool>* stop) const {
        for (size_t k = 0; k < states_.size(); ++k) {
            const Aggregate kind = states_[k].what.kind;
            if (kind != Aggregate::Sum && kind != Aggregate::Avg && !isSpread(kind)) continue;
            std::atomic<bool> declined{false};
            const size_t parts = threadCount(groups);
            onThreads(parts, parts, [&](size_t p) {
                for (size_t g = groups * p / parts, end = groups * (p + 1) / parts; g < end; ++g) {
                    listen(stop, g);
                    if (!rowsIn_[g] && groups > 1) continue;  // a key no row has is not shown
                    try {
                        value(k, g);
                    } catch (const Decline&) {
                        declined = true;
                        return;
                    }
                }
            });
            if (declined) return false;
        }
        return true;
    }

    PathValue value(size_t k, size_t g) const {
        const State& s = states_[k];
        const int64_t n = s.count.empty() ? rowsIn_[g] : s.count[g];
        switch (s.what.kind) {
        case Aggregate::CountRows:
        case Aggregate::Count: return PathValue::ofInteger(n);
        case Aggregate::CountDistinct: {
            int64_t values = 0;
            for (size_t w = 0; w < s.words; ++w) values += std::popcount(s.seen[g * s.words + w]);
            return PathValue::ofInteger(values);
        }
        case Aggregate::Sum:
        case Aggregate::Avg: {
            if (s.type == ColumnType::Real && !s.integers.empty()) {
                const Total::Outcome o = s.what.kind == Aggregate::Sum ? Total::sumOfUnits(n, s.integers[g], s.scale)
                                                                       : Total::averageOfUnits(n, s.integers[g], s.scale);
                if (o.failure != Total::Failure::None) throw Decline{};
                return o.kind == Total::Outcome::Kind::Null ? PathValue{} : PathValue::ofReal(o.real);
            }
            const bool integers = s.type == ColumnType::Integer;
            return totalValue(s.what.kind, n, integers ? s.integers[g] : 0, integers ? nullptr : &s.reals[g]);
        }
        case Aggregate::StDev:
        case Aggregate::StDevP:
        case Aggregate::Var:
        case Aggregate::VarP: return spreadValue(s.what.kind, s.spreads[g]);
        case Aggregate::Min:
        case Aggregate::Max:
            if (!n) return {};
            if (s.type == ColumnType::Integer) return PathValue::ofInteger(s.least[g]);
            return PathValue::ofReal(s.leastReal[g]);
        }
        return {};
    }

private:
    struct State {
        AggregateSpec what;
        ColumnType type;
        LargeArray<int64_t> count;
        LargeArray<__int128> integers;  // of a real column: units of 2^scale
        const CodeArray* few = nullptr;     // an integer column's codes, a byte each
        std::vector<int64_t> valueOfCode;
        int scale = 0;
        std::vector<ExactSum> reals;
        std::vector<Spread> spreads;
        LargeArray<int64_t> least;  // or greatest, for Max
        LargeArray<double> leastReal;
        const CodeArray* distinct = nullptr;  // CountDistinct: the column's codes,
        std::vector<uint64_t> seen;           // and which each group has, words a group
        size_t words = 0;
        bool whole = false;  // every row has a value
    };
    const CsvTable& table_;
    LargeArray<uint32_t> rowsIn_;  // rows are numbered in 32 bits
    std::vector<State> states_;
};

// Sorts n keys and their rows by key, stably: a radix sort, 11 bits a
// pass, of the bits in which the keys differ, skipping a pass whose digit
// all share. Besides the keys and rows, it takes as much again, once.
void sortRun(uint64_t* keys, uint32_t* rows, size_t n, const std::atomic<bool>* stop) {
    if (n < 2) return;
    const auto [least, most] = std::minmax_element(keys, keys + n);
    const uint64_t base = *least;
    const int bits = std::bit_width(*most - base);
    std::vector<uint64_t> otherKeys(n);
    std::vector<uint32_t> otherRows(n);
    uint64_t *fromKeys = keys, *toKeys = otherKeys.data();
    uint32_t *fromRows = rows, *toRows = otherRows.data();
    constexpr int digit = 11;
    constexpr uint64_t mask = (uint64_t(1) << digit) - 1;
    std::vector<uint32_t> count(size_t(1) << digit);
    for (int shift = 0; shift < bits; shift += digit) {
        listen(stop, 0);  // once a pass: a pass over a run is short
        std::fill(count.begin(), count.end(), 0);
        for (size_t i = 0; i < n; ++i) ++count[((fromKeys[i] - base) >> shift) & mask];
        if (count[((fromKeys[0] - base) >> shift) & mask] == n) continue;
        uint32_t at = 0;
        for (uint32_t& c : count) at += std::exchange(c, at);
        for (size_t i = 0; i < n; ++i) {
            const uint32_t to = count[((fromKeys[i] - base) >> shift) & mask]++;
            toKeys[to] = fromKeys[i];
            toRows[to] = fromRows[i];
        }
        std::swap(fromKeys, toKeys);
        std::swap(fromRows, toRows);
    }
    if (fromKeys != keys) {
        std::memcpy(keys, fromKeys, n * sizeof *keys);
        std::memcpy(rows, fromRows, n * sizeof *rows);
    }
}

// A group's key: its columns' value codes side by side in bit fields, the
// first column's highest, so that keys sort as the codes do and a code is
// read back with a shift, not a division.
struct KeyFields {
    std::vector<int> shift;
    std::vector<uint64_t> mask;
    uint64_t span = 1;  // every key is below it

    // Nothing when the fields take more than 63 bits.
    static std::optional<KeyFields> of(const std::vector<const CsvTable::ValueCodes*>& codes) {
        KeyFields out;
        out.shift.resize(codes.size());
        out.mask.resize(codes.size());
        int bits = 0;
        uint64_t highest = 0;
        for (size_t k = codes.size(); k-- > 0;) {
            const uint32_t top = codes[k]->width ? codes[k]->width - 1 : 0;
            const int width = std::bit_width(top);
            if (bits + width > 63) return std::nullopt;
            out.shift[k] = bits;
            out.mask[k] = (uint64_t(1) << width) - 1;
            highest |= uint64_t(top) << bits;
            bits += width;
        }
        out.span = highest + 1;
        return out;
    }
    uint32_t code(uint64_t key, size_t k) const { return uint32_t((key >> shift[k]) & mask[k]); }
};

// The kept rows in the order of their group keys (then of the rows), found
// without a hash: the keys' range is cut into runs of about rowsPerRun rows
// each, by their leading bits, so that every group lies in one run; the
// rows are scattered to their runs, and each run is sorted on its own, in
// cache, on every core. A group's number is then its key's rank.
struct KeyOrder {
    LargeArray<uint64_t> keys;  // the rows' keys, ascending; at the end, each group's key
    LargeArray<uint32_t> rows;  // each key's row
    std::vector<size_t> runStart;     // where each run begins, and the end
    std::vector<uint32_t> firstGroup; // the group of each run's first row, and the count

    template <typename KeyOf, typename RowAt>
    KeyOrder(size_t n, uint64_t span, KeyOf keyOf, RowAt rowAt, size_t rowsPerRun, const std::atomic<bool>* stop) {
        // Fine slices of the keys' range, counted on every core, are joined
        // into runs; a slice too full stays one run, sorted all the same.
        const uint64_t highest = span ? span - 1 : 0;  // no rows: no keys
        int shift = 0;
        while ((highest >> shift) >= (uint64_t(1) << 16)) ++shift;
        const size_t slices = size_t(highest >> shift) + 1;
        const size_t parts = threadCount(n);
        std::vector<std::vector<uint32_t>> count(parts, std::vector<uint32_t>(slices));
        onThreads(parts, parts, [&](size_t p) {
            for (size_t i = n * p / parts, end = n * (p + 1) / parts; i < end; ++i) {
                listen(stop, i);
                ++count[p][keyOf(rowAt(i)) >> shift];
            }
        });
        std::vector<uint32_t> runOf(slices);
        std::vector<size_t> rowsIn;
        size_t filling = 0;
        for (size_t s = 0; s < slices; ++s) {
            size_t here = 0;
            for (size_t p = 0; p < parts; ++p) here += count[p][s];
            if (rowsIn.empty() || (filling && filling + here > rowsPerRun)) rowsIn.push_back(0), filling = 0;
            runOf[s] = uint32_t(rowsIn.size() - 1);
            rowsIn.back() += here;
            filling += here;
        }
        const size_t runs = rowsIn.size();
        // Each thread's rows go after the rows of the threads before it, so
        // a run holds its rows in file order.
        std::vector<std::vector<size_t>> next(parts, std::vector<size_t>(runs));
        for (size_t p = 0; p < parts; ++p)
            for (size_t s = 0; s < slices; ++s) next[p][runOf[s]] += count[p][s];
        runStart.resize(runs + 1);
        size_t at = 0;
        for (size_t r = 0; r < runs; ++r) {
            runStart[r] = at;
            for (size_t p = 0; p < parts; ++p) at += std::exchange(next[p][r], at);
        }
        runStart[runs] = at;
        keys.resize(n);
        rows.resize(n);
        onThreads(parts, parts, [&](size_t p) {
            for (size_t i = n * p / parts, end = n * (p + 1) / parts; i < end; ++i) {
                listen(stop, i);
                const size_t row = rowAt(i);
                const uint64_t key = keyOf(row);
                const size_t to = next[p][runOf[key >> shift]]++;
                keys[to] = key;
                rows[to] = uint32_t(row);
            }
        });
        // Each run sorted by key, its rows kept in file order among equal
        // keys; its distinct keys counted.
        std::vector<uint32_t> groupsIn(runs);
        onThreads(runs, parts, [&](size_t r) {
            const size_t begin = runStart[r], end = runStart[r + 1];
            sortRun(keys.data() + begin, rows.data() + begin, end - begin, stop);
            uint32_t distinct = 0;
            for (size_t i = begin; i < end; ++i) distinct += i == begin || keys[i] != keys[i - 1];
            groupsIn[r] = distinct;
        });
        firstGroup.resize(runs + 1);
        for (size_t r = 0; r < runs; ++r) firstGroup[r + 1] = firstGroup[r] + groupsIn[r];
    }

    size_t groups() const { return firstGroup.back(); }
    Pass pass(size_t run, const std::atomic<bool>* stop) const {
        return Pass{runStart[run], runStart[run + 1], rows.data(), {}, 0, 1, stop, keys.data(), firstGroup[run]};
    }
    // Once the rows are no longer read: keys holds each group's key.
    LargeArray<uint64_t> takeGroupKeys() {
        size_t g = 0;
        for (size_t i = 0; i < keys.size(); ++i)
            if (i == 0 || keys[i] != keys[g - 1]) keys[g++] = keys[i];
        rows = {};
        keys.resize(g);
        keys.shrinkTo(g);
        return std::move(keys);
    }
};

// The best `limit` values of one column in each group, in the window's
// order. Tied values show the same, so which rows SQLite numbers first
// among them changes nothing shown.
template <typename T>
struct TopLists {
    size_t limit;
    bool descending;
    std::vector<T> values;  // groups x limit, first in order first
    std::vector<uint8_t> held;
    std::vector<int64_t> nulls, rowsIn;

    TopLists(size_t groups, size_t limit, bool descending)
        : limit(limit), descending(descending), values(groups * limit), held(groups), nulls(groups), rowsIn(groups) {}
    bool before(T a, T b) const { return descending ? a > b : a < b; }
    void add(size_t g, T v) {
        T* list = &values[g * limit];
        uint8_t& n = held[g];
        if (n == limit && !before(v, list[n - 1])) return;
        size_t at = n < limit ? n++ : limit - 1;  // a full list drops its last
        while (at > 0 && before(v, list[at - 1])) {
            list[at] = list[at - 1];
            --at;
        }
        list[at] = v;
    }
    void merge(const TopLists& other) {
        for (size_t g = 0; g < held.size(); ++g) {
            for (size_t k = 0; k < other.held[g]; ++k) add(g, other.values[g * limit + k]);
            nulls[g] += other.nulls[g];
            rowsIn[g] += other.rowsIn[g];
        }
    }
};

template <typename T>
std::optional<ColumnRows> topPerGroup(const ColumnPlan& plan, const CsvTable& table, const std::atomic<bool>* stop,
                                      const uint32_t* rows, size_t n) {
    const ColumnPlan::TopPerGroup& top = *plan.top;
    const CsvTable::ValueCodes& codes = table.codesOf(top.partition, stop);
    if (codes.caseTwins) return std::nullopt;
    const size_t groups = codes.width, limit = size_t(top.limit);
    const CsvTable::CellSpan span = table.cellsOf(top.order);
    const size_t parts = threadCount(n);
    std::vector<std::unique_ptr<TopLists<T>>> lists(parts);
    onThreads(parts, parts, [&](size_t p) {
        lists[p] = std::make_unique<TopLists<T>>(groups, limit, top.descending);
        TopLists<T>& mine = *lists[p];
        for (size_t i = n * p / parts, end = n * (p + 1) / parts; i < end; ++i) {
            listen(stop, i);
            const size_t r = rows ? rows[i] : i;
            const uint32_t g = codes.codes[r];
            ++mine.rowsIn[g];
            const size_t k = r - span.firstRow;
            if (k >= span.count || table.isNull(top.order, span.cells[k])) {
                ++mine.nulls[g];
                continue;
            }
            if constexpr (std::is_same_v<T, double>) mine.add(g, span.cells[k].real);
            else mine.add(g, span.cells[k].integer);
        }
    });
    for (size_t p = 1; p < parts; ++p) lists[0]->merge(*lists[p]);
    const TopLists<T>& all = *lists[0];

    ColumnRows out;
    out.fieldCount = top.fields.size();
    RowPart& part = out.parts.emplace_back();
    for (size_t g = 0; g < groups; ++g) {
        listen(stop, g);
        if (!all.rowsIn[g]) continue;
        // Nulls sort first: last in a descending order.
        const size_t held = all.held[g], nulls = size_t(std::min<int64_t>(all.nulls[g], int64_t(limit)));
        const size_t shown = std::min(limit, held + nulls);
        for (size_t k = 0; k < shown; ++k) {
            const bool null = top.descending ? k >= held : k < nulls;
            const size_t at = top.descending ? k : k - nulls;
            for (const ColumnPlan::TopPerGroup::Field field : top.fields) {
                switch (field) {
                case ColumnPlan::TopPerGroup::Field::Partition:
                    part.add(valueOfCell(table, codes.cellOfCode[g], top.partition));
                    break;
                case ColumnPlan::TopPerGroup::Field::Number: part.add(PathValue::ofInteger(int64_t(k + 1))); break;
                case ColumnPlan::TopPerGroup::Field::Order:
                    if (null) {
                        part.add(PathValue{});
                    } else if constexpr (std::is_same_v<T, double>) {
                        // A column's own value keeps the file's spelling of more than fifteen digits.
                        const double v = all.values[g * limit + at];
                        if (const std::optional<std::string> spelled = table.spellingOf(top.order, v)) part.add(*spelled, Kind::Real);
                        else part.add(PathValue::ofReal(v));
                    } else {
                        part.add(PathValue::ofInteger(all.values[g * limit + at]));
                    }
                    break;
                }
            }
        }
    }
    return out;
}

// A key column's values as shown, by code. While none is longer than 30
// bytes, each has a slot of 16 or 32 (its last two bytes: size and kind),
// so that a row reads a value from one line of cache and copies it whole.
class ShownKeys {
public:
    ShownKeys() = default;
    explicit ShownKeys(const std::vector<PathValue>& values) {
        for (const PathValue& v : values) {
            texts_.add(v);
            longest_ = std::max<size_t>(longest_, texts_.field(texts_.kinds.size() - 1).size());
        }
        if (longest_ + 2 > 32) return;
        width_ = longest_ + 2 > 16 ? 32 : 16;
        slots_.resize(values.size() * width_);
        for (size_t code = 0; code < values.size(); ++code) {
            const std::string_view shown = texts_.field(code);
            char* slot = slots_.data() + code * width_;
            std::memcpy(slot, shown.data(), shown.size());
            slot[width_ - 2] = char(shown.size());
            slot[width_ - 1] = char(texts_.kinds[code]);
        }
        texts_ = {};
    }
    size_t longest() const { return longest_; }
    void prefetch(uint32_t code) const {
        if (!slots_.empty()) __builtin_prefetch(slots_.data() + size_t(code) * width_);
    }
    void addTo(RowPart& part, uint32_t code) const {
        if (!slots_.empty()) return part.addSlot(slots_.data() + size_t(code) * width_, width_);
        part.add(texts_.field(code), texts_.kinds[code]);
    }

private:
    RowPart texts_;
    std::vector<char> slots_;
    size_t width_ = 0;
    size_t longest_ = 0;
};

// Drops the rows after the first limit.
void keepFirstRows(ColumnRows& rows, size_t limit) {
    for (size_t p = 0; p < rows.parts.size(); ++p) {
        const size_t in = rows.rowsIn(p);
        if (in < limit) {
            limit -= in;
            continue;
        }
        RowPart& part = rows.parts[p];
        const size_t fields = limit * rows.fieldCount;
        part.text.resize(fields ? part.ends[fields - 1] : 0);
        part.ends.resize(fields);
        part.kinds.resize(fields);
        rows.parts.resize(p + 1);
        return;
    }
}

// How many rows a part holds when a row takes at most rowBytes: few
// enough that a part's text stays within its 32-bit ends. None when one
// row could pass them.
std::optional<size_t> rowsPerPart(size_t rowBytes) {
    if (rowBytes > UINT32_MAX) return std::nullopt;
    return std::clamp<size_t>(UINT32_MAX / std::max<size_t>(rowBytes, 1), 1, columnPathTuning().rowsPerPart);
}

// Sets rows to write count items (rows or groups) in parts of perPart as
// the reader comes to them.
void writeLazily(ColumnRows& rows, size_t count, size_t perPart, const std::atomic<bool>* stop,
                 std::function<void(size_t, size_t, RowPart&)> write) {
    rows.parts.resize((count + perPart - 1) / perPart);
    rows.write = [count, perPart, stop, write = std::move(write)](size_t p, RowPart& part) {
        if (stop && stop->load(std::memory_order_relaxed)) throw Cancelled{};  // a part may be shorter than a listen's stride
        try {
            write(p * perPart, std::min(count, (p + 1) * perPart), part);
        } catch (const Decline&) {  // the bound on a part's text rules this out
            throw Error(QStringLiteral("内部エラー: 結果の一部が 4 GB を超えました。"));
        }
    };
}

// The kept rows' columns, shown as SQLite shows them through the table:
// reals keep the file's spelling of more than fifteen digits, dates are
// texts. Written as the reader comes to them, on every core.
std::optional<ColumnRows> rowsOf(const ColumnPlan& plan, const CsvTable& table, const std::atomic<bool>* stop,
                                 LargeArray<uint32_t> kept, bool filtered, size_t n) {
    ColumnRows out;
    out.fieldCount = plan.items.size();
    struct Source {
        size_t column;
        ColumnType type;
    };
    std::vector<Source> sources;
    size_t rowBytes = 0;
    for (const int item : plan.items) {
        const size_t c = plan.nodes[size_t(item)].index;
        sources.push_back({c, table.columnTypes()[c]});
        rowBytes += table.longestShown(c);
    }
    const std::optional<size_t> perPart = rowsPerPart(rowBytes);
    if (!perPart) return std::nullopt;
    auto rows = std::make_shared<const LargeArray<uint32_t>>(std::move(kept));
    writeLazily(out, n, *perPart, stop, [&table, stop, sources, rows, filtered](size_t begin, size_t end, RowPart& part) {
        part.ends.reserve((end - begin) * sources.size());
        part.kinds.reserve((end - begin) * sources.size());
        for (size_t i = begin; i < end; ++i) {
            listen(stop, i);
            const size_t r = filtered ? (*rows)[i] : i;
            for (const Source& s : sources) {
                const Cell c = table.cell(r, s.column);
                if (table.isNull(s.column, c)) {
                    part.add(PathValue{});
                    continue;
                }
                switch (s.type) {
                case ColumnType::Integer: part.add(PathValue::ofInteger(c.integer)); break;
                case ColumnType::Real:
                    if (const std::optional<std::string> spelled = table.spellingOf(s.column, c.real)) part.add(*spelled, Kind::Real);
                    else part.add(PathValue::ofReal(c.real));
                    break;
                case ColumnType::Date:
                case ColumnType::DateTime:
                case ColumnType::Time: part.add(momentText(s.type, c.integer), Kind::Text); break;
                case ColumnType::Text: part.add(PathValue::ofText(table.textOf(c))); break;
                }
            }
        }
    });
    return out;
}

// A comparison of an integer, date or moment column with a whole number,
// as a closed range of values, least..most (Ne: all but one, as two ranges
// is more than a row's test needs: its value is out).
struct CellBound {
    CsvTable::CellSpan cells;
    int64_t least, most;
    bool outside = false;  // Ne: the value is least (= most)
};

CellBound boundOf(CsvTable::CellSpan cells, PlanNode::Op op, int64_t value) {
    constexpr int64_t lowest = std::numeric_limits<int64_t>::min() + 1, highest = std::numeric_limits<int64_t>::max();
    const CellBound none{cells, 1, 0};
    switch (op) {
    case PlanNode::Op::Eq: return value < lowest ? none : CellBound{cells, value, value};
    case PlanNode::Op::Ne: return {cells, value, value, true};
    case PlanNode::Op::Lt: return value <= lowest ? none : CellBound{cells, lowest, value - 1};
    case PlanNode::Op::Le: return {cells, lowest, value};
    case PlanNode::Op::Gt: return value == highest ? none : CellBound{cells, std::max(value + 1, lowest), highest};
    case PlanNode::Op::Ge: return {cells, std::max(value, lowest), highest};
    }
    return none;
}

// A condition on one column's value codes, several on the same column made
// one: by code, whether a row passes.
struct CodePass {
    const CodeArray* codes;
    std::vector<uint8_t> passes;
};

// A filter that is comparisons with whole numbers (a date range) and
// conditions by value code (Year(sold_on) = 2024), joined by And: read
// straight from the cells and codes, not through the tree.
struct QuickFilter {
    std::vector<CellBound> bounds;
    std::vector<CodePass> codes;
};

std::optional<QuickFilter> quickFilterOf(const ColumnPlan& plan, const CsvTable& table, int index) {
    const PlanNode& n = plan.nodes[size_t(index)];
    if (n.kind == PlanNode::Kind::And) {
        auto left = quickFilterOf(plan, table, n.children[0]), right = quickFilterOf(plan, table, n.children[1]);
        if (!left || !right) return std::nullopt;
        left->bounds.insert(left->bounds.end(), right->bounds.begin(), right->bounds.end());
        for (CodePass& c : right->codes) {
            const auto same = std::find_if(left->codes.begin(), left->codes.end(), [&](const CodePass& l) { return l.codes == c.codes; });
            if (same == left->codes.end()) {
                left->codes.push_back(std::move(c));
                continue;
            }
            for (size_t k = 0; k < c.passes.size(); ++k) same->passes[k] &= c.passes[k];
        }
        return left;
    }
    if (n.kind == PlanNode::Kind::CodeTest) {
        CodePass pass{&n.codes->codes, std::vector<uint8_t>(n.truthOfCode->size())};
        for (size_t k = 0; k < pass.passes.size(); ++k) pass.passes[k] = (*n.truthOfCode)[k] == 1;
        return QuickFilter{{}, {std::move(pass)}};
    }
    if (n.kind != PlanNode::Kind::Compare) return std::nullopt;
    const PlanNode* column = &plan.nodes[size_t(n.children[0])];
    const PlanNode* literal = &plan.nodes[size_t(n.children[1])];
    PlanNode::Op op = n.op;
    if (column->kind == PlanNode::Kind::Literal) {
        std::swap(column, literal);
        // The literal on the left: the same bound seen from the column.
        static constexpr PlanNode::Op mirrored[] = {PlanNode::Op::Eq, PlanNode::Op::Ne, PlanNode::Op::Gt,
                                                    PlanNode::Op::Ge, PlanNode::Op::Lt, PlanNode::Op::Le};
        op = mirrored[size_t(op)];
    }
    if (column->kind != PlanNode::Kind::Column || literal->kind != PlanNode::Kind::Literal ||
        literal->literal.kind != Kind::Integer)
        return std::nullopt;
    const ColumnType type = table.columnTypes()[column->index];
    if (type == ColumnType::Text || type == ColumnType::Real) return std::nullopt;
    return QuickFilter{{boundOf(table.cellsOf(column->index), op, literal->literal.integer)}, {}};
}

// Null (INT64_MIN, or no cell) is within no bound: every least is above it.
bool passes(const CellBound& b, size_t row) {
    const size_t i = row - b.cells.firstRow;  // rows before firstRow wrap past count
    if (i >= b.cells.count) return false;     // null
    const int64_t v = b.cells.cells[i].integer;
    const bool inside = uint64_t(v) - uint64_t(b.least) <= uint64_t(b.most) - uint64_t(b.least);
    return b.outside ? !inside && v != kNullInteger : inside;
}

// The rows from..to that pass, written from out on: a block at a time, each
// test a tight loop over the rows the tests before kept (the first over
// them all), as a column store filters. Returns how many.
size_t passing(const QuickFilter& filter, size_t from, size_t to, uint32_t* out) {
    for (const CellBound& b : filter.bounds)
        if (!b.outside && b.least > b.most) return 0;  // an empty range: nothing passes
    const auto keep = [&](auto test) {
        size_t k = 0;
        for (size_t j = 0, m = to - from; j < m; ++j) {
            out[k] = out[j];
            k += test(out[j]);
        }
        to = from + k;
    };
    size_t start = 0;  // the tests done on the dense rows
    if (!filter.bounds.empty()) {
        size_t k = 0;
        const CellBound& b = filter.bounds[0];
        for (size_t r = from; r < to; ++r) {
            out[k] = uint32_t(r);
            k += passes(b, r);
        }
        to = from + k;
        start = 1;
    } else {
        for (size_t r = from; r < to; ++r) out[r - from] = uint32_t(r);
    }
    for (size_t i = start; i < filter.bounds.size(); ++i) keep([&](uint32_t r) { return passes(filter.bounds[i], r); });
    for (const CodePass& c : filter.codes) keep([&](uint32_t r) { return c.passes[(*c.codes)[r]] != 0; });
    return to - from;
}

// ORDER BY's columns, where each key is a column of numbers or texts.
struct OrderColumn {
    size_t column;
    bool descending;
};
std::optional<std::vector<OrderColumn>> orderColumns(const ColumnPlan& plan, const CsvTable& table) {
    std::vector<OrderColumn> out;
    for (const ColumnPlan::OrderKey& o : plan.order) {
        const PlanNode& n = plan.nodes[size_t(o.node)];
        if (n.kind != PlanNode::Kind::Column) return std::nullopt;
        const ColumnType type = table.columnTypes()[n.index];
        if (type != ColumnType::Integer && type != ColumnType::Real && type != ColumnType::Text) return std::nullopt;
        out.push_back({n.index, o.descending});
    }
    return out;
}

// Of the rows, the first limit by ORDER BY, in order, and the one after:
// each core keeps the first of its share, and those are sorted. The values
// are compared as they are, so no codes are built. False where rows tie
// among them (SQLite's sorter orders those, and TOP shows every row that
// ties with its last), or a key is not a column of numbers or texts.
bool firstRows(const ColumnPlan& plan, const CsvTable& table, LargeArray<uint32_t>& rows, size_t limit,
               const std::atomic<bool>* stop) {
    const std::optional<std::vector<OrderColumn>> keys = orderColumns(plan, table);
    if (!keys) return false;
    const auto compare = [&](uint32_t a, uint32_t b) {
        for (const OrderColumn& k : *keys) {
            const int c = orderOf(cellValue(table, a, k.column), cellValue(table, b, k.column));
            if (c) return k.descending ? -c : c;
        }
        return 0;
    };
    const size_t keep = std::min(rows.size(), limit + 1);
    const size_t n = rows.size();
    const size_t parts = threadCount(n);
    std::vector<std::vector<uint32_t>> best(parts);
    onThreads(parts, parts, [&](size_t p) {
        std::vector<uint32_t>& mine = best[p];
        const size_t begin = n * p / parts, end = n * (p + 1) / parts;
        mine.assign(rows.data() + begin, rows.data() + end);
        const size_t most = std::min(keep, mine.size());
        size_t steps = 0;
        std::partial_sort(mine.begin(), mine.begin() + ptrdiff_t(most), mine.end(), [&](uint32_t a, uint32_t b) {
            listen(stop, ++steps);
            return compare(a, b) < 0;
        });
        mine.resize(most);
    });
    std::vector<uint32_t> all;
    for (const std::vector<uint32_t>& part : best) all.insert(all.end(), part.begin(), part.end());
    std::partial_sort(all.begin(), all.begin() + ptrdiff_t(keep), all.end(), [&](uint32_t a, uint32_t b) { return compare(a, b) < 0; });
    for (size_t i = 1; i < keep; ++i)
        if (compare(all[i - 1], all[i]) == 0) return false;
    rows.resize(keep);
    std::copy(all.begin(), all.begin() + ptrdiff_t(keep), rows.data());
    return true;
}

// The kept rows in ORDER BY's order (nulls first, texts ignoring case, -0
// as 0): keys of value codes that fit 64 bits together by one radix sort,
// others a share sorted on each core and the shares merged. False where
// texts differ only in case or two rows tie: SQLite's order then.
bool sortRows(const ColumnPlan& plan, const CsvTable& table, LargeArray<uint32_t>& rows, const std::atomic<bool>* stop) {
    struct Key {
        const CsvTable::ValueCodes* codes;  // null: a real column's cells
        CsvTable::CellSpan cells;
        bool descending;
    };
    const std::optional<std::vector<OrderColumn>> columns = orderColumns(plan, table);
    if (!columns) return false;
    std::vector<Key> keys;
    for (const OrderColumn& o : *columns) {
        Key key{nullptr, table.cellsOf(o.column), o.descending};
        if (table.columnTypes()[o.column] != ColumnType::Real) {
            key.codes = &table.codesOf(o.column, stop);
            if (key.codes->caseTwins) return false;
        }
        keys.push_back(key);
    }
    const auto realAt = [](const Key& k, uint32_t r) {
        const size_t i = r - k.cells.firstRow;  // rows before firstRow wrap past count
        const double d = i < k.cells.count ? k.cells.cells[i].real : std::numeric_limits<double>::quiet_NaN();
        return d == 0 ? 0.0 : d;
    };
    const auto compare = [&](uint32_t a, uint32_t b) {
        for (const Key& k : keys) {
            int c = 0;
            if (k.codes) {
                const uint32_t x = k.codes->codes[a], y = k.codes->codes[b];
                c = x < y ? -1 : x > y;
            } else {
                const double x = realAt(k, a), y = realAt(k, b);
                c = std::isnan(x) ? (std::isnan(y) ? 0 : -1) : std::isnan(y) ? 1 : x < y ? -1 : x > y;
            }
            if (c) return k.descending ? -c : c;
        }
        return 0;
    };
    const size_t n = rows.size();
    const size_t parts = threadCount(n);
    // Codes only, in 64 bits side by side: one radix sort of the numbers.
    int bits = 0;
    for (const Key& k : keys) bits += k.codes ? std::max(1, int(std::bit_width(k.codes->width - 1))) : 65;
    if (bits <= 64) {
        std::vector<uint64_t> packed(n);
        onThreads(parts, parts, [&](size_t p) {
            for (size_t i = n * p / parts, end = n * (p + 1) / parts; i < end; ++i) {
                listen(stop, i);
                uint64_t value = 0;
                for (const Key& k : keys) {
                    const int width = std::max(1, int(std::bit_width(k.codes->width - 1)));
                    const uint64_t code = k.codes->codes[rows[i]];
                    value = value << width | (k.descending ? ((uint64_t(1) << width) - 1) - code : code);
                }
                packed[i] = value;
            }
        });
        sortRun(packed.data(), rows.data(), n, stop);
        for (size_t i = 1; i < n; ++i)
            if (packed[i] == packed[i - 1]) return false;
        return true;
    }
    std::vector<size_t> bounds(parts + 1);
    for (size_t p = 0; p <= parts; ++p) bounds[p] = n * p / parts;
    onThreads(parts, parts, [&](size_t p) {
        size_t steps = 0;
        std::sort(rows.data() + bounds[p], rows.data() + bounds[p + 1], [&](uint32_t a, uint32_t b) {
            listen(stop, ++steps);
            return compare(a, b) < 0;
        });
    });
    for (size_t p = 1; p < parts; ++p)
        std::inplace_merge(rows.data(), rows.data() + bounds[p], rows.data() + bounds[p + 1],
                           [&](uint32_t a, uint32_t b) { return compare(a, b) < 0; });
    for (size_t i = 1; i < n; ++i) {
        listen(stop, i);
        if (compare(rows[i - 1], rows[i]) == 0) return false;
    }
    return true;
}

// The rows WHERE keeps, in file order, found on every core.
// On whole pages: the lists grow, and the first takes the others on,
// without copying what they hold.
LargeArray<uint32_t> keptRows(const ColumnPlan& plan, const CsvTable& table, const std::optional<QuickFilter>& quick,
                              const std::atomic<bool>* stop) {
    const size_t rows = table.rowCount();
    const size_t parts = threadCount(rows);
    std::vector<LargeArray<uint32_t>> pieces(parts);
    onThreads(parts, parts, [&](size_t p) {
        const size_t begin = rows * p / parts, end = rows * (p + 1) / parts;
        if (quick) {
            // Room for every row, so a row is written without a test.
            LargeArray<uint32_t>& piece = pieces[p];
            piece.resize(end - begin);
            size_t count = 0;
            for (size_t from = begin; from < end; from += kBlockRows) {
                hear(stop);
                count += passing(*quick, from, std::min(end, from + kBlockRows), piece.data() + count);
            }
            piece.resize(count);
            return;
        }
        LargeArray<uint32_t> piece;  // its own, not in a slot beside the others': their sizes would share a cache line
        for (size_t r = begin; r < end; ++r) {
            listen(stop, r);
            if (truthOf(plan, plan.where, RowSource{table, r}) == Truth::True) piece.push_back(uint32_t(r));
        }
        pieces[p] = std::move(piece);
    });
    LargeArray<uint32_t> kept = std::move(pieces[0]);
    for (size_t p = 1; p < parts; ++p) kept.append(pieces[p].data(), pieces[p].size());
    return kept;
}

// A group key's part of a row's group number: its column's value code, or
// the rank of the key worked out of that code.
struct KeyPart {
    const CodeArray* codes;
    const uint32_t* keyOfCode;  // null: the code itself
    int shift;
};

// Grouping a block at a time, as a column store does: each core takes its
// share of the rows a block at a time, keeps the block's rows that pass the
// filter, works out their group numbers and adds them up, all while the
// block is in the cache. Nothing as long as the file is written: not the
// kept rows, not the group numbers.
void addInBlocks(Accumulators& totals, const ColumnPlan& plan, const CsvTable& table, const std::optional<QuickFilter>& quick,
                 const std::vector<KeyPart>& keys, const std::atomic<bool>* stop) {
    const size_t rows = table.rowCount();
    const size_t parts = threadCount(rows);
    std::vector<std::unique_ptr<Accumulators>> partial(parts);
    for (size_t p = 1; p < parts; ++p) partial[p] = std::make_unique<Accumulators>(plan, table, totals.groupCount(), stop);
    onThreads(parts, parts, [&](size_t p) {
        Accumulators& mine = p == 0 ? totals : *partial[p];
        uint32_t kept[kBlockRows], group[kBlockRows];
        for (size_t from = rows * p / parts, end = rows * (p + 1) / parts; from < end; from += kBlockRows) {
            hear(stop);
            const size_t to = std::min(end, from + kBlockRows);
            const size_t count = quick ? passing(*quick, from, to, kept) : to - from;
            // Unfiltered, the block's rows are from..to and need no list.
            const auto rowOf = [&](size_t i) -> size_t { return quick ? kept[i] : from + i; };
            std::fill_n(group, count, 0);
            for (const KeyPart& key : keys) {
                const auto addCodes = [&](const auto* codes) {
                    for (size_t i = 0; i < count; ++i) {
                        const uint32_t code = codes[rowOf(i)];
                        group[i] |= (key.keyOfCode ? key.keyOfCode[code] : code) << key.shift;
                    }
                };
                switch (key.codes->bytes()) {
                case 1: addCodes(key.codes->ones()); break;
                case 2: addCodes(key.codes->twos()); break;
                default: addCodes(key.codes->fours()); break;
                }
            }
            Pass pass{0, count, quick ? kept : nullptr, {keys.empty() ? nullptr : group, 4}, 0, 1, stop};
            pass.firstRow = from;
            mine.add(pass);
        }
    });
    for (size_t p = 1; p < parts; ++p) totals.merge(*partial[p]);
}

// Rows from values, each row's fields and then its ORDER BY keys side by
// side: in ORDER BY's order (else as given) and cut to TOP. Nothing where
// two rows tie: SQLite's sorter sets no order among them that we could promise.
std::optional<ColumnRows> orderedRows(const ColumnPlan& plan, const std::vector<PathValue>& values, const std::atomic<bool>* stop) {
    const size_t width = plan.items.size() + plan.order.size();
    std::vector<size_t> sequence(values.size() / std::max<size_t>(width, 1));
    std::iota(sequence.begin(), sequence.end(), size_t(0));
    if (!plan.order.empty()) {
        const size_t firstKey = plan.items.size();
        const auto compare = [&](size_t a, size_t b) {
            for (size_t k = 0; k < plan.order.size(); ++k) {
                const int c = orderOf(values[a * width + firstKey + k], values[b * width + firstKey + k]);
                if (c) return plan.order[k].descending ? -c : c;
            }
            return 0;
        };
        size_t comparisons = 0;
        std::sort(sequence.begin(), sequence.end(), [&](size_t a, size_t b) {
            listen(stop, ++comparisons);
            return compare(a, b) < 0;
        });
        for (size_t i = 1; i < sequence.size(); ++i)
            if (compare(sequence[i - 1], sequence[i]) == 0) return std::nullopt;
    }
    if (plan.limit && sequence.size() > size_t(*plan.limit)) sequence.resize(size_t(*plan.limit));
    ColumnRows out;
    out.fieldCount = plan.items.size();
    RowPart& part = out.parts.emplace_back();
    for (const size_t i : sequence)
        for (size_t f = 0; f < plan.items.size(); ++f) part.add(values[i * width + f]);
    return out;
}

// The groups' rows: each group's key values and aggregates, HAVING's test
// and ORDER BY's order.
std::optional<ColumnRows> groupRows(const ColumnPlan& plan, const CsvTable& table, Accumulators totals,
                                    const std::vector<const CsvTable::ValueCodes*>& codes, const KeyFields& keyFields,
                                    LargeArray<uint64_t> keyOfGroup, const std::atomic<bool>* stop) {
    const KeyFields* layout = &keyFields;
    const size_t groups = totals.groupCount();
    // A group's key values, read from a row that holds each of its codes.
    struct GroupSource {
        const CsvTable& table;
        const Accumulators& totals;
        const ColumnPlan& plan;
        const std::vector<const CsvTable::ValueCodes*>& codes;
        const KeyFields& layout;
        size_t group;
        uint64_t key;
        PathValue column(size_t c) const {
            for (size_t k = 0; k < codes.size(); ++k) {
                if (plan.groupColumns[k] != c || plan.derived[k]) continue;
                return valueOfCell(table, codes[k]->cellOfCode[layout.code(key, k)], c);
            }
            throw Decline{};
        }
        PathValue aggregate(size_t k) const { return totals.value(k, group); }
        PathValue groupKey(size_t k) const { return plan.derived[k]->keys[layout.code(key, k)]; }
        size_t rowIndex() const { throw Decline{}; }
    };
    ColumnRows out;
    out.fieldCount = plan.items.size();
    const auto sourceOf = [&](size_t g) {
        return GroupSource{table, totals, plan, codes, *layout, g, keyOfGroup.empty() ? g : keyOfGroup[g]};
    };
    const auto wanted = [&](size_t g, const GroupSource& source) {
        if (!codes.empty() && totals.rowsIn(g) == 0) return false;  // a key no row has
        return plan.having < 0 || truthOf(plan, plan.having, source) == Truth::True;
    };
    // Unordered, the groups' own order is the result's: the groups are cut
    // into runs, and each run is written into a part of its own.
    if (plan.order.empty()) {
        // Each key column's values are written once, code by code; a row
        // then copies its codes' texts.
        std::vector<ShownKeys> keyTexts(codes.size());
        size_t rowBytes = 0;
        for (size_t k = 0; k < codes.size(); ++k) {
            std::vector<PathValue> values(codes[k]->width);
            for (uint32_t code = 0; code < codes[k]->width; ++code)
                values[code] = plan.derived[k] ? plan.derived[k]->keys[code]
                                               : valueOfCell(table, codes[k]->cellOfCode[code], plan.groupColumns[k]);
            keyTexts[k] = ShownKeys(values);
            rowBytes += keyTexts[k].longest();
        }
        struct Field {
            int key = -1, aggregate = -1;  // else the item is worked out
        };
        std::vector<Field> fields(plan.items.size());
        bool workedOut = false;
        for (size_t f = 0; f < fields.size(); ++f) {
            const PlanNode& n = plan.nodes[size_t(plan.items[f])];
            if (n.kind == PlanNode::Kind::Aggregate) fields[f].aggregate = int(n.index);
            for (size_t k = 0; k < codes.size() && n.kind == PlanNode::Kind::Column; ++k)
                if (plan.groupColumns[k] == n.index && !plan.derived[k]) fields[f].key = int(k);
            if (n.kind == PlanNode::Kind::GroupKey) fields[f].key = int(n.index);
            if (fields[f].key >= 0) continue;
            workedOut |= fields[f].aggregate < 0;
            rowBytes += 32;  // a number as shown
        }
        // Rows of keys and totals alone, every total of which is known to be
        // one, are written as the reader comes to them, from the totals.
        const std::optional<size_t> perPart = rowsPerPart(rowBytes);
        if (!workedOut && plan.having < 0 && !plan.limit && perPart && totals.allAnswered(groups, stop)) {
            struct Groups {
                Accumulators totals;
                LargeArray<uint64_t> keyOfGroup;
                std::vector<const CsvTable::ValueCodes*> codes;
                KeyFields layout;
                std::vector<ShownKeys> keyTexts;
                std::vector<Field> fields;
            };
            auto held = std::make_shared<const Groups>(Groups{std::move(totals), std::move(keyOfGroup), codes, *layout,
                                                              std::move(keyTexts), fields});
            writeLazily(out, groups, *perPart, stop, [held, stop](size_t begin, size_t end, RowPart& part) {
                const Groups& h = *held;
                part.ends.reserve((end - begin) * h.fields.size());
                part.text.reserve((end - begin) * h.fields.size() * 6);
                part.kinds.reserve((end - begin) * h.fields.size());
                const auto keyOf = [&](size_t g) { return h.keyOfGroup.empty() ? g : h.keyOfGroup[g]; };
                constexpr size_t ahead = 8;  // a key column of many values is read at random: its slots are fetched ahead
                for (size_t g = begin; g < end; ++g) {
                    listen(stop, g);
                    if (g + ahead < end)
                        for (size_t k = 0; k < h.codes.size(); ++k) h.keyTexts[k].prefetch(h.layout.code(keyOf(g + ahead), k));
                    if (!h.codes.empty() && h.totals.rowsIn(g) == 0) continue;  // a key no row has
                    const uint64_t key = keyOf(g);
                    for (const Field& field : h.fields) {
                        if (field.key < 0) {
                            part.add(h.totals.value(size_t(field.aggregate), g));
                            continue;
                        }
                        const size_t k = size_t(field.key);
                        const uint32_t code = h.layout.code(key, k);
                        h.keyTexts[k].addTo(part, code);
                    }
                }
            });
            return out;
        }
        const size_t writers = threadCount(groups * 16);
        const size_t most = columnPathTuning().rowsPerPart;
        out.parts.resize(std::max(writers, (groups + most - 1) / most));
        const size_t count = out.parts.size();
        onThreads(count, writers, [&](size_t p) {
            RowPart& part = out.parts[p];
            const size_t begin = groups * p / count, end = groups * (p + 1) / count;
            part.ends.reserve((end - begin) * out.fieldCount);
            part.text.reserve((end - begin) * out.fieldCount * 6);
            part.kinds.reserve((end - begin) * out.fieldCount);
            for (size_t g = begin; g < end; ++g) {
                listen(stop, g);
                const GroupSource source = sourceOf(g);
                if (!wanted(g, source)) continue;
                for (size_t f = 0; f < fields.size(); ++f) {
                    const Field& field = fields[f];
                    if (field.key >= 0) {
                        const uint32_t code = layout->code(source.key, size_t(field.key));
                        keyTexts[size_t(field.key)].addTo(part, code);
                    } else if (field.aggregate >= 0) {
                        part.add(totals.value(size_t(field.aggregate), g));
                    } else {
                        part.add(valueOf(plan, plan.items[f], source));
                    }
                }
            }
        });
        if (plan.limit) keepFirstRows(out, size_t(*plan.limit));
        return out;
    }
    std::vector<PathValue> values;
    for (size_t g = 0; g < groups; ++g) {
        listen(stop, g);
        const GroupSource source = sourceOf(g);
        if (!wanted(g, source)) continue;
        for (const int item : plan.items) values.push_back(valueOf(plan, item, source));
        for (const ColumnPlan::OrderKey& key : plan.order) values.push_back(valueOf(plan, key.node, source));
    }

    return orderedRows(plan, values, stop);
}

// A grouping's totals, and what tells each group's key.
struct Grouping {
    Accumulators totals;
    std::vector<const CsvTable::ValueCodes*> codes;  // each key's codes
    std::vector<std::unique_ptr<CsvTable::ValueCodes>> derivedCodes;  // what codes of derived keys point to
    KeyFields layout;
    LargeArray<uint64_t> keyOfGroup;  // when the group number is a rank
};
std::optional<Grouping> groupTotals(const ColumnPlan& plan, const CsvTable& table, const std::optional<QuickFilter>& quick,
                                    const std::atomic<bool>* stop);

std::optional<ColumnRows> run(const ColumnPlan& plan, const CsvTable& table, const std::atomic<bool>* stop) {
    const size_t rows = table.rowCount();
    const bool filtered = plan.where >= 0;
    const std::optional<QuickFilter> quick = filtered ? quickFilterOf(plan, table, plan.where) : std::nullopt;
    LargeArray<uint32_t> kept;
    if (plan.projection || plan.top) {
        if (filtered) kept = keptRows(plan, table, quick, stop);
        const size_t n = filtered ? kept.size() : rows;
        if (plan.top) {
            const uint32_t* list = filtered ? kept.data() : nullptr;
            if (table.columnTypes()[plan.top->order] == ColumnType::Real) return topPerGroup<double>(plan, table, stop, list, n);
            return topPerGroup<int64_t>(plan, table, stop, list, n);
        }
        if (!plan.order.empty()) {
            if (!filtered) {
                kept.resize(rows);
                for (size_t r = 0; r < rows; ++r) kept[r] = uint32_t(r);
            }
            const bool few = plan.limit && size_t(*plan.limit) < kept.size() / 16;
            if (!(few ? firstRows(plan, table, kept, size_t(*plan.limit), stop) : sortRows(plan, table, kept, stop)))
                return std::nullopt;
        }
        const bool listed = filtered || !plan.order.empty();
        return rowsOf(plan, table, stop, std::move(kept), listed, plan.limit ? std::min(n, size_t(*plan.limit)) : n);
    }

    std::optional<Grouping> grouping = groupTotals(plan, table, quick, stop);
    if (!grouping) return std::nullopt;
    return groupRows(plan, table, std::move(grouping->totals), grouping->codes, grouping->layout,
                     std::move(grouping->keyOfGroup), stop);
}

// The totals of the groups, in the order of their keys, which is SQLite's
// GROUP BY order: a group's number is its key while the keys span a small
// range, else its rank among the keys present.
std::optional<Grouping> groupTotals(const ColumnPlan& plan, const CsvTable& table, const std::optional<QuickFilter>& quick,
                                    const std::atomic<bool>* stop) {
    const size_t rows = table.rowCount();
    const bool filtered = plan.where >= 0;
    LargeArray<uint32_t> kept;
    std::vector<const CsvTable::ValueCodes*> codes;
    std::vector<std::unique_ptr<CsvTable::ValueCodes>> derivedCodes;  // a derived key's rank, row by row
    std::vector<const CsvTable::ValueCodes*> sourceCodes;             // the codes of each key's column
    for (size_t k = 0; k < plan.groupColumns.size(); ++k) {
        const CsvTable::ValueCodes& c = table.codesOf(plan.groupColumns[k], stop);
        sourceCodes.push_back(&c);
        if (const std::optional<DerivedKey>& derived = plan.derived[k]) {
            auto& made = derivedCodes.emplace_back(std::make_unique<CsvTable::ValueCodes>());
            made->width = uint32_t(std::max<size_t>(derived->keys.size(), 1));
            codes.push_back(made.get());  // its ranks row by row are written only if the rows are sorted by key
            continue;
        }
        if (c.caseTwins) return std::nullopt;
        codes.push_back(&c);
    }
    const std::optional<KeyFields> layout = KeyFields::of(codes);
    if (!layout) return std::nullopt;
    const uint64_t span = layout->span;
    const bool dense = columnPathTuning().denseKeys && span <= columnPathTuning().denseKeys;
    size_t groups = dense && !codes.empty() ? size_t(span) : 1;
    // A derived key, more than one key or a filter give each row a group
    // number to work out: in blocks, where the groups are few enough for
    // every core to take a share of the rows.
    const bool derivedKey = std::any_of(plan.derived.begin(), plan.derived.end(), [](const auto& d) { return d.has_value(); });
    if (dense && (!filtered || quick) && (filtered || derivedKey || codes.size() > 1) &&
        (threadCount(rows) == 1 || groups <= columnPathTuning().groupsForRowShares)) {
        std::vector<KeyPart> parts;
        for (size_t k = 0; k < codes.size(); ++k)
            parts.push_back({&sourceCodes[k]->codes, plan.derived[k] ? plan.derived[k]->keyOfCode.data() : nullptr, layout->shift[k]});
        Accumulators totals(plan, table, groups, stop);
        addInBlocks(totals, plan, table, quick, parts, stop);
        return Grouping{std::move(totals), std::move(codes), std::move(derivedCodes), *layout, {}};
    }

    if (filtered) kept = keptRows(plan, table, quick, stop);
    const size_t n = filtered ? kept.size() : rows;
    const auto rowAt = [&](size_t i) -> size_t { return filtered ? kept[i] : i; };
    for (size_t k = 0, d = 0; k < codes.size(); ++k) {
        if (!plan.derived[k]) continue;
        const std::vector<uint32_t>& keyOfCode = plan.derived[k]->keyOfCode;
        const CodeArray& source = sourceCodes[k]->codes;
        LargeArray<uint32_t> keys;
        keys.resize(rows);
        const size_t parts = threadCount(rows);
        onThreads(parts, parts, [&](size_t p) {
            for (size_t r = rows * p / parts, end = rows * (p + 1) / parts; r < end; ++r) {
                listen(stop, r);
                keys[r] = keyOfCode[source[r]];
            }
        });
        derivedCodes[d]->codes = CodeArray(std::move(keys), derivedCodes[d]->width);
        ++d;
    }
    const auto keyOf = [&](size_t row) {
        uint64_t key = 0;
        for (size_t k = 0; k < codes.size(); ++k) key |= uint64_t(codes[k]->codes[row]) << layout->shift[k];
        return key;
    };
    const size_t parts = threadCount(n);
    LargeArray<uint32_t> groupStore;
    GroupNumbers groupOf;
    LargeArray<uint64_t> keyOfGroup;      // when the group number is a rank
    if (!codes.empty() && dense) {
        if (codes.size() == 1 && !filtered) {
            groupOf = GroupNumbers::of(codes[0]->codes);
        } else {
            groupStore.resize(n);
            onThreads(parts, parts, [&](size_t p) {
                for (size_t i = n * p / parts, end = n * (p + 1) / parts; i < end; ++i) {
                    listen(stop, i);
                    groupStore[i] = uint32_t(keyOf(rowAt(i)));
                }
            });
            groupOf = {groupStore.data(), 4};
        }
    }
    std::optional<KeyOrder> order;  // many keys: the rows sorted by key
    if (!codes.empty() && !dense) {
        order.emplace(n, span, keyOf, rowAt, columnPathTuning().rowsPerRun, stop);
        groups = order->groups();
    }

    // Few groups: each thread a share of the rows, merged in row order.
    // Many: each thread its share of the groups, over all rows. Rows sorted
    // by key: each thread its runs, whose groups are its own.
    Accumulators totals(plan, table, groups, stop);
    const uint32_t* rowList = filtered ? kept.data() : nullptr;
    if (order) {
        const size_t runs = order->runStart.size() - 1;
        onThreads(runs, parts, [&](size_t r) { totals.add(order->pass(r, stop)); });
        keyOfGroup = order->takeGroupKeys();
        order.reset();
    } else if (parts == 1 || groups <= std::max<size_t>(columnPathTuning().groupsForRowShares, std::min<size_t>(n / 8, 1 << 20))) {
        std::vector<std::unique_ptr<Accumulators>> partial(parts);
        for (size_t p = 1; p < parts; ++p) partial[p] = std::make_unique<Accumulators>(plan, table, groups, stop);
        onThreads(parts, parts, [&](size_t p) {
            (p == 0 ? totals : *partial[p]).add(Pass{n * p / parts, n * (p + 1) / parts, rowList, groupOf, 0, 1, stop});
        });
        for (size_t p = 1; p < parts; ++p) totals.merge(*partial[p]);
    } else {
        onThreads(parts, parts, [&](size_t p) { totals.add(Pass{0, n, rowList, groupOf, uint32_t(p), uint32_t(parts), stop}); });
    }
    return Grouping{std::move(totals), std::move(codes), std::move(derivedCodes), *layout, std::move(keyOfGroup)};
}


}  // namespace

// Most fields are a few bytes: two fixed-size copies that overlap beat a
// call to memcpy for each.
void RowPart::appendText(std::string_view s) {
    const size_t n = s.size();
    if (n == 0 || n > 16) return text.append(s.data(), n);
    const size_t at = text.size();
    text.resize(at + n);
    char* to = text.data() + at;
    const char* from = s.data();
    if (n >= 8) {
        std::memcpy(to, from, 8);
        std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + n - 4, from + n - 4, 4);
    } else {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    }
}

void RowPart::add(std::string_view shown, Kind kind) {
    appendText(shown);
    if (text.size() > UINT32_MAX) throw Decline{};
    ends.push_back(uint32_t(text.size()));
    kinds.push_back(kind);
}

void RowPart::addSlot(const char* slot, size_t width) {
    const size_t at = text.size();
    if (at + width > text.capacity()) text.reserve(std::max(at + width, text.capacity() * 2));
    std::memcpy(text.data() + at, slot, 16);  // whole: copies of fixed size
    if (width > 16) std::memcpy(text.data() + at + 16, slot + 16, 16);
    text.resize(at + uint8_t(slot[width - 2]));
    if (text.size() > UINT32_MAX) throw Decline{};
    ends.push_back(uint32_t(text.size()));
    kinds.push_back(Kind(slot[width - 1]));
}

void RowPart::add(const PathValue& v) {
    // Numbers are written straight into the text: room for the longest first.
    const size_t at = text.size();
    if (v.kind == Kind::Integer || v.kind == Kind::Real) {
        constexpr size_t longestNumber = 32;
        if (at + longestNumber > text.capacity()) text.reserve(std::max(at + longestNumber, text.capacity() * 2));
        char* to = text.data() + at;
        char* end = v.kind == Kind::Integer ? std::to_chars(to, to + longestNumber, v.integer).ptr : formatRealInto(to, v.real);
        text.resize(at + size_t(end - to));
    } else if (v.kind == Kind::Text) {
        appendText(v.text);
    }
    if (text.size() > UINT32_MAX) throw Decline{};  // a part past 4 GB: SQLite's rows then
    ends.push_back(uint32_t(text.size()));
    kinds.push_back(v.kind);
}

void ColumnRows::ready(size_t p) {
    if (!write || p < written || p >= parts.size()) return;
    // The reader comes to the parts in order; the next few are written together.
    const size_t count = std::min(parts.size() - p, coreCount());
    // Fresh pages cost a fault each and a shootdown when let go; a read
    // part's pages are written again instead.
    for (size_t k = 0; k < count && !spare.empty(); ++k) {
        parts[p + k] = std::move(spare.back());
        spare.pop_back();
    }
    onThreads(count, count, [&](size_t k) { write(p + k, parts[p + k]); });
    written = p + count;
}

void ColumnRows::done(size_t p) {
    if (write && p + 1 < parts.size() && spare.size() < coreCount()) {
        parts[p].clear();
        spare.push_back(std::move(parts[p]));
    }
    parts[p] = {};
}

ColumnPathTuning& columnPathTuning() {
    static ColumnPathTuning tuning;
    return tuning;
}

namespace {

PathValue gatheredValue(const AggregateSpec& what, ColumnType type, const GatheredTotal& t) {
    const int64_t n = t.count;
    switch (what.kind) {
    case Aggregate::CountRows:
    case Aggregate::Count: return PathValue::ofInteger(n);
    case Aggregate::CountDistinct: return PathValue::ofInteger(int64_t(t.distinct.size()));
    case Aggregate::Sum:
    case Aggregate::Avg: {
        const bool integers = type == ColumnType::Integer;
        return totalValue(what.kind, n, integers ? t.integer : 0, integers ? nullptr : &t.reals);
    }
    case Aggregate::StDev:
    case Aggregate::StDevP:
    case Aggregate::Var:
    case Aggregate::VarP: return spreadValue(what.kind, t.spread);
    case Aggregate::Min:
    case Aggregate::Max:
        if (!t.held) return {};
        return type == ColumnType::Integer ? PathValue::ofInteger(t.least) : PathValue::ofReal(t.leastReal);
    }
    return {};
}

}  // namespace

void appendValueName(std::string& to, const PathValue& v, bool noCase) {
    const auto put = [&](const void* bytes, size_t n) { to.append(static_cast<const char*>(bytes), n); };
    switch (v.kind) {
    case Kind::Null: to += 'n'; return;
    case Kind::Real:
        if (v.real >= -0x1p63 && v.real < 0x1p63 && std::trunc(v.real) == v.real) {
            const auto whole = int64_t(v.real);  // -0 too
            to += 'i';
            put(&whole, sizeof whole);
            return;
        }
        to += 'r';
        put(&v.real, sizeof v.real);
        return;
    case Kind::Integer:
        to += 'i';
        put(&v.integer, sizeof v.integer);
        return;
    case Kind::Text: {
        const std::string text = noCase ? foldCase(v.text) : std::string(v.text);
        const auto size = uint32_t(text.size());
        to += 't';
        put(&size, sizeof size);
        to += text;
        return;
    }
    }
}

bool takeColumnGroups(const ColumnPlan& plan, const CsvTable& table, const std::atomic<bool>* stop, const GroupTaker& take) {
    if (plan.projection || plan.top) return false;
    try {
        const std::optional<QuickFilter> quick = plan.where >= 0 ? quickFilterOf(plan, table, plan.where) : std::nullopt;
        std::optional<Grouping> grouping = groupTotals(plan, table, quick, stop);
        if (!grouping) return false;
        const Grouping& g = *grouping;
        std::vector<PathValue> keys(g.codes.size());
        for (size_t group = 0; group < g.totals.groupCount(); ++group) {
            listen(stop, group);
            if (!g.codes.empty() && g.totals.rowsIn(group) == 0) continue;  // a key no row has
            const uint64_t key = g.keyOfGroup.empty() ? group : g.keyOfGroup[group];
            for (size_t k = 0; k < keys.size(); ++k) {
                const uint32_t code = g.layout.code(key, k);
                keys[k] = plan.derived[k] ? plan.derived[k]->keys[code]
                                          : valueOfCell(table, g.codes[k]->cellOfCode[code], plan.groupColumns[k]);
            }
            take(keys, g.totals.rowsIn(group), [&](size_t k, GatheredTotal& total) { g.totals.addTo(k, group, total); });
        }
        return true;
    } catch (const Decline&) {
        return false;
    }
}

std::optional<ColumnRows> rowsOfGathered(const ColumnPlan& plan, const GatheredGroups& groups, const std::atomic<bool>* stop) {
    struct Source {
        const ColumnPlan& plan;
        const GatheredGroups& groups;
        size_t group;
        PathValue column(size_t c) const {
            for (size_t k = 0; k < plan.groupColumns.size(); ++k)
                if (plan.groupColumns[k] == c && !plan.derived[k]) return groups.key(group, k);
            throw Decline{};
        }
        PathValue aggregate(size_t a) const { return gatheredValue(plan.aggregates[a], groups.typeOf[a], groups.total(group, a)); }
        PathValue groupKey(size_t k) const { return groups.key(group, k); }
        size_t rowIndex() const { throw Decline{}; }
    };
    try {
        std::vector<PathValue> values;
        for (size_t g = 0; g < groups.count; ++g) {
            listen(stop, g);
            const Source source{plan, groups, g};
            if (plan.having >= 0 && truthOf(plan, plan.having, source) != Truth::True) continue;
            for (const int item : plan.items) values.push_back(valueOf(plan, item, source));
            for (const ColumnPlan::OrderKey& key : plan.order) values.push_back(valueOf(plan, key.node, source));
        }
        return orderedRows(plan, values, stop);
    } catch (const Decline&) {
        return std::nullopt;
    }
}

std::optional<ColumnRows> runColumnPlan(const ColumnPlan& plan, const CsvTable& table, const std::atomic<bool>* stop) {
    try {
        return run(plan, table, stop);
    } catch (const Decline&) {
        return std::nullopt;
    }
}

}  // namespace tarlo
