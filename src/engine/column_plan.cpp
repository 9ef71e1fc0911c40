#include "engine/column_plan.h"

#include "engine/derived_keys.h"

#include "dialect/internal_names.h"
#include "dialect/sql_writer.h"
#include "dialect/token_edit.h"
#include "platform/error.h"
#include "functions/catalogue.h"
#include "functions/like_pattern.h"
#include "values/case_folding.h"
#include "values/dates.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>

namespace tarlo {

namespace {

// What a node gives, known before any row is read.
enum class Shape { Number, Text, Date, Truth, Null, Other };

struct Refused {};  // any part the column path does not take

// The catalogue's aggregates this path computes itself.
struct ComputedAggregate {
    const char* name;
    Aggregate kind;
};
constexpr ComputedAggregate kComputed[] = {
    {"Count", Aggregate::Count}, {"Sum", Aggregate::Sum},       {"Avg", Aggregate::Avg},
    {"Min", Aggregate::Min},     {"Max", Aggregate::Max},       {"StDev", Aggregate::StDev},
    {"StDevP", Aggregate::StDevP}, {"Var", Aggregate::Var},     {"VarP", Aggregate::VarP},
};
// By name, not through catalogueRow's pointer: a sanitizer build cannot
// compare pointers in a constant expression.
constexpr bool allCatalogueAggregates() {
    for (const ComputedAggregate& c : kComputed) {
        bool aggregate = false;
        for (const FunctionRow& row : functionCatalogue())
            if (catalogue_rows::sameName(c.name, row.name)) aggregate = row.aggregate;
        if (!aggregate) return false;
    }
    return true;
}
static_assert(allCatalogueAggregates(), "the column path computes only aggregates the catalogue has");

using namespace syntax;

// Reads the plan from the statement's tree and what the binder decided of
// it: a node the binder wraps keeps its meaning on the column path only
// where the wrap changes nothing there (a number column read as a number,
// a text compared ignoring case); anything else is SQLite's.
class Planner {
public:
    Planner(const SyntaxTree& tree, const Binding& binding, const SqlWriter& writer, const std::map<int, QString>& tableAt,
            const CsvTable& table, const std::unordered_map<qsizetype, size_t>* columnAt, sqlite3* db,
            const std::atomic<bool>* stop)
        : t_(tree), binding_(binding), writer_(writer), tableAt_(tableAt), table_(table), columnAt_(columnAt), db_(db),
          stop_(stop) {}

    ColumnPlan plan(const QString& tableName) {
        const SelectCore& c = onlyCore(t_.root);
        const Query& q = t_.queries[size_t(t_.root)];
        if (c.from < 0) throw Refused{};
        const FromClause& from = t_.froms[size_t(c.from)];
        if (columnAt_) {
            // Joined files: their rows come in no order of ours, so only what groups them.
            if (c.quantifier >= 0) throw Refused{};
        } else {
            if (from.first.kind == FromItem::Kind::Subquery) return planTop(c, from, tableName);
            if (c.quantifier >= 0 || !from.joins.empty() || !isTable(from.first, tableName)) throw Refused{};
        }
        // The group keys first: an item, HAVING or ORDER BY may read one.
        for (const NodeId g : c.groupBy) groupKey(g);
        for (const ResultItem& item : c.items) {
            if (const int node = this->item(item); node >= 0) plan_.items.push_back(node);
        }
        if (t_.transform) crosstab(c, q);
        if (c.where != kNone) {
            readKeys_ = false;  // a row's, not a group's
            plan_.where = truth(expression(c.where));
            readKeys_ = true;
        }
        if (c.having != kNone) plan_.having = truth(expression(c.having));
        for (const OrderTerm& o : q.order) plan_.order.push_back(orderKey(o));
        plan_.limit = limit(c, q);
        if (plan_.aggregates.empty() && plan_.groupColumns.empty()) {
            // Rows as they stand: columns only, in the table's order or sorted by columns.
            if (plan_.having >= 0 || columnAt_) throw Refused{};
            for (const int item : plan_.items)
                if (plan_.nodes[size_t(item)].kind != PlanNode::Kind::Column) throw Refused{};
            for (const ColumnPlan::OrderKey& key : plan_.order)
                if (plan_.nodes[size_t(key.node)].kind != PlanNode::Kind::Column || shapeOf(key.node) == Shape::Date)
                    throw Refused{};
            plan_.projection = true;
        } else {
            for (const int item : plan_.items) groupLevel(item);
        }
        if (plan_.having >= 0) groupLevel(plan_.having);
        if (!plan_.projection)
            for (const ColumnPlan::OrderKey& key : plan_.order) groupLevel(key.node);
        return finish();
    }

private:
    ColumnPlan finish() {
        for (PlanNode& n : plan_.nodes)
            if (n.kind == PlanNode::Kind::Literal && n.literal.kind == PathValue::Kind::Text) n.literal.text = n.literalText;
        return std::move(plan_);
    }

    const Token& tok(int k) const { return t_.token(k); }
    const Node& node(NodeId id) const { return t_.node(id); }

