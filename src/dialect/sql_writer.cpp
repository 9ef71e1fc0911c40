// The writer walks token ranges of the user's text: a token is copied as
// written (or as the old engine meant it: a "text" string becomes 'text'),
// and where a node of the tree begins, the node is written in its place,
// its children in turn, so nothing is read twice and every rewrite sees the
// tree, not the text another rewrite made.
#include "dialect/sql_writer.h"

#include "dialect/internal_names.h"
#include "dialect/placed_error.h"
#include "dialect/sql_quote.h"
#include "dialect/token_edit.h"
#include "platform/error.h"
#include "values/column_types.h"

#include <QDate>

#include <algorithm>

namespace tarlo {

using namespace syntax;

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

}  // namespace

bool isTimeLiteral(const Token& t) {
    return t.text.size() > 2 && readTimeText(t.text.mid(1, t.text.size() - 2).toStdString()).has_value();
}

// #2024/01/31#, #2024-01-31 10:00#, the month-first #1/31/2024#, a time
// of day alone (#13:30#, #1:30 PM#) and a time with AM or PM after a date.
// Read by hand: a regular expression keeps per-thread state that the
// Windows thread runtime frees wrongly when a run's thread ends.
QString writtenDateLiteral(const Token& t) {
    QString inner = t.text.mid(1, t.text.size() - 2).trimmed();
    auto invalid = [&] {
        return PlacedError(t.span, Error(ErrorFacts{.word = t.text}, u"日付 %1 は正しい日付ではありません。", t.text));
    };
    if (const auto time = readTimeText(inner.toStdString())) return quotedString(QString::fromStdString(formatTimeOfDay(*time)));
    int half = -1;  // AM 0, PM 1
    for (const auto& [suffix, h] : {std::pair{QLatin1String("AM"), 0}, std::pair{QLatin1String("PM"), 1}})
        if (inner.endsWith(suffix, Qt::CaseInsensitive)) {
            half = h;
            inner.chop(2);
            inner = inner.trimmed();
        }
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
    if (half >= 0) {
        if (hour < 1 || hour > 12 || minute < 0) throw invalid();
        hour = hour % 12 + (half == 1 ? 12 : 0);
    }
    if (!QDate::isValid(y, m, d) || hour > 23 || minute > 59 || sec > 59) throw invalid();
    return quotedString(QString::fromStdString(formatDateTime(packDate({y, m, d, hour, minute, sec}), true)));
}

namespace {

// A chain longer than the calls' arguments nests, and SQLite's parser
// takes some thirty levels.
constexpr int kMaxChainArguments = call::kMaxRunArguments;
constexpr int kMaxChainChunks = 25;
// IIf and Switch nested in a branch's value, counted with the outer one.
constexpr int kMaxConditionalDepth = 100;
// Each TOP copies its SELECT's body, inner TOPs already written: nesting
// doubles the text at each level, so the growth is bounded.
constexpr qsizetype kMaxTopGrowth = 200'000;

}  // namespace

class SqlWriter::Writer {
public:
    Writer(const SyntaxTree& tree, const std::map<int, QString>& edits, const Binding* binding)
        : t_(tree), edits_(edits), binding_(binding), blank_(tree.tokens.size(), false) {
        if (binding_) edits_.insert(binding_->tokens.begin(), binding_->tokens.end());
        starts_.resize(t_.tokens.size());
        for (size_t id = 0; id < t_.nodes.size(); ++id) starts_[size_t(first(t_.nodes[id].span))].push_back(NodeId(id));
        // The widest first: where several begin at one token, the outermost is written.
        for (auto& s : starts_)
            std::sort(s.begin(), s.end(), [&](NodeId a, NodeId b) { return t_.node(a).span.length > t_.node(b).span.length; });
        for (size_t q = 0; q < t_.queries.size(); ++q)
            for (size_t c = 0; c < t_.queries[q].cores.size(); ++c)
                if (t_.queries[q].cores[c].top >= 0) tops_.emplace_back(t_.queries[q].cores[c].select, std::pair(int(q), int(c)));
    }

