#include "engine/column_join.h"

#include "engine/column_run.h"
#include "dialect/sql_lexer.h"
#include "dialect/token_edit.h"
#include "functions/catalogue.h"
#include "platform/parallel.h"
#include "values/case_folding.h"

#include <sqlite3.h>

#include <algorithm>
#include <mutex>
#include <tuple>

namespace tarlo {

namespace {

using namespace syntax;

struct Refused {};  // a FROM or a name the column path does not join

// A table of the FROM, called by its alias or its registered name.
struct Item {
    QString called;
    std::shared_ptr<const CsvTable> table;
};

struct ColumnRef {
    size_t item = 0, column = 0;
    bool operator<(const ColumnRef& o) const { return std::tie(item, column) < std::tie(o.item, o.column); }
};

// One equality of a join: a column of the rows joined so far and one of the table joined.
struct Key {
    ColumnRef joined, added;
};

struct Step {
    bool left = false;
    NodeId on = kNone;
    std::vector<Key> keys;
};

// The joined rows: for each table, the row of each joined row, or kNoRow.
// In large arrays: they are written once, whole, and their fresh pages
// would cost more than the pairing itself.
using Rows = std::vector<LargeArray<uint32_t>>;

void listen(const std::atomic<bool>* stop, size_t step) {
    if ((step & 0xFFFF) == 0 && stop && stop->load(std::memory_order_relaxed)) throw Cancelled{};
}

// What a join's gathered table is made of: the tables, the joins and the columns.
struct JoinShape {
    std::vector<std::weak_ptr<const CsvTable>> tables;
    std::string steps;
    std::vector<std::pair<size_t, size_t>> columns;

    bool operator==(const JoinShape& o) const {
        if (steps != o.steps || columns != o.columns || tables.size() != o.tables.size()) return false;
        for (size_t i = 0; i < tables.size(); ++i) {
            // The same table still loaded, not another at its old address.
            const auto a = tables[i].lock(), b = o.tables[i].lock();
            if (!a || a != b) return false;
        }
        return true;
    }
};

// The last join gathered, for the next run of the same statement: a saved
// query is run again and again as its user reads and edits it.
constexpr size_t kMostKeptBytes = size_t(512) << 20;
std::mutex keptLock;
JoinShape keptShape;
std::shared_ptr<const CsvTable> keptTable;

std::shared_ptr<const CsvTable> kept(const JoinShape& shape) {
    std::lock_guard lock(keptLock);
    return keptTable && keptShape == shape ? keptTable : nullptr;
}

void keep(const JoinShape& shape, std::shared_ptr<const CsvTable> table) {
    std::lock_guard lock(keptLock);
    keptShape = shape;
    keptTable = std::move(table);
}

class JoinReader {
public:
    JoinReader(const SyntaxTree& tree, const Binding& binding, const std::map<int, QString>& tableAt,
               const std::function<std::shared_ptr<const CsvTable>(const QString&)>& tableNamed, const std::atomic<bool>* stop)
        : t_(tree), binding_(binding), tableAt_(tableAt), tableNamed_(tableNamed), stop_(stop) {}

