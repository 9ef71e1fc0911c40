#include "dialect/crosstab.h"

#include "dialect/placed_error.h"
#include "platform/error.h"
#include "dialect/sql_quote.h"
#include "dialect/token_edit.h"

#include <algorithm>

namespace tarlo {

namespace {

// at: where the fault stands, or where what is missing was looked for.
[[noreturn]] void malformed(Span at, const QString& why) {
    throw PlacedError(at, Error(ErrorFacts{}, u"クロス集計 (TRANSFORM ... PIVOT) の書き方が違います: %1。", why));
}

MappedText trimmed(const std::vector<Token>& tokens, size_t from, size_t to) {
    return mappedTextOf(tokens, from, to).trimmed();
}

// An aggregate's name followed by "(" at i.
bool isAggregateCall(const std::vector<Token>& tokens, size_t i, const IsAggregate& isAggregate) {
    if (tokens[i].kind != TokenKind::Word) return false;
    const size_t open = nextSignificant(tokens, i + 1);
    return open < tokens.size() && isSymbol(tokens[open], "(") && isAggregate(tokens[i].text);
}

}  // namespace

std::optional<Crosstab> Crosstab::parse(const MappedText& sql, const IsAggregate& isAggregate) {
    std::vector<Token> tokens = tokenize(sql);
    const size_t first = nextSignificant(tokens, 0);
    if (first >= tokens.size() || !isKeyword(tokens[first], "TRANSFORM")) return std::nullopt;
    size_t end = tokens.size();
    while (end > 0 && (!isSignificant(tokens[end - 1]) || isSymbol(tokens[end - 1], ";"))) --end;

    Crosstab c;
    c.isAggregate_ = isAggregate;
    const size_t select = findAtTop(tokens, first + 1, end, "SELECT");
    const Span transform = tokens[first].span;
    if (select >= end) malformed(transform, QStringLiteral("SELECT がありません"));
    // The value: any expression of aggregates (Sum(v), Nz(Sum(v), 0), Sum(v) * 2);
    // a name given to it (AS total) names nothing, the columns being the pivot's values.
    size_t valueEnd = findAtTop(tokens, first + 1, select, "AS");
    valueEnd = std::min(valueEnd, select);
    c.value_ = trimmed(tokens, first + 1, valueEnd);
    bool aggregate = false;
    for (size_t i = first + 1; i < valueEnd; ++i) aggregate = aggregate || isAggregateCall(tokens, i, isAggregate);
    if (c.value_.isEmpty() || !aggregate)
        malformed(c.value_.isEmpty() ? transform : c.value_.span(), QStringLiteral("TRANSFORM の後には Sum(列) のような集計を書きます"));

    const size_t pivot = findAtTop(tokens, select, end, "PIVOT");
    if (pivot >= end) malformed(transform, QStringLiteral("PIVOT がありません"));
    const size_t from = findAtTop(tokens, select, pivot, "FROM");
    const size_t group = findAtTop(tokens, select, pivot, "GROUP");
    if (from >= pivot) malformed(tokens[pivot].span, QStringLiteral("FROM がありません"));
    if (group >= pivot) malformed(tokens[pivot].span, QStringLiteral("GROUP BY がありません"));
    const size_t order = findAtTop(tokens, group, pivot, "ORDER");
    c.selectList_ = trimmed(tokens, select, from);
    c.fromWhere_ = trimmed(tokens, from, group);
    c.groupBy_ = trimmed(tokens, group, order);
    c.orderBy_ = trimmed(tokens, order, pivot);

    const size_t in = findAtTop(tokens, pivot + 1, end, "IN");
    c.pivot_ = trimmed(tokens, pivot + 1, in);
    if (c.pivot_.isEmpty()) malformed(tokens[pivot].span, QStringLiteral("PIVOT の後に列がありません"));
    if (in < end) {
        const size_t listOpen = nextSignificant(tokens, in + 1);
        const size_t listClose = listOpen < end ? matchingClose(tokens, listOpen) : end;
        if (listOpen >= end || !isSymbol(tokens[listOpen], "(") || listClose >= end ||
            nextSignificant(tokens, listClose + 1) < end)
            malformed(tokens[in].span, QStringLiteral("IN の後には (値, 値, ...) を書きます"));
        c.hasList_ = true;
        size_t start = listOpen + 1;
        for (size_t i = listOpen + 1; i <= listClose; ++i) {
            if (i < listClose && !isSymbol(tokens[i], ",")) continue;
            const MappedText literal = trimmed(tokens, start, i);
            const size_t only = nextSignificant(tokens, start);
            const QString heading = only < i && nextSignificant(tokens, only + 1) >= i ? unquotedText(tokens[only]) : literal.text();
            if (literal.isEmpty()) malformed(tokens[i].span, QStringLiteral("IN の値が空です"));
            c.listed_.push_back({literal, heading});
            start = i + 1;
        }
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
    const std::vector<Token> value = tokenize(value_);
    const size_t head = nextSignificant(value, 0);
    const size_t open = head < value.size() ? nextSignificant(value, head + 1) : value.size();
    const bool single = isAggregateCall(value, head, isAggregate_) && nextSignificant(value, matchingClose(value, open) + 1) >= value.size();
    const bool countAll = single && isKeyword(value[head], "COUNT") && textOf(value, open + 1, matchingClose(value, open)).trimmed() == QLatin1String("*");
    // What the rewrite puts in stands for the TRANSFORM expression, or for the pivot in a filter.
    const Span cellSpan = value_.span();
    MappedText columns;
    for (const PivotValue& v : values) {
        const MappedText filter = composeMapped(u" FILTER (WHERE (%1) IS %2)", pivot_.span(), {pivot_, v.literal});
        MappedText cell;
        for (size_t i = 0; i < value.size(); ++i) {
            cell.append(value[i].text, value[i].span);
            if (!isAggregateCall(value, i, isAggregate_)) continue;
            const size_t close = matchingClose(value, nextSignificant(value, i + 1));
            if (close >= value.size()) break;
            cell.append(mappedTextOf(value, i + 1, close + 1));
            cell.append(filter);
            i = close;
        }
        if (countAll) cell = composeMapped(u"nullif(%1, 0)", cellSpan, {cell});
        else if (!single || isKeyword(value[head], "COUNT"))
            cell = composeMapped(u"CASE WHEN count(*)%1 > 0 THEN %2 END", cellSpan, {filter, cell});
        columns.append(composeMapped(u", %1 AS %2", cellSpan, {cell, MappedText(quotedName(v.name), v.literal.span())}));
    }
    return composeMapped(u"%1%2 %3 %4 %5", selectList_.span(), {selectList_, columns, fromWhere_, groupBy_, orderBy_});
}

}  // namespace tarlo
