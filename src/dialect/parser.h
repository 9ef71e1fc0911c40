// The one parser of statements: reads the old engine's statements and the
// SQLite forms we accept (CTEs, window functions, compound SELECTs,
// subqueries, bracketed joins, TRANSFORM ... PIVOT, TOP, DISTINCTROW) from
// one pass of the lexer into a SyntaxTree. What it does not take is refused
// where it stands, never passed on as text nobody read.
#pragma once

#include "dialect/placed_error.h"
#include "dialect/syntax_tree.h"

#include <QString>

#include <functional>

namespace tarlo {

// A statement that does not read as one: word is the token it stopped at
// (empty at the statement's end), at its span.
class SyntaxError : public PlacedError {
public:
    SyntaxError(Span at, const QString& word, const Error& error) : PlacedError(at, error), word_(word) {}
    const QString& word() const { return word_; }
    bool atEnd() const { return word_.isEmpty(); }

private:
    QString word_;
};

struct ParseOptions {
    // Whether a name is a table file of the folder: after FROM, the rest of
    // the statement is one file name when it has blanks and is such a file
    // ("SELECT * FROM my data.csv").
    std::function<bool(const QString& name)> isTableFile;
};

// Throws SyntaxError, or Error for a second statement after ";".
syntax::SyntaxTree parseStatement(const QString& sql, const ParseOptions& options = {});

}  // namespace tarlo
