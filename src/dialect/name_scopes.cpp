#include "dialect/name_scopes.h"

#include "dialect/placed_error.h"
#include "dialect/token_edit.h"
#include "platform/error.h"

#include <QHash>
#include <QStringList>

#include <algorithm>

namespace tarlo {

using namespace syntax;

namespace {

// A column a FROM item brings.
struct Field {
    QString name;
    ScopedName resolved;
};

struct Source {
    QString name;  // the alias, or the table's name
    std::vector<Field> fields;
    bool known = true;  // false: a table whose columns nobody here knows
};

struct Scope {
    const Scope* outer = nullptr;
    std::vector<Source> sources;
    QStringList aliases;  // the select items' names
};

// The fields a query gives, and whether they are all of them (a VALUES
// list or a * over a table nobody here knows gives fields unnamed here).
struct Fields {
    std::vector<Field> list;
    bool complete = true;
};

using CommonTables = QHash<QString, Fields>;  // by case-folded name

class Resolver {
public:
    Resolver(const SyntaxTree& tree, const std::map<int, QString>& tableAt, const Catalog& catalog)
        : t_(tree), tableAt_(tableAt), catalog_(catalog) {}

    std::unordered_map<qsizetype, ScopedName> run() {
        collectNames();
        if (t_.root >= 0) {
            query(t_.root, nullptr, {});
            if (t_.transform) {
                // The TRANSFORM value and the pivot read the crosstab's FROM.
                Scope s;
                coreScope(t_.queries[size_t(t_.root)].cores[0], nullptr, {}, s);
                expression(t_.transform->value, s, {});
                expression(t_.transform->pivot, s, {});
            }
        }
        // The first name no scope has, in the order written, inside the
        // innermost table-giving query that has one: a subquery's unknown name
        // is why the names around it that read its fields are unknown too.
        // SQLite would name it as well, but not always where it stands.
        if (!unknown_.empty()) {
            const Node& n = *std::min_element(unknown_.begin(), unknown_.end(), [](const auto& a, const auto& b) {
                                 if (a.first != b.first) return a.first > b.first;
                                 return a.second->span.offset < b.second->span.offset;
                             })->second;
            const QString written = (n.qualifier >= 0 ? unquotedText(tok(n.qualifier)) + QLatin1Char('.') : QString()) +
                                    unquotedText(tok(n.token));
            throw PlacedError(n.span, Error(ErrorFacts{.word = written}, u"列 \"%1\" が見つかりません。列名を確かめてください。", written));
        }
        return std::move(out_);
    }

private:
    // Every name a query's result gives, and SQLite's own: a name among them
    // may be one ORDER BY or a compound reads, so it is never called unknown.
    void collectNames() {
        for (const char* own : {"rowid", "oid", "_rowid_", "current_date", "current_time", "current_timestamp"})
            given_ << QLatin1String(own);
        for (const Query& q : t_.queries) {
            for (const CommonTable& c : q.with)
                for (const int column : c.columns) given_ << unquotedText(tok(column));
            for (const SelectCore& c : q.cores) {
                for (const ResultItem& item : c.items) {
                    if (item.alias >= 0) given_ << unquotedText(tok(item.alias));
                    const Node& e = t_.node(item.expr);
                    if (e.kind == NodeKind::Name) ++givenByItems_[unquotedText(tok(e.token)).toCaseFolded()];
                }
                for (const auto& [name, window] : c.windows) given_ << unquotedText(tok(name));
            }
        }
    }

    const Token& tok(int k) const { return t_.token(k); }

    int tableIndex(const QString& name) const {
        for (size_t k = 0; k < catalog_.tables.size(); ++k)
            if (catalog_.tables[k].name.compare(name, Qt::CaseInsensitive) == 0) return int(k);
        return -1;
    }

