// A lexer for the statements users write: string literals, bracketed and
// quoted names, #date# literals, numbers, comments and operators, so that
// rewrites work on tokens and never touch the inside of a literal.
#pragma once

#include "dialect/source_map.h"

#include <QString>
#include <memory>
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
    qsizetype start;  // position in the text tokenized
    Span span{};      // what it stands for in the user's statement
    // A token a rewrite wrote as a whole statement part: its pieces' spans.
    std::shared_ptr<const MappedText> mapped{};
};

// Never fails: an unclosed literal or name runs to the end as one token,
// and the engine reports it. Each token's span is its own place in sql.
std::vector<Token> tokenize(const QString& sql);
// The tokens of a rewritten text, each with the user's span it came from.
std::vector<Token> tokenize(const MappedText& sql);
// The tokens of text a rewrite puts in, all standing for span.
std::vector<Token> tokensStandingFor(const QString& sql, Span span);

// The inside of a quoted or bracketed token, doubled quotes made single.
QString unquotedText(const Token& token);

bool isKeyword(const Token& token, const char* keyword);

}  // namespace tarlo
