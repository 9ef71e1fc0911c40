#include "engine/column_pieces.h"

#include "platform/error.h"
#include "platform/parallel.h"
#include "values/case_folding.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <numeric>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarlo {

namespace {

using Kind = PathValue::Kind;

// A key's value, kept past the piece it came from.
struct KeptKey {
    Kind kind = Kind::Null;
    int64_t integer = 0;
    double real = 0;
    std::string text;

    static KeptKey of(const PathValue& v) { return {v.kind, v.integer, v.real, std::string(v.text)}; }
    PathValue value() const {
        switch (kind) {
        case Kind::Integer: return PathValue::ofInteger(integer);
        case Kind::Real: return PathValue::ofReal(real);
        case Kind::Text: return PathValue::ofText(text);
        case Kind::Null: break;
        }
        return {};
    }
    // The same value, spelt the same: one piece's group is another's.
    bool same(const PathValue& v) const {
        if (v.kind != kind) return false;
        switch (kind) {
        case Kind::Integer: return v.integer == integer;
        case Kind::Real: return v.real == real;
        case Kind::Text: return v.text == text;
        case Kind::Null: break;
        }
        return true;
    }
};

// SQLite's order of group keys: null, then numbers, then texts by the collation.
int orderOf(const KeptKey& a, const KeptKey& b, bool noCase) {
    const auto rank = [](Kind k) { return k == Kind::Null ? 0 : k == Kind::Text ? 2 : 1; };
    if (rank(a.kind) != rank(b.kind)) return rank(a.kind) < rank(b.kind) ? -1 : 1;
    if (a.kind == Kind::Text) {
        const int c = noCase ? compareIgnoringCase(a.text, b.text) : a.text.compare(b.text);
        return (c > 0) - (c < 0);
    }
    if (a.kind == Kind::Integer && b.kind == Kind::Integer) return (a.integer > b.integer) - (a.integer < b.integer);
    const double x = a.kind == Kind::Integer ? double(a.integer) : a.real;
    const double y = b.kind == Kind::Integer ? double(b.integer) : b.real;
    return (x > y) - (x < y);
}

// A value read back from what is shown of it: exact for integers and
// texts, and for reals an order kept (rounding to fifteen digits keeps one).
std::optional<KeptKey> keyOf(std::string_view shown, Kind kind) {
    KeptKey key;
    key.kind = kind;
    switch (kind) {
    case Kind::Null: return key;
    case Kind::Text: key.text = std::string(shown); return key;
    case Kind::Integer: {
        const auto [end, fault] = std::from_chars(shown.data(), shown.data() + shown.size(), key.integer);
        if (fault != std::errc() || end != shown.data() + shown.size()) return std::nullopt;
        return key;
    }
    case Kind::Real: {
        const std::string text(shown);
        char* end = nullptr;
        key.real = std::strtod(text.c_str(), &end);
        if (end != text.c_str() + text.size() || !std::isfinite(key.real)) return std::nullopt;
        return key;
    }
    }
    return std::nullopt;
}

// Whether two pieces' plans group and show alike, so their groups (or rows) add up.
bool sameShape(const ColumnPlan& a, const ColumnPlan& b) {
    if (a.groupColumns != b.groupColumns || a.aggregates != b.aggregates || a.items.size() != b.items.size() ||
        a.derived.size() != b.derived.size() || (a.having < 0) != (b.having < 0) || a.order.size() != b.order.size() ||
        a.limit != b.limit || a.crosstabHeadings != b.crosstabHeadings || a.projection != b.projection ||
        a.top.has_value() != b.top.has_value())
        return false;
    if (a.top && (a.top->partition != b.top->partition || a.top->order != b.top->order ||
                  a.top->descending != b.top->descending || a.top->limit != b.top->limit || a.top->fields != b.top->fields))
        return false;
    for (size_t k = 0; k < a.order.size(); ++k)
        if (a.order[k].descending != b.order[k].descending) return false;
    for (size_t k = 0; k < a.derived.size(); ++k) {
        if (a.derived[k].has_value() != b.derived[k].has_value()) return false;
        if (a.derived[k] && a.derived[k]->noCase != b.derived[k]->noCase) return false;
    }
    return true;
}

// The file's groups so far, found by their keys' values: texts of a key
// that ignores case by their folded text, numbers by value.
class Groups {
public:
    Groups(const ColumnPlan& plan, const CsvTable& table, size_t mostBytes) : aggregates_(plan.aggregates.size()), mostBytes_(mostBytes) {
        for (size_t k = 0; k < plan.groupColumns.size(); ++k)
            noCase_.push_back(plan.derived[k] ? plan.derived[k]->noCase : true);  // a text column ignores case
        for (const AggregateSpec& a : plan.aggregates)
            typeOf_.push_back(a.kind == Aggregate::CountRows ? ColumnType::Integer : table.columnTypes()[a.column]);
        perGroup_ = noCase_.size() * (sizeof(KeptKey) + 16) + aggregates_ * sizeof(GatheredTotal) + 64;
    }

