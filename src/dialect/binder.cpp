// Reads the statement's tokens once, decides every rewrite on them, and
// writes them as text put before or after tokens, so no decision sees the
// result of another.
#include "dialect/binder.h"

#include "dialect/internal_names.h"
#include "dialect/operators.h"
#include "dialect/placed_error.h"
#include "dialect/sql_quote.h"
#include "dialect/token_edit.h"
#include "platform/error.h"
#include "values/case_folding.h"
#include "values/dates.h"
#include "values/numbers.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <map>
#include <optional>

namespace tarlo {

namespace {

const QString kNoCase = QStringLiteral(" COLLATE ") + QLatin1String(kNoCaseCollation);
const QString kByMoment = QStringLiteral(" COLLATE ") + QLatin1String(kMomentCollation);

bool isName(const Token& t) {
    switch (t.kind) {
    case TokenKind::Bracketed:
    case TokenKind::DoubleQuoted:
    case TokenKind::Backticked: return true;
    case TokenKind::Word: return !isReservedWord(t) && !isKeyword(t, "NULL");
    default: return false;
    }
}

bool isComparison(const Token& t) {
    for (const char* op : {"=", "==", "<>", "!=", "<", ">", "<=", ">="})
        if (isSymbol(t, op)) return true;
    return false;
}

bool isTruthOperator(const Token& t) {
    if (isComparison(t)) return true;
    for (const char* w : {"AND", "OR", "NOT", "LIKE", "GLOB", "IN", "BETWEEN", "IS", "EXISTS"})
        if (isKeyword(t, w)) return true;
    return false;
}

bool isArithmetic(const Token& t) {
    for (const char* op : {"+", "-", "*", "/", "%", "||"})
        if (isSymbol(t, op)) return true;
    return false;
}

// What an operand is, as far as the statement tells.
struct Operand {
    size_t first = 0, last = 0;  // its tokens, both included
    ValueKind kind = ValueKind::Unknown;
    bool column = false;         // a column alone
    QString table, name;         // the column's
    bool literal = false;        // a string or number literal alone
};

class Binder {
public:
    Binder(const MappedText& sql, const Catalog& catalog) : t_(tokenize(sql)), brackets_(t_), catalog_(catalog) {}

    MappedText run() {
        findNesting();
        findScope();
        findAliases();
        for (size_t i = t_.size(); i-- > 0;) {
            const Token& t = t_[i];
            if (isComparison(t)) bindComparison(i);
            else if (isKeyword(t, "BETWEEN")) bindBetween(i);
            else if (isKeyword(t, "IN")) bindIn(i);
            else if (isKeyword(t, "IS")) bindIs(i);
            else if (isSymbol(t, "*") || isSymbol(t, "%")) bindNumbers(i, kProductLevel);
            else if (isSymbol(t, "|") || isSymbol(t, "<<") || isSymbol(t, ">>")) bindNumbers(i, kJoinLevel);
            else if ((isSymbol(t, "-") || isSymbol(t, "~")) && isUnaryOperator(t_, i)) bindNegation(i);
        }
        for (size_t i = 0; i < t_.size(); ++i) {
            if (isKeyword(t_[i], "SELECT")) bindSelectList(i);
            else if ((isKeyword(t_[i], "ORDER") || isKeyword(t_[i], "GROUP") || isKeyword(t_[i], "PARTITION")) &&
                     atWord(nextOrEnd(i + 1), "BY"))
                bindSortKeys(nextOrEnd(i + 1));
            else if (isKeyword(t_[i], "CASE")) bindSimpleCase(i);
            else if (isKeyword(t_[i], "THEN") || isKeyword(t_[i], "ELSE")) bindCaseValue(i);
            else if (isSymbol(t_[i], "(")) bindGroup(i);
        }
        return render();
    }

private:
    // ---- tokens

    size_t nextOrEnd(size_t i) const { return nextSignificant(t_, i); }
    size_t previous(size_t i) const { return previousSignificant(t_, i); }
    bool at(size_t i, const char* symbol) const { return i < t_.size() && isSymbol(t_[i], symbol); }
    bool atWord(size_t i, const char* keyword) const { return i < t_.size() && isKeyword(t_[i], keyword); }

    // ---- edits: text before and after tokens, and replaced tokens

    struct Insert {
        QString text;
        size_t otherEnd;  // the far end of the range it opens or closes, to nest them
        size_t order;     // when it was made: of two wraps of one range, the later is inside
        bool outer;       // outside every other wrap of its range, whenever it was made
    };

    // outer: a truth used as a value is -1 or 0 around whatever its
    // comparison became (tarlo_compare(a, b) < 0), though it is decided after.
    void wrap(size_t first, size_t last, const QString& before, const QString& after, bool outer = false) {
        before_[first].push_back({before, last, inserts_, outer});
        after_[last].push_back({after, first, inserts_++, outer});
    }
    void replace(size_t i, const QString& text) { replaced_[i] = text; }

