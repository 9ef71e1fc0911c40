#include "dialect/operators.h"

#include "dialect/internal_names.h"
#include "dialect/placed_error.h"

#include "platform/error.h"
#include "dialect/token_edit.h"

#include <algorithm>

namespace tarlo {

namespace {

constexpr int kNotAnOperator = -1;
constexpr int kUnary = kUnaryLevel;

}  // namespace

bool isReservedWord(const Token& t) {
    static const char* const words[] = {
        "SELECT", "FROM",   "WHERE",   "AS",       "ON",        "WHEN",   "THEN",    "ELSE",   "END",     "CASE",
        "GROUP",  "ORDER",  "BY",      "HAVING",   "LIMIT",     "OFFSET", "UNION",   "EXCEPT", "INTERSECT", "ALL",
        "DISTINCT", "ASC",  "DESC",    "JOIN",     "INNER",     "LEFT",   "RIGHT",   "OUTER",  "CROSS",   "FULL",
        "NATURAL", "USING", "INTO",    "VALUES",   "WITH",      "ESCAPE", "COLLATE", "OVER",   "PARTITION", "FILTER",
        "WINDOW", "ROWS",   "RANGE",   "TRANSFORM", "PIVOT",    "TOP",    "PERCENT", "EXISTS", "NULLS",   "NOT",
        "AND",    "OR",     "XOR",     "EQV",      "IMP",       "MOD",    "LIKE",    "GLOB",   "REGEXP",  "MATCH",
        "IS",     "IN",     "BETWEEN",
    };
    if (t.kind != TokenKind::Word) return false;
    for (const char* w : words)
        if (isKeyword(t, w)) return true;
    return false;
}

namespace {

bool isOperand(const Token& t) {
    switch (t.kind) {
    case TokenKind::Number:
    case TokenKind::String:
    case TokenKind::DoubleQuoted:
    case TokenKind::Bracketed:
    case TokenKind::Backticked:
    case TokenKind::DateLiteral: return true;
    case TokenKind::Word: return !isReservedWord(t);
    default: return false;
    }
}

bool endsOperand(const Token& t) {
    return isOperand(t) || isSymbol(t, ")") || isKeyword(t, "END");
}

// The precedence of the operator at i as the old engine ranks it (lower
// binds tighter); unary minus, plus and Not are told by what stands before.
int precedenceAt(const std::vector<Token>& tokens, size_t i, bool& unary) {
    const Token& t = tokens[i];
    const size_t before = previousSignificant(tokens, i);
    const bool afterOperand = before < tokens.size() && endsOperand(tokens[before]);
    unary = false;
    if (t.kind == TokenKind::Symbol) {
        const QString& s = t.text;
        if (s == QLatin1String("^")) return 1;
        if (s == QLatin1String("-") || s == QLatin1String("+") || s == QLatin1String("~")) {
            unary = !afterOperand || s == QLatin1String("~");
            return unary ? kUnary : 6;
        }
        if (s == QLatin1String("*") || s == QLatin1String("/") || s == QLatin1String("%")) return 3;
        if (s == QLatin1String("\\")) return 4;
        for (const char* o : {"&", "||", "|", "<<", ">>"})
            if (s == QLatin1String(o)) return 7;
        for (const char* o : {"=", "==", "<", ">", "<=", ">=", "<>", "!="})
            if (s == QLatin1String(o)) return 8;
        if (s == QLatin1String(".")) return 0;
        return kNotAnOperator;
    }
    if (isKeyword(t, "MOD")) return 5;
    for (const char* o : {"LIKE", "GLOB", "REGEXP", "MATCH", "IS", "IN", "BETWEEN"})
        if (isKeyword(t, o)) return 8;
    if (isKeyword(t, "NOT")) {
        // Not before Like, In or Between belongs to that operator.
        const size_t after = nextSignificant(tokens, i + 1);
        bool ignored;
        if (after < tokens.size() && !isKeyword(tokens[after], "NOT") && precedenceAt(tokens, after, ignored) == 8)
            return 8;
        unary = true;
        return 9;
    }
    if (isKeyword(t, "AND")) return 10;
    if (isKeyword(t, "OR")) return 11;
    if (isKeyword(t, "XOR")) return 12;
    if (isKeyword(t, "EQV")) return 13;
    if (isKeyword(t, "IMP")) return 14;
    return kNotAnOperator;
}

bool isWindowSuffix(const Token& t) {
    return isKeyword(t, "OVER") || isKeyword(t, "FILTER");
}

// The last token of a call ending at close, with its FILTER (...) and OVER (...) or OVER name.
size_t afterWindowSuffix(const std::vector<Token>& tokens, size_t close) {
    for (;;) {
        const size_t suffix = nextSignificant(tokens, close + 1);
        if (suffix >= tokens.size() || !isWindowSuffix(tokens[suffix])) return close;
        const size_t what = nextSignificant(tokens, suffix + 1);
        if (what >= tokens.size()) return close;
        if (!isSymbol(tokens[what], "(")) return what;
        const size_t end = matchingClose(tokens, what);
        if (end >= tokens.size()) return close;
        close = end;
    }
}

bool isUnaryCapable(const Token& t) {
    return isSymbol(t, "-") || isSymbol(t, "+") || isSymbol(t, "~") || isKeyword(t, "NOT");
}

[[noreturn]] void missingOperand(const Token& op) {
    throw PlacedError(op.span, Error(ErrorFacts{.word = op.text}, u"演算子 \"%1\" の前か後ろに式がありません。", op.text));
}

}  // namespace

bool isUnaryOperator(const std::vector<Token>& tokens, size_t i) {
    bool unary = false;
    return i < tokens.size() && precedenceAt(tokens, i, unary) != kNotAnOperator && unary;
}

size_t leftOperandStart(const std::vector<Token>& tokens, size_t i, int p) {
    size_t start = tokens.size();
    bool expectOperand = true;
    for (size_t j = previousSignificant(tokens, i); j < tokens.size(); j = previousSignificant(tokens, j)) {
        const Token& t = tokens[j];
        if (expectOperand) {
            if (isSymbol(t, ")") || isKeyword(t, "END")) {
                j = matchingOpen(tokens, j);
                if (j >= tokens.size()) break;
                const size_t name = previousSignificant(tokens, j);
                if (isSymbol(tokens[j], "(") && name < tokens.size() && isWindowSuffix(tokens[name])) {
                    j = name;  // f(x) OVER (...): the call before it belongs to the operand
                    continue;
                }
                if (isSymbol(tokens[j], "(") && name < tokens.size() && tokens[name].kind == TokenKind::Word &&
                    isOperand(tokens[name]))
                    j = name;
            } else if (!isOperand(t)) {
                break;
            }
            start = j;
            expectOperand = false;
            continue;
        }
        bool unary = false;
        const int q = precedenceAt(tokens, j, unary);
        if (q == kNotAnOperator || q > p) break;
        if (q == 8 && !isKeyword(t, "NOT")) {
            const size_t before = previousSignificant(tokens, j);
            if (before < tokens.size() && isKeyword(tokens[before], "NOT")) j = before;  // Not Like
        }
        if (unary) {
            start = j;
        } else {
            expectOperand = true;
        }
    }
    if (start >= tokens.size() || expectOperand) missingOperand(tokens[i]);
    return start;
}

size_t rightOperandEnd(const std::vector<Token>& tokens, size_t i, int p) {
    size_t end = tokens.size();
    bool expectOperand = true;
    for (size_t j = nextSignificant(tokens, i + 1); j < tokens.size(); j = nextSignificant(tokens, j + 1)) {
        const Token& t = tokens[j];
        if (expectOperand) {
            if (isUnaryCapable(t)) continue;
            if (isSymbol(t, "(") || isKeyword(t, "CASE")) {
                j = matchingClose(tokens, j);
                if (j >= tokens.size()) break;
            } else if (isOperand(t)) {
                const size_t open = nextSignificant(tokens, j + 1);
                if (t.kind == TokenKind::Word && open < tokens.size() && isSymbol(tokens[open], "(")) {
                    j = matchingClose(tokens, open);
                    if (j >= tokens.size()) break;
                    j = afterWindowSuffix(tokens, j);
                }
            } else {
                break;
            }
            end = j;
            expectOperand = false;
            continue;
        }
        bool unary = false;
        const int q = precedenceAt(tokens, j, unary);
        if (q == kNotAnOperator || q >= p) break;
        if (isKeyword(t, "NOT")) j = nextSignificant(tokens, j + 1);  // Not Like
        expectOperand = true;
    }
    if (end >= tokens.size() || expectOperand) missingOperand(tokens[i]);
    return end;
}

}  // namespace tarlo
