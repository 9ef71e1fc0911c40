// Types the statement's tree once: each node's kind from its children, the
// scopes' names and the function catalogue, and each rule decided on the
// nodes it reads. What a rule decides is recorded in the Binding, never
// written into text another rule would read again.
#include "dialect/binder.h"

#include "dialect/internal_names.h"
#include "dialect/placed_error.h"
#include "dialect/sql_quote.h"
#include "dialect/sql_writer.h"
#include "dialect/token_edit.h"
#include "platform/error.h"
#include "values/case_folding.h"
#include "values/dates.h"
#include "values/numbers.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace tarlo {

using namespace syntax;

namespace {

const QString kNoCase = QStringLiteral(" COLLATE ") + QLatin1String(kNoCaseCollation);
const QString kByMoment = QStringLiteral(" COLLATE ") + QLatin1String(kMomentCollation);
constexpr const char* kTakesSerial[] = {"CDBL", "CSNG", "CCUR", "CLNG", "CINT", "CBYTE", "INT", "FIX"};

bool isComparisonOperator(const Token& t) {
    if (t.kind != TokenKind::Symbol) return false;
    for (const char* op : {"=", "==", "<>", "!=", "<", ">", "<=", ">="})
        if (t.text == QLatin1String(op)) return true;
    return false;
}

// What an operand is, as far as the statement tells.
struct Operand {
    NodeId node = kNone;     // what stands there, brackets included: where wraps go
    NodeId inner = kNone;    // the same without its brackets: a literal is replaced there
    ValueKind kind = ValueKind::Unknown;
    bool column = false;     // a column alone
    QString table, name;     // the column's
    bool literal = false;    // a string, number or date literal alone
    bool prefix = false;     // a chain's operands before one of its operators, not a node
};

class Binder {
public:
    Binder(const SyntaxTree& tree, const Catalog& catalog, const std::map<int, QString>& tableAt)
        : t_(tree), catalog_(catalog), tableAt_(tableAt), operands_(tree.nodes.size()), known_(tree.nodes.size(), false) {}

    Binding run() {
        findScope();
        // The comparisons and operators first, then calls, CASE and the clauses:
        // where two rules wrap one node, the later wraps outside.
        for (size_t id = 0; id < t_.nodes.size(); ++id) bindOperator(NodeId(id));
        for (size_t id = 0; id < t_.nodes.size(); ++id) bindValue(NodeId(id));
        for (size_t id = 0; id < t_.nodes.size(); ++id) bindConditionsIn(NodeId(id));
        for (const Query& q : t_.queries) bindQuery(q);
        for (const WindowSpec& w : t_.windows) {
            for (const NodeId p : w.partition) bindSortKey(p);
            for (const OrderTerm& o : w.order) bindSortKey(o.expr);
        }
        if (t_.transform) truthAsValue(t_.transform->value);
        if (t_.transform && t_.transform->pivot != kNone) {
            // The pivot's values head the columns: a truth's are -1 and 0.
            truthAsValue(t_.transform->pivot);
            const Operand p = operand(t_.transform->pivot);
            out_.pivot = {p.kind, p.column, p.table, p.name};
            // PIVOT p IN (a, b): each column's rows are those where p Is its value.
            if (!t_.transform->list.empty()) {
                const Operand pivot = asMoment(p);
                for (const NodeId v : t_.transform->list)
                    if (node(v).kind != NodeKind::Null) bindSameness(pivot, asMoment(operand(v)));
            }
        }
        for (auto& [node, wraps] : wraps_) {
            std::stable_partition(wraps.begin(), wraps.end(), [](const Wrap& w) { return !w.outer; });
            for (const Wrap& w : wraps) out_.wraps[node].push_back(w.wrap);
        }
        return std::move(out_);
    }

private:
    const Node& node(NodeId id) const { return t_.node(id); }
    const Token& tok(int k) const { return t_.token(k); }
    bool word(int k, const char* keyword) const { return k >= 0 && isKeyword(tok(k), keyword); }

    // ---- what the binder puts in

    struct Wrap {
        Binding::Wrap wrap;
        bool outer;  // outside every other wrap of its node, whenever it was made
    };
    using Meaning = Binding::Meaning;

    // outer: a truth used as a value is -1 or 0 around whatever its
    // comparison became (tarlo_compare(a, b) < 0), though it is decided after.
    void wrap(const Operand& o, const Binding::Wrap& w, bool outer = false) {
        if (o.prefix) {
            Binding::Wrap& prefix = out_.prefixes[{o.node, size_t(o.inner)}];
            prefix.before = w.before + prefix.before;
            prefix.after += w.after;
            prefix.meaning = w.meaning;
            return;
        }
        wraps_[o.node].push_back({w, outer});
    }
    void wrapNode(NodeId id, const Binding::Wrap& w, bool outer = false) {
        Operand o;
        o.node = id;
        wrap(o, w, outer);
    }

    // ---- the tables in scope, for a name the scopes left out

    void findScope() {
        auto bring = [&](const FromItem& item) {
            if (item.kind != FromItem::Kind::Table) return;
            const auto registered = tableAt_.find(item.nameFrom);
            if (registered == tableAt_.end()) return;
            const int table = tableIndex(registered->second);
            if (table < 0) return;
            scope_.emplace_back(registered->second, table);
            scope_.emplace_back(unquotedText(tok(item.nameFrom)), table);
            if (item.alias >= 0) {
                scope_.emplace_back(unquotedText(tok(item.alias)), table);
                aliases_.insert(unquotedText(tok(item.alias)).toCaseFolded());
            }
        };
        for (const FromClause& f : t_.froms) {
            bring(f.first);
            for (const Join& j : f.joins) bring(j.item);
        }
        // The names select items are given ("AS total"): where one is written
        // alone it may stand for its item, whose kind the tables do not tell.
        for (const Query& q : t_.queries)
            for (const SelectCore& core : q.cores)
                for (const ResultItem& r : core.items)
                    if (r.alias >= 0) aliases_.insert(unquotedText(tok(r.alias)).toCaseFolded());
    }