    // Each insert stands for the token it is put beside.
    MappedText render() const {
        MappedText out;
        for (size_t i = 0; i < t_.size(); ++i) {
            if (auto b = before_.find(i); b != before_.end()) {
                std::vector<Insert> inserts = b->second;
                // The widest range opens first.
                std::sort(inserts.begin(), inserts.end(), [](const Insert& x, const Insert& y) {
                    if (x.otherEnd != y.otherEnd) return x.otherEnd > y.otherEnd;
                    return x.outer != y.outer ? x.outer : x.order < y.order;
                });
                for (const Insert& in : inserts) out.append(in.text, t_[i].span);
            }
            const auto r = replaced_.find(i);
            out.append(r != replaced_.end() ? r->second : t_[i].text, t_[i].span);
            if (auto a = after_.find(i); a != after_.end()) {
                std::vector<Insert> inserts = a->second;
                // The narrowest range closes first.
                std::sort(inserts.begin(), inserts.end(), [](const Insert& x, const Insert& y) {
                    if (x.otherEnd != y.otherEnd) return x.otherEnd > y.otherEnd;
                    return x.outer != y.outer ? y.outer : x.order > y.order;
                });
                for (const Insert& in : inserts) out.append(in.text, t_[i].span);
            }
            if (auto n = named_.find(i); n != named_.end()) out.append(QStringLiteral(" AS ") + quotedName(n->second), t_[i].span);
        }
        return out;
    }

    // ---- the tables in scope

    // For every token, the "(" it stands in and whether it follows a FROM at
    // its own depth (a FROM list's comma): one pass over the statement, where
    // looking back from each token made a list of n items take n² steps.
    void findNesting() {
        enclosing_.assign(t_.size(), t_.size());
        inFromList_.assign(t_.size(), false);
        std::vector<std::pair<size_t, bool>> open{{t_.size(), false}};  // an opener, and a FROM seen since it
        for (size_t k = 0; k < t_.size(); ++k) {
            enclosing_[k] = open.back().first;
            inFromList_[k] = open.back().second;
            if (isSymbol(t_[k], "(")) open.emplace_back(k, false);
            else if (isSymbol(t_[k], ")") && open.size() > 1) open.pop_back();
            else if (isSymbol(t_[k], ")")) open.back().second = false;  // unopened: nothing before it counts
            else if (isKeyword(t_[k], "FROM")) open.back().second = true;
            else if (isKeyword(t_[k], "SELECT") || isKeyword(t_[k], "WHERE")) open.back().second = false;
        }
    }

    // Whether a table may follow the token at k: FROM, JOIN or a FROM list's comma.
    bool followsTableWord(size_t k) const {
        return atWord(k, "FROM") || atWord(k, "JOIN") || (at(k, ",") && inFromList_[k]);
    }

    // A "(" that groups joins where a table may stand, as the old engine
    // made every query of three tables write them: "FROM (a JOIN b ON ...)
    // JOIN c ON ...", and "a JOIN (b JOIN c ON ...) ON ...". Its tables are
    // in scope as the plain form's are.
    bool opensJoinGroup(size_t k) const {
        for (size_t open = k; at(open, "("); open = previous(open)) {
            const size_t inside = nextOrEnd(open + 1);
            if (atWord(inside, "SELECT") || atWord(inside, "WITH") || atWord(inside, "VALUES")) return false;
            const size_t before = previous(open);
            if (before >= t_.size()) return false;
            if (followsTableWord(before)) return true;
        }
        return false;
    }

    void findScope() {
        for (size_t i = 0; i < t_.size(); ++i) {
            if (!isName(t_[i]) && t_[i].kind != TokenKind::Word) continue;
            const size_t before = previous(i);
            if (before >= t_.size() || !(followsTableWord(before) || opensJoinGroup(before))) continue;
            const int table = tableIndex(unquotedText(t_[i]));
            if (table < 0) continue;
            scope_.emplace_back(unquotedText(t_[i]), table);
            size_t alias = nextOrEnd(i + 1);
            if (atWord(alias, "AS")) alias = nextOrEnd(alias + 1);
            if (alias < t_.size() && isName(t_[alias]) && !atWord(alias, "ON") && !atWord(alias, "USING"))
                scope_.emplace_back(unquotedText(t_[alias]), table);
        }
    }

    // The names select items are given ("AS total"): where one is written
    // alone it may stand for its item, whose kind the tables do not tell.
    void findAliases() {
        for (size_t i = 0; i < t_.size(); ++i) {
            if (!isKeyword(t_[i], "AS")) continue;
            const size_t name = nextOrEnd(i + 1);
            if (name >= t_.size() || !isName(t_[name])) continue;
            // CAST(x AS INTEGER) names a type.
            const size_t k = enclosing_[i];
            if (k < t_.size() && atWord(previous(k), "CAST")) continue;
            aliases_.insert(unquotedText(t_[name]).toCaseFolded());
        }
    }

    bool isAlias(const QString& name) const { return aliases_.contains(name.toCaseFolded()); }

    // A table's columns by their names ignoring case, made at the first
    // lookup: a wide table is not searched name by name for every operand.
    const QHash<QString, size_t>& columnsByName(size_t table) const {
        if (columnsByName_.size() <= table) columnsByName_.resize(catalog_.tables.size());
        QHash<QString, size_t>& names = columnsByName_[table];
        const auto& columns = catalog_.tables[table].columns;
        if (names.isEmpty() && !columns.empty())
            for (size_t c = 0; c < columns.size(); ++c) names.insert(columns[c].first.toCaseFolded(), c);  // the last wins, as before
        return names;
    }

    int tableIndex(const QString& name) const {
        for (size_t k = 0; k < catalog_.tables.size(); ++k)
            if (catalog_.tables[k].name.compare(name, Qt::CaseInsensitive) == 0) return int(k);
        return -1;
    }

    // A string literal's kind: a date where the user wrote #date#.
    ValueKind literalKind(size_t k) const {
        const auto r = catalog_.names.find(t_[k].span.offset);
        return r != catalog_.names.end() && r->second.kind == ValueKind::Date ? ValueKind::Date : ValueKind::Text;
    }