    // The one SELECT of a query without WITH, compounds, or what the path does not take.
    const SelectCore& onlyCore(int q) const {
        if (q < 0) throw Refused{};
        const Query& query = t_.queries[size_t(q)];
        if (!query.with.empty() || query.cores.size() != 1) throw Refused{};
        const SelectCore& c = query.cores[0];
        if (c.topPercent || !c.windows.empty() || !c.values.empty()) throw Refused{};
        return c;
    }

    bool isTable(const FromItem& item, const QString& tableName) const {
        if (item.kind != FromItem::Kind::Table || item.alias >= 0) return false;
        const auto registered = tableAt_.find(item.nameFrom);
        return registered != tableAt_.end() && registered->second.compare(tableName, Qt::CaseInsensitive) == 0;
    }

    // A name as written: a word, or a bracketed or quoted name.
    std::optional<QString> nameOf(NodeId id) const {
        const Node& n = node(id);
        if (n.kind == NodeKind::Name && n.qualifier < 0) return unquotedText(tok(n.token));
        return std::nullopt;
    }
    QString name(NodeId id) const {
        const auto n = nameOf(id);
        if (!n) throw Refused{};
        return *n;
    }
    size_t columnIndex(const QString& n) { return plan_.nodes[size_t(column(n))].index; }

    // SELECT fields FROM (SELECT columns, row_number() OVER (PARTITION BY p
    // ORDER BY o) AS n FROM table [WHERE ...]) [AS name] WHERE n <= limit
    ColumnPlan planTop(const SelectCore& outerCore, const FromClause& from, const QString& tableName) {
        using Field = ColumnPlan::TopPerGroup::Field;
        ColumnPlan::TopPerGroup top;
        const Query& outerQuery = t_.queries[size_t(t_.root)];
        if (outerCore.quantifier >= 0 || outerCore.top >= 0 || !from.joins.empty() || !outerCore.groupBy.empty() ||
            outerCore.having != kNone || !outerQuery.order.empty() || outerQuery.limit != kNone || outerCore.where == kNone)
            throw Refused{};
        std::vector<QString> outer;
        for (const ResultItem& item : outerCore.items) outer.push_back(name(item.expr));
        const SelectCore& c = onlyCore(from.first.query);
        const Query& inner = t_.queries[size_t(from.first.query)];
        if (c.quantifier >= 0 || c.top >= 0 || c.from < 0 || !c.groupBy.empty() || c.having != kNone || !inner.order.empty() ||
            inner.limit != kNone)
            throw Refused{};
        std::vector<std::pair<QString, std::optional<Field>>> fields;  // each result's name and what it is
        QString numberName;
        bool numbered = false;
        for (const ResultItem& item : c.items) {
            const Node& e = node(item.expr);
            if (e.kind == NodeKind::Call && isKeyword(tok(e.token), "row_number") && !numbered) {
                if (!e.list.empty() || e.star || e.window < 0 || e.extra != kNone || item.alias < 0) throw Refused{};
                const WindowSpec& w = t_.windows[size_t(e.window)];
                if (w.base >= 0 || w.partition.size() != 1 || w.order.size() != 1 || w.frameFrom >= 0 || w.order[0].nulls)
                    throw Refused{};
                top.partition = columnIndex(name(w.partition[0]));
                top.order = columnIndex(name(w.order[0].expr));
                top.descending = w.order[0].descending;
                numberName = unquotedText(tok(item.alias));
                fields.emplace_back(numberName, Field::Number);
                numbered = true;
                continue;
            }
            const QString column = name(item.expr);
            const size_t index = columnIndex(column);
            fields.emplace_back(item.alias >= 0 ? unquotedText(tok(item.alias)) : column, std::nullopt);
            innerColumns_.push_back(index);
        }
        if (!numbered) throw Refused{};
        const ColumnType partition = table_.columnTypes()[top.partition];
        const ColumnType order = table_.columnTypes()[top.order];
        if ((partition != ColumnType::Integer && partition != ColumnType::Text) ||
            (order != ColumnType::Integer && order != ColumnType::Real))
            throw Refused{};
        // Inner columns: only the partition's and the order's may be shown,
        // so rows tied in the order show the same whichever SQLite keeps.
        for (size_t i = 0, k = 0; i < fields.size(); ++i) {
            if (fields[i].second) continue;
            const size_t col = innerColumns_[k++];
            if (col == top.partition) fields[i].second = Field::Partition;
            else if (col == top.order) fields[i].second = Field::Order;
        }
        const FromClause& innerFrom = t_.froms[size_t(c.from)];
        if (!innerFrom.joins.empty() || !isTable(innerFrom.first, tableName)) throw Refused{};
        if (c.where != kNone) plan_.where = truth(expression(c.where));
        top.limit = limitOn(outerCore.where, numberName);
        if (top.limit < 1 || top.limit > 64) throw Refused{};
        for (const QString& o : outer) {
            std::optional<Field> field;
            int matches = 0;
            for (const auto& [shown, what] : fields) {
                if (sqlite3_stricmp(shown.toUtf8().constData(), o.toUtf8().constData()) != 0) continue;
                field = what;
                ++matches;
            }
            if (matches != 1 || !field) throw Refused{};
            top.fields.push_back(*field);
        }
        plan_.top = top;
        return finish();
    }