    MappedText run() { return written(0, int(t_.tokens.size()) - 1); }

    // The tokens [from, to], rewritten.
    MappedText written(int from, int to) {
        MappedText out;
        if (from <= to) writeRange(from, to, kNone, out);
        return out;
    }

    MappedText writtenNode(NodeId id, const std::map<NodeId, MappedText>& after, const std::map<NodeId, MappedText>& before) {
        after_ = &after;
        before_ = &before;
        const Span s = t_.node(id).span;
        MappedText out;
        try {
            out = written(first(s), last(s));
        } catch (...) {
            after_ = before_ = nullptr;
            throw;
        }
        after_ = before_ = nullptr;
        return out;
    }

    // The token at a span's start, and at its end.
    int first(Span s) const { return tokenAt(s.offset); }
    int last(Span s) const { return tokenAt(s.end() - 1); }

private:
    // ---- tokens and ranges

    int tokenAt(qsizetype offset) const {
        const auto after = std::upper_bound(t_.tokens.begin(), t_.tokens.end(), offset,
                                            [](qsizetype o, const Token& t) { return o < t.span.offset; });
        return int(after - t_.tokens.begin()) - 1;
    }
    int nextSig(int k) const { return int(nextSignificant(t_.tokens, size_t(k))); }
    int previousSig(int k) const { return int(previousSignificant(t_.tokens, size_t(k))); }
    const Token& tok(int k) const { return t_.tokens[size_t(k)]; }

    // A token as the old engine meant it.
    void writeToken(int k, MappedText& out) const {
        if (blank_[size_t(k)]) return;
        const Token& t = tok(k);
        if (const auto e = edits_.find(k); e != edits_.end()) return out.append(e->second, t.span);
        if (t.kind == TokenKind::DoubleQuoted) return out.append(quotedString(unquotedText(t)), t.span);
        if (t.kind == TokenKind::DateLiteral) return out.append(writtenDateLiteral(t), t.span);
        // Right after a minus, -1 would make "--", a comment to the line's end.
        if (isKeyword(t, "TRUE"))
            return out.append(k > 0 && isSymbol(tok(k - 1), "-") ? QStringLiteral("(-1)") : QStringLiteral("-1"), t.span);
        if (isKeyword(t, "FALSE")) return out.append(QStringLiteral("0"), t.span);
        if (isKeyword(t, "DISTINCTROW")) return out.append(QStringLiteral("DISTINCT"), t.span);
        if (t.kind == TokenKind::Word) {
            // Left(, Right( and IsNull( are calls, though SQLite reads the words as
            // keywords; Left$( and the other "$" forms call the plain functions.
            const char* internal = call::calledAs(t.text);
            const int open = nextSig(k + 1);
            if (internal && open < int(t_.tokens.size()) && isSymbol(tok(open), "("))
                return out.append(QLatin1String(internal), t.span);
        }
        out.append(t.text, t.span);
    }

    // The tokens [from, to], each node beginning in it written whole (but
    // not `self`, whose own range this is).
    void writeRange(int from, int to, NodeId self, MappedText& out) {
        for (int k = from; k <= to;) {
            if (const auto top = topAt(k); top && k != skipTop_) {
                k = writeTopMember(top->first, top->second, out) + 1;
                continue;
            }
            NodeId node = kNone;
            for (NodeId id : starts_[size_t(k)])
                if (id != self && last(t_.node(id).span) <= to) {
                    node = id;
                    break;
                }
            if (node == kNone) {
                writeToken(k++, out);
                continue;
            }
            write(node, out);
            k = last(t_.node(node).span) + 1;
        }
    }

    // ---- nodes