    // The field the name token at k stands for, as the statement's scopes
    // resolved it: a file's column, or a subquery's field of its own kind.
    bool scoped(size_t k, Operand& out) const {
        const auto r = catalog_.names.find(t_[k].span.offset);
        if (r == catalog_.names.end() || t_[k].span.length != t_[k].text.size()) return false;
        const ScopedName& name = r->second;
        out.kind = name.kind;
        out.column = name.table >= 0;
        if (out.column) out.table = catalog_.tables[size_t(name.table)].name, out.name = name.column;
        return true;
    }

    // The column a name stands for: in the table or alias qualifier names,
    // or in the one table of the statement that has it.
    bool findColumn(const QString& qualifier, const QString& name, Operand& out) const {
        if (qualifier.isEmpty() && isAlias(name)) return false;
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

    // ---- kinds

    Operand operand(size_t first, size_t last) const {
        Operand o;
        o.first = first;
        o.last = last;
        if (first >= t_.size() || last >= t_.size() || first > last) return o;
        // Brackets around the whole change nothing.
        while (at(first, "(") && brackets_.closeOf(first) == last && first < last) {
            first = nextOrEnd(first + 1);
            last = previous(last);
            if (first > last || last >= t_.size()) return o;
        }
        const Token& t = t_[first];
        if (isKeyword(t, "SELECT") || isKeyword(t, "WITH")) return o;  // a subquery's value
        if (first == last) {
            if (t.kind == TokenKind::Word && t.text == QLatin1String(call::kRank)) o.kind = ValueKind::Number;
            else if (t.kind == TokenKind::Number) o.kind = ValueKind::Number, o.literal = true;
            else if (t.kind == TokenKind::String) o.kind = literalKind(first), o.literal = true;
            else if (isKeyword(t, "NULL")) o.kind = ValueKind::Null;
            else if (isName(t) && !scoped(first, o)) findColumn({}, unquotedText(t), o);
            return o;
        }
        const size_t second = nextOrEnd(first + 1);
        if (at(second, ".") && nextOrEnd(second + 1) == last && isName(t) && isName(t_[last])) {
            if (!scoped(last, o)) findColumn(unquotedText(t), unquotedText(t_[last]), o);
            return o;
        }
        if (t.kind == TokenKind::Word && at(second, "(")) {
            const size_t close = brackets_.closeOf(second);
            if (close == last || (close < last && endOfWindowSuffix(close) == last)) {
                o.kind = callKind(t.text, second, close);
                return o;
            }
        }
        if (isSymbol(t, "-") || isSymbol(t, "+")) {
            if (operand(second, last).kind == ValueKind::Number) o.kind = ValueKind::Number;
            return o;
        }
        if (isKeyword(t, "CAST")) return o;
        // An operator at the top decides.
        ValueKind kind = ValueKind::Unknown;
        for (size_t k = first; k <= last && k < t_.size(); ++k) {
            if (isSymbol(t_[k], "(") || isKeyword(t_[k], "CASE")) {
                k = brackets_.closeOf(k);
                continue;
            }
            if (isTruthOperator(t_[k])) return o.kind = ValueKind::Number, o;
            if (isSymbol(t_[k], "||")) kind = ValueKind::Text;
            else if (kind == ValueKind::Unknown && (isSymbol(t_[k], "*") || isSymbol(t_[k], "%")))
                kind = ValueKind::Number;
        }
        o.kind = kind;
        return o;
    }

    // The last token of a call's FILTER (...) and OVER (...) or OVER name
    // after its ")" at close.
    size_t endOfWindowSuffix(size_t close) const {
        for (;;) {
            const size_t word = nextOrEnd(close + 1);
            if (!atWord(word, "FILTER") && !atWord(word, "OVER")) return close;
            const size_t what = nextOrEnd(word + 1);
            if (what >= t_.size()) return close;
            if (!at(what, "(")) return what;
            close = brackets_.closeOf(what);
            if (close >= t_.size()) return t_.size();
        }
    }

    // The arguments of the call whose brackets stand at open and close.
    std::vector<std::pair<size_t, size_t>> argumentsOf(size_t open, size_t close) const {
        std::vector<std::pair<size_t, size_t>> args;
        size_t start = nextOrEnd(open + 1);
        if (start >= close) return args;
        for (size_t k = start; k < close; ++k) {
            if (isSymbol(t_[k], "(") || isKeyword(t_[k], "CASE")) {
                k = brackets_.closeOf(k);
                if (k >= close) break;
            } else if (isSymbol(t_[k], ",")) {
                args.emplace_back(start, previous(k));
                start = nextOrEnd(k + 1);
            }
        }
        args.emplace_back(start, previous(close));
        return args;
    }

    ValueKind callKind(const QString& name, size_t open, size_t close) const {
        const auto args = argumentsOf(open, close);
        auto argKind = [&](size_t n) {
            if (n >= args.size()) return ValueKind::Unknown;
            size_t first = args[n].first;
            if (atWord(first, "DISTINCT")) first = nextOrEnd(first + 1);
            return operand(first, args[n].second).kind;
        };
        auto is = [&](const char* w) { return name.compare(QLatin1StringView(w), Qt::CaseInsensitive) == 0; };
        const std::optional<FunctionFacts> facts = factsOf(name);
        if (facts && facts->textRule && args.size() > 1) {
            // Max(a, b, ...): one of its values, read as bindScalarExtreme reads them.
            std::vector<ValueKind> kinds;
            for (size_t n = 0; n < args.size(); ++n) kinds.push_back(argKind(n));
            auto any = [&](ValueKind k) { return std::find(kinds.begin(), kinds.end(), k) != kinds.end(); };
            if (any(ValueKind::Time)) return ValueKind::Time;
            if (any(ValueKind::Date)) return ValueKind::Date;
            if (any(ValueKind::Number)) return ValueKind::Number;
            return std::all_of(kinds.begin(), kinds.end(), [](ValueKind k) { return k == ValueKind::Text; }) ? ValueKind::Text
                                                                                                            : ValueKind::Unknown;
        }
        if (facts && facts->rule == ResultRule::FirstArgument) return argKind(0);
        if (facts && facts->rule == ResultRule::SharedByArguments) {
            const ValueKind a = argKind(0), b = argKind(1);
            return a == b ? a : ValueKind::Unknown;
        }
        if (is(call::kAdd) || is(call::kSubtract)) {
            // a + b + c: numbers give a number, a date moved by numbers a date.
            bool numbers = true;
            for (size_t n = 1; n < args.size(); ++n) numbers = numbers && argKind(n) == ValueKind::Number;
            // A moved date is written as the date functions write it: a Time.
            auto moment = [](ValueKind k) { return k == ValueKind::Date || k == ValueKind::Time; };
            const ValueKind first = argKind(0);
            if (numbers && first == ValueKind::Number) return first;
            if (numbers && moment(first)) return ValueKind::Time;
            if (is(call::kSubtract) && args.size() == 2 && moment(first) && moment(argKind(1))) return ValueKind::Number;
            return ValueKind::Unknown;
        }
        return facts ? facts->result : ValueKind::Unknown;
    }

    std::optional<FunctionFacts> factsOf(const QString& name) const {
        return catalog_.function ? catalog_.function(name) : std::nullopt;
    }

    // ---- conversions of one side to the other's kind

    static QString describe(const Operand& column) {
        return column.column ? QStringLiteral("列 \"%1\"").arg(column.name) : QStringLiteral("式");
    }

    // The call that reads x as a number (or date) when it runs, naming
    // its column in the message of a value it cannot read.
    void convertAtRunTime(const Operand& x, const char* function) {
        const QString names = x.column ? QStringLiteral(", %1, %2").arg(quotedString(x.table), quotedString(x.name))
                                       : QStringLiteral(", '', ''");
        wrap(x.first, x.last, QLatin1String(function) + QLatin1Char('('), names + QLatin1Char(')'));
    }

    void convertToNumber(const Operand& text, const Operand& number) {
        if (!text.literal) return convertAtRunTime(text, call::kNumberOf);
        const QString value = unquotedText(t_[text.first]);
        const auto reading = readNumberText(value.toStdString(), true);
        if (!reading)
            throw PlacedError(t_[text.first].span,
                              Error(ErrorFacts{.columnName = number.name, .word = value},
                                    u"'%1' は数値ではないので、%2 (数値) と比べられません (数値は引用符を付けずに書いてください)。",
                                    value, describe(number)));
        replace(text.first, reading->integer ? QString::number(reading->whole) : QString::number(reading->real, 'g', 17));
    }

    void convertToDate(const Operand& other, const Operand& date) {
        if (!other.literal) return convertAtRunTime(other, call::kDateOf);
        const Token& t = t_[other.first];
        std::optional<int64_t> packed;
        if (t.kind == TokenKind::Number) {
            packed = packedOfSerial(t.text.toDouble());
        } else {
            const std::string text = unquotedText(t).trimmed().toStdString();
            if (const auto d = readDateText(text)) packed = d->packed;
            else packed = parseJetDate(text);
        }
        if (!packed)
            throw PlacedError(t.span,
                              Error(ErrorFacts{.columnName = date.name, .word = t.text},
                                    u"%1 は日付ではないので、%2 (日付) と比べられません (日付は #2024/01/31# や '2024-01-31' と書きます)。",
                                    t.text, describe(date)));
        replace(other.first, quotedString(QString::fromStdString(formatDateTime(*packed, true))));
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

    void ignoreCase(const Operand& o) {
        wrap(o.first, o.last, QStringLiteral("("), QStringLiteral(")") + kNoCase);
    }

    // ---- operators

    // An operator's operands, or t_.size() where the walk finds none (a
    // window frame's BETWEEN, a statement SQLite will refuse): such a
    // token is left as written.
    size_t leftStart(size_t op, int level) const {
        try {
            return leftOperandStart(t_, op, level);
        } catch (const Error&) {
            return t_.size();
        }
    }
    size_t rightEnd(size_t op, int level) const {
        try {
            return rightOperandEnd(t_, op, level);
        } catch (const Error&) {
            return t_.size();
        }
    }

    void bindComparison(size_t op) {
        const size_t start = leftStart(op, kComparisonLevel), end = rightEnd(op, kComparisonLevel);
        if (start >= t_.size() || end >= t_.size()) return;
        const Operand left = asMoment(operand(start, previous(op))), right = asMoment(operand(nextOrEnd(op + 1), end));
        if (left.kind == ValueKind::Text && right.kind == ValueKind::Text) {
            // A column brings its own collation; anything else is given one.
            if (!left.column && !right.column) ignoreCase(right);
            return;
        }
        if (match(left, right)) return;
        wrap(start, end, QLatin1String(call::kCompare) + QLatin1Char('('), QStringLiteral(") %1 0").arg(t_[op].text));
        replace(op, QStringLiteral(","));
    }

    void bindBetween(size_t op) {
        const size_t beforeOp = previous(op);
        const size_t notAt = atWord(beforeOp, "NOT") ? beforeOp : t_.size();
        const size_t start = leftStart(notAt < t_.size() ? notAt : op, kComparisonLevel);
        const size_t andAt = findAtTop(t_, op + 1, t_.size(), "AND");
        if (start >= t_.size() || andAt >= t_.size()) return;
        const size_t end = rightEnd(andAt, kComparisonLevel);
        if (end >= t_.size()) return;
        Operand x = asMoment(operand(start, previous(notAt < t_.size() ? notAt : op)));
        const Operand low = asMoment(operand(nextOrEnd(op + 1), previous(andAt)));
        const Operand high = asMoment(operand(nextOrEnd(andAt + 1), end));
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
                if (*order > 0) swapRanges(low, high);
                if (x.kind == ValueKind::Text && !x.column) ignoreCase(x);
                return;
            }
        }
        // Between of kinds only the run tells: one call compares both ends.
        wrap(start, end, QLatin1String(notAt < t_.size() ? "NOT " : "") + QLatin1String(call::kCompare) + QLatin1Char('('),
             QStringLiteral(") = 0"));
        if (notAt < t_.size()) replace(notAt, QString());
        replace(op, QStringLiteral(","));
        replace(andAt, QStringLiteral(","));
    }