    int tableIndex(const QString& name) const {
        for (size_t k = 0; k < catalog_.tables.size(); ++k)
            if (catalog_.tables[k].name.compare(name, Qt::CaseInsensitive) == 0) return int(k);
        return -1;
    }

    // A table's columns by their names ignoring case, made at the first
    // lookup: a wide table is not searched name by name for every operand.
    const QHash<QString, size_t>& columnsByName(size_t table) const {
        if (columnsByName_.size() <= table) columnsByName_.resize(catalog_.tables.size());
        QHash<QString, size_t>& names = columnsByName_[table];
        const auto& columns = catalog_.tables[table].columns;
        if (names.isEmpty() && !columns.empty())
            for (size_t c = 0; c < columns.size(); ++c) names.insert(columns[c].first.toCaseFolded(), c);  // the last wins
        return names;
    }

    // The column a name stands for: in the table or alias the qualifier
    // names, or in the one table of the statement that has it.
    bool findColumn(const QString& qualifier, const QString& name, Operand& out) const {
        if (qualifier.isEmpty() && aliases_.contains(name.toCaseFolded())) return false;
        std::optional<size_t> found;
        ValueKind kind = ValueKind::Unknown;
        for (const auto& [scopeName, table] : scope_) {
            if (!qualifier.isEmpty() && scopeName.compare(qualifier, Qt::CaseInsensitive) != 0) continue;
            const auto at = columnsByName(size_t(table)).find(name.toCaseFolded());
            if (at == columnsByName(size_t(table)).end()) continue;
            const auto& [column, columnKind] = catalog_.tables[size_t(table)].columns[at.value()];
            if (found && *found != size_t(table) && kind != columnKind) return false;  // ambiguous
            found = size_t(table);
            kind = columnKind;
            out.name = column;
        }
        if (!found) return false;
        out.kind = kind;
        out.column = true;
        out.table = catalog_.tables[*found].name;
        return true;
    }

    const ScopedName* scoped(int token) const {
        const auto r = catalog_.names.find(tok(token).span.offset);
        return r == catalog_.names.end() ? nullptr : &r->second;
    }

    // ---- kinds

    const Operand& operand(NodeId id) {
        if (!known_[size_t(id)]) {
            operands_[size_t(id)] = operandOf(id);
            known_[size_t(id)] = true;
        }
        return operands_[size_t(id)];
    }

    Operand operandOf(NodeId id) {
        const Node& n = node(id);
        Operand o;
        o.node = o.inner = id;
        switch (n.kind) {
        case NodeKind::Group: {
            Operand inside = operand(n.list[0]);
            inside.node = id;
            return inside;
        }
        case NodeKind::Number: o.kind = ValueKind::Number, o.literal = true; break;
        case NodeKind::Truth: o.kind = ValueKind::Number; break;
        case NodeKind::String: o.kind = ValueKind::Text, o.literal = true; break;
        case NodeKind::Date: o.kind = isTimeLiteral(tok(n.token)) ? ValueKind::Time : ValueKind::Date, o.literal = true; break;
        case NodeKind::Null: o.kind = ValueKind::Null; break;
        case NodeKind::Name: {
            if (const ScopedName* name = scoped(n.token)) {
                o.kind = name->kind;
                o.column = name->table >= 0;
                if (o.column) o.table = catalog_.tables[size_t(name->table)].name, o.name = name->column;
            } else {
                findColumn(n.qualifier >= 0 ? unquotedText(tok(n.qualifier)) : QString(), unquotedText(tok(n.token)), o);
            }
            break;
        }
        case NodeKind::Call: o.kind = callKind(n); break;
        case NodeKind::Unary:
            if (word(n.token, "NOT")) o.kind = ValueKind::Number;
            else if (!isSymbol(tok(n.token), "~") && operand(n.left).kind == ValueKind::Number) o.kind = ValueKind::Number;
            break;
        case NodeKind::Chain: o.kind = isComparison(n) ? ValueKind::Number : foldChain(id, false).kind; break;
        case NodeKind::Between:
        case NodeKind::In:
        case NodeKind::Like:
        case NodeKind::Is:
        case NodeKind::NullTest:
        case NodeKind::Exists: o.kind = ValueKind::Number; break;
        default: break;  // CASE, CAST, COLLATE, a row, a subquery's value: the run tells
        }
        return o;
    }

    bool isComparison(const Node& n) const { return n.kind == NodeKind::Chain && isComparisonOperator(tok(n.ops[0])); }

    // Whether a node gives a truth: a comparison or a logical operator.
    bool isTruth(NodeId id) const {
        const Node& n = node(id);
        switch (n.kind) {
        case NodeKind::Group: return isTruth(n.list[0]);
        case NodeKind::Unary: return word(n.token, "NOT");
        case NodeKind::Chain: return isComparison(n) || word(n.ops[0], "AND") || word(n.ops[0], "OR");
        case NodeKind::Between:
        case NodeKind::In:
        case NodeKind::Like:
        case NodeKind::Is:
        case NodeKind::NullTest:
        case NodeKind::Exists: return true;
        default: return false;
        }
    }

    // The catalogue's row of a call, by the name SQLite will be given.
    std::optional<FunctionFacts> factsOf(const Node& call) const {
        const QString& name = tok(call.token).text;
        const char* internal = call::calledAs(name);
        if (!catalog_.function) return std::nullopt;
        return catalog_.function(internal ? QString::fromLatin1(internal) : name);
    }