    // A node with what the binder puts around it and in its place, and
    // what a caller puts before and after it (a crosstab's FILTER, inside
    // the wraps).
    void write(NodeId id, MappedText& out) {
        const Span s = t_.node(id).span;
        const Span head = tok(first(s)).span, tail = tok(last(s)).span;
        const std::vector<Binding::Wrap>* wraps = found(binding_ ? &binding_->wraps : nullptr, id);
        if (wraps)
            for (auto w = wraps->rbegin(); w != wraps->rend(); ++w) out.append(w->before, head);
        if (before_)
            if (const auto b = before_->find(id); b != before_->end()) out.append(b->second);
        if (const QString* replaced = found(binding_ ? &binding_->replaced : nullptr, id)) out.append(*replaced, s);
        else writeNode(id, out);
        if (after_)
            if (const auto a = after_->find(id); a != after_->end()) out.append(a->second);
        if (wraps)
            for (const Binding::Wrap& w : *wraps) out.append(w.after, tail);
        if (!unnamed_)
            if (const QString* name = found(binding_ ? &binding_->names : nullptr, id)) out.append(QStringLiteral(" AS ") + *name, tail);
    }

    template <typename Map>
    static const typename Map::mapped_type* found(const Map* map, const typename Map::key_type& key) {
        if (!map) return nullptr;
        const auto at = map->find(key);
        return at == map->end() ? nullptr : &at->second;
    }

    const Binding::Wrap* prefixWrap(NodeId chain, size_t operand) const {
        return found(binding_ ? &binding_->prefixes : nullptr, {chain, operand});
    }
    bool hasPrefixWraps(NodeId chain) const {
        if (!binding_) return false;
        const auto w = binding_->prefixes.lower_bound({chain, 0});
        return w != binding_->prefixes.end() && w->first.first == chain;
    }

    void writeNode(NodeId id, MappedText& out) {
        const Node& n = t_.node(id);
        if (n.kind == NodeKind::Call) {
            const Token& name = tok(n.token);
            if (isKeyword(name, "IIF") || isKeyword(name, "SWITCH")) return out.append(render(conditional(id), name.span));
            if (isKeyword(name, "CHOOSE")) return writeChoose(id, out);
        }
        if (n.kind == NodeKind::Chain && (std::any_of(n.ops.begin(), n.ops.end(), [&](int op) {
                                              return call::operatorFunction(tok(op)) || isSymbol(tok(op), "||");
                                          }) || hasPrefixWraps(id)))
            return writeChain(id, out);
        if (isComparison(n) && isComparisonLevel(n.list[0])) {
            // The old engine compares left to right at one level: a = b < c is
            // (a = b) < c, and 1 = 1 = True compares the first truth, which
            // SQLite would read as a = (b < c) and as its own truth 1.
            const Span left = t_.node(n.list[0]).span;
            out.append(QStringLiteral("("), left);
            writeRange(first(left), last(left), kNone, out);
            out.append(QStringLiteral(")"), left);
            return writeRange(last(left) + 1, last(n.span), id, out);
        }
        writeRange(first(n.span), last(n.span), id, out);
    }

    bool isComparison(const Node& n) const {
        if (n.kind != NodeKind::Chain) return false;
        const Token& op = tok(n.ops[0]);
        for (const char* c : {"=", "==", "<>", "!=", "<", ">", "<=", ">="})
            if (isSymbol(op, c)) return true;
        return false;
    }

    bool isComparisonLevel(NodeId id) const {
        const Node& n = t_.node(id);
        switch (n.kind) {
        case NodeKind::Between:
        case NodeKind::In:
        case NodeKind::Like:
        case NodeKind::Is:
        case NodeKind::NullTest: return true;
        default: return isComparison(n);
        }
    }

