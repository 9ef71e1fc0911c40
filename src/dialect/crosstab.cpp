#include "dialect/crosstab.h"

#include "dialect/placed_error.h"
#include "dialect/sql_quote.h"
#include "dialect/token_edit.h"
#include "platform/error.h"

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
    c.hasList_ = t.hasList;
    for (const NodeId v : t.list) {
        const Node& n = tree.node(v);
        const MappedText literal = writer.node(v);
        const bool single = writer.firstToken(n.span) == writer.lastToken(n.span);
        c.listed_.push_back({literal, single ? unquotedText(tree.token(writer.firstToken(n.span))) : literal.text()});
    }
    return c;
}

MappedText Crosstab::valuesQuery() const {
    if (hasList_) return {};
    return composeMapped(u"SELECT DISTINCT %1 %2 ORDER BY 1", pivot_.span(), {pivot_, fromWhere_});
}

MappedText Crosstab::query(const std::vector<PivotValue>& values) const {
    // FILTER gives each aggregate only its value's rows, so First and Last
    // see them alone; a cell without rows is empty, even for Count or Nz(...).
    MappedText columns;
    for (const PivotValue& v : values) {
        const MappedText filter = composeMapped(u" FILTER (WHERE (%1) IS %2)", pivot_.span(), {pivot_, v.literal});
        std::map<NodeId, MappedText> after;
        for (const NodeId a : aggregates_) after[a] = filter;
        MappedText cell = writer_->node(value_, after);
        // What the rewrite puts in stands for the TRANSFORM expression.
        const Span cellSpan = cell.span();
        if (countAll_) cell = composeMapped(u"nullif(%1, 0)", cellSpan, {cell});
        else if (!single_ || count_)
            cell = composeMapped(u"CASE WHEN count(*)%1 > 0 THEN %2 END", cellSpan, {filter, cell});
        columns.append(composeMapped(u", %1 AS %2", cellSpan, {cell, MappedText(quotedName(v.name), v.literal.span())}));
    }
    return composeMapped(u"%1%2 %3 %4 %5", selectList_.span(), {selectList_, columns, fromWhere_, groupBy_, orderBy_});
}

}  // namespace tarlo
