// Small tools for rewriting a token list: finding the next and previous
// significant token, a bracket's partner, and the text of a range.
#pragma once

#include "dialect/sql_lexer.h"

#include <cstddef>

namespace tarlo {

inline bool isSymbol(const Token& t, const char* s) {
    return t.kind == TokenKind::Symbol && t.text == QLatin1String(s);
}

inline bool isSignificant(const Token& t) {
    return t.kind != TokenKind::Space && t.kind != TokenKind::Comment && !t.text.isEmpty();
}

// The first significant token at or after i, or tokens.size().
inline size_t nextSignificant(const std::vector<Token>& tokens, size_t i) {
    while (i < tokens.size() && !isSignificant(tokens[i])) ++i;
    return i;
}

// The last significant token before i, or tokens.size() when there is none.
inline size_t previousSignificant(const std::vector<Token>& tokens, size_t i) {
    while (i > 0) {
        if (isSignificant(tokens[--i])) return i;
    }
    return tokens.size();
}

// The partner of the "(" (or CASE) at i, searching forward; tokens.size() when unclosed.
size_t matchingClose(const std::vector<Token>& tokens, size_t i);

// matchingClose for every token of an unchanging list, found in one pass:
// for walks that ask again and again, which would otherwise take the square
// of the statement's length (unclosed brackets scan to the end each time).
class BracketMap {
public:
    explicit BracketMap(const std::vector<Token>& tokens);
    size_t closeOf(size_t i) const;

private:
    const std::vector<Token>& tokens_;
    std::vector<size_t> close_;  // an opener's close; kNotOpener for any other token
    static constexpr size_t kNotOpener = size_t(-1);
};
// The partner of the ")" (or END) at i, searching back; tokens.size() when unopened.
size_t matchingOpen(const std::vector<Token>& tokens, size_t i);

QString textOf(const std::vector<Token>& tokens, size_t from, size_t to);
// The text of a range with the user's span of each token: what a rewrite
// writes, so a place in it is found again in the user's statement.
MappedText mappedTextOf(const std::vector<Token>& tokens, size_t from, size_t to);
inline MappedText mappedTextOf(const std::vector<Token>& tokens) { return mappedTextOf(tokens, 0, tokens.size()); }
// A token of text a rewrite makes, standing for span.
inline Token madeToken(TokenKind kind, const QString& text, Span span) { return Token{kind, text, 0, span}; }
// One token holding a whole part a rewrite composed, keeping its pieces' spans.
Token composedToken(const MappedText& text);

// The first token in [from, to) outside brackets that is keyword, or to.
size_t findAtTop(const std::vector<Token>& tokens, size_t from, size_t to, const char* keyword);

}  // namespace tarlo