    // a + b - c & d: each operator of the old engine a call around what is
    // written before it, a run of one a single call (tarlo_add(a, b, c)),
    // folded left to right when it runs.
    void writeChain(NodeId id, MappedText& out) {
        const Node& n = t_.node(id);
        MappedText text = chainOperand(n, 0);
        const char* open = nullptr;  // the call text is in, still without its ")"
        Span openAt{};
        int arguments = 0, chunks = 0;
        for (size_t i = 1; i < n.list.size(); ++i) {
            const int op = n.ops[i - 1];
            const char* function = call::operatorFunction(tok(op));
            // What stands between the operands: blanks, comments and the operator, which becomes ",".
            MappedText between;
            for (int k = last(t_.node(n.list[i - 1]).span) + 1; k < first(t_.node(n.list[i]).span); ++k) {
                if (k == op && function) between.append(QStringLiteral(","), tok(k).span);
                else writeToken(k, between);
            }
            const MappedText operand = chainOperand(n, i);
            if (function && function == open && arguments < kMaxChainArguments) {
                text.append(between);
                text.append(operand);
                ++arguments;
                continue;
            }
            if (open) text.append(QStringLiteral(")"), openAt);
            if (const Binding::Wrap* w = i > 1 ? prefixWrap(id, i) : nullptr) {
                MappedText wrapped(w->before, tok(op).span);
                wrapped.append(text);
                wrapped.append(w->after, tok(op).span);
                text = std::move(wrapped);
            } else if (i > 1 && isSymbol(tok(op), "||") && !isSymbol(tok(n.ops[i - 2]), "||")) {
                // SQLite reads || before | << >>: a | b || c is (a | b) || c, as the old levels read it.
                MappedText wrapped(QStringLiteral("("), tok(op).span);
                wrapped.append(text);
                wrapped.append(QStringLiteral(")"), tok(op).span);
                text = std::move(wrapped);
            }
            if (function) {
                if (function == open && ++chunks >= kMaxChainChunks)
                    throw PlacedError(tok(op).span, Error(ErrorFacts{.word = tok(op).text},
                                                          u"式が長すぎます: 演算子 \"%1\" が %2 個を超えて続いています。",
                                                          tok(op).text, kMaxChainChunks * kMaxChainArguments));
                if (function != open) chunks = 0;
                MappedText call(QLatin1String(function) + QLatin1Char('('), tok(op).span);
                call.append(text);
                text = std::move(call);
                openAt = tok(op).span;
                arguments = 2;
            }
            text.append(between);
            text.append(operand);
            open = function;
        }
        if (open) text.append(QStringLiteral(")"), openAt);
        out.append(text);
    }

    // An operand of a chain as written, in brackets where it is SQLite's *
    // or % beside ||, which SQLite reads before them and the old levels after.
    MappedText chainOperand(const Node& chain, size_t i) {
        const Node& operand = t_.node(chain.list[i]);
        MappedText text = written(first(operand.span), last(operand.span));
        const bool besideConcat = (i > 0 && isSymbol(tok(chain.ops[i - 1]), "||")) ||
                                  (i + 1 < chain.list.size() && isSymbol(tok(chain.ops[i]), "||"));
        const bool product = operand.kind == NodeKind::Chain &&
                             std::any_of(operand.ops.begin(), operand.ops.end(), [&](int op) {
                                 return isSymbol(tok(op), "*") || isSymbol(tok(op), "%");
                             });
        if (!besideConcat || !product) return text;
        MappedText bracketed(QStringLiteral("("), operand.span);
        bracketed.append(text);
        bracketed.append(QStringLiteral(")"), operand.span);
        return bracketed;
    }

    // ---- IIf, Switch and Choose

    // A call's arguments as written: each with the blanks around it, up to its "," or ")".
    std::vector<std::pair<int, int>> argumentRanges(const Node& n) const {
        std::vector<std::pair<int, int>> ranges;
        int start = nextSig(n.token + 1) + 1;  // after "("
        for (const NodeId a : n.list) {
            const int comma = nextSig(last(t_.node(a).span) + 1);  // its "," or the ")"
            ranges.emplace_back(start, comma - 1);
            start = comma + 1;
        }
        return ranges;
    }