    // A literal alone, with its sign, as the statement will be written.
    std::optional<QString> constantText(const Operand& o) const {
        size_t k = o.first;
        QString sign;
        if (o.first < o.last && (at(k, "-") || at(k, "+"))) {
            sign = t_[k].text;
            k = nextOrEnd(k + 1);
        }
        if (k != o.last || k >= t_.size()) return std::nullopt;
        const auto r = replaced_.find(k);
        const QString text = r != replaced_.end() ? r->second : t_[k].text;
        const auto written = tokenize(text);
        if (written.size() != 1 || (written[0].kind != TokenKind::Number && written[0].kind != TokenKind::String))
            return std::nullopt;
        if (!sign.isEmpty() && written[0].kind != TokenKind::Number) return std::nullopt;
        return sign + text;
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

    // Writes each of two constant ranges where the other stands.
    void swapRanges(const Operand& a, const Operand& b) {
        const QString textA = *constantText(a), textB = *constantText(b);
        for (size_t k = a.first; k <= a.last; ++k) replace(k, k == a.first ? textB : QString());
        for (size_t k = b.first; k <= b.last; ++k) replace(k, k == b.first ? textA : QString());
    }

    void bindIn(size_t op) {
        const size_t beforeOp = previous(op);
        const size_t notAt = atWord(beforeOp, "NOT") ? beforeOp : t_.size();
        const size_t start = leftStart(notAt < t_.size() ? notAt : op, kComparisonLevel);
        if (start >= t_.size()) return;
        const Operand x = asMoment(operand(start, previous(notAt < t_.size() ? notAt : op)));
        const size_t open = nextOrEnd(op + 1);
        if (!at(open, "(")) return;
        const size_t close = brackets_.closeOf(open);
        if (close >= t_.size()) return;
        const size_t first = nextOrEnd(open + 1);
        if (!atWord(first, "SELECT") && !atWord(first, "WITH")) {
            std::vector<Operand> items;
            for (const auto& [from, to] : argumentsOf(open, close)) items.push_back(asMoment(operand(from, to)));
            if (matchEach(x, items)) return;
        }
        if ((x.kind == ValueKind::Text || x.kind == ValueKind::Unknown) && !x.column) ignoreCase(x);
    }

    // "a IS b", as a crosstab's columns take their rows: equality that
    // holds for two nulls too.
    void bindIs(size_t op) {
        size_t first = nextOrEnd(op + 1);
        if (atWord(first, "NOT")) first = nextOrEnd(first + 1);
        if (atWord(first, "NULL") || atWord(first, "DISTINCT")) return;
        const size_t start = leftStart(op, kComparisonLevel), end = rightEnd(op, kComparisonLevel);
        if (start >= t_.size() || end >= t_.size() || first > end) return;
        const Operand left = asMoment(operand(start, previous(op))), right = asMoment(operand(first, end));
        if (left.kind == ValueKind::Text && right.kind == ValueKind::Text) {
            if (!left.column && !right.column) ignoreCase(right);
            return;
        }
        if (left.kind != ValueKind::Unknown && right.kind != ValueKind::Unknown) match(left, right);
    }

    // Whether an operand of arithmetic needs reading as a number when it
    // runs: a text by our rules, where SQLite reads "1,234" as 1 and "abc"
    // as 0; a date is refused there, where SQLite reads it as its year.
    static bool readAsNumber(const Operand& o) {
        return o.kind == ValueKind::Text || o.kind == ValueKind::Unknown || o.kind == ValueKind::Date ||
               o.kind == ValueKind::Time;
    }

    // SQLite's own "*", "%", "|", "<<" and ">>", which take numbers only.
    void bindNumbers(size_t op, int level) {
        const size_t before = previous(op);
        if (before >= t_.size() || at(before, "(") || at(before, ",") || atWord(before, "SELECT") || at(before, "."))
            return;  // Count(*), SELECT *, t.*
        const size_t start = leftStart(op, level), end = rightEnd(op, level);
        if (start >= t_.size() || end >= t_.size()) return;
        const Operand left = operand(start, before);
        const Operand right = operand(nextOrEnd(op + 1), end);
        for (const Operand* o : {&left, &right})
            if (readAsNumber(*o)) convertAtRunTime(*o, call::kNumberOf);
    }

    // Unary minus and "~" are SQLite's, as loose as its "*".
    void bindNegation(size_t op) {
        const size_t first = nextOrEnd(op + 1), end = rightEnd(op, kUnaryLevel);
        if (first >= t_.size() || end >= t_.size() || first > end) return;
        const Operand o = operand(first, end);
        if (readAsNumber(o) && !isTruth(first, end)) convertAtRunTime(o, call::kNumberOf);
    }

    // "CASE x WHEN a ...": x compares with each value as "x = a" would, a
    // text with numbers as a number, texts ignoring case.
    void bindSimpleCase(size_t word) {
        const size_t first = nextOrEnd(word + 1), end = brackets_.closeOf(word);
        if (first >= t_.size() || end >= t_.size() || atWord(first, "WHEN")) return;
        std::vector<Operand> values;
        size_t baseLast = t_.size();
        for (size_t k = first; k < end; ++k) {
            if (isSymbol(t_[k], "(") || isKeyword(t_[k], "CASE")) {
                k = brackets_.closeOf(k);
                if (k >= end) return;
                continue;
            }
            if (!isKeyword(t_[k], "WHEN")) continue;
            if (baseLast == t_.size()) baseLast = previous(k);
            const size_t from = nextOrEnd(k + 1), to = itemEnd(from, {"THEN"});
            if (to >= end || from >= to) return;
            values.push_back(asMoment(operand(from, previous(to))));
        }
        if (baseLast >= t_.size() || baseLast < first) return;
        const Operand x = asMoment(operand(first, baseLast));
        if (matchEach(x, values)) return;
        if ((x.kind == ValueKind::Text || x.kind == ValueKind::Unknown) && !x.column) ignoreCase(x);
    }

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

    // ---- truths used as values

    // Whether the range gives a truth: a comparison or logical operator at its top.
    bool isTruth(size_t first, size_t last) const {
        while (at(first, "(") && brackets_.closeOf(first) == last && first < last) {
            first = nextOrEnd(first + 1);
            last = previous(last);
        }
        if (first >= t_.size() || last >= t_.size() || first > last) return false;
        if (atWord(first, "SELECT") || atWord(first, "WITH")) return false;  // a subquery's value
        for (size_t k = first; k <= last; ++k) {
            if (isSymbol(t_[k], "(") || isKeyword(t_[k], "CASE")) {
                k = brackets_.closeOf(k);
                if (k >= t_.size()) return false;
                continue;
            }
            if (isTruthOperator(t_[k])) return true;
        }
        return false;
    }

    // SQLite's truths are 1 and 0; the old engine's True is -1. In a
    // bracket of its own, so a minus before it never makes "--", a comment.
    void truthAsValue(size_t first, size_t last) {
        if (isTruth(first, last)) wrap(first, last, QStringLiteral("(-("), QStringLiteral("))"), true);
    }

    // The end (exclusive) of a list item starting at i: the next comma at
    // its depth, or a word that ends the list.
    size_t itemEnd(size_t i, std::initializer_list<const char*> enders) const {
        for (size_t k = i; k < t_.size(); ++k) {
            const Token& t = t_[k];
            if (isSymbol(t, "(") || isKeyword(t, "CASE")) {
                k = brackets_.closeOf(k);
                if (k >= t_.size()) return t_.size();
                continue;
            }
            if (isSymbol(t, ",") || isSymbol(t, ")") || isSymbol(t, ";")) return k;
            for (const char* e : enders)
                if (isKeyword(t, e)) return k;
        }
        return t_.size();
    }

    void bindSelectList(size_t select) {
        size_t i = nextOrEnd(select + 1);
        // UNION, INTERSECT and EXCEPT drop repeated rows as DISTINCT does.
        bool distinct = inDeduplicatingCompound(select);
        if (atWord(i, "DISTINCT") || atWord(i, "ALL")) {
            distinct = distinct || atWord(i, "DISTINCT");
            i = nextOrEnd(i + 1);
        }
        if (atWord(i, "TOP")) return;  // rewritten before this; never seen here
        for (int position = 0; i < t_.size(); ++position) {
            const size_t end = itemEnd(i, {"FROM", "AS", "WHERE", "GROUP", "ORDER", "UNION", "EXCEPT", "INTERSECT",
                                          "LIMIT", "HAVING", "WINDOW"});
            size_t last = previous(end);
            if (last < t_.size() && last >= i) {
                size_t after = end;
                bool alias = atWord(end, "AS");
                if (alias) {
                    after = itemEnd(end, {"FROM", "WHERE", "GROUP", "ORDER", "UNION", "EXCEPT", "INTERSECT", "LIMIT", "HAVING"});
                } else if (const size_t before = previous(last);
                           last > i && isName(t_[last]) && before < t_.size() &&
                           (isName(t_[before]) || t_[before].kind == TokenKind::Number ||
                            t_[before].kind == TokenKind::String || isSymbol(t_[before], ")"))) {
                    alias = true;  // "amt total": a name after the expression names it
                    last = before;
                }
                const Operand item = operand(i, last);
                truthAsValue(i, last);
                if (distinct && !item.column && (item.kind == ValueKind::Text || item.kind == ValueKind::Unknown))
                    wrap(i, last, QString(), kNoCase);
                // A computed field without a name is Expr1000, Expr1001, ... by its place, as the old
                // engine named it; columns (t.col, col, *, t.*) keep theirs.
                const size_t second = nextOrEnd(i + 1);
                const bool plain = item.column || (i == last && (isName(t_[i]) || at(i, "*"))) ||
                                   (at(second, ".") && nextOrEnd(second + 1) == last);
                if (!alias && !plain) named_[last] = QStringLiteral("Expr%1").arg(1000 + position);
                i = after;
            } else {
                i = end;
            }
            if (!at(i, ",")) break;
            i = nextOrEnd(i + 1);
        }
    }

    // Whether the SELECT at i is a member of a UNION (not ALL), INTERSECT or EXCEPT.
    bool inDeduplicatingCompound(size_t select) const {
        size_t from = select, to = select;
        for (int depth = 0; from > 0; --from) {
            if (isSymbol(t_[from - 1], ")")) ++depth;
            else if (isSymbol(t_[from - 1], "(") && depth-- == 0) break;
        }
        for (int depth = 0; to < t_.size(); ++to) {
            if (isSymbol(t_[to], "(")) ++depth;
            else if (isSymbol(t_[to], ")") && depth-- == 0) break;
        }
        for (size_t k = from; k < to; ++k) {
            if (isSymbol(t_[k], "(")) {
                k = brackets_.closeOf(k);
                if (k >= to) break;
                continue;
            }
            if ((isKeyword(t_[k], "UNION") && !atWord(nextOrEnd(k + 1), "ALL")) || isKeyword(t_[k], "INTERSECT") ||
                isKeyword(t_[k], "EXCEPT"))
                return true;
        }
        return false;
    }

    void bindSortKeys(size_t by) {
        size_t i = nextOrEnd(by + 1);
        while (i < t_.size()) {
            const size_t end = itemEnd(i, {"ASC", "DESC", "NULLS", "COLLATE", "LIMIT", "HAVING", "ORDER", "UNION",
                                          "EXCEPT", "INTERSECT", "WINDOW", "OFFSET", "ROWS", "RANGE", "GROUPS"});
            const size_t last = previous(end);
            if (last >= t_.size() || last < i) return;
            const Operand key = operand(i, last);
            // A name alone is a file's column, with its collation, unless the scopes
            // found it to be a subquery's field.
            const auto scopedName = catalog_.names.find(t_[i].span.offset);
            const bool field = scopedName != catalog_.names.end() && scopedName->second.table < 0;
            const bool bareName = i == last && isName(t_[i]) && !isAlias(unquotedText(t_[i])) && !field;
            if (atWord(end, "COLLATE")) {
                // as written
            } else if (i == last && t_[i].kind == TokenKind::Number) {
                // "ORDER BY 1": the item, ignoring case if it is a text, by the moment if it is a time.
                wrap(i, last, QString(), scopedName != catalog_.names.end() && scopedName->second.kind == ValueKind::Time ? kByMoment : kNoCase);
            } else if (key.kind == ValueKind::Time) {
                wrap(i, last, QStringLiteral("("), QStringLiteral(")") + kByMoment);
            } else if (!key.column && !bareName && (key.kind == ValueKind::Text || key.kind == ValueKind::Unknown)) {
                wrap(i, last, QStringLiteral("("), QStringLiteral(")") + kNoCase);
            }
            i = end;
            while (i < t_.size() && !at(i, ",") && !at(i, ")") && !at(i, ";") && !atWord(i, "LIMIT") &&
                   !atWord(i, "HAVING") && !atWord(i, "ORDER") && !atWord(i, "UNION") && !atWord(i, "EXCEPT") &&
                   !atWord(i, "INTERSECT") && !atWord(i, "WINDOW") && !atWord(i, "ROWS") && !atWord(i, "RANGE") &&
                   !atWord(i, "GROUPS"))
                i = nextOrEnd(i + 1);
            if (!at(i, ",")) return;
            i = nextOrEnd(i + 1);
        }
    }

    void bindCaseValue(size_t word) {
        const size_t first = nextOrEnd(word + 1);
        const size_t end = itemEnd(first, {"WHEN", "ELSE", "END"});
        const size_t last = previous(end);
        if (last < t_.size() && last >= first) truthAsValue(first, last);
    }

    // Max(a, b, ...) and Min(a, b, ...), SQLite's scalar forms, compare as
    // "<" does. Beside a date or time every value is read as a date, and
    // SQLite's own call compares them by the moment collation, so each shows
    // as it was written; otherwise our call compares them (a text beside a
    // number read as one here, naming its column, or when it runs).
    void bindScalarExtreme(size_t name, const std::vector<std::pair<size_t, size_t>>& args) {
        std::vector<Operand> operands;
        for (const auto& [from, to] : args) operands.push_back(operand(from, to));
        auto kindIs = [](std::initializer_list<ValueKind> kinds) {
            return [kinds](const Operand& o) { return std::find(kinds.begin(), kinds.end(), o.kind) != kinds.end(); };
        };
        if (const auto moment = std::find_if(operands.begin(), operands.end(), kindIs({ValueKind::Date, ValueKind::Time}));
            moment != operands.end()) {
            for (const Operand& o : operands)
                if (!kindIs({ValueKind::Date, ValueKind::Time, ValueKind::Null})(o)) convertToDate(o, *moment);
            wrap(operands[0].first, operands[0].last, QStringLiteral("("), QStringLiteral(")") + kByMoment);
            return;
        }
        const bool max = t_[name].text.compare(QLatin1String("max"), Qt::CaseInsensitive) == 0;
        replace(name, QLatin1String(max ? call::kMaxOf : call::kMinOf));
        if (const auto number = std::find_if(operands.begin(), operands.end(), kindIs({ValueKind::Number}));
            number != operands.end())
            for (const Operand& o : operands)
                if (o.kind == ValueKind::Text) convertToNumber(o, *number);
    }

    // A bracket: a call's arguments, or a group used as an operand.
    void bindGroup(size_t open) {
        const size_t close = brackets_.closeOf(open);
        if (close >= t_.size()) return;
        const size_t name = previous(open);
        if (atWord(name, "FILTER") || atWord(name, "OVER")) return;
        const size_t inside = nextOrEnd(open + 1);
        if (atWord(inside, "SELECT") || atWord(inside, "WITH") || atWord(inside, "WHERE")) return;
        const bool call = name < t_.size() && t_[name].kind == TokenKind::Word && !isReservedWord(t_[name]);
        if (!call) {
            const size_t after = nextOrEnd(close + 1);
            auto comparesAfter = [&](size_t k) {
                if (atWord(k, "NOT")) k = nextOrEnd(k + 1);
                return atWord(k, "IS") || atWord(k, "IN") || atWord(k, "BETWEEN") || atWord(k, "LIKE");
            };
            const bool operandOfValue =
                (name < t_.size() && (isArithmetic(t_[name]) || isComparison(t_[name]) || atWord(name, "IS"))) ||
                (after < t_.size() && (isArithmetic(t_[after]) || isComparison(t_[after]) || comparesAfter(after)));
            if (operandOfValue) truthAsValue(open, close);
            return;
        }
        const QString function = t_[name].text;
        auto is = [&](const char* w) { return function.compare(QLatin1StringView(w), Qt::CaseInsensitive) == 0; };
        if (is("CAST")) return;
        const auto args = argumentsOf(open, close);
        // A blank argument is a syntax error, which SQLite names where it stands.
        const bool blank = std::any_of(args.begin(), args.end(), [](const auto& a) { return a.first > a.second; });
        const std::optional<FunctionFacts> facts = factsOf(function);
        if (const auto count = facts ? facts->count : std::nullopt;
            count && !blank && (int(args.size()) < count->least || int(args.size()) > count->most))
            throw PlacedError(t_[name].span, Error(ErrorFacts{.word = function}, u"%1 の引数の数が違います。", function));
        const NumberArguments numbers = facts ? facts->numbers : NumberArguments::Any;
        for (size_t n = 0; n < args.size(); ++n) {
            const auto [from, to] = args[n];
            if (to >= t_.size() || from > to) continue;
            size_t first = from;
            if (atWord(first, "DISTINCT")) first = nextOrEnd(first + 1);
            truthAsValue(first, to);
            const Operand arg = operand(first, to);
            const bool text = !arg.column && (arg.kind == ValueKind::Text || arg.kind == ValueKind::Unknown);
            const bool number = numbers != NumberArguments::Any && (facts->numberArgument < 0 || size_t(facts->numberArgument) == n);
            if (number && readAsNumber(arg) && !isTruth(first, to) &&
                !(arg.literal && numbers == NumberArguments::CheckedByIt))
                convertAtRunTime(arg, call::kNumberOf);
            else if (text && facts && facts->textRule && args.size() == 1) ignoreCase(arg);
            else if (arg.kind == ValueKind::Time && facts && facts->textRule && args.size() == 1)
                wrap(arg.first, arg.last, QStringLiteral("("), QStringLiteral(")") + kByMoment);
            else if (text && first != from) ignoreCase(arg);  // Count(DISTINCT x): the values x = y finds alike
        }
        if (facts && facts->textRule && args.size() > 1 && !blank) bindScalarExtreme(name, args);
        // NullIf is ours (equal as "=" finds them); its second value takes the first's kind.
        if (is("NullIf") && args.size() == 2) {
            const Operand x = operand(args[0].first, args[0].second), y = operand(args[1].first, args[1].second);
            if (x.kind != ValueKind::Text && x.kind != ValueKind::Unknown && y.kind != ValueKind::Unknown) match(x, y);
            else if (x.kind == ValueKind::Text && x.column && y.kind == ValueKind::Number)
                wrap(y.first, y.last, QString(), QStringLiteral(", %1, %2").arg(quotedString(x.table), quotedString(x.name)));
        }
        // A text column in arithmetic with a number is read as a number
        // ("+" joins two texts, so it needs a number beside it).
        if (is(call::kAdd) || is(call::kSubtract) || is(call::kDivide) || is(call::kIntDivide) || is(call::kMod) ||
            is(call::kPower)) {
            std::vector<Operand> operands;
            for (const auto& [from, to] : args) operands.push_back(operand(from, to));
            const bool number = std::any_of(operands.begin(), operands.end(),
                                            [](const Operand& o) { return o.kind == ValueKind::Number; });
            for (const Operand& o : operands)
                if (o.column && o.kind == ValueKind::Text && (!is(call::kAdd) || number)) convertAtRunTime(o, call::kNumberOf);
        }
    }

    std::vector<Token> t_;
    const BracketMap brackets_;  // the tokens never change: each bracket is matched once
    const Catalog& catalog_;
    std::vector<std::pair<QString, int>> scope_;  // a table's name or alias, and the table
    QSet<QString> aliases_;                       // the select items' names, case folded
    std::vector<size_t> enclosing_;               // each token's "(", t_.size() at the top
    std::vector<bool> inFromList_;                // each token: after a FROM at its depth
    mutable std::vector<QHash<QString, size_t>> columnsByName_;
    std::map<size_t, std::vector<Insert>> before_, after_;
    std::map<size_t, QString> replaced_;
    size_t inserts_ = 0;
    std::map<size_t, QString> named_;  // a select item's last token, and the name it is given
};

}  // namespace

MappedText bindTypes(const MappedText& sql, const Catalog& catalog) {
    return Binder(sql, catalog).run();
}

}  // namespace tarlo