    // The fields a query gives: its first SELECT's items.
    Fields query(int q, const Scope* outer, CommonTables ctes) {
        const Query& query = t_.queries[size_t(q)];
        for (const CommonTable& c : query.with) {
            const QString name = unquotedText(tok(c.name)).toCaseFolded();
            ctes.insert(name, Fields{{}, false});  // a recursive one reads itself: its fields are not known yet
            ++giving_;
            Fields fields = this->query(c.query, outer, ctes);
            --giving_;
            for (size_t i = 0; i < c.columns.size() && i < fields.list.size(); ++i)
                fields.list[i].name = unquotedText(tok(c.columns[i]));
            ctes.insert(name, fields);
        }
        Fields fields;
        std::vector<Field>& result = fields.list;
        for (size_t i = 0; i < query.cores.size(); ++i) {
            Scope s;
            const Fields given = core(query.cores[i], outer, ctes, s);
            if (i == 0) fields = given;
            // ORDER BY reads the last SELECT's tables (an item's name first, which is left to the binder).
            if (i + 1 == query.cores.size())
                for (const OrderTerm& o : query.order) expression(o.expr, s, ctes);
        }
        // ORDER BY 1 or an item's name sorts a time as the moment it is, which the typed view
        // tells from the item's kind (texts and numbers it already sorts by their rules).
        for (const OrderTerm& o : query.order) {
            const Node& e = t_.node(o.expr);
            const Field* item = nullptr;
            if (e.kind == NodeKind::Number) {
                const size_t ordinal = size_t(tok(e.token).text.toULongLong());
                if (ordinal >= 1 && ordinal <= result.size()) item = &result[ordinal - 1];
            } else if (e.kind == NodeKind::Name && e.qualifier < 0) {
                for (const Field& f : result)
                    if (f.name.compare(unquotedText(tok(e.token)), Qt::CaseInsensitive) == 0) item = &f;
            }
            if (item && item->resolved.kind == ValueKind::Time) out_[tok(e.token).span.offset] = {ValueKind::Time, -1, {}};
        }
        Scope around;
        around.outer = outer;
        expression(query.limit, around, ctes);
        expression(query.offset, around, ctes);
        return fields;
    }

    void coreScope(const SelectCore& c, const Scope* outer, const CommonTables& ctes, Scope& s) {
        s.outer = outer;
        for (const ResultItem& item : c.items)
            if (item.alias >= 0) s.aliases << unquotedText(tok(item.alias));
        if (c.from >= 0) from(c.from, outer, ctes, s);
    }

    Fields core(const SelectCore& c, const Scope* outer, const CommonTables& ctes, Scope& s) {
        coreScope(c, outer, ctes, s);
        if (c.from >= 0) joinConditions(c.from, s, ctes);
        for (const ResultItem& item : c.items) expression(item.expr, s, ctes);
        expression(c.where, s, ctes);
        for (const NodeId g : c.groupBy) expression(g, s, ctes);
        expression(c.having, s, ctes);
        for (const auto& row : c.values)
            for (const NodeId v : row) expression(v, s, ctes);
        for (const auto& [name, window] : c.windows) windowSpec(window, s, ctes);
        // The fields it gives.
        Fields given;
        given.complete = c.values.empty();
        std::vector<Field>& fields = given.list;
        for (size_t position = 0; position < c.items.size(); ++position) {
            const ResultItem& item = c.items[position];
            const Node& e = t_.node(item.expr);
            if (e.kind == NodeKind::Star) {
                for (const Source& src : s.sources)
                    if (e.qualifier < 0 || src.name.compare(qualifierName(e.qualifier), Qt::CaseInsensitive) == 0) {
                        fields.insert(fields.end(), src.fields.begin(), src.fields.end());
                        given.complete = given.complete && src.known;
                    }
                continue;
            }
            Field f;
            f.resolved.kind = kindOf(item.expr);
            if (e.kind == NodeKind::Name) {
                f.name = unquotedText(tok(e.token));
                if (const auto r = out_.find(tok(e.token).span.offset); r != out_.end()) f.resolved = r->second;
                else f.resolved.kind = ValueKind::Unknown;
            }
            if (item.alias >= 0) f.name = unquotedText(tok(item.alias));
            else if (e.kind != NodeKind::Name) f.name = QStringLiteral("Expr%1").arg(1000 + position);  // as the binder names it
            fields.push_back(f);
        }
        return given;
    }

    QString qualifierName(int token) const {
        return unquotedText(tok(token)).replace(QLatin1Char('#'), QLatin1Char('.'));
    }

    void from(int f, const Scope* outer, const CommonTables& ctes, Scope& s) {
        const FromClause& clause = t_.froms[size_t(f)];
        fromItem(clause.first, outer, ctes, s);
        for (const Join& j : clause.joins) fromItem(j.item, outer, ctes, s);
    }