    int64_t wholeNumber(NodeId id) const {
        const Node& n = node(id);
        if (n.kind != NodeKind::Number) throw Refused{};
        bool ok = false;
        const qlonglong v = tok(n.token).text.toLongLong(&ok);
        if (!ok) throw Refused{};
        return int64_t(v);
    }

    // "n <= 2" or "n < 3", whether or not the binder compares them by a call.
    int64_t limitOn(NodeId id, const QString& numberName) const {
        const Node& cmp = node(id);
        if (cmp.kind != NodeKind::Chain || cmp.list.size() != 2) throw Refused{};
        for (const Binding::Wrap& w : wrapsOf(id))
            if (w.meaning != Binding::Meaning::Compare) throw Refused{};
        const Token& op = tok(cmp.ops[0]);
        const bool strict = isSymbol(op, "<");
        if (!strict && !isSymbol(op, "<=")) throw Refused{};
        if (!wrapsOf(cmp.list[0]).empty() || !wrapsOf(cmp.list[1]).empty() || replaced(cmp.list[1])) throw Refused{};
        if (name(cmp.list[0]).compare(numberName, Qt::CaseInsensitive) != 0) throw Refused{};
        const int64_t n = wholeNumber(cmp.list[1]);
        return strict ? n - 1 : n;
    }

    // TOP n (the column path gives up on any tie under ORDER BY, so it keeps
    // n rows or every row) or LIMIT n.
    std::optional<int64_t> limit(const SelectCore& c, const Query& q) const {
        if (c.top >= 0 && q.limit != kNone) throw Refused{};
        if (q.offset != kNone) throw Refused{};
        int64_t rows = 0;
        if (c.top >= 0) {
            bool ok = false;
            rows = tok(c.top).text.toLongLong(&ok);
            if (!ok) throw Refused{};
        } else if (q.limit != kNone) {
            if (!wrapsOf(q.limit).empty() || replaced(q.limit)) throw Refused{};
            rows = wholeNumber(q.limit);
        } else {
            return std::nullopt;
        }
        if (rows < 0) throw Refused{};
        return rows;
    }

    // ---- what the binder decided of a node

    const std::vector<Binding::Wrap>& wrapsOf(NodeId id) const {
        static const std::vector<Binding::Wrap> none;
        const auto w = binding_.wraps.find(id);
        return w == binding_.wraps.end() ? none : w->second;
    }
    const QString* replaced(NodeId id) const {
        const auto r = binding_.replaced.find(id);
        return r == binding_.replaced.end() ? nullptr : &r->second;
    }

    int add(PlanNode node, Shape shape) {
        plan_.nodes.push_back(std::move(node));
        shapes_.push_back(shape);
        return int(plan_.nodes.size() - 1);
    }
    Shape shapeOf(int node) const { return shapes_[size_t(node)]; }
    int truth(int node) const {
        if (shapeOf(node) != Shape::Truth) throw Refused{};
        return node;
    }

    int item(const ResultItem& item) {
        const Node& e = node(item.expr);
        if (e.kind == NodeKind::Star) {
            if (e.qualifier >= 0) throw Refused{};
            for (size_t c = 0; c < table_.columnCount(); ++c) plan_.items.push_back(columnNode(c));
            return -1;
        }
        const int n = expression(item.expr);
        // A date column is shown as the table gives it; only rows may show one.
        const bool dateColumn = plan_.nodes[size_t(n)].kind == PlanNode::Kind::Column && shapeOf(n) == Shape::Date;
        if (shapeOf(n) != Shape::Number && shapeOf(n) != Shape::Text && !dateColumn) throw Refused{};
        if (item.alias >= 0) aliases_.emplace_back(unquotedText(tok(item.alias)), n);
        return n;
    }

    // Texts compare ignoring case already; any other collation is refused.
    NodeId withoutCollation(NodeId id) const {
        while (node(id).kind == NodeKind::Collate) {
            if (tok(node(id).token).text.compare(QLatin1String(kNoCaseCollation), Qt::CaseInsensitive) != 0) throw Refused{};
            id = node(id).left;
        }
        return id;
    }

    ColumnPlan::OrderKey orderKey(const OrderTerm& o) {
        if (o.nulls) throw Refused{};
        const NodeId id = withoutCollation(o.expr);
        const Node& e = node(id);
        int n = -1;
        if (e.kind == NodeKind::Number && !replaced(id)) {
            for (const Binding::Wrap& w : wrapsOf(id))
                if (w.meaning != Binding::Meaning::NoCase) throw Refused{};
            bool ok = false;
            const int position = tok(e.token).text.toInt(&ok);
            if (!ok || position < 1 || size_t(position) > plan_.items.size()) throw Refused{};
            n = plan_.items[size_t(position - 1)];
        } else if (const auto written = nameOf(id)) {
            // A name of the result first, as SQLite resolves ORDER BY.
            for (const auto& [alias, aliased] : aliases_)
                if (alias.compare(*written, Qt::CaseInsensitive) == 0) n = aliased;
        }
        if (n < 0) n = expression(id);
        if (shapeOf(n) != Shape::Number && shapeOf(n) != Shape::Text) throw Refused{};
        return {n, o.descending};
    }