    bool isCalled(const Node& call, const char* name) const { return isKeyword(tok(call.token), name); }

    ValueKind callKind(const Node& n) {
        // IIf, Switch and Choose are written as CASE: their branches decide.
        if (isCalled(n, "IIF") || isCalled(n, "SWITCH") || isCalled(n, "CHOOSE")) return ValueKind::Unknown;
        const std::optional<FunctionFacts> facts = factsOf(n);
        if (!facts) return ValueKind::Unknown;
        auto argKind = [&](size_t a) { return a < n.list.size() ? operand(n.list[a]).kind : ValueKind::Unknown; };
        if (facts->textRule && n.list.size() > 1) {
            // Max(a, b, ...): one of its values, read as bindScalarExtreme reads them.
            std::vector<ValueKind> kinds;
            for (size_t a = 0; a < n.list.size(); ++a) kinds.push_back(argKind(a));
            auto any = [&](ValueKind k) { return std::find(kinds.begin(), kinds.end(), k) != kinds.end(); };
            if (any(ValueKind::Time)) return ValueKind::Time;
            if (any(ValueKind::Date)) return ValueKind::Date;
            if (any(ValueKind::Number)) return ValueKind::Number;
            return std::all_of(kinds.begin(), kinds.end(), [](ValueKind k) { return k == ValueKind::Text; }) ? ValueKind::Text
                                                                                                            : ValueKind::Unknown;
        }
        if (facts->rule == ResultRule::FirstArgument) return argKind(0);
        if (facts->rule == ResultRule::SharedByArguments) {
            const ValueKind a = argKind(0), b = argKind(1);
            return a == b ? a : ValueKind::Unknown;
        }
        return facts->result;
    }

    // a + b - c: the kind of what the writer's calls give, a run of one
    // operator a call with the operands so far as its first argument.
    static ValueKind sumKind(const char* function, const std::vector<Operand>& args) {
        // Numbers give a number, a date moved by numbers a date (written as a Time, as the date functions write it).
        bool numbers = true;
        for (size_t a = 1; a < args.size(); ++a) numbers = numbers && args[a].kind == ValueKind::Number;
        auto moment = [](ValueKind k) { return k == ValueKind::Date || k == ValueKind::Time; };
        const ValueKind first = args[0].kind;
        if (numbers && first == ValueKind::Number) return first;
        if (numbers && moment(first)) return ValueKind::Time;
        if (function == call::kSubtract && args.size() == 2 && moment(first) && moment(args[1].kind)) return ValueKind::Number;
        return ValueKind::Unknown;
    }

    // Reads a chain of one level as the writer writes it, operator by
    // operator: the kind of the whole and, when bind is set, the rules of
    // each operator on its operands.
    Operand foldChain(NodeId id, bool bind) {
        const Node& n = node(id);
        Operand acc = operand(n.list[0]);
        const char* run = nullptr;  // the call the operands go into
        std::vector<Operand> args;
        auto close = [&] {
            if (!run) return;
            if (bind) bindArithmetic(run, args);
            ValueKind kind = ValueKind::Unknown;
            if (run == call::kAdd || run == call::kSubtract) kind = sumKind(run, args);
            else if (const auto facts = catalog_.function ? catalog_.function(QString::fromLatin1(run)) : std::nullopt)
                kind = facts->result;
            acc = Operand{};
            acc.kind = kind;
            run = nullptr;
        };
        for (size_t i = 1; i < n.list.size(); ++i) {
            const Token& op = tok(n.ops[i - 1]);
            const char* function = call::operatorFunction(op);
            const Operand& right = operand(n.list[i]);
            if (function && function == run && int(args.size()) < call::kMaxRunArguments) {
                args.push_back(right);
                continue;
            }
            close();
            // The operands so far, as one: a node only while they are the first alone.
            if (i > 1) acc.node = id, acc.inner = NodeId(i), acc.prefix = true, acc.column = acc.literal = false;
            if (function) {
                run = function;
                args = {acc, right};
                continue;
            }
            if (isSymbol(op, "||")) {
                acc = Operand{};
                acc.kind = ValueKind::Text;
                continue;
            }
            // SQLite's own "%", "|", "<<" and ">>" take numbers only.
            const bool numbers = isSymbol(op, "%") || isSymbol(op, "|") || isSymbol(op, "<<") ||
                                 isSymbol(op, ">>");
            if (numbers && bind)
                for (const Operand* o : {static_cast<const Operand*>(&acc), &right})
                    if (readAsNumber(*o)) convertAtRunTime(*o, call::kNumberOf);
            acc = Operand{};
            acc.kind = ValueKind::Number;  // and the truth of And and Or
        }
        close();
        return acc;
    }

    // The operands of one of the writer's arithmetic calls: a text column
    // with a number is read as a number ("+" joins two texts, so it needs a
    // number beside it).
    void bindArithmetic(const char* function, const std::vector<Operand>& args) {
        // "*" takes numbers only: a text is read by our rules, a date refused naming its column.
        if (function == call::kMultiply) {
            for (const Operand& o : args)
                if (readAsNumber(o)) convertAtRunTime(o, call::kNumberOf);
            return;
        }
        if (function != call::kAdd && function != call::kSubtract && function != call::kDivide &&
            function != call::kIntDivide && function != call::kMod && function != call::kPower)
            return;
        const bool number = std::any_of(args.begin(), args.end(), [](const Operand& o) { return o.kind == ValueKind::Number; });
        for (const Operand& o : args)
            if (o.column && o.kind == ValueKind::Text && (function != call::kAdd || number)) convertAtRunTime(o, call::kNumberOf);
    }

