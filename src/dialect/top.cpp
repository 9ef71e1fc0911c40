#include "dialect/top.h"

#include "platform/error.h"
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
// stand for. Empty when a term cannot be written so.
QString orderTermsAgainstSource(const std::vector<Token>& tokens, Range selectList, Range orderTerms) {
    struct Item {
        QString expression, alias;
    };
    std::vector<Item> items;
    for (const Range& r : splitAtCommas(tokens, selectList.first, selectList.second)) {
        const std::vector<size_t> s = significantIn(tokens, r);
        if (s.empty()) return {};
        Item item{textOf(tokens, r.first, r.second).trimmed(), {}};
        if (s.size() >= 3 && isKeyword(tokens[s[s.size() - 2]], "AS") && isName(tokens[s.back()])) {
            item.expression = textOf(tokens, r.first, s[s.size() - 2]).trimmed();
            item.alias = unquotedText(tokens[s.back()]);
        }
        items.push_back(item);
    }
    QStringList terms;
    for (const Range& r : splitAtCommas(tokens, orderTerms.first, orderTerms.second)) {
        std::vector<size_t> s = significantIn(tokens, r);
        if (s.empty()) return {};
        QString direction;
        if (isKeyword(tokens[s.back()], "ASC") || isKeyword(tokens[s.back()], "DESC")) {
            direction = QLatin1Char(' ') + tokens[s.back()].text;
            s.pop_back();
        }
        if (s.empty()) return {};
        QString term = textOf(tokens, s.front(), s.back() + 1).trimmed();
        if (s.size() == 1 && tokens[s[0]].kind == TokenKind::Number) {
            const size_t ordinal = size_t(tokens[s[0]].text.toULongLong());
            if (ordinal < 1 || ordinal > items.size() || items[ordinal - 1].expression.contains(QLatin1Char('*')))
                return {};
            term = items[ordinal - 1].expression;
        } else if (s.size() == 1 && isName(tokens[s[0]])) {
            for (const Item& item : items)
                if (!item.alias.isEmpty() && item.alias.compare(unquotedText(tokens[s[0]]), Qt::CaseInsensitive) == 0)
                    term = item.expression;
        }
        terms << QStringLiteral("(%1)%2").arg(term, direction);
    }
    return terms.join(QStringLiteral(", "));
}

}  // namespace

void rewriteTop(std::vector<Token>& tokens) {
    for (size_t i = tokens.size(); i-- > 0;) {
        if (!isKeyword(tokens[i], "SELECT")) continue;
        size_t top = nextSignificant(tokens, i + 1);
        const bool distinct = top < tokens.size() && isKeyword(tokens[top], "DISTINCT");
        if (top < tokens.size() && (distinct || isKeyword(tokens[top], "ALL"))) top = nextSignificant(tokens, top + 1);
        if (top >= tokens.size() || !isKeyword(tokens[top], "TOP")) continue;
        const size_t count = nextSignificant(tokens, top + 1);
        if (count >= tokens.size() || tokens[count].kind != TokenKind::Number)
            throw Error(QStringLiteral("TOP の後に行数がありません。"));
        const size_t after = nextSignificant(tokens, count + 1);
        const bool percent = after < tokens.size() && isKeyword(tokens[after], "PERCENT");
        const QString n = tokens[count].text;
        tokens[top].text.clear();
        tokens[count].text.clear();
        if (percent) tokens[after].text.clear();
        bool compound = false;
        const size_t end = endOfSelect(tokens, i, compound);

        QString rows = n;
        if (percent) {
            // The share rounds up, so TOP 50 PERCENT of 3 rows gives 2.
            const QString share = QStringLiteral("(SELECT count(*) * %1 / 100.0 FROM (%2))").arg(n, textOf(tokens, i, end));
            rows = QStringLiteral("(SELECT CAST(x AS INTEGER) + CASE WHEN x > CAST(x AS INTEGER) THEN 1 ELSE 0 END FROM (SELECT %1 AS x))").arg(share);
        }
        QString limit = QStringLiteral(" LIMIT ") + rows;
        // Rows that tie with the last one come too: count the rows whose rank is within the limit.
        const size_t from = findAtTop(tokens, i, end, "FROM");
        const size_t order = findAtTop(tokens, i, end, "ORDER");
        const size_t by = nextSignificant(tokens, order + 1);
        if (!distinct && from < order && order < end && by < end && isKeyword(tokens[by], "BY")) {
            const QString terms = orderTermsAgainstSource(tokens, {nextSignificant(tokens, i + 1), from}, {by + 1, end});
            if (!terms.isEmpty()) {
                limit = QStringLiteral(" LIMIT (SELECT count(*) FROM (SELECT rank() OVER (ORDER BY %1) AS tarlo_rank %2) "
                                       "WHERE tarlo_rank <= %3)")
                            .arg(terms, textOf(tokens, from, order).trimmed(), rows);
            }
        }
        const bool wrap = compound || followsCompoundWord(tokens, i);
        tokens.insert(tokens.begin() + std::ptrdiff_t(end), Token{TokenKind::Word, wrap ? limit + QStringLiteral(")") : limit, 0});
        if (wrap) tokens[i].text = QStringLiteral("SELECT * FROM (SELECT");
    }
}

}  // namespace tarlo