    JoinedColumns join() {
        if (t_.root < 0) throw Refused{};
        const Query& q = t_.queries[size_t(t_.root)];
        if (!q.with.empty() || q.cores.size() != 1 || q.cores[0].from < 0) throw Refused{};
        const SelectCore& c = q.cores[0];
        // Joined rows come in an order of their own: only statements that group them are joined here.
        bool grouped = !c.groupBy.empty();
        for (const ResultItem& item : c.items) grouped = grouped || callsAggregate(item.expr);
        if (!grouped) throw Refused{};
        flatten(c.from);
        for (size_t a = 0; a < items_.size(); ++a)
            for (size_t b = a + 1; b < items_.size(); ++b)
                if (items_[a].called.compare(items_[b].called, Qt::CaseInsensitive) == 0) throw Refused{};
        for (size_t s = 0; s < steps_.size(); ++s) keysOf(steps_[s].on, s + 1, steps_[s].keys);
        // Every name the statement reads, by the scope of this one SELECT.
        for (const ResultItem& item : c.items) names(item.expr);
        names(c.where);
        for (const NodeId g : c.groupBy) names(g);
        names(c.having);
        for (const OrderTerm& o : q.order) names(o.expr);
        if (t_.transform) {
            names(t_.transform->value);
            names(t_.transform->pivot);
        }

        JoinedColumns out;
        out.columnAt = std::move(columnAt_);
        for (size_t s = 0; s < steps_.size(); ++s)
            if (steps_[s].left) out.leftJoined.push_back(items_[s + 1].table);
        if (steps_.empty()) {
            // One file by another name (FROM t.csv AS t): its own columns, as they stand.
            for (auto& [at, gathered] : out.columnAt) gathered = used_[gathered].column;
            out.table = items_[0].table;
            return out;
        }
        const JoinShape shape = this->shape();
        if ((out.table = kept(shape))) return out;
        const Rows rows = match();
        std::vector<CsvTable::Gathered> columns;
        for (const ColumnRef& ref : used_) {
            const Item& item = items_[ref.item];
            // A smaller table's codes cost less than the gathered column's would.
            const bool codes = item.table->rowCount() < rows[0].size();
            columns.push_back({item.table.get(), ref.column, rows[ref.item].data(), item.table->columnNames()[ref.column], codes});
        }
        out.table = CsvTable::gathered(columns, rows[0].size(), stop_);
        // Kept while it costs little beside the files it joins (of which
        // only the columns statements read are held).
        size_t sources = 0;
        for (const Item& item : items_) sources += item.table->memoryBytes();
        if (out.table->memoryBytes() <= std::min(4 * sources, kMostKeptBytes)) keep(shape, out.table);
        return out;
    }

private:
    JoinShape shape() const {
        JoinShape out;
        for (const Item& item : items_) out.tables.push_back(item.table);
        for (const Step& step : steps_) {
            out.steps.push_back(step.left ? 'L' : 'I');
            for (const Key& k : step.keys)
                for (const size_t n : {k.joined.item, k.joined.column, k.added.item, k.added.column})
                    out.steps += std::to_string(n) + ",";
        }
        for (const ColumnRef& ref : used_) out.columns.emplace_back(ref.item, ref.column);
        return out;
    }

    const Token& tok(int k) const { return t_.token(k); }
    const Node& node(NodeId id) const { return t_.node(id); }

    bool callsAggregate(NodeId id) const {
        if (id == kNone) return false;
        const Node& n = node(id);
        if (n.kind == NodeKind::Call && n.window < 0 && n.windowName < 0 && isAggregateFunction(tok(n.token).text)) return true;
        for (const NodeId c : {n.left, n.right, n.extra})
            if (callsAggregate(c)) return true;
        return std::any_of(n.list.begin(), n.list.end(), [&](NodeId c) { return callsAggregate(c); });
    }

    // The tables of a left-deep chain, "(a JOIN b ON ...) JOIN c ON ..." as written.
    void flatten(int f) {
        const FromClause& clause = t_.froms[size_t(f)];
        if (clause.first.kind == FromItem::Kind::Group) flatten(clause.first.group);
        else add(clause.first);
        for (const Join& j : clause.joins) {
            if (j.natural || !j.usingColumns.empty() || j.on == kNone) throw Refused{};
            if (j.kind != Join::Kind::Inner && j.kind != Join::Kind::Left) throw Refused{};
            add(j.item);
            steps_.push_back({j.kind == Join::Kind::Left, j.on, {}});
        }
    }

    void add(const FromItem& from) {
        if (from.kind != FromItem::Kind::Table) throw Refused{};
        const auto registered = tableAt_.find(from.nameFrom);
        if (registered == tableAt_.end()) throw Refused{};
        Item item;
        item.table = tableNamed_(registered->second);
        if (!item.table) throw Refused{};
        item.called = from.alias >= 0 ? unquotedText(tok(from.alias)) : registered->second;
        items_.push_back(std::move(item));
    }

