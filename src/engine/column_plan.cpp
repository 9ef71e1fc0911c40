#include "engine/column_plan.h"

#include "dialect/internal_names.h"
#include "dialect/sql_lexer.h"
#include "functions/catalogue.h"
#include "functions/like_pattern.h"
#include "values/case_folding.h"

#include <sqlite3.h>

#include <algorithm>

namespace tarlo {

namespace {

// What a node gives, known before any row is read.
enum class Shape { Number, Text, Truth, Null, Other };

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

class Parser {
public:
    Parser(std::vector<Token> tokens, const CsvTable& table, sqlite3* db) : tokens_(std::move(tokens)), table_(table), db_(db) {}

    ColumnPlan parse(const QString& tableName) {
        expectWord("SELECT");
        if (isWord("DISTINCT") || isWord("ALL")) throw Refused{};
        do
            if (const int node = item(); node >= 0) plan_.items.push_back(node);
        while (take(","));
        expectWord("FROM");
        if (at().kind == TokenKind::Word || at().kind == TokenKind::DoubleQuoted || at().kind == TokenKind::Bracketed ||
            at().kind == TokenKind::Backticked) {
            if (unquotedText(at()).compare(tableName, Qt::CaseInsensitive) != 0) throw Refused{};
            ++pos_;
        } else {
            throw Refused{};
        }
        if (takeWord("WHERE")) plan_.where = truth(expression(), false);
        if (takeWord("GROUP")) {
            expectWord("BY");
            do {
                const int node = expression();
                const PlanNode& n = plan_.nodes[size_t(node)];
                if (n.kind != PlanNode::Kind::Column) throw Refused{};
                const ColumnType type = table_.columnTypes()[n.index];
                if (type != ColumnType::Integer && type != ColumnType::Text) throw Refused{};
                plan_.groupColumns.push_back(n.index);
            } while (take(","));
        }
        if (takeWord("HAVING")) plan_.having = truth(expression(), true);
        if (takeWord("ORDER")) {
            expectWord("BY");
            do plan_.order.push_back(orderKey());
            while (take(","));
        }
        if (takeWord("LIMIT")) plan_.limit = limit();
        take(";");
        if (pos_ != tokens_.size()) throw Refused{};
        if (plan_.aggregates.empty() && plan_.groupColumns.empty()) {
            // Rows as they stand: columns only, in the table's order.
            if (plan_.having >= 0 || !plan_.order.empty()) throw Refused{};
            for (const int item : plan_.items)
                if (plan_.nodes[size_t(item)].kind != PlanNode::Kind::Column) throw Refused{};
            plan_.projection = true;
        } else {
            for (const int item : plan_.items) groupLevel(item);
        }
        if (plan_.having >= 0) groupLevel(plan_.having);
        for (const ColumnPlan::OrderKey& key : plan_.order) groupLevel(key.node);
        for (PlanNode& n : plan_.nodes)
            if (n.kind == PlanNode::Kind::Literal && n.literal.kind == PathValue::Kind::Text) n.literal.text = n.literalText;
        return std::move(plan_);
    }

