#include "dialect/crosstab.h"

#include "platform/error.h"
#include "dialect/sql_quote.h"
#include "dialect/token_edit.h"

namespace tarlo {

namespace {

[[noreturn]] void malformed(const QString& why) {
    throw Error(ErrorFacts{}, u"クロス集計 (TRANSFORM ... PIVOT) の書き方が違います: %1。", why);
}

QString trimmed(const std::vector<Token>& tokens, size_t from, size_t to) {
    return textOf(tokens, from, to).trimmed();
}

}  // namespace

std::optional<Crosstab> Crosstab::parse(const QString& sql) {
    std::vector<Token> tokens = tokenize(sql);
    const size_t first = nextSignificant(tokens, 0);
    if (first >= tokens.size() || !isKeyword(tokens[first], "TRANSFORM")) return std::nullopt;
    size_t end = tokens.size();
    while (end > 0 && (!isSignificant(tokens[end - 1]) || isSymbol(tokens[end - 1], ";"))) --end;

    Crosstab c;
    const size_t select = findAtTop(tokens, first + 1, end, "SELECT");
    const size_t name = nextSignificant(tokens, first + 1);
    const size_t open = nextSignificant(tokens, name + 1);
    if (select >= end) malformed(QStringLiteral("SELECT がありません"));
    if (name >= select || tokens[name].kind != TokenKind::Word || open >= select || !isSymbol(tokens[open], "(") ||
        nextSignificant(tokens, matchingClose(tokens, open) + 1) != select)
        malformed(QStringLiteral("TRANSFORM の後には Sum(列) のような集計をひとつ書きます"));
    c.function_ = tokens[name].text;
    c.argument_ = trimmed(tokens, open + 1, matchingClose(tokens, open));
    if (c.argument_ == QLatin1String("*")) c.argument_ = QStringLiteral("1");

    const size_t pivot = findAtTop(tokens, select, end, "PIVOT");
    if (pivot >= end) malformed(QStringLiteral("PIVOT がありません"));
    const size_t from = findAtTop(tokens, select, pivot, "FROM");
    const size_t group = findAtTop(tokens, select, pivot, "GROUP");
    if (from >= pivot) malformed(QStringLiteral("FROM がありません"));
    if (group >= pivot) malformed(QStringLiteral("GROUP BY がありません"));
    const size_t order = findAtTop(tokens, group, pivot, "ORDER");
    c.selectList_ = trimmed(tokens, select, from);
    c.fromWhere_ = trimmed(tokens, from, group);
    c.groupBy_ = trimmed(tokens, group, order);
    c.orderBy_ = trimmed(tokens, order, pivot);

    const size_t in = findAtTop(tokens, pivot + 1, end, "IN");
    c.pivot_ = trimmed(tokens, pivot + 1, in);
    if (c.pivot_.isEmpty()) malformed(QStringLiteral("PIVOT の後に列がありません"));
    if (in < end) {
        const size_t listOpen = nextSignificant(tokens, in + 1);
        const size_t listClose = listOpen < end ? matchingClose(tokens, listOpen) : end;
        if (listOpen >= end || !isSymbol(tokens[listOpen], "(") || listClose >= end ||
            nextSignificant(tokens, listClose + 1) < end)
            malformed(QStringLiteral("IN の後には (値, 値, ...) を書きます"));
        c.hasList_ = true;
        size_t start = listOpen + 1;
        for (size_t i = listOpen + 1; i <= listClose; ++i) {
            if (i < listClose && !isSymbol(tokens[i], ",")) continue;
            const QString literal = trimmed(tokens, start, i);
            const size_t only = nextSignificant(tokens, start);
            const QString heading = only < i && nextSignificant(tokens, only + 1) >= i ? unquotedText(tokens[only]) : literal;
            if (literal.isEmpty()) malformed(QStringLiteral("IN の値が空です"));
            c.listed_.push_back({literal, heading});
            start = i + 1;
        }
    }
    return c;
}

QString Crosstab::valuesQuery() const {
    if (hasList_) return {};
    return QStringLiteral("SELECT DISTINCT %1 %2 ORDER BY 1").arg(pivot_, fromWhere_);
}

QString Crosstab::query(const std::vector<PivotValue>& values) const {
    // FILTER gives each aggregate only its value's rows, so First and Last
    // see them alone; a cell without rows is empty, even for Count.
    const bool counts = function_.compare(QLatin1String("count"), Qt::CaseInsensitive) == 0;
    QString columns;
    for (const PivotValue& v : values) {
        const QString filter = QStringLiteral("FILTER (WHERE (%1) IS %2)").arg(pivot_, v.literal);
        QString cell = QStringLiteral("%1(%2) %3").arg(function_, argument_, filter);
        if (counts && argument_ == QLatin1String("1")) cell = QStringLiteral("nullif(%1, 0)").arg(cell);
        else if (counts) cell = QStringLiteral("CASE WHEN count(*) %1 > 0 THEN %2 END").arg(filter, cell);
        columns += QStringLiteral(", %1 AS %2").arg(cell, quotedName(v.name));
    }
    return QStringLiteral("%1%2 %3 %4 %5").arg(selectList_, columns, fromWhere_, groupBy_, orderBy_);
}

}  // namespace tarlo
