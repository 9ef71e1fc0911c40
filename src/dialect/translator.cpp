#include "dialect/translator.h"

#include "platform/error.h"
#include "values/column_types.h"
#include "dialect/operators.h"
#include "dialect/top.h"
#include "dialect/internal_names.h"
#include "dialect/placed_error.h"
#include "dialect/sql_lexer.h"
#include "dialect/sql_quote.h"
#include "dialect/token_edit.h"

#include <QDate>

#include <algorithm>
#include <iterator>
#include <optional>

namespace tarlo {

namespace {

// Reads a run of min to max ASCII digits at `at`; -1 when there is none.
int digitsAt(const QString& text, qsizetype& at, int min, int max) {
    int value = 0, n = 0;
    while (at < text.size() && n < max && text[at] >= u'0' && text[at] <= u'9') {
        value = value * 10 + (text[at].unicode() - '0');
        ++at, ++n;
    }
    return n >= min ? value : -1;
}

bool dateSeparatorAt(const QString& text, qsizetype& at) {
    if (at >= text.size() || (text[at] != u'/' && text[at] != u'-')) return false;
    ++at;
    return true;
}

// #2024/01/31#, #2024-01-31 10:00#, and the month-first #1/31/2024#.
// Read by hand: a regular expression keeps per-thread state that the
// Windows thread runtime frees wrongly when a run's thread ends.
QString dateLiteral(const Token& t) {
    const QString inner = t.text.mid(1, t.text.size() - 2).trimmed();
    auto invalid = [&] {
        return PlacedError(t.span, Error(ErrorFacts{.word = t.text}, u"日付 %1 は正しい日付ではありません。", t.text));
    };
    qsizetype at = 0;
    int y = 0, m = 0, d = 0;
    const int first = digitsAt(inner, at, 1, 4);
    const bool yearFirst = at == 4;
    if (first < 0 || at == 3 || !dateSeparatorAt(inner, at)) throw invalid();
    const int second = digitsAt(inner, at, 1, 2);
    if (second < 0 || !dateSeparatorAt(inner, at)) throw invalid();
    const int third = yearFirst ? digitsAt(inner, at, 1, 2) : digitsAt(inner, at, 4, 4);
    if (third < 0 || (at < inner.size() && inner[at] >= u'0' && inner[at] <= u'9')) throw invalid();
    if (yearFirst) y = first, m = second, d = third;
    else m = first, d = second, y = third;
    int hour = 0, minute = 0, sec = 0;
    if (at < inner.size()) {
        const qsizetype blanks = at;
        while (at < inner.size() && (inner[at] == u' ' || (inner[at] >= u'\t' && inner[at] <= u'\r'))) ++at;
        if (at == blanks || (hour = digitsAt(inner, at, 1, 2)) < 0 || at >= inner.size() || inner[at++] != u':' ||
            (minute = digitsAt(inner, at, 2, 2)) < 0)
            throw invalid();
        if (at < inner.size() && (inner[at++] != u':' || (sec = digitsAt(inner, at, 2, 2)) < 0)) throw invalid();
        if (at != inner.size()) throw invalid();
    }
    if (!QDate::isValid(y, m, d) || hour > 23 || minute > 59 || sec > 59) throw invalid();
    return quotedString(QString::fromStdString(formatDateTime(packDate({y, m, d, hour, minute, sec}), true)));
}

// How deep brackets and IIf may nest: SQLite's parser takes about a hundred
// levels, and the old engine refused far less.
constexpr int kMaxNesting = 200;
constexpr int kMaxConditionalDepth = 100;

class Translator {
public:
    explicit Translator(const MappedText& sql) : tokens_(tokenize(sql)) {}

    MappedText run() {
        checkBrackets();
        rewriteSimpleTokens();
        rewriteKeywordFunctions();
        rewriteConditionals();
        rewriteJetOperators(tokens_);
        rewriteTop(tokens_);
        return mappedTextOf(tokens_);
    }

private:
    size_t next(size_t i) const {
        return nextSignificant(tokens_, i);
    }

    // Brackets and calls nested deeper than SQLite's parser takes are
    // refused before any walk over them: each walk would cost more the
    // deeper they go. A "(" left open is named where it stands: SQLite
    // would stop at whatever follows it, or at the end.
    void checkBrackets() const {
        std::vector<const Token*> open;
        for (const Token& t : tokens_) {
            if (isSymbol(t, "(")) {
                open.push_back(&t);
                if (open.size() > size_t(kMaxNesting))
                    throw PlacedError(t.span, Error(ErrorFacts{.word = t.text},
                                                    u"式の入れ子が深すぎます: 括弧や関数が %1 段を超えて重なっています。",
                                                    kMaxNesting));
            }
            if (isSymbol(t, ")") && !open.empty()) open.pop_back();
        }
        if (!open.empty())
            throw PlacedError(open.back()->span,
                              Error(ErrorFacts{.word = QStringLiteral("(")}, QStringLiteral("\"(\" が閉じられていません。")));
    }

