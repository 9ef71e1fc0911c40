// A recursive-descent parser over the significant tokens of one lexer pass.
// Expressions are read by precedence climbing over the old engine's levels,
// so a bracket costs a few stack frames, not one per level.
#include "dialect/parser.h"

#include "dialect/reserved_words.h"
#include "dialect/token_edit.h"
#include "platform/error.h"

#include <utility>

namespace tarlo {

using namespace syntax;

namespace {

// The operators' levels, tightest first (see syntax_tree.h).
constexpr int kPower = 1, kProduct = 3, kIntDivide = 4, kMod = 5, kSum = 6, kJoin = 7, kCompare = 8,
              kAnd = 10, kOr = 11, kXor = 12, kEqv = 13, kImp = 14, kLoosest = kImp;

// How deep brackets may nest: SQLite's parser takes about a hundred levels,
// and the old engine refused far less. Unary operators and calls count
// towards the parser's own bound, which keeps its stack safe.
constexpr int kMaxNesting = 200;
constexpr int kMaxDepth = 250;

bool isWordToken(const Token& t) {
    return t.kind == TokenKind::Word;
}

class Parser {
public:
    Parser(const QString& sql, const ParseOptions& options) : options_(options) {
        tree_.tokens = tokenize(sql);
        for (size_t i = 0; i < tree_.tokens.size(); ++i)
            if (isSignificant(tree_.tokens[i])) sig_.push_back(int(i));
        tree_.end = sql.size();
        textEnd_ = sql.size();
    }