    void joinConditions(int f, const Scope& s, const CommonTables& ctes) {
        const FromClause& clause = t_.froms[size_t(f)];
        if (clause.first.kind == FromItem::Kind::Group) joinConditions(clause.first.group, s, ctes);
        for (const Join& j : clause.joins) {
            if (j.item.kind == FromItem::Kind::Group) joinConditions(j.item.group, s, ctes);
            expression(j.on, s, ctes);
        }
    }

    void fromItem(const FromItem& item, const Scope* outer, const CommonTables& ctes, Scope& s) {
        Source src;
        switch (item.kind) {
        case FromItem::Kind::Group: return from(item.group, outer, ctes, s);
        case FromItem::Kind::Subquery: {
            ++giving_;
            Fields fields = query(item.query, outer, ctes);
            --giving_;
            src.fields = std::move(fields.list);
            src.known = fields.complete;
            break;
        }
        case FromItem::Kind::Table: {
            const auto file = tableAt_.find(item.nameFrom);
            const QString written = unquotedText(tok(item.nameFrom));
            if (file != tableAt_.end()) {
                src.name = file->second;
                const int table = tableIndex(file->second);
                if (table < 0) src.known = false;
                else
                    for (const auto& [column, kind] : catalog_.tables[size_t(table)].columns)
                        src.fields.push_back({column, {kind, table, column}});
            } else if (const auto cte = ctes.find(written.toCaseFolded()); cte != ctes.end()) {
                src.name = written;
                src.fields = cte.value().list;
                src.known = cte.value().complete;
            } else {
                src.name = written;
                src.known = false;
            }
            break;
        }
        }
        if (item.alias >= 0) src.name = unquotedText(tok(item.alias));
        s.sources.push_back(std::move(src));
    }

    void windowSpec(int w, const Scope& s, const CommonTables& ctes) {
        const WindowSpec& definition = t_.windows[size_t(w)];
        for (const NodeId p : definition.partition) expression(p, s, ctes);
        for (const OrderTerm& o : definition.order) expression(o.expr, s, ctes);
        for (const NodeId b : definition.frameBounds) expression(b, s, ctes);
    }

    void expression(NodeId id, const Scope& s, const CommonTables& ctes) {
        if (id == kNone) return;
        const Node& n = t_.node(id);
        if (n.kind == NodeKind::Name) return name(n, s);
        if (n.kind == NodeKind::Date) out_[tok(n.token).span.offset] = {ValueKind::Date, -1, {}};
        if (n.query >= 0) query(n.query, &s, ctes);
        for (const NodeId c : {n.left, n.right, n.extra}) expression(c, s, ctes);
        for (const NodeId c : n.list) expression(c, s, ctes);
        if (n.window >= 0) windowSpec(n.window, s, ctes);
    }

    // The field a name stands for, innermost scope first.
    void name(const Node& n, const Scope& s) {
        const QString column = unquotedText(tok(n.token));
        bool everyKnown = true;
        for (const Scope* scope = &s; scope; scope = scope->outer) {
            const Field* found = nullptr;
            int matches = 0;
            bool unknownSource = false;
            for (const Source& src : scope->sources) {
                if (n.qualifier >= 0 && src.name.compare(qualifierName(n.qualifier), Qt::CaseInsensitive) != 0) continue;
                if (!src.known) unknownSource = true;
                const Field* last = nullptr;
                for (const Field& f : src.fields)
                    if (f.name.compare(column, Qt::CaseInsensitive) == 0) last = &f;  // the last wins, as the binder reads a file
                if (last) found = last, ++matches;
            }
            if (matches > 1) return;  // ambiguous: SQLite says so
            for (const Source& src : scope->sources) everyKnown = everyKnown && src.known;
            if (found) {
                out_[tok(n.token).span.offset] = found->resolved;
                return;
            }
            if (unknownSource) return;  // maybe a column nobody here knows
            // A select item's name: the binder knows those.
            if (n.qualifier < 0 && scope->aliases.contains(column, Qt::CaseInsensitive)) return;
        }
        // A qualified name is never a result's name; a bare one may be, but a
        // select item's name is not given by the item itself.
        const bool given = given_.contains(column, Qt::CaseInsensitive) ||
                           givenByItems_.value(column.toCaseFolded()) > (isItem(n) ? 1 : 0);
        if (everyKnown && (n.qualifier >= 0 || !given)) unknown_.emplace_back(giving_, &n);
    }