    // Whether an operand of arithmetic needs reading as a number when it
    // runs: a text by our rules, where SQLite reads "1,234" as 1 and "abc"
    // as 0; a date is refused there, where SQLite reads it as its year.
    static bool readAsNumber(const Operand& o) {
        return o.kind == ValueKind::Text || o.kind == ValueKind::Unknown || o.kind == ValueKind::Date ||
               o.kind == ValueKind::Time;
    }

    // ---- conversions of one side to the other's kind

    static QString describe(const Operand& column) {
        return column.column ? QStringLiteral("列 \"%1\"").arg(column.name) : QStringLiteral("式");
    }

    void convertAtRunTime(const Operand& x, const char* function) {
        wrap(x, readWhenRun(function, {x.kind, x.column, x.table, x.name}));
    }

    // The literal's value as written, a "text" string's or a #date#'s too.
    QString literalText(const Operand& o) const { return unquotedText(tok(node(o.inner).token)); }

    void convertToNumber(const Operand& text, const Operand& number) {
        if (!text.literal) return convertAtRunTime(text, call::kNumberOf);
        const QString value = literalText(text);
        const std::optional<QString> read = numberLiteralOf(value);
        if (!read)
            throw PlacedError(node(text.inner).span,
                              Error(ErrorFacts{.columnName = number.name, .word = value},
                                    u"'%1' は数値ではないので、%2 (数値) と比べられません (数値は引用符を付けずに書いてください)。",
                                    value, describe(number)));
        out_.replaced[text.inner] = *read;
    }

    void convertToDate(const Operand& other, const Operand& date) {
        if (!other.literal) return convertAtRunTime(other, call::kDateOf);
        const Node& n = node(other.inner);
        const Token& t = tok(n.token);
        const std::optional<QString> literal = dateLiteralOf(unquotedText(t), n.kind == NodeKind::Number);
        if (!literal)
            throw PlacedError(t.span,
                              Error(ErrorFacts{.columnName = date.name, .word = t.text},
                                    u"%1 は日付ではないので、%2 (日付) と比べられません (日付は #2024/01/31# や '2024-01-31' と書きます)。",
                                    t.text, describe(date)));
        out_.replaced[other.inner] = *literal;
    }

    // A Time is compared as the Date read from it (value_kind.h): the
    // operand as it stands then.
    Operand asMoment(const Operand& o) {
        if (o.kind != ValueKind::Time) return o;
        convertAtRunTime(o, call::kDateOf);
        Operand read = o;
        read.kind = ValueKind::Date;
        read.column = read.literal = false;
        return read;
    }

    // Makes b comparable with a; true when done, false when only the run can tell.
    bool match(const Operand& a, const Operand& b) {
        const ValueKind x = a.kind, y = b.kind;
        if (x == ValueKind::Null || y == ValueKind::Null) return true;
        // Beside a date, a value only the run knows is read as a date: a date
        // text in any spelling, a number as serial days; anything else refused.
        if (x == ValueKind::Date && y == ValueKind::Unknown) return convertAtRunTime(b, call::kDateOf), true;
        if (y == ValueKind::Date && x == ValueKind::Unknown) return convertAtRunTime(a, call::kDateOf), true;
        if (x == ValueKind::Unknown || y == ValueKind::Unknown) return false;
        if (x == y) return true;
        if (x == ValueKind::Number && y == ValueKind::Text) convertToNumber(b, a);
        else if (x == ValueKind::Text && y == ValueKind::Number) convertToNumber(a, b);
        else if (x == ValueKind::Date) convertToDate(b, a);
        else if (y == ValueKind::Date) convertToDate(a, b);
        return true;
    }

    void ignoreCase(const Operand& o) { wrap(o, {QStringLiteral("("), QStringLiteral(")") + kNoCase, Meaning::NoCase}); }

    // x meets each value as "x = value" would (an IN list, a simple CASE): a
    // text among dates is read once as a date, among numbers as a number, as
    // a comparison reads it. True when x is read as a number or a date.
    bool matchEach(const Operand& x, const std::vector<Operand>& values) {
        Operand read = x;
        const auto date = std::find_if(values.begin(), values.end(), [](const Operand& o) { return o.kind == ValueKind::Date; });
        if (x.kind == ValueKind::Text && date != values.end()) {
            convertToDate(x, *date);
            read.kind = ValueKind::Date;
            read.column = read.literal = false;
        } else if (x.kind == ValueKind::Text &&
                   std::any_of(values.begin(), values.end(), [](const Operand& o) { return o.kind == ValueKind::Number; })) {
            convertAtRunTime(x, call::kNumberOf);
            read.kind = ValueKind::Number;
            read.column = false;
        }
        for (const Operand& value : values)
            if (value.kind != ValueKind::Unknown && read.kind != ValueKind::Unknown) match(read, value);
        return read.kind == ValueKind::Number || read.kind == ValueKind::Date;
    }

    // ---- operators

    void bindOperator(NodeId id) {
        const Node& n = node(id);
        switch (n.kind) {
        case NodeKind::Chain:
            if (isComparison(n)) bindComparison(id);
            else foldChain(id, true);
            break;
        case NodeKind::Between: bindBetween(id); break;
        case NodeKind::In: bindIn(n); break;
        case NodeKind::Is: bindIs(n); break;
        case NodeKind::Unary:
            // Unary minus and "~" are SQLite's, as loose as its "*"; a plus
            // makes a text a number, by our rules, as a minus does.
            if ((isSymbol(tok(n.token), "-") || isSymbol(tok(n.token), "~")) && readAsNumber(operand(n.left)) && !isTruth(n.left))
                convertAtRunTime(operand(n.left), call::kNumberOf);
            else if (isSymbol(tok(n.token), "+") && operand(n.left).kind == ValueKind::Text)
                convertAtRunTime(operand(n.left), call::kNumberOf);
            break;
        default: break;
        }
    }