    int logical(PlanNode::Kind kind, int a, int b) {
        if (shapeOf(a) != Shape::Truth || shapeOf(b) != Shape::Truth) throw Refused{};
        return add(PlanNode::of(kind, {a, b}), Shape::Truth);
    }

    // Numbers with numbers; texts with texts where a column gives the collation;
    // dates with dates, a literal beside a date read as the moment it spells.
    void comparable(int a, int b) {
        if (shapeOf(a) == Shape::Date || shapeOf(b) == Shape::Date) {
            for (const int side : {a, b})
                if (shapeOf(side) != Shape::Date && shapeOf(side) != Shape::Null) asMoment(side);
            return;
        }
        const Shape x = shapeOf(a), y = shapeOf(b);
        if (x == Shape::Null || y == Shape::Null) {
            if (x == Shape::Truth || x == Shape::Other || y == Shape::Truth || y == Shape::Other) throw Refused{};
            return;
        }
        if (x == Shape::Number && y == Shape::Number) return;
        if (x == Shape::Text && y == Shape::Text &&
            (plan_.nodes[size_t(a)].kind == PlanNode::Kind::Column || plan_.nodes[size_t(b)].kind == PlanNode::Kind::Column))
            return;
        throw Refused{};
    }

    // A text literal beside a date, as the moment it spells: a date column's
    // cells hold moments, which compare as SQLite compares their written texts.
    void asMoment(int node) {
        PlanNode& n = plan_.nodes[size_t(node)];
        if (n.kind != PlanNode::Kind::Literal || shapeOf(node) != Shape::Text) throw Refused{};
        const std::optional<DateReading> date = readDateText(n.literalText);
        if (!date || formatDateTime(date->packed, true) != n.literalText) throw Refused{};  // SQLite compares the text as written
        n.literal = PathValue::ofInteger(date->packed);
        n.literalText.clear();
        shapes_[size_t(node)] = Shape::Date;
    }

    // TRANSFORM value SELECT headings ... GROUP BY headings PIVOT p: grouped
    // by the headings and then the pivot, its items the headings, the pivot
    // and the value, which the run's rows are turned into a column a value.
    void crosstab(const SelectCore& c, const Query& q) {
        const Transform& t = *t_.transform;
        if (t.hasList || t.pivot == kNone || c.having != kNone || c.top >= 0 || !q.order.empty()) throw Refused{};
        // Pivot values of a number, a text or a kind only the run knows: dates and times are SQLite's.
        const ValueKind kind = binding_.pivot.kind;
        if (kind != ValueKind::Number && kind != ValueKind::Text && kind != ValueKind::Unknown) throw Refused{};
        // A heading is one value for all its row's pivot values: of the headings' keys alone.
        for (const int item : plan_.items) {
            if (hasAggregate(item)) throw Refused{};
            groupLevel(item);
        }
        plan_.crosstabHeadings = plan_.items.size();
        // The pivot's values are told apart as the values query tells them: texts ignoring case.
        groupKey(t.pivot, !binding_.pivot.column && kind != ValueKind::Number);
        const Node& value = node(t.value);
        if (value.kind != NodeKind::Call || !isAggregateFunction(tok(value.token).text)) throw Refused{};
        for (const NodeId part : {t.pivot, t.value}) {
            const int n = expression(part);
            if (shapeOf(n) != Shape::Number && shapeOf(n) != Shape::Text) throw Refused{};
            plan_.items.push_back(n);
        }
    }

    bool hasAggregate(int node) const {
        const PlanNode& n = plan_.nodes[size_t(node)];
        if (n.kind == PlanNode::Kind::Aggregate) return true;
        return std::any_of(n.children.begin(), n.children.end(), [&](int c) { return hasAggregate(c); });
    }

    // ---- group keys

    // A column of integers or texts alone, or a key worked out of one column
    // (its texts grouped ignoring case where noCase is set).
    void groupKey(NodeId g, bool noCase = false) {
        const size_t before = plan_.nodes.size();
        try {
            const int node = expression(g);
            const PlanNode& n = plan_.nodes[size_t(node)];
            const ColumnType type = n.kind == PlanNode::Kind::Column ? table_.columnTypes()[n.index] : ColumnType::Real;
            if (type == ColumnType::Integer || type == ColumnType::Text) {
                plan_.groupColumns.push_back(n.index);
                plan_.derived.emplace_back();
                keyNodes_.push_back(kNone);
                keyShapes_.push_back(Shape::Other);
                return;
            }
        } catch (const Refused&) {
        }
        plan_.nodes.resize(before);
        shapes_.resize(before);
        derivedKey(g, noCase);
    }