    // A CASE made from IIf or Switch: its branches (each with the
    // conditions that must all hold) and its default (empty: null).
    struct Conditional {
        int depth = 1;  // IIf and Switch nested in a branch's value, counted with this one
        struct Branch {
            std::vector<MappedText> conditions;
            MappedText value;
        };
        std::vector<Branch> branches;
        MappedText otherwise;
    };

    // The IIf or Switch call an argument is, alone with its blanks.
    NodeId conditionalCall(NodeId arg) const {
        const Node& n = t_.node(arg);
        if (n.kind != NodeKind::Call) return kNone;
        return isKeyword(tok(n.token), "IIF") || isKeyword(tok(n.token), "SWITCH") ? arg : kNone;
    }

    // One flat CASE: nested IIf and Switch become more WHEN branches, not
    // nested CASEs, which SQLite's parser could take only some 30 deep.
    Conditional conditional(NodeId id) {
        const Node& n = t_.node(id);
        const Token& name = tok(n.token);
        const bool iif = isKeyword(name, "IIF");
        if (iif && n.list.size() != 3) throw PlacedError(name.span, Error(QStringLiteral("IIf の引数は 3 つです。")));
        if (!iif && (n.list.empty() || n.list.size() % 2 != 0))
            throw PlacedError(name.span, Error(QStringLiteral("Switch の引数は条件と値の組です。")));
        const auto args = argumentRanges(n);
        Conditional c;
        for (size_t a = 0; a + 1 < n.list.size(); a += 2) {
            const MappedText cond = written(args[a].first, args[a].second);
            if (const NodeId inner = conditionalCall(n.list[a + 1]); inner != kNone) {
                Conditional in = conditional(inner);
                c.depth = std::max(c.depth, in.depth + 1);
                for (auto& b : in.branches) {
                    b.conditions.insert(b.conditions.begin(), cond);
                    c.branches.push_back(std::move(b));
                }
                c.branches.push_back({{cond}, in.otherwise.isEmpty() ? MappedText(QStringLiteral("NULL"), name.span) : in.otherwise});
            } else {
                c.branches.push_back({{cond}, written(args[a + 1].first, args[a + 1].second)});
            }
        }
        if (iif) {
            if (const NodeId inner = conditionalCall(n.list[2]); inner != kNone) {
                Conditional in = conditional(inner);
                c.depth = std::max(c.depth, in.depth);  // an else-if chain stays one level
                std::move(in.branches.begin(), in.branches.end(), std::back_inserter(c.branches));
                c.otherwise = std::move(in.otherwise);
            } else {
                c.otherwise = written(args[2].first, args[2].second);
            }
        }
        if (c.depth > kMaxConditionalDepth)
            throw PlacedError(name.span, Error(ErrorFacts{.word = name.text},
                                               u"式が複雑すぎます: IIf や Switch が %1 段を超えて重なっています。",
                                               kMaxConditionalDepth));
        return c;
    }

    static MappedText render(const Conditional& c, Span call) {
        MappedText out(QStringLiteral("(CASE"), call);
        for (const Conditional::Branch& b : c.branches) {
            out.append(QStringLiteral(" WHEN "), call);
            for (size_t k = 0; k < b.conditions.size(); ++k) {
                if (k) out.append(QStringLiteral(" AND "), call);
                if (b.conditions.size() > 1) out.append(QStringLiteral("("), call);
                out.append(b.conditions[k]);
                if (b.conditions.size() > 1) out.append(QStringLiteral(")"), call);
            }
            out.append(QStringLiteral(" THEN "), call);
            out.append(b.value);
        }
        if (!c.otherwise.isEmpty()) {
            out.append(QStringLiteral(" ELSE "), call);
            out.append(c.otherwise);
        }
        out.append(QStringLiteral(" END)"), call);
        return out;
    }