    void bindComparison(NodeId id) {
        const Node& n = node(id);
        const Operand left = asMoment(operand(n.list[0])), right = asMoment(operand(n.list[1]));
        if (left.kind == ValueKind::Text && right.kind == ValueKind::Text) {
            // A column brings its own collation; anything else is given one.
            if (!left.column && !right.column) ignoreCase(right);
            return;
        }
        if (match(left, right)) return;
        // Kinds only the run knows: one call compares them by our rules.
        wrapNode(id, {QLatin1String(call::kCompare) + QLatin1Char('('), QStringLiteral(") %1 0").arg(tok(n.ops[0]).text),
                      Meaning::Compare});
        out_.tokens[n.ops[0]] = QStringLiteral(",");
    }

    // The significant token just before, and just after, a node.
    int tokenBefore(NodeId id) const { return int(previousSignificant(t_.tokens, size_t(firstToken(node(id).span)))); }
    int tokenAfter(NodeId id) const { return int(nextSignificant(t_.tokens, size_t(lastToken(node(id).span)) + 1)); }
    int firstToken(Span s) const { return tokenAt(s.offset); }
    int lastToken(Span s) const { return tokenAt(s.end() - 1); }
    int tokenAt(qsizetype offset) const {
        const auto after = std::upper_bound(t_.tokens.begin(), t_.tokens.end(), offset,
                                            [](qsizetype o, const Token& t) { return o < t.span.offset; });
        return int(after - t_.tokens.begin()) - 1;
    }

    void bindBetween(NodeId id) {
        const Node& n = node(id);
        Operand x = asMoment(operand(n.left));
        const Operand low = asMoment(operand(n.list[0])), high = asMoment(operand(n.list[1]));
        // A text between dates is read as a date, as "=" reads it.
        if (x.kind == ValueKind::Text && (low.kind == ValueKind::Date || high.kind == ValueKind::Date)) {
            convertToDate(x, low.kind == ValueKind::Date ? low : high);
            x.kind = ValueKind::Date;
            x.column = x.literal = false;
        }
        // Typed when each end has x's kind or a literal that can take it.
        auto fits = [&](const Operand& end) {
            if (end.kind == x.kind || end.kind == ValueKind::Null) return true;
            if (x.kind == ValueKind::Number) return end.kind == ValueKind::Text;
            if (x.kind == ValueKind::Date) return end.kind == ValueKind::Text || end.kind == ValueKind::Number;
            return false;
        };
        if (x.kind != ValueKind::Unknown && x.kind != ValueKind::Null && fits(low) && fits(high)) {
            match(x, low);
            match(x, high);
            // Either end may be the greater: constant ends are put in order here,
            // so lookups still serve the range; others are ordered when it runs.
            if (const auto order = constantOrder(x.kind, low, high)) {
                if (*order > 0) {
                    const QString a = *constantText(low), b = *constantText(high);
                    out_.replaced[low.node] = b;
                    out_.replaced[high.node] = a;
                }
                if (x.kind == ValueKind::Text && !x.column) ignoreCase(x);
                return;
            }
        }
        // Between of kinds only the run tells: one call compares both ends.
        const int betweenWord = tokenBefore(n.list[0]), andWord = tokenAfter(n.list[0]);
        wrapNode(id, {QLatin1String(n.negated ? "NOT " : "") + QLatin1String(call::kCompare) + QLatin1Char('('),
                      QStringLiteral(") = 0"), Meaning::Compare});
        if (n.negated) out_.tokens[int(previousSignificant(t_.tokens, size_t(betweenWord)))] = QString();
        out_.tokens[betweenWord] = QStringLiteral(",");
        out_.tokens[andWord] = QStringLiteral(",");
    }

    // A literal alone (a number with its sign), as the statement will be written.
    std::optional<QString> constantText(const Operand& o) const {
        if (o.node != o.inner) return std::nullopt;  // in brackets
        const Node& n = node(o.node);
        QString sign;
        const Node* literal = &n;
        if (n.kind == NodeKind::Unary && (isSymbol(tok(n.token), "-") || isSymbol(tok(n.token), "+"))) {
            literal = &node(n.left);
            if (literal->kind != NodeKind::Number) return std::nullopt;
            sign = tok(n.token).text;
        }
        if (literal->kind != NodeKind::Number && literal->kind != NodeKind::String && literal->kind != NodeKind::Date)
            return std::nullopt;
        const NodeId literalId = literal == &n ? o.node : n.left;
        if (const auto r = out_.replaced.find(literalId); r != out_.replaced.end()) return sign + r->second;
        const Token& t = tok(literal->token);
        if (literal->kind == NodeKind::Number) return sign + t.text;
        if (literal->kind == NodeKind::String) return quotedString(unquotedText(t));
        return writtenDateLiteral(t);
    }

