#include "dialect/top.h"

#include "platform/error.h"
#include "dialect/internal_names.h"
#include "dialect/operators.h"
#include "dialect/placed_error.h"
#include "dialect/sql_quote.h"
#include "dialect/token_edit.h"

#include <QStringList>

namespace tarlo {

namespace {

using Range = std::pair<size_t, size_t>;

bool isCompoundWord(const Token& t) {
    return isKeyword(t, "UNION") || isKeyword(t, "EXCEPT") || isKeyword(t, "INTERSECT");
}

// Where the SELECT at i ends: before the ")" that closes its scope, the
// statement's end or ";", or the UNION after it; compound tells which.
size_t endOfSelect(const std::vector<Token>& tokens, size_t i, bool& compound) {
    int depth = 0;
    size_t last = i;
    compound = false;
    for (size_t k = i + 1; k < tokens.size(); ++k) {
        const Token& t = tokens[k];
        if (!isSignificant(t)) continue;
        if (isSymbol(t, "(")) ++depth;
        else if (isSymbol(t, ")") && --depth < 0) break;
        else if (depth == 0 && isSymbol(t, ";")) break;
        else if (depth == 0 && isCompoundWord(t)) {
            compound = true;
            break;
        }
        last = k;
    }
    return last + 1;
}

bool followsCompoundWord(const std::vector<Token>& tokens, size_t i) {
    const size_t before = previousSignificant(tokens, i);
    return before < tokens.size() && (isCompoundWord(tokens[before]) || isKeyword(tokens[before], "ALL"));
}

std::vector<Range> splitAtCommas(const std::vector<Token>& tokens, size_t from, size_t to) {
    std::vector<Range> parts;
    int depth = 0;
    size_t start = from;
    for (size_t k = from; k < to; ++k) {
        if (isSymbol(tokens[k], "(")) ++depth;
        else if (isSymbol(tokens[k], ")")) --depth;
        else if (depth == 0 && isSymbol(tokens[k], ",")) {
            parts.emplace_back(start, k);
            start = k + 1;
        }
    }
    parts.emplace_back(start, to);
    return parts;
}

// The significant tokens of a range.
std::vector<size_t> significantIn(const std::vector<Token>& tokens, Range r) {
    std::vector<size_t> out;
    for (size_t k = r.first; k < r.second; ++k)
        if (isSignificant(tokens[k])) out.push_back(k);
    return out;
}

bool isName(const Token& t) {
    return t.kind == TokenKind::Word || t.kind == TokenKind::Bracketed || t.kind == TokenKind::DoubleQuoted ||
           t.kind == TokenKind::Backticked;
}

// The ORDER BY terms of the member, written so they read against its
// FROM: select-list aliases and ordinals become the expressions they
// stand for. Empty when a term cannot be written so. What the rewrite
// puts in stands for fill.
MappedText orderTermsAgainstSource(const std::vector<Token>& tokens, Range selectList, Range orderTerms, Span fill) {
    struct Item {
        MappedText expression;
        QString alias;
    };
    std::vector<Item> items;
    for (const Range& r : splitAtCommas(tokens, selectList.first, selectList.second)) {
        const std::vector<size_t> s = significantIn(tokens, r);
        if (s.empty()) return {};
        Item item{mappedTextOf(tokens, r.first, r.second).trimmed(), {}};
        if (s.size() >= 3 && isKeyword(tokens[s[s.size() - 2]], "AS") && isName(tokens[s.back()])) {
            item.expression = mappedTextOf(tokens, r.first, s[s.size() - 2]).trimmed();
            item.alias = unquotedText(tokens[s.back()]);
        }
        items.push_back(item);
    }
    std::vector<MappedText> terms;
    for (const Range& r : splitAtCommas(tokens, orderTerms.first, orderTerms.second)) {
        std::vector<size_t> s = significantIn(tokens, r);
        if (s.empty()) return {};
        MappedText direction;
        if (isKeyword(tokens[s.back()], "ASC") || isKeyword(tokens[s.back()], "DESC")) {
            direction = MappedText(QLatin1Char(' ') + tokens[s.back()].text, tokens[s.back()].span);
            s.pop_back();
        }
        if (s.empty()) return {};
        MappedText term = mappedTextOf(tokens, s.front(), s.back() + 1).trimmed();
        if (s.size() == 1 && tokens[s[0]].kind == TokenKind::Number) {
            const size_t ordinal = size_t(tokens[s[0]].text.toULongLong());
            if (ordinal < 1 || ordinal > items.size() || items[ordinal - 1].expression.text().contains(QLatin1Char('*')))
                return {};
            term = items[ordinal - 1].expression;
        } else if (s.size() == 1 && isName(tokens[s[0]])) {
            for (const Item& item : items)
                if (!item.alias.isEmpty() && item.alias.compare(unquotedText(tokens[s[0]]), Qt::CaseInsensitive) == 0)
                    term = item.expression;
        }
        terms.push_back(composeMapped(u"(%1)%2", fill, {term, direction}));
    }
    return joinMapped(terms, QStringLiteral(", "), fill);
}

// Whether the member [from, to) names a table its own FROM clauses do not
// bring (o.cat in a subquery that reads "t AS i"): it is correlated, and
// SQLite lets no LIMIT read the outer row.
bool isCorrelated(const std::vector<Token>& tokens, size_t from, size_t to) {
    QStringList defined, used;
    for (size_t k = from; k < to; ++k) {
        if (!isSignificant(tokens[k])) continue;
        const size_t before = previousSignificant(tokens, k);
        const bool afterFrom = before < tokens.size() &&
                               (isKeyword(tokens[before], "FROM") || isKeyword(tokens[before], "JOIN") ||
                                isKeyword(tokens[before], "AS") || (isSymbol(tokens[before], ",") && !defined.isEmpty()));
        if (isName(tokens[k]) && afterFrom) {
            defined << unquotedText(tokens[k]);
            const size_t alias = nextSignificant(tokens, k + 1);
            if (alias < to && isName(tokens[alias]) && !isReservedWord(tokens[alias])) defined << unquotedText(tokens[alias]);
        }
        const size_t dot = nextSignificant(tokens, k + 1);
        if (isName(tokens[k]) && dot < to && isSymbol(tokens[dot], ".")) used << unquotedText(tokens[k]);
    }
    for (const QString& q : used)
        if (!defined.contains(q, Qt::CaseInsensitive)) return true;
    return false;
}

// Whether the select list has a * or t.* item.
bool selectsAll(const std::vector<Token>& tokens, Range selectList) {
    for (const Range& r : splitAtCommas(tokens, selectList.first, selectList.second)) {
        const std::vector<size_t> s = significantIn(tokens, r);
        if (!s.empty() && isSymbol(tokens[s.back()], "*")) return true;
    }
    return false;
}

// The name a select item's column goes by, for a statement around it.
QString itemName(const std::vector<Token>& tokens, Range r) {
    const std::vector<size_t> s = significantIn(tokens, r);
    if (s.size() >= 3 && isKeyword(tokens[s[s.size() - 2]], "AS")) return unquotedText(tokens[s.back()]);
    if (s.size() == 1 && isName(tokens[s[0]])) return unquotedText(tokens[s[0]]);
    if (s.size() == 3 && isName(tokens[s[0]]) && isSymbol(tokens[s[1]], ".") && isName(tokens[s[2]]))
        return unquotedText(tokens[s[2]]);
    return {};
}

// SELECT TOP n items FROM ... ORDER BY terms, correlated: ranked in a table
// of its own, which may read the outer row, and cut at the rank.
MappedText rankedMember(const std::vector<Token>& tokens, Range selectList, size_t from, size_t order, const MappedText& terms,
                        const MappedText& rows, Span fill) {
    std::vector<MappedText> inner, outer;
    int unnamed = 0;
    for (const Range& r : splitAtCommas(tokens, selectList.first, selectList.second)) {
        const MappedText text = mappedTextOf(tokens, r.first, r.second).trimmed();
        const QString name = itemName(tokens, r);
        if (name.isEmpty()) {
            const MappedText made(QStringLiteral("tarlo_item%1").arg(++unnamed), text.span());
            inner.push_back(composeMapped(u"%1 AS %2", text.span(), {text, made}));
            outer.push_back(composeMapped(u"%1 AS %2", text.span(), {made, MappedText(quotedName(text.text()), text.span())}));
        } else {
            inner.push_back(text);
            outer.push_back(MappedText(quotedName(name), text.span()));
        }
    }
    return composeMapped(u"SELECT %1 FROM (SELECT %2, rank() OVER (ORDER BY %3) AS %6 %4) WHERE %6 <= %5 ORDER BY %6", fill,
                         {joinMapped(outer, QStringLiteral(", "), fill), joinMapped(inner, QStringLiteral(", "), fill), terms,
                          mappedTextOf(tokens, from, order).trimmed(), rows, MappedText(QLatin1String(call::kRank), fill)});
}

}  // namespace

void rewriteTop(std::vector<Token>& tokens) {
    // Each TOP copies its SELECT's body, inner TOPs already rewritten: nesting
    // doubles the text at each level, so the growth is bounded.
    constexpr qsizetype kMaxGrowth = 200'000;
    qsizetype grown = 0;
    const auto grow = [&](qsizetype n) {
        if ((grown += n) > kMaxGrowth)
            throw Error(QStringLiteral("文が複雑すぎます。TOP を含む SELECT の入れ子が深すぎて書き換えられません。"));
    };
    for (size_t i = tokens.size(); i-- > 0;) {
        if (!isKeyword(tokens[i], "SELECT")) continue;
        size_t top = nextSignificant(tokens, i + 1);
        const bool distinct = top < tokens.size() && isKeyword(tokens[top], "DISTINCT");
        if (top < tokens.size() && (distinct || isKeyword(tokens[top], "ALL"))) top = nextSignificant(tokens, top + 1);
        if (top >= tokens.size() || !isKeyword(tokens[top], "TOP")) continue;
        const size_t count = nextSignificant(tokens, top + 1);
        if (count >= tokens.size() || tokens[count].kind != TokenKind::Number)
            throw PlacedError(tokens[top].span, Error(QStringLiteral("TOP の後に行数がありません。")));
        const size_t after = nextSignificant(tokens, count + 1);
        const bool percent = after < tokens.size() && isKeyword(tokens[after], "PERCENT");
        // What the rewrite puts in stands for TOP n.
        const Span fill{tokens[top].span.offset, tokens[count].span.end() - tokens[top].span.offset};
        const MappedText n(tokens[count].text, tokens[count].span);
        tokens[top].text.clear();
        tokens[count].text.clear();
        if (percent) tokens[after].text.clear();
        bool compound = false;
        const size_t end = endOfSelect(tokens, i, compound);

        MappedText rows = n;
        if (percent) {
            // The share rounds up, so TOP 50 PERCENT of 3 rows gives 2.
            const MappedText share =
                composeMapped(u"(SELECT count(*) * %1 / 100.0 FROM (%2))", fill, {n, mappedTextOf(tokens, i, end)});
            rows = composeMapped(
                u"(SELECT CAST(x AS INTEGER) + CASE WHEN x > CAST(x AS INTEGER) THEN 1 ELSE 0 END FROM (SELECT %1 AS x))",
                fill, {share});
        }
        MappedText limit = composeMapped(u" LIMIT %1", fill, {rows});
        // Rows that tie with the last one come too: count the rows whose rank is within the limit.
        const size_t from = findAtTop(tokens, i, end, "FROM");
        const size_t order = findAtTop(tokens, i, end, "ORDER");
        const size_t by = nextSignificant(tokens, order + 1);
        if (!distinct && from < order && order < end && by < end && isKeyword(tokens[by], "BY")) {
            // The items begin after ALL (TOP and its count are blank by now).
            const Range items{top, from};
            const MappedText terms = orderTermsAgainstSource(tokens, items, {by + 1, end}, fill);
            const bool correlated = !terms.isEmpty() && isCorrelated(tokens, i, end);
            if (correlated && !selectsAll(tokens, items)) {
                const MappedText member = rankedMember(tokens, items, from, order, terms, rows, fill);
                grow(member.text().size());
                tokens.erase(tokens.begin() + std::ptrdiff_t(i), tokens.begin() + std::ptrdiff_t(end));
                tokens.insert(tokens.begin() + std::ptrdiff_t(i), composedToken(member));
                continue;
            }
            // A correlated SELECT TOP n * cannot name its items for a table around it: the first n
            // rows without their ties, which a plain LIMIT may take from the outer row.
            if (!terms.isEmpty() && !correlated) {
                // The items come along, so HAVING may name them as it does without TOP.
                limit = composeMapped(u" LIMIT (SELECT count(*) FROM (SELECT %1, rank() OVER (ORDER BY %2) AS %5 %3) "
                                      u"WHERE %5 <= %4)",
                                      fill,
                                      {mappedTextOf(tokens, items.first, items.second).trimmed(), terms,
                                       mappedTextOf(tokens, from, order).trimmed(), rows,
                                       MappedText(QLatin1String(call::kRank), fill)});
            }
        }
        grow(limit.text().size());
        const bool wrap = compound || followsCompoundWord(tokens, i);
        if (wrap) limit.append(QStringLiteral(")"), fill);
        tokens.insert(tokens.begin() + std::ptrdiff_t(end), composedToken(limit));
        if (wrap) tokens[i].text = QStringLiteral("SELECT * FROM (SELECT");
    }
}

}  // namespace tarlo
