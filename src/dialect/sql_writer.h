// Writes the text SQLite reads from the tree of the user's statement: the
// user's tokens as written (blanks and comments too), with what the old
// engine reads otherwise rewritten into SQLite's dialect: "text" strings,
// #date# literals, True and False, DISTINCTROW, Left( Right( IsNull(, the
// operators SQLite reads otherwise (^ / \ Mod + - & Xor Eqv Imp, as calls
// that keep their meaning), IIf, Switch and Choose (as CASE, which evaluates
// only the branch it returns) and TOP n [PERCENT] (as a LIMIT that keeps the
// rows tying with the last). Every piece stands for the user's span it
// came from, so a place SQLite names is found in the user's text.
#pragma once

#include "dialect/binder.h"
#include "dialect/source_map.h"
#include "dialect/syntax_tree.h"

#include <map>
#include <memory>

namespace tarlo {

// The writer of one tree. tokens: what to put in for some tokens of the
// statement (the tables' names); binding: what the binder decided, put in
// around and in place of the nodes as they are written. Each call throws
// PlacedError for what the old engine refused too: an impossible date, IIf
// without three arguments, a chain or nest too long to write.
class SqlWriter {
public:
    SqlWriter(const syntax::SyntaxTree& tree, const std::map<int, QString>& tokens = {}, const Binding* binding = nullptr);
    ~SqlWriter();

    // The whole statement.
    MappedText statement() const;
    // The tokens [from, to] (blank when to < from), and a node, with text
    // put in after and before some of the nodes inside it.
    MappedText range(int from, int to) const;
    MappedText node(syntax::NodeId id, const std::map<syntax::NodeId, MappedText>& after = {},
                    const std::map<syntax::NodeId, MappedText>& before = {}) const;
    // The token at a span's start and end.
    int firstToken(Span s) const;
    int lastToken(Span s) const;
    // What the binder decided, or null.
    const Binding* binding() const;

private:
    class Writer;
    std::unique_ptr<Writer> writer_;
    const Binding* binding_;
};

// A #date# literal as SQLite reads it: a quoted 'yyyy/mm/dd hh:nn:ss'.
QString writtenDateLiteral(const Token& t);
// Whether a #literal# is a time of day alone (#13:30#): a Time, not a Date.
bool isTimeLiteral(const Token& t);

inline MappedText writeSqlite(const syntax::SyntaxTree& tree, const std::map<int, QString>& tokens = {}) {
    return SqlWriter(tree, tokens).statement();
}

}  // namespace tarlo