    // How two constant ends of a Between of kind compare (-1, 0, 1), or
    // nothing when either is no constant (a null end makes it null, which
    // SQLite's Between does not always give: the run decides then).
    std::optional<int> constantOrder(ValueKind kind, const Operand& low, const Operand& high) const {
        const auto a = constantText(low), b = constantText(high);
        if (!a || !b) return std::nullopt;
        const bool quotedA = a->startsWith(QLatin1Char('\'')), quotedB = b->startsWith(QLatin1Char('\''));
        if (kind == ValueKind::Number && !quotedA && !quotedB) {
            const auto x = readNumberText(a->toStdString(), true), y = readNumberText(b->toStdString(), true);
            if (!x || !y) return std::nullopt;
            const double dx = x->integer ? double(x->whole) : x->real, dy = y->integer ? double(y->whole) : y->real;
            return dx < dy ? -1 : dx > dy ? 1 : 0;
        }
        // Dates are written alike by now (yyyy/mm/dd hh:nn:ss), and texts compare ignoring case.
        if ((kind == ValueKind::Date || kind == ValueKind::Text) && quotedA && quotedB) {
            const int c = compareIgnoringCase(unquotedText(tokenize(*a)[0]).toStdString(),
                                              unquotedText(tokenize(*b)[0]).toStdString());
            return c < 0 ? -1 : c > 0 ? 1 : 0;
        }
        return std::nullopt;
    }

    void bindIn(const Node& n) {
        const Operand x = asMoment(operand(n.left));
        if (n.query < 0) {
            std::vector<Operand> items;
            for (const NodeId v : n.list) items.push_back(asMoment(operand(v)));
            if (matchEach(x, items)) return;
        }
        if ((x.kind == ValueKind::Text || x.kind == ValueKind::Unknown) && !x.column) ignoreCase(x);
    }

    // "a IS b", as a crosstab's columns take their rows: equality that
    // holds for two nulls too.
    void bindIs(const Node& n) {
        if (n.distinct || node(n.right).kind == NodeKind::Null) return;
        bindSameness(asMoment(operand(n.left)), asMoment(operand(n.right)));
    }

    void bindSameness(const Operand& left, const Operand& right) {
        if (left.kind == ValueKind::Text && right.kind == ValueKind::Text) {
            if (!left.column && !right.column) ignoreCase(right);
            return;
        }
        if (left.kind != ValueKind::Unknown && right.kind != ValueKind::Unknown) match(left, right);
    }

    // ---- values: calls, CASE, truths used as values

    // SQLite's truths are 1 and 0; the old engine's True is -1. In a
    // bracket of its own, so a minus before it never makes "--", a comment.
    void truthAsValue(NodeId id) {
        if (id != kNone && isTruth(id)) wrapNode(id, {QStringLiteral("(-("), QStringLiteral("))"), Meaning::TruthValue}, true);
    }

    void bindValue(NodeId id) {
        const Node& n = node(id);
        switch (n.kind) {
        case NodeKind::Call: return bindCall(n);
        case NodeKind::Case: return bindCase(n);
        // An operand of a value's operator: arithmetic, a comparison (the writer
        // brackets a comparison compared again), Is, and what In, Between and Like test.
        case NodeKind::Chain:
            if (isComparison(n) || !(word(n.ops[0], "AND") || word(n.ops[0], "OR")))
                for (const NodeId c : n.list) truthAsValue(c);
            return;
        case NodeKind::Unary:
            if (!word(n.token, "NOT")) truthAsValue(n.left);
            return;
        case NodeKind::Is: truthAsValue(n.right); [[fallthrough]];
        case NodeKind::In:
        case NodeKind::Between:
        case NodeKind::Like: truthAsValue(n.left); return;
        default: return;
        }
    }

    void bindCall(const Node& n) {
        const Token& name = tok(n.token);
        // IIf, Switch and Choose become CASE: the values they give are values.
        if (isCalled(n, "IIF") || isCalled(n, "SWITCH")) {
            for (size_t a = 1; a < n.list.size(); a += 2) truthAsValue(n.list[a]);
            if (isCalled(n, "IIF") && n.list.size() == 3) truthAsValue(n.list[2]);
            return;
        }
        if (isCalled(n, "CHOOSE")) {
            // The index is read by our call, which checks a literal itself.
            if (!n.list.empty()) {
                truthAsValue(n.list[0]);
                const Operand& index = operand(n.list[0]);
                if (readAsNumber(index) && !index.literal && !isTruth(n.list[0])) convertAtRunTime(index, call::kNumberOf);
            }
            for (size_t a = 1; a < n.list.size(); ++a) truthAsValue(n.list[a]);
            return;
        }
        const std::optional<FunctionFacts> facts = factsOf(n);
        const size_t count = n.star ? 1 : n.list.size();
        if (const auto counted = facts ? facts->count : std::nullopt;
            counted && (int(count) < counted->least || int(count) > counted->most))
            throw PlacedError(name.span, Error(ErrorFacts{.word = name.text}, u"%1 の引数の数が違います。", name.text));
        const NumberArguments numbers = facts ? facts->numbers : NumberArguments::Any;
        // A conversion to a number and Int and Fix read a date as its serial day.
        const bool serial = n.list.size() == 1 && std::any_of(std::begin(kTakesSerial), std::end(kTakesSerial),
                                                              [&](const char* f) { return isCalled(n, f); });
        for (size_t a = 0; a < n.list.size(); ++a) {
            const NodeId argument = n.list[a];
            truthAsValue(argument);
            const Operand& arg = operand(argument);
            if (serial && (arg.kind == ValueKind::Date || arg.kind == ValueKind::Time)) {
                convertAtRunTime(arg, call::kSerialOf);
                continue;
            }
            const bool text = !arg.column && (arg.kind == ValueKind::Text || arg.kind == ValueKind::Unknown);
            const bool number = numbers != NumberArguments::Any && (facts->numberArgument < 0 || size_t(facts->numberArgument) == a);
            if (number && readAsNumber(arg) && !isTruth(argument) && !(arg.literal && numbers == NumberArguments::CheckedByIt))
                convertAtRunTime(arg, call::kNumberOf);
            else if (text && facts && facts->textRule && n.list.size() == 1) ignoreCase(arg);
            else if (arg.kind == ValueKind::Time && facts && facts->textRule && n.list.size() == 1)
                wrap(arg, {QStringLiteral("("), QStringLiteral(")") + kByMoment, Meaning::ByMoment});
            else if (text && a == 0 && n.distinct) ignoreCase(arg);  // Count(DISTINCT x): the values x = y finds alike
        }
        if (facts && facts->textRule && n.list.size() > 1) bindScalarExtreme(n);
        // NullIf is ours (equal as "=" finds them); its second value takes the first's kind.
        if (isCalled(n, "NULLIF") && n.list.size() == 2) {
            const Operand x = operand(n.list[0]), y = operand(n.list[1]);
            // A time is the same as a value that spells its moment ("10:00" beside 10:00:00).
            if (x.kind == ValueKind::Time) out_.tokens[n.token] = QLatin1String(call::kNullIfMoment);
            else if (x.kind != ValueKind::Text && x.kind != ValueKind::Unknown && y.kind != ValueKind::Unknown) match(x, y);
            else if (x.kind == ValueKind::Text && x.column && y.kind == ValueKind::Number)
                wrap(y, {QString(), QStringLiteral(", %1, %2").arg(quotedString(x.table), quotedString(x.name))});
        }
    }