    // False where the groups leave the column path: a key spelt otherwise
    // than the same key of an earlier piece, or groups and distinct values
    // past the memory given.
    bool add(const std::vector<PathValue>& keys, const std::function<void(size_t, GatheredTotal&)>& addTotal) {
        name_.clear();
        for (size_t k = 0; k < keys.size(); ++k) appendValueName(name_, keys[k], noCase_[k]);
        const auto [at, fresh] = index_.try_emplace(name_, uint32_t(count_));
        const size_t g = at->second;
        if (fresh) {
            for (const PathValue& v : keys) keys_.push_back(KeptKey::of(v));
            totals_.resize(totals_.size() + aggregates_);
            ++count_;
            bytes_ += perGroup_ + name_.size();
        } else {
            for (size_t k = 0; k < keys.size(); ++k)
                if (!keys_[g * keys.size() + k].same(keys[k])) return false;  // SQLite groups them by one spelling
        }
        for (size_t a = 0; a < aggregates_; ++a) {
            GatheredTotal& total = totals_[g * aggregates_ + a];
            const size_t values = total.distinct.size();
            addTotal(a, total);
            bytes_ += (total.distinct.size() - values) * kBytesADistinctValue;
        }
        return bytes_ <= mostBytes_;  // past it, SQLite's sorter, which spills to disk
    }

    // The groups in their keys' order; nothing where two keys tie.
    std::optional<GatheredGroups> sorted() {
        const size_t width = noCase_.size();
        if (width == 0 && count_ == 0) {  // no rows at all: one group of nothing
            totals_.resize(aggregates_);
            count_ = 1;
        }
        order_.resize(count_);
        std::iota(order_.begin(), order_.end(), uint32_t(0));
        const auto compare = [&](uint32_t a, uint32_t b) {
            for (size_t k = 0; k < width; ++k)
                if (const int c = orderOf(keys_[a * width + k], keys_[b * width + k], noCase_[k])) return c;
            return 0;
        };
        std::sort(order_.begin(), order_.end(), [&](uint32_t a, uint32_t b) { return compare(a, b) < 0; });
        for (size_t i = 1; i < order_.size(); ++i)
            if (compare(order_[i - 1], order_[i]) == 0) return std::nullopt;
        GatheredGroups out;
        out.count = count_;
        out.key = [this, width](size_t g, size_t k) { return keys_[order_[g] * width + k].value(); };
        out.total = [this](size_t g, size_t a) -> const GatheredTotal& { return totals_[order_[g] * aggregates_ + a]; };
        out.typeOf = typeOf_;
        return out;
    }

private:
    size_t aggregates_;
    std::vector<bool> noCase_;
    std::vector<ColumnType> typeOf_;
    static constexpr size_t kBytesADistinctValue = 64;  // its name and the set's node
    size_t mostBytes_, perGroup_ = 0, bytes_ = 0;
    size_t count_ = 0;
    std::string name_;  // the key being looked up
    std::unordered_map<std::string, uint32_t> index_;
    std::vector<KeptKey> keys_;          // groups x keys
    std::deque<GatheredTotal> totals_;   // groups x aggregates
    std::vector<uint32_t> order_;
};

// The first rows of a projection with TOP, by its ORDER BY (or in the
// file's order): each piece's first rows, one more than TOP with an order,
// so that a tie at the last row shown is seen, are kept as shown, with
// their order keys' values read back from what is shown (rounding to
// fifteen digits keeps an order strict, and reals that show alike are taken for a tie).
class TopRows {
public:
    // Whether the column path takes the projection over pieces: a TOP, and
    // an order of number or text columns, as the column path sorts.
    static bool takes(const ColumnPlan& plan, const CsvTable& table) {
        if (!plan.projection || !plan.limit || *plan.limit < 0 || *plan.limit > kMostRowsKept) return false;
        for (const ColumnPlan::OrderKey& key : plan.order) {
            const PlanNode& n = plan.nodes[size_t(key.node)];
            if (n.kind != PlanNode::Kind::Column) return false;
            const ColumnType type = table.columnTypes()[n.index];
            if (type != ColumnType::Integer && type != ColumnType::Real && type != ColumnType::Text) return false;
        }
        return true;
    }