    void derivedKey(NodeId g, bool noCase) {
        for (const Binding::Wrap& w : wrapsOf(g))
            if (w.meaning != Binding::Meaning::NoCase) throw Refused{};
        std::optional<ReadColumn> column;
        readsOneColumn(g, column);
        if (!column) throw Refused{};
        std::optional<DerivedKey> key =
            deriveKeys(db_, writer_.node(g).text(), table_, *column, noCase || !wrapsOf(g).empty(), stop_);
        if (!key) throw Refused{};
        // The keys' shape: numbers or texts, not both.
        bool numbers = false, texts = false;
        for (const PathValue& v : key->keys) {
            numbers |= v.kind == PathValue::Kind::Integer || v.kind == PathValue::Kind::Real;
            texts |= v.kind == PathValue::Kind::Text;
        }
        if (numbers && texts) throw Refused{};
        keyShapes_.push_back(texts ? Shape::Text : Shape::Number);
        plan_.groupColumns.push_back(column->column);
        plan_.derived.push_back(std::move(key));
        keyNodes_.push_back(g);
    }

    // Whether an expression reads the one table's column only (and the same
    // column wherever it names one), without aggregates, subqueries, windows,
    // or a function whose value differs from call to call.
    void readsOneColumn(NodeId id, std::optional<ReadColumn>& found) {
        if (id == kNone) return;
        const Node& n = node(id);
        switch (n.kind) {
        case NodeKind::Star:
        case NodeKind::Subquery:
        case NodeKind::Exists:
        case NodeKind::Row: throw Refused{};
        case NodeKind::Name: {
            const size_t c = plan_.nodes[size_t(columnOf(n))].index;
            if (found && found->column != c) throw Refused{};
            if (!found) found = ReadColumn{c, {}};
            // A joined file's column named with its table: the same name then reads it.
            if (n.qualifier >= 0 && found->table.isEmpty()) found->table = writer_.range(n.qualifier, n.qualifier).text();
            return;
        }
        case NodeKind::Call: {
            const QString& name = tok(n.token).text;
            if (n.window >= 0 || n.windowName >= 0 || n.extra != kNone || isAggregateFunction(name)) throw Refused{};
            for (const char* changing : {"Rnd", "Random", "RandomBlob"})
                if (name.compare(QLatin1String(changing), Qt::CaseInsensitive) == 0) throw Refused{};
            break;
        }
        default: break;
        }
        if (n.query >= 0) throw Refused{};
        for (const NodeId c : {n.left, n.right, n.extra}) readsOneColumn(c, found);
        for (const NodeId c : n.list) readsOneColumn(c, found);
    }

    // The derived key an expression is: the same tokens as written.
    int keyOf(NodeId id) const {
        if (!readKeys_) return -1;
        for (size_t k = 0; k < keyNodes_.size(); ++k)
            if (keyNodes_[k] != kNone && sameTokens(id, keyNodes_[k]) && wrapsOf(id).empty()) return int(k);
        return -1;
    }

    bool sameTokens(NodeId a, NodeId b) const {
        const auto tokensOf = [&](NodeId id) {
            std::vector<int> out;
            const Span s = node(id).span;
            for (size_t k = 0; k < t_.tokens.size(); ++k) {
                const Token& t = t_.tokens[k];
                if (t.span.offset >= s.end()) break;
                if (t.span.offset >= s.offset && isSignificant(t)) out.push_back(int(k));
            }
            return out;
        };
        const std::vector<int> x = tokensOf(a), y = tokensOf(b);
        if (x.size() != y.size()) return false;
        for (size_t i = 0; i < x.size(); ++i) {
            const Token &p = tok(x[i]), &q = tok(y[i]);
            if (p.kind != q.kind) return false;
            const bool word = p.kind == TokenKind::Word;
            if (p.text.compare(q.text, word ? Qt::CaseInsensitive : Qt::CaseSensitive) != 0) return false;
        }
        return true;
    }

    // A node with what the binder put around it: reading a number column as
    // a number, and comparing ignoring case, change nothing on this path.
    int expression(NodeId id) {
        if (const int k = keyOf(id); k >= 0) {
            PlanNode key = PlanNode::of(PlanNode::Kind::GroupKey);
            key.index = size_t(k);
            return add(std::move(key), keyShapes_[size_t(k)]);
        }
        if (!readKeys_) {
            // In WHERE, a condition this path cannot work out row by row may be one on one column.
            const size_t before = plan_.nodes.size();
            try {
                return wrapped(id);
            } catch (const Refused&) {
                plan_.nodes.resize(before);
                shapes_.resize(before);
                return codeTest(id);
            }
        }
        return wrapped(id);
    }

    // A condition on one column, worked out once for each distinct value.
    int codeTest(NodeId id) {
        if (!wrapsOf(id).empty()) throw Refused{};
        std::optional<ReadColumn> column;
        readsOneColumn(id, column);
        if (!column) throw Refused{};
        std::optional<std::vector<uint8_t>> truths = deriveTruths(db_, writer_.node(id).text(), table_, *column, stop_);
        if (!truths) throw Refused{};
        PlanNode test = PlanNode::of(PlanNode::Kind::CodeTest);
        test.index = column->column;
        test.codes = &table_.codesOf(column->column, stop_);
        test.truthOfCode = std::make_shared<const std::vector<uint8_t>>(std::move(*truths));
        return add(std::move(test), Shape::Truth);
    }