    // Max(a, b, ...) and Min(a, b, ...), SQLite's scalar forms, compare as
    // "<" does. Beside a date or time every value is read as a date, and
    // SQLite's own call compares them by the moment collation, so each shows
    // as it was written; otherwise our call compares them (a text beside a
    // number read as one here, naming its column, or when it runs).
    void bindScalarExtreme(const Node& n) {
        std::vector<Operand> operands;
        for (const NodeId a : n.list) operands.push_back(operand(a));
        auto kindIs = [](std::initializer_list<ValueKind> kinds) {
            return [kinds](const Operand& o) { return std::find(kinds.begin(), kinds.end(), o.kind) != kinds.end(); };
        };
        if (const auto moment = std::find_if(operands.begin(), operands.end(), kindIs({ValueKind::Date, ValueKind::Time}));
            moment != operands.end()) {
            for (const Operand& o : operands)
                if (!kindIs({ValueKind::Date, ValueKind::Time, ValueKind::Null})(o)) convertToDate(o, *moment);
            wrap(operands[0], {QStringLiteral("("), QStringLiteral(")") + kByMoment, Meaning::ByMoment});
            return;
        }
        out_.tokens[n.token] = QLatin1String(isCalled(n, "MAX") ? call::kMaxOf : call::kMinOf);
        if (const auto number = std::find_if(operands.begin(), operands.end(), kindIs({ValueKind::Number}));
            number != operands.end())
            for (const Operand& o : operands)
                if (o.kind == ValueKind::Text) convertToNumber(o, *number);
    }

    // "CASE x WHEN a ...": x compares with each value as "x = a" would, a
    // text with numbers as a number, texts ignoring case. What a branch
    // gives is a value.
    void bindCase(const Node& n) {
        for (size_t k = 1; k < n.list.size(); k += 2) truthAsValue(n.list[k]);
        truthAsValue(n.right);
        if (n.left == kNone) return;
        std::vector<Operand> values;
        for (size_t k = 0; k < n.list.size(); k += 2) values.push_back(asMoment(operand(n.list[k])));
        const Operand x = asMoment(operand(n.left));
        if (matchEach(x, values)) return;
        if ((x.kind == ValueKind::Text || x.kind == ValueKind::Unknown) && !x.column) ignoreCase(x);
    }

    // ---- the clauses

    // The places a value stands as a condition: And, Or and Not's operands,
    // IIf's and Switch's tests, CASE's WHEN, FILTER's condition.
    void bindConditionsIn(NodeId id) {
        const Node& n = node(id);
        switch (n.kind) {
        case NodeKind::Unary:
            if (word(n.token, "NOT")) bindCondition(n.left);
            return;
        case NodeKind::Chain:
            if (word(n.ops[0], "AND") || word(n.ops[0], "OR"))
                for (const NodeId operand : n.list) bindCondition(operand);
            return;
        case NodeKind::Case:
            if (n.left == kNone)
                for (size_t w = 0; w < n.list.size(); w += 2) bindCondition(n.list[w]);
            return;
        case NodeKind::Call:
            if (isCalled(n, "IIF") && !n.list.empty()) bindCondition(n.list[0]);
            if (isCalled(n, "SWITCH"))
                for (size_t w = 0; w < n.list.size(); w += 2) bindCondition(n.list[w]);
            bindCondition(n.extra);
            return;
        default: return;
        }
    }

    // A value standing as a condition (WHERE code, IIf(code, ...)): a text
    // is read by our rules, True, False or a number, and any other refused
    // naming it, where SQLite would read "1,234" as 1 and "x" as 0.
    void bindCondition(NodeId id) {
        if (id == kNone) return;
        while (node(id).kind == NodeKind::Group && node(id).list.size() == 1) id = node(id).list[0];
        if (isTruth(id)) return;
        const Operand& o = operand(id);
        if (o.kind == ValueKind::Text || o.kind == ValueKind::Unknown) convertAtRunTime(o, call::kTruthOf);
    }

    void bindQuery(const Query& q) {
        for (const SelectCore& core : q.cores) {
            bindCondition(core.where);
            bindCondition(core.having);
            if (core.from >= 0) bindJoinConditions(t_.froms[size_t(core.from)]);
        }
        // UNION, INTERSECT and EXCEPT drop repeated rows as DISTINCT does.
        bool deduplicating = false;
        for (size_t c = 0; c < q.compounds.size(); ++c)
            deduplicating = deduplicating || !word(q.compounds[c], "UNION") || !q.compoundAll[c];
        for (const SelectCore& core : q.cores) {
            const bool distinct = deduplicating || (core.quantifier >= 0 && !word(core.quantifier, "ALL"));
            bindSelectList(core, distinct);
            for (const NodeId g : core.groupBy) bindSortKey(g);
        }
        for (const OrderTerm& o : q.order) bindSortKey(o.expr);
    }