    // SELECT fields FROM (SELECT columns, row_number() OVER (PARTITION BY p
    // ORDER BY o) AS n FROM table [WHERE ...]) [AS name] WHERE n <= limit
    ColumnPlan parseTop(const QString& tableName) {
        using Field = ColumnPlan::TopPerGroup::Field;
        ColumnPlan::TopPerGroup top;
        expectWord("SELECT");
        std::vector<QString> outer;
        do {
            outer.push_back(name());
            if (takeWord("AS")) name();
        } while (take(","));
        expectWord("FROM");
        expect("(");
        expectWord("SELECT");
        std::vector<std::pair<QString, std::optional<Field>>> inner;  // each result's name and what it is
        QString numberName;
        bool numbered = false;
        do {
            if (at().kind == TokenKind::Word && isKeyword(at(), "row_number") && !numbered) {
                ++pos_;
                expect("(");
                expect(")");
                expectWord("OVER");
                expect("(");
                expectWord("PARTITION");
                expectWord("BY");
                top.partition = columnIndex(name());
                expectWord("ORDER");
                expectWord("BY");
                top.order = columnIndex(name());
                top.descending = takeWord("DESC");
                if (!top.descending) takeWord("ASC");
                expect(")");
                expectWord("AS");
                numberName = name();
                inner.emplace_back(numberName, Field::Number);
                numbered = true;
                continue;
            }
            const QString column = name();
            const size_t index = columnIndex(column);
            QString shown = column;
            if (takeWord("AS")) shown = name();
            inner.emplace_back(shown, std::nullopt);
            innerColumns_.push_back(index);
        } while (take(","));
        if (!numbered) throw Refused{};
        const ColumnType partition = table_.columnTypes()[top.partition];
        const ColumnType order = table_.columnTypes()[top.order];
        if ((partition != ColumnType::Integer && partition != ColumnType::Text) ||
            (order != ColumnType::Integer && order != ColumnType::Real))
            throw Refused{};
        // Inner columns: only the partition's and the order's may be shown,
        // so rows tied in the order show the same whichever SQLite keeps.
        for (size_t i = 0, k = 0; i < inner.size(); ++i) {
            if (inner[i].second) continue;
            const size_t c = innerColumns_[k++];
            if (c == top.partition) inner[i].second = Field::Partition;
            else if (c == top.order) inner[i].second = Field::Order;
        }
        expectWord("FROM");
        if (unquotedText(at()).compare(tableName, Qt::CaseInsensitive) != 0) throw Refused{};
        ++pos_;
        if (takeWord("WHERE")) plan_.where = truth(expression(), false);
        expect(")");
        if (takeWord("AS")) name();
        else if (at().kind != TokenKind::Word || !isKeyword(at(), "WHERE")) name();
        expectWord("WHERE");
        top.limit = limitOn(numberName);
        take(";");
        if (pos_ != tokens_.size() || top.limit < 1 || top.limit > 64) throw Refused{};
        for (const QString& o : outer) {
            std::optional<Field> field;
            int matches = 0;
            for (const auto& [shown, what] : inner) {
                if (sqlite3_stricmp(shown.toUtf8().constData(), o.toUtf8().constData()) != 0) continue;
                field = what;
                ++matches;
            }
            if (matches != 1 || !field) throw Refused{};
            top.fields.push_back(*field);
        }
        plan_.top = top;
        for (PlanNode& n : plan_.nodes)
            if (n.kind == PlanNode::Kind::Literal && n.literal.kind == PathValue::Kind::Text) n.literal.text = n.literalText;
        return std::move(plan_);
    }

private:
    QString name() {
        const Token& t = at();
        if (t.kind != TokenKind::Word && t.kind != TokenKind::DoubleQuoted && t.kind != TokenKind::Bracketed &&
            t.kind != TokenKind::Backticked)
            throw Refused{};
        ++pos_;
        return unquotedText(t);
    }
    size_t columnIndex(const QString& n) { return plan_.nodes[size_t(column(n))].index; }

    // "n <= 2", "n < 3", or as typed: "tarlo_compare(n , 2) <= 0".
    int64_t limitOn(const QString& numberName) {
        const auto number = [&] {
            if (at().kind != TokenKind::Number) throw Refused{};
            bool ok = false;
            const qlonglong v = at().text.toLongLong(&ok);
            if (!ok) throw Refused{};
            ++pos_;
            return int64_t(v);
        };
        if (at().kind == TokenKind::Word && isKeyword(at(), call::kCompare)) {
            ++pos_;
            expect("(");
            if (name().compare(numberName, Qt::CaseInsensitive) != 0) throw Refused{};
            expect(",");
            const int64_t n = number();
            expect(")");
            const bool strict = take("<");
            if (!strict) expect("<=");
            if (at().kind != TokenKind::Number || at().text != QLatin1String("0")) throw Refused{};
            ++pos_;
            return strict ? n - 1 : n;
        }
        if (name().compare(numberName, Qt::CaseInsensitive) != 0) throw Refused{};
        const bool strict = take("<");
        if (!strict) expect("<=");
        const int64_t n = number();
        return strict ? n - 1 : n;
    }

    // TOP n as translated: "LIMIT n", or with ORDER BY "LIMIT (SELECT
    // count(*) FROM (the statement ranked by its order) WHERE rank <= n)",
    // which counts the rows that tie with the last. The column path gives
    // up on any tie under ORDER BY, so that count is n or every row.
    int64_t limit() {
        if (at().kind == TokenKind::Number) {
            bool ok = false;
            const qlonglong n = at().text.toLongLong(&ok);
            if (!ok || n < 0) throw Refused{};
            ++pos_;
            return n;
        }
        if (plan_.order.empty()) throw Refused{};
        expect("(");
        expectWord("SELECT");
        expectWord("count");
        expect("(");
        expect("*");
        expect(")");
        if (takeWord("AS")) name();
        expectWord("FROM");
        expect("(");
        for (int depth = 1; depth > 0;) {
            if (pos_ >= tokens_.size()) throw Refused{};
            if (take("(")) ++depth;
            else if (take(")")) --depth;
            else ++pos_;
        }
        expectWord("WHERE");
        const int64_t n = limitOn(QLatin1String(call::kRank));
        expect(")");
        if (n < 0) throw Refused{};
        return n;
    }

