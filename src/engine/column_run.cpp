#include "engine/column_run.h"

#include "platform/error.h"
#include "values/case_folding.h"
#include "values/numbers.h"
#include "values/total.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <functional>
#include <memory>
#include <thread>

namespace tarlo {

namespace {

using Kind = PathValue::Kind;

struct Decline {};  // SQLite answers: an order it alone can tell, or its own error

enum class Truth : uint8_t { False, True, Unknown };

void listen(const std::atomic<bool>* stop, size_t step) {
    if ((step & 0xFFFF) == 0 && stop && stop->load(std::memory_order_relaxed)) throw Cancelled{};
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

PathValue cellValue(const CsvTable& table, size_t row, size_t column) {
    const ColumnType type = table.columnTypes()[column];
    const Cell c = table.cell(row, column);
    if (table.isNull(type, c)) return {};
    switch (type) {
    case ColumnType::Real: return PathValue::ofReal(c.real);
    case ColumnType::Text: return PathValue::ofText(table.textOf(c));
    default: return PathValue::ofInteger(c.integer);
    }
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
        const Truth t = both(truthOfOrder(compareValues(x, value(1)), PlanNode::Op::Ge),
                             truthOfOrder(compareValues(x, value(2)), PlanNode::Op::Le));
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
};

// Each aggregate's state for every group. Every one of them is exact or
// keeps the first of equal values in row order, so any split of the rows,
// merged in row order, ends the same.
class Accumulators {
public:
    Accumulators(const ColumnPlan& plan, const CsvTable& table, size_t groups) : table_(table) {
        for (const AggregateSpec& spec : plan.aggregates) {
            State& s = states_.emplace_back();
            s.spec = spec;
            s.type = spec.kind == Aggregate::CountRows ? ColumnType::Integer : table.columnTypes()[spec.column];
            s.count.assign(groups, 0);
            const bool total = spec.kind == Aggregate::Sum || spec.kind == Aggregate::Avg;
            const bool extreme = spec.kind == Aggregate::Min || spec.kind == Aggregate::Max;
            if (total && s.type == ColumnType::Integer) s.integers.assign(groups, 0);
            if (total && s.type == ColumnType::Real) s.reals.resize(groups);
            if (extreme && s.type == ColumnType::Integer) s.least.assign(groups, 0);
            if (extreme && s.type == ColumnType::Real) s.leastReal.assign(groups, 0);
        }
    }

    void add(uint32_t g, size_t row) {
        for (State& s : states_) {
            if (s.spec.kind == Aggregate::CountRows) {
                ++s.count[g];
                continue;
            }
            const Cell c = table_.cell(row, s.spec.column);
            if (table_.isNull(table_.columnTypes()[s.spec.column], c)) continue;
            const int64_t seen = s.count[g]++;
            switch (s.spec.kind) {
            case Aggregate::Sum:
            case Aggregate::Avg:
                if (s.type == ColumnType::Integer) s.integers[g] += c.integer;
                else s.reals[g].add(c.real);
                break;
            case Aggregate::Min:
            case Aggregate::Max: {
                const bool max = s.spec.kind == Aggregate::Max;
                if (s.type == ColumnType::Integer) {
                    if (!seen || (max ? c.integer > s.least[g] : c.integer < s.least[g])) s.least[g] = c.integer;
                } else if (!seen || (max ? c.real > s.leastReal[g] : c.real < s.leastReal[g])) {
                    s.leastReal[g] = c.real;
                }
                break;
            }
            default: break;
            }
        }
    }

    // other holds later rows of the same groups.
    void merge(const Accumulators& other) {
        for (size_t k = 0; k < states_.size(); ++k) {
            State& s = states_[k];
            const State& o = other.states_[k];
            const bool max = s.spec.kind == Aggregate::Max;
            for (size_t g = 0; g < s.count.size(); ++g) {
                if (!o.count[g]) continue;
                const bool first = s.count[g] == 0;
                s.count[g] += o.count[g];
                if (!s.integers.empty()) s.integers[g] += o.integers[g];
                if (!s.reals.empty()) s.reals[g].merge(o.reals[g]);
                if (!s.least.empty() && (first || (max ? o.least[g] > s.least[g] : o.least[g] < s.least[g])))
                    s.least[g] = o.least[g];
                if (!s.leastReal.empty() && (first || (max ? o.leastReal[g] > s.leastReal[g] : o.leastReal[g] < s.leastReal[g])))
                    s.leastReal[g] = o.leastReal[g];
            }
        }
    }

    PathValue value(size_t k, size_t g) const {
        const State& s = states_[k];
        const int64_t n = s.count[g];
        switch (s.spec.kind) {
        case Aggregate::CountRows:
        case Aggregate::Count: return PathValue::ofInteger(n);
        case Aggregate::Sum:
        case Aggregate::Avg: {
            const bool integers = s.type == ColumnType::Integer;
            const __int128 whole = integers ? s.integers[g] : 0;
            const ExactSum* reals = integers ? nullptr : &s.reals[g];
            const Total::Outcome o = s.spec.kind == Aggregate::Sum ? Total::sumOf(n, whole, reals) : Total::averageOf(n, whole, reals);
            if (o.failure != Total::Failure::None) throw Decline{};
            if (o.kind == Total::Outcome::Kind::Null) return {};
            if (o.kind == Total::Outcome::Kind::Integer) return PathValue::ofInteger(o.integer);
            return PathValue::ofReal(o.real);
        }
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
        AggregateSpec spec;
        ColumnType type;
        std::vector<int64_t> count;
        std::vector<__int128> integers;
        std::vector<ExactSum> reals;
        std::vector<int64_t> least;  // or greatest, for Max
        std::vector<double> leastReal;
    };
    const CsvTable& table_;
    std::vector<State> states_;
};

// work(part) for part 0 .. parts-1, on parts threads; the first failure is rethrown.
void onThreads(size_t parts, const std::function<void(size_t)>& work) {
    std::vector<std::exception_ptr> failures(parts);
    std::vector<std::thread> threads;
    for (size_t p = 1; p < parts; ++p)
        threads.emplace_back([&, p] {
            try {
                work(p);
            } catch (...) {
                failures[p] = std::current_exception();
            }
        });
    try {
        work(0);
    } catch (...) {
        failures[0] = std::current_exception();
    }
    for (std::thread& t : threads) t.join();
    for (const std::exception_ptr& f : failures)
        if (f) std::rethrow_exception(f);
}

size_t threadCount(size_t work) {
    if (work < columnPathTuning().rowsForThreads) return 1;
    return std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 16);
}

// An open-addressing map from a group's composite key to its number.
class KeyMap {
public:
    explicit KeyMap(size_t expected) {
        size_t capacity = 16;
        while (capacity < expected * 2) capacity *= 2;
        keys_.assign(capacity, kEmpty);
        ids_.resize(capacity);
    }
    uint32_t idOf(uint64_t key) {
        if (size_ * 2 >= keys_.size()) grow();
        size_t i = slot(key);
        while (keys_[i] != kEmpty && keys_[i] != key) i = (i + 1) & (keys_.size() - 1);
        if (keys_[i] == kEmpty) {
            keys_[i] = key;
            ids_[i] = uint32_t(order_.size());
            order_.push_back(key);
            ++size_;
        }
        return ids_[i];
    }
    const std::vector<uint64_t>& keysInOrderSeen() const { return order_; }

private:
    static constexpr uint64_t kEmpty = ~uint64_t(0);
    size_t slot(uint64_t key) const { return size_t((key * 0x9E3779B97F4A7C15ull) >> 20) & (keys_.size() - 1); }
    void grow() {
        std::vector<uint64_t> keys(keys_.size() * 2, kEmpty);
        std::vector<uint32_t> ids(keys.size());
        keys_.swap(keys);
        ids_.swap(ids);
        for (size_t j = 0; j < keys.size(); ++j) {
            if (keys[j] == kEmpty) continue;
            size_t i = slot(keys[j]);
            while (keys_[i] != kEmpty) i = (i + 1) & (keys_.size() - 1);
            keys_[i] = keys[j];
            ids_[i] = ids[j];
        }
    }
    std::vector<uint64_t> keys_;
    std::vector<uint32_t> ids_;
    std::vector<uint64_t> order_;
    size_t size_ = 0;
};

std::optional<ColumnRows> run(const ColumnPlan& plan, const CsvTable& table, const std::atomic<bool>* stop) {
    const size_t rows = table.rowCount();

    // The rows WHERE keeps, in file order, found on every core.
    std::vector<uint32_t> kept;
    const bool filtered = plan.where >= 0;
    if (filtered) {
        const size_t parts = threadCount(rows);
        std::vector<std::vector<uint32_t>> pieces(parts);
        onThreads(parts, [&](size_t p) {
            const size_t begin = rows * p / parts, end = rows * (p + 1) / parts;
            for (size_t r = begin; r < end; ++r) {
                listen(stop, r);
                if (truthOf(plan, plan.where, RowSource{table, r}) == Truth::True) pieces[p].push_back(uint32_t(r));
            }
        });
        for (const auto& piece : pieces) kept.insert(kept.end(), piece.begin(), piece.end());
    }
    const size_t n = filtered ? kept.size() : rows;
    const auto rowAt = [&](size_t i) -> size_t { return filtered ? kept[i] : i; };

    // Group numbers in the order of the keys, which is SQLite's GROUP BY order.
    std::vector<const CsvTable::ValueCodes*> codes;
    unsigned __int128 span = 1;
    for (const size_t column : plan.groupColumns) {
        const CsvTable::ValueCodes& c = table.codesOf(column, stop);
        if (c.caseTwins) return std::nullopt;
        codes.push_back(&c);
        span *= c.width;
        if (span >> 63) return std::nullopt;
    }
    std::vector<uint64_t> stride(codes.size(), 1);
    for (size_t k = codes.size(); k-- > 1;) stride[k - 1] = stride[k] * codes[k]->width;
    const auto keyOf = [&](size_t row) {
        uint64_t key = 0;
        for (size_t k = 0; k < codes.size(); ++k) key += uint64_t(codes[k]->codes[row]) * stride[k];
        return key;
    };

    size_t groups = 1;
    std::vector<uint32_t> groupOf;     // per kept row; empty when there is one group
    std::vector<size_t> firstRow;      // a row of each group, for its key's values
    if (!codes.empty()) {
        groupOf.resize(n);
        if (columnPathTuning().denseKeys && span <= std::max<uint64_t>(columnPathTuning().denseKeys, 2 * uint64_t(n)) && span <= (uint64_t(1) << 28)) {
            std::vector<uint32_t> slot(size_t(span), 0);
            for (size_t i = 0; i < n; ++i) {
                listen(stop, i);
                slot[keyOf(rowAt(i))] = 1;
            }
            uint32_t next = 0;
            for (uint32_t& s : slot) s = s ? next++ : UINT32_MAX;
            groups = next;
            firstRow.assign(groups, SIZE_MAX);
            for (size_t i = 0; i < n; ++i) {
                listen(stop, i);
                const uint32_t g = slot[keyOf(rowAt(i))];
                groupOf[i] = g;
                if (firstRow[g] == SIZE_MAX) firstRow[g] = rowAt(i);
            }
        } else {
            KeyMap map(std::min<size_t>(n, 1 << 20));
            for (size_t i = 0; i < n; ++i) {
                listen(stop, i);
                groupOf[i] = map.idOf(keyOf(rowAt(i)));
            }
            const std::vector<uint64_t>& seen = map.keysInOrderSeen();
            groups = seen.size();
            std::vector<uint32_t> byKey(groups);
            for (uint32_t g = 0; g < groups; ++g) byKey[g] = g;
            std::sort(byKey.begin(), byKey.end(), [&](uint32_t a, uint32_t b) { return seen[a] < seen[b]; });
            std::vector<uint32_t> rank(groups);
            for (uint32_t k = 0; k < groups; ++k) rank[byKey[k]] = k;
            firstRow.assign(groups, SIZE_MAX);
            for (size_t i = 0; i < n; ++i) {
                listen(stop, i);
                const uint32_t g = groupOf[i] = rank[groupOf[i]];
                if (firstRow[g] == SIZE_MAX) firstRow[g] = rowAt(i);
            }
        }
    }

    // Few groups: each thread a share of the rows, merged in row order.
    // Many: each thread its share of the groups, over all rows.
    const size_t parts = threadCount(n);
    Accumulators totals(plan, table, groups);
    if (groups <= columnPathTuning().groupsForRowShares || parts == 1) {
        std::vector<std::unique_ptr<Accumulators>> partial(parts);
        for (size_t p = 1; p < parts; ++p) partial[p] = std::make_unique<Accumulators>(plan, table, groups);
        onThreads(parts, [&](size_t p) {
            Accumulators& mine = p == 0 ? totals : *partial[p];
            const size_t begin = n * p / parts, end = n * (p + 1) / parts;
            for (size_t i = begin; i < end; ++i) {
                listen(stop, i);
                mine.add(groupOf.empty() ? 0 : groupOf[i], rowAt(i));
            }
        });
        for (size_t p = 1; p < parts; ++p) totals.merge(*partial[p]);
    } else {
        onThreads(parts, [&](size_t p) {
            for (size_t i = 0; i < n; ++i) {
                listen(stop, i);
                if (groupOf[i] % parts == p) totals.add(groupOf[i], rowAt(i));
            }
        });
    }

    struct GroupSource {
        const CsvTable& table;
        const Accumulators& totals;
        size_t group;
        size_t row;
        PathValue column(size_t c) const { return cellValue(table, row, c); }
        PathValue aggregate(size_t k) const { return totals.value(k, group); }
    };
    ColumnRows out;
    out.fieldCount = plan.items.size();
    out.ends.reserve(groups * out.fieldCount);
    out.kinds.reserve(groups * out.fieldCount);
    out.text.reserve(groups * out.fieldCount * 8);
    // Unordered, the groups' own order is the result's; else the values
    // wait for the sort.
    const size_t width = plan.items.size() + plan.order.size();
    std::vector<PathValue> values;
    for (size_t g = 0; g < groups; ++g) {
        listen(stop, g);
        const GroupSource source{table, totals, g, firstRow.empty() ? 0 : firstRow[g]};
        if (plan.having >= 0 && truthOf(plan, plan.having, source) != Truth::True) continue;
        if (plan.order.empty()) {
            for (const int item : plan.items) out.add(valueOf(plan, item, source));
            continue;
        }
        for (const int item : plan.items) values.push_back(valueOf(plan, item, source));
        for (const ColumnPlan::OrderKey& key : plan.order) values.push_back(valueOf(plan, key.node, source));
    }
    if (plan.order.empty()) return out;

    std::vector<size_t> sequence(values.size() / width);
    for (size_t i = 0; i < sequence.size(); ++i) sequence[i] = i;
    const size_t firstKey = plan.items.size();
    const auto compare = [&](size_t a, size_t b) {
        for (size_t k = 0; k < plan.order.size(); ++k) {
            const int c = orderOf(values[a * width + firstKey + k], values[b * width + firstKey + k]);
            if (c) return plan.order[k].descending ? -c : c;
        }
        return 0;
    };
    std::sort(sequence.begin(), sequence.end(), [&](size_t a, size_t b) { return compare(a, b) < 0; });
    // SQLite's sorter sets no order among equal keys that we could promise.
    for (size_t i = 1; i < sequence.size(); ++i)
        if (compare(sequence[i - 1], sequence[i]) == 0) return std::nullopt;
    for (const size_t i : sequence)
        for (size_t f = 0; f < plan.items.size(); ++f) out.add(values[i * width + f]);
    return out;
}

}  // namespace

void ColumnRows::add(const PathValue& v) {
    switch (v.kind) {
    case Kind::Null: break;
    case Kind::Integer: {
        char buffer[24];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, v.integer).ptr;
        text.append(buffer, end);
        break;
    }
    case Kind::Real: text += formatReal(v.real); break;
    case Kind::Text: text += v.text; break;
    }
    ends.push_back(text.size());
    kinds.push_back(v.kind);
}

ColumnPathTuning& columnPathTuning() {
    static ColumnPathTuning tuning;
    return tuning;
}

std::optional<ColumnRows> runColumnPlan(const ColumnPlan& plan, const CsvTable& table, const std::atomic<bool>* stop) {
    try {
        return run(plan, table, stop);
    } catch (const Decline&) {
        return std::nullopt;
    }
}

}  // namespace tarlo