    // The index is rounded to the nearest whole number (half to even, as the
    // old engine's conversions round), and a text that is no number is refused.
    void writeChoose(NodeId id, MappedText& out) {
        const Node& n = t_.node(id);
        const Span call = tok(n.token).span;
        if (n.list.size() < 2) throw PlacedError(call, Error(QStringLiteral("Choose の引数が足りません。")));
        const auto args = argumentRanges(n);
        out.append(QStringLiteral("(CASE %1(").arg(QLatin1String(call::kChooseIndex)), call);
        out.append(written(args[0].first, args[0].second));
        out.append(QStringLiteral(")"), call);
        for (size_t a = 1; a < args.size(); ++a) {
            out.append(QStringLiteral(" WHEN %1 THEN ").arg(a), call);
            out.append(written(args[a].first, args[a].second));
        }
        out.append(QStringLiteral(" END)"), call);
    }

    // ---- TOP

    std::optional<std::pair<int, int>> topAt(int k) const {
        for (const auto& [select, where] : tops_)
            if (select == k) return where;
        return std::nullopt;
    }

    void grow(qsizetype n) {
        if ((grown_ += n) > kMaxTopGrowth)
            throw Error(QStringLiteral("文が複雑すぎます。TOP を含む SELECT の入れ子が深すぎて書き換えられません。"));
    }

    // The keyword token just before a clause's first token (FROM, BY).
    int keywordBefore(Span clause) const { return previousSig(first(clause)); }

    struct Item {
        NodeId node = kNone;
        MappedText expression;  // as written
        MappedText whole;       // with its name
        QString alias;          // the name it is given, if any
        QString name;           // the name a statement around it reads it by
        bool star = false;
    };

    Item itemOf(const ResultItem& r) {
        Item item;
        const Node& e = t_.node(r.expr);
        item.node = r.expr;
        // Without the name the binder gives it: these are written inside other items.
        ++unnamed_;
        item.expression = written(first(e.span), last(e.span));
        item.whole = written(first(r.span), last(r.span));
        --unnamed_;
        item.star = e.kind == NodeKind::Star;
        if (r.alias >= 0) item.alias = item.name = unquotedText(tok(r.alias));
        else if (e.kind == NodeKind::Name) item.name = unquotedText(tok(e.token));
        return item;
    }

    // An item's expression where ORDER BY names it by its place or name: a
    // text sorts ignoring case, a time by its moment.
    MappedText asSortKey(const Item& item) const {
        const Binding::Wrap* key = found(binding_ ? &binding_->sortKeys : nullptr, item.node);
        if (!key || key->before.isEmpty()) return item.expression;
        MappedText out(key->before, item.expression.span());
        out.append(item.expression);
        out.append(key->after, item.expression.span());
        return out;
    }

    // The ORDER BY terms, written so they read against the member's FROM:
    // select-list names and ordinals become the expressions they stand for.
    // Empty when a term cannot be written so.
    MappedText orderTermsAgainstSource(const std::vector<Item>& items, const std::vector<OrderTerm>& order, Span fill) {
        std::vector<MappedText> terms;
        for (const OrderTerm& o : order) {
            if (o.nulls) return {};
            const Node& e = t_.node(o.expr);
            MappedText term = written(first(e.span), last(e.span));
            if (e.kind == NodeKind::Number) {
                const size_t ordinal = size_t(tok(e.token).text.toULongLong());
                if (ordinal < 1 || ordinal > items.size() || items[ordinal - 1].star) return {};
                term = asSortKey(items[ordinal - 1]);
            } else if (e.kind == NodeKind::Name && e.qualifier < 0) {
                for (const Item& item : items)
                    if (!item.alias.isEmpty() && item.alias.compare(unquotedText(tok(e.token)), Qt::CaseInsensitive) == 0)
                        term = asSortKey(item);
            }
            const int last = this->last(o.span);
            const MappedText direction = isKeyword(tok(last), "ASC") || isKeyword(tok(last), "DESC")
                                             ? MappedText(QLatin1Char(' ') + tok(last).text, tok(last).span)
                                             : MappedText();
            terms.push_back(composeMapped(u"(%1)%2", fill, {term, direction}));
        }
        return joinMapped(terms, QStringLiteral(", "), fill);
    }

