#include "dialect/crosstab.h"

#include "dialect/internal_names.h"
#include "dialect/placed_error.h"
#include "dialect/sql_quote.h"
#include "dialect/token_edit.h"
#include "platform/error.h"
#include "values/case_folding.h"
#include "values/dates.h"

#include <algorithm>

namespace tarlo {

using namespace syntax;

namespace {

// at: where the fault stands, or where what is missing was looked for.
[[noreturn]] void malformed(Span at, const QString& why) {
    throw PlacedError(at, Error(ErrorFacts{}, u"クロス集計 (TRANSFORM ... PIVOT) の書き方が違います: %1。", why));
}

// The aggregate calls of an expression, outermost only, in the order written.
void findAggregates(const SyntaxTree& tree, NodeId id, const IsAggregate& isAggregate, std::vector<NodeId>& out) {
    if (id == kNone) return;
    const Node& n = tree.node(id);
    if (n.kind == NodeKind::Call && isAggregate(tree.token(n.token).text)) {
        out.push_back(id);
        return;
    }
    for (const NodeId c : {n.left, n.right, n.extra}) findAggregates(tree, c, isAggregate, out);
    for (const NodeId c : n.list) findAggregates(tree, c, isAggregate, out);
}

}  // namespace

std::optional<Crosstab> Crosstab::read(const SyntaxTree& tree, const SqlWriter& writer, const IsAggregate& isAggregate) {
    if (!tree.transform) return std::nullopt;
    const Transform& t = *tree.transform;
    const Span transform = tree.token(writer.firstToken(t.span)).span;
    Crosstab c;
    c.writer_ = &writer;
    c.value_ = t.value;
    // The value: any expression of aggregates (Sum(v), Nz(Sum(v), 0), Sum(v) * 2);
    // a name given to it (AS total) names nothing, the columns being the pivot's values.
    findAggregates(tree, t.value, isAggregate, c.aggregates_);
    if (c.aggregates_.empty())
        malformed(tree.node(t.value).span, QStringLiteral("TRANSFORM の後には Sum(列) のような集計を書きます"));
    c.single_ = c.aggregates_.size() == 1 && c.aggregates_[0] == t.value;
    c.count_ = c.single_ && isKeyword(tree.token(tree.node(t.value).token), "COUNT");
    c.countAll_ = c.count_ && tree.node(t.value).star;
    for (const NodeId a : c.aggregates_)
        if (isKeyword(tree.token(tree.node(a).token), "COUNT")) c.counts_[a] = tree.node(a).span;

    if (t.pivot == kNone) malformed(transform, QStringLiteral("PIVOT がありません"));
    const int pivot = t.pivotWord;
    const Query& q = tree.queries[size_t(tree.root)];
    const SelectCore& core = q.cores[0];
    if (q.cores.size() > 1) malformed(tree.token(q.compounds[0]).span, QStringLiteral("UNION などは書けません"));
    if (core.from < 0) malformed(tree.token(pivot).span, QStringLiteral("FROM がありません"));
    if (core.groupBy.empty()) malformed(tree.token(pivot).span, QStringLiteral("GROUP BY がありません"));
    // The clauses by their keywords: FROM, GROUP (of GROUP BY), ORDER (of ORDER BY).
    auto keywordBefore = [&](Span clause, int words) {
        int k = writer.firstToken(clause);
        for (int w = 0; w < words; ++w) k = int(previousSignificant(tree.tokens, size_t(k)));
        return k;
    };
    const int from = keywordBefore(tree.froms[size_t(core.from)].span, 1);
    const int group = keywordBefore(tree.node(core.groupBy[0]).span, 2);
    const int order = q.order.empty() ? pivot : keywordBefore(q.order[0].span, 2);
    c.selectList_ = writer.range(core.select, from - 1).trimmed();
    c.fromWhere_ = writer.range(from, group - 1).trimmed();
    c.groupBy_ = writer.range(group, order - 1).trimmed();
    c.orderBy_ = writer.range(order, pivot - 1).trimmed();
    c.pivot_ = writer.node(t.pivot);
    if (writer.binding()) c.pivotKind_ = writer.binding()->pivot;
    c.hasList_ = t.hasList;
    for (const NodeId v : t.list) {
        const Node& n = tree.node(v);
        const MappedText literal = writer.node(v);
        const bool single = writer.firstToken(n.span) == writer.lastToken(n.span);
        ValueKind kind = ValueKind::Unknown;
        switch (n.kind) {
        case NodeKind::Number:
        case NodeKind::Truth: kind = ValueKind::Number; break;
        case NodeKind::String: kind = ValueKind::Text; break;
        case NodeKind::Date: kind = isTimeLiteral(tree.token(n.token)) ? ValueKind::Time : ValueKind::Date; break;
        case NodeKind::Null: kind = ValueKind::Null; break;
        case NodeKind::Unary: kind = tree.node(n.left).kind == NodeKind::Number ? ValueKind::Number : kind; break;
        default: break;
        }
        // A column is headed by the value as the user wrote it.
        QString name;
        if (single) {
            name = unquotedText(tree.token(writer.firstToken(n.span)));
        } else {
            for (int k = writer.firstToken(n.span); k <= writer.lastToken(n.span); ++k) name += tree.token(k).text;
        }
        c.listed_.push_back({literal, name, kind, true});
    }
    return c;
}

MappedText Crosstab::valuesQuery() const {
    if (hasList_) return {};
    // The values in the order and the sameness of the pivot's kind: texts ignoring case, times by the moment.
    const Span at = pivot_.span();
    const bool text = !pivotKind_.column && (pivotKind_.kind == ValueKind::Text || pivotKind_.kind == ValueKind::Unknown);
    const MappedText item = text ? composeMapped(u"(%1) COLLATE %2", at, {pivot_, MappedText(QLatin1String(kNoCaseCollation), at)})
                                 : pivot_;
    const char* order = pivotKind_.kind == ValueKind::Time ? kMomentCollation : kNoCaseCollation;
    return composeMapped(u"SELECT DISTINCT %1 %2 ORDER BY 1 COLLATE %3", at, {item, fromWhere_, MappedText(QLatin1String(order), at)});
}

MappedText Crosstab::rowsOf(const PivotValue& v) const {
    const Span at = pivot_.span();
    MappedText pivot = composeMapped(u"(%1)", at, {pivot_});
    if (v.typed) return composeMapped(u"%1 IS %2", at, {pivot, v.literal});
    MappedText value = v.literal;
    ValueKind kind = pivotKind_.kind;
    bool column = pivotKind_.column;
    auto readWhenRun = [&](const char* function) {
        const Binding::Wrap w = tarlo::readWhenRun(function, pivotKind_);
        pivot = composeMapped(u"%1%2%3", at, {MappedText(w.before, at), pivot, MappedText(w.after, at)});
        column = false;
    };
    // A time is compared as the date read from it.
    if (kind == ValueKind::Time) readWhenRun(call::kDateOf), kind = ValueKind::Date;
    const std::vector<Token> tokens = tokenize(v.literal.text());
    const QString written = v.kind == ValueKind::Text && tokens.size() == 1 ? unquotedText(tokens[0]) : v.literal.text();
    auto replace = [&](const std::optional<QString>& literal) {
        if (literal) value = MappedText(*literal, v.literal.span());
    };
    if (v.kind == ValueKind::Null || kind == ValueKind::Unknown || kind == ValueKind::Null || v.kind == kind) {
        // The values query found texts alike ignoring case: so do the columns' rows.
        if (v.kind == ValueKind::Text && (kind == ValueKind::Text || kind == ValueKind::Unknown) && !column)
            value = composeMapped(u"(%1) COLLATE %2", at, {value, MappedText(QLatin1String(kNoCaseCollation), at)});
    } else if (kind == ValueKind::Number && v.kind == ValueKind::Text) {
        replace(numberLiteralOf(written));
    } else if (kind == ValueKind::Text && v.kind == ValueKind::Number) {
        readWhenRun(call::kNumberOf);
    } else if (kind == ValueKind::Date) {
        replace(dateLiteralOf(written, v.kind == ValueKind::Number));
    } else if (v.kind == ValueKind::Date) {
        readWhenRun(call::kDateOf);
    }
    return composeMapped(u"%1 IS %2", at, {pivot, value});
}

MappedText Crosstab::query(const std::vector<PivotValue>& values) const {
    // FILTER gives each aggregate only its value's rows, so First and Last
    // see them alone. Over no rows every aggregate is null, Count too, and
    // the expression is worked out of them: a cell without rows is empty
    // for Count(x) and Sum(x), and 0 for Nz(Sum(x), 0).
    MappedText columns;
    for (const PivotValue& v : values) {
        const MappedText filter = composeMapped(u" FILTER (WHERE %1)", pivot_.span(), {rowsOf(v)});
        std::map<NodeId, MappedText> after, before;
        for (const NodeId a : aggregates_) {
            after[a] = filter;
            const auto count = counts_.find(a);
            if (single_ || count == counts_.end()) continue;
            const Span at = count->second;
            before[a] = composeMapped(u"(CASE WHEN count(*)%1 > 0 THEN ", at, {filter});
            after[a].append(QStringLiteral(" END)"), at);
        }
        MappedText cell = writer_->node(value_, after, before);
        // What the rewrite puts in stands for the TRANSFORM expression.
        const Span cellSpan = cell.span();
        if (countAll_) cell = composeMapped(u"nullif(%1, 0)", cellSpan, {cell});
        else if (count_) cell = composeMapped(u"CASE WHEN count(*)%1 > 0 THEN %2 END", cellSpan, {filter, cell});
        columns.append(composeMapped(u", %1 AS %2", cellSpan, {cell, MappedText(quotedName(v.name), v.literal.span())}));
    }
    return composeMapped(u"%1%2 %3 %4 %5", selectList_.span(), {selectList_, columns, fromWhere_, groupBy_, orderBy_});
}

}  // namespace tarlo