    explicit TopRows(const ColumnPlan& plan) : limit_(size_t(*plan.limit)), fields_(plan.items.size()), order_(plan.order) {}

    bool full() const { return order_.empty() && rows_.size() >= limit_; }

    // False where the column path does not take the piece.
    bool add(const ColumnPlan& plan, const CsvTable& table, const std::atomic<bool>* stop) {
        ColumnPlan wider = plan;  // its literals' texts point into plan's, which outlives it
        for (const ColumnPlan::OrderKey& key : plan.order) wider.items.push_back(key.node);
        wider.limit = int64_t(order_.empty() ? limit_ - rows_.size() : limit_ + 1);
        std::optional<ColumnRows> rows = runColumnPlan(wider, table, stop);
        if (!rows) return false;
        for (size_t p = 0; p < rows->parts.size(); ++p) {
            rows->ready(p);
            const RowPart& part = rows->parts[p];
            for (size_t r = 0; r < rows->rowsIn(p); ++r) {
                Row& row = rows_.emplace_back();
                for (size_t f = 0; f < fields_; ++f) {
                    const size_t at = r * rows->fieldCount + f;
                    row.shown.emplace_back(part.field(at));
                    row.kinds.push_back(part.kinds[at]);
                }
                for (size_t k = 0; k < order_.size(); ++k) {
                    const size_t at = r * rows->fieldCount + fields_ + k;
                    const std::optional<KeptKey> key = keyOf(part.field(at), part.kinds[at]);
                    if (!key) return false;
                    row.order.push_back(*key);
                }
            }
            rows->done(p);
        }
        // The first so far, and the one after them, are all a later piece is weighed against.
        if (!order_.empty()) {
            sortRows(stop);
            if (rows_.size() > limit_ + 1) rows_.resize(limit_ + 1);
        }
        return true;
    }

    // Nothing where rows tie.
    std::optional<ColumnRows> rows(const std::atomic<bool>* stop) {
        sortRows(stop);
        const size_t shown = std::min(rows_.size(), limit_);
        if (!order_.empty())
            for (size_t i = 1; i < std::min(rows_.size(), limit_ + 1); ++i)
                if (compare(rows_[i - 1], rows_[i]) == 0) return std::nullopt;  // SQLite's sorter tells ties apart
        ColumnRows out;
        out.fieldCount = fields_;
        RowPart& part = out.parts.emplace_back();
        for (size_t i = 0; i < shown; ++i)
            for (size_t f = 0; f < fields_; ++f) part.add(rows_[i].shown[f], rows_[i].kinds[f]);
        return out;
    }

    // More rows than these are SQLite's sorter's, which spills to disk.
    static constexpr int64_t kMostRowsKept = int64_t(1) << 20;

private:
    struct Row {
        std::vector<std::string> shown;
        std::vector<Kind> kinds;
        std::vector<KeptKey> order;
    };

    int compare(const Row& a, const Row& b) const {
        for (size_t k = 0; k < order_.size(); ++k)
            if (const int c = orderOf(a.order[k], b.order[k], true)) return order_[k].descending ? -c : c;
        return 0;
    }
    void sortRows(const std::atomic<bool>* stop) {
        size_t steps = 0;
        std::stable_sort(rows_.begin(), rows_.end(), [&](const Row& a, const Row& b) {
            if ((++steps & 0xFFFF) == 0 && stop && stop->load(std::memory_order_relaxed)) throw Cancelled{};
            return compare(a, b) < 0;
        });
    }