    void rewriteSimpleTokens() {
        for (Token& t : tokens_) {
            if (t.kind == TokenKind::DoubleQuoted) t = {TokenKind::String, quotedString(unquotedText(t)), t.start, t.span};
            else if (t.kind == TokenKind::DateLiteral) t = {TokenKind::String, dateLiteral(t), t.start, t.span};
            else if (isKeyword(t, "TRUE")) t.text = QStringLiteral("-1");
            else if (isKeyword(t, "FALSE")) t.text = QStringLiteral("0");
            else if (isKeyword(t, "DISTINCTROW")) t.text = QStringLiteral("DISTINCT");
        }
    }

    // Left(, Right( and IsNull( are calls, though SQLite reads the words as keywords.
    void rewriteKeywordFunctions() {
        for (size_t i = 0; i < tokens_.size(); ++i) {
            const char* internal = tokens_[i].kind == TokenKind::Word ? call::keywordFunction(tokens_[i].text) : nullptr;
            if (!internal) continue;
            const size_t open = next(i + 1);
            if (open < tokens_.size() && isSymbol(tokens_[open], "(")) tokens_[i].text = QLatin1String(internal);
        }
    }

    // The arguments of a call whose "(" stands at open: token ranges split
    // at the commas of its own depth; close is set to its ")". A blank one
    // is refused at the comma or ")" after it, where SQLite would stop.
    std::vector<std::pair<size_t, size_t>> arguments(const Token& name, size_t open, size_t& close) const {
        const auto args = argumentRanges(open, close);
        for (const auto& [from, to] : args)
            if (args.size() > 1 && next(from) >= to)
                throw PlacedError(tokens_[to].span, Error(ErrorFacts{.word = name.text}, u"%1 の引数が空です。", name.text));
        return args;
    }

    std::vector<std::pair<size_t, size_t>> argumentRanges(size_t open, size_t& close) const {
        std::vector<std::pair<size_t, size_t>> args;
        int depth = 0;
        size_t start = open + 1;
        for (size_t i = open; i < tokens_.size(); ++i) {
            if (isSymbol(tokens_[i], "(")) ++depth;
            else if (isSymbol(tokens_[i], ")") && --depth == 0) {
                args.emplace_back(start, i);
                close = i;
                return args;
            } else if (depth == 1 && isSymbol(tokens_[i], ",")) {
                args.emplace_back(start, i);
                start = i + 1;
            }
        }
        throw PlacedError(tokens_[open].span, Error(QStringLiteral("\"(\" が閉じられていません。")));
    }

    void append(std::vector<Token>& out, std::pair<size_t, size_t> range) const {
        out.insert(out.end(), tokens_.begin() + std::ptrdiff_t(range.first), tokens_.begin() + std::ptrdiff_t(range.second));
    }

    // Text put in for the call that stands at span.
    void append(std::vector<Token>& out, const QString& sql, Span span) const {
        const std::vector<Token> more = tokensStandingFor(sql, span);
        out.insert(out.end(), more.begin(), more.end());
    }

    // A CASE made from IIf or Switch: its branches (each with the
    // conditions that must all hold) and its default (empty: null).
    struct Conditional {
        int depth = 1;  // IIf and Switch nested in a branch's value, counted with this one
        struct Branch {
            std::vector<std::vector<Token>> conditions;
            std::vector<Token> value;
        };
        std::vector<Branch> branches;
        std::vector<Token> otherwise;
    };

    // The significant bounds of an argument range, or nothing when blank.
    std::optional<std::pair<size_t, size_t>> trimmed(std::pair<size_t, size_t> range) const {
        const size_t first = next(range.first);
        if (first >= range.second) return std::nullopt;
        return std::pair(first, previousSignificant(tokens_, range.second));
    }

    // The conditional an argument is, when it is exactly one this rewrite made.
    Conditional* madeConditional(std::pair<size_t, size_t> range) {
        const auto bounds = trimmed(range);
        if (!bounds) return nullptr;
        const Token& open = tokens_[bounds->first];
        if (!isSymbol(open, "(") || open.start >= 0 || matchingClose(tokens_, bounds->first) != bounds->second) return nullptr;
        return &made_[size_t(-open.start - 1)];
    }

    std::vector<Token> copy(std::pair<size_t, size_t> range) const {
        return {tokens_.begin() + std::ptrdiff_t(range.first), tokens_.begin() + std::ptrdiff_t(range.second)};
    }