    const Token& at() const {
        static const Token end{TokenKind::Space, QString(), 0};
        return pos_ < tokens_.size() ? tokens_[pos_] : end;
    }
    bool isWord(const char* word) const { return at().kind == TokenKind::Word && isKeyword(at(), word); }
    bool takeWord(const char* word) {
        if (!isWord(word)) return false;
        ++pos_;
        return true;
    }
    void expectWord(const char* word) {
        if (!takeWord(word)) throw Refused{};
    }
    bool take(const char* symbol) {
        if (at().kind != TokenKind::Symbol || at().text != QLatin1String(symbol)) return false;
        ++pos_;
        return true;
    }
    void expect(const char* symbol) {
        if (!take(symbol)) throw Refused{};
    }

    int add(PlanNode node, Shape shape) {
        plan_.nodes.push_back(std::move(node));
        shapes_.push_back(shape);
        return int(plan_.nodes.size() - 1);
    }
    Shape shapeOf(int node) const { return shapes_[size_t(node)]; }
    int truth(int node, bool) const {
        if (shapeOf(node) != Shape::Truth) throw Refused{};
        return node;
    }

    int item() {
        if (take("*")) {
            for (size_t c = 0; c < table_.columnCount(); ++c) plan_.items.push_back(columnNode(c));
            return -1;
        }
        const int node = expression();
        // A date column is shown as the table gives it; only rows may show one.
        const bool dateColumn = plan_.nodes[size_t(node)].kind == PlanNode::Kind::Column && shapeOf(node) == Shape::Other;
        if (shapeOf(node) != Shape::Number && shapeOf(node) != Shape::Text && !dateColumn) throw Refused{};
        if (takeWord("AS")) {
            if (at().kind == TokenKind::Symbol || at().kind == TokenKind::Space) throw Refused{};
            aliases_.emplace_back(unquotedText(at()), node);
            ++pos_;
        }
        return node;
    }

    ColumnPlan::OrderKey orderKey() {
        int node = -1;
        if (at().kind == TokenKind::Number) {
            bool ok = false;
            const int position = at().text.toInt(&ok);
            if (!ok || position < 1 || size_t(position) > plan_.items.size()) throw Refused{};
            node = plan_.items[size_t(position - 1)];
            ++pos_;
        } else {
            // A name of the result first, as SQLite resolves ORDER BY.
            const bool name = at().kind == TokenKind::Word || at().kind == TokenKind::DoubleQuoted ||
                              at().kind == TokenKind::Bracketed || at().kind == TokenKind::Backticked;
            if (name && !(pos_ + 1 < tokens_.size() && tokens_[pos_ + 1].text == QLatin1String("("))) {
                const QString n = unquotedText(at());
                for (const auto& [alias, aliased] : aliases_)
                    if (alias.compare(n, Qt::CaseInsensitive) == 0) node = aliased;
                if (node >= 0) ++pos_;
            }
            if (node < 0) node = expression();
        }
        collation();
        if (shapeOf(node) != Shape::Number && shapeOf(node) != Shape::Text) throw Refused{};
        bool descending = false;
        if (takeWord("DESC")) descending = true;
        else takeWord("ASC");
        if (isWord("NULLS")) throw Refused{};
        return {node, descending};
    }

    // Texts compare ignoring case already; any other collation is refused.
    void collation() {
        while (takeWord("COLLATE")) {
            if (!(at().kind == TokenKind::Word && at().text.compare(QLatin1String(kNoCaseCollation), Qt::CaseInsensitive) == 0))
                throw Refused{};
            ++pos_;
        }
    }

    int expression() { return disjunction(); }