    // The column a name stands for in this SELECT's FROM, if exactly one has it.
    std::optional<ColumnRef> resolve(const Node& n) const {
        const QByteArray column = unquotedText(tok(n.token)).toUtf8();
        std::optional<ColumnRef> found;
        for (size_t i = 0; i < items_.size(); ++i) {
            if (n.qualifier >= 0) {
                const QString qualifier = unquotedText(tok(n.qualifier)).replace(QLatin1Char('#'), QLatin1Char('.'));
                if (items_[i].called.compare(qualifier, Qt::CaseInsensitive) != 0) continue;
            }
            const std::vector<std::string>& columns = items_[i].table->columnNames();
            for (size_t k = 0; k < columns.size(); ++k) {
                // SQLite matches names ignoring ASCII case only.
                if (sqlite3_stricmp(columns[k].c_str(), column.constData()) != 0) continue;
                if (found) throw Refused{};  // two tables have it: SQLite says so
                found = ColumnRef{i, k};
            }
        }
        return found;
    }

    ColumnRef column(NodeId id) const {
        const Node& n = node(id);
        if (n.kind != NodeKind::Name) throw Refused{};
        const std::optional<ColumnRef> ref = resolve(n);
        if (!ref) throw Refused{};
        return *ref;
    }

    void names(NodeId id) {
        if (id == kNone) return;
        const Node& n = node(id);
        // A subquery has scopes of its own.
        if (n.query >= 0 || n.kind == NodeKind::Star || n.kind == NodeKind::Subquery || n.kind == NodeKind::Exists) throw Refused{};
        if (n.kind == NodeKind::Name) {
            if (const std::optional<ColumnRef> ref = resolve(n)) {
                const auto [at, added] = gatheredAt_.emplace(*ref, used_.size());
                if (added) used_.push_back(*ref);
                columnAt_[tok(n.token).span.offset] = at->second;
            }
            return;
        }
        for (const NodeId c : {n.left, n.right, n.extra}) names(c);
        for (const NodeId c : n.list) names(c);
    }

    const std::vector<Binding::Wrap>& wrapsOf(NodeId id) const {
        static const std::vector<Binding::Wrap> none;
        const auto found = binding_.wraps.find(id);
        return found == binding_.wraps.end() ? none : found->second;
    }

    // ON a = b [AND c = d ...], each an equality of a column joined so far
    // and one of the table added, of one kind.
    void keysOf(NodeId on, size_t added, std::vector<Key>& keys) {
        const Node& n = node(on);
        if (!wrapsOf(on).empty() || binding_.replaced.contains(on)) throw Refused{};
        if (n.kind == NodeKind::Chain && isKeyword(tok(n.ops[0]), "AND")) {
            for (const int op : n.ops)
                if (!isKeyword(tok(op), "AND")) throw Refused{};
            for (const NodeId part : n.list) keysOf(part, added, keys);
            return;
        }
        if (n.kind == NodeKind::Group && n.list.size() == 1) return keysOf(n.list[0], added, keys);
        if (n.kind != NodeKind::Chain || n.list.size() != 2 || (!isSymbol(tok(n.ops[0]), "=") && !isSymbol(tok(n.ops[0]), "==")))
            throw Refused{};
        bool wrapped = false;
        for (const NodeId operand : n.list) {
            for (const Binding::Wrap& w : wrapsOf(operand)) {
                if (w.meaning != Binding::Meaning::NoCase) throw Refused{};
                wrapped = true;
            }
            if (binding_.replaced.contains(operand)) throw Refused{};
        }
        ColumnRef a = column(n.list[0]), b = column(n.list[1]);
        if (a.item == added) std::swap(a, b);
        if (b.item != added || a.item >= added) throw Refused{};
        const ColumnType x = items_[a.item].table->columnTypes()[a.column];
        const ColumnType y = items_[b.item].table->columnTypes()[b.column];
        // Text columns compare ignoring case, as they are declared; integers,
        // dates and moments as they are. Reals, and kinds that differ, are SQLite's.
        if (x != y || x == ColumnType::Real || (wrapped && x != ColumnType::Text)) throw Refused{};
        // A column holding the smallest integer has its own null, which the codes below do not know.
        if (items_[a.item].table->holdsLowest(a.column) || items_[b.item].table->holdsLowest(b.column)) throw Refused{};
        keys.push_back({a, b});
    }