    size_t limit_, fields_;
    std::vector<ColumnPlan::OrderKey> order_;
    std::vector<Row> rows_;
};

// The best rows of each partition by ROW_NUMBER's order: each piece's,
// then the best of those. Only the partition, the order's value and the
// number are shown, and tied values show alike, so which of them comes
// first changes nothing shown.
class TopPerPartition {
public:
    // Whether the rows show the partition and the order's value, which the
    // merge reads, and the partition is of numbers or texts (dates show as texts).
    static bool takes(const ColumnPlan& plan, const CsvTable& table) {
        using Field = ColumnPlan::TopPerGroup::Field;
        const auto& fields = plan.top->fields;
        const ColumnType type = table.columnTypes()[plan.top->partition];
        return (type == ColumnType::Integer || type == ColumnType::Text) &&
               std::find(fields.begin(), fields.end(), Field::Partition) != fields.end() &&
               std::find(fields.begin(), fields.end(), Field::Order) != fields.end();
    }

    explicit TopPerPartition(const ColumnPlan& plan) : top_(*plan.top) {}

    // False where the column path does not take the piece, or a partition is spelt otherwise than before.
    bool add(const ColumnPlan& plan, const CsvTable& table, const std::atomic<bool>* stop) {
        using Field = ColumnPlan::TopPerGroup::Field;
        std::optional<ColumnRows> rows = runColumnPlan(plan, table, stop);
        if (!rows) return false;
        const size_t partition = size_t(std::find(top_.fields.begin(), top_.fields.end(), Field::Partition) - top_.fields.begin());
        const size_t order = size_t(std::find(top_.fields.begin(), top_.fields.end(), Field::Order) - top_.fields.begin());
        std::string name;
        for (size_t p = 0; p < rows->parts.size(); ++p) {
            rows->ready(p);
            const RowPart& part = rows->parts[p];
            for (size_t r = 0; r < rows->rowsIn(p); ++r) {
                const size_t at = r * rows->fieldCount;
                const std::string_view key = part.field(at + partition);
                const Kind keyKind = part.kinds[at + partition];
                const std::optional<KeptKey> keyValue = keyOf(key, keyKind);
                if (!keyValue) return false;
                name.clear();
                appendValueName(name, keyValue->value(), true);
                const auto [it, fresh] = index_.try_emplace(name, partitions_.size());
                if (fresh) partitions_.push_back({std::string(key), keyKind, {}});
                Partition& mine = partitions_[it->second];
                if (mine.shown != key || mine.kind != keyKind) return false;  // SQLite shows one spelling
                const std::optional<KeptKey> value = keyOf(part.field(at + order), part.kinds[at + order]);
                if (!value) return false;
                mine.best.push_back({*value, std::string(part.field(at + order)), part.kinds[at + order]});
                if (++values_ > kMostValuesKept) return false;  // SQLite's window, which spills to disk
            }
            rows->done(p);
        }
        // Each partition keeps its best so far.
        values_ = 0;
        for (Partition& mine : partitions_) {
            keepBest(mine);
            values_ += mine.best.size();
        }
        return true;
    }

    ColumnRows rows(const std::atomic<bool>* stop) {
        using Field = ColumnPlan::TopPerGroup::Field;
        std::vector<size_t> order(partitions_.size());
        std::iota(order.begin(), order.end(), size_t(0));
        std::vector<KeptKey> keys;
        for (const Partition& mine : partitions_) keys.push_back(keyOf(mine.shown, mine.kind).value_or(KeptKey{}));
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return orderOf(keys[a], keys[b], true) < 0; });
        ColumnRows out;
        out.fieldCount = top_.fields.size();
        RowPart& part = out.parts.emplace_back();
        size_t steps = 0;
        for (const size_t p : order) {
            if ((++steps & 0xFFF) == 0 && stop && stop->load(std::memory_order_relaxed)) throw Cancelled{};
            const Partition& mine = partitions_[p];
            for (size_t k = 0; k < mine.best.size(); ++k)
                for (const Field field : top_.fields) {
                    switch (field) {
                    case Field::Partition: part.add(mine.shown, mine.kind); break;
                    case Field::Order: part.add(mine.best[k].shown, mine.best[k].kind); break;
                    case Field::Number: part.add(PathValue::ofInteger(int64_t(k + 1))); break;
                    }
                }
        }
        return out;
    }