    // Whether the member's tokens [from, to] name a table its own FROM
    // clauses do not bring (o.cat in a subquery that reads "t AS i"): it is
    // correlated, and SQLite lets no LIMIT read the outer row.
    bool isCorrelated(int from, int to) const {
        auto within = [&](Span s) { return first(s) >= from && last(s) <= to; };
        QStringList defined;
        for (const FromClause& f : t_.froms) {
            if (!within(f.span)) continue;
            auto define = [&](const FromItem& item) {
                if (item.kind == FromItem::Kind::Table) defined << unquotedText(tok(item.nameFrom));
                if (item.alias >= 0) defined << unquotedText(tok(item.alias));
            };
            define(f.first);
            for (const Join& j : f.joins) define(j.item);
        }
        for (const Node& n : t_.nodes)
            if ((n.kind == NodeKind::Name || n.kind == NodeKind::Star) && n.qualifier >= 0 && within(n.span) &&
                !defined.contains(unquotedText(tok(n.qualifier)), Qt::CaseInsensitive))
                return true;
        return false;
    }

    // SELECT TOP n [PERCENT] ...: the member (to the end of the statement's
    // ORDER BY and LIMIT when it is the last) with a LIMIT that keeps the
    // rows tying with the last one on the ORDER BY values. Returns the last
    // token written.
    int writeTopMember(int queryIndex, int coreIndex, MappedText& out) {
        const Query& q = t_.queries[size_t(queryIndex)];
        const SelectCore& core = q.cores[size_t(coreIndex)];
        const bool lastCore = size_t(coreIndex) + 1 == q.cores.size();
        const int select = core.select;
        const int end = lastCore ? last(q.span) : last(core.span);
        const int topWord = previousSig(core.top);
        const Span fill{tok(topWord).span.offset, tok(core.top).span.end() - tok(topWord).span.offset};
        const MappedText n(tok(core.top).text, tok(core.top).span);
        blank_[size_t(topWord)] = blank_[size_t(core.top)] = true;
        if (core.topPercent) blank_[size_t(nextSig(core.top + 1))] = true;

        // The member as written, TOP gone; this TOP is not met again inside it.
        const int outerSkip = skipTop_;
        skipTop_ = select;
        const MappedText member = written(select, end);
        skipTop_ = outerSkip;

        MappedText rows = n;
        if (core.topPercent) {
            // The share rounds up, so TOP 50 PERCENT of 3 rows gives 2.
            const MappedText share = composeMapped(u"(SELECT count(*) * %1 / 100.0 FROM (%2))", fill, {n, member});
            rows = composeMapped(
                u"(SELECT CAST(x AS INTEGER) + CASE WHEN x > CAST(x AS INTEGER) THEN 1 ELSE 0 END FROM (SELECT %1 AS x))",
                fill, {share});
        }
        MappedText limit = composeMapped(u" LIMIT %1", fill, {rows});
        const bool distinct = core.quantifier >= 0 && !isKeyword(tok(core.quantifier), "ALL");
        if (!distinct && core.from >= 0 && lastCore && !q.order.empty()) {
            // Rows that tie with the last one come too: count the rows whose rank is within the limit.
            const int from = keywordBefore(t_.froms[size_t(core.from)].span);
            const int order = previousSig(keywordBefore(q.order[0].span));  // ORDER of ORDER BY
            std::vector<Item> items;
            for (const ResultItem& r : core.items) items.push_back(itemOf(r));
            const MappedText terms = orderTermsAgainstSource(items, q.order, fill);
            const bool correlated = !terms.isEmpty() && isCorrelated(select, end);
            const bool all = std::any_of(items.begin(), items.end(), [](const Item& i) { return i.star; });
            const MappedText source = written(from, order - 1).trimmed();
            const MappedText rank(QLatin1String(call::kRank), fill);
            if (correlated && !all) {
                // Ranked in a table of its own, which may read the outer row, and cut at the rank.
                std::vector<MappedText> inner, outer;
                int unnamed = 0;
                for (const Item& item : items) {
                    const MappedText text = item.whole.trimmed();
                    if (item.name.isEmpty()) {
                        const MappedText made(QStringLiteral("tarlo_item%1").arg(++unnamed), text.span());
                        inner.push_back(composeMapped(u"%1 AS %2", text.span(), {text, made}));
                        outer.push_back(composeMapped(u"%1 AS %2", text.span(), {made, MappedText(quotedName(text.text()), text.span())}));
                    } else {
                        inner.push_back(text);
                        outer.push_back(MappedText(quotedName(item.name), text.span()));
                    }
                }
                const MappedText ranked = composeMapped(
                    u"SELECT %1 FROM (SELECT %2, rank() OVER (ORDER BY %3) AS %6 %4) WHERE %6 <= %5 ORDER BY %6", fill,
                    {joinMapped(outer, QStringLiteral(", "), fill), joinMapped(inner, QStringLiteral(", "), fill), terms,
                     source, rows, rank});
                grow(ranked.text().size());
                out.append(ranked);
                return end;
            }
            // A correlated SELECT TOP n * cannot name its items for a table around it: the first n
            // rows without their ties, which a plain LIMIT may take from the outer row.
            if (!terms.isEmpty() && !correlated) {
                // The items come along, so HAVING may name them as it does without TOP.
                const MappedText itemsText = written(nextSig(topWord + 1), from - 1).trimmed();
                limit = composeMapped(u" LIMIT (SELECT count(*) FROM (SELECT %1, rank() OVER (ORDER BY %2) AS %5 %3) "
                                      u"WHERE %5 <= %4)",
                                      fill, {itemsText, terms, source, rows, rank});
            }
        }
        grow(limit.text().size());
        const bool wrap = q.cores.size() > 1;
        if (wrap) {
            out.append(QStringLiteral("SELECT * FROM ("), fill);
            limit.append(QStringLiteral(")"), fill);
        }
        out.append(member);
        out.append(limit);
        return end;
    }