    int wrapped(NodeId id) {
        int value = replaced(id) ? writtenLiteral(*replaced(id)) : bare(id);
        for (const Binding::Wrap& w : wrapsOf(id)) {
            if (w.meaning == Binding::Meaning::NumberOf && numberColumn(value)) continue;
            if (w.meaning != Binding::Meaning::NoCase) throw Refused{};
        }
        return value;
    }

    // A literal the binder wrote in place of the user's: a number read from a text, a date.
    int writtenLiteral(const QString& text) {
        const std::vector<Token> tokens = tokenize(text);
        if (tokens.size() == 1 && tokens[0].kind == TokenKind::Number) return literal(text);
        if (tokens.size() == 2 && isSymbol(tokens[0], "-") && tokens[1].kind == TokenKind::Number) return literal(text);
        if (tokens.size() == 1 && tokens[0].kind == TokenKind::String) return textLiteral(unquotedText(tokens[0]));
        throw Refused{};
    }

    int textLiteral(const QString& text) {
        PlanNode literal = PlanNode::of(PlanNode::Kind::Literal);
        literal.literal.kind = PathValue::Kind::Text;
        literal.literalText = text.toStdString();
        return add(std::move(literal), Shape::Text);
    }

    int bare(NodeId id) {
        const Node& n = node(id);
        switch (n.kind) {
        case NodeKind::Group: return expression(n.list[0]);
        case NodeKind::Collate: return expression(withoutCollation(id));
        case NodeKind::Number: return literal(tok(n.token).text);
        case NodeKind::Truth: return literal(isKeyword(tok(n.token), "TRUE") ? QStringLiteral("-1") : QStringLiteral("0"));
        case NodeKind::String: return textLiteral(unquotedText(tok(n.token)));
        case NodeKind::Date: return textLiteral(unquotedText(tokenize(writtenDateLiteral(tok(n.token)))[0]));
        case NodeKind::Null: return add(PlanNode::of(PlanNode::Kind::Literal), Shape::Null);
        case NodeKind::Name: return columnOf(n);
        case NodeKind::Unary: {
            if (isKeyword(tok(n.token), "NOT")) {
                const int operand = truth(expression(n.left));
                return add(PlanNode::of(PlanNode::Kind::Not, {operand}), Shape::Truth);
            }
            const Node& operand = node(n.left);
            if (!isSymbol(tok(n.token), "-") || operand.kind != NodeKind::Number || !wrapsOf(n.left).empty() ||
                replaced(n.left))
                throw Refused{};
            return literal(QLatin1Char('-') + tok(operand.token).text);
        }
        case NodeKind::Chain: return chain(n);
        case NodeKind::Is: {
            if (n.distinct || node(n.right).kind != NodeKind::Null) throw Refused{};
            PlanNode isNull = PlanNode::of(PlanNode::Kind::IsNull, {expression(n.left)});
            isNull.negated = n.negated;
            return add(std::move(isNull), Shape::Truth);
        }
        case NodeKind::NullTest: {
            PlanNode isNull = PlanNode::of(PlanNode::Kind::IsNull, {expression(n.left)});
            isNull.negated = n.negated;
            return add(std::move(isNull), Shape::Truth);
        }
        case NodeKind::Between: {
            const int left = expression(n.left), low = expression(n.list[0]), high = expression(n.list[1]);
            comparable(left, low);
            comparable(left, high);
            PlanNode between = PlanNode::of(PlanNode::Kind::Between, {left, low, high});
            between.negated = n.negated;
            return add(std::move(between), Shape::Truth);
        }
        case NodeKind::In: {
            if (n.query >= 0 || n.list.empty()) throw Refused{};
            const int left = expression(n.left);
            PlanNode in = PlanNode::of(PlanNode::Kind::In, {left});
            in.negated = n.negated;
            for (const NodeId v : n.list) {
                const int value = expression(v);
                if (plan_.nodes[size_t(value)].kind != PlanNode::Kind::Literal) throw Refused{};
                comparable(left, value);
                in.children.push_back(value);
            }
            return add(std::move(in), Shape::Truth);
        }
        case NodeKind::Like: {
            // A text column with a pattern written out; ESCAPE and patterns
            // from elsewhere are SQLite's.
            if (!isKeyword(tok(n.token), "LIKE") || n.extra != kNone) throw Refused{};
            const int left = expression(n.left), pattern = expression(n.right);
            const PlanNode& p = plan_.nodes[size_t(pattern)];
            if (plan_.nodes[size_t(left)].kind != PlanNode::Kind::Column || shapeOf(left) != Shape::Text ||
                p.kind != PlanNode::Kind::Literal || shapeOf(pattern) != Shape::Text)
                throw Refused{};
            PlanNode like = PlanNode::of(PlanNode::Kind::Like, {left});
            like.negated = n.negated;
            like.like = std::make_shared<const LikePattern>(p.literalText);
            return add(std::move(like), Shape::Truth);
        }
        case NodeKind::Call: return call(n);
        default: throw Refused{};
        }
    }