    int disjunction() {
        int left = conjunction();
        while (takeWord("OR")) left = logical(PlanNode::Kind::Or, left, conjunction());
        return left;
    }
    int conjunction() {
        int left = negation();
        while (takeWord("AND")) left = logical(PlanNode::Kind::And, left, negation());
        return left;
    }
    int logical(PlanNode::Kind kind, int a, int b) {
        if (shapeOf(a) != Shape::Truth || shapeOf(b) != Shape::Truth) throw Refused{};
        return add(PlanNode::of(kind, {a, b}), Shape::Truth);
    }
    int negation() {
        if (takeWord("NOT")) {
            const int operand = negation();
            if (shapeOf(operand) != Shape::Truth) throw Refused{};
            return add(PlanNode::of(PlanNode::Kind::Not, {operand}), Shape::Truth);
        }
        return comparison();
    }

    // Numbers with numbers; texts with texts where a column gives the collation.
    void comparable(int a, int b) const {
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

    int comparison() {
        const int left = operand();
        static const std::pair<const char*, PlanNode::Op> ops[] = {
            {"=", PlanNode::Op::Eq}, {"==", PlanNode::Op::Eq}, {"<>", PlanNode::Op::Ne}, {"!=", PlanNode::Op::Ne},
            {"<=", PlanNode::Op::Le}, {">=", PlanNode::Op::Ge}, {"<", PlanNode::Op::Lt}, {">", PlanNode::Op::Gt}};
        for (const auto& [symbol, op] : ops) {
            if (take(symbol)) {
                const int right = operand();
                comparable(left, right);
                PlanNode compare = PlanNode::of(PlanNode::Kind::Compare, {left, right});
                compare.op = op;
                return add(std::move(compare), Shape::Truth);
            }
        }
        if (takeWord("IS")) {
            const bool negated = takeWord("NOT");
            expectWord("NULL");
            PlanNode isNull = PlanNode::of(PlanNode::Kind::IsNull, {left});
            isNull.negated = negated;
            return add(std::move(isNull), Shape::Truth);
        }
        const bool negated = takeWord("NOT");
        if (takeWord("BETWEEN")) {
            const int low = operand();
            expectWord("AND");
            const int high = operand();
            comparable(left, low);
            comparable(left, high);
            PlanNode between = PlanNode::of(PlanNode::Kind::Between, {left, low, high});
            between.negated = negated;
            return add(std::move(between), Shape::Truth);
        }
        if (takeWord("IN")) {
            expect("(");
            PlanNode in = PlanNode::of(PlanNode::Kind::In, {left});
            in.negated = negated;
            do {
                const int value = operand();
                if (plan_.nodes[size_t(value)].kind != PlanNode::Kind::Literal) throw Refused{};
                comparable(left, value);
                in.children.push_back(value);
            } while (take(","));
            expect(")");
            return add(std::move(in), Shape::Truth);
        }
        if (takeWord("LIKE")) {
            // A text column with a pattern written out; ESCAPE and patterns
            // from elsewhere are SQLite's.
            const int pattern = operand();
            const PlanNode& p = plan_.nodes[size_t(pattern)];
            if (plan_.nodes[size_t(left)].kind != PlanNode::Kind::Column || shapeOf(left) != Shape::Text ||
                p.kind != PlanNode::Kind::Literal || shapeOf(pattern) != Shape::Text || isWord("ESCAPE"))
                throw Refused{};
            PlanNode like = PlanNode::of(PlanNode::Kind::Like, {left});
            like.negated = negated;
            like.like = std::make_shared<const LikePattern>(p.literalText);
            return add(std::move(like), Shape::Truth);
        }
        if (negated) throw Refused{};
        return left;
    }

    int operand() {
        const int node = primary();
        collation();
        return node;
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

    int primary() {
        const Token& t = at();
        if (take("(")) {
            const int inner = expression();
            expect(")");
            return inner;
        }
        if (t.kind == TokenKind::Number) {
            ++pos_;
            return literal(t.text);
        }
        if (t.kind == TokenKind::Symbol && t.text == QLatin1String("-") && pos_ + 1 < tokens_.size() &&
            tokens_[pos_ + 1].kind == TokenKind::Number) {
            pos_ += 2;
            return literal(QLatin1Char('-') + tokens_[pos_ - 1].text);
        }
        if (t.kind == TokenKind::String) {
            ++pos_;
            PlanNode node = PlanNode::of(PlanNode::Kind::Literal);
            node.literal.kind = PathValue::Kind::Text;
            node.literalText = unquotedText(t).toStdString();
            return add(std::move(node), Shape::Text);
        }
        if (t.kind == TokenKind::Word && isKeyword(t, "NULL")) {
            ++pos_;
            return add(PlanNode::of(PlanNode::Kind::Literal), Shape::Null);
        }
        const bool name = t.kind == TokenKind::Word || t.kind == TokenKind::DoubleQuoted ||
                          t.kind == TokenKind::Bracketed || t.kind == TokenKind::Backticked;
        if (!name) throw Refused{};
        ++pos_;
        if (t.kind == TokenKind::Word && take("(")) return call(t.text);
        if (at().kind == TokenKind::Symbol && at().text == QLatin1String(".")) throw Refused{};
        return column(unquotedText(t));
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
        Shape shape = Shape::Other;
        switch (table_.columnTypes()[found]) {
        case ColumnType::Integer:
        case ColumnType::Real: shape = Shape::Number; break;
        case ColumnType::Text: shape = Shape::Text; break;
        default: break;
        }
        PlanNode column = PlanNode::of(PlanNode::Kind::Column);
        column.index = found;
        return add(std::move(column), shape);
    }

    bool numberColumn(int node) const {
        return plan_.nodes[size_t(node)].kind == PlanNode::Kind::Column && shapeOf(node) == Shape::Number;
    }

    int call(const QString& name) {
        const auto is = [&](const char* n) { return name.compare(QLatin1String(n), Qt::CaseInsensitive) == 0; };
        if (is(call::kAdd) || is(call::kSubtract)) {
            const int a = expression();
            expect(",");
            const int b = expression();
            expect(")");
            if (shapeOf(a) != Shape::Number || shapeOf(b) != Shape::Number) throw Refused{};
            return add(PlanNode::of(is(call::kAdd) ? PlanNode::Kind::Add : PlanNode::Kind::Subtract, {a, b}),
                       Shape::Number);
        }
        if (is(call::kNumberOf)) {
            // On a number column it hands the value on unchanged.
            const int value = expression();
            for (int i = 0; i < 2; ++i) {
                expect(",");
                if (at().kind != TokenKind::String) throw Refused{};
                ++pos_;
            }
            expect(")");
            if (!numberColumn(value)) throw Refused{};
            return value;
        }
        AggregateSpec wanted{Aggregate::CountRows, 0};
        const auto computed = std::find_if(std::begin(kComputed), std::end(kComputed),
                                           [&](const ComputedAggregate& c) { return is(c.name); });
        if (computed == std::end(kComputed)) throw Refused{};
        wanted.kind = computed->kind;
        if (wanted.kind == Aggregate::Count && take("*")) {
            wanted.kind = Aggregate::CountRows;
        } else {
            if (isWord("DISTINCT") || isWord("ALL")) throw Refused{};
            const int argument = expression();
            const PlanNode& a = plan_.nodes[size_t(argument)];
            if (a.kind != PlanNode::Kind::Column) throw Refused{};
            if (wanted.kind != Aggregate::Count && !numberColumn(argument)) throw Refused{};
            wanted.column = a.index;
        }
        expect(")");
        if (isWord("FILTER") || isWord("OVER")) throw Refused{};
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
        if (n.kind == PlanNode::Kind::Column &&
            std::find(plan_.groupColumns.begin(), plan_.groupColumns.end(), n.index) == plan_.groupColumns.end())
            throw Refused{};
        if (n.kind == PlanNode::Kind::Aggregate) return;
        for (const int child : n.children) groupLevel(child);
    }

    std::vector<Token> tokens_;
    const CsvTable& table_;
    sqlite3* db_;
    size_t pos_ = 0;
    ColumnPlan plan_;
    std::vector<Shape> shapes_;
    std::vector<std::pair<QString, int>> aliases_;
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

std::optional<ColumnPlan> planColumnQuery(const QString& statement, const QString& tableName, const CsvTable& table,
                                          sqlite3* db) {
    std::vector<Token> tokens;
    for (Token& t : tokenize(statement))
        if (t.kind != TokenKind::Space && t.kind != TokenKind::Comment) tokens.push_back(std::move(t));
    try {
        const bool numbered = std::any_of(tokens.begin(), tokens.end(),
                                          [](const Token& t) { return t.kind == TokenKind::Word && isKeyword(t, "row_number"); });
        Parser parser(std::move(tokens), table, db);
        ColumnPlan plan = numbered ? parser.parseTop(tableName) : parser.parse(tableName);
        if (plan.where >= 0 && hasAggregate(plan, plan.where)) return std::nullopt;
        return plan;
    } catch (const Refused&) {
        return std::nullopt;
    }
}

}  // namespace tarlo