private:
    struct Value {
        KeptKey key;
        std::string shown;
        Kind kind;
    };
    struct Partition {
        std::string shown;
        Kind kind;
        std::vector<Value> best;
    };

    // Nulls first, as SQLite sorts; last in a descending order.
    void keepBest(Partition& mine) const {
        std::stable_sort(mine.best.begin(), mine.best.end(), [&](const Value& a, const Value& b) {
            const int c = orderOf(a.key, b.key, true);
            return top_.descending ? c > 0 : c < 0;
        });
        if (mine.best.size() > size_t(top_.limit)) mine.best.resize(size_t(top_.limit));
    }

    static constexpr size_t kMostValuesKept = size_t(1) << 22;
    ColumnPlan::TopPerGroup top_;
    size_t values_ = 0;  // held in all partitions
    std::unordered_map<std::string, size_t> index_;
    std::vector<Partition> partitions_;
};

}  // namespace

std::optional<PiecedRows> runOnPieces(const PiecedFile& file, const ColumnWish& wish, const PiecePlanner& planFor,
                                      size_t mostGroupBytes, std::atomic<double>* share, const std::atomic<bool>* stop) {
    std::optional<ColumnPlan> first;  // shows the rows; nothing in it reads its piece then
    std::optional<Groups> groups;
    std::optional<TopRows> top;
    std::optional<TopPerPartition> perPartition;
    // The next pieces are read on every core while this thread plans and
    // groups the one before (SQLite, which works out derived keys, stays on
    // this thread). On an early return, the pieces being read are waited for.
    std::deque<std::future<std::shared_ptr<const CsvTable>>> ahead;
    size_t requested = 0;
    const size_t depth = std::max<size_t>(coreCount(), 1);
    for (size_t k = 0; k < file.pieceCount(); ++k) {
        if (share) share->store(file.shareBefore(k), std::memory_order_relaxed);
        for (; requested < file.pieceCount() && requested < k + 1 + depth; ++requested)
            ahead.push_back(std::async(std::launch::async, [&file, &wish, stop, requested] { return file.piece(requested, stop, wish); }));
        std::shared_ptr<const CsvTable> piece = ahead.front().get();
        ahead.pop_front();
        std::optional<PlannedPiece> planned = planFor(piece);
        piece.reset();
        if (!planned || (first && !sameShape(*first, planned->plan))) return std::nullopt;
        if (planned->plan.top) {
            if (!TopPerPartition::takes(planned->plan, *planned->table)) return std::nullopt;
            if (!perPartition) perPartition.emplace(planned->plan);
            if (!perPartition->add(planned->plan, *planned->table, stop)) return std::nullopt;
            if (!first) first = std::move(planned->plan);
            continue;
        }
        if (planned->plan.projection) {
            if (!TopRows::takes(planned->plan, *planned->table)) return std::nullopt;
            if (!top) top.emplace(planned->plan);
            if (!top->add(planned->plan, *planned->table, stop)) return std::nullopt;
            if (!first) first = std::move(planned->plan);
            if (top->full()) break;  // the first rows of the file are read
            continue;
        }
        if (!groups) groups.emplace(planned->plan, *planned->table, mostGroupBytes);
        bool kept = true;
        const bool taken = takeColumnGroups(planned->plan, *planned->table, stop,
                                            [&](const std::vector<PathValue>& keys, int64_t, const auto& add) {
                                                kept = kept && groups->add(keys, add);
                                            });
        if (!taken || !kept) return std::nullopt;
        if (!first) first = std::move(planned->plan);
    }
    if (!first) return std::nullopt;  // a file of no pieces
    if (perPartition) return PiecedRows{perPartition->rows(stop), std::nullopt};
    if (top) {
        std::optional<ColumnRows> rows = top->rows(stop);
        if (!rows) return std::nullopt;
        return PiecedRows{std::move(*rows), std::nullopt};
    }
    const std::optional<GatheredGroups> gathered = groups->sorted();
    if (!gathered) return std::nullopt;
    std::optional<ColumnRows> rows = rowsOfGathered(*first, *gathered, stop);
    if (!rows) return std::nullopt;
    return PiecedRows{std::move(*rows), first->crosstabHeadings};
}

}  // namespace tarlo