    SyntaxTree run() {
        checkBrackets();
        if (atEnd() || at(";")) return std::move(tree_);  // nothing to run: the engine says so
        if (takeWord("EXPLAIN")) {
            tree_.explain = true;
            if (takeWord("QUERY")) expectWord("PLAN");
        }
        if (atWord("TRANSFORM")) {
            transform();
        } else {
            tree_.root = query();
        }
        if (!atEnd() && !at(";")) fail();
        if (!atEnd()) {
            tree_.end = tok().span.offset;
            while (!atEnd() && at(";")) ++pos_;
            if (!atEnd())
                throw Error(QStringLiteral("SQL 文は一度に一つだけ実行できます。\";\" の後の文は実行しません。"));
        }
        return std::move(tree_);
    }

private:
    // Brackets nested deeper than SQLite's parser takes are refused before
    // any walk over them, and a "(" left open is named where it stands:
    // the parse would stop at whatever follows it, or at the end.
    void checkBrackets() const {
        std::vector<const Token*> open;
        for (const int k : sig_) {
            const Token& t = tree_.tokens[size_t(k)];
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

    // ---- tokens

    bool atEnd() const { return pos_ >= sig_.size(); }
    int index(size_t p) const { return sig_[p]; }
    const Token& tok(size_t ahead = 0) const {
        static const Token none{TokenKind::Space, QString(), 0, {}};
        return pos_ + ahead < sig_.size() ? tree_.tokens[size_t(sig_[pos_ + ahead])] : none;
    }
    bool at(const char* symbol, size_t ahead = 0) const {
        return pos_ + ahead < sig_.size() && isSymbol(tok(ahead), symbol);
    }
    bool atWord(const char* keyword, size_t ahead = 0) const {
        return pos_ + ahead < sig_.size() && isKeyword(tok(ahead), keyword);
    }
    bool take(const char* symbol) {
        if (!at(symbol)) return false;
        ++pos_;
        return true;
    }
    bool takeWord(const char* keyword) {
        if (!atWord(keyword)) return false;
        ++pos_;
        return true;
    }
    void expect(const char* symbol) {
        if (!take(symbol)) fail();
    }
    void expectWord(const char* keyword) {
        if (!takeWord(keyword)) fail();
    }
    int takeToken() { return sig_[pos_++]; }

    // The statement stops being one we read at the current token.
    [[noreturn]] void fail() const {
        if (atEnd()) {
            const Span end{textEnd_, 0};
            throw SyntaxError(end, QString(), Error(QStringLiteral("SQL 文が途中で終わっています。")));
        }
        const Token& t = tok();
        throw SyntaxError(t.span, t.text, Error(ErrorFacts{.word = t.text}, u"\"%1\" の近くに誤りがあります。", t.text));
    }

    // The span from the token at p to the last one taken.
    Span spanFrom(size_t p) const {
        const Span first = tree_.tokens[size_t(sig_[p])].span;
        if (pos_ == 0 || pos_ <= p) return {first.offset, 0};
        const Span last = tree_.tokens[size_t(sig_[pos_ - 1])].span;
        return {first.offset, last.end() - first.offset};
    }

    NodeId add(Node n, size_t from) {
        n.span = spanFrom(from);
        tree_.nodes.push_back(std::move(n));
        return NodeId(tree_.nodes.size() - 1);
    }

    struct Deeper {
        explicit Deeper(Parser& p) : p_(p) {
            if (++p_.depth_ > kMaxDepth) {
                const Token& t = p_.tok();
                throw PlacedError(t.span,
                                  Error(ErrorFacts{.word = t.text}, u"式の入れ子が深すぎます: 括弧や関数が %1 段を超えて重なっています。",
                                        kMaxDepth));
            }
        }
        ~Deeper() { --p_.depth_; }
        Parser& p_;
    };

    // A token that may name a table, an alias or a column.
    static bool isNameToken(const Token& t) {
        switch (t.kind) {
        case TokenKind::Bracketed:
        case TokenKind::Backticked: return true;
        case TokenKind::Word: return !isReservedWord(t) && !isKeyword(t, "NULL") && !isKeyword(t, "TRUE") && !isKeyword(t, "FALSE");
        default: return false;
        }
    }
    // Words of ours or SQLite's that a column may still be called where a
    // value stands (SELECT range, top FROM t), as SQLite reads them there.
    static bool isSoftKeyword(const Token& t) {
        if (t.kind != TokenKind::Word) return false;
        for (const char* w : {"TOP", "PERCENT", "PIVOT", "TRANSFORM", "FILTER", "WINDOW", "OVER", "PARTITION", "ROWS", "RANGE",
                              "NULLS", "ASC", "DESC", "OFFSET", "MATCH", "REGEXP", "GLOB"})
            if (isKeyword(t, w)) return true;
        return false;
    }

    // A name given with AS: any name, a string, or a word SQLite may take as
    // one (it refuses the words it keeps for itself).
    static bool isAliasAfterAs(const Token& t) {
        return isNameToken(t) || t.kind == TokenKind::String || t.kind == TokenKind::DoubleQuoted ||
               (t.kind == TokenKind::Word && !isKeyword(t, "FROM"));
    }

    // ---- statements

    void transform() {
        const size_t from = pos_;
        ++pos_;
        Transform t;
        t.value = expression();
        if (takeWord("AS")) {
            if (!isAliasAfterAs(tok())) fail();
            t.alias = takeToken();
        }
        if (!atWord("SELECT")) fail();
        tree_.root = query();
        if (atEnd() || at(";")) {
            t.span = spanFrom(from);
            tree_.transform = std::move(t);  // the crosstab names what it lacks
            return;
        }
        t.pivotWord = sig_[pos_];
        expectWord("PIVOT");
        stopAtIn_ = depth_;  // IN after the pivot lists its values
        t.pivot = expression();
        stopAtIn_ = -1;
        if (takeWord("IN")) {
            t.hasList = true;
            expect("(");
            if (!at(")")) do t.list.push_back(expression());
                while (take(","));
            expect(")");
        }
        t.span = spanFrom(from);
        tree_.transform = std::move(t);
    }

    int query() {
        Deeper deeper(*this);
        const size_t from = pos_;
        Query q;
        if (takeWord("WITH")) {
            q.recursive = takeWord("RECURSIVE");
            do q.with.push_back(commonTable());
            while (take(","));
        }
        q.cores.push_back(selectCore());
        for (;;) {
            if (atWord("UNION") || atWord("INTERSECT") || atWord("EXCEPT")) {
                const bool unionWord = atWord("UNION");
                q.compounds.push_back(takeToken());
                q.compoundAll.push_back(unionWord && takeWord("ALL"));
                q.cores.push_back(selectCore());
            } else {
                break;
            }
        }
        if (takeWord("ORDER")) {
            expectWord("BY");
            q.order = orderTerms();
        }
        if (takeWord("LIMIT")) {
            q.limit = expression();
            if (takeWord("OFFSET")) {
                q.offset = expression();
            } else if (take(",")) {
                // LIMIT skip, count
                q.offset = q.limit;
                q.limit = expression();
            }
        }
        q.span = spanFrom(from);
        tree_.queries.push_back(std::move(q));
        return int(tree_.queries.size() - 1);
    }

    CommonTable commonTable() {
        const size_t from = pos_;
        CommonTable c;
        if (!isNameToken(tok()) && tok().kind != TokenKind::String && tok().kind != TokenKind::DoubleQuoted) fail();
        c.name = takeToken();
        if (take("(")) {
            do {
                if (!isNameToken(tok())) fail();
                c.columns.push_back(takeToken());
            } while (take(","));
            expect(")");
        }
        expectWord("AS");
        if (takeWord("NOT")) expectWord("MATERIALIZED");
        else takeWord("MATERIALIZED");
        expect("(");
        c.query = query();
        expect(")");
        c.span = spanFrom(from);
        return c;
    }

    SelectCore selectCore() {
        const size_t from = pos_;
        SelectCore c;
        if (atWord("VALUES")) {
            c.select = takeToken();
            do {
                expect("(");
                std::vector<NodeId> row;
                do row.push_back(expression());
                while (take(","));
                expect(")");
                c.values.push_back(std::move(row));
            } while (take(","));
            c.span = spanFrom(from);
            return c;
        }
        if (!atWord("SELECT")) fail();
        c.select = takeToken();
        if (atWord("ALL") || atWord("DISTINCT") || atWord("DISTINCTROW")) c.quantifier = takeToken();
        if (atWord("TOP")) {
            if (tok(1).kind != TokenKind::Number)
                throw PlacedError(tok().span, Error(QStringLiteral("TOP の後に行数がありません。")));
            ++pos_;
            c.top = takeToken();
            c.topPercent = takeWord("PERCENT");
        }
        do c.items.push_back(resultItem());
        while (take(","));
        if (takeWord("FROM")) c.from = fromClause();
        if (takeWord("WHERE")) c.where = expression();
        if (atWord("GROUP") && atWord("BY", 1)) {
            pos_ += 2;
            do c.groupBy.push_back(expression());
            while (take(","));
        }
        if (takeWord("HAVING")) c.having = expression();
        if (takeWord("WINDOW")) {
            do {
                if (!isNameToken(tok())) fail();
                const int name = takeToken();
                expectWord("AS");
                c.windows.emplace_back(name, windowSpec());
            } while (take(","));
        }
        c.span = spanFrom(from);
        return c;
    }

    ResultItem resultItem() {
        const size_t from = pos_;
        ResultItem item;
        item.expr = at("*") ? star(-1) : expression();
        if (tree_.node(item.expr).kind == NodeKind::Star) {
            // * and t.* take no name
        } else if (takeWord("AS")) {
            if (!isAliasAfterAs(tok())) fail();
            item.alias = takeToken();
        } else if (!atEnd() && (isNameToken(tok()) || tok().kind == TokenKind::String ||
                                tok().kind == TokenKind::DoubleQuoted)) {
            item.alias = takeToken();  // "amt total": a name after the expression names it
        }
        item.span = spanFrom(from);
        return item;
    }

    NodeId star(int qualifier) {
        const size_t from = qualifier >= 0 ? pos_ - 2 : pos_;
        expect("*");
        Node n;
        n.kind = NodeKind::Star;
        n.qualifier = qualifier;
        return add(std::move(n), from);
    }

    std::vector<OrderTerm> orderTerms() {
        std::vector<OrderTerm> terms;
        do {
            const size_t from = pos_;
            OrderTerm t;
            t.expr = expression();
            if (takeWord("DESC")) t.descending = true;
            else takeWord("ASC");
            if (takeWord("NULLS")) {
                if (takeWord("FIRST")) t.nulls = 1;
                else if (takeWord("LAST")) t.nulls = 2;
                else fail();
            }
            t.span = spanFrom(from);
            terms.push_back(t);
        } while (take(","));
        return terms;
    }

    // ---- FROM

    int fromClause() {
        Deeper deeper(*this);
        const size_t from = pos_;
        FromClause f;
        f.first = fromItem();
        for (;;) {
            const size_t joinFrom = pos_;
            Join j;
            if (at(",")) {
                j.word = takeToken();
            } else {
                j.natural = takeWord("NATURAL");
                if (takeWord("LEFT")) j.kind = Join::Kind::Left, takeWord("OUTER");
                else if (takeWord("RIGHT")) j.kind = Join::Kind::Right, takeWord("OUTER");
                else if (takeWord("FULL")) j.kind = Join::Kind::Full, takeWord("OUTER");
                else if (takeWord("INNER")) j.kind = Join::Kind::Inner;
                else if (takeWord("CROSS")) j.kind = Join::Kind::Cross;
                else if (atWord("JOIN")) j.kind = Join::Kind::Inner;
                else if (j.natural) fail();
                else break;
                if (!atWord("JOIN")) fail();
                j.word = takeToken();
            }
            j.item = fromItem();
            if (j.word >= 0 && !isSymbol(tree_.token(j.word), ",")) {
                if (takeWord("ON")) {
                    j.on = expression();
                } else if (takeWord("USING")) {
                    expect("(");
                    do {
                        if (!isNameToken(tok())) fail();
                        j.usingColumns.push_back(takeToken());
                    } while (take(","));
                    expect(")");
                }
            }
            j.span = spanFrom(joinFrom);
            f.joins.push_back(std::move(j));
        }
        f.span = spanFrom(from);
        tree_.froms.push_back(std::move(f));
        return int(tree_.froms.size() - 1);
    }

    bool startsQuery(size_t ahead) const {
        return atWord("SELECT", ahead) || atWord("WITH", ahead) || atWord("VALUES", ahead);
    }

    FromItem fromItem() {
        const size_t from = pos_;
        FromItem item;
        if (at("(")) {
            ++pos_;
            if (startsQuery(0)) {
                item.kind = FromItem::Kind::Subquery;
                item.query = query();
            } else {
                item.kind = FromItem::Kind::Group;
                item.group = fromClause();
            }
            expect(")");
        } else if (restIsFile()) {
            item.nameFrom = sig_[pos_];
            pos_ = sig_.size();
            while (pos_ > 0 && isSymbol(tree_.tokens[size_t(sig_[pos_ - 1])], ";")) --pos_;
            item.nameTo = sig_[pos_ - 1] + 1;
            item.restOfStatement = true;
            item.span = spanFrom(from);
            return item;
        } else {
            const Token& t = tok();
            if (!(isNameToken(t) || t.kind == TokenKind::DoubleQuoted || t.kind == TokenKind::String)) fail();
            item.nameFrom = takeToken();
            // data.csv arrives as three tokens; so does a schema's table.
            while (t.kind == TokenKind::Word && at(".") && (isWordToken(tok(1)) || tok(1).kind == TokenKind::Number)) pos_ += 2;
            item.nameTo = sig_[pos_ - 1] + 1;
        }
        if (takeWord("AS")) {
            if (!isAliasAfterAs(tok())) fail();
            item.alias = takeToken();
        } else if (!atEnd() && isNameToken(tok())) {
            item.alias = takeToken();
        }
        item.span = spanFrom(from);
        return item;
    }

    // "FROM my data.csv": the rest of the statement names one file.
    bool restIsFile() const {
        if (!options_.isTableFile || atEnd()) return false;
        constexpr qsizetype kLongestName = 260;
        QString rest;
        for (size_t k = size_t(sig_[pos_]); k < tree_.tokens.size(); ++k) {
            rest += tree_.tokens[k].text;
            if (rest.size() > kLongestName + 16) return false;
        }
        rest = rest.trimmed();
        while (rest.endsWith(QLatin1Char(';'))) rest.chop(1);
        rest = rest.trimmed();
        if (!rest.contains(QLatin1Char(' ')) || rest.contains(QLatin1Char('/')) || rest.contains(QLatin1Char('\\')))
            return false;
        return options_.isTableFile(rest);
    }

    // ---- windows

    int windowSpec() {
        const size_t from = pos_;
        expect("(");
        WindowSpec w;
        if (!atEnd() && isNameToken(tok()) && !atWord("PARTITION") && !atWord("ORDER") && !atWord("ROWS") &&
            !atWord("RANGE") && !atWord("GROUPS"))
            w.base = takeToken();
        if (atWord("PARTITION") && atWord("BY", 1)) {
            pos_ += 2;
            do w.partition.push_back(expression());
            while (take(","));
        }
        if (atWord("ORDER") && atWord("BY", 1)) {
            pos_ += 2;
            w.order = orderTerms();
        }
        if (atWord("ROWS") || atWord("RANGE") || atWord("GROUPS")) {
            w.frameFrom = takeToken();
            if (takeWord("BETWEEN")) {
                frameBound(w);
                expectWord("AND");
            }
            frameBound(w);
            if (takeWord("EXCLUDE")) {
                if (takeWord("NO")) expectWord("OTHERS");
                else if (takeWord("CURRENT")) expectWord("ROW");
                else if (!takeWord("GROUP") && !takeWord("TIES")) fail();
            }
            w.frameTo = sig_[pos_ - 1] + 1;
        }
        expect(")");
        w.span = spanFrom(from);
        tree_.windows.push_back(std::move(w));
        return int(tree_.windows.size() - 1);
    }

    void frameBound(WindowSpec& w) {
        if (takeWord("UNBOUNDED")) {
            if (!takeWord("PRECEDING") && !takeWord("FOLLOWING")) fail();
        } else if (takeWord("CURRENT")) {
            expectWord("ROW");
        } else {
            w.frameBounds.push_back(expression(kJoin));
            if (!takeWord("PRECEDING") && !takeWord("FOLLOWING")) fail();
        }
    }

    // ---- expressions

    NodeId expression(int loosest = kLoosest) {
        const size_t from = pos_;
        NodeId left = prefix();
        int chainLevel = 0;  // the level of the Chain left is, when this loop made it
        for (;;) {
            const int level = binaryLevel();
            if (level == 0 || level > loosest) break;
            if (level == kCompare) {
                left = comparison(left, from);
                chainLevel = 0;
                continue;
            }
            const int op = takeToken();
            operandAfter(op);
            const NodeId right = expression(level - 1);
            if (chainLevel == level) {
                Node& chain = tree_.nodes[size_t(left)];
                chain.list.push_back(right);
                chain.ops.push_back(op);
                chain.span = spanFrom(from);
            } else {
                Node n;
                n.kind = NodeKind::Chain;
                n.list = {left, right};
                n.ops = {op};
                left = add(std::move(n), from);
                chainLevel = level;
            }
        }
        return left;
    }

    // An operator with nothing after it is named, as the old engine named it.
    void operandAfter(int op) const {
        if (startsOperand()) return;
        const Token& t = tree_.token(op);
        throw PlacedError(t.span, Error(ErrorFacts{.word = t.text}, u"演算子 \"%1\" の前か後ろに式がありません。", t.text));
    }

    bool startsOperand() const {
        if (atEnd()) return false;
        const Token& t = tok();
        switch (t.kind) {
        case TokenKind::Symbol: return at("(") || at("-") || at("+") || at("~");
        case TokenKind::Word:
            return !isReservedWord(t) || isSoftKeyword(t) || atCallName() || atWord("NOT") || atWord("CASE") || atWord("CAST") ||
                   atWord("EXISTS");
        default: return true;
        }
    }

    // The level of the binary operator at the current token, or 0.
    int binaryLevel() const {
        if (atEnd()) return 0;
        const Token& t = tok();
        if (t.kind == TokenKind::Symbol) {
            const QString& s = t.text;
            if (s == QLatin1String("^")) return kPower;
            if (s == QLatin1String("*") || s == QLatin1String("/") || s == QLatin1String("%")) return kProduct;
            if (s == QLatin1String("\\")) return kIntDivide;
            if (s == QLatin1String("+") || s == QLatin1String("-")) return kSum;
            for (const char* o : {"&", "||", "|", "<<", ">>"})
                if (s == QLatin1String(o)) return kJoin;
            for (const char* o : {"=", "==", "<", ">", "<=", ">=", "<>", "!="})
                if (s == QLatin1String(o)) return kCompare;
            return 0;
        }
        if (t.kind != TokenKind::Word) return 0;
        if (isKeyword(t, "MOD")) return kMod;
        if ((isKeyword(t, "IN") || (isKeyword(t, "NOT") && atWord("IN", 1))) && stopAtIn_ == depth_) return 0;
        for (const char* o : {"LIKE", "GLOB", "REGEXP", "MATCH", "IS", "IN", "BETWEEN", "ISNULL", "NOTNULL"})
            if (isKeyword(t, o)) return kCompare;
        if (isKeyword(t, "NOT")) {
            for (const char* o : {"LIKE", "GLOB", "REGEXP", "MATCH", "IN", "BETWEEN", "NULL"})
                if (atWord(o, 1)) return kCompare;
            return 0;
        }
        if (isKeyword(t, "AND")) return kAnd;
        if (isKeyword(t, "OR")) return kOr;
        if (isKeyword(t, "XOR")) return kXor;
        if (isKeyword(t, "EQV")) return kEqv;
        if (isKeyword(t, "IMP")) return kImp;
        return 0;
    }

    NodeId comparison(NodeId left, size_t from) {
        Node n;
        n.left = left;
        if (tok().kind == TokenKind::Symbol) {
            n.kind = NodeKind::Chain;
            n.list = {left};
            n.ops = {takeToken()};
            n.list.push_back(expression(kJoin));
            n.left = kNone;
            return add(std::move(n), from);
        }
        if (atWord("ISNULL") || atWord("NOTNULL")) {
            n.kind = NodeKind::NullTest;
            n.negated = atWord("NOTNULL");
            n.token = takeToken();
            return add(std::move(n), from);
        }
        if (atWord("IS")) {
            n.kind = NodeKind::Is;
            n.token = takeToken();
            n.negated = takeWord("NOT");
            if (takeWord("DISTINCT")) {
                expectWord("FROM");
                n.distinct = true;
            }
            n.right = expression(kJoin);
            return add(std::move(n), from);
        }
        n.negated = takeWord("NOT");
        if (atWord("NULL")) {
            n.kind = NodeKind::NullTest;
            n.negated = true;
            n.token = takeToken();
            return add(std::move(n), from);
        }
        if (takeWord("BETWEEN")) {
            n.kind = NodeKind::Between;
            n.list.push_back(expression(kJoin));
            expectWord("AND");
            n.list.push_back(expression(kJoin));
            return add(std::move(n), from);
        }
        if (takeWord("IN")) {
            n.kind = NodeKind::In;
            expect("(");
            if (startsQuery(0)) {
                n.query = query();
            } else if (!at(")")) {
                do n.list.push_back(expression());
                while (take(","));
            }
            expect(")");
            return add(std::move(n), from);
        }
        n.kind = NodeKind::Like;
        n.token = takeToken();  // Like, Glob, Regexp or Match
        n.right = expression(kJoin);
        if (takeWord("ESCAPE")) n.extra = expression(kJoin);
        return add(std::move(n), from);
    }

    NodeId prefix() {
        const size_t from = pos_;
        if (at("-") || at("+") || at("~")) {
            Node n;
            n.kind = NodeKind::Unary;
            n.token = takeToken();
            operandAfter(n.token);
            Deeper deeper(*this);
            // -2 ^ 2 is -(2 ^ 2): the operand takes ^, which binds tighter.
            n.left = unaryOperand();
            return add(std::move(n), from);
        }
        if (atWord("NOT") && !atWord("EXISTS", 1)) {
            Node n;
            n.kind = NodeKind::Unary;
            n.token = takeToken();
            Deeper deeper(*this);
            n.left = expression(kCompare);
            return add(std::move(n), from);
        }
        return postfix();
    }

    // What a unary minus applies to: a primary with the ^ after it.
    NodeId unaryOperand() {
        if (at("-") || at("+") || at("~") || atWord("NOT")) return prefix();
        const size_t from = pos_;
        NodeId left = postfix();
        if (!at("^")) return left;
        Node n;
        n.kind = NodeKind::Chain;
        n.list = {left};
        while (at("^")) {
            n.ops.push_back(takeToken());
            operandAfter(n.ops.back());
            n.list.push_back(unaryOperand());
        }
        return add(std::move(n), from);
    }

    NodeId postfix() {
        const size_t from = pos_;
        NodeId e = primary();
        while (atWord("COLLATE")) {
            ++pos_;
            Node n;
            n.kind = NodeKind::Collate;
            n.left = e;
            if (atEnd() || (!isNameToken(tok()) && tok().kind != TokenKind::String && tok().kind != TokenKind::DoubleQuoted &&
                            !isWordToken(tok())))
                fail();
            n.token = takeToken();
            e = add(std::move(n), from);
        }
        return e;
    }

    // Left(, Right(, Asc(, IsNull( and Partition( are calls, though SQL reads the words otherwise.
    bool atCallName() const {
        if (!at("(", 1)) return false;
        const Token& t = tok();
        if (t.kind != TokenKind::Word) return false;
        if (isKeyword(t, "LEFT") || isKeyword(t, "RIGHT") || isKeyword(t, "ASC") || isKeyword(t, "ISNULL") ||
            isKeyword(t, "PARTITION"))
            return true;
        return !isReservedWord(t) && !isKeyword(t, "CASE") && !isKeyword(t, "CAST") && !isKeyword(t, "NULL");
    }

    NodeId primary() {
        const size_t from = pos_;
        if (atEnd()) fail();
        const Token& t = tok();
        Node n;
        switch (t.kind) {
        case TokenKind::Number: n.kind = NodeKind::Number; n.token = takeToken(); return add(std::move(n), from);
        case TokenKind::String:
        case TokenKind::DoubleQuoted: n.kind = NodeKind::String; n.token = takeToken(); return add(std::move(n), from);
        case TokenKind::DateLiteral: n.kind = NodeKind::Date; n.token = takeToken(); return add(std::move(n), from);
        default: break;
        }
        if (at("(")) {
            ++pos_;
            Deeper deeper(*this);
            if (startsQuery(0)) {
                n.kind = NodeKind::Subquery;
                n.query = query();
            } else {
                n.list.push_back(expression());
                while (take(",")) n.list.push_back(expression());
                n.kind = n.list.size() > 1 ? NodeKind::Row : NodeKind::Group;
            }
            expect(")");
            return add(std::move(n), from);
        }
        if (atWord("NULL")) return n.kind = NodeKind::Null, n.token = takeToken(), add(std::move(n), from);
        if (atWord("TRUE") || atWord("FALSE")) return n.kind = NodeKind::Truth, n.token = takeToken(), add(std::move(n), from);
        if (atWord("CASE")) return caseExpression();
        if (atWord("CAST") && at("(", 1)) {
            n.kind = NodeKind::Cast;
            n.token = takeToken();
            ++pos_;
            n.left = expression();
            expectWord("AS");
            if (atEnd() || at(")")) fail();
            n.typeFrom = sig_[pos_];
            for (int depth = 0; !atEnd() && (depth > 0 || !at(")")); ++pos_) {
                if (at("(")) ++depth;
                else if (at(")")) --depth;
            }
            n.typeTo = sig_[pos_ - 1] + 1;
            expect(")");
            return add(std::move(n), from);
        }
        if (atWord("NOT") && atWord("EXISTS", 1)) {
            n.kind = NodeKind::Unary;
            n.token = takeToken();
            n.left = primary();
            return add(std::move(n), from);
        }
        if (atWord("EXISTS") && at("(", 1)) {
            n.kind = NodeKind::Exists;
            n.token = takeToken();
            ++pos_;
            n.query = query();
            expect(")");
            return add(std::move(n), from);
        }
        if (atCallName()) return call();
        if (isNameToken(t) || isSoftKeyword(t)) {
            const int first = takeToken();
            if (at(".")) {
                ++pos_;
                if (at("*")) return star(first);
                if (atEnd() || !(isNameToken(tok()) || isWordToken(tok()))) fail();
                n.kind = NodeKind::Name;
                n.qualifier = first;
                n.token = takeToken();
                return add(std::move(n), from);
            }
            n.kind = NodeKind::Name;
            n.token = first;
            return add(std::move(n), from);
        }
        fail();
    }

    NodeId caseExpression() {
        Deeper deeper(*this);
        const size_t from = pos_;
        Node n;
        n.kind = NodeKind::Case;
        n.token = takeToken();
        if (!atWord("WHEN")) n.left = expression();
        if (!atWord("WHEN")) fail();
        while (takeWord("WHEN")) {
            n.list.push_back(expression());
            expectWord("THEN");
            n.list.push_back(expression());
        }
        if (takeWord("ELSE")) n.right = expression();
        expectWord("END");
        return add(std::move(n), from);
    }

    NodeId call() {
        Deeper deeper(*this);
        const size_t from = pos_;
        Node n;
        n.kind = NodeKind::Call;
        n.token = takeToken();
        expect("(");
        if (take("*")) {
            n.star = true;
        } else if (!at(")")) {
            if (takeWord("DISTINCT")) n.distinct = true;
            else takeWord("ALL");
            do n.list.push_back(expression());
            while (take(","));
        }
        expect(")");
        if (atWord("FILTER") && at("(", 1)) {
            pos_ += 2;
            expectWord("WHERE");
            n.extra = expression();
            expect(")");
        }
        if (takeWord("OVER")) {
            if (at("(")) n.window = windowSpec();
            else if (!atEnd() && isNameToken(tok())) n.windowName = takeToken();
            else fail();
        }
        return add(std::move(n), from);
    }

    SyntaxTree tree_;
    std::vector<int> sig_;  // the significant tokens' indices
    size_t pos_ = 0;        // into sig_
    int depth_ = 0;
    int stopAtIn_ = -1;  // the depth at which IN ends a TRANSFORM's pivot
    qsizetype textEnd_ = 0;
    const ParseOptions& options_;
};

}  // namespace

SyntaxTree parseStatement(const QString& sql, const ParseOptions& options) {
    return Parser(sql, options).run();
}

}  // namespace tarlo