    // The branches for "when cond, value": a conditional value's own
    // branches each under cond too, then cond alone giving its default.
    void addBranch(Conditional& out, const std::vector<Token>& cond, std::pair<size_t, size_t> value, Span call) {
        if (Conditional* inner = madeConditional(value)) {
            // Each is used by the one around it only: its parts move.
            out.depth = std::max(out.depth, inner->depth + 1);
            for (Conditional::Branch& b : inner->branches) {
                b.conditions.insert(b.conditions.begin(), cond);
                out.branches.push_back(std::move(b));
            }
            out.branches.push_back({{cond}, inner->otherwise.empty() ? tokensStandingFor(QStringLiteral("NULL"), call) : std::move(inner->otherwise)});
            inner->branches.clear();
        } else {
            out.branches.push_back({{cond}, copy(value)});
        }
    }

    // One flat CASE: nested IIf and Switch become more WHEN branches, not
    // nested CASEs, which SQLite's parser could take only some 30 deep.
    std::vector<Token> render(const Conditional& c, Span call) {
        std::vector<Token> out;
        append(out, QStringLiteral("(CASE"), call);
        for (const Conditional::Branch& b : c.branches) {
            append(out, QStringLiteral(" WHEN "), call);
            for (size_t k = 0; k < b.conditions.size(); ++k) {
                if (k) append(out, QStringLiteral(" AND "), call);
                if (b.conditions.size() > 1) append(out, QStringLiteral("("), call);
                out.insert(out.end(), b.conditions[k].begin(), b.conditions[k].end());
                if (b.conditions.size() > 1) append(out, QStringLiteral(")"), call);
            }
            append(out, QStringLiteral(" THEN "), call);
            out.insert(out.end(), b.value.begin(), b.value.end());
        }
        if (!c.otherwise.empty()) {
            append(out, QStringLiteral(" ELSE "), call);
            out.insert(out.end(), c.otherwise.begin(), c.otherwise.end());
        }
        append(out, QStringLiteral(" END)"), call);
        // The "(" carries which conditional it opens, for an IIf around it.
        out.front().start = -qsizetype(made_.size()) - 1;
        made_.push_back(c);
        return out;
    }

    // IIf, Switch and Choose evaluate only the branch they return: CASE
    // does too. The arguments' tokens are kept, for the rewrites after this.
    void rewriteConditionals() {
        for (size_t i = tokens_.size(); i-- > 0;) {
            const Token& t = tokens_[i];
            const bool iif = isKeyword(t, "IIF"), sw = isKeyword(t, "SWITCH"), choose = isKeyword(t, "CHOOSE");
            if (!iif && !sw && !choose) continue;
            const size_t open = next(i + 1);
            if (open >= tokens_.size() || !isSymbol(tokens_[open], "(")) continue;
            size_t close = 0;
            const auto args = arguments(t, open, close);
            const Span call = t.span;
            std::vector<Token> out;
            if (iif || sw) {
                if (iif && args.size() != 3) throw PlacedError(call, Error(QStringLiteral("IIf の引数は 3 つです。")));
                if (sw && (args.empty() || args.size() % 2 != 0))
                    throw PlacedError(call, Error(QStringLiteral("Switch の引数は条件と値の組です。")));
                Conditional c;
                for (size_t a = 0; a + 1 < args.size(); a += 2) addBranch(c, copy(args[a]), args[a + 1], call);
                if (iif) {
                    if (Conditional* inner = madeConditional(args[2])) {
                        c.depth = std::max(c.depth, inner->depth);  // an else-if chain stays one level
                        std::move(inner->branches.begin(), inner->branches.end(), std::back_inserter(c.branches));
                        inner->branches.clear();
                        c.otherwise = std::move(inner->otherwise);
                    } else {
                        c.otherwise = copy(args[2]);
                    }
                }
                if (c.depth > kMaxConditionalDepth)
                    throw PlacedError(call, Error(ErrorFacts{.word = t.text},
                                                  u"式が複雑すぎます: IIf や Switch が %1 段を超えて重なっています。",
                                                  kMaxConditionalDepth));
                out = render(c, call);
            } else {
                if (args.size() < 2) throw PlacedError(call, Error(QStringLiteral("Choose の引数が足りません。")));
                // The index is rounded to the nearest whole number (half to even, as the
                // old engine's conversions round), and a text that is no number is refused.
                append(out, QStringLiteral("(CASE Round("), call);
                append(out, args[0]);
                append(out, QStringLiteral(")"), call);
                for (size_t a = 1; a < args.size(); ++a) {
                    append(out, QStringLiteral(" WHEN %1 THEN ").arg(a), call);
                    append(out, args[a]);
                }
                append(out, QStringLiteral(" END)"), call);
            }
            tokens_.erase(tokens_.begin() + std::ptrdiff_t(i), tokens_.begin() + std::ptrdiff_t(close + 1));
            tokens_.insert(tokens_.begin() + std::ptrdiff_t(i), out.begin(), out.end());
        }
    }


    std::vector<Token> tokens_;
    std::vector<Conditional> made_;
};

}  // namespace

MappedText translateJetSql(const MappedText& sql) {
    return Translator(sql).run();
}

}  // namespace tarlo
