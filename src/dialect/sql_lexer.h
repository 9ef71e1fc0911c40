// A lexer for the statements users write: string literals, bracketed and
// quoted names, #date# literals, numbers, comments and operators, so that
// rewrites work on tokens and never touch the inside of a literal.
#pragma once

#include <QString>
#include <vector>

namespace tarlo {

enum class TokenKind {
    Space,
    Comment,
    Word,          // a name or keyword; may hold "#" between its characters (data#csv)
    Number,
    String,        // '...'
    DoubleQuoted,  // "..."
    Bracketed,     // [...]
    Backticked,    // `...`
    DateLiteral,   // #...#
    Symbol,        // operators and punctuation
};

struct Token {
    TokenKind kind;
    QString text;     // as written
    qsizetype start;  // position in the statement
};

// Never fails: an unclosed literal or name runs to the end as one token,
// and the engine reports it.
std::vector<Token> tokenize(const QString& sql);

// The inside of a quoted or bracketed token, doubled quotes made single.
QString unquotedText(const Token& token);

bool isKeyword(const Token& token, const char* keyword);

}  // namespace tarlo