    const SyntaxTree& t_;
    std::map<int, QString> edits_;
    const Binding* binding_;
    int unnamed_ = 0;  // while above 0, select items are written without the names the binder gives
    std::vector<std::vector<NodeId>> starts_;  // the nodes beginning at each token, widest first
    std::vector<std::pair<int, std::pair<int, int>>> tops_;  // a SELECT token with TOP: its query and core
    std::vector<bool> blank_;  // tokens written as nothing (TOP n)
    int skipTop_ = -1;         // the SELECT whose TOP is being written
    const std::map<NodeId, MappedText>* after_ = nullptr;  // text put in after nodes
    const std::map<NodeId, MappedText>* before_ = nullptr;  // and before them
    qsizetype grown_ = 0;
};

SqlWriter::SqlWriter(const SyntaxTree& tree, const std::map<int, QString>& tokens, const Binding* binding)
    : writer_(std::make_unique<Writer>(tree, tokens, binding)), binding_(binding) {}

SqlWriter::~SqlWriter() = default;

MappedText SqlWriter::statement() const {
    return writer_->run();
}

MappedText SqlWriter::range(int from, int to) const {
    return writer_->written(from, to);
}

MappedText SqlWriter::node(NodeId id, const std::map<NodeId, MappedText>& after, const std::map<NodeId, MappedText>& before) const {
    return writer_->writtenNode(id, after, before);
}

int SqlWriter::firstToken(Span s) const {
    return writer_->first(s);
}

int SqlWriter::lastToken(Span s) const {
    return writer_->last(s);
}

const Binding* SqlWriter::binding() const {
    return binding_;
}

}  // namespace tarlo