    // And, Or and one comparison; the rest is SQLite's.
    int chain(const Node& n) {
        const Token& first = tok(n.ops[0]);
        if (isSymbol(first, "+") || isSymbol(first, "-")) {
            // The old engine's + and - of numbers, left to right.
            int left = expression(n.list[0]);
            for (size_t i = 1; i < n.list.size(); ++i) {
                const Token& op = tok(n.ops[i - 1]);
                if (!isSymbol(op, "+") && !isSymbol(op, "-")) throw Refused{};
                const int right = expression(n.list[i]);
                if (shapeOf(left) != Shape::Number || shapeOf(right) != Shape::Number) throw Refused{};
                left = add(PlanNode::of(isSymbol(op, "+") ? PlanNode::Kind::Add : PlanNode::Kind::Subtract, {left, right}),
                           Shape::Number);
            }
            return left;
        }
        if (isKeyword(first, "AND") || isKeyword(first, "OR")) {
            const PlanNode::Kind kind = isKeyword(first, "AND") ? PlanNode::Kind::And : PlanNode::Kind::Or;
            int left = expression(n.list[0]);
            for (size_t i = 1; i < n.list.size(); ++i) left = logical(kind, left, expression(n.list[i]));
            return left;
        }
        static const std::pair<const char*, PlanNode::Op> ops[] = {
            {"=", PlanNode::Op::Eq}, {"==", PlanNode::Op::Eq}, {"<>", PlanNode::Op::Ne}, {"!=", PlanNode::Op::Ne},
            {"<=", PlanNode::Op::Le}, {">=", PlanNode::Op::Ge}, {"<", PlanNode::Op::Lt}, {">", PlanNode::Op::Gt}};
        if (n.list.size() != 2) throw Refused{};
        for (const auto& [symbol, op] : ops) {
            if (!isSymbol(first, symbol)) continue;
            const int left = expression(n.list[0]), right = expression(n.list[1]);
            comparable(left, right);
            PlanNode compare = PlanNode::of(PlanNode::Kind::Compare, {left, right});
            compare.op = op;
            return add(std::move(compare), Shape::Truth);
        }
        throw Refused{};
    }

    int literal(const QString& text) {
        // SQLite reads the number, so the plan holds the very value it would.
        const QByteArray sql = ("SELECT " + text).toUtf8();
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db_, sql.constData(), int(sql.size()), &stmt, nullptr) != SQLITE_OK || !stmt ||
            sqlite3_step(stmt) != SQLITE_ROW) {
            sqlite3_finalize(stmt);
            throw Refused{};
        }
        PlanNode node = PlanNode::of(PlanNode::Kind::Literal);
        const int type = sqlite3_column_type(stmt, 0);
        if (type == SQLITE_INTEGER) node.literal = PathValue::ofInteger(sqlite3_column_int64(stmt, 0));
        else if (type == SQLITE_FLOAT) node.literal = PathValue::ofReal(sqlite3_column_double(stmt, 0));
        sqlite3_finalize(stmt);
        if (type != SQLITE_INTEGER && type != SQLITE_FLOAT) throw Refused{};
        return add(std::move(node), Shape::Number);
    }

    // A name's column: the joined files' where the statement joins them.
    int columnOf(const Node& n) {
        if (!columnAt_) {
            if (n.qualifier >= 0) throw Refused{};
            return column(unquotedText(tok(n.token)));
        }
        const auto found = columnAt_->find(tok(n.token).span.offset);
        if (found == columnAt_->end()) throw Refused{};
        return columnNode(found->second);
    }

    int column(const QString& name) {
        // SQLite matches names ignoring ASCII case only.
        const QByteArray wanted = name.toUtf8();
        size_t found = SIZE_MAX;
        for (size_t c = 0; c < table_.columnCount(); ++c) {
            if (sqlite3_stricmp(table_.columnNames()[c].c_str(), wanted.constData()) != 0) continue;
            if (found != SIZE_MAX) throw Refused{};
            found = c;
        }
        if (found == SIZE_MAX) throw Refused{};
        return columnNode(found);
    }

    int columnNode(size_t found) {
        // Its null is not the one the column path tests for.
        if (table_.holdsLowest(found)) throw Refused{};
        Shape shape = Shape::Date;
        switch (table_.columnTypes()[found]) {
        case ColumnType::Integer:
        case ColumnType::Real: shape = Shape::Number; break;
        case ColumnType::Text: shape = Shape::Text; break;
        case ColumnType::Date:
        case ColumnType::DateTime: break;
        case ColumnType::Time: throw Refused{};  // times compare and sort by moment: SQLite's, with the moment collation
        }
        PlanNode column = PlanNode::of(PlanNode::Kind::Column);
        column.index = found;
        return add(std::move(column), shape);
    }

    bool numberColumn(int node) const {
        return plan_.nodes[size_t(node)].kind == PlanNode::Kind::Column && shapeOf(node) == Shape::Number;
    }