    void bindJoinConditions(const FromClause& from) {
        for (const Join& j : from.joins) {
            bindCondition(j.on);
            if (j.item.group >= 0) bindJoinConditions(t_.froms[size_t(j.item.group)]);
        }
        if (from.first.group >= 0) bindJoinConditions(t_.froms[size_t(from.first.group)]);
    }

    void bindSelectList(const SelectCore& core, bool distinct) {
        for (size_t position = 0; position < core.items.size(); ++position) {
            const ResultItem& r = core.items[position];
            const Node& e = node(r.expr);
            truthAsValue(r.expr);
            const Operand& item = operand(r.expr);
            const bool plain = item.column || e.kind == NodeKind::Name || e.kind == NodeKind::Star;
            if (distinct && e.kind != NodeKind::Star && !item.column &&
                (item.kind == ValueKind::Text || item.kind == ValueKind::Unknown)) {
                ignoreCase(item);
                // The collation is no part of its name.
                if (r.alias < 0 && e.kind == NodeKind::Name) out_.names[r.expr] = quotedName(unquotedText(tok(e.token)));
            }
            // A computed field without a name is Expr1000, Expr1001, ... by its place, as the old
            // engine named it; columns (t.col, col, *, t.*) keep theirs.
            if (r.alias < 0 && !plain) out_.names[r.expr] = QStringLiteral("Expr%1").arg(1000 + position);
            out_.sortKeys[r.expr] = sortWrap(item);
        }
    }

    // A sort key that is an expression: a text ignoring case, a time by its moment.
    static Binding::Wrap sortWrap(const Operand& key) {
        if (key.kind == ValueKind::Time) return {QStringLiteral("("), QStringLiteral(")") + kByMoment, Meaning::ByMoment};
        if (!key.column && (key.kind == ValueKind::Text || key.kind == ValueKind::Unknown))
            return {QStringLiteral("("), QStringLiteral(")") + kNoCase, Meaning::NoCase};
        return {};
    }

    // ORDER BY, GROUP BY and PARTITION BY keys.
    void bindSortKey(NodeId id) {
        const Node& e = node(id);
        if (e.kind == NodeKind::Collate) return;  // as written
        if (e.kind == NodeKind::Number) {
            // "ORDER BY 1": the item, ignoring case if it is a text, by the moment if it is a time.
            const ScopedName* item = scoped(e.token);
            const bool moment = item && item->kind == ValueKind::Time;
            wrapNode(id, {QString(), moment ? kByMoment : kNoCase, moment ? Meaning::ByMoment : Meaning::NoCase});
            return;
        }
        // A name alone is a file's column, with its collation, unless the scopes
        // found it to be a subquery's field; or an item's name, which gets one.
        const Operand& key = operand(id);
        if (key.kind != ValueKind::Time && e.kind == NodeKind::Name && e.qualifier < 0) {
            const ScopedName* name = scoped(e.token);
            const bool field = name && name->table < 0;
            if (!field && !aliases_.contains(unquotedText(tok(e.token)).toCaseFolded())) return;
        }
        const Binding::Wrap w = sortWrap(key);
        if (!w.before.isEmpty()) wrap(key, w);
    }

    const SyntaxTree& t_;
    const Catalog& catalog_;
    const std::map<int, QString>& tableAt_;
    std::vector<Operand> operands_;  // each node's, once asked
    std::vector<bool> known_;
    std::vector<std::pair<QString, int>> scope_;  // a table's name or alias, and the table
    QSet<QString> aliases_;                       // names given with AS, case folded
    mutable std::vector<QHash<QString, size_t>> columnsByName_;
    std::unordered_map<NodeId, std::vector<Wrap>> wraps_;
    Binding out_;
};

}  // namespace

std::optional<QString> numberLiteralOf(const QString& text) {
    const auto reading = readNumberText(text.toStdString(), true);
    if (!reading) return std::nullopt;
    return reading->integer ? QString::number(reading->whole) : QString::number(reading->real, 'g', 17);
}

std::optional<QString> dateLiteralOf(const QString& text, bool serial) {
    std::optional<int64_t> packed;
    if (serial) {
        packed = packedOfSerial(text.toDouble());
    } else {
        const std::string written = text.trimmed().toStdString();
        if (const auto d = readDateText(written)) packed = d->packed;
        else packed = parseJetDate(written);
    }
    if (!packed) return std::nullopt;
    return quotedString(QString::fromStdString(formatDateTime(*packed, true)));
}

Binding::Wrap readWhenRun(const char* function, const Binding::Operand& value) {
    const QString names = value.column ? QStringLiteral(", %1, %2").arg(quotedString(value.table), quotedString(value.name))
                                       : QStringLiteral(", '', ''");
    const Binding::Meaning meaning = function == call::kDateOf     ? Binding::Meaning::DateOf
                                     : function == call::kNumberOf ? Binding::Meaning::NumberOf
                                                                   : Binding::Meaning::Other;
    return {QLatin1String(function) + QLatin1Char('('), names + QLatin1Char(')'), meaning};
}

Binding bindTree(const SyntaxTree& tree, const Catalog& catalog, const std::map<int, QString>& tableAt) {
    return Binder(tree, catalog, tableAt).run();
}

}  // namespace tarlo