    bool isItem(const Node& n) const {
        for (const Query& q : t_.queries)
            for (const SelectCore& c : q.cores)
                for (const ResultItem& item : c.items)
                    if (&t_.node(item.expr) == &n) return true;
        return false;
    }

    // The kind of an expression, as far as the tree tells.
    ValueKind kindOf(NodeId id) const {
        if (id == kNone) return ValueKind::Unknown;
        const Node& n = t_.node(id);
        switch (n.kind) {
        case NodeKind::Number:
        case NodeKind::Truth: return ValueKind::Number;
        case NodeKind::String: return ValueKind::Text;
        case NodeKind::Date: return ValueKind::Date;
        case NodeKind::Null: return ValueKind::Null;
        case NodeKind::Name: {
            const auto r = out_.find(tok(n.token).span.offset);
            return r != out_.end() ? r->second.kind : ValueKind::Unknown;
        }
        case NodeKind::Group: return kindOf(n.list[0]);
        case NodeKind::Between:
        case NodeKind::In:
        case NodeKind::Like:
        case NodeKind::Is:
        case NodeKind::NullTest:
        case NodeKind::Exists: return ValueKind::Number;
        case NodeKind::Unary:
            return isKeyword(tok(n.token), "NOT") || kindOf(n.left) == ValueKind::Number ? ValueKind::Number : ValueKind::Unknown;
        case NodeKind::Chain: return chainKind(n);
        case NodeKind::Call: return callKind(n);
        default: return ValueKind::Unknown;
        }
    }

    ValueKind chainKind(const Node& n) const {
        bool numbers = true;
        for (const NodeId c : n.list) numbers = numbers && kindOf(c) == ValueKind::Number;
        for (const int op : n.ops) {
            const Token& t = tok(op);
            if (t.kind == TokenKind::Word || isSymbol(t, "=") || isSymbol(t, "==") || isSymbol(t, "<>") || isSymbol(t, "!=") ||
                isSymbol(t, "<") || isSymbol(t, ">") || isSymbol(t, "<=") || isSymbol(t, ">=")) {
                if (!isKeyword(t, "MOD")) return ValueKind::Number;  // a truth: And, Or, Xor, Eqv, Imp, comparisons
            }
            if (isSymbol(t, "&") || isSymbol(t, "||")) return ValueKind::Text;
        }
        return numbers ? ValueKind::Number : ValueKind::Unknown;
    }

    ValueKind callKind(const Node& n) const {
        if (!catalog_.function) return ValueKind::Unknown;
        const auto facts = catalog_.function(tok(n.token).text);
        if (!facts) return ValueKind::Unknown;
        switch (facts->rule) {
        case ResultRule::FirstArgument: return n.list.empty() ? ValueKind::Unknown : kindOf(n.list[0]);
        case ResultRule::SharedByArguments: {
            if (n.list.size() < 2) return ValueKind::Unknown;
            const ValueKind a = kindOf(n.list[0]), b = kindOf(n.list[1]);
            return a == b ? a : ValueKind::Unknown;
        }
        case ResultRule::Fixed: return facts->result;
        }
        return ValueKind::Unknown;
    }

    const SyntaxTree& t_;
    const std::map<int, QString>& tableAt_;
    const Catalog& catalog_;
    std::unordered_map<qsizetype, ScopedName> out_;
    QStringList given_;               // see collectNames
    QHash<QString, int> givenByItems_;  // the names select items that are names give, case folded, and how many
    std::vector<std::pair<int, const Node*>> unknown_;  // names no scope has, by giving_ where they stand
    int giving_ = 0;  // how deep in subqueries and CTEs whose fields a FROM reads
};

}  // namespace

std::unordered_map<qsizetype, ScopedName> resolveNames(const SyntaxTree& tree, const std::map<int, QString>& tableAt,
                                                       const Catalog& catalog) {
    return Resolver(tree, tableAt, catalog).run();
}

}  // namespace tarlo