    bool hasNegativeZero(size_t column) const {
        if (table_.columnTypes()[column] != ColumnType::Real) return false;
        const CsvTable::CellSpan span = table_.cellsOf(column);
        for (size_t r = 0; r < span.count; ++r)
            if (span.cells[r].real == 0 && std::signbit(span.cells[r].real)) return true;
        return false;
    }

    int call(const Node& n) {
        const QString name = tok(n.token).text;
        const auto is = [&](const char* w) { return name.compare(QLatin1String(w), Qt::CaseInsensitive) == 0; };
        if (n.extra != kNone || n.window >= 0 || n.windowName >= 0) throw Refused{};
        AggregateSpec wanted{Aggregate::CountRows, 0};
        const auto computed = std::find_if(std::begin(kComputed), std::end(kComputed),
                                           [&](const ComputedAggregate& c) { return is(c.name); });
        if (computed == std::end(kComputed)) throw Refused{};
        wanted.kind = computed->kind;
        if (wanted.kind == Aggregate::Count && n.star) {
            if (n.distinct) throw Refused{};
            wanted.kind = Aggregate::CountRows;
        } else {
            if (n.star || n.list.size() != 1) throw Refused{};
            const int argument = expression(n.list[0]);
            const PlanNode& a = plan_.nodes[size_t(argument)];
            if (a.kind != PlanNode::Kind::Column) throw Refused{};
            if (wanted.kind != Aggregate::Count && !numberColumn(argument)) throw Refused{};
            wanted.column = a.index;
            if (n.distinct) {
                // Count(DISTINCT x) of a column with codes whose texts differ ignoring case too.
                if (wanted.kind != Aggregate::Count || table_.columnTypes()[a.index] == ColumnType::Real ||
                    table_.codesOf(a.index, stop_).caseTwins)
                    throw Refused{};
                wanted.kind = Aggregate::CountDistinct;
            }
            // Joined rows come in an order of their own: Min and Max keep the
            // first of equal values, and only 0 and -0 are equal but shown apart.
            if (columnAt_ && (wanted.kind == Aggregate::Min || wanted.kind == Aggregate::Max) && hasNegativeZero(a.index))
                throw Refused{};
        }
        size_t index = 0;
        while (index < plan_.aggregates.size() && !(plan_.aggregates[index] == wanted)) ++index;
        if (index == plan_.aggregates.size()) plan_.aggregates.push_back(wanted);
        PlanNode aggregate = PlanNode::of(PlanNode::Kind::Aggregate);
        aggregate.index = index;
        return add(std::move(aggregate), Shape::Number);
    }

    // A result or HAVING reads group keys and aggregates, never a bare row.
    void groupLevel(int node) const {
        const PlanNode& n = plan_.nodes[size_t(node)];
        if (n.kind == PlanNode::Kind::Column) {
            bool grouped = false;
            for (size_t k = 0; k < plan_.groupColumns.size(); ++k)
                grouped |= plan_.groupColumns[k] == n.index && !plan_.derived[k];
            if (!grouped) throw Refused{};
        }
        if (n.kind == PlanNode::Kind::Aggregate) return;
        for (const int child : n.children) groupLevel(child);
    }

    const SyntaxTree& t_;
    const Binding& binding_;
    const SqlWriter& writer_;
    const std::map<int, QString>& tableAt_;
    const CsvTable& table_;
    const std::unordered_map<qsizetype, size_t>* columnAt_;
    sqlite3* db_;
    const std::atomic<bool>* stop_;
    ColumnPlan plan_;
    std::vector<Shape> shapes_;
    std::vector<std::pair<QString, int>> aliases_;
    std::vector<NodeId> keyNodes_;  // by group key: the GROUP BY expression of a derived key, else kNone
    std::vector<Shape> keyShapes_;  // by group key, where derived
    bool readKeys_ = true;          // whether an expression may be a group key (not in WHERE)
    std::vector<size_t> innerColumns_;
};

// An aggregate in WHERE is SQLite's error to report, not ours.
bool hasAggregate(const ColumnPlan& plan, int node) {
    const PlanNode& n = plan.nodes[size_t(node)];
    if (n.kind == PlanNode::Kind::Aggregate) return true;
    for (const int child : n.children)
        if (hasAggregate(plan, child)) return true;
    return false;
}

}  // namespace

std::optional<ColumnPlan> planColumnQuery(const SyntaxTree& tree, const Binding& binding, const SqlWriter& writer,
                                          const std::map<int, QString>& tableAt, const QString& tableName,
                                          const CsvTable& table, sqlite3* db, const std::atomic<bool>* stop,
                                          const std::unordered_map<qsizetype, size_t>* columnAt) {
    try {
        if (tree.explain) return std::nullopt;
        ColumnPlan plan = Planner(tree, binding, writer, tableAt, table, columnAt, db, stop).plan(tableName);
        if (plan.where >= 0 && hasAggregate(plan, plan.where)) return std::nullopt;
        return plan;
    } catch (const Refused&) {
        return std::nullopt;
    }
}

}  // namespace tarlo