    // Whether two values of key are equal as the statement compares them.
    bool equal(const Key& key, uint32_t joinedRow, uint32_t addedRow) const {
        const CsvTable& x = *items_[key.joined.item].table;
        const CsvTable& y = *items_[key.added.item].table;
        const ColumnType type = x.columnTypes()[key.joined.column];
        const Cell a = x.cell(joinedRow, key.joined.column), b = y.cell(addedRow, key.added.column);
        if (x.isNull(key.joined.column, a) || y.isNull(key.added.column, b)) return false;
        if (type != ColumnType::Text) return a.integer == b.integer;
        return compareIgnoringCase(x.textOf(a), y.textOf(b)) == 0;
    }

    Rows match() {
        size_t all = 0;
        for (const Item& item : items_) all += item.table->rowCount();
        mostRows_ = std::min<size_t>(kMaxRows, std::max<size_t>(size_t(1) << 20, 4 * all));
        Rows rows(items_.size());
        const size_t first = items_[0].table->rowCount();
        rows[0].resize(first);
        for (size_t r = 0; r < first; ++r) rows[0][r] = uint32_t(r);
        for (size_t s = 0; s < steps_.size(); ++s) rows = joinStep(steps_[s], s + 1, std::move(rows));
        return rows;
    }

    // The rows joined so far, each with the added table's rows that match
    // it (in row order), or with none for a left join's row that has none.
    Rows joinStep(const Step& step, size_t added, Rows rows) {
        const Key& lead = step.keys[0];
        const CsvTable& probe = *items_[lead.joined.item].table;
        const CsvTable& build = *items_[added].table;
        const CsvTable::ValueCodes& codes = probe.codesOf(lead.joined.column, stop_);
        const CsvTable::ValueCodes& buildCodes = build.codesOf(lead.added.column, stop_);
        // Both columns' codes number their values in ascending order (texts
        // ignoring case, so alike ones are neighbours): one merge finds, for
        // each value of the probe's column, the run of the added table's
        // codes equal to it.
        const bool text = probe.columnTypes()[lead.joined.column] == ColumnType::Text;
        const auto compare = [&](Cell a, Cell b) {
            if (text) return compareIgnoringCase(probe.textOf(a), build.textOf(b));
            return a.integer < b.integer ? -1 : a.integer > b.integer ? 1 : 0;
        };
        // Arrays by code and by row are as long as a file: large arrays'
        // fresh pages come zeroed and at once.
        LargeArray<uint32_t> runFrom, runTo;
        runFrom.resize(codes.width);
        runTo.resize(codes.width);
        for (uint32_t p = 1, b = 1; p < codes.width; ++p) {  // code 0 is null, which equals nothing
            listen(stop_, p);
            const Cell value = codes.cellOfCode[p];
            while (b < buildCodes.width && compare(value, buildCodes.cellOfCode[b]) > 0) ++b;
            uint32_t end = b;
            while (end < buildCodes.width && compare(value, buildCodes.cellOfCode[end]) == 0) ++end;
            runFrom[p] = b;
            runTo[p] = end;
        }
        // The added table's rows by code, each code's in row order.
        LargeArray<uint32_t> firstOf, byCode;
        firstOf.resize(buildCodes.width + 1);
        byCode.resize(build.rowCount());
        for (size_t r = 0; r < build.rowCount(); ++r) ++firstOf[buildCodes.codes[r] + 1];
        for (size_t c = 1; c <= buildCodes.width; ++c) firstOf[c] += firstOf[c - 1];
        {
            LargeArray<uint32_t> next;
            next.append(firstOf.data(), buildCodes.width);
            for (size_t r = 0; r < build.rowCount(); ++r) {
                listen(stop_, r);
                byCode[next[buildCodes.codes[r]]++] = uint32_t(r);
            }
        }
        const auto matchesOf = [&](uint32_t code) { return std::pair(firstOf[runFrom[code]], firstOf[runTo[code]]); };
        const LargeArray<uint32_t>& probeRows = rows[lead.joined.item];
        // each(j, f): f(m) for each added row m that pairs with joined row j,
        // kNoRow for a left join's row that has none.
        const auto each = [&](size_t j, auto f) {
            bool any = false;
            if (const uint32_t r = probeRows[j]; r != CsvTable::kNoRow) {
                const auto [from, to] = matchesOf(codes.codes[r]);
                for (uint32_t k = from; k < to; ++k) {
                    const uint32_t m = byCode[k];
                    bool all = true;
                    for (size_t e = 1; e < step.keys.size() && all; ++e) {
                        const uint32_t other = rows[step.keys[e].joined.item][j];
                        all = other != CsvTable::kNoRow && equal(step.keys[e], other, m);
                    }
                    if (all) f(m), any = true;
                }
            }
            if (!any && step.left) f(CsvTable::kNoRow);
        };
        // Each core counts the pairs of its share of the joined rows, then
        // writes them where the counts before it end: the rows in order.
        const size_t n = probeRows.size();
        const size_t parts = n < columnPathTuning().rowsForThreads ? 1 : coreCount();
        std::vector<size_t> counts(parts + 1, 0);
        onThreads(parts, parts, [&](size_t p) {
            size_t count = 0;
            for (size_t j = n * p / parts, end = n * (p + 1) / parts; j < end; ++j) {
                listen(stop_, j);
                each(j, [&](uint32_t) {
                    // Keys that repeat on both sides multiply the rows: past a
                    // bound, SQLite's loops answer without holding them all.
                    if (++count > mostRows_) throw Refused{};
                });
            }
            counts[p + 1] = count;
        });
        for (size_t p = 0; p < parts; ++p) counts[p + 1] += counts[p];
        if (counts[parts] > mostRows_) throw Refused{};
        Rows out(items_.size());
        for (size_t i = 0; i <= added; ++i) out[i].resize(counts[parts]);
        onThreads(parts, parts, [&](size_t p) {
            size_t at = counts[p];
            for (size_t j = n * p / parts, end = n * (p + 1) / parts; j < end; ++j) {
                listen(stop_, j);
                each(j, [&](uint32_t m) {
                    for (size_t i = 0; i < added; ++i) out[i][at] = rows[i][j];
                    out[added][at++] = m;
                });
            }
        });
        return out;
    }

    const SyntaxTree& t_;
    const Binding& binding_;
    const std::map<int, QString>& tableAt_;
    const std::function<std::shared_ptr<const CsvTable>(const QString&)>& tableNamed_;
    const std::atomic<bool>* stop_;
    std::vector<Item> items_;
    std::vector<Step> steps_;
    size_t mostRows_ = 0;  // the joined rows held at most
    std::vector<ColumnRef> used_;  // the columns gathered, in the order first read
    std::map<ColumnRef, size_t> gatheredAt_;
    std::unordered_map<qsizetype, size_t> columnAt_;
};

}  // namespace

std::optional<JoinedColumns> joinForColumns(const SyntaxTree& tree, const Binding& binding, const std::map<int, QString>& tableAt,
                                            const std::function<std::shared_ptr<const CsvTable>(const QString&)>& tableNamed,
                                            const std::atomic<bool>* stop) {
    try {
        return JoinReader(tree, binding, tableAt, tableNamed, stop).join();
    } catch (const Refused&) {
        return std::nullopt;
    }
}

}  // namespace tarlo
